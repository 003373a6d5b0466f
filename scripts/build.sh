#!/usr/bin/env bash
# Builds the host tests (build/host), the shipped 32-bit Windows programs with
# their release ZIP (build/win32, build/win32/MIREVO-<version>-win32.zip) and
# the same programs for 64-bit Windows (build/win64), which run where 32-bit
# code cannot and keep the code honest about pointer size.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$top/build/host" -j2
for arch in win32 win64; do
    toolchain=mingw-i686; [ "$arch" = win64 ] && toolchain=mingw-x86_64
    cmake -S "$top" -B "$top/build/$arch" -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain.cmake" >/dev/null
    cmake --build "$top/build/$arch" -j2
done
cmake --build "$top/build/win32" --target package >/dev/null
