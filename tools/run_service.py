#!/usr/bin/env python3
"""The main job: MIREVO.exe registered and started under Wine's service
control manager against the emulated LCD, the display shown live until
Ctrl-C; then the service is stopped and deleted.

    tools/run_service.py [--busy]

--busy keeps every processor busy and raises the memory load by 15 points
(holding memory) for the first 30 s of the view, so that both bar graphs
rise (and then fall), with the end-to-end tests' own load helpers. Runs the
win32 build where it runs (scripts/win32-probe.sh), else the win64 one, and
says why; LCDMON_ARCH=win32 or win64 forces one. The prefix is kept in
build/wineprefix-<arch>."""
import argparse
import contextlib
import os
import re
import signal
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import machine  # noqa: E402
import wine  # noqa: E402
from programs import Installed, Service  # noqa: E402

# What the rows show, under the live view. A bar shows its first cell at 7 %
# (16 cells for 100 %): on an idle machine the processor bar is mostly empty.
LEGEND = ["row 1: month/day hour:minute, then the committed memory in MB",
          "       (from 1000 MB on it runs into the time: 12/08 23:371855M)",
          "row 2: processor usage (lower stripe) and memory load (upper stripe),",
          "       16 cells for 100 %, the first cell from 7 %"]
BUSY_SECONDS, BUSY_MEMORY_STEP = 30, 15


def choose_architecture():
    """(arch, one line saying which and why), or (None, why not)."""
    forced = os.environ.get("LCDMON_ARCH", "").strip()
    if forced:
        why = wine.why_wine_cannot_run(forced) if forced in wine.ARCHITECTURES else "not win32 or win64"
        return (None, f"LCDMON_ARCH={forced}: Wine cannot run it ({why})") if why else \
            (forced, f"Running the {forced} build (forced by LCDMON_ARCH).")
    why32 = wine.why_wine_cannot_run("win32")
    if not why32:
        return "win32", "Running the win32 build, as shipped."
    why64 = wine.why_wine_cannot_run("win64")
    if not why64:
        return "win64", f"Running the win64 build: win32 {why32}."
    return None, f"Wine cannot run here (win32: {why32}; win64: {why64})"


def why_not_running(prefix):
    """What the service control manager says of a service that is not running."""
    query = prefix.sc("query", "MIREVO")
    state = prefix.state("MIREVO")
    if not state:
        return "the service control manager does not know it: " + " ".join(query.split())
    codes = [re.search(rf"{field}\s*:\s*(\d+)", query) for field in ("WIN32_EXIT_CODE", "SERVICE_EXIT_CODE")]
    win32, specific = (code[1] if code else "?" for code in codes)
    return f"state {state}, Win32 exit code {win32}, service exit code {specific}"


@contextlib.contextmanager
def machine_load():
    """Every processor busy and the memory load raised by BUSY_MEMORY_STEP
    points from where it is (memory held, where the machine can spare it),
    released when the block ends; gives the line that says so under the view."""
    with machine.memory_held(BUSY_MEMORY_STEP) as cannot, machine.busy_processors():
        yield (f"--busy: every processor busy for the first {BUSY_SECONDS} s; no memory held: {cannot}" if cannot
               else f"--busy: every processor busy and the memory load raised by {BUSY_MEMORY_STEP} points "
                    f"for the first {BUSY_SECONDS} s")


def show(files, arch, busy):
    """The live view until Ctrl-C, the machine loaded for its first seconds with busy."""
    def start_viewer(notes):
        notes = LEGEND + notes
        viewer = subprocess.Popen([sys.executable, str(wine.TOP / "tools" / "lcdview.py"), str(files.state),
                                   "--label", f"{arch} build"] + [a for note in notes for a in ("--note", note)])
        signal.signal(signal.SIGTERM, lambda *_: viewer.terminate())
        return viewer
    viewer = None
    try:
        if busy:
            with machine_load() as note:
                viewer = start_viewer([note])
                with contextlib.suppress(subprocess.TimeoutExpired):
                    viewer.wait(BUSY_SECONDS)
        else:
            viewer = start_viewer(["scripts/run.sh --busy makes the bars move."])
        viewer.wait()
    except KeyboardInterrupt:
        if viewer:
            viewer.terminate()
            viewer.wait()


def main():
    parser = argparse.ArgumentParser(description="MIREVO under Wine with the emulated LCD, shown live.")
    parser.add_argument("--busy", action="store_true",
                        help=f"keep every processor busy and raise the memory load for the first {BUSY_SECONDS} s")
    busy = parser.parse_args().busy
    arch, line = choose_architecture()
    print(line, flush=True)
    if arch is None:
        return 1
    prefix = wine.Prefix(arch, path=wine.BUILD_ROOT / f"wineprefix-{arch}")
    print(f"Booting the Wine prefix in {prefix.path} ...", flush=True)
    try:
        prefix.boot()
    except RuntimeError as error:
        print(f"The service did not start: {error}")
        prefix.end()
        return 1
    files = Installed(prefix, "mon")
    prefix.delete_service("MIREVO")   # left over from a run that was killed
    service = Service(files)
    try:
        prefix.sc("start", "MIREVO")
        if not prefix.wait_for_state("MIREVO", "RUNNING", 10):
            print(f"The service did not start: {why_not_running(prefix)}")
            # Run directly, the program ends with 0 once Wine's dispatcher
            # gives up (about 10 s), or with the loader's code when Windows
            # cannot load it at all (0x35: a DLL it imports is missing).
            rc, _ = files.run("MIREVO.exe", timeout=15)
            print(f"Run directly, MIREVO.exe exits {'after 15 s' if rc is None else f'with {rc} ({rc:#x})'}.")
            return 1
        show(files, arch, busy)
        return 0
    finally:
        service.remove()
        prefix.end()
        print("Service stopped and deleted.")


if __name__ == "__main__":
    sys.exit(main())
