#!/usr/bin/env bash
# Builds the host tests (build/host) and the Windows programs (build/win32),
# then their release ZIP (build/win32/MIREVO-<version>-win32.zip).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$top/build/host" -j2
cmake -S "$top" -B "$top/build/win32" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$top/build/win32" -j2
cmake --build "$top/build/win32" --target package >/dev/null
