#!/usr/bin/env bash
# The long test target: sets up and builds, then runs the full lifecycle soak
# under Wine and each fuzzer for a bounded time. About an hour with the
# defaults; scripts/test.sh runs short forms of both.
#   scripts/long.sh [cycles 200] [shutdowns 20] [minutes 30] [fuzz seconds 300]
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cycles=${1:-200}; shutdowns=${2:-20}; minutes=${3:-30}; fuzz_seconds=${4:-300}
"$top/scripts/setup.sh" || exit 1
"$top/scripts/build.sh" || exit 1
failed=0
start=$SECONDS
(cd "$top/tests/e2e" && LCDMON_SOAK="$cycles $shutdowns $minutes" \
    /usr/bin/python3 -m pytest -v -s -o timeout=$(( (minutes + 10) * 60 + cycles * 10 )) test_soak.py) || failed=1
echo "soak: $((SECONDS - start)) s"
# The fuzzers come after the soak so that they do not take processor time
# from the stop-latency measurements.
start=$SECONDS
"$top/scripts/fuzz.sh" "$fuzz_seconds" || failed=1
echo "fuzzers: $((SECONDS - start)) s"
[ "$failed" = 0 ] && echo "long target: passed" || echo "long target: FAILED"
[ "$failed" = 0 ]
