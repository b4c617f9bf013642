#!/usr/bin/env bash
# Sets everything up, builds, and runs the wizard under Wine. With a usable
# X display the wizard stays open for you; without one it runs on a virtual
# display. Either way a screenshot lands in build/wizard.png.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$ROOT/scripts/setup.sh"

interactive=0
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then interactive=1; fi
# shellcheck source=wine-env.sh
source "$ROOT/scripts/wine-env.sh"
tamsel_start_display
trap tamsel_stop_wine EXIT
tamsel_start_wine

WIN="$TAMSEL_BUILD/win"
wine "$WIN/tamsel.exe" &
wizard=$!
wine "$WIN/tools/wizardctl.exe" wait Setup 60
sleep 1  # let the first paint finish
xwd -root -silent | convert xwd:- -trim +repage "$TAMSEL_BUILD/wizard.png"
echo "screenshot: $TAMSEL_BUILD/wizard.png"

if [ "$interactive" -eq 1 ]; then
  echo "the wizard is open on $DISPLAY; close it to end the demo"
  wait "$wizard" || true
else
  wine "$WIN/tools/wizardctl.exe" close Setup 10
  wait "$wizard" || true
fi
