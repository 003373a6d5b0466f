"""The service with a box that fails every call, or takes 50 ms a call (a
box-fault.txt beside the stand-in library): it still starts, keeps running,
stops within its 3000 ms wait hint and shuts down in time."""
import time

import pytest

import lcd
from programs import Installed, Service


@pytest.mark.parametrize("mode", ["fail", "stall 50"])
def test_service_survives_a_faulty_box(prefix, mode):
    files = Installed(prefix, "fault")
    (files.dir / "box-fault.txt").write_text(mode + "\n")
    with Service(files) as service:
        began = time.monotonic()
        service.start()
        time.sleep(3)
        assert prefix.pids(files.service_pattern), f"box '{mode}': the service process is gone after 3 s"
        seconds = time.monotonic() - began
        # The fault took effect: a failing box takes no call at all (the
        # library opens its log at load, so an empty log is a loaded library
        # that was never reached); a stalling one takes one call per 50 ms,
        # against the hundred or so of a first screen within its first second.
        assert files.log.exists(), "vbausbio.dll was never loaded"
        calls = lcd.transfers(files.log)
        if mode == "fail":
            assert calls == [] and not files.state.exists(), f"box 'fail' took {len(calls)} calls"
        else:
            assert 10 <= len(calls) <= seconds * 20 + 2, f"box 'stall 50' took {len(calls)} calls in {seconds:.1f} s"
        service.stop()   # within the wait hint it reports
        assert prefix.gone_within(files.service_pattern, 4), f"box '{mode}': process left behind"
        latency, returned = files.drive("shutdown", 1700)
        assert returned and latency < 3000, f"box '{mode}': shutdown handled in {latency} ms, returned {returned}"
