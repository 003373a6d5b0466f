#!/usr/bin/python3
"""Makes the README's pictures of the display from a run of the real service.

Boots a fresh Wine prefix of its own, registers and starts MIREVO.exe with
the emulated LCD, loads the machine (busy processes and a memory hog sized
from /proc/meminfo) until both bars show, and saves that screen; lets the
load go, stops the service, hands the service's own ServiceMain the shutdown
control (tests/wine/service_driver.exe) and saves the stopped notice; then
replays the run's transfer log as an animated GIF.

    tools/make_pictures.py [--out docs] [--cpu-hogs 1] [--memory-load 20]

Writes lcd-monitor.png, lcd-stopped.png and lcd-replay.gif into --out.
Prefix, service and every load process are removed on the way out.
"""
import argparse
import contextlib
import subprocess
import sys
import time
from pathlib import Path

import lcdpicture
import lcdreplay
from run_service import choose_architecture, why_not_running

import wine  # noqa: E402  (tests/e2e, put on the path by run_service)
from programs import Installed, Service  # noqa: E402

GIF_LIMIT = 200 * 1024
# A memory hog never takes more than this share of the memory available:
# other programs on the machine need theirs.
HOG_SHARE_OF_AVAILABLE = 0.5
# Busy processes end by themselves after this long, should this program be killed.
HOG_SECONDS = 120


def meminfo():
    """MemTotal and MemAvailable of /proc/meminfo, in bytes."""
    fields = dict(line.split(":", 1) for line in Path("/proc/meminfo").read_text().splitlines())
    return [int(fields[name].split()[0]) * 1024 for name in ("MemTotal", "MemAvailable")]


def hog_bytes(total, available, load_percent):
    """Bytes to take so that the memory load (the share of memory not
    available) reaches load_percent; never more than the allowed share of
    what is available."""
    wanted = int(total * load_percent / 100) - (total - available)
    return max(0, min(wanted, int(available * HOG_SHARE_OF_AVAILABLE)))


@contextlib.contextmanager
def machine_load(cpu_hogs, memory_load_percent):
    """Busy processes and a process holding memory (every page touched, so
    the kernel counts it as used) for the time of the block."""
    total, available = meminfo()
    size = hog_bytes(total, available, memory_load_percent)
    print(f"Memory: {total >> 20} MiB, {available >> 20} MiB available; holding {size >> 20} MiB "
          f"for a load of {memory_load_percent} %; {cpu_hogs} busy process(es).", flush=True)
    hogs = []
    try:
        if size:
            # It ends when its standard input closes: at the end of the block,
            # or when this program ends in any way.
            holder = subprocess.Popen([sys.executable, "-c", f"""
import sys
block = bytearray({size})
block[::4096] = b"\\1" * len(range(0, {size}, 4096))
print("held", flush=True)
sys.stdin.read()
"""], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            hogs.append(holder)
            if holder.stdout.readline().strip() != "held":
                raise RuntimeError(f"the memory hog could not take {size} bytes (exit {holder.wait()})")
        for _ in range(cpu_hogs):
            hogs.append(subprocess.Popen([sys.executable, "-c", f"""
import time
end = time.monotonic() + {HOG_SECONDS}
while time.monotonic() < end:
    pass
"""], stdin=subprocess.PIPE))
        yield
    finally:
        for hog in hogs:
            hog.stdin.close()
            hog.terminate()
        for hog in hogs:
            hog.wait()
        print(f"Load released: {meminfo()[1] >> 20} MiB available.", flush=True)


def wait_for(state_file, seconds, check, what):
    """The first screen of the state file for which check(screen) holds."""
    def look():
        with contextlib.suppress(OSError, ValueError):
            screen, _ = lcdpicture.read_state(state_file)
            return screen if check(screen) else None
    screen = wine.until(seconds, look, 0.1)
    if not screen:
        raise RuntimeError(f"no {what} within {seconds} s")
    return screen


def bar_cells(screen):
    """Cells of the processor bar (glyphs 1 and 2) and the memory bar (0 and 2)."""
    row = screen.rows[1]
    return sum(cell in (1, 2) for cell in row), sum(cell in (0, 2) for cell in row)


def make_pictures(prefix, out, cpu_hogs, memory_load):
    files = Installed(prefix, "mon")
    service = Service(files)
    try:
        service.start()
        wait_for(files.state, 10, lambda s: s.display_on and s.rows[0][:1].isdigit(), "first screen")
        with machine_load(cpu_hogs, memory_load):
            wait_for(files.state, 30, lambda s: min(bar_cells(s)) > 0, "screen with both bars")
            # The memory load Wine reports climbs over a few cycles after the
            # hog took its memory: wait (a while) for the cells the load should give.
            cells = int(memory_load * 16 // 100)
            with contextlib.suppress(RuntimeError):
                wait_for(files.state, 20, lambda s: bar_cells(s)[1] >= cells, f"memory bar of {cells} cells")
            screen, _ = lcdpicture.read_state(files.state)
            out.mkdir(parents=True, exist_ok=True)
            lcdpicture.picture(screen).save(out / "lcd-monitor.png", optimize=True)
            print(f"Both bars: processor {bar_cells(screen)[0]} cells, memory {bar_cells(screen)[1]} cells.")
        time.sleep(4)   # the bars fall in the animation
        service.stop()
        files.drive("shutdown", 1500)
        notice = wait_for(files.state, 5, lambda s: s.rows[0].startswith(b" \xb7\xc9"), "stopped notice")
        lcdpicture.save_png(files.state, out / "lcd-stopped.png")
        print("Stopped notice:", notice.rows[0].decode("cp932"))
        frames = lcdreplay.replay(lcdreplay.read_log(files.log))
        lcdreplay.save_gif(frames, out / "lcd-replay.gif")
        size = (out / "lcd-replay.gif").stat().st_size
        print(f"Animation: {len(frames)} frames over {(frames[-1].ms - frames[0].ms) / 1000:.1f} s, {size} bytes.")
        if size >= GIF_LIMIT:
            raise RuntimeError(f"the animation has {size} bytes, more than {GIF_LIMIT}")
    except (RuntimeError, AssertionError) as error:
        print(f"make_pictures: {error}; the service: {why_not_running(prefix)}")
        return 1
    finally:
        service.remove()
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=wine.TOP / "docs")
    parser.add_argument("--cpu-hogs", type=int, default=1, help="busy processes (default 1)")
    parser.add_argument("--memory-load", type=float, default=20.0,
                        help="memory load to reach, percent (default 20: 3 cells; 12.5 gives one)")
    args = parser.parse_args()
    arch, line = choose_architecture()
    print(line, flush=True)
    if arch is None:
        return 1
    prefix = wine.Prefix(arch)
    print(f"Booting a Wine prefix in {prefix.path} ...", flush=True)
    try:
        prefix.boot()
        return make_pictures(prefix, args.out, args.cpu_hogs, args.memory_load)
    except RuntimeError as error:
        print(f"make_pictures: {error}")
        return 1
    finally:
        prefix.end()


if __name__ == "__main__":
    sys.exit(main())
