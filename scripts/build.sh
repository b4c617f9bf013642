#!/usr/bin/env bash
# Configures and builds the Windows program (cross) and the native service.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="${TAMSEL_BUILD_DIR:-$ROOT/build}"
JOBS=$(nproc)

if [ -f "$ROOT/service/CMakeLists.txt" ]; then
  cmake -S "$ROOT/service" -B "$BUILD/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD/native" -j "$JOBS" >/dev/null || cmake --build "$BUILD/native"
fi

cmake -S "$ROOT" -B "$BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
  -DTAMSEL_NATIVE_BUILD_DIR="$BUILD/native" "$@" >/dev/null
# Quiet on success; on failure build again serially so the first error is readable.
cmake --build "$BUILD/win" -j "$JOBS" >/dev/null 2>&1 || cmake --build "$BUILD/win"
