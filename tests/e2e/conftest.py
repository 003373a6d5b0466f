"""Architectures, Wine prefixes and installed programs for the end-to-end tests.

Each test that takes `arch` runs once per architecture this host can run, and
its id says which: test_x[win32], test_x[win64]. Where the host runs 32-bit
programs the whole suite runs on win32 and the tests marked `short` on win64
as well; where it cannot, the whole suite runs on win64 and win32 is reported
skipped with the reason. LCDMON_ARCH=win32 or win64 forces one architecture.
"""
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
import wine  # noqa: E402

FORCED = os.environ.get("LCDMON_ARCH", "").strip()
WANTED = (FORCED,) if FORCED else wine.ARCHITECTURES
CANNOT_RUN = {}   # arch -> why Wine cannot run it; filled before any test


def pytest_configure(config):
    config.addinivalue_line("markers", "short: also runs on win64 where the host runs win32")


def pytest_sessionstart(session):
    if FORCED and FORCED not in wine.ARCHITECTURES:
        pytest.exit(f"LCDMON_ARCH={FORCED}: must be one of {', '.join(wine.ARCHITECTURES)}", returncode=4)
    for arch in WANTED:
        CANNOT_RUN[arch] = wine.why_wine_cannot_run(arch)
    if all(CANNOT_RUN.values()):
        reasons = "; ".join(f"{arch}: {why}" for arch, why in CANNOT_RUN.items())
        pytest.exit(f"Wine cannot run here ({reasons})", returncode=3)


def pytest_report_header(config):
    lines = []
    for arch in WANTED:
        why = CANNOT_RUN.get(arch)
        if why:
            lines.append(f"{arch}: skipped, {why}")
        elif arch == "win64" and "win32" in WANTED and not CANNOT_RUN.get("win32"):
            lines.append("win64: the short set (this host also runs win32)")
        else:
            lines.append(f"{arch}: the full suite" + (" (forced by LCDMON_ARCH)" if FORCED else ""))
    return lines


def pytest_generate_tests(metafunc):
    if "arch" in metafunc.fixturenames:
        metafunc.parametrize("arch", WANTED, scope="session")


def pytest_collection_modifyitems(config, items):
    win32_runs = "win32" in WANTED and not CANNOT_RUN.get("win32")
    for item in items:
        arch = getattr(item, "callspec", None) and item.callspec.params.get("arch")
        if not arch:
            continue
        if CANNOT_RUN.get(arch):
            item.add_marker(pytest.mark.skip(reason=f"{arch}: {CANNOT_RUN[arch]}"))
        elif arch == "win64" and win32_runs and item.get_closest_marker("short") is None:
            item.add_marker(pytest.mark.skip(reason="win64 runs the short set where win32 runs"))


@pytest.fixture(scope="session")
def display():
    """A private X server for the windows the programs open."""
    number = 77
    while Path(f"/tmp/.X{number}-lock").exists() and number < 120:
        number += 1
    server = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while not Path(f"/tmp/.X11-unix/X{number}").exists():
        assert server.poll() is None and time.monotonic() < deadline, "Xvfb did not start"
        time.sleep(0.1)
    yield f":{number}"
    server.terminate()
    server.wait(10)


@pytest.fixture(scope="session")
def prefix(arch, display):
    """One booted prefix per architecture for the whole run."""
    booted = wine.Prefix(arch, display=display)
    try:
        booted.boot()
        yield booted
    finally:
        booted.end()


class Installed:
    """MIREVO.exe, the stand-in box library and the test clients in C:\\<folder>."""

    def __init__(self, prefix, folder):
        self.prefix = prefix
        self.folder = folder
        self.dir = prefix.drive_c / folder
        self.windows_dir = "C:\\" + folder
        self.exe = self.windows_dir + "\\MIREVO.exe"
        self.state = self.dir / "lcd-state.txt"
        self.log = self.dir / "lcd-transfers.log"
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        build = prefix.build
        for program in ("service/MIREVO.exe", "sim/vbausbio.dll", "tests/wine/service_driver.exe",
                        "tests/wine/system_probe.exe"):
            shutil.copy(build / program, self.dir)

    def service_pattern(self):
        return r"C:\\" + self.folder + r"\\MIREVO\.exe"

    def run(self, program, *args, timeout=30):
        """Runs one of the folder's programs with the folder as current directory."""
        return self.prefix.run(program, *args, cwd=self.dir, timeout=timeout)

    def sample(self):
        """One sample of the service's figures read inside Wine:
        {'handles': n, 'private': bytes, 'peak': bytes}."""
        rc, out = self.run("system_probe.exe", "process", "MIREVO.exe", "0", "1")
        for line in out.splitlines():
            fields = line.split()
            if fields[:1] == ["sample"] and len(fields) == 10:
                sample = {"handles": int(fields[3]), "private": int(fields[5]), "peak": int(fields[7])}
                assert sample["handles"] > 0 and sample["private"] > 0, f"empty sample: {line}"
                return sample
        raise AssertionError(f"system_probe gave no sample (exit {rc}): {out!r}")

    def drive(self, control, delay_ms):
        """Runs ServiceMain in service_driver.exe and hands its control handler
        `control` (stop or shutdown) after the delay: (handler ms, returned)."""
        rc, out = self.run("service_driver.exe", control, str(delay_ms))
        fields = dict(line.split(" ", 1) for line in out.splitlines() if " " in line)
        assert rc == 0 and "latency" in fields and "returned" in fields, \
            f"service_driver {control} {delay_ms}: exit {rc}, {out!r}"
        return float(fields["latency"]), fields["returned"].strip() == "1"


@pytest.fixture
def install(prefix):
    """install(folder): the programs copied into C:\\<folder> of the prefix."""
    return lambda folder="mon": Installed(prefix, folder)


class Service:
    """MIREVO registered with the prefix's service control manager."""

    def __init__(self, installed):
        self.files = installed
        self.prefix = installed.prefix
        out = self.prefix.sc("create", "MIREVO", "binPath=", installed.exe)
        assert self.prefix.state("MIREVO") == "STOPPED", f"sc create: {out}"

    def start(self):
        self.prefix.sc("start", "MIREVO")
        assert self.prefix.wait_for_state("MIREVO", "RUNNING", 10), \
            f"not running: {self.prefix.sc('query', 'MIREVO')}"
        pids = []
        deadline = time.monotonic() + 5
        while not pids and time.monotonic() < deadline:
            pids = self.prefix.pids(self.files.service_pattern())
            time.sleep(0.05)
        assert len(pids) == 1, f"service processes: {pids}"
        return pids[0]

    def stop(self):
        """Stops through the manager: milliseconds to STOPPED (sc round trips
        included), or None if it never got there."""
        began = time.monotonic()
        self.prefix.sc("stop", "MIREVO")
        if not self.prefix.wait_for_state("MIREVO", "STOPPED", 5):
            return None
        return (time.monotonic() - began) * 1000

    def remove(self):
        if self.prefix.state("MIREVO") not in (None, "STOPPED"):
            self.stop()
        self.prefix.sc("delete", "MIREVO")
        self.prefix.gone_within(self.files.service_pattern(), 5)


@pytest.fixture
def service(install):
    registered = Service(install("mon"))
    yield registered
    registered.remove()
