#!/usr/bin/python3
"""Other work on the machine, beside a test run: the load the test command
must give the same verdict under.

    tests/load_maker.py [--mib 300] [--per-second 4] [--busy 0.5] [-- command ...]
    tests/load_maker.py --hold-load 45 | --hold-mib N [--mib M] [--busy S] [-- command ...]

One process takes a block of private memory (every page touched, as a
program's own) and gives it back, `--per-second` times a second; another
keeps one processor busy for the `--busy` share of every tenth of a second
(`--mib 0`, `--busy 0`: not at all).

`--hold-load P` holds memory steadily instead, a desktop in use: enough,
measured once before the command starts, to bring the memory load
(100 * (MemTotal - MemAvailable) / MemTotal of /proc/meminfo) to P %, and
keeps it; `--hold-mib N` holds N MiB. Never so much that less than 2 GiB
stays available. With a hold, the churn and the busy processor run only
when asked for.

With a command, the load runs beside it and ends with it, and the command's
exit code is this one's; without, the load runs until Ctrl-C.
"""
import argparse
import mmap
import multiprocessing
import re
import signal
import subprocess
import sys
import time


def churn_memory(mib, per_second):
    """Holds `mib` MiB for half of each period and lets it go for the other half."""
    half = 0.5 / per_second
    while True:
        block = mmap.mmap(-1, mib << 20, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | mmap.MAP_POPULATE)
        time.sleep(half)
        block.close()
        time.sleep(half)


def meminfo(field):
    return int(re.search(rf"^{field}:\s+(\d+) kB", open("/proc/meminfo").read(), re.M)[1]) << 10


def memory_load():
    return 100 * (1 - meminfo("MemAvailable") / meminfo("MemTotal"))


def hold_memory(mib, ready):
    """Takes `mib` MiB, every page touched, and keeps it until ended."""
    held = mib > 0 and mmap.mmap(-1, mib << 20, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | mmap.MAP_POPULATE)
    ready.set()
    while held is not None:   # until the worker is ended
        signal.pause()


def mib_to_hold(args):
    """The MiB --hold-load or --hold-mib asks for, within what the machine spares, and a line saying so."""
    total, available = meminfo("MemTotal") >> 20, meminfo("MemAvailable") >> 20
    wanted = args.hold_mib if args.hold_load is None else int(total * args.hold_load / 100) - (total - available)
    mib = max(0, min(wanted, available - 2048))
    spared = f" (of {wanted} MiB asked: 2 GiB stay available)" if 0 < mib < wanted else ""
    return mib, (f"holding {mib} MiB steadily{spared}" if mib > 0 else "nothing held") + \
        f", memory load {memory_load():.1f} % before"


def keep_busy(share):
    """Spins for `share` of every 100 ms and sleeps the rest."""
    while True:
        until = time.monotonic() + 0.1 * share
        while time.monotonic() < until:
            pass
        time.sleep(0.1 * (1 - share))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int)
    parser.add_argument("--per-second", type=float, default=4)
    parser.add_argument("--busy", type=float)
    hold = parser.add_mutually_exclusive_group()
    hold.add_argument("--hold-load", type=float, metavar="PERCENT")
    hold.add_argument("--hold-mib", type=int, metavar="MIB")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    holding = args.hold_load is not None or args.hold_mib is not None
    mib = args.mib if args.mib is not None else 0 if holding else 300
    busy = args.busy if args.busy is not None else 0 if holding else 0.5
    # Ended by a signal, it ends its workers too (through the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    workers, lines = [], []
    if holding:
        held, line = mib_to_hold(args)
        ready = multiprocessing.Event()
        workers.append(multiprocessing.Process(target=hold_memory, args=(held, ready), daemon=True))
        lines.append(line)
    if mib:
        workers.append(multiprocessing.Process(target=churn_memory, args=(mib, args.per_second), daemon=True))
        lines.append(f"{mib} MiB taken and given back {args.per_second:g} times a second")
    if busy:
        workers.append(multiprocessing.Process(target=keep_busy, args=(busy,), daemon=True))
        lines.append(f"one processor {busy:.0%} busy")
    for worker in workers:
        worker.start()
    if holding and not ready.wait(300):
        print("load: the memory was not taken within 300 s", file=sys.stderr)
        return 1
    print("load: " + "; ".join(lines) + (f"; memory load now {memory_load():.1f} %" if holding else ""),
          file=sys.stderr, flush=True)
    try:
        if command:
            return subprocess.call(command)
        signal.pause()
    except KeyboardInterrupt:
        return 130
    finally:
        for worker in workers:
            worker.terminate()
            worker.join()


if __name__ == "__main__":
    sys.exit(main())
