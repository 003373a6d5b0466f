#!/usr/bin/python3
"""The service's own processor cost under Wine's service control manager,
apart from the stand-in box library's.

    bench/service_cost.py [--minutes 10] [--load] [--arch win32]

MIREVO.exe runs twice side by side, each in a Wine prefix of its own: once
with the box library that only counts its calls (build/<arch>/sim/counting)
and once with the stand-in, which writes its state file and log at every
call. Both meet the same machine at the same moments, so the difference is
the stand-in's share. With --load, tests/load_maker.py runs beside them for
the whole measurement (its defaults: 300 MiB taken and given back 4 times a
second, half a processor busy). For each it prints the processor share of
the service process (utime + stime of its /proc/<pid>/stat over the wall
time) and the box calls a second over the whole run (first to last call, the
first drawing's few dozen calls included). A benchmark, not a test: the figures move
with whatever else runs on the machine, and the load average is printed.
"""
import argparse
import contextlib
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import wine  # noqa: E402
from programs import Installed, Service  # noqa: E402

SETTLE_SECONDS = 5   # the first drawing and the start's own work stay out


def processor_seconds(pid):
    """utime + stime of the process, in seconds."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def calls_from_log(log):
    """The calls the stand-in logged, and the span from the first to the last
    (its stamps are GetTickCount64): (count, seconds)."""
    stamps = [int(line.split()[0]) for line in log.read_text().splitlines() if line.strip()]
    return len(stamps), (stamps[-1] - stamps[0]) / 1000 if stamps else 0


def calls_from_count(path):
    """The counting library's own figures, written when it was unloaded."""
    found = re.search(r"calls (\d+) first_ms (\d+) last_ms (\d+)", path.read_text())
    return int(found[1]), (int(found[3]) - int(found[2])) / 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--load", action="store_true", help="run tests/load_maker.py beside the services")
    parser.add_argument("--arch", default="win32", choices=wine.ARCHITECTURES)
    args = parser.parse_args()
    boxes = {"counting": wine.BUILD_ROOT / args.arch / "sim" / "counting" / "vbausbio.dll",
             "stand-in": wine.BUILD_ROOT / args.arch / "sim" / "vbausbio.dll"}
    runs = []
    load = None
    try:
        for name, library in boxes.items():
            prefix = wine.Prefix(args.arch)
            runs.append({"name": name, "prefix": prefix})
            prefix.boot()
            files = Installed(prefix, "cost")
            shutil.copy(library, files.dir / "vbausbio.dll")
            service = Service(files)
            runs[-1] |= {"files": files, "service": service, "pid": service.start()}
        if args.load:
            load = subprocess.Popen([sys.executable, str(wine.TOP / "tests" / "load_maker.py")],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(SETTLE_SECONDS)
        for run in runs:
            run["cpu0"], run["wall0"] = processor_seconds(run["pid"]), time.monotonic()
        time.sleep(args.minutes * 60)
        for run in runs:
            run["cpu1"], run["wall1"] = processor_seconds(run["pid"]), time.monotonic()
        loadavg = Path("/proc/loadavg").read_text().split()[:3]
    finally:
        if load:
            load.terminate()
            load.wait(30)
        for run in runs:
            # The counting library writes its figures as the process ends.
            with contextlib.suppress(Exception):
                run["service"].remove()
                run["calls"] = calls_from_count(run["files"].dir / "counting-box.txt") \
                    if run["name"] == "counting" else calls_from_log(run["files"].log)
            run["prefix"].end()
    print(f"{args.arch}, {args.minutes:g} min{' beside tests/load_maker.py' if args.load else ', quiet'}, "
          f"load average at the end {' '.join(loadavg)}")
    for run in runs:
        wall = run["wall1"] - run["wall0"]
        cpu = run["cpu1"] - run["cpu0"]
        calls, span = run.get("calls", (0, 0))
        assert calls > 0 and span > 0, f"{run['name']}: no calls counted"
        print(f"  {run['name']:9} box: service {cpu:.2f} s of processor in {wall:.0f} s = {100 * cpu / wall:.2f} % "
              f"of one core ({3600 * cpu / wall:.1f} s an hour); {calls / span:.1f} box calls a second")
    return 0


if __name__ == "__main__":
    sys.exit(main())
