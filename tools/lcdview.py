#!/usr/bin/env python3
"""Shows the emulated 16x2 LCD live in the terminal.

Reads the state file that the stand-in vbausbio.dll replaces after every
transfer. Half-width katakana (0xA1-0xDF) are shown as their Unicode forms;
the eight user glyphs are drawn from their glyph RAM rows, with a legend.
   lcdview.py <lcd-state.txt> [--once]
"""
import sys
import time

# Pixel rows of a 5x8 glyph, top to bottom, drawn as one character: the upper
# half of the cell (rows 0-3) and the lower half (rows 4-7) each lit or not.
HALF_BLOCKS = {(False, False): " ", (True, False): "\u2580", (False, True): "\u2584", (True, True): "\u2588"}


def cell_text(code, glyphs):
    if code < 8:
        rows = glyphs[code * 8:(code + 1) * 8]
        return HALF_BLOCKS[(any(rows[0:4]), any(rows[4:8]))]
    if 0xA1 <= code <= 0xDF:
        return bytes([code]).decode("cp932")
    if 0x20 <= code < 0x7F:
        return chr(code)
    return "\u00b7"


def read_state(path):
    state = {}
    with open(path, encoding="ascii") as handle:
        for line in handle:
            key, _, value = line.strip().partition(" ")
            state[key] = value
    return state


def render(state):
    glyphs = bytes.fromhex(state.get("glyphs", "00" * 64))
    lines = ["+" + "-" * 16 + "+"]
    for row in ("row0", "row1"):
        cells = bytes.fromhex(state.get(row, "20" * 16))
        lines.append("|" + "".join(cell_text(c, glyphs) for c in cells) + "|")
    lines.append("+" + "-" * 16 + "+")
    for code in range(3):
        art = ["".join("#" if r & (0x10 >> d) else "." for d in range(5)) for r in glyphs[code * 8:code * 8 + 8]]
        lines.append(f"glyph {code}: " + " ".join(art))
    lines.append(f"transfers: {state.get('calls', '0')}   (Ctrl-C ends)")
    return "\n".join(lines)


def main():
    path = sys.argv[1]
    once = "--once" in sys.argv
    try:
        while True:
            try:
                screen = render(read_state(path))
            except (OSError, ValueError):
                screen = "(waiting for the display)"
            if once:
                print(screen)
                return
            sys.stdout.write("\x1b[H\x1b[2J" + screen + "\n")
            sys.stdout.flush()
            time.sleep(0.25)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
