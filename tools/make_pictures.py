#!/usr/bin/python3
"""Makes the pictures of the display in README.md and docs/ from a run of the real service.

Boots a fresh Wine prefix of its own, registers and starts MIREVO.exe with
the emulated LCD, loads the machine (busy processes, and the memory load raised
by a step from where it is, as the end-to-end tests do) until both bars show, and saves that screen; lets the
load go, stops the service, hands the service's own ServiceMain the shutdown
control (tests/wine/service_driver.exe) and saves the stopped notice; then
replays the run's transfer log as an animated GIF.

    tools/make_pictures.py [--out docs] [--cpu-hogs 1] [--memory-step 15]

Writes lcd-monitor.png, lcd-stopped.png and lcd-replay.gif into --out.
Prefix, service and every load process are removed on the way out.
"""
import argparse
import contextlib
import sys
import time
from pathlib import Path

import lcdpicture
import lcdreplay
from run_service import choose_architecture, why_not_running

import machine  # noqa: E402  (tests/e2e, put on the path by run_service)
import transfers  # noqa: E402
import wine  # noqa: E402
from programs import Installed, Service  # noqa: E402

GIF_LIMIT = 200 * 1024


@contextlib.contextmanager
def machine_load(cpu_hogs, memory_step):
    """Busy processes and the memory load raised by `memory_step` points
    (memory held, every page touched, so the kernel counts it as used) for
    the time of the block, with the end-to-end tests' own load helpers;
    gives the memory load it aims at. A machine that cannot spare the memory
    is taken at the load it has."""
    load = 100 * (1 - machine.meminfo("MemAvailable") / machine.meminfo("MemTotal"))
    with machine.memory_held(memory_step) as cannot, machine.busy_processors(cpu_hogs):
        print(f"No memory held, the memory load stays at {load:.0f} %: {cannot}" if cannot else
              f"Memory load raised by {memory_step:g} points from {load:.0f} %", f"; {cpu_hogs} busy process(es).",
              sep="", flush=True)
        yield load if cannot else load + memory_step


def wait_for(state_file, seconds, check, what):
    """The first screen of the state file for which check(screen) holds."""
    def look():
        with contextlib.suppress(OSError, ValueError, AssertionError):
            screen, _ = lcdpicture.read_state(state_file)
            return screen if check(screen) else None
    screen = wine.until(seconds, look, 0.1)
    if not screen:
        raise RuntimeError(f"no {what} within {seconds} s")
    return screen


def bar_cells(screen):
    """Cells of the processor bar and of the memory bar, told by their dots."""
    return transfers.bars(screen.rows[1], screen.glyphs)


def make_pictures(prefix, out, cpu_hogs, memory_step):
    files = Installed(prefix, "mon")
    service = Service(files)
    try:
        service.start()
        wait_for(files.state, 10, lambda s: s.display_on and s.rows[0][:1].isdigit(), "first screen")
        with machine_load(cpu_hogs, memory_step) as memory_load:
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
    parser.add_argument("--memory-step", type=float, default=15.0,
                        help="points to raise the memory load by (default 15: two cells and more)")
    args = parser.parse_args()
    arch, line = choose_architecture()
    print(line, flush=True)
    if arch is None:
        return 1
    prefix = wine.Prefix(arch)
    print(f"Booting a Wine prefix in {prefix.path} ...", flush=True)
    try:
        prefix.boot()
        return make_pictures(prefix, args.out, args.cpu_hogs, args.memory_step)
    except RuntimeError as error:
        print(f"make_pictures: {error}")
        return 1
    finally:
        prefix.end()


if __name__ == "__main__":
    sys.exit(main())
