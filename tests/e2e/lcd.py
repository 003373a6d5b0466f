"""The emulated LCD as the stand-in vbausbio.dll publishes it beside itself:
lcd-state.txt (what the display shows, replaced whole after every call) and
lcd-transfers.log (one line a call: ms pid selector value latch, the time
from the machine's one millisecond clock).

Every reader here refuses what is not there or not well formed, so that no
check can pass on a missing figure.
"""
import collections
import contextlib
import re

from wine import until

# Rows as the display shows them: the notice left at shutdown ("function
# stopped" in half-width katakana, code page 932 bytes) and a blank row.
NOTICE_ROW = bytes.fromhex("20b7c9b3c3b2bcc1adb3202020202020")
BLANK_ROW = b" " * 16
# Character-generator RAM of the three bar glyphs, 8 rows each: memory bar
# (dotted upper stripe), processor bar (solid lower stripe), both.
BAR_GLYPHS = bytes.fromhex("001515000000000000000000001b1b0000151500001b1b00")


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

    def text(self, row):
        return self.rows[row].decode("cp932", errors="replace")


def first_screen(path, seconds):
    """The first display whose row 0 is all written (the clock's first digit
    at its left and no cell still unset); fails when none comes in time."""
    def look():
        # Not there yet, or replaced between the test's look and its read: look again.
        with contextlib.suppress(OSError, AssertionError, ValueError, KeyError):
            display = Display(path)
            return display if display.text(0)[:1].isdigit() and 0 not in display.rows[0] else None
    shown = until(seconds, look, 0.05)
    assert shown, f"no first screen within {seconds} s"
    return shown


Call = collections.namedtuple("Call", "ms pid selector value latch")


def transfers(path):
    """The calls logged so far, each a Call."""
    lines = path.read_text(encoding="ascii").splitlines()
    malformed = [line for line in lines if not re.fullmatch(r"\d+ \d+( -?\d+){3}", line)]
    assert not malformed, f"malformed transfer lines {malformed[:3]!r}"
    return [Call(*map(int, line.split())) for line in lines]


def bar_cells(row):
    """Cells of the processor and of the memory bar on row 1: glyph 1 is the
    processor bar, 0 the memory bar and 2 both; both bars start at the left."""
    return sum(cell in (1, 2) for cell in row), sum(cell in (0, 2) for cell in row)


def cells_for(percent):
    """Cells of a 16-cell bar for a percentage: rounded down."""
    return max(0, min(16, int(percent * 16 // 100)))
