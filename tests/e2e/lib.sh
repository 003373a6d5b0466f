# Shared helpers for the tests that run the programs under Wine.
# Source it; it needs BUILD_DIR (the cross build) set.
# Every wait is bounded; every process started is ended by pid or by
# ending this run's own wineserver.
set -u

: "${BUILD_DIR:?BUILD_DIR must name the cross build directory}"
export WINEDEBUG=-all LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
# One prefix per test run; booted once by wine_boot. A prefix made here is
# removed again by wine_end (each is about 600 MB); one handed in is kept.
if [ -n "${WINEPREFIX_FOR_TESTS:-}" ]; then
    export WINEPREFIX="$WINEPREFIX_FOR_TESTS"; OWN_PREFIX=""
else
    export WINEPREFIX="$(mktemp -d /tmp/lcdmon-wine.XXXXXX)"; OWN_PREFIX=$WINEPREFIX
fi
TEST_FAILURES=${TEST_FAILURES:-0}

fail() { echo "FAIL: $*"; TEST_FAILURES=$((TEST_FAILURES + 1)); }
pass() { echo "ok: $*"; }

# Boots a fresh prefix and leaves a persistent wineserver running, without
# which Wine ends services.exe (and every service) when the last ordinary
# Wine process exits.
wine_boot() {
    timeout 120 wine wineboot -i </dev/null >/dev/null 2>&1
    timeout 60 wineserver -w >/dev/null 2>&1 || true
    wineserver -p >/dev/null 2>&1
    # Starts services.exe and the prefix's own auto-start services, and lets
    # them settle: a program started while one of them is still connecting
    # could take its place on the service pipe.
    timeout 60 wine cmd /c exit </dev/null >/dev/null 2>&1
    sleep 2
}

wine_end() {
    wineserver -k >/dev/null 2>&1 || true
    timeout 20 wineserver -w >/dev/null 2>&1 || true
    if [ -n "$OWN_PREFIX" ]; then rm -rf "$OWN_PREFIX"; fi
}

# The C: path of the prefix's drive_c directory for a Linux path inside it.
DRIVE_C="$WINEPREFIX/drive_c"

# Runs a Wine command with a time limit; its output goes to the given file,
# never to a pipe (services inherit the streams of the command that starts them).
wine_run() {
    local out=$1; shift
    timeout 30 wine "$@" </dev/null >"$out" 2>&1
}

# Linux pids of this prefix's processes whose command line matches $1: other
# test runs may have programs of the same name running in prefixes of their own.
prefix_pids() {
    local pid
    for pid in $(pgrep -f "$1"); do
        tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
    done
}

# Linux pids of this prefix's C:\mon\MIREVO.exe service process.
service_pids() { prefix_pids 'C:\\mon\\MIREVO.exe'; }

# Waits up to $1 tenths of a second for this prefix's service process to be
# gone; false, and the process killed, if it is still there then.
service_gone_within() {
    local _
    for _ in $(seq "$1"); do [ -z "$(service_pids)" ] && return 0; sleep 0.1; done
    [ -z "$(service_pids)" ] && return 0
    kill -9 $(service_pids) 2>/dev/null
    return 1
}

# One sample of the C:\mon service's figures, read inside the prefix by
# system_probe.exe (copied to C:\mon): "<ms> handles <n> private <bytes> ...".
service_sample() {
    local out; out=$(mktemp)
    wine_run "$out" 'C:\mon\system_probe.exe' process MIREVO.exe 0 1
    sed -n 's/^sample //p' "$out" | tr -d '\r'
    rm -f "$out"
}

# Row texts of the display, as lcd_row_hex prints them: the notice left at
# shutdown ("function stopped" in half-width katakana) and a blank row.
NOTICE_HEX=20b7c9b3c3b2bcc1adb3202020202020
BLANK_HEX=20202020202020202020202020202020

# Copies MIREVO.exe and the stand-in box library into C:\<dir>.
install_service_files() {
    local dir=$1
    mkdir -p "$DRIVE_C/$dir"
    cp "$BUILD_DIR/service/MIREVO.exe" "$BUILD_DIR/sim/vbausbio.dll" "$DRIVE_C/$dir/"
    rm -f "$DRIVE_C/$dir/lcd-state.txt" "$DRIVE_C/$dir/lcd-transfers.log"
}

# Waits up to $2 seconds until `sc query $1` reports the state name $3.
wait_for_state() {
    local name=$1 seconds=$2 state=$3 out
    out=$(mktemp)
    local deadline=$((SECONDS + seconds))
    while [ $SECONDS -le $deadline ]; do
        wine_run "$out" sc query "$name"
        if grep -q "$state" "$out"; then rm -f "$out"; return 0; fi
        sleep 0.2
    done
    rm -f "$out"
    return 1
}

# Prints the text of an LCD row (0 or 1) from the emulator's state file, as
# hex bytes: "20b7c9...".
lcd_row_hex() {
    local state=$1 row=$2
    sed -n "s/^row$row //p" "$state"
}
