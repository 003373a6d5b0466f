#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine (as root or with sudo).
set -euo pipefail
SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
need=0
for tool in i686-w64-mingw32-g++-posix wine Xvfb xdotool cmake g++ clang++ xxd import; do
    command -v "$tool" >/dev/null 2>&1 || need=1
done
[ -e /usr/lib/i386-linux-gnu/wine ] || need=1
[ -e /usr/src/googletest ] || need=1
# clang's libFuzzer runtime for the fuzzers
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-'"$(uname -m)"'.a' >/dev/null || need=1
locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$' || need=1
if [ "$need" = 1 ]; then
    export DEBIAN_FRONTEND=noninteractive
    $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends \
        cmake g++ make libgtest-dev googletest clang libclang-rt-dev python3 xxd procps \
        mingw-w64 g++-mingw-w64-i686-posix wine wine32:i386 \
        xvfb xdotool x11-utils imagemagick locales fonts-ipafont-gothic fonts-ipafont-mincho
    $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
