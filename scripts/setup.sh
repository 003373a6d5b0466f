#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine (as root or with sudo).
# Both kinds of host get the same packages: wine32 for hosts that run 32-bit
# Linux programs, wine64 for those that refuse them (the tests pick what runs).
set -euo pipefail
SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
need=0
for tool in i686-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++-win32 wine Xvfb xdotool cmake g++ clang++ \
            clang-format xxd import unzip wixl msiinfo osslsigncode openssl; do
    command -v "$tool" >/dev/null 2>&1 || need=1
done
[ -e /usr/lib/i386-linux-gnu/wine ] || need=1
[ -x /usr/lib/wine/wine64 ] || need=1
[ -e /usr/src/googletest ] || need=1
/usr/bin/python3 -c 'import pytest, pytest_timeout' 2>/dev/null || need=1
# the HD44780 character ROMs and Pillow for the pictures of the display
/usr/bin/python3 -c 'import luma.lcd.const, luma.core.bitmap_font, PIL.Image' 2>/dev/null || need=1
# pefile reads the programs' headers, imports and version resources (release checks, package)
/usr/bin/python3 -c 'import pefile' 2>/dev/null || need=1
# clang's libFuzzer runtime for the fuzzers
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-'"$(uname -m)"'.a' >/dev/null || need=1
locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$' || need=1
if [ "$need" = 1 ]; then
    export DEBIAN_FRONTEND=noninteractive
    $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -q
    # On a host that refuses 32-bit programs, some i386 packages' set-up
    # scripts print "Exec format error"; the packages are still installed.
    $SUDO apt-get install -y -q --no-install-recommends \
        cmake g++ make libgtest-dev googletest clang clang-format libclang-rt-dev python3 python3-pytest \
        python3-pytest-timeout python3-luma.lcd python3-pil python3-pefile xxd procps unzip \
        mingw-w64 g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine wine64 wine32:i386 \
        xvfb xdotool x11-utils imagemagick locales fonts-ipafont-gothic fonts-ipafont-mincho \
        wixl msitools osslsigncode openssl
    $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
