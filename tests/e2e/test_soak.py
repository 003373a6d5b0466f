"""Lifecycle soak of MIREVO.exe under Wine: start/stop cycles through the
service control manager, shutdowns through its own control handler, and one
long run in which its handles and private bytes must not grow and a minute
change rewrites only what changed.

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

CYCLES, SHUTDOWNS, MINUTES = (int(n) for n in os.environ.get("LCDMON_SOAK", "10 3 1").split())


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


def test_shutdowns_leave_exactly_the_notice(prefix):
    files = Installed(prefix, "soakdrv")
    latencies = []
    for _ in range(SHUTDOWNS):
        files.state.unlink(missing_ok=True)
        delay = random.randint(1200, 3200)
        latency, returned = files.drive("shutdown", delay)
        assert returned, f"ServiceMain did not return after shutdown at {delay} ms"
        rows = lcd.read_display(files.state).rows
        assert rows == [lcd.NOTICE_ROW, lcd.BLANK_ROW], f"after shutdown at {delay} ms: {rows}"
        latencies.append(latency)
    print(f"{SHUTDOWNS} shutdowns, worst handler {max(latencies):.1f} ms")


def test_long_run_no_growth_and_minute_change(prefix):
    service = Service(Installed(prefix, "soaklong"))
    files = service.files
    try:
        service.start()
        time.sleep(10)
        first = files.sample()
        samples = [first]
        deadline = time.monotonic() + MINUTES * 60
        minute_span = None
        next_sample = time.monotonic() + 10
        # Polled every half second to catch a minute boundary: the log lines
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

        faults = transfers.screen_write_faults(minute_span, top_rewrites=1)
        assert not faults, f"writes around the minute change: {faults}"

        high_handles = max(s["handles"] for s in samples)
        high_private = max(s["private"] for s in samples)
        summary = (f"handles {first['handles']} -> {last['handles']} (highest {high_handles}), private "
                   f"{first['private'] // 1024} -> {last['private'] // 1024} KiB (highest {high_private // 1024} KiB) "
                   f"over {len(samples)} samples in {MINUTES} min")
        print(summary)
        assert len(samples) >= 2 + MINUTES * 5, f"too few samples: {summary}"
        assert last["handles"] <= first["handles"] and high_handles <= first["handles"] + 2, f"growth: {summary}"
        assert last["private"] <= first["private"] + 65536, f"growth: {summary}"
    finally:
        service.remove()
