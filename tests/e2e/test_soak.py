"""Lifecycle soak of MIREVO.exe under Wine: start/stop cycles through the
service control manager, shutdowns through its own control handler, and one
long run in which its handles and private bytes must not grow and a minute
change rewrites only what changed; the long run also gives the benchmark
figures.

The test run uses a short form; LCDMON_SOAK="<cycles> <shutdowns> <minutes>"
sets the long one (scripts/long.sh: 200 20 30)."""
import datetime
import os
import random
import statistics
import time

import lcd
import transfers
from programs import Installed, Service

CYCLES, SHUTDOWNS, MINUTES = (int(n) for n in os.environ.get("LCDMON_SOAK", "10 5 1").split())


def test_start_stop_cycles(prefix):
    with Service(Installed(prefix, "soak")) as service:
        times, left = [], 0
        for _ in range(CYCLES):
            service.start()
            time.sleep(random.random())
            times.append(service.stop())   # within the 3000 ms wait hint
            left += not prefix.gone_within(service.files.service_pattern, 5)
        print(f"{CYCLES} stops: median {statistics.median(times):.0f} ms, worst {max(times):.0f} ms, sc calls included")
        assert left == 0, f"{left} of {CYCLES} cycles left a service process behind"


def test_shutdowns_and_stops_through_the_control_handler(prefix):
    # Wine's services.exe ends services with the session and never sends
    # SERVICE_CONTROL_SHUTDOWN, so the driver hands it to the service's own
    # ServiceMain and ControlHandler: at points spread over the cycle, then
    # at random ones in the long form; then stops at three points.
    files = Installed(prefix, "driver")
    shutdowns = [1500, 1730, 2110, 2480, 2905][:SHUTDOWNS] + [random.randint(1200, 3200) for _ in range(SHUTDOWNS - 5)]
    latencies = []
    for control, delay in [("shutdown", delay) for delay in shutdowns] + [("stop", d) for d in (40, 1200, 2050)]:
        files.state.unlink(missing_ok=True)
        latency, returned = files.drive(control, delay)
        latencies.append(latency)
        assert returned, f"ServiceMain did not return after {control} at {delay} ms"
        assert files.state.exists(), f"the run with {control} at {delay} ms never reached the box"
        # A shutdown leaves exactly the notice; a plain stop never does.
        rows = lcd.Display(files.state).rows
        shown = rows == [lcd.NOTICE_ROW, lcd.BLANK_ROW] if control == "shutdown" else rows[0] != lcd.NOTICE_ROW
        assert shown, f"after {control} at {delay} ms: {rows}"
    print(f"{SHUTDOWNS} shutdowns and 3 stops, worst handler {max(latencies):.1f} ms")
    assert max(latencies) < 1000, f"control-handler latencies {latencies} ms"


def cpu_seconds(pid):
    """User and system time of a Linux process, from /proc: Wine reports no
    processor time for another process."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_long_run_no_growth_and_minute_change(prefix, arch):
    """Also the benchmark: its figures are printed and written to
    <build dir>/wine-bench.txt (LCDMON_SOAK="10 3 5" for five minutes)."""
    with Service(files := Installed(prefix, "soaklong")) as service:
        began = time.monotonic()
        pid = service.start()
        lcd.first_screen(files.state, 20)
        first_ms = (time.monotonic() - began) * 1000
        time.sleep(5)
        samples, cpu_before, calls_before = [files.sample()], cpu_seconds(pid), len(lcd.transfers(files.log))
        start = next_sample = time.monotonic()
        minute_span = None
        # Polled every half second to catch a minute boundary: the writes
        # from just before it to 1.5 s after it must hold one minute change.
        while time.monotonic() < start + MINUTES * 60 or minute_span is None:
            assert time.monotonic() < start + MINUTES * 60 + 90, "no minute change seen"
            minute, calls_then = datetime.datetime.now().minute, len(lcd.transfers(files.log))
            time.sleep(0.5)
            if minute_span is None and datetime.datetime.now().minute != minute:
                time.sleep(1.5)
                minute_span = transfers.cursor_runs(lcd.transfers(files.log), since=calls_then)
            if time.monotonic() >= next_sample + 10:
                samples.append(files.sample())
                next_sample += 10
        samples.append(files.sample())
        elapsed = time.monotonic() - start
        cpu, calls = cpu_seconds(pid) - cpu_before, len(lcd.transfers(files.log)) - calls_before
        stop_ms = service.stop()

        first, last = samples[0], samples[-1]
        high_handles, high_private = max(s["handles"] for s in samples), max(s["private"] for s in samples)
        report = "\n".join([
            f"architecture                   {arch}",
            f"run                            {elapsed:.0f} s, {len(samples)} samples",
            f"start to first screen          {first_ms:.0f} ms (sc start included)",
            f"box calls a second             {calls / elapsed:.2f}",
            f"service CPU time               {cpu:.2f} s ({100 * cpu / elapsed:.3f} % of one core,"
            f" {3600 * cpu / elapsed:.1f} s an hour)",
            f"private bytes first / last     {first['private'] // 1024} / {last['private'] // 1024} KiB"
            f" (highest {high_private // 1024} KiB)",
            f"handles first / last           {first['handles']} / {last['handles']} (highest {high_handles})",
            f"sc stop to STOPPED             {stop_ms:.0f} ms (sc round trips included)",
        ])
        print("\n" + report)
        (prefix.build / "wine-bench.txt").write_text(report + "\n")

        transfers.check_screen_writes(minute_span, "around the minute change", top_rewrites=1)
        assert len(samples) >= 2 + MINUTES * 5, f"too few samples: {report}"
        assert last["handles"] <= first["handles"] and high_handles <= first["handles"] + 2, f"growth: {report}"
        assert last["private"] <= first["private"] + 65536, f"growth: {report}"
        assert first_ms < 5000 and cpu / elapsed < 0.05, report
