#!/usr/bin/env bash
# Builds and runs the eligibility benchmark under Wine:
#   bench/run-eligibility.sh [--no-build] [x64|wow64|win32 ...]
# It prints the cost of filling, from empty, the caches the filter fills for
# its offers (the baseline), then the filter's first offer (cold caches),
# each later offer (warm caches) and the whole run per offer, each as a
# multiple of that baseline.
# --no-build  use the program already built
# Default: every configuration this machine runs (x64 everywhere, wow64 and
# win32 where it executes 32-bit code). Honours TAMSEL_BUILD_DIR like
# scripts/build.sh; builds only the benchmark, in the trees it runs from.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_FIRST=1
CONFIGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) BUILD_FIRST=0; shift ;;
    -h | --help) sed -n '2,11p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) CONFIGS+=("$1"); shift ;;
  esac
done
# shellcheck source=../scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"
if [ ${#CONFIGS[@]} -eq 0 ]; then
  tamsel_select_configs
  echo "[bench] $TAMSEL_CONFIGS_NOTE"
  read -ra CONFIGS <<<"$TAMSEL_CONFIGS_RUN"
fi
if [ "$BUILD_FIRST" = 1 ]; then
  built=
  for config in "${CONFIGS[@]}"; do
    tree=$(tamsel_config_tree "$config")
    case " $built " in *" $tree "*) continue ;; esac
    toolchain=mingw-i686
    [ "$config" = x64 ] && toolchain=mingw-x86_64
    cmake --no-warn-unused-cli -S "$ROOT" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain.cmake" >/dev/null
    cmake --build "$tree" --target eligibility_bench -j "$(nproc)" >/dev/null
    built="$built $tree"
  done
fi
for config in "${CONFIGS[@]}"; do
  echo "== $config"
  "$ROOT/scripts/wine-run.sh" --config "$config" "$(tamsel_config_tree "$config")/bench/eligibility_bench.exe"
done
