#!/usr/bin/env bash
# Builds the Windows Installer package of package/MIREVO.wxs with wixl:
#   scripts/msi.sh <win32|win64> <folder of the release's files> <version> <output .msi>
# scripts/build.sh builds the shipped win32 package from the ZIP's files; the
# tests build win64 packages and earlier versions the same way.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ $# = 4 ] || { echo "usage: $0 <win32|win64> <files folder> <version> <output.msi>" >&2; exit 2; }
arch=$1 files=$2 version=$3 output=$(realpath -m "$4")
case "$arch" in win32) machine=x86 ;; win64) machine=x64 ;; *) echo "$0: no architecture $arch" >&2; exit 2 ;; esac
rm -f "$output"
# wixl takes the files from its current directory only. It says
# "unimplemented" for every shortcut that is not advertised, and writes it
# right (the Target column names the file).
(cd "$files" && wixl -a "$machine" -D Version="$version" -o "$output" "$top/package/MIREVO.wxs") \
    2> >(grep -v 'builder.vala:[0-9]*: unimplemented$' >&2)
# wixl has no word for a vital service: without the flag Windows Installer
# goes on when it cannot register the service, and reports success.
msibuild "$output" -q "UPDATE \`ServiceInstall\` SET \`ErrorControl\` = 32769 WHERE \`ServiceInstall\` = 'MIREVO'"
