#!/usr/bin/python3
"""Shows the emulated 16x2 LCD, or writes pictures of it.

    lcdview.py <lcd-state.txt> [--label TEXT] [--note TEXT]... [--once]
                                                         live in the terminal (Ctrl-C ends)
    lcdview.py <lcd-state.txt> --png <out.png>           a picture of the display now
    lcdview.py <lcd-transfers.log> --gif <out.gif>       the run replayed, a frame a monitor cycle
    --colours yellow-green|blue                          the module's colours for --png and --gif

Live, the display is drawn dot for dot in braille characters (two dot
columns, four dot rows a character: 48 columns for the 16 cells). Where the
terminal cannot show them (not UTF-8, narrower than the picture, TERM=dumb or
not a terminal) it falls back to a text box and says why in one line.
Run it with /usr/bin/python3: the character ROM and Pillow are Debian's.
"""
import argparse
import codecs
import os
import shutil
import sys
import time

import lcdpicture
import lcdreplay

POLL_SECONDS = 0.25
WAITING = "(waiting for the display)"
# Half blocks for the text box: the upper half of a glyph (rows 0-3) and the
# lower half (rows 4-7) each lit or not.
HALF_BLOCKS = {(False, False): " ", (True, False): "\u2580", (False, True): "\u2584", (True, True): "\u2588"}
# The same for a terminal that takes only ASCII.
ASCII_HALVES = {(False, False): " ", (True, False): "'", (False, True): ".", (True, True): ":"}


def why_no_dots(term, encoding, is_terminal, columns, lines):
    """None when the terminal can show the braille picture, else why not."""
    if not is_terminal:
        return "the output is not a terminal"
    if term in ("", "dumb"):
        return f"TERM={term or '(unset)'} cannot move the cursor"
    if codecs.lookup(encoding or "ascii").name != "utf-8":
        return f"the locale's encoding is {encoding}, not UTF-8"
    need_columns, need_lines = lcdpicture.BRAILLE_WIDTH + 2, len(braille_box(blank_screen())) + 1
    if columns < need_columns or lines < need_lines:
        return f"the terminal is {columns}x{lines}, the picture needs {need_columns}x{need_lines}"
    return None


def terminal_encoding():
    """The terminal's encoding as the locale gives it. Under the C locale
    Python writes UTF-8 by itself (its UTF-8 mode), though the terminal may
    take only ASCII."""
    if sys.flags.utf8_mode and not os.environ.get("PYTHONUTF8"):
        return "ascii"
    return sys.stdout.encoding


def blank_screen():
    return lcdpicture.Screen(False, (b" " * 16, b" " * 16), lcdpicture.BLANK_GLYPHS)


def braille_box(screen):
    top = "\u250c" + "\u2500" * lcdpicture.BRAILLE_WIDTH + "\u2510"
    bottom = "\u2514" + "\u2500" * lcdpicture.BRAILLE_WIDTH + "\u2518"
    return [top] + ["\u2502" + line + "\u2502" for line in lcdpicture.braille_lines(screen)] + [bottom]


def cell_text(code, glyphs, ascii_only):
    if code < 16:
        rows = lcdpicture.cell_rows(code, glyphs)
        return (ASCII_HALVES if ascii_only else HALF_BLOCKS)[(any(rows[0:4]), any(rows[4:8]))]
    if 0xA1 <= code <= 0xDF:
        return "?" if ascii_only else bytes([code]).decode("cp932")
    if 0x20 <= code < 0x7F:
        return chr(code)
    return "\u00b7"


def text_box(screen, ascii_only=False):
    """The display as a box of characters, with the user glyphs as dots below."""
    lines = ["+" + "-" * 16 + "+"]
    for cells in screen.rows:
        if not screen.display_on:
            cells = b" " * len(cells)
        lines.append("|" + "".join(cell_text(code, screen.glyphs, ascii_only) for code in cells) + "|")
    lines.append("+" + "-" * 16 + "+")
    for code in range(3):
        art = ["".join("#" if row & (0x10 >> dot) else "." for dot in range(5))
               for row in lcdpicture.cell_rows(code, screen.glyphs)]
        lines.append(f"glyph {code}: " + " ".join(art))
    return lines


