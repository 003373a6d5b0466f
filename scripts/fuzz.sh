#!/usr/bin/env bash
# Builds the fuzzers with clang (build/fuzz) and runs each for the given
# seconds (default 300) over a copy of its seed corpus in fuzz/corpus, so the
# repository's corpus never grows. Fails if any fuzzer finds a crash; the
# inputs that crashed are kept in build/fuzz/crashes.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
build="$top/build/fuzz"
cmake -S "$top" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DFUZZ=ON >/dev/null || exit 1
nice -n 19 cmake --build "$build" -j2 >/dev/null || { cmake --build "$build"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/crashes"
failed=0
for corpus in "$top"/fuzz/corpus/*/; do
    name=$(basename "$corpus")
    cp -r "$corpus" "$work/$name"
    mkdir -p "$work/$name-crashes"
    # One at a time and at low priority: the machine may be running
    # timing-sensitive tests beside us. A hang over 10 s counts as a crash.
    nice -n 19 "$build/fuzz/$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/$name-crashes/" "$work/$name" >"$work/$name.log" 2>&1
    rc=$?
    grep -E "DONE|stat::number_of_executed_units" "$work/$name.log" | sed "s/^/$name: /"
    if [ "$rc" != 0 ]; then
        failed=1
        tail -n 40 "$work/$name.log"
        cp "$work/$name-crashes"/* "$build/crashes/" 2>/dev/null
        echo "$name: FAILED (exit $rc); inputs in $build/crashes"
    fi
done
[ "$failed" = 0 ]
