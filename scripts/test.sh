#!/usr/bin/env bash
# Sets everything up, builds, and runs every test in one CTest run: the
# service's native tests, the check of the product's file, and the Windows
# test programs under Wine in each test configuration this machine can run:
#   x64    the 64-bit build in a 64-bit prefix (runs on every machine)
#   wow64  the 32-bit program in a 64-bit prefix, under WOW64
#   win32  the 32-bit program in a 32-bit prefix
# The 32-bit ones need a kernel that executes 32-bit code; one line says which
# configurations ran and why. TAMSEL_CONFIGS="x64 win32" forces a choice.
# Arguments go to CTest (-R, -L, -j ...).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$ROOT/scripts/setup.sh"

# shellcheck source=wine-env.sh
source "$ROOT/scripts/wine-env.sh"
# shellcheck source=service-env.sh
source "$ROOT/scripts/service-env.sh"
tamsel_select_configs

# The service's own tests are part of every run.
if [ ! -x "$TAMSEL_BUILD/native/tests/service_tests" ] || [ ! -f "$TAMSEL_BUILD/native/CTestTestfile.cmake" ]; then
  echo "[test] the service's native build is missing ($TAMSEL_BUILD/native): scripts/build.sh makes it" >&2
  exit 1
fi

tamsel_start_display
cleanup() {
  tamsel_stop_service
  local config
  for config in $TAMSEL_ALL_CONFIGS; do
    WINEPREFIX="$TAMSEL_BUILD/wine-$config" wineserver -k >/dev/null 2>&1 || true
  done
  if [ -n "${TAMSEL_XVFB_PID:-}" ]; then kill "$TAMSEL_XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT
for config in $TAMSEL_CONFIGS_RUN; do
  (tamsel_use_config "$config" && tamsel_start_wine && tamsel_trust_ca)
done
# The Windows side's exchange and wizard tests talk to the real service on
# port 443 and read back what it stored for their events; a database of this
# run's own keeps their events apart. The test campaign is the demo's plus the
# wizard tests' scenarios, picked by the download tag in the program's name.
rm -f "$TAMSEL_BUILD/service/test-events.sqlite"*
TAMSEL_SERVICE_DB="$TAMSEL_BUILD/service/test-events.sqlite" TAMSEL_SERVICE_READBACK=1 \
  TAMSEL_SERVICE_CAMPAIGN="$ROOT/service/demo/test-campaign.json" tamsel_start_service

echo "[test] $TAMSEL_CONFIGS_NOTE"
cd "$TAMSEL_BUILD"
# Each test carries its configuration as a label ("native" for the Linux
# side); a caller's own -L narrows this further.
ctest --output-on-failure -L "^(native|${TAMSEL_CONFIGS_RUN// /|})\$" "$@"
