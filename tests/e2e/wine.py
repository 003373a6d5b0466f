"""Wine prefixes for the end-to-end tests: which architectures this host can
run, booting a prefix, running Windows programs in it, and the service
control manager's view of a service.

Every wait is bounded, and every process started is ended by pid or by
ending the prefix's own wineserver.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
BUILD_ROOT = Path(os.environ.get("LCDMON_BUILD", TOP / "build"))
ARCHITECTURES = ("win32", "win64")

# Debian's /usr/bin/wine picks the 32-bit loader whenever wine32 is there, so
# a 64-bit-only prefix calls the 64-bit loader and server directly.
LOADERS = {
    "win32": {"wine": "wine", "wineserver": "wineserver", "env": {}},
    "win64": {
        "wine": "/usr/lib/wine/wine64",
        "wineserver": "/usr/lib/wine/wineserver64",
        "env": {"WINELOADER": "/usr/lib/wine/wine64", "WINEARCH": "win64"},
    },
}


def build_dir(arch):
    return BUILD_ROOT / arch


def why_wine_cannot_run(arch):
    """None when this host runs `arch` programs under Wine, else one line why.

    The 32-bit loader is a 32-bit Linux program: hosts that refuse those
    answer "Exec format error" before Wine says anything.
    """
    loader = LOADERS[arch]["wine"]
    if arch == "win32" and shutil.which(loader) is None:
        return "no wine command"
    if arch == "win32":
        # /usr/bin/wine is a script; the loader it runs is the 32-bit one.
        probe = ["/usr/lib/wine/wine", "--version"] if Path("/usr/lib/wine/wine").exists() else [loader, "--version"]
    else:
        if not Path(loader).exists():
            return f"{loader} is missing (Debian package wine64)"
        probe = [loader, "--version"]
    try:
        done = subprocess.run(probe, stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
    except OSError as error:
        return f"{probe[0]}: {error.strerror}"
    except subprocess.TimeoutExpired:
        return f"{probe[0]} --version did not answer in 30 s"
    if done.returncode != 0 or not done.stdout.startswith(b"wine-"):
        said = (done.stderr or done.stdout).decode(errors="replace").strip().splitlines()
        return f"{probe[0]} exits {done.returncode}: {said[-1] if said else 'no output'}"
    if not (build_dir(arch) / "service" / "MIREVO.exe").exists():
        return f"no {arch} build in {build_dir(arch)} (scripts/build.sh)"
    return None


class Prefix:
    """One booted Wine prefix of one architecture, shared by a test run."""

    def __init__(self, arch, path=None, display=None):
        self.arch = arch
        self.build = build_dir(arch)
        self.own = path is None
        self.path = Path(path or tempfile.mkdtemp(prefix=f"lcdmon-{arch}."))
        self.drive_c = self.path / "drive_c"
        loader = LOADERS[arch]
        self.wine, self.wineserver = loader["wine"], loader["wineserver"]
        self.env = dict(os.environ)
        self.env.update(loader["env"])
        self.env.update(WINEPREFIX=str(self.path), WINEDEBUG="-all", LC_ALL="ja_JP.UTF-8",
                        LANG="ja_JP.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=")
        if display:
            self.env["DISPLAY"] = display
        else:
            self.env.pop("DISPLAY", None)

    # --- life of the prefix -------------------------------------------------
    def boot(self):
        """Boots the prefix and leaves a persistent wineserver: without it Wine
        ends services.exe, and every service, when the last ordinary Wine
        process exits."""
        booted, said = self.run("wineboot", "-i", timeout=180)
        self._quiet([self.wineserver, "-w"], 60)
        self._quiet([self.wineserver, "-p"], 10)
        # Starts services.exe and the prefix's own services and lets them
        # settle: a program started while one of them is still connecting
        # could take its place on the service pipe. On a busy machine the
        # first program after the boot now and then fails at once; a second
        # try goes through.
        for _ in range(3):
            rc, out = self.run("cmd", "/c", "exit", timeout=60)
            if rc == 0:
                time.sleep(2)
                return
            time.sleep(2)
        raise RuntimeError(f"{self.arch} prefix did not boot: wineboot exits {booted} ({said[-200:]!r}), "
                           f"cmd exits {rc} ({out[-200:]!r})")

    def end(self):
        self._quiet([self.wineserver, "-k"], 10)
        self._quiet([self.wineserver, "-w"], 20)
        if self.own:
            shutil.rmtree(self.path, ignore_errors=True)

    def _quiet(self, command, timeout):
        try:
            return subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return None

    # --- programs -----------------------------------------------------------
    def run(self, *args, cwd=None, timeout=30):
        """Runs a Windows program to its end: (exit code, output as text).

        Output goes through a file, never a pipe: services started by it
        inherit its streams and would hold a pipe open for ever. A run that
        outlives its time gives the code None."""
        with tempfile.TemporaryFile() as out:
            try:
                rc = subprocess.run([self.wine, *args], env=self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                rc = None
            out.seek(0)
            return rc, out.read().decode("cp932", errors="replace").replace("\r", "")

    def start(self, *args, cwd=None, log=None):
        """Starts a Windows program and leaves it running: the Popen."""
        stream = open(log, "wb") if log else subprocess.DEVNULL
        return subprocess.Popen([self.wine, *args], env=self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=stream, stderr=subprocess.STDOUT)

    def sc(self, *args):
        rc, out = self.run("sc", *args)
        return out

    def state(self, name):
        """The service's state name as `sc query` gives it (RUNNING, STOPPED,
        ...), or None when the manager does not know the service."""
        match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", self.sc("query", name))
        return match.group(1) if match else None

    def wait_for_state(self, name, state, seconds):
        deadline = time.monotonic() + seconds
        while True:
            if self.state(name) == state:
                return True
            if time.monotonic() > deadline:
                return False
            time.sleep(0.2)

    # --- Linux view of the prefix's processes -------------------------------
    def pids(self, pattern):
        """Linux pids of this prefix's processes whose command line matches
        the pattern: other runs may have programs of the same name in
        prefixes of their own."""
        found = []
        mark = f"WINEPREFIX={self.path}".encode()
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                command = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
                if re.search(pattern, command) and mark in (entry / "environ").read_bytes().split(b"\0"):
                    found.append(int(entry.name))
            except OSError:
                continue
        return found

    def gone_within(self, pattern, seconds):
        """True when no process matching the pattern is left within the time;
        else kills what is left and gives False."""
        deadline = time.monotonic() + seconds
        while self.pids(pattern):
            if time.monotonic() > deadline:
                for pid in self.pids(pattern):
                    try:
                        os.kill(pid, 9)
                    except OSError:
                        pass
                return False
            time.sleep(0.1)
        return True
