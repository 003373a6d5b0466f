#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine (as root or
# with sudo), only when its check finds something missing.
#   scripts/setup.sh [--plan]
# --plan prints what it would do and changes nothing (with the probe's
# stand-in loaders, what it would do on another kind of host).
#
# Every host gets the same packages, 64-bit Wine among them. The 32-bit Wine
# (wine32:i386, with the i386 architecture) only where the host runs 32-bit
# programs, as scripts/win32-probe.sh decides, and in an install of its own
# after the rest: a registry in the middle of a sync can leave it
# uninstallable for hours, and the tests then run on win64.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
plan=0; [ "${1:-}" = --plan ] && plan=1
# Stand-in loaders show what the probe decides on another kind of host; what
# set-up installs follows this machine's own.
[ "$plan" = 1 ] || unset LCDMON_LINUX32_LOADER LCDMON_WINE32_LOADER
PACKAGES=(cmake g++ make libgtest-dev googletest clang clang-format libclang-rt-dev python3 python3-pytest
          python3-pytest-timeout python3-luma.lcd python3-pil python3-pefile xxd procps unzip
          mingw-w64 g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine wine64 libc6-i386
          xvfb xdotool x11-utils imagemagick locales fonts-ipafont-gothic fonts-ipafont-mincho
          wixl msitools osslsigncode openssl)
UPDATE_TRIES=3 UPDATE_PAUSE=10

base_missing() {
    local tool
    for tool in i686-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++-win32 wine Xvfb xdotool cmake g++ clang++ \
                clang-format xxd import unzip wixl msiinfo osslsigncode openssl; do
        command -v "$tool" >/dev/null 2>&1 || { echo "$tool"; return; }
    done
    [ -x /usr/lib/wine/wine64 ] || { echo "wine64"; return; }
    [ -e /lib/ld-linux.so.2 ] || { echo "libc6-i386"; return; }
    [ -e /usr/src/googletest ] || { echo "googletest"; return; }
    /usr/bin/python3 -c 'import pytest, pytest_timeout' 2>/dev/null || { echo "pytest"; return; }
    # the HD44780 character ROMs and Pillow for the pictures of the display
    /usr/bin/python3 -c 'import luma.lcd.const, luma.core.bitmap_font, PIL.Image' 2>/dev/null || { echo "luma.lcd"; return; }
    # pefile reads the programs' headers, imports and version resources (release checks, package)
    /usr/bin/python3 -c 'import pefile' 2>/dev/null || { echo "pefile"; return; }
    # clang's libFuzzer runtime for the fuzzers
    compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-'"$(uname -m)"'.a' >/dev/null ||
        { echo "libclang-rt-dev"; return; }
    locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$' || echo "the ja_JP.UTF-8 locale"
}

# apt's reason in one line: its first error, or the dependency it could not meet.
apt_reason() {
    grep -E '^ .* : (Pre)?Depends:|^E: ' "$1" | grep -v 'E: Unable to correct problems' | head -n 1 |
        sed 's/^ *//'
}

# A mirror in the middle of a sync serves an index that does not match its
# release file for a while: try again, then go on with the indexes there are.
update_indexes() {
    local try log; log=$(mktemp)
    for try in $(seq "$UPDATE_TRIES"); do
        if $SUDO apt-get update -q >"$log" 2>&1; then rm -f "$log"; return; fi
        echo "setup.sh: apt-get update failed (try $try of $UPDATE_TRIES): $(grep '^E: ' "$log" | head -n 1)"
        [ "$try" = "$UPDATE_TRIES" ] || sleep "$UPDATE_PAUSE"
    done
    echo "setup.sh: going on with the package indexes there are"
    rm -f "$log"
}

# Installs the packages; on failure names the first one of them that apt
# cannot install, with apt's reason, and fails.
install_or_explain() {
    local log package; log=$(mktemp)
    if $SUDO apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1; then
        rm -f "$log"; return 0
    fi
    tail -n 20 "$log"
    for package in "$@"; do
        apt-get install -s -q --no-install-recommends "$package" >"$log" 2>&1 && continue
        echo "setup.sh: cannot install $package, which the build or the tests need: $(apt_reason "$log")"
        rm -f "$log"; return 1
    done
    echo "setup.sh: apt-get install failed: $(apt_reason "$log")"
    rm -f "$log"; return 1
}

missing=$(base_missing)
win32=$("$top/scripts/win32-probe.sh"); kind=$?
if [ "$plan" = 1 ]; then
    if [ -n "$missing" ]; then echo "setup.sh --plan: packages: install ${#PACKAGES[@]} (the check found no $missing)"
    else echo "setup.sh --plan: packages: all there"; fi
    case $kind in
        2) echo "setup.sh --plan: wine32: not for this host (${win32#win32: not run here: })" ;;
        3) echo "setup.sh --plan: wine32: install wine32:i386 on its own, the i386 architecture added" ;;
        *) echo "setup.sh --plan: wine32: there" ;;
    esac
    exit 0
fi
[ -z "$missing" ] && [ "$kind" != 3 ] && exit 0

export DEBIAN_FRONTEND=noninteractive
if [ -n "$missing" ]; then
    echo "setup.sh: installing ${#PACKAGES[@]} packages (the check found no $missing)"
    update_indexes
    install_or_explain "${PACKAGES[@]}" || exit 1
    $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
    missing=$(base_missing)
    [ -z "$missing" ] || { echo "setup.sh: installed, but still no $missing"; exit 1; }
    win32=$("$top/scripts/win32-probe.sh"); kind=$?   # libc6-i386 may have just brought the loader
fi

# The 32-bit Wine last, on its own: where the registry cannot give it, the
# rest is already in place and the tests run on win64.
if [ "$kind" = 3 ]; then
    echo "setup.sh: this host runs 32-bit programs: adding i386 and installing wine32:i386 on its own"
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    UPDATE_TRIES=1 update_indexes
    log=$(mktemp)
    if ! $SUDO apt-get install -y -q --no-install-recommends wine32:i386 >"$log" 2>&1; then
        echo "setup.sh: wine32:i386 not installed, the tests run on win64: $(apt_reason "$log")"
    fi
    rm -f "$log"
fi
exit 0
