#!/usr/bin/env bash
# The service with a box that fails every call or takes 50 ms a call: it
# still starts, runs, stops within its 3000 ms wait hint and shuts down in time.
#   tests/e2e/box_fault_test.sh <cross build dir>
BUILD_DIR=${1:-${BUILD_DIR:-}}
source "$(dirname "$0")/lib.sh"
trap wine_end EXIT
OUT=$(mktemp)
wine_boot
install_service_files mon
cp "$BUILD_DIR/tests/wine/service_driver.exe" "$DRIVE_C/mon/"
wine_run "$OUT" sc create MIREVO 'binPath=' 'C:\mon\MIREVO.exe'

for mode in fail "stall 50"; do
    echo "$mode" > "$DRIVE_C/mon/box-fault.txt"
    wine_run "$OUT" sc start MIREVO
    wait_for_state MIREVO 10 RUNNING && pass "box '$mode': service runs" || fail "box '$mode': not running"
    sleep 3
    linux_pid=$(service_pids | head -n 1)
    [ -n "$linux_pid" ] && pass "box '$mode': still running after 3 s" || fail "box '$mode': process gone"
    t0=$(date +%s%N)
    wine_run "$OUT" sc stop MIREVO
    if wait_for_state MIREVO 5 STOPPED; then
        ms=$(( ($(date +%s%N) - t0) / 1000000 ))
        [ "$ms" -lt 3000 ] && pass "box '$mode': stopped in $ms ms" || fail "box '$mode': stop took $ms ms"
    else
        fail "box '$mode': stop did not reach stopped"
    fi
    service_gone_within 40 || fail "box '$mode': process left behind"

    ( cd "$DRIVE_C/mon" && timeout 30 wine ./service_driver.exe shutdown 1700 </dev/null >"$OUT" 2>&1 )
    latency=$(sed -n 's/^latency //p' "$OUT" | tr -d '\r')
    if grep -q '^returned 1' "$OUT" && awk -v l="${latency:-99999}" 'BEGIN { exit !(l < 3000) }'; then
        pass "box '$mode': shutdown handled in $latency ms"
    else
        fail "box '$mode': shutdown latency ${latency:-?} ms, $(tr -d '\r' < "$OUT" | tr '\n' ' ')"
    fi
done
wine_run "$OUT" sc delete MIREVO
rm -f "$OUT"
echo "box fault tests: $TEST_FAILURES failed"
[ "$TEST_FAILURES" = 0 ]
