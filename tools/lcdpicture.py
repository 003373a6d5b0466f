"""Pictures of the 16x2 HD44780 module, dot for dot.

A cell is 5x8 dots. Codes 16-255 come from the controller's Japanese
character ROM (A00: ASCII, and the JIS X 0201 katakana at 0xA1-0xDF), as
Debian's python3-luma.lcd carries it; codes 0-7 and their mirrors 8-15 come
from the eight glyphs of character-generator RAM. With the display off the
controller drives no dot at all.

The same dots are drawn as a PNG or GIF frame (Pillow) and as braille
characters for the terminal (two dot columns and four dot rows a character).

    save_png(state_file, png_file)   one picture of a lcd-state.txt
"""
import collections
import functools
from pathlib import Path

from PIL import Image

COLUMNS, ROWS = 16, 2
DOT_COLUMNS, DOT_ROWS = 5, 8

# The emulator's view of what the module shows: display on/off, the two
# visible rows of cell codes and the 64 bytes of glyph RAM (8 glyphs x 8 rows,
# bit 4 the left dot).
Screen = collections.namedtuple("Screen", "display_on rows glyphs")
BLANK_GLYPHS = bytes(64)

# Picture geometry in pixels: a dot, the space between dots, between cells
# and between the rows of cells, and the glass around them. On a real module
# the dot pitch is about 0.6 mm and the cell pitch 3.55 mm: a dot's width of
# space between cells.
DOT, DOT_GAP, CELL_GAP, ROW_GAP, MARGIN = 4, 1, 4, 6, 14
DOT_PITCH = DOT + DOT_GAP
CELL_WIDTH, CELL_HEIGHT = DOT_COLUMNS * DOT_PITCH - DOT_GAP, DOT_ROWS * DOT_PITCH - DOT_GAP
CELL_PITCH_X, CELL_PITCH_Y = CELL_WIDTH + CELL_GAP, CELL_HEIGHT + ROW_GAP
WIDTH = 2 * MARGIN + COLUMNS * CELL_PITCH_X - CELL_GAP
HEIGHT = 2 * MARGIN + ROWS * CELL_PITCH_Y - ROW_GAP

# Colours of real modules: glass, a dot not driven (faintly visible on the
# glass), a dot driven.
COLOURS = {
    "yellow-green": ((0xA4, 0xC2, 0x3A), (0x98, 0xB5, 0x35), (0x20, 0x2C, 0x10)),
    "blue": ((0x1E, 0x3C, 0xC8), (0x26, 0x46, 0xD6), (0xEC, 0xF2, 0xFF)),
}
DEFAULT_COLOURS = "yellow-green"


def read_state(path):
    """The Screen of a lcd-state.txt and its call count ("display 1",
    "row0 <32 hex digits>", "row1 ...", "glyphs <128 hex digits>", "calls n").
    Raises OSError when it cannot be read, ValueError when it is malformed."""
    fields = {}
    for line in Path(path).read_text(encoding="ascii").splitlines():
        key, _, value = line.strip().partition(" ")
        fields[key] = value
    try:
        rows = tuple(bytes.fromhex(fields[f"row{row}"]) for row in range(ROWS))
        glyphs = bytes.fromhex(fields["glyphs"])
        display_on = fields["display"] == "1"
        calls = int(fields.get("calls", "0"))
    except KeyError as missing:
        raise ValueError(f"{path}: no {missing.args[0]} line") from None
    if any(len(row) != COLUMNS for row in rows) or len(glyphs) != len(BLANK_GLYPHS):
        raise ValueError(f"{path}: rows of {[len(row) for row in rows]} cells, {len(glyphs)} glyph bytes")
    return Screen(display_on, rows, glyphs), calls


@functools.lru_cache(maxsize=1)
def rom_rows():
    """The A00 character ROM: for each code 0-255 its eight row bytes, top
    to bottom, bit 4 the left dot (codes the ROM leaves empty are blank)."""
    from luma.core.bitmap_font import embedded_fonts
    from luma.lcd.const import hd44780

    font = embedded_fonts(hd44780.FONTDATA, selected_font="A00").current
    table = [bytes(DOT_ROWS)] * 256
    for code in range(16, 256):
        # luma places each ROM code at the private-use code point 0xF8000 + code.
        mask = font.getmask(chr(font.PUA_SPACE + code))
        if mask.size != (DOT_COLUMNS, DOT_ROWS):
            continue
        table[code] = bytes(sum(0x10 >> x for x in range(DOT_COLUMNS) if mask.getpixel((x, y)))
                            for y in range(DOT_ROWS))
    return table


