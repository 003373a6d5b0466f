"""What the service sent to the LCD, decoded from the stand-in's transfer log
as an HD44780 reads it: uio_out(1, 8, 0) selects the instruction register,
uio_out(1, 9, 0) the data register, uio_out(3, byte, 1) latches a byte into
the selected one. An instruction byte with bit 7 set moves the cursor to
display address byte & 0x7F (row 0 from 0x00, row 1 from 0x40)."""


def cursor_runs(calls):
    """The data written after each cursor move: [(address, byte count)].
    Any other instruction is given as (None, instruction byte)."""
    runs = []
    register = None
    for _, selector, value, latch in calls:
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
    return runs


def minute_change_faults(runs):
    """What is wrong with the writes of a span holding one minute change:
    exactly one rewrite of the top text (11 bytes from column 0), whole
    rewrites of the memory text (5 bytes from column 11; the span holds two
    or three cycles, each may change it), and single cells of row 1.
    Empty when all is right."""
    faults = []
    tops = [run for run in runs if run[0] == 0x00]
    if len(tops) != 1 or tops[0][1] != 11:
        faults.append(f"top text rewrites {tops}, not one of 11 bytes")
    memory = [run for run in runs if run[0] == 0x0B]
    if any(count != 5 for _, count in memory):
        faults.append(f"memory text rewrites {memory}")
    for address, count in runs:
        if address in (0x00, 0x0B):
            continue
        if address is None or not (0x40 <= address < 0x50) or count != 1:
            faults.append(f"unexpected write {address!r}: {count!r}")
    return faults
