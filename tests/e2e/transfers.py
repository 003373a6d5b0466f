"""What the service sent to the LCD, replayed from the stand-in's transfer log
as an HD44780 reads it, written afresh here from the controller's datasheet:
uio_out(1, 8, 0) selects the instruction register and uio_out(1, 9, 0) the
data register; uio_out(3, byte, 1) latches a byte into the selected one.
Instruction 0x80 | address sets the display address (row 0 from 0x00, row 1
from 0x40), 0x40 | address the glyph RAM address; a data byte goes to the
address last set, which then moves on by one.

The log is grouped into cycles by its time column: the monitor's writes of
one cycle come within milliseconds (less than 0.9 s even on a loaded
machine), and each cycle waits a second after its last write; a cycle's
first call sets the control lines for an instruction."""
import collections

CYCLE_GAP_MS = 900
# A set-up sequence begins with the 8-bit reset instruction: the service's
# start, or the full redraw after the machine slept.
RESET = 0x30

# The three bar glyphs as the screen defines them at codes 0, 1 and 2, eight
# dot rows each from the top, five dots wide (bit 4 the leftmost): the
# memory bar a dotted stripe in dot rows 1-2, the processor bar a stripe with
# a gap in dot rows 5-6, and both stripes in a cell under both bars.
MEMORY_GLYPH = bytes([0x00, 0x15, 0x15, 0x00, 0x00, 0x00, 0x00, 0x00])
PROCESSOR_GLYPH = bytes([0x00, 0x00, 0x00, 0x00, 0x00, 0x1B, 0x1B, 0x00])
BOTH_GLYPH = bytes([0x00, 0x15, 0x15, 0x00, 0x00, 0x1B, 0x1B, 0x00])
BAR_GLYPHS = MEMORY_GLYPH + PROCESSOR_GLYPH + BOTH_GLYPH
# What a cell shows by its dots: (processor bar, memory bar).
CELL_BARS = {MEMORY_GLYPH: (False, True), PROCESSOR_GLYPH: (True, False), BOTH_GLYPH: (True, True)}

# What one cycle did: its time and that of its last call, the set-up
# instructions it sent (empty for an ordinary cycle), its display writes as
# (display address, bytes) in order, its glyph RAM writes, anything else it
# sent, and the two visible rows and the glyph RAM after it.
Cycle = collections.namedtuple("Cycle", "ms end instructions writes glyph_writes strays rows glyphs")


class Hd44780:
    """The display and glyph RAM of a 16x2 HD44780 that has seen the calls."""

    def __init__(self):
        self.ddram, self.cgram = bytearray(b" " * 128), bytearray(64)
        self.register, self.address, self.glyph_mode = None, 0, False

    def rows(self):
        return [bytes(self.ddram[0:16]), bytes(self.ddram[0x40:0x50])]

    def call(self, selector, value, latch, cycle):
        if (selector, latch) == (1, 0):
            self.register = value
        elif (selector, latch) == (3, 1) and self.register == 8:
            self.instruction(value, cycle)
        elif (selector, latch) == (3, 1) and self.register == 9:
            self.data(value, cycle)
        else:
            cycle["strays"].append(f"uio_out({selector}, {value}, {latch}) with control {self.register}")

    def instruction(self, code, cycle):
        if code & 0x80:
            self.address, self.glyph_mode = code & 0x7F, False
            cycle["writes"].append([self.address, b""])
            return
        if code & 0x40:
            self.address, self.glyph_mode = code & 0x3F, True
        elif code == 0x01:   # clear: spaces everywhere, cursor home
            self.ddram[:], self.address, self.glyph_mode = b" " * 128, 0, False
            cycle["writes"].append([0, b""])
        cycle["instructions"].append(code)

    def data(self, byte, cycle):
        if self.glyph_mode:
            self.cgram[self.address & 0x3F] = byte & 0x1F
            cycle["glyph_writes"].append(byte)
        else:
            self.ddram[self.address & 0x7F] = byte
            if cycle["writes"]:
                cycle["writes"][-1][1] += bytes([byte])
            else:
                cycle["strays"].append(f"data {byte:#04x} with no display address set in this cycle")
        self.address += 1


