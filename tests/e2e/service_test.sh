#!/usr/bin/env bash
# The display service under Wine's real service control manager, against the
# emulated LCD: start, screen, minute change, stop, shutdown notice, and the
# program run from a plain command line.
#   tests/e2e/service_test.sh <cross build dir>
BUILD_DIR=${1:-${BUILD_DIR:-}}
source "$(dirname "$0")/lib.sh"
STATE="$DRIVE_C/mon/lcd-state.txt"
LOG="$DRIVE_C/mon/lcd-transfers.log"

hex_to_text() { echo "$1" | xxd -r -p | tr -c '[:print:]' '?'; }

# Byte writes (selector 3) that process $1 sent from log line $2 on.
byte_writes_since() { tail -n +"$2" "$LOG" | awk -v pid="$1" '$1 == pid && $2 == 3 { print $3 }'; }

service_pid() { awk '{ print $1 }' "$LOG" | tail -n 1; }

# Bar levels shown on row 1: cells holding the processor glyph (01) or both
# (02), and cells holding the memory glyph (00) or both.
cpu_cells() { lcd_row_hex "$STATE" 1 | fold -w2 | grep -c -E '^0[12]$'; }
memory_cells() { lcd_row_hex "$STATE" 1 | fold -w2 | grep -c -E '^0[02]$'; }
# Cells of a 16-cell bar for a percentage, as the screen rounds it: down.
cells_for() { awk -v p="$1" 'BEGIN { c = int(p * 16 / 100); print (c < 0) ? 0 : (c > 16) ? 16 : c }'; }
within() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { exit !((a - b <= d) && (b - a <= d)) }'; }
busy_pids=()
end_busy_loops() { [ ${#busy_pids[@]} -gt 0 ] && kill "${busy_pids[@]}" 2>/dev/null; busy_pids=(); }
trap 'end_busy_loops; wine_end' EXIT

wine_boot
install_service_files mon
OUT=$(mktemp)

# --- run from a command line: exits 0 without any transfer -----------------
( cd "$DRIVE_C/mon" && timeout 40 wine ./MIREVO.exe </dev/null >"$OUT" 2>&1 ); rc=$?
[ "$rc" = 0 ] && pass "command-line run exits 0" || fail "command-line run exit code $rc"
[ ! -s "$LOG" ] && pass "command-line run makes no transfer" || fail "command-line run wrote to the LCD"

# --- without the box library it does not start -----------------------------
mkdir -p "$DRIVE_C/nodll" && cp "$BUILD_DIR/service/MIREVO.exe" "$DRIVE_C/nodll/"
( cd "$DRIVE_C/nodll" && timeout 40 wine ./MIREVO.exe </dev/null >"$OUT" 2>&1 ); rc=$?
[ "$rc" != 0 ] && pass "without vbausbio.dll it does not start (exit $rc)" || fail "started without vbausbio.dll"

# --- start under the service control manager -------------------------------
wine_run "$OUT" sc create MIREVO 'binPath=' 'C:\mon\MIREVO.exe'
wine_run "$OUT" sc start MIREVO
if wait_for_state MIREVO 10 RUNNING; then pass "service reports running"; else fail "service not running"; fi

deadline=$((SECONDS + 3)); row0=""
while [ $SECONDS -le $deadline ]; do
    row0=$(lcd_row_hex "$STATE" 0 2>/dev/null)
    [ -n "$row0" ] && [ "$row0" != "$BLANK_HEX" ] && break
    sleep 0.1
done
sleep 1.2
row0=$(hex_to_text "$(lcd_row_hex "$STATE" 0)")
now=$(date +'%m/%d %H:%M'); before=$(date -d '-1 min' +'%m/%d %H:%M')
top=${row0:0:11}
if [ "$top" = "$now" ] || [ "$top" = "$before" ]; then pass "row 0 shows the clock: '$row0'"; else fail "row 0 '$row0', clock '$now'"; fi
if [[ "${row0:11:5}" =~ ^\ *[0-9]{1,4}[MG]$ ]] && [ "${row0:11:5}" != "   0M" ]; then
    pass "memory text '${row0:11:5}'"
else
    fail "memory text '${row0:11:5}'"
fi
row1=$(lcd_row_hex "$STATE" 1)
if [[ "$row1" =~ ^(02)*(01)*(00)*(20)*$ ]] || [[ "$row1" =~ ^(02)*(00)*(01)*(20)*$ ]]; then
    pass "row 1 holds two bars from the left: $row1"
else
    fail "row 1 is not two bars: $row1"
fi
glyphs=$(sed -n 's/^glyphs //p' "$STATE")
[ "${glyphs:0:48}" = 001515000000000000000000001b1b0000151500001b1b00 ] && pass "three bar glyphs defined" \
    || fail "glyph RAM ${glyphs:0:48}"

# --- the bars follow the machine's figures ---------------------------------
# Measured inside the prefix with GetSystemTimes and GlobalMemoryStatusEx,
# over the same second as the service's own cycle; the processor may move a
# little between the two windows.
cp "$BUILD_DIR/tests/wine/system_probe.exe" "$DRIVE_C/mon/"
wine_run "$OUT" 'C:\mon\system_probe.exe' figures 1000
probe_cpu=$(sed -n 's/^cpu //p' "$OUT" | tr -d '\r'); probe_load=$(sed -n 's/^load //p' "$OUT" | tr -d '\r')
sleep 0.2
shown_cpu=$(cpu_cells); shown_memory=$(memory_cells)
within "$shown_memory" "$(cells_for "${probe_load:-999}")" 1 \
    && pass "memory bar $shown_memory cells for load ${probe_load}%" \
    || fail "memory bar $shown_memory cells, load ${probe_load:-?}%"
within "$shown_cpu" "$(cells_for "${probe_cpu:-999}")" 3 \
    && pass "processor bar $shown_cpu cells for ${probe_cpu}% busy" \
    || fail "processor bar $shown_cpu cells, machine ${probe_cpu:-?}% busy"
# Every processor kept busy fills the processor bar; freed, it falls again.
for _ in $(seq "$(nproc)"); do nice -n 19 sh -c 'while :; do :; done' & busy_pids+=($!); done
sleep 3
busy_cpu=$(cpu_cells); busy_memory=$(memory_cells)
end_busy_loops
[ "$busy_cpu" -ge 14 ] && pass "processor bar rises to $busy_cpu cells with every processor busy" \
    || fail "processor bar $busy_cpu cells with every processor busy"
within "$busy_memory" "$shown_memory" 1 && pass "memory bar kept while the processor bar moved" \
    || fail "memory bar went from $shown_memory to $busy_memory cells"
sleep 3
idle_cpu=$(cpu_cells)
[ "$idle_cpu" -le 6 ] && pass "processor bar falls back to $idle_cpu cells" \
    || fail "processor bar still $idle_cpu cells after the load ended"

pid=$(service_pid)

# --- a cycle without change writes nothing; a minute change rewrites only the top
# Waits for the next minute boundary (up to 61 s), then looks at the writes.
start_line=$(($(wc -l < "$LOG") + 1))
minute=$(date +%M)
deadline=$((SECONDS + 62))
while [ "$(date +%M)" = "$minute" ] && [ $SECONDS -le $deadline ]; do sleep 0.5; done
sleep 1.5
writes=$(byte_writes_since "$pid" "$start_line" | tr '\n' ' ')
# Every byte of 128 and up is a cursor instruction (the texts are ASCII and the
# glyphs codes 0-2); each must be followed by exactly what belongs there.
verdict=$(echo "$writes" | awk '{
    for (i = 1; i <= NF; i++) {
        if ($i >= 128) { if (addr != "") check(); addr = $i; n = 0 } else n++
    }
    if (addr != "") check()
    print (bad ? "bad" : "good") " " (top ? "top" : "notop")
}
function check() {
    if (addr == 128) { top = 1; if (n != 11) bad = 1 }
    else if (addr == 139) { if (n != 5) bad = 1 }
    else if (addr >= 192 && addr <= 207) { if (n != 1) bad = 1 }
    else bad = 1
}')
case "$verdict" in
    "good top") pass "minute change rewrote the top text and nothing else of row 0" ;;
    *) fail "writes around the minute change ($verdict): $writes" ;;
esac

# --- stop: reaches stopped, display unchanged, process gone -----------------
sleep 0.3
before_stop=$(grep -E '^row' "$STATE")
linux_pid=$(service_pids | head -n 1)
t0=$(date +%s%N)
wine_run "$OUT" sc stop MIREVO
if wait_for_state MIREVO 5 STOPPED; then
    pass "stop reaches stopped in $(( ($(date +%s%N) - t0) / 1000000 )) ms (sc round trips included)"
else
    fail "stop did not reach stopped"
fi
sleep 0.5
[ "$(grep -E '^row' "$STATE")" = "$before_stop" ] && pass "stop leaves the display as it was" \
    || fail "display changed on stop"
service_gone_within 20 || fail "service process $linux_pid still there 2.5 s after the stop"

# --- shutdown and stop through the service's own control handler ------------
# Wine's services.exe ends services with the session and never sends
# SERVICE_CONTROL_SHUTDOWN, so the driver hands it to the same ServiceMain and
# ControlHandler, at different points of the cycle.
cp "$BUILD_DIR/tests/wine/service_driver.exe" "$DRIVE_C/mon/"
worst=0
for delay in 1500 1730 2110 2480 2905; do
    ( cd "$DRIVE_C/mon" && timeout 30 wine ./service_driver.exe shutdown "$delay" </dev/null >"$OUT" 2>&1 )
    latency=$(sed -n 's/^latency //p' "$OUT" | tr -d '\r')
    grep -q '^returned 1' "$OUT" || fail "ServiceMain did not return after shutdown ($delay ms)"
    r0=$(lcd_row_hex "$STATE" 0); r1=$(lcd_row_hex "$STATE" 1)
    if [ "$r0" = "$NOTICE_HEX" ] && [ "$r1" = "$BLANK_HEX" ]; then
        pass "shutdown after $delay ms leaves only the stopped notice (handler $latency ms)"
    else
        fail "after shutdown: row0 $r0 row1 $r1"
    fi
    worst=$(awk -v a="$worst" -v b="${latency:-99999}" 'BEGIN { print (b > a) ? b : a }')
done
for delay in 40 1200 2050; do
    ( cd "$DRIVE_C/mon" && timeout 30 wine ./service_driver.exe stop "$delay" </dev/null >"$OUT" 2>&1 )
    latency=$(sed -n 's/^latency //p' "$OUT" | tr -d '\r')
    grep -q '^returned 1' "$OUT" && pass "stop after $delay ms ends the service (handler $latency ms)" \
        || fail "stop after $delay ms: ServiceMain did not return"
    worst=$(awk -v a="$worst" -v b="${latency:-99999}" 'BEGIN { print (b > a) ? b : a }')
done
awk -v w="$worst" 'BEGIN { exit !(w < 1000) }' && pass "worst control-handler latency $worst ms" \
    || fail "worst control-handler latency $worst ms"

wine_run "$OUT" sc delete MIREVO
rm -f "$OUT"
echo "service tests: $TEST_FAILURES failed"
[ "$TEST_FAILURES" = 0 ]
