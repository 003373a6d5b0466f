"""Where MIREVO.exe takes the box library and the library's own DLLs from,
and what its start says when the library cannot serve, under Wine's real
service control manager: its own folder, else the system folder, never a
folder on the system PATH (the prefix's PATH ends with C:\\Tools, empty but
here)."""
import re
import shutil
import time

import lcd
from programs import Installed, Service
from wine import BUILD_ROOT, until


def retried_start(service):
    """sc start, tried again while Wine's manager refuses it: any start here
    may follow a stop, this test's or an earlier one's, whose process Wine's
    manager has not yet seen end."""
    service.stopped_once = True
    return service.request_start()


def failed_start(service):
    """A start that is to fail: the service's exit code once STOPPED."""
    prefix = service.prefix
    assert not retried_start(service), f"sc start refused: {prefix.sc('query', 'MIREVO')}"
    query = prefix.sc("query", "MIREVO") if prefix.wait_for_state("MIREVO", "STOPPED", 10) else "not stopped"
    found = re.search(r"WIN32_EXIT_CODE\s*:\s*(\d+)", query)
    return int(found[1]) if found else query


def driven_reports(files):
    """ServiceMain run by the test driver, binding the library as on Windows
    XP: its reports, state/controls/exit code each."""
    rc, out = files.run("service_driver.exe", "stop", "1500", "xp")
    found = re.search(r"^reports (.*)$", out, re.M)
    assert rc == 0 and found, f"service_driver: exit {rc}, {out!r}"
    return found[1].split()


def test_box_library_only_from_the_program_or_the_system_folder(prefix):
    files = Installed(prefix, "lib")
    tools, system = prefix.drive_c / "Tools", prefix.drive_c / "windows/system32"
    tools.mkdir(exist_ok=True)
    shutil.move(files.dir / "vbausbio.dll", tools)
    try:
        with Service(files) as service:
            # The stand-in opens its log beside itself when it is loaded.
            assert failed_start(service) == 2 and not (tools / "lcd-transfers.log").exists()
            shutil.move(tools / "vbausbio.dll", system)
            service.start()
            assert until(5, (system / "lcd-transfers.log").exists), "not loaded from the system folder"
            service.stop()
            # Beside the program as well: the program's folder comes first.
            shutil.copy(system / "vbausbio.dll", files.dir)
            (system / "lcd-transfers.log").unlink()
            service.start()
            lcd.first_screen(files, 10)
            assert not (system / "lcd-transfers.log").exists(), "the system folder's library was taken first"
    finally:
        for leftover in [tools / "vbausbio.dll", system / "vbausbio.dll", *system.glob("lcd-*")]:
            leftover.unlink(missing_ok=True)


def helper_taken(files):
    """Where the stand-in's helper, loaded by its bare name at the first
    call, came from: its path, or "none"."""
    return re.search(r"^helper (.+)$", files.state.read_text(), re.M)[1]


