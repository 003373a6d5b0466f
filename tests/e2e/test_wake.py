"""The display comes back by itself after the machine slept.

A sleep is played under Wine as the two things the service meets after one:
the LCD lost its supply (an lcd-power-off file beside the stand-in library
makes the emulated HD44780 forget everything at once), and the service's
process stood still for a long while (SIGSTOP, then SIGCONT). The service
must set the LCD up, define its glyphs and draw both rows again with the
bytes a fresh start sends, and draw all of it once more some seconds later;
a short freeze draws nothing afresh, and neither does a power loss without
any gap (that one needs the service restarted, as the notes say).
"""
import contextlib
import os
import re
import signal
import time

import pytest

import lcd
from programs import Installed, Service
from wine import until

# The calls of one cycle come within milliseconds (more on a busy machine);
# cycles are a one-second pause apart.
CYCLE_GAP_MS = 900
ROW0 = r"\d\d/\d\d \d\d:\d\d *\d{1,4}[MG]"


def display_on(files):
    """Whether the emulated display is switched on ("display 1" in its state)."""
    with contextlib.suppress(OSError):
        for line in files.state.read_text(encoding="ascii").splitlines():
            if line.startswith("display "):
                return line == "display 1"
    return None


def bus(calls):
    """The bytes the LCD latched: (index of the call, register, byte), the
    register "I" or "D" as bit 0 of the control lines selects."""
    latched, control = [], None
    for index, call in enumerate(calls):
        if call.selector == 1 and call.latch == 0:
            control = call.value
        elif call.selector == 3 and call.latch == 1 and control is not None:
            latched.append((index, "ID"[control & 1], call.value))
    return latched


def cycles(calls):
    """The calls split into cycles by the pauses between them."""
    split = [[]]
    for before, call in zip([None, *calls], calls):
        if before is not None and call.ms - before.ms > CYCLE_GAP_MS:
            split.append([])
        split[-1].append(call)
    return [cycle for cycle in split if cycle]


def drawing(latched):
    """Each cursor move and the number of data bytes after it, from latched
    bytes as bus() gives them: [(address instruction, count)]."""
    moves = []
    for _, register, byte in latched:
        if register == "I":
            moves.append([byte, 0])
        elif moves:
            moves[-1][1] += 1
    return [tuple(move) for move in moves]


def split_start(calls):
    """A cycle that begins with the set-up, as (set-up and glyphs as raw
    calls, the rows' drawing): the set-up ends where row 0 column 0 is
    addressed (instruction 0x80)."""
    latched = bus(calls)
    first_row = next((n for n, (_, register, byte) in enumerate(latched) if register == "I" and byte == 0x80), None)
    assert first_row is not None, f"no drawing of row 0 in {[call[2:] for call in calls]}"
    return [call[2:] for call in calls[:latched[first_row][0]]], drawing(latched[first_row:])


def check_rows(rows, fresh_rows, when):
    """Both texts of row 0 drawn as at the fresh start, and each bar on row 1
    drawn cell by cell from the first column."""
    fresh_row0 = [move for move in fresh_rows if move[0] < 0xC0]
    row0, row1 = [move for move in rows if move[0] < 0xC0], [move for move in rows if move[0] >= 0xC0]
    assert row0 == fresh_row0, f"row 0 {when}: {row0}, at a fresh start {fresh_row0}"
    bars = [[]]
    for move in row1:
        if move[0] == 0xC0 and bars[-1]:
            bars.append([])
        bars[-1].append(move)
    assert len(bars) <= 2 and all(bar == [(0xC0 + cell, 1) for cell in range(len(bar))] for bar in bars), \
        f"row 1 {when}: {row1}"


