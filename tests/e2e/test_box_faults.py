"""The service with a box that takes 50 ms a call, or hangs 30 s in every call
(a box-fault.txt beside the stand-in library): it still starts, keeps
running, stops within its 3000 ms wait hint and shuts down in time; a hung
call is given up, never written over. (A box whose calls fail at once is no
case of its own: the service never reads what uio_out answers, so such a box
runs the same path as a healthy one.) And a box that stalls only from a
moment after the worker ended, at a shutdown: the notice is given its deadline
on a thread of its own, and the handler returns."""
import re
import time

import pytest

import lcd
import transfers
from programs import Installed, Service
from wine import until

HANG = "stall 30000"
# The notice's deadline, and what a loaded machine may add to a handler that
# waits for it: a handler held by the box would take the stall, 5 s, or more.
NOTICE_DEADLINE_MS, MARGIN_MS = 1000, 1500


@pytest.mark.parametrize("mode", ["stall 50", HANG])
def test_service_survives_a_faulty_box(prefix, mode):
    files = Installed(prefix, "fault")
    (files.dir / "box-fault.txt").write_text(mode + "\n")
    with Service(files) as service:
        service.start()
        assert until(60, files.log.exists)   # the library opens its log at load: the service reached it
        if mode == "stall 50":
            # The whole first screen reaches a slow box, 50 ms a call (timed
            # over the run: Wine's tick, the log's clock, can lag).
            calls = lcd.first_screen(files) and lcd.transfers(files.log)
            assert calls[-1].ms - calls[0].ms >= 50 * (len(calls) - 1) - 100, f"not 50 ms a call: {calls}"
        else:
            time.sleep(3)   # the worker stuck in a call for seconds
        assert prefix.pids(files.service_pattern), f"box '{mode}': the service process is gone"
        # Within its wait hint, also with the worker stuck in a call: the
        # process then ends without waiting for the call.
        service.stop()
        assert prefix.gone_within(files.service_pattern, 10 if mode == HANG else 30), f"box '{mode}': process left"
        latency, returned, _ = files.drive("shutdown", 1700)
        assert returned and latency < 3000, f"box '{mode}': shutdown handled in {latency} ms, returned {returned}"
    # Every call takes 30 s: a notice written over the stuck transfer would
    # have held the handler that long, and no call returned in either run.
    assert mode != HANG or (lcd.transfers(files.log) == [] and not files.state.exists()), "a call reached the box"


def test_a_box_that_stalls_at_shutdown_does_not_hold_the_handler(prefix):
    files = Installed(prefix, "stall")
    # The box stalls 5 s in every call from a moment in the worker's pause
    # (it makes no call then, and ends at once at the shutdown): only the
    # notice meets the stall.
    rc, out = files.run("service_driver.exe", "events", "wait:1500", "stall-in-pause:5000", "shutdown", timeout=90)
    shutdown = re.search(r"^shutdown at \d+ latency (\d+\.\d)$", out, re.M)
    assert rc == 0 and re.search(r"^stall-in-pause:5000 at \d+$", out, re.M) and shutdown, out
    assert re.search(r"^reports (.*)$", out, re.M)[1].split() == ["2/0/0", "4/69/0", "3/0/0", "1/0/0"], out
    assert "returned 1" in out and float(shutdown[1]) < NOTICE_DEADLINE_MS + MARGIN_MS, f"the handler was held: {out}"
    # The notice was left out, nothing of it written: the LCD at STOPPED
    # shows the worker's last screen, as the transfer log has it.
    shown = lcd.Display(files.dir / "lcd-at-stopped.txt")
    calls = lcd.transfers(files.log)
    assert (shown.rows, shown.calls) == (transfers.cycles(calls)[-1].rows, len(calls)) and \
        re.fullmatch(rb"\d\d/\d\d \d\d:\d\d.*", shown.rows[0]), f"at STOPPED: {shown.rows}"
    print(f"\nshutdown over a box stalling 5 s a call: the handler returned in {shutdown[1]} ms")