def test_start_failures_say_what_the_library_lacks(prefix):
    files = Installed(prefix, "libfail")
    tools, runtime = prefix.drive_c / "Tools", prefix.build / "sim/boxruntime.dll"
    other = "win64" if prefix.arch == "win32" else "win32"
    tools.mkdir(exist_ok=True)
    with Service(files) as service:
        shutil.copy(BUILD_ROOT / other / "sim/vbausbio.dll", files.dir)
        assert failed_start(service) == 193, f"a {other} library"
        shutil.copy(runtime, files.dir / "vbausbio.dll")
        assert failed_start(service) == 127, "a library without uio_out"
        # A library whose own DLL is only in a folder on the system PATH is
        # not loaded, neither by the search cut down to two folders nor by
        # Windows XP's way; where its manifest names a runtime that is not
        # installed, XP's way says so, as Windows' loader does. Beside it,
        # the DLL is taken.
        shutil.copy(prefix.build / "sim/with-manifest/vbausbio.dll", files.dir)
        shutil.copy(runtime, tools)
        try:
            assert driven_reports(files)[-1] == "1/0/14001" and not files.log.exists()
            shutil.copy(prefix.build / "sim/with-runtime/vbausbio.dll", files.dir)
            assert failed_start(service) == 126 and not files.log.exists()
            assert driven_reports(files)[-1] == "1/0/126" and not files.log.exists()
        finally:
            (tools / "boxruntime.dll").unlink()
        shutil.copy(runtime, files.dir)
        # A helper that the library loads later by its bare name, found only
        # on the PATH: Windows XP's way takes it from there (open, as the
        # notes say); the search cut down to two folders never.
        shutil.copy(prefix.build / "sim/boxhelper.dll", tools)
        try:
            reports = driven_reports(files)
            assert [report.split("/")[0] for report in reports] == ["2", "4", "3", "1"] and files.log.exists(), reports
            assert helper_taken(files) == r"C:\Tools\boxhelper.dll"
            files.log.unlink()
            service.start()
            lcd.first_screen(files, 10)
            assert helper_taken(files) == "none"
        finally:
            (tools / "boxhelper.dll").unlink()


def test_a_library_that_never_loads_ends_the_start(prefix):
    files = Installed(prefix, "libhang")
    (files.dir / "box-hang-load").write_text("")
    with Service(files) as service:
        assert not retried_start(service), f"sc start refused: {prefix.sc('query', 'MIREVO')}"
        seen, unanswered, began = [], [], time.monotonic()   # seen: (seconds, state, checkpoint, wait hint)
        while time.monotonic() - began < 20 and (not seen or seen[-1][1] != 1):
            query = prefix.sc("query", "MIREVO")
            fields = re.search(r"STATE\s*:\s*(\d+).*CHECKPOINT\s*:\s*(0x\w+)\s+WAIT_HINT\s*:\s*(0x\w+)", query, re.S)
            # A query that gave no status (sc itself held up on a busy
            # machine) tells nothing of the service: the next one does.
            if fields is None:
                unanswered.append((round(time.monotonic() - began, 1), query))
                continue
            seen.append((time.monotonic() - began, int(fields[1]), int(fields[2], 16), int(fields[3], 16)))
        assert seen and len(unanswered) < len(seen), f"sc query gave no status: {unanswered}"
        states = [state for _, state, _, _ in seen]
        pending = [(at, checkpoint) for at, state, checkpoint, hint in seen if state == 2 and hint == 3000]
        # START_PENDING with its 3 s wait hint until STOPPED; the checkpoint
        # from 1, rising, each followed by the next (or STOPPED) within the
        # wait hint, over the 10 s given to the load.
        firsts = [(at, checkpoint) for i, (at, checkpoint) in enumerate(pending)
                  if i == 0 or checkpoint != pending[i - 1][1]]
        checkpoints = [checkpoint for _, checkpoint in firsts]
        assert states == [2] * len(pending) + [1] and checkpoints[0] == 1 and checkpoints[-1] >= 4 \
            and checkpoints == sorted(set(checkpoints)), seen
        assert max(later[0] - earlier[0] for earlier, later in zip(firsts, firsts[1:] + [seen[-1]])) < 3, seen
        assert re.search(r"WIN32_EXIT_CODE\s*:\s*1460\b", prefix.sc("query", "MIREVO"))
        assert prefix.gone_within(files.service_pattern, 5), "the process stayed"
        assert not files.log.exists()
    # A shutdown while such a library loads (handed by the test driver, as no
    # manager does): the handler is not held by the load, and the notice is
    # left out.
    rc, out = files.run("service_driver.exe", "shutdown", "starting")
    found = re.search(r"^reports (.*)\nlatency (\d+)\.\d\nreturned 1$", out, re.M)
    assert rc == 0 and found and found[1] == "2/0/0 3/0/0 1/0/0" and int(found[2]) < 3000, out
