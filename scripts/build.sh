#!/usr/bin/env bash
# Configures and builds every tree:
#   build/native   the service and its tests (Linux)
#   build/win      the product: the 32-bit Windows program, its tests and tools
#   build/win-x64  the same sources for 64-bit Windows: the tests' vehicle on
#                  machines that cannot execute 32-bit code
# and writes build/CTestTestfile.cmake, which joins their tests into one run.
# Arguments (-DNAME=VALUE) go to both Windows trees.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="${TAMSEL_BUILD_DIR:-$ROOT/build}"
JOBS=$(nproc)

# Quiet on success; on failure build again serially so the first error is readable.
build_tree() {
  cmake --build "$1" -j "$JOBS" >/dev/null 2>&1 || cmake --build "$1"
}

cmake --no-warn-unused-cli -S "$ROOT/service" -B "$BUILD/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
build_tree "$BUILD/native"

for tree in win:mingw-i686 win-x64:mingw-x86_64; do
  cmake --no-warn-unused-cli -S "$ROOT" -B "$BUILD/${tree%%:*}" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/${tree#*:}.cmake" "$@" >/dev/null
  build_tree "$BUILD/${tree%%:*}"
done

cat >"$BUILD/CTestTestfile.cmake" <<CTEST
# Written by scripts/build.sh: every tree's tests in one CTest run.
subdirs("win-x64")
subdirs("win")
subdirs("native")
CTEST
