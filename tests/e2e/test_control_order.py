"""A stop or a shutdown handed to the service's own ServiceMain and
ControlHandler (tests/wine/service_driver.exe) while its start is pending,
which no manager does, or while it runs: the states it reports stay in order,
and a shutdown leaves its notice on the LCD before STOPPED and nothing after."""
import re

import pytest

import lcd
from programs import Installed

# state/accepted controls/exit code of each report: start pending and stop
# pending take no control, running takes stop, shutdown and power events.
DURING_START = ["2/0/0", "3/0/0", "1/0/0"]
WHILE_RUNNING = ["2/0/0", "4/69/0", "3/0/0", "1/0/0"]


@pytest.mark.parametrize("control, when, reports", [("stop", "starting", DURING_START),
                                                     ("shutdown", "starting", DURING_START),
                                                     ("shutdown", "1500", WHILE_RUNNING)],
                         ids=["stop-starting", "shutdown-starting", "shutdown-running"])
def test_states_in_order_and_the_notice_before_stopped(prefix, control, when, reports):
    files = Installed(prefix, "order")
    rc, out = files.run("service_driver.exe", control, when)
    assert rc == 0 and "returned 1" in out and re.search(r"^reports (.*)$", out, re.M)[1].split() == reports, out
    if control == "stop":
        assert not files.log.exists(), "a stop during the start let the box library load"
        return
    shown = lcd.Display(files.dir / "lcd-at-stopped.txt")
    assert shown.on and shown.rows == [lcd.NOTICE_ROW, lcd.BLANK_ROW], f"at STOPPED: {shown.rows}"
    assert shown.calls == len(lcd.transfers(files.log)), "the LCD was written after STOPPED"