def view(path, label, why_not, notes=()):
    """The whole view: the picture (or the text box and why), the figures and
    the notes below them."""
    try:
        screen, calls = lcdpicture.read_state(path)
    except (OSError, ValueError):
        return WAITING
    ascii_only = codecs.lookup(terminal_encoding()).name == "ascii"
    lines = text_box(screen, ascii_only) + [f"(text box: {why_not})"] if why_not else braille_box(screen)
    figures = [label] if label else []
    figures += [f"transfers: {calls}", "display off" if not screen.display_on else "", "Ctrl-C ends"]
    return "\n".join(lines + ["   ".join(figure for figure in figures if figure)] + list(notes))


def live(path, label, once, notes=()):
    out = sys.stdout
    # A terminal that cannot show katakana gets '?'.
    out.reconfigure(encoding=terminal_encoding(), errors="replace")
    shown = seen = None
    moves_cursor = False
    try:
        while True:
            size = shutil.get_terminal_size((80, 24))
            # The emulator replaces the state file at every transfer: the same
            # file (inode, time) in the same terminal needs no new view.
            try:
                state = os.stat(path)
                now_seen = (state.st_ino, state.st_mtime_ns, state.st_size, size)
            except OSError:
                now_seen = None
            if now_seen is not None and now_seen == seen:
                time.sleep(POLL_SECONDS)
                continue
            seen = now_seen
            term = os.environ.get("TERM", "")
            # Shown once, the view moves no cursor: a pipe takes the dots as well.
            why_not = why_no_dots(term, terminal_encoding(), once or out.isatty(), size.columns,
                                  size.lines - len(notes))
            screen = view(path, label, why_not, notes)
            if screen == WAITING:
                seen = None
            if once:
                print(screen)
                return
            if screen != shown:
                if out.isatty() and term not in ("", "dumb"):
                    # Home and clear below: no flicker, and nothing left of a longer view.
                    out.write("\x1b[?25l\x1b[H" + screen.replace("\n", "\x1b[K\n") + "\x1b[K\n\x1b[J")
                    moves_cursor = True
                else:   # a terminal that cannot move the cursor gets each new view below the last
                    out.write(screen + "\n\n")
                out.flush()
                shown = screen
            time.sleep(POLL_SECONDS)
    except KeyboardInterrupt:
        pass
    finally:
        if moves_cursor:
            out.write("\x1b[?25h")
            out.flush()


def main():
    parser = argparse.ArgumentParser(description="The emulated LCD: live, or as PNG or animated GIF.")
    parser.add_argument("source", help="lcd-state.txt (live, --png) or lcd-transfers.log (--gif)")
    parser.add_argument("--png", help="write a PNG of the state file")
    parser.add_argument("--gif", help="write an animated GIF replayed from the transfer log")
    parser.add_argument("--colours", choices=sorted(lcdpicture.COLOURS), default=lcdpicture.DEFAULT_COLOURS)
    parser.add_argument("--label", default="", help="shown beside the transfer count (which build runs)")
    parser.add_argument("--note", action="append", default=[], help="a line shown below the view")
    parser.add_argument("--once", action="store_true", help="show the display once and end")
    args = parser.parse_args()
    try:
        if args.png:
            lcdpicture.save_png(args.source, args.png, args.colours)
        elif args.gif:
            frames = lcdreplay.replay(lcdreplay.read_log(args.source))
            lcdreplay.save_gif(frames, args.gif, args.colours)
            print(f"{len(frames)} frames, {os.path.getsize(args.gif)} bytes: {args.gif}")
        else:
            live(args.source, args.label, args.once, args.note)
    except (OSError, ValueError) as error:
        print(f"lcdview: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
