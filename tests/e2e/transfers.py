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
    runs = []
    register = None
    first_run = None
    for index, (_, selector, value, latch) in enumerate(calls):
        if index == since:
            first_run = len(runs)
        if selector == 1 and latch == 0:
            register = value
        elif selector == 3 and latch == 1:
            if register == 8:
                runs.append((value & 0x7F, 0) if value & 0x80 else (None, value))
            elif register == 9 and runs and runs[-1][0] is not None:
                runs[-1] = (runs[-1][0], runs[-1][1] + 1)
            else:
                runs.append((None, "data without a cursor move"))
        else:
            runs.append((None, f"call {selector} {value} {latch}"))
    # A text begun before the span is left out with its run.
    return [] if first_run is None else runs[first_run:]


def screen_write_faults(runs, top_rewrites=None):
    """What is wrong with a span of the monitor's own cycles: only whole
    rewrites of the top text (11 bytes from column 0) and of the memory text
    (5 bytes from column 11), and single cells of row 1; with top_rewrites,
    exactly that many of the top text. Empty when all is right."""
    faults = []
    tops = [run for run in runs if run[0] == 0x00]
    if top_rewrites is not None and len(tops) != top_rewrites:
        faults.append(f"{len(tops)} top text rewrites, not {top_rewrites}")
    for address, count in runs:
        whole_text = {0x00: 11, 0x0B: 5}.get(address)
        if whole_text is not None:
            if count != whole_text:
                faults.append(f"{count} bytes written from column {address}")
        elif address is None or not (0x40 <= address < 0x50) or count != 1:
            faults.append(f"unexpected write {address!r}: {count!r}")
    return faults
