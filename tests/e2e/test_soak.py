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
    service = Service(Installed(prefix, "soak"))
    try:
        times, left = [], 0
        for cycle in range(CYCLES):
            service.start()
            time.sleep(random.random())
            stopped_in = service.stop()
            assert stopped_in is not None, f"cycle {cycle}: stop did not reach STOPPED"
            times.append(stopped_in)
            left += not prefix.gone_within(service.files.service_pattern(), 5)
        assert len(times) == CYCLES
        summary = f"median {statistics.median(times):.0f} ms, worst {max(times):.0f} ms"
        print(f"{CYCLES} stops: {summary} (sc round trips included)")
        assert max(times) < 3000, f"stops past the 3000 ms wait hint: {summary}"
        assert left == 0, f"{left} of {CYCLES} cycles left a service process behind"
    finally:
        service.remove()


def test_shutdowns_and_stops_through_the_control_handler(prefix):
    # Wine's services.exe ends services with the session and never sends
    # SERVICE_CONTROL_SHUTDOWN, so the driver hands it to the service's own
    # ServiceMain and ControlHandler: at points spread over the cycle, then
    # at random ones in the long form.
    files = Installed(prefix, "driver")
    spread = [1500, 1730, 2110, 2480, 2905][:SHUTDOWNS]
    latencies = []
    for delay in spread + [random.randint(1200, 3200) for _ in range(SHUTDOWNS - len(spread))]:
        files.state.unlink(missing_ok=True)
        latency, returned = files.drive("shutdown", delay)
        assert returned, f"ServiceMain did not return after shutdown at {delay} ms"
        rows = lcd.read_display(files.state).rows
        assert rows == [lcd.NOTICE_ROW, lcd.BLANK_ROW], f"after shutdown at {delay} ms: {rows}"
        latencies.append(latency)
    for delay in (40, 1200, 2050):
        files.state.unlink()
        latency, returned = files.drive("stop", delay)
        assert returned, f"ServiceMain did not return after stop at {delay} ms"
        assert files.state.exists(), f"the run stopped at {delay} ms never reached the box"
        assert lcd.read_display(files.state).rows[0] != lcd.NOTICE_ROW, "a plain stop left the shutdown notice"
        latencies.append(latency)
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
    service = Service(Installed(prefix, "soaklong"))
    files = service.files
    try:
        began = time.monotonic()
        pid = service.start()
        first_screen = lcd.wait_for_display(files.state, lambda d: d.text(0)[:1].isdigit(), 20)
        assert first_screen is not None, "no first screen in 20 s"
        first_ms = (time.monotonic() - began) * 1000
        time.sleep(5)
        first, cpu_before, calls_before = files.sample(), cpu_seconds(pid), len(lcd.transfers(files.log))
        samples = [first]
        start = time.monotonic()
        deadline = start + MINUTES * 60
        minute_span = None
        next_sample = start + 10
        # Polled every half second to catch a minute boundary: the writes
        # from just before it to 1.5 s after it must hold one minute change.
        while time.monotonic() < deadline or minute_span is None:
            assert time.monotonic() < deadline + 90, "no minute change seen"
            minute = datetime.datetime.now().minute
            lines_before = len(lcd.transfers(files.log))
            time.sleep(0.5)
            if minute_span is None and datetime.datetime.now().minute != minute:
                time.sleep(1.5)
                minute_span = transfers.cursor_runs(lcd.transfers(files.log), since=lines_before)
            if time.monotonic() >= next_sample:
                samples.append(files.sample())
                next_sample += 10
        last = files.sample()
        samples.append(last)
        elapsed = time.monotonic() - start
        cpu = cpu_seconds(pid) - cpu_before
        calls = len(lcd.transfers(files.log)) - calls_before
        stop_ms = service.stop()
        assert stop_ms is not None, "stop did not reach STOPPED"

        high_handles = max(s["handles"] for s in samples)
        high_private = max(s["private"] for s in samples)
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

        faults = transfers.screen_write_faults(minute_span, top_rewrites=1)
        assert not faults, f"writes around the minute change: {faults}"
        assert len(samples) >= 2 + MINUTES * 5, f"too few samples: {report}"
        assert last["handles"] <= first["handles"] and high_handles <= first["handles"] + 2, f"growth: {report}"
        assert last["private"] <= first["private"] + 65536, f"growth: {report}"
        assert first_ms < 5000 and stop_ms < 3000 and cpu / elapsed < 0.05, report
    finally:
        service.remove()
