"""What the service sent to the LCD, decoded from the stand-in's transfer log
as an HD44780 reads it: uio_out(1, 8, 0) selects the instruction register,
uio_out(1, 9, 0) the data register, uio_out(3, byte, 1) latches a byte into
the selected one. An instruction byte with bit 7 set moves the cursor to
display address byte & 0x7F (row 0 from 0x00, row 1 from 0x40)."""


def cursor_runs(calls, since=0):
    """The data written after each cursor move from call `since` on:
    [(address, byte count)]. Any other instruction is given as (None,
    instruction byte). The calls before `since` are decoded too: a span may
    begin in the middle of a text."""
    runs, register, first_run = [], None, None
    for index, (_, _, selector, value, latch) in enumerate(calls):
        if index == since:
            first_run = len(runs)
        if selector == 1 and latch == 0:
            register = value
        elif selector == 3 and latch == 1 and register == 8:
            runs.append((value & 0x7F, 0) if value & 0x80 else (None, value))
        elif selector == 3 and latch == 1 and register == 9 and runs and runs[-1][0] is not None:
            runs[-1] = (runs[-1][0], runs[-1][1] + 1)
        else:
            runs.append((None, f"call {selector} {value} {latch} (register {register})"))
    # A text begun before the span is left out with its run.
    return [] if first_run is None else runs[first_run:]


def check_screen_writes(runs, when, top_rewrites=None):
    """Fails unless a span of the monitor's own cycles holds only whole
    rewrites of the top text (11 bytes from column 0) and of the memory text
    (5 bytes from column 11), and single cells of row 1; with top_rewrites,
    exactly that many of the top text."""
    tops = sum(address == 0x00 for address, _ in runs)
    faults = [f"{tops} top text rewrites, not {top_rewrites}"] if top_rewrites not in (None, tops) else []
    for address, count in runs:
        row1_cell = address is not None and 0x40 <= address < 0x50
        if count != {0x00: 11, 0x0B: 5}.get(address, 1 if row1_cell else None):
            faults.append(f"unexpected write {address!r}: {count!r}")
    assert not faults, f"writes {when}: {faults}"
