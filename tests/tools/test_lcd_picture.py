"""The pictures of the emulated LCD, checked dot for dot against glyph rows
written here from the controller's datasheet (row bytes top to bottom, bit 4
the left dot), not read from the ROM package the pictures are drawn from.
Run with /usr/bin/python3 -m pytest tests/tools: they need no Wine."""
import os
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import Image

TOOLS = Path(__file__).resolve().parents[2] / "tools"
sys.path.insert(0, str(TOOLS))
import lcdpicture  # noqa: E402
import lcdreplay  # noqa: E402

DATASHEET = {0x41: "0E 11 11 11 1F 11 11 00",   # A
             0x30: "0E 11 13 15 19 11 0E 00",   # 0
             0xB7: "04 1F 04 1F 04 04 04 00"}   # half-width katakana ki
# The monitor's glyph for both bars, put into glyph RAM at code 2.
BOTH_BARS = "00 15 15 00 00 1B 1B 00"
DRIVEN = lcdpicture.COLOURS[lcdpicture.DEFAULT_COLOURS][2]


def write_state(path, row0, row1, display=1, glyphs=bytes(64)):
    path.write_text(f"calls 1\ndisplay {display}\ncontrol 9\naddress 0 ddram\n"
                    f"row0 {row0.hex()}\nrow1 {row1.hex()}\nglyphs {glyphs.hex()}\n", encoding="ascii")
    return path


def dots_in_png(png, row, column):
    """The cell's dots as row bytes, read from the picture's pixels."""
    image = Image.open(png).convert("RGB")
    half = lcdpicture.DOT // 2
    return " ".join(
        "%02X" % sum(0x10 >> x for x in range(5)
                     if image.getpixel(tuple(p + half for p in lcdpicture.dot_origin(row, column, y, x))) == DRIVEN)
        for y in range(8))


def bars_in_glyph_ram():
    return bytes(16) + bytes.fromhex(BOTH_BARS) + bytes(40)


def test_rom_cells_are_the_datasheet_glyphs(tmp_path):
    row0 = b"A0" + b" " * 14
    row1 = b" " * 15 + b"\xb7"
    png = tmp_path / "lcd.png"
    lcdpicture.save_png(write_state(tmp_path / "lcd-state.txt", row0, row1), png)
    assert Image.open(png).size == (lcdpicture.WIDTH, lcdpicture.HEIGHT)
    assert dots_in_png(png, 0, 0) == DATASHEET[0x41]
    assert dots_in_png(png, 0, 1) == DATASHEET[0x30]
    assert dots_in_png(png, 1, 15) == DATASHEET[0xB7]
    assert dots_in_png(png, 0, 2) == "00 00 00 00 00 00 00 00"


def test_glyph_ram_cell_and_its_mirror(tmp_path):
    """Codes 2 and 10 both show glyph 2 of glyph RAM."""
    png = tmp_path / "lcd.png"
    state = write_state(tmp_path / "lcd-state.txt", b" " * 16, bytes([2, 10]) + b" " * 14, glyphs=bars_in_glyph_ram())
    lcdpicture.save_png(state, png)
    assert dots_in_png(png, 1, 0) == BOTH_BARS
    assert dots_in_png(png, 1, 1) == BOTH_BARS


def test_display_off_drives_no_dot(tmp_path):
    png = tmp_path / "lcd.png"
    # 0xFF is the ROM's solid block: every dot, were the display on.
    state = write_state(tmp_path / "lcd-state.txt", b"\xff" * 16, bytes([2]) * 16, display=0,
                        glyphs=bars_in_glyph_ram())
    lcdpicture.save_png(state, png)
    colours = {colour for _, colour in Image.open(png).convert("RGB").getcolors()}
    assert colours and DRIVEN not in colours


def test_braille_view_shows_the_cell_dots():
    """The terminal view of "A" at column 0, decoded with braille's own dot
    numbering: dots 1, 2, 3, 7 down the left column, 4, 5, 6, 8 down the right."""
    screen = lcdpicture.Screen(True, (b"A" + b" " * 15, b" " * 16), bytes(64))
    lines = lcdpicture.braille_lines(screen)
    assert [len(line) for line in lines] == [48] * 5
    bits = ((0x01, 0x08), (0x02, 0x10), (0x04, 0x20), (0x40, 0x80))
    dots = [[(ord(lines[y // 4][x // 2]) - 0x2800) & bits[y % 4][x % 2] != 0 for x in range(6)] for y in range(8)]
    assert " ".join("%02X" % sum(0x10 >> x for x in range(5) if row[x]) for row in dots) == DATASHEET[0x41]
    assert not any(row[5] for row in dots)   # the gap to the next cell


def test_replay_gives_one_frame_per_cycle(tmp_path):
    """A log of three monitor cycles of one process, then a second process
    (a fresh model, display off until it is switched on): four frames."""
    start = ["1 8 0", "3 56 1", "3 12 1", "3 1 1", "3 6 1", "3 128 1", "1 9 0", "3 65 1"]   # on, clear, "A"
    cycle2 = ["1 8 0", "3 129 1", "1 9 0", "3 48 1"]   # "0" at column 1
    cycle3 = ["1 8 0", "3 192 1", "1 9 0", "3 183 1"]   # "ｷ" at row 1 column 0
    other = ["1 8 0", "3 56 1"]
    lines = [f"{1000 + i} 40 {call}" for i, call in enumerate(start)]
    lines += [f"{2010 + i} 40 {call}" for i, call in enumerate(cycle2)]
    lines += [f"{3020 + i} 40 {call}" for i, call in enumerate(cycle3)]
    lines += [f"{9000 + i} 41 {call}" for i, call in enumerate(other)]
    log = tmp_path / "lcd-transfers.log"
    log.write_text("\n".join(lines) + "\n9100 41 3", encoding="ascii")   # the last line cut short
    frames = lcdreplay.replay(lcdreplay.read_log(log))
    assert [frame.ms for frame in frames] == [1000, 2010, 3020, 9000]
    assert [frame.screen.rows[0][:2] for frame in frames[:3]] == [b"A ", b"A0", b"A0"]
    assert frames[2].screen.rows[1][0] == 0xB7 and frames[2].screen.display_on
    assert not frames[3].screen.display_on
    gif = tmp_path / "replay.gif"
    lcdreplay.save_gif(frames, gif)
    with Image.open(gif) as image:
        assert image.n_frames == 4


@pytest.mark.parametrize("term", ["dumb", "xterm"])
def test_live_view_falls_back_to_the_text_box_on_a_dumb_terminal(tmp_path, term):
    state = write_state(tmp_path / "lcd-state.txt", b"12/08 12:30 312M", b" " * 16)
    env = dict(os.environ, TERM=term, LC_ALL="C.UTF-8", COLUMNS="80", LINES="24")
    shown = subprocess.run([sys.executable, str(TOOLS / "lcdview.py"), str(state), "--once"], env=env,
                           capture_output=True, text=True, timeout=30).stdout
    if term == "dumb":
        assert "|12/08 12:30 312M|" in shown and "TERM=dumb" in shown
    else:
        assert shown.startswith("\u250c") and "12/08" not in shown
