"""Wine prefixes for the end-to-end tests: which architectures this host can
run, booting a prefix, running Windows programs in it, and the service
control manager's view of a service.

Every wait is bounded, and every process started is ended by pid or by
ending the prefix's own wineserver.
"""
import contextlib
import datetime
import functools
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
# The build root: $LCDMON_BUILD (relative to the repository) or build/.
BUILD_ROOT = TOP / os.environ.get("LCDMON_BUILD", "build")
VERSION = re.search(r"project\(\w+ VERSION (\d+\.\d+\.\d+)", (TOP / "CMakeLists.txt").read_text())[1]
RELEASE_ZIP = BUILD_ROOT / "win32" / f"MIREVO-{VERSION}-win32.zip"
ARCHITECTURES = ("win32", "win64")

# Debian's /usr/bin/wine picks the 32-bit loader whenever wine32 is there, so
# a 64-bit-only prefix calls the 64-bit loader and server directly. The
# 32-bit prefix is a pure one, as on 32-bit Windows.
LOADERS = {"win32": ("wine", "wineserver", {"WINEARCH": "win32"}),
           "win64": ("/usr/lib/wine/wine64", "/usr/lib/wine/wineserver64",
                     {"WINELOADER": "/usr/lib/wine/wine64", "WINEARCH": "win64"})}
# The IPA fonts stand in for Windows' ＭＳ Ｐゴシック and ＭＳ ゴシック in every
# window and screenshot; no window frames and no managed windows, as there is
# no window manager.
SETTINGS = (("HKCU\\Software\\Wine\\Fonts\\Replacements", "ＭＳ Ｐゴシック", "IPAPGothic"),
            ("HKCU\\Software\\Wine\\Fonts\\Replacements", "ＭＳ ゴシック", "IPAGothic"),
            ("HKCU\\Software\\Wine\\X11 Driver", "Decorated", "N"),
            # No window manager runs on the private X server: a window that Wine
            # takes for managed waits 2 s at every hiding for one to answer.
            ("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N"))
# The system PATH as Wine makes it, and C:\Tools, a folder that a test may put
# a library into: services take the PATH when the prefix's session starts.
SYSTEM_PATH = ("HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment", "/v", "PATH", "/t",
               "REG_EXPAND_SZ", "/d", r"%SystemRoot%\system32;%SystemRoot%;%SystemRoot%\system32\wbem;"
               r"%SystemRoot%\system32\WindowsPowershell\v1.0;C:\Tools", "/f")


def until(seconds, check, step=0.1):
    """check()'s first true answer within the time, else its last answer."""
    deadline = time.monotonic() + seconds
    while not (answer := check()) and time.monotonic() < deadline:
        time.sleep(step)
    return answer


def zone_at(hour):
    """A zone in whole hours without summer time whose local hour is `hour`
    now (three hours later where that is within an hour of UTC's, so that
    UTC is never right): its POSIX TZ (east of UTC written negative) and tzinfo."""
    utc = datetime.datetime.now(datetime.timezone.utc).hour
    hour += 3 if (hour - utc) % 24 in (0, 1, 23) else 0
    east = (hour - utc + 11) % 24 - 11
    return f"LCD{-east:+d}", datetime.timezone(datetime.timedelta(hours=east))