def cycles(calls):
    """The calls grouped into cycles, each replayed on one model."""
    model, found, current = Hd44780(), [], None
    for call in calls:
        # A cycle begins with the control lines set to the instruction
        # register for its first cursor move; a machine that stalls the
        # service between a cursor move and its bytes splits no cycle.
        if current is None or call.ms - current["ms_last"] > CYCLE_GAP_MS and call[2:] == (1, 8, 0):
            current and found.append(current)
            current = {"ms": call.ms, "instructions": [], "writes": [], "glyph_writes": [], "strays": []}
        current["ms_last"] = call.ms
        model.call(call.selector, call.value, call.latch, current)
        current["rows"], current["glyphs"] = model.rows(), bytes(model.cgram)
    current and found.append(current)
    return [Cycle(c["ms"], c["ms_last"], c["instructions"], [tuple(w) for w in c["writes"]], c["glyph_writes"], c["strays"],
                  c["rows"], c["glyphs"]) for c in found]


def bars(row, glyphs):
    """The two bar lengths a row 1 shows, (processor, memory), each cell told
    by the dots its code shows. Fails unless every one of the 16 cells is a
    space or one of the three bar glyphs dot for dot, and the cells make two
    bars that start at column 0."""
    cells = []
    for column, code in enumerate(row):
        dots = bytes(glyphs[(code & 7) * 8:(code & 7) * 8 + 8]) if code < 16 else None
        assert code == 0x20 or dots in CELL_BARS, f"row 1 column {column}: code {code:#04x} is no bar glyph ({dots})"
        cells.append((False, False) if code == 0x20 else CELL_BARS[dots])
    lengths = tuple(sum(cell[bar] for cell in cells) for bar in (0, 1))
    for bar, length in enumerate(lengths):
        assert all(cell[bar] == (column < length) for column, cell in enumerate(cells)), \
            f"row 1 {row.hex()} is not two bars from the left"
    return lengths


def check_only_changes(found):
    """Fails unless every cycle after a set-up (the first drawing, or a full
    redraw) wrote only what changed: the top text (11 cells from column 0) or
    the memory text (5 cells from column 11) only when it differs from what
    the cells held, and on row 1 exactly the cells between each bar's old and
    new length. Every set-up leaves the three bar glyphs in glyph RAM dot for
    dot. Gives the number of ordinary cycles checked."""
    faults, checked = [], 0
    for before, cycle in zip([None] + found, found):
        if cycle.instructions[:1] == [RESET] or before is None:
            faults += [f"{cycle.ms}: glyph RAM {cycle.glyphs[:24].hex()} after a set-up"] \
                if cycle.glyphs[:24] != BAR_GLYPHS else []
            continue
        checked += 1
        faults += [f"{cycle.ms}: {stray}" for stray in cycle.strays]
        faults += [f"{cycle.ms}: instruction {code:#04x}" for code in cycle.instructions]
        faults += [f"{cycle.ms}: glyph RAM written" for _ in cycle.glyph_writes[:1]]
        old, new = bars(before.rows[1], before.glyphs), bars(cycle.rows[1], cycle.glyphs)
        due = collections.Counter(c for o, n in zip(old, new) for c in range(min(o, n), max(o, n)))
        row1 = collections.Counter(address - 0x40 for address, text in cycle.writes if address >= 0x40)
        if row1 != due or any(len(text) != 1 for address, text in cycle.writes if address >= 0x40):
            faults.append(f"{cycle.ms}: row 1 cells written {dict(row1)}, bars {old} -> {new}")
        for address, text in (w for w in cycle.writes if w[0] < 0x40):
            span = {0x00: 11, 0x0B: 5}.get(address)
            if len(text) != span or before.rows[0][address:address + span] == text:
                faults.append(f"{cycle.ms}: row 0 write {text!r} at column {address} over {before.rows[0]!r}")
    assert not faults, f"writes that changed nothing or were not due: {faults[:6]}"
    return checked
