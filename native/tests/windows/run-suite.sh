#!/bin/sh
# Cross-builds the Windows DLL with mingw-w64 and runs its suite under Wine.
#
#   native/tests/windows/run-suite.sh [build-dir]   (default: build/windows)
#
# Needs wine, xvfb, cmake, ninja and g++-mingw-w64-x86-64.
set -eu
src=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$src/build/windows}

cmake -S "$src" -B "$build" -G Ninja \
  --toolchain "$src/cmake/toolchains/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKMX_BACKEND=windows \
  -DKMX_BUILD_HELPERS=OFF -DKMX_BUILD_TOOLS=OFF -DKMX_BUILD_BENCH=OFF
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure
