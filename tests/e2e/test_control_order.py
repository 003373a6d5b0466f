"""A stop or a shutdown handed to the service's own ServiceMain and
ControlHandler (tests/wine/service_driver.exe) while its start is pending,
which no manager does, or while it runs: the states it reports stay in order,
and a shutdown leaves its notice on the LCD before STOPPED and nothing after.
The driver also stands in for the memory status, so that the screen can show
which of its figures the service took."""
import re

import pytest

import lcd
import transfers
from programs import Installed

# state/accepted controls/exit code of each report: start pending and stop
# pending take no control, running takes stop, shutdown and power events.
DURING_START = ["2/0/0", "3/0/0", "1/0/0"]
WHILE_RUNNING = ["2/0/0", "4/69/0", "3/0/0", "1/0/0"]
# A machine with a page file: 6 GiB of 24 committed (the commit charge, what
# the screen shows), 3.5 GiB of 16 of RAM in use, load 21 %: "6144M" and a
# memory bar of three cells (a cell from each 6.25 %); "3584M" would be the
# physical memory in use.
GiB = 1 << 30
MEMORY_STATUS = f"{24 * GiB} {18 * GiB} {16 * GiB} {12 * GiB + GiB // 2} 21"


@pytest.mark.parametrize("control, when, reports", [("stop", "starting", DURING_START),
                                                     ("shutdown", "starting", DURING_START),
                                                     # long after the first screen, also on a busy machine
                                                     ("shutdown", "3000", WHILE_RUNNING)],
                         ids=["stop-starting", "shutdown-starting", "shutdown-running"])
def test_states_in_order_and_the_notice_before_stopped(prefix, control, when, reports):
    files = Installed(prefix, "order")
    (files.dir / "memory-status.txt").write_text(MEMORY_STATUS)
    rc, out = files.run("service_driver.exe", control, when)
    assert rc == 0 and "returned 1" in out and re.search(r"^reports (.*)$", out, re.M)[1].split() == reports, out
    if control == "stop":
        assert not files.log.exists(), "a stop during the start let the box library load"
        return
    shown = lcd.Display(files.dir / "lcd-at-stopped.txt")
    assert shown.on and shown.rows == [lcd.NOTICE_ROW, lcd.BLANK_ROW], f"at STOPPED: {shown.rows}"
    calls = lcd.transfers(files.log)
    assert shown.calls == len(calls), "the LCD was written after STOPPED"
    if when != "starting":
        first = transfers.cycles(calls)[0]
        memory = first.rows[0][11:], transfers.bars(first.rows[1], first.glyphs)[1]
        assert memory == (b"6144M", 3), f"the first screen's memory text and bar: {memory}"
