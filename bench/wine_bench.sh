#!/usr/bin/env bash
# The display service under Wine's service control manager for a while:
# start-to-first-screen time, byte transfers per cycle, processor time,
# private memory and handles of the service process, stop latency.
#   bench/wine_bench.sh <cross build dir> [seconds, default 300]
BUILD_DIR=${1:-${BUILD_DIR:-}}
RUN_SECONDS=${2:-300}
source "$(dirname "$0")/../tests/e2e/lib.sh"
trap wine_end EXIT
STATE="$DRIVE_C/mon/lcd-state.txt"; LOG="$DRIVE_C/mon/lcd-transfers.log"
OUT=$(mktemp)
wine_boot
install_service_files mon
cp "$BUILD_DIR/tests/wine/system_probe.exe" "$DRIVE_C/mon/"
wine_run "$OUT" sc create MIREVO 'binPath=' 'C:\mon\MIREVO.exe'

t0=$(date +%s%N)
wine_run "$OUT" sc start MIREVO
until grep -q '^row0 3' "$STATE" 2>/dev/null; do
    [ $(( ($(date +%s%N) - t0) / 1000000000 )) -gt 20 ] && { echo "no first screen"; exit 1; }
    sleep 0.02
done
first_ms=$(( ($(date +%s%N) - t0) / 1000000 ))
linux_pid=$(service_pids | head -n 1)
sleep 3
ticks() { awk '{ print $14 + $15 }' "/proc/$linux_pid/stat"; }
hz=$(getconf CLK_TCK)
start_probe=$(service_sample); start_ticks=$(ticks); start_lines=$(wc -l < "$LOG"); start_s=$SECONDS
peak_private=0
while [ $((SECONDS - start_s)) -lt "$RUN_SECONDS" ]; do
    sleep 30
    p=$(service_sample | awk '{ print $5 }'); [ "${p:-0}" -gt "$peak_private" ] && peak_private=$p
done
end_probe=$(service_sample); end_ticks=$(ticks); end_lines=$(wc -l < "$LOG"); elapsed=$((SECONDS - start_s))
cpu_s=$(awk -v t=$((end_ticks - start_ticks)) -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }')
wine_run "$OUT" sc stop MIREVO
t1=$(date +%s%N); wait_for_state MIREVO 10 STOPPED; stop_ms=$(( ($(date +%s%N) - t1) / 1000000 ))
awk -v first="$first_ms" -v cpu="$cpu_s" -v secs="$elapsed" -v lines=$((end_lines - start_lines)) \
    -v sp="$start_probe" -v ep="$end_probe" -v peak="$peak_private" -v stop="$stop_ms" 'BEGIN {
    split(sp, a, " "); split(ep, b, " ")
    printf "run                            %d s\n", secs
    printf "start to first screen          %d ms (sc start included)\n", first
    printf "box calls per cycle            %.2f (uio_out calls a second, mean)\n", lines / secs
    printf "service CPU time               %s s (%.4f %% of one core, %.1f s per hour)\n", cpu, 100 * cpu / secs, 3600 * cpu / secs
    printf "private bytes start / end      %d / %d KiB (highest sampled %d KiB, peak %d KiB)\n", a[5] / 1024, b[5] / 1024, peak / 1024, b[7] / 1024
    printf "handles start / end            %d / %d\n", a[3], b[3]
    printf "sc stop to STOPPED             %d ms (sc round trips included)\n", stop
}'
wine_run "$OUT" sc delete MIREVO
rm -f "$OUT"
