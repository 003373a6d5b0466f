"""The programs installed in a Wine prefix: MIREVO.exe with the stand-in box
library and the test clients in a folder of drive C:, and MIREVO registered
with the prefix's service control manager."""
import contextlib
import re
import shutil
import time

from wine import until


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
                        "tests/wine/system_probe.exe"):
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
        `control` (stop or shutdown) after the delay: (handler ms, returned)."""
        rc, out = self.run("service_driver.exe", control, str(delay_ms))
        found = re.search(r"^latency (\d+\.\d)\nreturned ([01])$", out, re.M)
        assert rc == 0 and found, f"service_driver {control} {delay_ms}: exit {rc}, {out!r}"
        return float(found[1]), found[2] == "1"


class Service(contextlib.AbstractContextManager):
    """MIREVO registered with the prefix's service control manager."""

    def __init__(self, installed):
        self.files, self.prefix = installed, installed.prefix
        out = self.prefix.sc("create", "MIREVO", "binPath=", installed.exe)
        assert self.prefix.state("MIREVO") == "STOPPED", f"sc create: {out}"

    def start(self):
        """Starts through the manager: the service's Linux pid."""
        # Wine's manager refuses a start (sc exits 1, silently) while it has
        # not yet seen the service's last process end, though that process
        # is gone already: a start refused three times half a second apart
        # is a real refusal.
        for _ in range(3):
            refused, _ = self.prefix.run("sc", "start", "MIREVO")
            if not refused:
                break
            time.sleep(0.5)
        assert self.prefix.wait_for_state("MIREVO", "RUNNING", 10), \
            f"not running (sc start exits {refused}): {self.prefix.sc('query', 'MIREVO')}"
        pids = until(5, lambda: self.prefix.pids(self.files.service_pattern), 0.05)
        assert len(pids) == 1, f"service processes: {pids}"
        return pids[0]

    def stop(self):
        """Stops through the manager, within the 3000 ms wait hint the service
        gives: milliseconds to STOPPED, sc round trips included."""
        began = time.monotonic()
        self.prefix.sc("stop", "MIREVO")
        stopped, ms = self.prefix.wait_for_state("MIREVO", "STOPPED", 5), (time.monotonic() - began) * 1000
        assert stopped and ms < 3000, f"stop: {'STOPPED' if stopped else 'not STOPPED'} after {ms:.0f} ms (hint 3000)"
        return ms

    def __exit__(self, *_):
        self.remove()

    def remove(self):
        self.prefix.delete_service("MIREVO")
        self.prefix.gone_within(self.files.service_pattern, 5)
