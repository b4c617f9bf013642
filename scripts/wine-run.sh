#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix:
#   wine-run.sh [--arch win64|win32] program.exe [args...]
# The prefix (created on first use) lives in the build folder; a persistent
# wineserver keeps later starts cheap. Needs DISPLAY for programs with windows.
set -euo pipefail
if [ "${1:-}" = "--arch" ]; then
  export TAMSEL_WINE_ARCH=$2
  shift 2
fi
# shellcheck source=wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
tamsel_start_wine
exec wine "$@"
