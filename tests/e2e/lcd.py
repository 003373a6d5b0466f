"""The emulated LCD as the stand-in vbausbio.dll publishes it beside itself:
lcd-state.txt (what the display shows, replaced whole after every call) and
lcd-transfers.log (one line a call: pid selector value latch).

Every reader here refuses what is not there or not well formed, so that no
check can pass on a missing figure.
"""
import re
import time

# Rows as the display shows them: the notice left at shutdown ("function
# stopped" in half-width katakana, code page 932 bytes) and a blank row.
NOTICE_ROW = bytes.fromhex("20b7c9b3c3b2bcc1adb3202020202020")
BLANK_ROW = b" " * 16
# Character-generator RAM of the three bar glyphs, 8 rows each: memory bar
# (dotted upper stripe), processor bar (solid lower stripe), both.
BAR_GLYPHS = bytes.fromhex("001515000000000000000000001b1b0000151500001b1b00")


class Display:
    """One reading of lcd-state.txt."""

    def __init__(self, text):
        fields = dict(line.split(" ", 1) for line in text.splitlines() if " " in line)
        rows = [fields.get("row0", ""), fields.get("row1", "")]
        if not all(re.fullmatch(r"[0-9a-f]{32}", row) for row in rows):
            raise AssertionError(f"display state without two 16-cell rows: {text!r}")
        self.rows = [bytes.fromhex(row) for row in rows]
        self.glyphs = bytes.fromhex(fields.get("glyphs", ""))
        self.calls = int(fields["calls"])

    def text(self, row):
        return self.rows[row].decode("cp932", errors="replace")


def read_display(path):
    return Display(path.read_text(encoding="ascii"))


def wait_for_display(path, ready, seconds):
    """The first display reading for which ready(display) holds, else None."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if path.exists():
            try:
                display = read_display(path)
                if ready(display):
                    return display
            except (OSError, AssertionError, ValueError, KeyError):
                pass   # replaced between the test's look and its read
        time.sleep(0.05)
    return None


def transfers(path):
    """The calls logged so far: (pid, selector, value, latch) each."""
    calls = []
    for line in path.read_text(encoding="ascii").splitlines():
        fields = line.split()
        if len(fields) != 4 or not all(re.fullmatch(r"-?\d+", f) for f in fields):
            raise AssertionError(f"malformed transfer line {line!r}")
        calls.append(tuple(int(f) for f in fields))
    return calls


def bar_cells(row):
    """Cells of the processor and of the memory bar on row 1: glyph 1 is the
    processor bar, 0 the memory bar and 2 both; both bars start at the left."""
    processor = sum(1 for cell in row if cell in (1, 2))
    memory = sum(1 for cell in row if cell in (0, 2))
    return processor, memory


def cells_for(percent):
    """Cells of a 16-cell bar for a percentage: rounded down."""
    return max(0, min(16, int(percent * 16 // 100)))
