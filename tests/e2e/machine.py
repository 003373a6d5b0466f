"""The machine as the tests see it and load it: the figures system_probe.exe
reads inside the prefix a tenth of a second apart, and loads on the Linux
host that Wine passes on (Wine reads processor times from /proc/stat and
memory from /proc/meminfo)."""
import collections
import contextlib
import mmap
import os
import re
import subprocess

MIB = 1024 * 1024
Sample = collections.namedtuple("Sample", "at idle busy load commit")


class Watch:
    """system_probe.exe watch running inside the prefix, its samples read
    from its output file as they come."""

    def __init__(self, files, seconds):
        self.path = files.dir / "probe-watch.txt"
        with open(self.path, "wb") as out:
            self.probe = files.prefix.start("system_probe.exe", "watch", "100", str(seconds * 10), cwd=files.dir,
                                            out=out)

    def samples(self):
        text = self.path.read_text(errors="replace")
        found = [Sample(*map(int, m.groups())) for m in
                 re.finditer(r"^at (\d+) idle (\d+) busy (\d+) load (\d+) commit (\d+)$", text, re.M)]
        assert len(found) >= 10, f"system_probe watch gave {len(found)} samples: {text[:300]!r}"
        return found

    def stop(self):
        self.probe.terminate()
        self.probe.wait(10)


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
def memory_held(load_percent, used_now):
    """Holds and touches enough memory to bring the machine's memory load to
    the percentage, given the bytes in use now; released when the body ends.
    Gives None, without holding anything, when the host cannot spare it
    (leaving 2 GiB): then the reason with the figures."""
    total, available = meminfo("MemTotal"), meminfo("MemAvailable")
    size = int(total * load_percent / 100) - used_now
    if size > available - 2048 * MIB:
        yield (f"raising the memory load to {load_percent} % needs {size // MIB} MiB of the "
               f"{available // MIB} MiB available (of {total // MIB} MiB)")
        return
    # Private memory, as a program's own (shared memory would count as the
    # page cache, which Linux and Wine take for available), every page
    # brought in at once.
    held = mmap.mmap(-1, size, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | mmap.MAP_POPULATE)
    try:
        yield None
    finally:
        held.close()
