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

A replug and an announced resume: Wine's manager sends a service neither a
device event nor a power event, so service_driver.exe runs the service's own
ServiceMain and hands its registered handler a USB arrival after the
stand-in box was unplugged ("unplug <ms>" in lcd-power-off), and
PBT_APMRESUMEAUTOMATIC after a power loss; and PBT_APMSUSPEND, which leaves
the stopped notice until the resume.
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


# One run of the driver, about 27 s: the handler's answers to the controls the
# service does not act on; an arrival while the display is fine, after the
# start's own redraw 5 s after it, so that the arrival's redraws 1 s and 5 s
# later meet neither that one nor the one 30 s after the start; an unplug of
# 7 s that swallows that arrival's second redraw, with the removal at once:
# longer than a pair of redraws (5 s) that a removal could have armed, so
# that only the arrival once the box is back can explain the redraw after
# it; then a power loss and a resume, and a stop as soon as the resume's
# second redraw has begun.
EVENTS = ("wait:300 answers wait:6200 arrival wait:4500 unplug:7000 removal wait:7100 arrival "
          "wait:3200 poweroff wait:300 resume wait:3500 stop-in-redraw").split()
# Pause, continue, interrogate, parameter change, a user-defined control: 120
# (ERROR_CALL_NOT_IMPLEMENTED) but interrogate; a removal query and a suspend
# query (PBT_APMQUERYSUSPEND, 0) granted (0).
ANSWERS = "2:120 3:120 4:0 6:120 128:120 11/32769:0 13:0"
# What the service asked Windows for: its status handle as recipient,
# DEVICE_NOTIFY_SERVICE_HANDLE, a device interface filter, and the class of
# every USB device (GUID_DEVINTERFACE_USB_DEVICE).
NOTIFY = "1 1 5 a5dcbf10-6530-11d2-901f-00c04fb951ed"


def setups_after(calls, since, until=None):
    """The cycles of the calls logged after `since` (a loss of supply, or the
    start) and before `until`, replayed on an LCD powered up from scratch,
    and those among them that set the display up."""
    found = transfers.cycles([c for c in calls if c.ms > since and (until is None or c.ms < until)])
    return found, [cycle for cycle in found if cycle.instructions[:1] == [transfers.RESET]]


def test_display_returns_after_a_replug_and_a_resume(prefix):
    files = Installed(prefix, "events")
    rc, out = files.run("service_driver.exe", "events", *EVENTS, timeout=90)
    steps = [(name, int(ms)) for name, ms in re.findall(r"^(\S+) at (\d+)$", out, re.M)]
    names = [name for name, _ in steps]
    assert rc == 0 and names == ["arrival", "unplug:7000", "removal", "arrival", "poweroff", "resume"], out
    (_, fine), (_, unplugged), _, (_, arrived), (_, lost), (_, resumed) = steps
    assert re.search(r"^answers (.*)$", out, re.M)[1] == ANSWERS, out
    assert re.search(r"^notify (.*)$", out, re.M)[1] == NOTIFY and "\nunregistered 1\n" in out, out
    assert re.search(r"^reports (.*)$", out, re.M)[1].split() == ["2/0/0", "4/69/0", "3/0/0", "1/0/0"], out
    stop = re.search(r"^stop at (\d+) latency (\d+\.\d)$", out, re.M)
    assert stop and float(stop[2]) < 3000 and "returned 1" in out, f"the stop in a redraw: {out}"
    calls = lcd.transfers(files.log)

    # The arrival while the display was fine: a set-up 1 s after it and, into
    # the box that was unplugged by then, one 5 s after it (the stand-in
    # counted its calls as failed), none more; before it only the start's own
    # 5 s after the start, none for the controls answered.
    found, drawn = setups_after(calls, 0, unplugged)
    fresh = found[0]
    check_drawing(fresh, fresh, "at a fresh start")
    after = [c for c in drawn if c.ms > fine]
    assert all(c.ms - fresh.ms >= 5000 for c in drawn[1:] if c.ms < fine) and len(after) == 1 \
        and 990 <= after[0].ms - fine < 4000, f"set-ups {[c.ms - fine for c in drawn]} ms after the arrival " \
        f"with the display fine, which came {fine - fresh.ms} ms after the start"
    check_drawing(after[0], fresh, "after the arrival with the display fine")
    transfers.check_only_changes(found)
    back = lcd.Display(files.dir / "lcd-at-arrival.txt")
    failed = int(re.search(r"^failed (\d+)$", (files.dir / "lcd-at-arrival.txt").read_text(), re.M)[1])
    # Back, its LCD is off and without glyphs (what the cycles since wrote
    # into it aside) until a set-up.
    assert not back.on and not any(back.glyphs) and failed > 0, \
        f"the box back after the unplug: on {back.on}, {back.rows}, {back.glyphs.hex()}, {failed} calls failed"

    # After the replug's arrival and after the resume: the whole screen from
    # the LCD's power-up, by the set-up 1 s after the event and none before
    # it (after the replug, none armed by the removal reached the box); after
    # the resume the second set-up 5 s after it, which the stop then cut short.
    for name, since, event, until, count in (("replug", unplugged, arrived, lost, 1),
                                             ("resume", lost, resumed, None, 2)):
        found, drawn = setups_after(calls, since, until)
        late = [c.ms - event for c in drawn]
        assert len(drawn) == count and 990 <= late[0] < 4000 and (count == 1 or 5000 <= late[1] < 8000), \
            f"{name}: set-ups {late} ms after the event"
        check_drawing(drawn[0], fresh, f"after the {name}")
        whole = drawn[0]
        assert re.fullmatch(ROW0, whole.rows[0].decode("cp932")) and whole.glyphs[:24] == transfers.BAR_GLYPHS, \
            f"{name}: {whole.rows}, glyphs {whole.glyphs[:24].hex()}"
        print(f"\n{name}: supply lost at {since}, event {event - since} ms later, the whole screen "
              f"{whole.end - event} ms after the event (set-up {whole.ms - event} ms after it)")
    transfers.check_only_changes(found[found.index(drawn[0]):])
    assert drawn[1].ms <= int(stop[1]), f"the stop at {stop[1]} came before the redraw at {drawn[1].ms}"
    # The stand-in's LCD at STOPPED is the decoder's, and nothing came after.
    shown = lcd.Display(files.dir / "lcd-at-stopped.txt")
    assert (shown.rows, shown.glyphs) == (found[-1].rows, found[-1].glyphs) and shown.calls == len(calls), \
        f"at STOPPED: {shown.rows}, {shown.calls} calls; the log's {found[-1].rows}, {len(calls)} calls"


