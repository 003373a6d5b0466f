"""The emulated LCD as the stand-in vbausbio.dll publishes it beside itself:
lcd-state.txt (what the display shows, replaced whole after every call) and
lcd-transfers.log (one line a call: ms pid selector value latch, the time
from the machine's one millisecond clock, the one system_probe.exe prints).

Every reader here refuses what is not there or not well formed, so that no
check can pass on a missing figure.
"""
import collections
import contextlib
import re
import sys
import time

from wine import TOP, until

# The notice left at shutdown: "function stopped" in half-width katakana,
# as code page 932 bytes, then blanks.
NOTICE_ROW = bytes.fromhex("20b7c9b3c3b2bcc1adb3202020202020")
BLANK_ROW = b" " * 16

Call = collections.namedtuple("Call", "ms pid selector value latch")


class Display:
    """One reading of lcd-state.txt."""

    def __init__(self, path):
        text = path.read_text(encoding="ascii")
        fields = dict(line.split(" ", 1) for line in text.splitlines() if " " in line)
        rows = [fields.get("row0", ""), fields.get("row1", "")]
        if not all(re.fullmatch(r"[0-9a-f]{32}", row) for row in rows):
            raise AssertionError(f"display state without two 16-cell rows: {text!r}")
        self.rows = [bytes.fromhex(row) for row in rows]
        self.glyphs, self.calls = bytes.fromhex(fields.get("glyphs", "")), int(fields["calls"])
        self.on = fields.get("display") == "1"

    def text(self, row):
        return self.rows[row].decode("cp932", errors="replace")


def transfers(path):
    """The calls logged so far, each a Call. Read once the log has had no
    new call for 150 ms (2 s at the most), so that a running service's
    cycle is not read half written."""
    def settled():
        before = path.stat().st_size
        time.sleep(0.15)
        return path.stat().st_size == before
    until(2, settled, 0)
    lines = path.read_text(encoding="ascii").splitlines()
    malformed = [line for line in lines if not re.fullmatch(r"\d+ \d+( -?\d+){3}", line)]
    assert not malformed, f"malformed transfer lines {malformed[:3]!r}"
    return [Call(*map(int, line.split())) for line in lines]


def first_screen(files, seconds=60):
    """The display after the service's first cycle: row 0 written to its last
    cell (the memory text's unit comes last) and then no call for 150 ms, as
    the cycle's writes follow each other within milliseconds. Fails when none
    comes in time."""
    def look():
        # Not there yet, or replaced between the test's look and its read: look again.
        with contextlib.suppress(OSError, AssertionError, ValueError, KeyError):
            before = Display(files.state)
            time.sleep(0.15)
            display = Display(files.state)
            return display if display.calls == before.calls and display.text(0)[15:] in ("M", "G") else None
    shown = until(seconds, look, 0.05)
    assert shown, f"no first screen within {seconds} s"
    return shown


def save_picture(files, name):
    """A PNG of the display for people to look at, beside the build's other
    artefacts (build/<arch>/lcd/<name>.png); not a check."""
    if str(TOP / "tools") not in sys.path:
        sys.path.append(str(TOP / "tools"))
    import lcdpicture
    lcdpicture.save_png(files.state, files.prefix.build / "lcd" / f"{name}.png")
