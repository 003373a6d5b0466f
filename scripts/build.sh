#!/usr/bin/env bash
# Builds the host tests (build/host), the shipped 32-bit Windows programs with
# their release ZIP and Windows Installer package (build/win32,
# build/win32/MIREVO-<version>-win32.zip and .msi) and the same programs for
# 64-bit Windows (build/win64), which run where 32-bit code cannot and keep
# the code honest about pointer size. With a certificate in the environment
# (scripts/sign.sh) the programs and the package are signed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
echo "build.sh: host tests and benchmark (build/host)"
cmake -S "$top" -B "$top/build/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$top/build/host" -j2
for arch in win32 win64; do
    toolchain=mingw-i686; [ "$arch" = win64 ] && toolchain=mingw-x86_64
    echo "build.sh: the $arch programs, the stand-in box library and the test clients (build/$arch)"
    cmake -S "$top" -B "$top/build/$arch" -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain.cmake" >/dev/null
    cmake --build "$top/build/$arch" -j2
done
echo "build.sh: the release ZIP and the Windows Installer package (build/win32)"
cmake --build "$top/build/win32" --target package >/dev/null
# The package holds the ZIP's own files, stripped and signed as they are there.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$top/build/win32/CMakeCache.txt")
release="$top/build/win32/MIREVO-$version-win32"
rm -rf "$release.files"
unzip -q -j "$release.zip" -d "$release.files"
"$top/scripts/msi.sh" win32 "$release.files" "$version" "$release.msi"
"$top/scripts/sign.sh" "$release.msi"
