"""Lifecycle soak of MIREVO.exe under Wine: start/stop cycles through the
service control manager, shutdowns through its own control handler, and one
long run, begun when the session begins, in which its handles and private
bytes must not grow and every cycle writes only what changed, the minute
change included; the long run also gives the benchmark figures.

The test run uses a short form; LCDMON_SOAK="<cycles> <shutdowns> <minutes>"
sets the long one (scripts/long.sh: 200 20 30)."""
import datetime
import os
import random
import re
import statistics
import time

import lcd
import programs
import transfers
from long_run import cpu_seconds
from programs import Installed, Service

CYCLES, SHUTDOWNS, MINUTES = (int(n) for n in os.environ.get("LCDMON_SOAK", "10 5 1").split())


def test_start_stop_cycles(prefix):
    with Service(Installed(prefix, "soak")) as service:
        stops = []
        for _ in range(CYCLES):
            service.start()
            time.sleep(random.random())
            stops.append(service.stop())   # within the wait hint it reported, when it reported one
            assert prefix.gone_within(service.files.service_pattern, 30), "a stop left the service process behind"
        times = [stop["ms"] for stop in stops]
        pending = [stop for stop in stops if stop["stop_state"] == 3]
        print(f"{CYCLES} stops: median {statistics.median(times):.0f} ms, worst {max(times):.0f} ms inside the "
              f"prefix ({max(stop['outer_ms'] for stop in stops):.0f} ms with the client's start); "
              f"{len(pending)} answered STOP_PENDING, hints {sorted({stop['hint'] for stop in pending})} ms; "
              f"{len(programs.RETRIES)} start retries in the run so far")
        # The manager hands back the status the service last reported: now
        # and then it has already reported stopped. A pending one must carry
        # a checkpoint and a wait hint.
        assert pending and all(stop["checkpoint"] > 0 and stop["hint"] > 0 for stop in pending), stops


def test_shutdowns_and_stops_through_the_control_handler(prefix):
    # Wine's services.exe ends services with the session and never sends
    # SERVICE_CONTROL_SHUTDOWN, so the driver hands it to the service's own
    # ServiceMain and ControlHandler (the object code MIREVO.exe links): at
    # points spread over the cycle, then at random ones in the long form;
    # then stops at three points.
    files = Installed(prefix, "driver")
    shutdowns = [1500, 1730, 2110, 2480, 2905][:SHUTDOWNS] + [random.randint(1200, 3200) for _ in range(SHUTDOWNS - 5)]
    latencies = []
    for control, delay in [("shutdown", delay) for delay in shutdowns] + [("stop", d) for d in (40, 1200, 2050)]:
        files.state.unlink(missing_ok=True)
        latency, returned, ran = files.drive(control, delay)
        latencies.append(latency)
        assert returned, f"ServiceMain did not return after {control} at {delay} ms"
        # The stop at 40 ms may come while the library is still loading on a
        # busy machine: the start then ends without touching the box.
        if not ran and control == "stop" and delay < 1000:
            assert not files.state.exists(), f"a stop at {delay} ms during the start let the worker draw"
            continue
        assert ran and files.state.exists(), f"the run with {control} at {delay} ms never reached the box"
        # A shutdown leaves exactly the notice; a plain stop leaves the
        # monitor's screen (at 40 ms, it may have drawn none yet).
        shown = lcd.Display(files.state)
        if control == "shutdown":
            assert shown.rows == [lcd.NOTICE_ROW, lcd.BLANK_ROW], f"after {control} at {delay} ms: {shown.rows}"
        else:
            assert re.fullmatch(rb"\d\d/\d\d \d\d:\d\d[ \d]{3}\d[MG]", shown.rows[0]) or \
                delay < 1000 and shown.rows[0] != lcd.NOTICE_ROW, f"after {control} at {delay} ms: {shown.rows}"
    lcd.save_picture(files, "stopped-notice")
    print(f"{SHUTDOWNS} shutdowns and 3 stops, worst handler {max(latencies):.1f} ms")
    # Within the 3000 ms wait hint that the stop-pending report promises.
    assert max(latencies) < 3000, f"control-handler latencies {latencies} ms"


def top_texts(files):
    """The top texts in the order the service wrote them, each once: a later
    set-up draws the text it shows again, and may be the cycle that brought
    in a new minute."""
    found = transfers.cycles(lcd.transfers(files.log))
    written = [c.rows[0][:11] for c in found if any(a == 0 and t for a, t in c.writes)]
    return [text for i, text in enumerate(written) if i == 0 or text != written[i - 1]]


def test_long_run(long_run, arch):
    """Also the benchmark: its figures are printed and written to
    <build dir>/wine-bench.txt (LCDMON_SOAK="10 3 5" for five minutes)."""
    assert long_run.started.wait(120) and not long_run.error, f"the long run did not start: {long_run.error}"
    # At least MINUTES long, and over a minute change: two cycles that wrote the top text.
    while time.monotonic() - long_run.began < MINUTES * 60 or len(top_texts(long_run.files)) < 2:
        assert time.monotonic() - long_run.began < MINUTES * 60 + 90, "no minute change seen"
        time.sleep(1)
    elapsed = long_run.finish()
    cpu = cpu_seconds(long_run.pid) - long_run.cpu_before
    files, samples = long_run.files, long_run.samples
    calls = lcd.transfers(files.log)
    found = transfers.cycles(calls)
    checked = transfers.check_only_changes(found)
    tops = top_texts(files)
    stop = long_run.service.stop()

    first, last = samples[0], samples[-1]
    high_handles, high_private = max(s["handles"] for s in samples), max(s["private"] for s in samples)
    report = "\n".join([
        f"architecture                   {arch}",
        f"run                            {elapsed:.0f} s, {len(samples)} samples, {checked} cycles",
        f"start to first screen          {long_run.first_ms:.0f} ms (sc start included)",
        f"box calls a second             {sum(c.ms >= found[1].ms for c in calls) / elapsed:.2f} (after the first screen)",
        f"service CPU time               {cpu:.2f} s ({100 * cpu / elapsed:.3f} % of one core,"
        f" {3600 * cpu / elapsed:.1f} s an hour)",
        f"private bytes first / last     {first['private'] // 1024} / {last['private'] // 1024} KiB"
        f" (highest {high_private // 1024} KiB)",
        f"handles first / last           {first['handles']} / {last['handles']} (highest {high_handles})",
        f"stop to STOPPED                {stop['ms']} ms inside the prefix, {stop['outer_ms']:.0f} ms with the client",
        f"start retries in the session   {len(programs.RETRIES)}",
    ])
    print("\n" + report)
    (long_run.prefix.build / "wine-bench.txt").write_text(report + "\n")

    # The minute of the prefix's clock (its zone has a one-digit hour) at the
    # start or the next one, then each minute in turn.
    minute = lambda m: (long_run.local_start + datetime.timedelta(minutes=m)).strftime("%m/%d %H:%M").encode()
    late = next((m for m in range(3) if tops[:1] == [minute(m)]), 0)
    assert len(tops) >= 2 and tops == [minute(late + k) for k in range(len(tops))], f"top texts {tops}, {minute(0)}"
    # Growth over the run: samples from its start and its end (every 10 s).
    assert len(samples) >= 3 and elapsed >= 40, f"too few samples: {report}"
    assert last["handles"] <= first["handles"] and high_handles <= first["handles"] + 2, f"growth: {report}"
    assert last["private"] <= first["private"] + 65536, f"growth: {report}"
    # A service that spins takes a processor; the figures above are reported.
    assert cpu / elapsed < 0.25, report
