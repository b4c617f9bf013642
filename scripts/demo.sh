#!/usr/bin/env bash
# Sets everything up, builds, and runs the wizard under Wine: the 32-bit
# program under WOW64 where this machine executes 32-bit code, otherwise the
# 64-bit build of the same sources (TAMSEL_CONFIG=x64|wow64|win32 chooses).
# With a usable X display the wizard stays open for you; without one it runs
# on a virtual display. Either way a screenshot lands in build/wizard.png.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$ROOT/scripts/setup.sh"

interactive=0
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then interactive=1; fi
# shellcheck source=wine-env.sh
source "$ROOT/scripts/wine-env.sh"
if [ -n "${TAMSEL_CONFIG:-}" ]; then
  config=$TAMSEL_CONFIG why="chosen by TAMSEL_CONFIG"
elif tamsel_can_run_32bit; then
  config=wow64 why=$TAMSEL_32BIT_NOTE
else
  config=x64 why=$TAMSEL_32BIT_NOTE
fi
case "$config" in
  x64) echo "[demo] the 64-bit build of the wizard (x64): $why" ;;
  wow64) echo "[demo] the 32-bit wizard in a 64-bit Windows prefix (wow64)" ;;
  win32) echo "[demo] the 32-bit wizard in a 32-bit Windows prefix (win32)" ;;
  *) echo "[demo] unknown configuration '$config' (known: $TAMSEL_ALL_CONFIGS)" >&2; exit 2 ;;
esac
tamsel_use_config "$config"
tamsel_start_display
trap tamsel_stop_wine EXIT
tamsel_start_wine

tree=$(tamsel_config_tree "$config")
run() { "$ROOT/scripts/wine-run.sh" --config "$config" "$@"; }
run "$tree/tamsel.exe" &
wizard=$!
run "$tree/tools/wizardctl.exe" wait Setup 60
sleep 1  # let the first paint finish
xwd -root -silent | convert xwd:- -trim +repage "$TAMSEL_BUILD/wizard.png"
echo "screenshot: $TAMSEL_BUILD/wizard.png"

if [ "$interactive" -eq 1 ]; then
  echo "the wizard is open on $DISPLAY; close it to end the demo"
  wait "$wizard" || true
else
  run "$tree/tools/wizardctl.exe" close Setup 10
  wait "$wizard" || true
fi