def test_suspend_leaves_the_notice_until_the_resume_draws_the_whole_screen(prefix):
    files = Installed(prefix, "suspend")
    rc, out = files.run("service_driver.exe", "events", *"wait:1500 suspend wait:3000 resume wait:3500 stop-in-redraw"
                        .split(), timeout=90)
    steps = dict((name, int(ms)) for name, ms in re.findall(r"^(\S+) at (\d+)$", out, re.M))
    assert rc == 0 and list(steps) == ["suspend", "resume"] and "returned 1" in out, out
    assert re.search(r"^reports (.*)$", out, re.M)[1].split() == ["2/0/0", "4/69/0", "3/0/0", "1/0/0"], out
    calls = lcd.transfers(files.log)
    # The handler returns once the notice is on the LCD: it is the last thing
    # before the suspend's time, and the worker holds, so nothing comes
    # after it until the resume; the LCD then shows exactly the notice.
    # The clear goes to the instruction register: its control value is
    # written first unless the worker's last transfer had left it so.
    notice = [(3, 0x01, 1), (1, 9, 0)] + [(3, byte, 1) for byte in lcd.NOTICE_ROW.rstrip()]
    before = [call[2:] for call in calls if call.ms <= steps["suspend"]]
    held = [call for call in calls if steps["suspend"] < call.ms <= steps["resume"]]
    control = [call for call in before[:-len(notice)] if call[0] == 1][-1:]
    assert before[-len(notice):] == notice and control == [(1, 8, 0)] and held == [], \
        f"at the suspend: {before[-20:]}, then {held}"
    shown = lcd.Display(files.dir / "lcd-at-resume.txt")
    assert shown.on and shown.rows == [lcd.NOTICE_ROW, lcd.BLANK_ROW], f"at the resume: {shown.rows}"
    # After the resume: the whole screen from a set-up 1 s after it, again
    # 5 s after it (cut short by the stop), every cycle between only what
    # changed.
    fresh = transfers.cycles(calls)[0]
    found, drawn = setups_after(calls, steps["resume"])
    late = [c.ms - steps["resume"] for c in drawn]
    assert len(drawn) == 2 and 990 <= late[0] < 4000 and 5000 <= late[1] < 8000, f"set-ups {late} ms after the resume"
    check_drawing(drawn[0], fresh, "after the resume")
    transfers.check_only_changes(found)
    print(f"\nsuspend: the notice in {len(notice)} calls, then none for {steps['resume'] - steps['suspend']} ms; "
          f"after the resume the whole screen "
          f"{drawn[0].end - steps['resume']} ms after it (set-up {late[0]} ms after it)")
