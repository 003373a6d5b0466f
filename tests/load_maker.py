#!/usr/bin/python3
"""Other work on the machine, beside a test run: the load the test command
must give the same verdict under.

    tests/load_maker.py [--mib 300] [--per-second 4] [--busy 0.5] [-- command ...]

One process takes a block of private memory (every page touched, as a
program's own) and gives it back, `--per-second` times a second; another
keeps one processor busy for the `--busy` share of every tenth of a second.
With a command, the load runs beside it and ends with it, and the command's
exit code is this one's; without, the load runs until Ctrl-C.
"""
import argparse
import mmap
import multiprocessing
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


def keep_busy(share):
    """Spins for `share` of every 100 ms and sleeps the rest."""
    while True:
        until = time.monotonic() + 0.1 * share
        while time.monotonic() < until:
            pass
        time.sleep(0.1 * (1 - share))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int, default=300)
    parser.add_argument("--per-second", type=float, default=4)
    parser.add_argument("--busy", type=float, default=0.5)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    # Ended by a signal, it ends its workers too (through the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    workers = [multiprocessing.Process(target=churn_memory, args=(args.mib, args.per_second), daemon=True),
               multiprocessing.Process(target=keep_busy, args=(args.busy,), daemon=True)]
    for worker in workers:
        worker.start()
    print(f"load: {args.mib} MiB taken and given back {args.per_second:g} times a second, "
          f"one processor {args.busy:.0%} busy", file=sys.stderr)
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