def cell_rows(code, glyphs):
    """The eight row bytes a cell shows for a code."""
    if code < 16:
        glyph = code & 7   # codes 8-15 address the same eight glyphs again
        return glyphs[glyph * DOT_ROWS:(glyph + 1) * DOT_ROWS]
    return rom_rows()[code]


def dot_rows(screen):
    """All dots of the module: ROWS x COLUMNS cells of row bytes; all blank
    when the display is off."""
    if not screen.display_on:
        return [[bytes(DOT_ROWS)] * COLUMNS for _ in range(ROWS)]
    return [[bytes(cell_rows(code, screen.glyphs)) for code in row] for row in screen.rows]


def dot_origin(row, column, dot_row, dot_column):
    """Top-left pixel of one dot in the picture."""
    return (MARGIN + column * CELL_PITCH_X + dot_column * DOT_PITCH,
            MARGIN + row * CELL_PITCH_Y + dot_row * DOT_PITCH)


@functools.lru_cache(maxsize=512)
def _cell_tile(rows, colours):
    """One cell as a palette image (0 glass, 1 dot off, 2 dot on)."""
    tile = Image.new("P", (CELL_WIDTH, CELL_HEIGHT), 0)
    for y, bits in enumerate(rows):
        for x in range(DOT_COLUMNS):
            lit = bits & (0x10 >> x)
            tile.paste(2 if lit else 1, (x * DOT_PITCH, y * DOT_PITCH, x * DOT_PITCH + DOT, y * DOT_PITCH + DOT))
    tile.putpalette([value for colour in COLOURS[colours] for value in colour])
    return tile


def picture(screen, colours=DEFAULT_COLOURS):
    """The module as a palette image, WIDTH x HEIGHT pixels."""
    image = Image.new("P", (WIDTH, HEIGHT), 0)
    image.putpalette([value for colour in COLOURS[colours] for value in colour])
    for row, cells in enumerate(dot_rows(screen)):
        for column, rows in enumerate(cells):
            image.paste(_cell_tile(rows, colours), dot_origin(row, column, 0, 0))
    return image


def save_png(state_file, png_file, colours=DEFAULT_COLOURS):
    """Writes a PNG of what a lcd-state.txt shows, making the folder if
    needed. Raises OSError or ValueError when the state cannot be read."""
    screen, _ = read_state(state_file)
    Path(png_file).parent.mkdir(parents=True, exist_ok=True)
    picture(screen, colours).save(png_file, optimize=True)


# Braille: a character holds 2x4 dots; bit of dot (x, y) as Unicode numbers
# them (dots 1-3 and 7 down the left column, 4-6 and 8 down the right).
BRAILLE_BITS = ((0x01, 0x08), (0x02, 0x10), (0x04, 0x20), (0x40, 0x80))
# A blank dot column between cells and a blank dot row between the rows:
# 16 x 6 = 96 dot columns (48 characters), 8 + 1 + 8 = 17 dot rows (5 lines).
BRAILLE_WIDTH = COLUMNS * (DOT_COLUMNS + 1) // 2


def braille_lines(screen):
    """The module as lines of braille characters, BRAILLE_WIDTH wide."""
    grid = []
    for row, cells in enumerate(dot_rows(screen)):
        if row:
            grid.append([False] * (COLUMNS * (DOT_COLUMNS + 1)))
        for y in range(DOT_ROWS):
            line = []
            for rows in cells:
                line += [bool(rows[y] & (0x10 >> x)) for x in range(DOT_COLUMNS)] + [False]
            grid.append(line)
    while len(grid) % 4:
        grid.append([False] * len(grid[0]))
    lines = []
    for top in range(0, len(grid), 4):
        chars = []
        for left in range(0, len(grid[0]), 2):
            bits = sum(BRAILLE_BITS[y][x] for y in range(4) for x in range(2) if grid[top + y][left + x])
            chars.append(chr(0x2800 + bits))
        lines.append("".join(chars))
    return lines
