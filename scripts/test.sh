#!/usr/bin/env bash
# Sets up, builds and runs every test: the format check, host unit tests
# under the sanitizers, the display's picture tools (pytest, tests/tools),
# the programs end to end under Wine (pytest, tests/e2e) and a short run of
# each fuzzer. Each stage is timed; the last line counts every test:
# "N passed, N failed, N skipped", after a line that says why where win32
# did not run.
#
# The end-to-end tests mostly wait on Wine (on 2 cores they keep them less
# than half busy): they run as four parts, each in prefixes of its own,
# while the format check, the host tests and the tool tests run, and the
# fuzzers at the lowest priority beside them. Their output is printed once
# they end.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
stage() { echo "== $1: $2 s"; }
start=$SECONDS; "$top/scripts/setup.sh" || exit 1; stage set-up $((SECONDS - start))
start=$SECONDS; "$top/scripts/build.sh" || exit 1; stage build $((SECONDS - start))
passed=0; failed=0; skipped=0

# Four parts of about the same length, the long waits spread among them.
E2E_PARTS=("test_wake.py test_control_order.py test_release.py"
           "test_service.py test_setup.py"
           "test_soak.py test_box_library.py"
           "test_box_faults.py test_package.py")
e2e_start=$SECONDS
listed=$(cd "$top/tests/e2e" && ls test_*.py | sort); parted=$(printf '%s\n' ${E2E_PARTS[*]} | sort)
[ "$listed" = "$parted" ] || { echo "test.sh: end-to-end files not in one part: $(comm -3 <(echo "$listed") <(echo "$parted"))"; failed=$((failed + 1)); }
e2e_pids=()
for part in "${!E2E_PARTS[@]}"; do
    rm -f "$top/build/e2e-report-$part.xml"
    (cd "$top/tests/e2e" && /usr/bin/python3 -m pytest -v --junitxml="$top/build/e2e-report-$part.xml" \
        ${E2E_PARTS[$part]} >"$top/build/e2e-$part.log" 2>&1; echo $? >"$top/build/e2e-$part.rc") &
    e2e_pids+=($!)
done
fuzz_log=$(mktemp)
( "$top/scripts/fuzz.sh" 10 >"$fuzz_log" 2>&1; echo "fuzz.sh exit $?" >>"$fuzz_log"
  echo "== fuzzers: $((SECONDS - e2e_start)) s, beside the end-to-end tests" >>"$fuzz_log" ) &
fuzz_pid=$!

start=$SECONDS
ctest_log=$(mktemp)
# The short stages at a lower priority: the prefixes booting beside them come first.
(cd "$top/build/host" && nice -n 10 ctest --no-tests=error --output-on-failure) | tee "$ctest_log"
read -r total bad < <(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$ctest_log")
rm -f "$ctest_log"
if [ -n "${total:-}" ]; then passed=$((passed + total - bad)); failed=$((failed + bad)); else failed=$((failed + 1)); fi
stage "host tests" $((SECONDS - start))

start=$SECONDS
if nice -n 10 "$top/scripts/format.sh" --check; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
stage format $((SECONDS - start))

start=$SECONDS
# The display's pictures and live view (tests/tools): plain Python, any host.
tools_log=$(mktemp)
(cd "$top" && nice -n 10 /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/tools) | tee "$tools_log"
count() { grep -o "[0-9]* $1" "$tools_log" | tail -1 | cut -d' ' -f1; }
p=$(count passed); f=$(count failed); e=$(count error); s=$(count skipped)
rm -f "$tools_log"
passed=$((passed + ${p:-0})); failed=$((failed + ${f:-0} + ${e:-0})); skipped=$((skipped + ${s:-0}))
[ "${p:-0}" -gt 0 ] || failed=$((failed + 1))
stage "tool tests" $((SECONDS - start))

wait "${e2e_pids[@]}"
for part in "${!E2E_PARTS[@]}"; do
    cat "$top/build/e2e-$part.log"
    rc=$(cat "$top/build/e2e-$part.rc" 2>/dev/null || echo 99)
    report="$top/build/e2e-report-$part.xml"
    if [ -f "$report" ] && [ "$rc" -le 1 ]; then
        read -r p f s < <(/usr/bin/python3 - "$report" <<'PY'
import collections, sys, xml.etree.ElementTree as tree
suite = tree.parse(sys.argv[1]).getroot().find("testsuite")
groups = collections.defaultdict(float)
counts = collections.Counter()
for case in suite.iter("testcase"):
    groups[case.get("classname").split(".")[0]] += float(case.get("time"))
    outcome = "skipped" if case.find("skipped") is not None else \
        "failed" if case.find("failure") is not None or case.find("error") is not None else "passed"
    counts[outcome] += 1
for group, seconds in sorted(groups.items()):
    print(f"== e2e {group}: {seconds:.0f} s", file=sys.stderr)
print(counts["passed"], counts["failed"], counts["skipped"])
PY
)
        passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + s))
        [ "$p" -gt 0 ] || failed=$((failed + 1))
    else
        # Wine could not start (the log above says why), or pytest itself failed.
        failed=$((failed + 1))
    fi
done
stage "end to end" $((SECONDS - e2e_start))

wait "$fuzz_pid"
cat "$fuzz_log"
ran=$(grep -c 'stat::number_of_executed_units' "$fuzz_log"); broke=$(grep -c 'FAILED' "$fuzz_log")
grep -q '^fuzz.sh exit 0$' "$fuzz_log" || broke=$((broke > 0 ? broke : 1))
rm -f "$fuzz_log"
passed=$((passed + ran - broke)); failed=$((failed + broke))
[ "$ran" -gt 0 ] || failed=$((failed + 1))
# Where win32 did not run, the last line but one says so and why: on a host
# that refuses 32-bit programs, or one without wine32, the suite ran on win64.
if [ "${LCDMON_ARCH:-}" = win64 ]; then
    echo "win32: not run here: LCDMON_ARCH=win64"
elif [ -z "${LCDMON_ARCH:-}" ] || [ "$LCDMON_ARCH" = win32 ]; then
    "$top/scripts/win32-probe.sh" | grep -v '^win32: runs'
fi
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
