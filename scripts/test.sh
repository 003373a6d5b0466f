#!/usr/bin/env bash
# Sets up, builds and runs every test: host unit tests under the sanitizers,
# a short run of each fuzzer, then the programs end to end under Wine.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" || exit 1
"$top/scripts/build.sh" || exit 1
failed=0; passed=0
start=$SECONDS
if (cd "$top/build/host" && ctest --output-on-failure); then passed=$((passed + 1)); else failed=$((failed + 1)); fi
echo "host tests: $((SECONDS - start)) s"
start=$SECONDS
if "$top/scripts/fuzz.sh" 20; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
echo "fuzzers: $((SECONDS - start)) s"
for test in "$top"/tests/e2e/*_test.sh; do
    start=$SECONDS
    if timeout 600 bash "$test" "$top/build/win32"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    echo "$(basename "$test"): $((SECONDS - start)) s"
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
