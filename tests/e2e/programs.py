"""The programs installed in a Wine prefix: MIREVO.exe with the stand-in box
library and the test clients in a folder of drive C:, and MIREVO registered
with the prefix's service control manager."""
import shutil
import time


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
