"""The machine as the tests see it and load it: the figures system_probe.exe
reads inside the prefix every 20 ms, and loads on the Linux
host that Wine passes on (Wine reads processor times from /proc/stat and
memory from /proc/meminfo)."""
import bisect
import collections
import contextlib
import mmap
import os
import re
import subprocess

MIB = 1024 * 1024
# A sample every 20 ms; the probe's clock moves in 16 ms steps (Wine updates
# the tick count of all its processes that often).
PERIOD_MS, TICK_MS = 20, 16
Sample = collections.namedtuple("Sample", "at to idle busy avail phys commit")


class Watch:
    """system_probe.exe watch running inside the prefix, its samples read
    from its output file as they come."""

    def __init__(self, files, seconds):
        self.path = files.dir / "probe-watch.txt"
        with open(self.path, "wb") as out:
            self.probe = files.prefix.start("system_probe.exe", "watch", str(PERIOD_MS),
                                            str(seconds * 1000 // PERIOD_MS), cwd=files.dir, out=out)

    def samples(self):
        text = self.path.read_text(errors="replace")
        found = [Sample(*map(int, m.groups())) for m in re.finditer(
            r"^at (\d+) to (\d+) idle (\d+) busy (\d+) avail (\d+) phys (\d+) commit (\d+)$", text, re.M)]
        assert len(found) >= 10, f"system_probe watch gave {len(found)} samples: {text[:300]!r}"
        return found

    def stop(self):
        self.probe.terminate()
        self.probe.wait(10)


def around(samples, start, end, gap_ms=100):
    """The samples that show what the machine did from start to end (ms on
    the probe's clock): the last one read before it, every one in it, the
    first one read after it; a sample was read between its two times, up to
    a tick (16 ms) after the second. None where the probe did not watch it
    all: no sample on one side, or two samples that may have been read more
    than gap_ms apart (a process stalled on a loaded machine), so a change
    could have come and gone unseen between them."""
    first = bisect.bisect_right([s.to + TICK_MS for s in samples], start) - 1
    last = bisect.bisect_left([s.at for s in samples], end + TICK_MS)
    if first < 0 or last >= len(samples):
        return None
    seen = samples[first:last + 1]
    return seen if all(b.to + TICK_MS - a.at <= gap_ms for a, b in zip(seen, seen[1:])) else None


def reachable(samples, figure):
    """The lowest and highest values that a figure (a function of a sample)
    can have taken while the probe read `samples` back to back, as around()
    gives them. Between two samples it may go past both, as far as it can
    move in the time between their reads at the fastest pace the probe saw in
    these samples: a process that maps and touches 200 MiB lifts the commit
    charge by 170 MiB in 34 ms, and lets it fall as fast, between two
    samples. Where the figure barely moves, neither does this range."""
    values = [figure(s) for s in samples]
    pairs = list(zip(samples, samples[1:], values, values[1:]))
    pace = max((abs(vb - va) / max(TICK_MS, b.at - a.at) for a, b, va, vb in pairs), default=0)
    low, high = min(values), max(values)
    for a, b, va, vb in pairs:
        # Up from one and down to the other, or down and up, within the
        # longest time the two reads can lie apart.
        reach = pace * (b.to + TICK_MS - a.at)
        low, high = min(low, (va + vb - reach) / 2), max(high, (va + vb + reach) / 2)
    return low, high


@contextlib.contextmanager
def busy_processors(count=None):
    """Every processor (or `count` of them) kept busy at the lowest priority
    for the body."""
    loops = [subprocess.Popen(["nice", "-n", "19", "sh", "-c", "while :; do :; done"])
             for _ in range(os.cpu_count() or 1 if count is None else count)]
    try:
        yield
    finally:
        for loop in loops:
            loop.kill()
            loop.wait()


def meminfo(field):
    return int(re.search(rf"^{field}:\s+(\d+) kB", open("/proc/meminfo").read(), re.M)[1]) * 1024


@contextlib.contextmanager
def memory_held(step_percent):
    """Holds and touches enough memory to raise the machine's memory load by
    `step_percent` points from where it is; released when the body ends.
    Gives None, without holding anything, when the host cannot spare it
    (leaving 2 GiB available): then the reason with the figures."""
    total, available = meminfo("MemTotal"), meminfo("MemAvailable")
    size = int(total * step_percent / 100)
    if not 0 < size <= available - 2048 * MIB:
        yield (f"raising the memory load by {step_percent} points from {100 - 100 * available / total:.0f} % needs "
               f"{size // MIB} MiB of the {available // MIB} MiB available (of {total // MIB} MiB)")
        return
    # Private memory, as a program's own (shared memory would count as the
    # page cache, which Linux and Wine take for available), every page
    # brought in at once.
    held = mmap.mmap(-1, size, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | mmap.MAP_POPULATE)
    try:
        yield None
    finally:
        held.close()
