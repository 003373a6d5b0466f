"""Architectures, Wine prefixes and installed programs for the end-to-end tests.

Each test that takes `arch` runs once per architecture this host can run, and
its id says which: test_x[win32], test_x[win64]. Where the host runs 32-bit
programs the whole suite runs on win32 and the tests marked `short` on win64
as well; where it cannot, the whole suite runs on win64 and win32 is reported
skipped with the reason. LCDMON_ARCH=win32 or win64 forces one architecture.
"""
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
import wine  # noqa: E402
from programs import Installed, Service  # noqa: E402

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


@pytest.fixture
def install(prefix):
    """install(folder): the programs copied into C:\\<folder> of the prefix."""
    return lambda folder="mon": Installed(prefix, folder)


@pytest.fixture
def service(install):
    registered = Service(install("mon"))
    yield registered
    registered.remove()
