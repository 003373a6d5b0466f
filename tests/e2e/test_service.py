"""MIREVO.exe under Wine's real service control manager, against the emulated
LCD: how it starts, what it shows, that the bars follow the machine, a plain
stop, and shutdown and stop through its own control handler."""
import datetime
import os
import re
import subprocess
import time

import pytest

import lcd
import transfers
from programs import Installed, Service

TWO_BARS = (re.compile(rb"\x02*\x01*\x00* *"), re.compile(rb"\x02*\x00*\x01* *"))


@pytest.fixture(scope="module")
def running(prefix):
    """The service registered from C:\\mon and started once for the module:
    (service, its Linux pid)."""
    with Service(Installed(prefix, "mon")) as service:
        yield service, service.start()


def test_command_line_run_ends_quietly(prefix, arch):
    # Started from a command line instead of by the manager, the dispatcher
    # call fails (Wine takes about 10 s to say so) and nothing reaches the box.
    files = Installed(prefix, "cli")
    rc, out = files.run("MIREVO.exe", timeout=40)
    assert rc == 0, f"exit {rc}: {out}"
    assert files.log.exists(), "vbausbio.dll was never loaded (it opens its log at load)"
    assert files.log.stat().st_size == 0 and not files.state.exists(), "the command-line run drove the LCD"

    # The box library is bound at load time: without it the program does not
    # start at all (STATUS_DLL_NOT_FOUND, whose low byte is 0x35). Run from a
    # folder without it, since Windows also looks in the current directory.
    bare = Installed(prefix, "nodll")
    (bare.dir / "vbausbio.dll").unlink()
    rc, out = bare.run("MIREVO.exe", timeout=40)
    assert rc == 0x35, f"without vbausbio.dll: exit {rc}, {out}"


@pytest.mark.short
def test_start_shows_clock_memory_and_bars(running):
    files = running[0].files
    lcd.first_screen(files.state, 5)
    time.sleep(1.2)
    display = lcd.Display(files.state)
    row0, now = display.text(0), datetime.datetime.now()
    clocks = {(now - datetime.timedelta(minutes=m)).strftime("%m/%d %H:%M") for m in (0, 1)}
    assert row0[:11] in clocks, f"row 0 {row0!r}, clock {sorted(clocks)}"
    assert re.fullmatch(r" *\d{1,4}[MG]", row0[11:]) and row0[11:] != "   0M", f"memory text {row0[11:]!r}"
    assert any(bars.fullmatch(display.rows[1]) for bars in TWO_BARS), f"row 1 is not two bars: {display.rows[1]!r}"
    assert display.glyphs[:24] == lcd.BAR_GLYPHS, f"glyph RAM {display.glyphs[:24].hex()}"


def bars_against_the_machine(files, when):
    """Checks the bars shown against the machine's figures measured inside
    the prefix (GetSystemTimes and GlobalMemoryStatusEx, not the calls the
    service uses) over about the same second as the service's own cycle: up
    to three tries, since other work on the machine comes and goes between
    the two windows. The matching (processor cells, memory cells, cpu %)."""
    seen = []
    for _ in range(3):
        cpu, load = files.probe(r"^cpu (\d+\.\d)\nload (\d+)$", "figures", "1000")
        assert 0 < load <= 100, f"memory load {load}"
        time.sleep(0.2)
        shown_cpu, shown_memory = lcd.bar_cells(lcd.Display(files.state).rows[1])
        seen.append((shown_cpu, cpu, shown_memory, load))
        if abs(shown_cpu - lcd.cells_for(cpu)) <= 3 and abs(shown_memory - lcd.cells_for(load)) <= 1:
            return shown_cpu, shown_memory, cpu
    raise AssertionError(f"bars {when} against the machine (cells, cpu %, cells, memory load %): {seen}")


def test_bars_follow_the_machine(running, arch):
    files = running[0].files
    _, shown_memory, _ = bars_against_the_machine(files, "at rest")

    # Every processor kept busy fills the processor bar; freed, it falls again.
    loops = [subprocess.Popen(["nice", "-n", "19", "sh", "-c", "while :; do :; done"])
             for _ in range(os.cpu_count() or 1)]
    try:
        time.sleep(3)
        busy_cpu, busy_memory = lcd.bar_cells(lcd.Display(files.state).rows[1])
    finally:
        for loop in loops:
            loop.kill()
            loop.wait()
    assert busy_cpu >= 14, f"processor bar {busy_cpu} cells with every processor busy"
    assert abs(busy_memory - shown_memory) <= 1, f"memory bar went from {shown_memory} to {busy_memory}"
    time.sleep(2)
    idle_cpu, _, idle_figure = bars_against_the_machine(files, "after the load ended")
    if idle_figure < 60:
        assert idle_cpu <= busy_cpu - 4, f"processor bar stayed at {idle_cpu} of {busy_cpu} cells"


@pytest.mark.short
def test_plain_stop_keeps_screen(running):
    service, linux_pid = running
    files = service.files
    lcd.first_screen(files.state, 5)
    calls_before = len(lcd.transfers(files.log))
    service.stop()
    # Up to the stop the worker may still finish a cycle; nothing else is
    # written: no clearing, no notice.
    transfers.check_screen_writes(transfers.cursor_runs(lcd.transfers(files.log), since=calls_before), "during the stop")
    time.sleep(0.5)
    display = lcd.Display(files.state)
    assert re.fullmatch(r"\d\d/\d\d \d\d:\d\d *\d{1,4}[MG]", display.text(0)), f"row 0 after the stop: {display.rows}"
    assert service.prefix.gone_within(files.service_pattern, 2.5), \
        f"service process {linux_pid} still there 2.5 s after the stop"
