"""What the emulated LCD showed over time, replayed from lcd-transfers.log.

Each line of the log is one call of the box library, "ms pid selector value
latch": uio_out(1, c, 0) puts c on the LCD's control lines (8 instruction
register, 9 data register), uio_out(3, b, 1) latches byte b into the
selected register. The calls go through a model of the HD44780 in 8-bit
mode. The stand-in library keeps one model per process that loads it, each
starting as the controller does at power-on, so a new pid starts a fresh
model here too.

Frames: the monitor writes in bursts, once a cycle (about a second apart),
and a cycle in which nothing changed writes nothing. A pause of more than
FRAME_GAP_MS between two calls closes a frame; it is shown until the next
frame's first call. Splitting at second boundaries of the time column would
cut a burst that straddles one in two and show half-written screens.
"""
import collections
from pathlib import Path

from lcdpicture import COLUMNS, Screen

FRAME_GAP_MS = 300
ROW_LENGTH, ROW1_BASE = 40, 0x40   # each display line holds 40 characters

Call = collections.namedtuple("Call", "ms pid selector value latch")
Frame = collections.namedtuple("Frame", "ms screen")


class Hd44780:
    """The controller's registers and memories, as the instructions the
    monitor and the notice use (and the rest of the set) change them."""

    def __init__(self):
        self.display_ram = bytearray(b" " * 0x80)   # spaces after power-on
        self.glyph_ram = bytearray(64)
        self.address, self.glyph_mode = 0, False
        self.increment, self.shift, self.display_shift = True, False, 0
        self.display_on, self.control = False, 0

    def call(self, selector, value, latch):
        if selector == 1 and latch == 0:
            self.control = value
        elif selector == 3 and latch == 1:
            (self.data if self.control & 1 else self.instruction)(value & 0xFF)

    def instruction(self, code):
        if code & 0x80:   # set display RAM address
            self.address, self.glyph_mode = self._wrap(code & 0x7F), False
        elif code & 0x40:   # set glyph RAM address
            self.address, self.glyph_mode = code & 0x3F, True
        elif code & 0x20:   # function set: bus width, lines, font do not change the picture
            pass
        elif code & 0x10:   # cursor or display shift
            if code & 0x08:
                self.display_shift = (self.display_shift + (-1 if code & 0x04 else 1)) % ROW_LENGTH
            elif not self.glyph_mode:
                self.address = self._step(self.address, bool(code & 0x04))
        elif code & 0x08:   # display on/off
            self.display_on = bool(code & 0x04)
        elif code & 0x04:   # entry mode
            self.increment, self.shift = bool(code & 0x02), bool(code & 0x01)
        elif code & 0x02:   # return home
            self.address, self.glyph_mode, self.display_shift = 0, False, 0
        elif code & 0x01:   # clear: spaces, home, increment
            self.display_ram[:] = b" " * 0x80
            self.address, self.glyph_mode, self.display_shift, self.increment = 0, False, 0, True

    def data(self, byte):
        if self.glyph_mode:
            self.glyph_ram[self.address] = byte & 0x1F
            self.address = (self.address + (1 if self.increment else -1)) & 0x3F
            return
        self.display_ram[self.address] = byte
        self.address = self._step(self.address, self.increment)
        if self.shift:
            self.display_shift = (self.display_shift + (1 if self.increment else -1)) % ROW_LENGTH

    @staticmethod
    def _wrap(address):
        """Where the controller puts an address past the 40 cells of a line."""
        row, column = divmod(address, ROW1_BASE)
        return row * ROW1_BASE + (column - ROW_LENGTH) % ROW_LENGTH if column >= ROW_LENGTH else address

    @staticmethod
    def _step(address, forward):
        """The next (or previous) cell: past one line's end the other line."""
        row, column = divmod(address, ROW1_BASE)
        column += 1 if forward else -1
        if not 0 <= column < ROW_LENGTH:
            row, column = row ^ 1, column % ROW_LENGTH
        return row * ROW1_BASE + column

    def screen(self):
        rows = tuple(bytes(self.display_ram[base + (column + self.display_shift) % ROW_LENGTH]
                           for column in range(COLUMNS)) for base in (0, ROW1_BASE))
        return Screen(self.display_on, rows, bytes(self.glyph_ram))


def read_log(path):
    """The calls of a transfer log; a line cut short by a writer still at
    work is left out."""
    calls = []
    for line in Path(path).read_text(encoding="ascii", errors="replace").splitlines():
        fields = line.split()
        if len(fields) == 5 and all(field.lstrip("-").isdigit() for field in fields):
            calls.append(Call(*map(int, fields)))
    return calls


def replay(calls, gap_ms=FRAME_GAP_MS):
    """The frames of a run of calls: (ms of the frame's first call, the
    screen after its last call), one per burst of calls."""
    models, frames, first_ms = {}, [], None
    for index, call in enumerate(calls):
        if first_ms is None:
            first_ms = call.ms
        model = models.setdefault(call.pid, Hd44780())
        model.call(call.selector, call.value, call.latch)
        following = calls[index + 1] if index + 1 < len(calls) else None
        if following is None or following.ms - call.ms > gap_ms:
            frames.append(Frame(first_ms, model.screen()))
            first_ms = None
    return frames


def save_gif(frames, gif_file, colours=None, last_frame_ms=2000):
    """Writes the frames as an animated GIF, each shown until the next one
    began (the last one for last_frame_ms)."""
    from lcdpicture import DEFAULT_COLOURS, picture

    if not frames:
        raise ValueError("no frames to animate")
    images = [picture(frame.screen, colours or DEFAULT_COLOURS) for frame in frames]
    durations = [max(20, later.ms - frame.ms) for frame, later in zip(frames, frames[1:])] + [last_frame_ms]
    Path(gif_file).parent.mkdir(parents=True, exist_ok=True)
    images[0].save(gif_file, save_all=True, append_images=images[1:], duration=durations, loop=0,
                   optimize=False, disposal=1)