@pytest.fixture(scope="module")
def running(prefix):
    """The service started once for the module: (its files, its Linux pid,
    the calls of its start and first cycle, the glyphs it defined)."""
    with Service(Installed(prefix, "wake")) as service:
        pid = service.start()
        lcd.first_screen(service.files.state, 5)
        time.sleep(0.5)
        fresh = cycles(lcd.transfers(service.files.log))[0]
        set_up, rows = split_start(fresh)
        assert set_up and rows, f"fresh start: {fresh}"
        check_rows(rows, rows, "at a fresh start")
        glyphs = lcd.Display(service.files.state).glyphs
        assert any(glyphs), "no glyphs defined at the start"
        yield service.files, pid, fresh, glyphs


def power_off(files):
    """Takes the emulated LCD's supply away and waits until it shows."""
    (files.dir / "lcd-power-off").write_text("")
    blank = until(2, lambda: display_on(files) is False and not (files.dir / "lcd-power-off").exists())
    shown = lcd.Display(files.state)
    assert blank and not any(shown.glyphs), f"after the power loss: display {display_on(files)}, {shown.glyphs.hex()}"


def frozen(pid, seconds, log):
    """Freezes the process for the time; the number of calls logged by then."""
    os.kill(pid, signal.SIGSTOP)
    try:
        logged = len(lcd.transfers(log))
        time.sleep(seconds)
    finally:
        os.kill(pid, signal.SIGCONT)
    return logged


def starts_with(cycle, set_up):
    return [call[2:] for call in cycle[:len(set_up)]] == set_up


@pytest.mark.parametrize("freeze", [0, 4], ids=["no_gap", "short_freeze"])
def test_no_redraw_without_a_sleep(running, freeze):
    files, pid, fresh, _ = running
    set_up, _ = split_start(fresh)
    power_off(files)
    logged = frozen(pid, freeze, files.log) if freeze else len(lcd.transfers(files.log))
    time.sleep(2.5)
    after = lcd.transfers(files.log)[logged:]
    assert display_on(files) is False and not any(lcd.Display(files.state).glyphs), \
        f"{freeze} s frozen: the display came back ({[call[2:] for call in after][:40]}...)"
    assert not any(starts_with(after[i:], set_up) for i in range(len(after))), f"{freeze} s frozen: set up again"


def test_display_returns_after_a_sleep(running):
    files, pid, fresh, fresh_glyphs = running
    fresh_set_up, fresh_rows = split_start(fresh)
    power_off(files)
    logged = frozen(pid, 12, files.log)

    # Within two cycles the whole screen is there again.
    def whole_screen():
        with contextlib.suppress(OSError, AssertionError, ValueError, KeyError):
            shown = lcd.Display(files.state)
            return display_on(files) and re.fullmatch(ROW0, shown.text(0)) and shown.glyphs == fresh_glyphs
    assert until(2.5, whole_screen), f"display after the wake: on {display_on(files)}, {lcd.Display(files.state).rows}"

    # And a second time about five seconds later, as the box may come back late.
    def redrawn():
        return [cycle for cycle in cycles(lcd.transfers(files.log)[logged:]) if starts_with(cycle, fresh_set_up)]
    until(8, lambda: len(redrawn()) >= 2, 0.2)
    woken = cycles(lcd.transfers(files.log)[logged:])
    drawn = [cycle for cycle in woken if starts_with(cycle, fresh_set_up)]
    assert len(drawn) == 2 and woken[0] == drawn[0], \
        f"{len(drawn)} full redraws in {len(woken)} cycles after the wake; the first began {woken[:1] and woken[0][:3]}"
    for which, cycle in zip(("first", "second"), drawn):
        check_rows(split_start(cycle)[1], fresh_rows, f"in the {which} redraw")
    apart = drawn[1][0].ms - drawn[0][0].ms
    assert 4500 <= apart <= 7500, f"second redraw {apart} ms after the first"
    print(f"\nwake: fresh start {len(fresh)} calls; redraws {len(drawn[0])} and {len(drawn[1])} calls, "
          f"{apart} ms apart")