@functools.cache
def win32_verdict():
    """What scripts/win32-probe.sh says of win32 here, the verdict that
    set-up, the test command and the main job take too: (code, line). 0 runs;
    1 wine32 is installed on a host that runs 32-bit programs but does not
    answer (the shipped build must run there: every win32 test fails); 2 and 3
    not run here (a host that refuses 32-bit programs, or one without wine32)."""
    done = subprocess.run([str(TOP / "scripts" / "win32-probe.sh")], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode(errors="replace").strip() or f"win32-probe.sh exits {done.returncode}"


def win32_must_run():
    """Whether win32 is to run here: the host runs 32-bit programs and wine32 is installed."""
    return win32_verdict()[0] in (0, 1)


def why_wine_cannot_run(arch):
    """None when this host runs `arch` programs under Wine, else one line why."""
    if arch == "win32":
        code, line = win32_verdict()
        if code != 0:
            return line.removeprefix("win32: ")
    else:
        try:
            done = subprocess.run([LOADERS[arch][0], "--version"], stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=30)
        except (OSError, subprocess.TimeoutExpired) as error:
            return f"{LOADERS[arch][0]}: {error.strerror if isinstance(error, OSError) else 'no answer in 30 s'}"
        said = (done.stderr or done.stdout).decode(errors="replace").strip().splitlines() or ["no output"]
        if done.returncode != 0 or not done.stdout.startswith(b"wine-"):
            return f"{LOADERS[arch][0]} exits {done.returncode}: {said[-1]}"
    built = (BUILD_ROOT / arch / "service" / "MIREVO.exe").exists()
    return None if built else f"no {arch} build in {BUILD_ROOT / arch} (scripts/build.sh)"


class Prefix:
    """One booted Wine prefix of one architecture, shared by a test run. With
    an hour, its programs run in zone_at(hour): Wine takes the local time from
    the host's C library, which follows TZ, and services.exe and the services
    take the zone of the program that starts them."""

    def __init__(self, arch, path=None, display=None, hour=None):
        self.arch, self.build, self.own, self.zone = arch, BUILD_ROOT / arch, path is None, None
        self.path = Path(path or tempfile.mkdtemp(prefix=f"lcdmon-{arch}."))
        self.drive_c = self.path / "drive_c"
        self.wine, self.wineserver, loader_env = LOADERS[arch]
        self.env = {k: v for k, v in os.environ.items() if k != "DISPLAY"} | loader_env | {
            "WINEPREFIX": str(self.path), "WINEDEBUG": "-all", "LC_ALL": "ja_JP.UTF-8", "LANG": "ja_JP.UTF-8",
            "WINEDLLOVERRIDES": "mscoree,mshtml=", **({"DISPLAY": display} if display else {})}
        if hour is not None:   # else the host's zone, naive
            self.env["TZ"], self.zone = zone_at(hour)

    def now(self):
        """The local time of the prefix's programs."""
        return datetime.datetime.now(self.zone)

    # --- life of the prefix -------------------------------------------------
    def boot(self):
        """Boots the prefix and leaves a persistent wineserver: without it Wine
        ends services.exe, and every service, when the last ordinary Wine
        process exits."""
        booted, said = self.run("wineboot", "-i", timeout=180)
        path_set, _ = self.run("reg", "add", *SYSTEM_PATH)
        self._server(("-w", 60), ("-p", 10))
        # Starts services.exe and the prefix's own services and lets them
        # settle: a program started while one of them is still connecting
        # could take its place on the service pipe. On a busy machine the
        # first program after the boot now and then fails at once; a second
        # try goes through.
        for _ in range(3):
            rc, out = self.run("cmd", "/c", "exit", timeout=60)
            time.sleep(2)
            if rc == 0:
                break
        else:
            raise RuntimeError(f"{self.arch} prefix did not boot: wineboot exits {booted} ({said[-200:]!r}), "
                               f"cmd exits {rc} ({out[-200:]!r})")
        added = [self.run("reg", "add", key, "/v", name, "/d", value, "/f") for key, name, value in SETTINGS]
        if path_set != 0 or any(rc != 0 for rc, _ in added):
            raise RuntimeError(f"{self.arch} prefix: reg add gave {path_set} for PATH, {added}")

    def end(self):
        self._server(("-k", 10), ("-w", 20))
        if self.own:
            shutil.rmtree(self.path, ignore_errors=True)

    def _server(self, *calls):
        """Runs the prefix's wineserver with each (flag, seconds) in turn."""
        for flag, seconds in calls:
            with contextlib.suppress(subprocess.TimeoutExpired):
                subprocess.run([self.wineserver, flag], env=self.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=seconds)

    # --- programs -----------------------------------------------------------
    def run(self, *args, cwd=None, timeout=30, encoding="cp932"):
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
            return rc, out.read().decode(encoding, errors="replace").replace("\r", "")

    def start(self, *args, cwd=None, out=subprocess.DEVNULL):
        """Starts a Windows program and leaves it running: the Popen. Its
        output goes to `out`, a file, never a pipe (see run)."""
        return subprocess.Popen([self.wine, *args], env=self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.STDOUT)

    def sc(self, *args):
        return self.run("sc", *args)[1]

    def state(self, name):
        """The service's state name as `sc query` gives it (RUNNING, STOPPED,
        ...), or None when the manager does not know the service."""
        return (match := re.search(r"STATE\s*:\s*\d+\s+(\w+)", self.sc("query", name))) and match[1]

    def wait_for_state(self, name, state, seconds):
        return until(seconds, lambda: self.state(name) == state, 0.2)

    def delete_service(self, name):
        """Stops the service if it runs, and deletes it if the manager knows it."""
        state = self.state(name)
        if state not in (None, "STOPPED"):
            self.sc("stop", name)
            self.wait_for_state(name, "STOPPED", 30)
        if state is not None:
            self.sc("delete", name)

    # --- Linux view of the prefix's processes -------------------------------
    def pids(self, pattern):
        """Linux pids of this prefix's processes whose command line matches
        the pattern: other runs may have programs of the same name in
        prefixes of their own."""
        found, mark = [], f"WINEPREFIX={self.path}".encode()
        for entry in (entry for entry in Path("/proc").iterdir() if entry.name.isdigit()):
            with contextlib.suppress(OSError):
                command = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
                if re.search(pattern, command) and mark in (entry / "environ").read_bytes().split(b"\0"):
                    found.append(int(entry.name))
        return found

    def gone_within(self, pattern, seconds):
        """True when no process matching the pattern is left within the time;
        else kills what is left and gives False."""
        if until(seconds, lambda: not self.pids(pattern)):
            return True
        subprocess.run(["kill", "-9", *map(str, self.pids(pattern))], stderr=subprocess.DEVNULL)
        return False
