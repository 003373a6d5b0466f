"""The display comes back by itself after the machine slept.

A sleep is played under Wine as the two things the service meets after one:
the LCD lost its supply (an lcd-power-off file beside the stand-in library
makes the emulated HD44780 forget everything at once), and the service's
process stood still for a long while (SIGSTOP, then SIGCONT). The service
must set the LCD up, define its glyphs and draw both rows again with the
bytes a fresh start sends, and draw all of it once more some seconds later;
a short freeze draws nothing afresh, and neither does a power loss without
any gap (that one needs the service restarted, as the notes say). A box that
comes up late at boot is played by a power loss just after the first screen:
the redraw armed at the start, 5 s after it, brings it back (the one 30 s
after it, armed the same way, is left to the host tests of the rule).
"""
import contextlib
import os
import re
import signal
import time

import pytest

import lcd
import transfers
from programs import Installed, Service
from wine import until

ROW0 = r"\d\d/\d\d \d\d:\d\d *\d{1,4}[MG]"


def display_on(files):
    """Whether the emulated display is switched on; None when unreadable."""
    with contextlib.suppress(OSError, AssertionError, ValueError, KeyError):
        return lcd.Display(files.state).on
    return None


def set_up(cycle):
    """What a cycle sent before drawing: its instructions other than cursor
    moves, and the glyph bytes."""
    return cycle.instructions, cycle.glyph_writes


def check_drawing(cycle, fresh, when):
    """The set-up and glyphs sent as at the fresh start, both texts of row 0
    written as then, and each bar on row 1 drawn cell by cell from the first
    column to what the row shows."""
    assert set_up(cycle) == set_up(fresh), f"set-up {when}: {set_up(cycle)}, at a fresh start {set_up(fresh)}"
    row0 = [(address, len(text)) for address, text in cycle.writes if text and address < 0x40]
    assert row0 == [(address, len(text)) for address, text in fresh.writes if text and address < 0x40], when
    cells = [address - 0x40 for address, text in cycle.writes if text and address >= 0x40]
    bars = transfers.bars(cycle.rows[1], cycle.glyphs)
    assert sorted(cells) == sorted([*range(bars[0]), *range(bars[1])]), f"row 1 {when}: cells {cells}, bars {bars}"


@pytest.fixture(scope="module")
def running(prefix):
    """The service started once for the module: (its files, its Linux pid,
    its first cycle, the glyphs it defined)."""
    with Service(Installed(prefix, "wake")) as service:
        pid = service.start()
        lcd.first_screen(service.files)
        fresh = transfers.cycles(lcd.transfers(service.files.log))[0]
        check_drawing(fresh, fresh, "at a fresh start")
        glyphs = lcd.Display(service.files.state).glyphs
        assert any(glyphs), "no glyphs defined at the start"
        yield service.files, pid, fresh, glyphs


def power_off(files):
    """Takes the emulated LCD's supply away and waits until it shows."""
    (files.dir / "lcd-power-off").write_text("")
    blank = until(30, lambda: display_on(files) is False and not (files.dir / "lcd-power-off").exists())
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


def redraws(calls):
    return [cycle for cycle in transfers.cycles(calls) if cycle.instructions[:1] == [transfers.RESET]]


def whole_screen(files, glyphs):
    """Whether the display is on and shows both texts and the glyphs dot for dot."""
    with contextlib.suppress(OSError, AssertionError, ValueError, KeyError):
        shown = lcd.Display(files.state)
        return shown.on and re.fullmatch(ROW0, shown.text(0)) and shown.glyphs == glyphs
    return False


def test_display_returns_when_the_box_comes_up_late(running):
    files, _, fresh, fresh_glyphs = running
    power_off(files)
    lost = time.monotonic()
    assert until(30, lambda: whole_screen(files, fresh_glyphs), 0.2), f"{lcd.Display(files.state).rows}"
    print(f"\nlate box: the whole screen {time.monotonic() - lost:.1f} s after the power loss")
    # It came back through a set-up 5 s after the start's that drew both
    # texts and both bars whole.
    drawn = redraws(lcd.transfers(files.log))
    assert len(drawn) == 2 and 5000 <= drawn[1].ms - fresh.ms < 30000, f"set-ups {[c.ms for c in drawn]}"
    check_drawing(drawn[1], fresh, f"in the redraw {drawn[1].ms - fresh.ms} ms after the start")


@pytest.mark.parametrize("freeze", [0, 4], ids=["no_gap", "short_freeze"])
def test_no_redraw_without_a_sleep(running, freeze):
    files, pid, fresh, _ = running
    power_off(files)
    logged = frozen(pid, freeze, files.log) if freeze else len(lcd.transfers(files.log))
    time.sleep(2.5)
    after = lcd.transfers(files.log)[logged:]
    # Nothing sets the display up again but a redraw armed 30 s after the
    # start or a wake, should this run reach one.
    armed = [cycle for cycle in redraws(after) if cycle.ms >= fresh.ms + 30000][:1]
    assert [cycle for cycle in redraws(after) if cycle not in armed] == [], f"{freeze} s frozen: set up again"
    assert display_on(files) is bool(armed) and any(lcd.Display(files.state).glyphs) is bool(armed), \
        f"{freeze} s frozen: the display came back ({[call[2:] for call in after][:40]}...)"


def test_display_returns_after_a_sleep(running):
    files, pid, fresh, fresh_glyphs = running
    power_off(files)
    logged = frozen(pid, 12, files.log)

    # Within two cycles the whole screen is there again.
    assert until(60, lambda: whole_screen(files, fresh_glyphs)), \
        f"display after the wake: on {display_on(files)}, {lcd.Display(files.state).rows}"

    # And a second time about five seconds later, as the box may come back late.
    until(60, lambda: len(redraws(lcd.transfers(files.log)[logged:])) >= 2, 0.2)
    woken = transfers.cycles(lcd.transfers(files.log)[logged:])
    drawn = redraws(lcd.transfers(files.log)[logged:])
    assert len(drawn) == 2 and woken[0] == drawn[0], \
        f"{len(drawn)} full redraws in {len(woken)} cycles after the wake; the first {woken[:1]}"
    for which, cycle in zip(("first", "second"), drawn):
        check_drawing(cycle, fresh, f"in the {which} redraw")
    apart = drawn[1].ms - drawn[0].ms
    assert 4500 <= apart <= 7500, f"second redraw {apart} ms after the first"
    # Between and after them, every cycle wrote only what changed.
    transfers.check_only_changes(woken)
    print(f"\nwake: redraws {apart} ms apart")
