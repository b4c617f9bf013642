#!/usr/bin/env bash
# Sets everything up, builds, and runs every test: the Windows programs under
# Wine (a WOW64 prefix and a 32-bit one, both inside build/) and the native
# service's tests, all through one CTest run.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$ROOT/scripts/setup.sh"

# shellcheck source=wine-env.sh
source "$ROOT/scripts/wine-env.sh"
# shellcheck source=service-env.sh
source "$ROOT/scripts/service-env.sh"
tamsel_start_display
cleanup() {
  tamsel_stop_service
  for arch in win64 win32; do
    WINEPREFIX="$TAMSEL_BUILD/wine-$arch" wineserver -k >/dev/null 2>&1 || true
  done
  if [ -n "${TAMSEL_XVFB_PID:-}" ]; then kill "$TAMSEL_XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT
for arch in win64 win32; do
  (TAMSEL_WINE_ARCH=$arch; source "$ROOT/scripts/wine-env.sh"; tamsel_start_wine; tamsel_trust_ca)
done
# The Windows side's exchange tests talk to the real service on port 443 and
# read back what it stored for their events; a database of this run's own
# keeps their events apart.
rm -f "$TAMSEL_BUILD/service/test-events.sqlite"*
TAMSEL_SERVICE_DB="$TAMSEL_BUILD/service/test-events.sqlite" TAMSEL_SERVICE_READBACK=1 \
  tamsel_start_service

cd "$TAMSEL_BUILD/win"
ctest --output-on-failure "$@"
