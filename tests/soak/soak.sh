#!/usr/bin/env bash
# Lifecycle soak of the display service under Wine:
#   start/stop cycles through the service control manager, each stop within
#   the 3000 ms wait hint and leaving no process behind; shutdowns through the
#   service's own control handler, each leaving exactly the stopped notice;
#   then one long run with the handle count and private bytes sampled from
#   inside Wine, which must not grow.
#   tests/soak/soak.sh <cross build dir> [cycles 200] [shutdowns 20] [minutes 30]
BUILD_DIR=${1:-${BUILD_DIR:-}}
CYCLES=${2:-200}; SHUTDOWNS=${3:-20}; MINUTES=${4:-30}
source "$(dirname "$0")/../e2e/lib.sh"
trap wine_end EXIT
STATE="$DRIVE_C/mon/lcd-state.txt"
OUT=$(mktemp); TIMES=$(mktemp)
wine_boot
install_service_files mon
cp "$BUILD_DIR/tests/wine/service_driver.exe" "$BUILD_DIR/tests/wine/system_probe.exe" "$DRIVE_C/mon/"
wine_run "$OUT" sc create MIREVO 'binPath=' 'C:\mon\MIREVO.exe'

# --- start/stop cycles ---------------------------------------------------------
left=0; slow=0
for i in $(seq "$CYCLES"); do
    wine_run "$OUT" sc start MIREVO
    wait_for_state MIREVO 10 RUNNING || { fail "cycle $i: not running"; continue; }
    sleep 0.$((RANDOM % 10))
    t0=$(date +%s%N)
    wine_run "$OUT" sc stop MIREVO
    wait_for_state MIREVO 5 STOPPED || fail "cycle $i: stop did not reach stopped"
    ms=$(( ($(date +%s%N) - t0) / 1000000 )); echo "$ms" >> "$TIMES"
    [ "$ms" -lt 3000 ] || slow=$((slow + 1))
    service_gone_within 50 || left=$((left + 1))
done
read -r median worst < <(sort -n "$TIMES" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)], v[NR] }')
[ "$slow" = 0 ] && pass "$CYCLES stops within 3000 ms: median $median ms, worst $worst ms (sc round trips included)" \
    || fail "$slow of $CYCLES stops over 3000 ms (median $median, worst $worst)"
[ "$left" = 0 ] && pass "no cycle left a service process behind" || fail "$left cycles left a process behind"

# --- shutdowns -----------------------------------------------------------------
bad=0; worst_latency=0
for i in $(seq "$SHUTDOWNS"); do
    ( cd "$DRIVE_C/mon" && timeout 30 wine ./service_driver.exe shutdown $((1200 + RANDOM % 2000)) </dev/null >"$OUT" 2>&1 )
    latency=$(sed -n 's/^latency //p' "$OUT" | tr -d '\r')
    worst_latency=$(awk -v a="$worst_latency" -v b="${latency:-99999}" 'BEGIN { print (b > a) ? b : a }')
    if ! grep -q '^returned 1' "$OUT" || [ "$(lcd_row_hex "$STATE" 0)" != "$NOTICE_HEX" ] \
        || [ "$(lcd_row_hex "$STATE" 1)" != "$BLANK_HEX" ]; then bad=$((bad + 1)); fi
done
[ "$bad" = 0 ] && pass "$SHUTDOWNS shutdowns leave exactly the stopped notice (worst handler $worst_latency ms)" \
    || fail "$bad of $SHUTDOWNS shutdowns went wrong"

# --- long run: handles and private bytes ------------------------------------------
wine_run "$OUT" sc start MIREVO
wait_for_state MIREVO 10 RUNNING || fail "long run: not running"
sleep 10
first=$(service_sample); last=$first; high_handles=0; high_private=0
deadline=$((SECONDS + MINUTES * 60))
while [ $SECONDS -lt $deadline ]; do
    sleep 10
    last=$(service_sample)
    h=$(echo "$last" | awk '{ print $3 }'); p=$(echo "$last" | awk '{ print $5 }')
    [ "${h:-0}" -gt "$high_handles" ] && high_handles=$h
    [ "${p:-0}" -gt "$high_private" ] && high_private=$p
done
read -r h0 p0 < <(echo "$first" | awk '{ print $3, $5 }')
read -r h1 p1 < <(echo "$last" | awk '{ print $3, $5 }')
summary="handles $h0 -> $h1 (highest $high_handles), private $((p0 / 1024)) -> $((p1 / 1024)) KiB (highest $((high_private / 1024)) KiB) over $MINUTES min"
if [ -n "$h0" ] && [ "$h1" -le "$h0" ] && [ "$high_handles" -le $((h0 + 2)) ] && [ "$p1" -le $((p0 + 65536)) ]; then
    pass "no growth: $summary"
else
    fail "growth: $summary"
fi
wine_run "$OUT" sc stop MIREVO
wait_for_state MIREVO 5 STOPPED || fail "long run: stop did not reach stopped"
wine_run "$OUT" sc delete MIREVO
rm -f "$OUT" "$TIMES"
echo "soak: $TEST_FAILURES failed"
[ "$TEST_FAILURES" = 0 ]
