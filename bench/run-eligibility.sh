#!/usr/bin/env bash
# Builds and runs the eligibility benchmark under Wine:
#   bench/run-eligibility.sh [x64|wow64|win32 ...]
# Default: every configuration this machine runs (x64 everywhere, wow64 and
# win32 where it executes 32-bit code). Honours TAMSEL_BUILD_DIR like
# scripts/build.sh.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$ROOT/scripts/build.sh"
# shellcheck source=../scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"
CONFIGS=("$@")
if [ ${#CONFIGS[@]} -eq 0 ]; then
  tamsel_select_configs
  echo "[bench] $TAMSEL_CONFIGS_NOTE"
  read -ra CONFIGS <<<"$TAMSEL_CONFIGS_RUN"
fi
for config in "${CONFIGS[@]}"; do
  echo "== $config"
  "$ROOT/scripts/wine-run.sh" --config "$config" "$(tamsel_config_tree "$config")/bench/eligibility_bench.exe"
done
