"""Architectures, Wine prefixes and installed programs for the end-to-end tests.

Each test that takes `arch` runs once per architecture this host can run, and
its id says which: test_x[win32], test_x[win64]. Where win32 runs
(scripts/win32-probe.sh) the whole suite runs on win32 and the tests marked
`short` on win64 as well; where it does not (a host that refuses 32-bit
programs, or one without wine32), the whole suite runs on win64 and win32 is
reported skipped with the reason. Where the host runs 32-bit programs and
wine32 is installed, a win32 build that cannot run fails every win32 test
instead: the shipped build must run there. LCDMON_ARCH=win32 or win64 forces
one architecture.
"""
import os
import select
import subprocess
import threading

import pytest

import wine   # pytest puts this folder on the path (rootdir, default import mode)
from long_run import LongRun

FORCED = os.environ.get("LCDMON_ARCH", "").strip()
WANTED = (FORCED,) if FORCED else wine.ARCHITECTURES
CANNOT_RUN = {}   # arch -> why Wine cannot run it; filled before any test
LONG_RUNS = {}    # arch -> the LongRun started for the soak's long-run test
BOOTS = {}        # arch -> (the prefix, the thread booting it), started once the tests are known
X_SERVER = {}     # "display" -> the private X server's display, "server" -> its Popen
MUST_RUN = {"win32"} if wine.win32_must_run() else set()


def pytest_configure(config):
    config.addinivalue_line("markers", "short: also runs on win64 where the host runs win32")


def pytest_sessionstart(session):
    if FORCED and FORCED not in wine.ARCHITECTURES:
        pytest.exit(f"LCDMON_ARCH={FORCED}: must be one of {', '.join(wine.ARCHITECTURES)}", returncode=4)
    CANNOT_RUN.update((arch, wine.why_wine_cannot_run(arch)) for arch in WANTED)
    if all(CANNOT_RUN.values()) and not MUST_RUN & set(WANTED):
        pytest.exit("Wine cannot run here (" + "; ".join(f"{a}: {why}" for a, why in CANNOT_RUN.items()) + ")", 3)


def pytest_report_header(config):
    win32_runs = "win32" in WANTED and not CANNOT_RUN.get("win32")
    return [f"{arch}: skipped, {CANNOT_RUN[arch]}" if CANNOT_RUN.get(arch)
            else "win64: the short set (this host also runs win32)" if arch == "win64" and win32_runs
            else f"{arch}: the full suite" + (" (forced by LCDMON_ARCH)" if FORCED else "") for arch in WANTED]


def pytest_generate_tests(metafunc):
    if "arch" in metafunc.fixturenames:
        metafunc.parametrize("arch", WANTED, scope="session")


def arch_of(item):
    return item.callspec.params.get("arch") if hasattr(item, "callspec") else None


def pytest_collection_modifyitems(config, items):
    # All of one architecture's tests together, in file order: a session
    # fixture of another parameter would end the prefix and boot it again.
    # Within it each file whole and its tests as written, each test's cases
    # together: pytest groups the cases of parametrized tests by their value
    # across files, which would end a file's module fixture (its running
    # service) and start it afresh in the middle.
    items.sort(key=lambda item: ((WANTED + (None,)).index(arch_of(item)), item.location[0], item.location[1]))
    win32_runs = "win32" in WANTED and not CANNOT_RUN.get("win32")
    for item in items:
        arch = arch_of(item)
        if CANNOT_RUN.get(arch) and arch not in MUST_RUN:
            item.add_marker(pytest.mark.skip(reason=f"{arch}: {CANNOT_RUN[arch]}"))
        elif arch == "win64" and win32_runs and item.get_closest_marker("short") is None:
            item.add_marker(pytest.mark.skip(reason="win64 runs the short set where win32 runs"))


def pytest_runtest_setup(item):
    arch = item.callspec.params.get("arch") if hasattr(item, "callspec") else None
    if CANNOT_RUN.get(arch) and arch in MUST_RUN:
        pytest.fail(f"this host runs 32-bit programs, but {arch} does not run: {CANNOT_RUN[arch]}")


def pytest_collection_finish(session):
    """Boots every prefix the selected tests need, the first architecture's
    first and the others while its tests run, and starts the soak's long run
    (a prefix of its own) where a selected test will look at it: the waits
    overlap instead of adding up, and the first tests wait for one boot."""
    running = [item for item in session.items if not item.get_closest_marker("skip")]
    needed = sorted({arch_of(item) for item in running} - {None} - {a for a, why in CANNOT_RUN.items() if why},
                    key=WANTED.index)
    if needed:
        X_SERVER["server"], X_SERVER["display"] = start_x_server()
    # The service shows the local hour: in the afternoon, 12- and 24-hour
    # forms differ (the long run's prefix takes a morning hour, one digit).
    for arch in needed:
        BOOTS[arch] = (wine.Prefix(arch, display=X_SERVER["display"], hour=15), threading.Event())
    long_runs = [arch for arch in needed if any(item.originalname == "test_long_run" and arch_of(item) == arch
                                                for item in running)]
    threading.Thread(target=boot_in_turn, args=(needed, long_runs), daemon=True).start()


def boot_in_turn(needed, long_runs):
    for index, arch in enumerate(needed):
        booted, done = BOOTS[arch]
        try:
            booted.boot()
        except Exception as error:   # handed to the first test that needs the prefix
            booted.error = error
        done.set()
        for long_arch in long_runs if index == 0 else ():
            LONG_RUNS[long_arch] = LongRun(long_arch)
            LONG_RUNS[long_arch].start()


def pytest_sessionfinish(session):
    for run in LONG_RUNS.values():
        run.end()
    for booted, done in BOOTS.values():
        done.wait(180)
        booted.end()
    if X_SERVER:
        X_SERVER["server"].terminate()
        X_SERVER["server"].wait(10)


@pytest.fixture
def long_run(arch):
    assert wine.until(300, lambda: arch in LONG_RUNS, 1), f"no long run was started for {arch}"
    return LONG_RUNS[arch]


def start_x_server():
    """A private X server for the windows the programs open: (Popen, display)."""
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    # Xvfb takes a free display and writes its number once it takes connections.
    number = server.stdout.readline().strip() if select.select([server.stdout], [], [], 10)[0] else b""
    assert number.isdigit(), "Xvfb did not start"
    return server, f":{number.decode()}"


@pytest.fixture(scope="session")
def prefix(arch):
    """The booted prefix of the architecture, one for the whole run."""
    booted, done = BOOTS[arch]
    if not done.wait(300) or getattr(booted, "error", None):
        raise RuntimeError(f"the {arch} prefix did not boot: {getattr(booted, 'error', 'still booting')}")
    return booted
