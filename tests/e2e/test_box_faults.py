"""The service with a box that fails every call, or takes 50 ms a call (a
box-fault.txt beside the stand-in library): it still starts, keeps running,
stops within its 3000 ms wait hint and shuts down in time."""
import time

import pytest

import lcd
from programs import Installed, Service
from wine import until


@pytest.mark.parametrize("mode", ["fail", "stall 50"])
def test_service_survives_a_faulty_box(prefix, mode):
    files = Installed(prefix, "fault")
    (files.dir / "box-fault.txt").write_text(mode + "\n")
    with Service(files) as service:
        service.start()
        # The fault took effect: a failing box takes no call at all (the
        # library opens its log at load, so an empty log is a loaded library
        # that was never reached); a stalling one takes each call 50 ms
        # after the one before, against milliseconds for a healthy box.
        assert until(60, lambda: files.log.exists() and (mode == "fail" or len(lcd.transfers(files.log)) >= 10))
        time.sleep(3)
        assert prefix.pids(files.service_pattern), f"box '{mode}': the service process is gone after 3 s"
        calls = lcd.transfers(files.log)
        if mode == "fail":
            assert calls == [] and not files.state.exists(), f"box 'fail' took {len(calls)} calls"
        else:
            # The log's clock is Wine's tick, which its server moves on every
            # 16 ms and, on a loaded machine, now and then later: one stamp
            # can lag, so the calls are timed over the whole run.
            span = calls[-1].ms - calls[0].ms
            assert span >= 50 * (len(calls) - 1) - 100, f"box 'stall 50' took {len(calls)} calls in {span} ms"
        service.stop()   # within the wait hint it reports
        assert prefix.gone_within(files.service_pattern, 30), f"box '{mode}': process left behind"
        latency, returned = files.drive("shutdown", 1700)
        assert returned and latency < 3000, f"box '{mode}': shutdown handled in {latency} ms, returned {returned}"
