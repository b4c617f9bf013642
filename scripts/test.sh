#!/usr/bin/env bash
# Sets everything up, builds, and runs every test: the Windows programs under
# Wine (a WOW64 prefix and a 32-bit one, both inside build/) and the native
# service's tests, all through one CTest run.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$ROOT/scripts/setup.sh"

# shellcheck source=wine-env.sh
source "$ROOT/scripts/wine-env.sh"
tamsel_start_display
cleanup() {
  for arch in win64 win32; do
    WINEPREFIX="$TAMSEL_BUILD/wine-$arch" wineserver -k >/dev/null 2>&1 || true
  done
  if [ -n "${TAMSEL_XVFB_PID:-}" ]; then kill "$TAMSEL_XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT
for arch in win64 win32; do
  (TAMSEL_WINE_ARCH=$arch; source "$ROOT/scripts/wine-env.sh"; tamsel_start_wine)
done

cd "$TAMSEL_BUILD/win"
ctest --output-on-failure "$@"
