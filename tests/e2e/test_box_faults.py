"""The service with a box that takes 50 ms a call, or hangs 30 s in every call
(a box-fault.txt beside the stand-in library): it still starts, keeps
running, stops within its 3000 ms wait hint and shuts down in time; a hung
call is given up, never written over. (A box whose calls fail at once is no
case of its own: the service never reads what uio_out answers, so such a box
runs the same path as a healthy one.)"""
import time

import pytest

import lcd
from programs import Installed, Service
from wine import until

HANG = "stall 30000"


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
        latency, returned = files.drive("shutdown", 1700)
        assert returned and latency < 3000, f"box '{mode}': shutdown handled in {latency} ms, returned {returned}"
    # Every call takes 30 s: a notice written over the stuck transfer would
    # have held the handler that long, and no call returned in either run.
    assert mode != HANG or (lcd.transfers(files.log) == [] and not files.state.exists()), "a call reached the box"
