#!/usr/bin/env bash
# Whether this host runs the win32 build under Wine, told from the two loaders
# that decide it, never from Debian's /usr/bin/wine: that wrapper hands
# everything to wine64 when wine32 is missing, so it answers either way.
#   1. the Linux 32-bit loader: hosts that refuse 32-bit programs answer
#      "Exec format error" (libc6-i386 provides the loader on amd64);
#   2. Wine's own 32-bit loader, which only the wine32:i386 package installs.
# Prints one line and exits with the verdict:
#   0  win32 runs
#   1  wine32 is installed on a host that runs 32-bit programs, but does not
#      answer: the shipped build must run here, so this is a failure
#   2  not run here: the host refuses 32-bit programs (or lacks the loader)
#   3  not run here: the host runs them, but wine32 is not installed
# Set-up, the test command, the end-to-end suite and the main job all take
# this verdict. LCDMON_LINUX32_LOADER and LCDMON_WINE32_LOADER name other
# loaders, so that each kind of host can be tried on any one machine.
set -u
linux32=${LCDMON_LINUX32_LOADER:-/lib/ld-linux.so.2}
wine32=${LCDMON_WINE32_LOADER:-/usr/lib/wine/wine}

last_line() { tr -d '\r' | sed '/^[[:space:]]*$/d' | tail -n 1; }

# Run by bash itself, not through timeout or env: their execvp hands a file
# that the kernel refuses to /bin/sh as a script.
if ! said=$("$linux32" --version 2>&1 </dev/null); then
    why=$(printf '%s\n' "$said" | last_line)
    echo "win32: not run here: this host does not run 32-bit programs ($linux32: ${why##*: })"
    exit 2
fi
if [ ! -e "$wine32" ]; then
    echo "win32: not run here: wine32 is not installed ($wine32 is missing)"
    exit 3
fi
if ! said=$(WINEDEBUG=-all timeout 30 "$wine32" --version 2>&1 </dev/null) || [ "${said#wine-}" = "$said" ]; then
    echo "win32: does not run although wine32 is installed ($wine32 --version: $(printf '%s\n' "$said" | last_line))"
    exit 1
fi
echo "win32: runs ($said)"
