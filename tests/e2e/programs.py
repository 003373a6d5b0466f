"""The programs installed in a Wine prefix: MIREVO.exe with the stand-in box
library and the test clients in a folder of drive C:, and MIREVO registered
with the prefix's service control manager."""
import contextlib
import re
import shutil
import time
import warnings

from wine import until

# Starts that Wine's manager refused and that were tried again, for the
# whole run: every one is counted, and the soak reports the count.
RETRIES = []
# Wine runs a service's control handler on a thread of its own, not on the
# one StartServiceCtrlDispatcher returns on: a handler that ends the service
# can see its process end before Wine's dispatcher has answered the manager,
# and ControlService then fails with a broken pipe (109) after the stop took
# effect. Windows runs the handler on the dispatcher's own thread.
LOST_ANSWER = ("Wine's ControlService failed with a broken pipe: the service stopped before Wine's dispatcher "
               "answered; Windows answers from the thread the dispatcher returns on")


class Installed:
    """MIREVO.exe, the stand-in box library and the test clients in C:\\<folder>."""

    def __init__(self, prefix, folder):
        self.prefix, self.dir = prefix, prefix.drive_c / folder
        self.exe = f"C:\\{folder}\\MIREVO.exe"
        self.service_pattern = rf"C:\\{folder}\\MIREVO\.exe"
        self.state, self.log = self.dir / "lcd-state.txt", self.dir / "lcd-transfers.log"
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        for program in ("service/MIREVO.exe", "sim/vbausbio.dll", "tests/wine/service_driver.exe",
                        "tests/wine/system_probe.exe", "tests/wine/service_contract.exe"):
            shutil.copy(prefix.build / program, self.dir)

    def run(self, program, *args, **options):
        """Runs one of the folder's programs with the folder as current directory."""
        return self.prefix.run(program, *args, cwd=self.dir, **options)

    def probe(self, pattern, *args):
        """Runs system_probe.exe with the args: the numbers that the groups
        of the pattern catch in its output, which must hold them."""
        rc, out = self.run("system_probe.exe", *args)
        found = re.search(pattern, out, re.M)
        assert rc == 0 and found, f"system_probe {' '.join(args)}: exit {rc}, {out!r}"
        return [float(number) if "." in number else int(number) for number in found.groups()]

    def sample(self):
        """One sample of the service's figures read inside Wine:
        {'handles': n, 'private': bytes, 'peak': bytes}."""
        sample = dict(zip(("handles", "private", "peak"), self.probe(
            r"^sample \d+ handles (\d+) private (\d+) peak (\d+) ", "process", "MIREVO.exe", "0", "1")))
        assert sample["handles"] > 0 and sample["private"] > 0, f"empty sample: {sample}"
        return sample

    def drive(self, control, delay_ms):
        """Runs ServiceMain in service_driver.exe and hands its control handler
        `control` (stop or shutdown) after the delay: (handler ms, returned,
        whether the service had reported RUNNING by then)."""
        rc, out = self.run("service_driver.exe", control, str(delay_ms))
        found = re.search(r"^latency (\d+\.\d)\nreturned ([01])$", out, re.M)
        assert rc == 0 and found, f"service_driver {control} {delay_ms}: exit {rc}, {out!r}"
        return float(found[1]), found[2] == "1", " 4/" in re.search(r"^reports (.*)$", out, re.M)[1]


class Service(contextlib.AbstractContextManager):
    """MIREVO registered with the prefix's service control manager."""

    def __init__(self, installed):
        self.files, self.prefix, self.stopped_once = installed, installed.prefix, False
        out = self.prefix.sc("create", "MIREVO", "binPath=", installed.exe)
        assert self.prefix.state("MIREVO") == "STOPPED", f"sc create: {out}"

    def request_start(self):
        """sc start: its exit code. Right after a stop, Wine's manager refuses
        a start (sc exits 1, silently) while it has not yet seen the service's
        last process end, though that process is gone already. Only then is
        the start tried again, until the manager takes it, and every retry is
        counted."""
        refused, _ = self.prefix.run("sc", "start", "MIREVO")
        deadline = time.monotonic() + 30
        while refused and self.stopped_once and time.monotonic() < deadline:
            RETRIES.append(self.files.exe)
            time.sleep(0.5)
            refused, _ = self.prefix.run("sc", "start", "MIREVO")
        return refused

    def start(self):
        """Starts through the manager: the service's Linux pid."""
        refused = self.request_start()
        assert self.prefix.wait_for_state("MIREVO", "RUNNING", 60), \
            f"not running (sc start exits {refused}): {self.prefix.sc('query', 'MIREVO')}"
        pids = until(30, lambda: self.prefix.pids(self.files.service_pattern), 0.05)
        assert len(pids) == 1, f"service processes: {pids}"
        return pids[0]

    def stop(self, in_pause=False):
        """Stops it with service_contract.exe inside the prefix (in the middle
        of the service's pause between two cycles with in_pause), which reads
        what the service tells the manager: {'type', 'accepts' (running),
        'stop_state', 'checkpoint', 'hint', 'stop_accepts' (the status the
        stop request returned), 'at' (its time on the log's clock), 'ms' (to
        STOPPED, timed inside the prefix), 'exit', 'outer_ms' (the client's
        whole run timed from Linux)}. Fails unless the service stopped, with
        exit code 0, within the wait hint that it reported itself."""
        began = time.monotonic()
        rc, out = self.files.run("service_contract.exe", "MIREVO", *[self.files.log.name] * in_pause, timeout=90)
        outer_ms = (time.monotonic() - began) * 1000
        found = re.search(r"^running type (0x\w+) state 4 accepts (0x\w+|0)\n"
                          r"stop (?:1 error 0|0 error (109)) at (\d+) state (\d) checkpoint (\d+) hint (\d+) "
                          r"accepts (0x\w+|0)\n"
                          r"pending \d+ highest checkpoint \d+\nstopped (\d+) exit (\d+ \d+)$", out, re.M)
        assert rc == 0 and found, f"service_contract: exit {rc}, {out!r}"
        self.stopped_once = True
        keys = ("type", "accepts", "lost", "at", "stop_state", "checkpoint", "hint", "stop_accepts", "ms", "exit")
        contract = {key: value if key in ("exit", "lost") else int(value, 0) for key, value in zip(keys, found.groups())}
        if contract["lost"]:
            assert contract["stop_state"] == 1, f"stop: {out}"
            warnings.warn(LOST_ANSWER)
        # The manager may hand back the status before or after the service
        # reported stopped; a pending one holds the promise that it kept.
        pending = contract["stop_state"] == 3
        assert contract["exit"] == "0 0" and (not pending or contract["ms"] < contract["hint"]), f"stop: {out}"
        return contract | {"outer_ms": outer_ms}

    def __exit__(self, *_):
        self.remove()

    def remove(self):
        """Stops and deletes the service; a service process still there
        afterwards is a failure, after it is killed."""
        self.prefix.delete_service("MIREVO")
        assert self.prefix.gone_within(self.files.service_pattern, 30), "a service process was left behind"
        # The manager drops a deleted entry only once it has seen the
        # process end, later on a busy machine; until then a new sc create
        # of the name fails (1072, marked for deletion), silently in Wine's sc.
        assert until(30, lambda: self.prefix.state("MIREVO") is None, 0.2), "the manager still knows MIREVO"
