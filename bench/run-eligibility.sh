#!/usr/bin/env bash
# Builds and runs the eligibility benchmark under Wine:
#   bench/run-eligibility.sh [win64|win32 ...]   (default: both prefixes)
# Honours TAMSEL_BUILD_DIR like scripts/build.sh.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$ROOT/scripts/build.sh"
BUILD="${TAMSEL_BUILD_DIR:-$ROOT/build}"
ARCHES=("$@")
[ ${#ARCHES[@]} -eq 0 ] && ARCHES=(win64 win32)
for arch in "${ARCHES[@]}"; do
  "$ROOT/scripts/wine-run.sh" --arch "$arch" "$BUILD/win/bench/eligibility_bench.exe"
done
