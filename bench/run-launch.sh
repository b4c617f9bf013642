#!/usr/bin/env bash
# Times the wizard (tamsel.exe) from its start until its language page is
# visible, beside a bare dialog program measured the same way, and prints
# the medians and their ratio, each configuration in one run:
#   bench/run-launch.sh [--runs N] [--no-build] [x64|wow64|win32 ...]
# --runs      timed starts of each program (default 9), after one untimed start each
# --no-build  use the programs already built
# Default configurations: every one this machine runs (x64 everywhere, wow64
# and win32 where it executes 32-bit code). Honours TAMSEL_BUILD_DIR like
# scripts/build.sh. Needs no service: the wizard asks for nothing before Next.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RUNS=9
BUILD_FIRST=1
CONFIGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) RUNS=$2; shift 2 ;;
    --no-build) BUILD_FIRST=0; shift ;;
    -h | --help) sed -n '2,10p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) CONFIGS+=("$1"); shift ;;
  esac
done
if ! [[ "$RUNS" =~ ^[1-9][0-9]*$ ]]; then
  echo "--runs takes a positive count" >&2
  exit 2
fi

[ "$BUILD_FIRST" = 1 ] && "$ROOT/scripts/build.sh"
# shellcheck source=../scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"
if [ ${#CONFIGS[@]} -eq 0 ]; then
  tamsel_select_configs
  echo "[bench] $TAMSEL_CONFIGS_NOTE"
  read -ra CONFIGS <<<"$TAMSEL_CONFIGS_RUN"
fi
# A virtual display of our own only when there is none; only that one is stopped.
tamsel_start_display
trap 'if [ -n "${TAMSEL_XVFB_PID:-}" ]; then kill "$TAMSEL_XVFB_PID" 2>/dev/null || true; fi' EXIT

windows_path() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }

for config in "${CONFIGS[@]}"; do
  echo "== $config"
  tree=$(tamsel_config_tree "$config")
  load_before=$(cut -d' ' -f1-3 /proc/loadavg)
  "$ROOT/scripts/wine-run.sh" --config "$config" "$tree/bench/launch_bench.exe" "$RUNS" \
    "$(windows_path "$tree/tamsel.exe")" "$(windows_path "$tree/bench/bare_dialog.exe")" </dev/null | tr -d '\r'
  echo "  load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg) (on $(nproc) CPUs)"
done
