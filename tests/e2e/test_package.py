"""The Windows Installer package under Wine's msiexec, and the signing step.

The package: build/win32/MIREVO-<version>-win32.msi as scripts/build.sh
builds it from the release ZIP. On a host that runs only 64-bit programs the
same source (scripts/msi.sh) packs the win64 build instead. For the upgrade,
the same source packs copies of the programs whose version resource says an
earlier version, at that earlier version.

Every install runs silently with a verbose log and Wine's menu builder
switched off, the user's menu folders pointed at an empty folder that must
stay empty. Where Wine's msi does not do what Windows Installer does, the
check accepts Wine's known result only under its name (WineDiffers warnings
in the summary), never as if it were right.
"""
import os
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import time
import warnings
import zipfile

import pytest

import lcd
import test_release
from wine import BUILD_ROOT, RELEASE_ZIP, TOP, VERSION, until

RELEASE_MSI = RELEASE_ZIP.with_suffix(".msi")
RELEASE_FILES = ("MIREVO.exe", "DRELOM.exe", "DRELOM.ini", "INSTALL-ja.txt", "INSTALL-en.txt")
PRODUCT_NAME = "LCD System Monitor"
UPGRADE_CODE = "{6D1F3C62-2F0E-4A8E-9B57-3F1C2A7E5D40}"
EARLIER = f"{int(VERSION.split('.')[0]) - 1}.9.0"
# Where [ProgramFilesFolder] lies: a 32-bit package, and the win64 test
# package too, goes to Program Files (x86) on 64-bit Windows.
PROGRAM_FILES = {"win32": "Program Files", "win64": "Program Files (x86)"}
PLATFORM = {"win32": "Intel", "win64": "x64"}   # the summary's template names them so
SERVICES = "HKLM\\System\\CurrentControlSet\\Services\\MIREVO"
PRODUCTS = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
STATE = 1009   # DRELOM's state label
# msiexec's exit code as a Linux process sees it: the low byte.
SUCCESS, INSTALL_FAILURE, FUNCTION_FAILED, RESTART_NEEDED = 0, 1603 & 0xFF, 1627 & 0xFF, 3010 & 0xFF


class WineDiffers(UserWarning):
    """Wine's msi does here what Windows Installer does not."""


UNQUOTED_IMAGE_PATH = (
    "Wine's msi registers the service's image path without quotes; Windows Installer quotes the key file's path "
    "(its log: ServiceInstall(Name=...,ImagePath=\"C:\\Program Files\\...\\X.exe\",...)), as DRELOM does")
PER_USER_PROGRAM_MENU = (
    "Wine's msi resolves ProgramMenuFolder to the user's Start menu also in a per-machine package; Windows "
    "Installer uses the all users' one")
START_FAILURE_CODE = (
    "Wine's msiexec ends a failed StartServices with 1627 (function failed); Windows Installer with 1603")
NO_WAIT_FOR_STOP = (
    "Wine's msi asks the service to stop and goes on at once (it ignores ServiceControl's Wait): MIREVO.exe met the "
    "old process still ending and was left to the next restart; Windows Installer waits for the stop, up to 30 s")


def windows_or_wine(found, windows, wine, difference):
    """Passes on what Windows Installer does, or on Wine's known other
    result, which it then names."""
    if found != windows:
        assert found == wine, f"{found!r}: neither Windows Installer's {windows!r} nor Wine's {wine!r}"
        warnings.warn(difference, WineDiffers)


# -- packages ---------------------------------------------------------------------

def with_version(data, version):
    """The program, or for an earlier version a copy whose version resource
    says so: its fixed file and product versions and its version strings."""
    if version == VERSION:
        return data
    data = bytearray(data)
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    assert fixed > 0 and data.find(struct.pack("<I", 0xFEEF04BD), fixed + 4) < 0, "not one VS_FIXEDFILEINFO"
    major, minor, patch = map(int, version.split("."))
    struct.pack_into("<IIII", data, fixed + 8, major << 16 | minor, patch << 16, major << 16 | minor, patch << 16)
    later, earlier = (v.encode("utf-16-le") + b"\0\0" for v in (VERSION, version))
    assert data.count(later) == 2, "FileVersion and ProductVersion not found"
    return bytes(data.replace(later, earlier.ljust(len(later), b"\0")))


@pytest.fixture(scope="module")
def packages(arch, tmp_path_factory):
    """{'current': .msi, 'earlier': .msi} of the architecture the suite runs;
    on win32 'current' is the shipped package."""
    work = tmp_path_factory.mktemp("packages")
    if arch == "win32":
        assert RELEASE_MSI.is_file(), f"no {RELEASE_MSI}: scripts/build.sh"
        with zipfile.ZipFile(RELEASE_ZIP) as archive:
            release = {name: archive.read(f"MIREVO-{VERSION}-win32/{name}") for name in RELEASE_FILES}
    else:
        release = {name: (BUILD_ROOT / arch / path).read_bytes() for name, path in zip(RELEASE_FILES, (
            "service/MIREVO.exe", "setup/DRELOM.exe", "package/DRELOM.ini", "package/INSTALL-ja.txt",
            "package/INSTALL-en.txt"))}
    built = {}
    for kind, version in (("current", VERSION), ("earlier", EARLIER)):
        (work / kind).mkdir()
        for name, data in release.items():
            (work / kind / name).write_bytes(with_version(data, version) if name.endswith(".exe") else data)
        built[kind] = work / f"MIREVO-{version}-{arch}.msi"
        done = subprocess.run([TOP / "scripts" / "msi.sh", arch, work / kind, version, built[kind]],
                              capture_output=True, text=True)
        assert done.returncode == 0, f"msi.sh {arch} {version}: {done.stderr}"
    return built | ({"current": RELEASE_MSI} if arch == "win32" else {})


def table(msi, name):
    """The rows of one table of the package, each a list of its columns."""
    # msiinfo writes a table's streams (the Icon table's) as files into its current directory.
    with tempfile.TemporaryDirectory() as scratch:
        done = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, check=True, cwd=scratch)
    return [line.split("\t") for line in done.stdout.decode("cp1252").splitlines()[3:]]


def test_package_holds_the_release_and_registers_the_service_vitally(packages, arch):
    msi = packages["current"]
    assert sorted(row[2] for row in table(msi, "File")) == sorted(RELEASE_FILES)
    # The box maker's library is the administrator's: no table names it.
    names = [name for name in subprocess.run(["msiinfo", "tables", msi], capture_output=True, text=True,
                                             check=True).stdout.split() if not name.startswith("_")]
    assert not [name for name in names if "vbausbio" in "\n".join(map("\t".join, table(msi, name))).lower()]
    properties = {row[0]: row[1] for row in table(msi, "Property")}
    assert (properties["ProductName"], properties["ProductVersion"], properties["UpgradeCode"].upper(),
            properties["ALLUSERS"]) == (PRODUCT_NAME, VERSION, UPGRADE_CODE, "1")
    # As DRELOM registers it, and vital (0x8000): a service Windows Installer
    # cannot register fails and rolls back the installation. Wine cannot make
    # the registration fail; the flag stands in for that proof.
    assert table(msi, "ServiceInstall") == [
        ["MIREVO", "MIREVO", "MIREVO", "16", "2", str(0x8000 | 1), "", "", "LocalSystem", "", "", "Service", ""]]
    assert {row[0]: row[5] for row in table(msi, "Component")}["Service"] == "MIREVO.exe"
    # Stop at install (0x02) and uninstall (0x20), waiting for the stop,
    # delete (0x80) at uninstall; start (0x01) only with the AutoStart
    # feature, which START=1 chooses in both sequences, as an install with
    # a window (a double-click, /qr) chooses the features in the UI sequence:
    # Wine's msi lets the execute sequence choose them again (a /qr install
    # starts the service also without the UI sequence's actions), so the
    # order stands in for the proof.
    controls = {row[0]: (row[1], int(row[2]), row[4], row[5]) for row in table(msi, "ServiceControl")}
    assert controls == {"MIREVO": ("MIREVO", 0xA2, "1", "Service"),
                        "StartMIREVO": ("MIREVO", 0x01, "1", "StartAtInstall")}
    # Recovery as DRELOM's 登録 registers it, in Windows Installer 5.0's own
    # tables at install and reinstall (Event 1 + 4): restart after a minute
    # (1), twice, then nothing (0), the count forgotten after a day; and the
    # failure-actions flag (ConfigType 4). Applied between registering and
    # starting the service, by an installer of version 5.0 or later only (an
    # earlier one would take the action for a missing custom action).
    assert table(msi, "MsiServiceConfigFailureActions") == [
        ["MIREVO", "MIREVO", "5", "86400", "", "", "1[~]1[~]0", "60000[~]60000[~]0", "Service"]]
    assert table(msi, "MsiServiceConfig") == [["MIREVO", "MIREVO", "5", "4", "1", "Service"]]
    steps = {row[0]: (row[1], int(row[2])) for row in table(msi, "InstallExecuteSequence")}
    assert steps["InstallServices"][1] < steps["MsiConfigureServices"][1] < steps["StartServices"][1] and \
        steps["MsiConfigureServices"][0] == 'VersionNT AND VersionMsi >= "5.00"', steps
    for sequence in ("InstallUISequence", "InstallExecuteSequence"):
        order = {row[0]: int(row[2]) for row in table(msi, sequence)}
        assert order["AppSearch"] < order["RecallStart"] < order["ChooseStart"] < order["CostFinalize"], sequence
    # The package's language among the template's, and the programs compared
    # as programs: by the versions of their own resources, in both packages
    # of the upgrade, whose components keep their GUIDs.
    summary = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True, check=True).stdout
    assert re.search(r"^Template: (.*)$", summary, re.M)[1] == f"{PLATFORM[arch]};{properties['ProductLanguage']}"
    for kind, version in (("current", VERSION), ("earlier", EARLIER)):
        versions = {row[2]: row[4:6] for row in table(packages[kind], "File") if row[2].endswith(".exe")}
        assert versions == {"MIREVO.exe": [f"{version}.0", "1041"], "DRELOM.exe": [f"{version}.0", "1041"]}, kind
    assert table(packages["current"], "Component") == table(packages["earlier"], "Component")
    # An earlier version goes inside the installation's own transaction, so
    # that a failed upgrade gives it back: Wine's msi does not roll back that
    # removal, and this order stands in for the proof on Windows.
    order = {row[0]: int(row[2]) for row in table(msi, "InstallExecuteSequence")}
    assert order["InstallInitialize"] < order["RemoveExistingProducts"] < order["ProcessComponents"]


# -- a machine under Wine's msiexec --------------------------------------------------

def values(listing):
    """{name: value} of one key's values in `reg query` output."""
    return {m[1]: m[2] for m in re.finditer(r"^[ \t]+(\w+)[ \t]+REG_\w+[ \t]*(.*)$", listing, re.M)}


class Machine:
    """The prefix as a managed machine: msiexec with its log, the install
    folder, the service's registration and the emulated LCD."""

    def __init__(self, prefix, arch, packages, work):
        self.prefix, self.packages = prefix, packages
        self.folder = prefix.drive_c / PROGRAM_FILES[arch] / "LcdMonitor"
        self.state = self.folder / "lcd-state.txt"   # the emulated LCD, as lcd.Display reads it
        self.windows_folder = f"C:\\{PROGRAM_FILES[arch]}\\LcdMonitor"
        self.service_pattern = re.escape(f"{self.windows_folder}\\MIREVO.exe")
        self.outside = work / "home"    # the user's menu folders, outside the prefix
        self.tools = prefix.drive_c / "package-tools"
        self.tools.mkdir(exist_ok=True)
        shutil.copy(prefix.build / "tests/wine/drelom_client.exe", self.tools)
        for name, path in packages.items():
            shutil.copy(path, self.tools / f"{name}.msi")
        self.times = {}

    def msiexec(self, *args, package="current"):
        """Runs msiexec silently on one of the packages: (exit code, log)."""
        log = self.tools / "msiexec.log"
        log.unlink(missing_ok=True)
        began = time.monotonic()
        rc, out = self.prefix.run("msiexec", *args[:1], f"C:\\package-tools\\{package}.msi", *args[1:], "/qn",
                                  "/l*v", "C:\\package-tools\\msiexec.log", timeout=120)
        self.times.setdefault(f"{package} {' '.join(args)}", []).append(time.monotonic() - began)
        # Wine writes the log in the process's code page.
        return rc, log.read_bytes().decode("cp932", errors="replace") if log.exists() else ""

    def pending_removals(self):
        """The files Windows is to delete at the next restart, as text."""
        return self.prefix.run("reg", "query", "HKLM\\System\\CurrentControlSet\\Control\\Session Manager",
                               "/v", "PendingFileRenameOperations")[1]

    def put_box_library(self):
        self.folder.mkdir(parents=True, exist_ok=True)
        shutil.copy(self.prefix.build / "sim" / "vbausbio.dll", self.folder)

    def contents(self):
        """The folder's files, but for the stand-in's display state on its
        way in (lcd-state.<n>.tmp, renamed to lcd-state.txt when written)."""
        if self.folder.exists():
            return sorted(p.name for p in self.folder.iterdir() if not re.fullmatch(r"lcd-state\.\d+\.tmp", p.name))

    def registration(self):
        """The service's registry values as `reg query` reads them: {name: value}."""
        rc, out = self.prefix.run("reg", "query", SERVICES)
        return values(out) if rc == 0 else None

    def entries(self):
        """The Add/Remove Programs entries of Windows Installer's products: [{name: value}]."""
        rc, out = self.prefix.run("reg", "query", PRODUCTS, "/s")
        return [k for k in map(values, re.split(r"^HKEY_\S+$", out, flags=re.M)) if k.get("WindowsInstaller")]

    def products(self):
        """(name, version) of every product installed by Windows Installer."""
        return sorted((k.get("DisplayName"), k.get("DisplayVersion")) for k in self.entries())

    def version(self, program):
        return test_release.file_version(test_release.pefile.PE(data=(self.folder / program).read_bytes()))

    def service_pids(self):
        """The Linux pids of the service's process, once there is one only
        (a stopped one may take a moment to go)."""
        return until(30, lambda: len(pids := self.prefix.pids(self.service_pattern)) == 1 and pids, 0.05) or \
            self.prefix.pids(self.service_pattern)

    def clean(self):
        """Removes whatever a test left: its products, the service, the
        folder and its programs. Gives the pids of programs still running
        after the products were removed, which it ended."""
        for package in ("current", "earlier"):
            if self.products():
                self.msiexec("/x", package=package)
        if self.prefix.state("MIREVO") is not None:
            self.prefix.sc("stop", "MIREVO")
            self.prefix.sc("delete", "MIREVO")
        pids = self.prefix.pids(r"LcdMonitor\\(MIREVO|DRELOM)\.exe")
        subprocess.run(["kill", "-9", *map(str, pids)], stderr=subprocess.DEVNULL) if pids else None
        shutil.rmtree(self.folder, ignore_errors=True)
        return pids


@pytest.fixture(scope="module")
def machine(prefix, arch, packages, tmp_path_factory):
    """The prefix with Wine's menu builder off and the user's menu folders
    elsewhere, for every msiexec of this file; each test starts and ends
    with nothing of the package installed."""
    work = tmp_path_factory.mktemp("machine")
    saved = prefix.env
    prefix.env = saved | {"WINEDLLOVERRIDES": saved.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=d",
                          "XDG_DATA_HOME": str(work / "home" / "data"),
                          "XDG_CONFIG_HOME": str(work / "home" / "config")}
    try:
        yield Machine(prefix, arch, packages, work)
    finally:
        prefix.env = saved


@pytest.fixture
def managed(machine):
    machine.clean()
    assert machine.products() == [] and machine.prefix.state("MIREVO") is None
    yield machine
    print("msiexec seconds:", {step: [round(s, 1) for s in times] for step, times in machine.times.items()})
    assert not machine.clean(), "a program of the package was left running"
    assert not [p for p in machine.outside.rglob("*") if p.is_file()], "Wine's menu builder wrote outside the prefix"


def test_install_starts_the_service_as_drelom_registers_it_then_repair_and_uninstall(managed):
    m = managed
    m.put_box_library()
    rc, log = m.msiexec("/i", "START=1")
    assert rc == SUCCESS, f"msiexec /i START=1: exit {rc}\n{log[-2000:]}"
    assert re.search(r"StartServices.*\n.*MIREVO", log), "the log shows no start of MIREVO"
    assert m.contents() == sorted(RELEASE_FILES + ("vbausbio.dll", "lcd-state.txt", "lcd-transfers.log"))
    assert m.prefix.state("MIREVO") == "RUNNING" and len(m.service_pids()) == 1
    lcd.first_screen(m, 10)

    registered = m.registration()
    image = registered.pop("ImagePath")
    assert {k: registered.get(k) for k in ("Type", "Start", "ErrorControl", "ObjectName", "DisplayName")} == \
        {"Type": "0x10", "Start": "0x2", "ErrorControl": "0x1", "ObjectName": "LocalSystem", "DisplayName": "MIREVO"}
    program = f"{m.windows_folder}\\MIREVO.exe"
    windows_or_wine(image, f'"{program}"', program, UNQUOTED_IMAGE_PATH)
    # Add/Remove Programs: no Change button, the notes as help, and the
    # icon that Windows Installer keeps for the entry.
    entry, = m.entries()
    icon = m.prefix.drive_c / "windows/Installer" / re.search(r"{.*}", entry["UninstallString"])[0] / "LcdMonitor.ico"
    assert (entry["NoModify"], entry["HelpLink"]) == ("0x1", f"{m.windows_folder}\\INSTALL-ja.txt"), str(entry)
    assert icon.read_bytes() == (TOP / "package" / "LcdMonitor.ico").read_bytes()

    # The Start menu's shortcut starts DRELOM in the folder, where it finds
    # DRELOM.ini: it names the service and shows it running.
    user_menu = next(m.prefix.drive_c.glob("users/*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"))
    common_menu = m.prefix.drive_c / "ProgramData/Microsoft/Windows/Start Menu/Programs"
    shortcuts = [menu for menu in (common_menu, user_menu) if (menu / "DRELOM.lnk").exists()]
    windows_or_wine(shortcuts, [common_menu], [user_menu], PER_USER_PROGRAM_MENU)
    shortcut = "C:\\" + str((shortcuts[0] / "DRELOM.lnk").relative_to(m.prefix.drive_c)).replace("/", "\\")
    assert m.prefix.run("start", shortcut)[0] == 0
    rc, out = m.prefix.run("drelom_client.exe", "wait", "20000", "text", "1005", "text", str(STATE), "close",
                           cwd=m.tools, timeout=60, encoding="utf-8")
    assert rc == 0 and out.splitlines() == ["1005 MIREVO", f"{STATE} 開始"], f"DRELOM by its shortcut: {out!r}"
    assert until(30, lambda: not m.prefix.pids(r"LcdMonitor\\DRELOM\.exe")), "DRELOM did not end"

    # Repair (Wine's msiexec has no /f for an installed product: REINSTALL
    # is the same request) puts a deleted program back and a damaged one
    # (an older build's bytes, written in place while the service runs). It
    # stops the service first, so that nothing is left to the next restart,
    # and starts it again.
    pid, pending = m.service_pids(), m.pending_removals()
    originals = {name: (m.folder / name).read_bytes() for name in ("MIREVO.exe", "DRELOM.exe")}
    (m.folder / "DRELOM.exe").unlink()
    with open(m.folder / "MIREVO.exe", "r+b") as program:
        program.write(with_version(originals["MIREVO.exe"], EARLIER))
    rc, log = m.msiexec("/i", "REINSTALL=ALL", "REINSTALLMODE=omus")
    assert (m.folder / "DRELOM.exe").read_bytes() == originals["DRELOM.exe"], f"repair: exit {rc}\n{log[-2000:]}"
    assert m.prefix.state("MIREVO") == "RUNNING" and len(after := m.service_pids()) == 1 and after != pid, \
        f"service processes before the repair {pid}, after {after}"
    replaced = (m.folder / "MIREVO.exe").read_bytes() == originals["MIREVO.exe"]
    windows_or_wine((rc, replaced, m.pending_removals() == pending), (SUCCESS, True, True),
                    (RESTART_NEEDED, False, False), NO_WAIT_FOR_STOP)

    # Uninstall: a plain stop leaves the LCD's last screen; the service and
    # every installed file go; the box library and the stand-in's files stay.
    rc, log = m.msiexec("/x")
    assert rc == SUCCESS, f"msiexec /x: exit {rc}\n{log[-2000:]}"
    assert m.prefix.state("MIREVO") is None and m.registration() is None and m.products() == []
    assert until(30, lambda: not m.prefix.pids(m.service_pattern)), "MIREVO.exe still runs"
    last = lcd.Display(m.state).rows
    time.sleep(1.5)
    # Neither cleared nor the stopped notice: row 0 still shows the clock.
    assert lcd.Display(m.state).rows == last and re.fullmatch(rb"\d\d/\d\d \d\d:\d\d.*", last[0]), \
        f"the LCD after uninstall: {last}, then {lcd.Display(m.state).rows}"
    # A file removal that meets the program still mapped leaves it to the
    # next restart: under Wine, which does not wait for the stop, the whole
    # stop long; on Windows, the moment between the service's report of
    # stopped and the end of its process. Nothing else may stay.
    until(30, lambda: "MIREVO.exe" not in m.contents() or "MIREVO.exe" in m.pending_removals(), 0.5)
    gone = "MIREVO.exe" not in m.contents()
    pending = "" if gone else m.pending_removals()
    assert [f for f in m.contents() if f != "MIREVO.exe" or "MIREVO.exe" not in pending] == \
        ["lcd-state.txt", "lcd-transfers.log", "vbausbio.dll"], f"left after uninstall: {m.contents()}; {pending!r}"
    if not gone:
        warnings.warn(NO_WAIT_FOR_STOP, WineDiffers)
    assert not [menu for menu in (common_menu, user_menu) if (menu / "DRELOM.lnk").exists()]


@pytest.mark.parametrize("start, code, state", [(None, SUCCESS, "STOPPED"), ("START=1", None, None)],
                         ids=["registered-without-start", "start-without-box-library"])
def test_install_without_the_box_library(managed, start, code, state):
    """Without START=1 the service is registered and waits for the next boot;
    with it but no vbausbio.dll the service cannot start, the installation
    fails and leaves nothing behind."""
    m = managed
    rc, log = m.msiexec("/i", *filter(None, [start]))
    if code is None:
        windows_or_wine(rc, INSTALL_FAILURE, FUNCTION_FAILED, START_FAILURE_CODE)
        assert m.contents() is None and m.products() == [], f"left behind: {m.contents()}, {m.products()}"
    else:
        assert rc == code and m.contents() == sorted(RELEASE_FILES), f"exit {rc}, {m.contents()}"
        assert m.products() == [(PRODUCT_NAME, VERSION)]
    assert m.prefix.state("MIREVO") == state
    if state:
        # Nothing but installed files in the folder: uninstall takes it away.
        assert m.msiexec("/x")[0] == SUCCESS and m.contents() is None and m.prefix.state("MIREVO") is None


def test_upgrade_replaces_the_earlier_version_and_starts_the_service_again(managed):
    m = managed
    m.put_box_library()
    rc, log = m.msiexec("/i", "START=1", package="earlier")
    assert rc == SUCCESS and m.version("MIREVO.exe") == f"{EARLIER}.0", f"earlier version: exit {rc}"
    before = m.service_pids()
    assert len(before) == 1 and m.products() == [(PRODUCT_NAME, EARLIER)]
    # No START=1 this time: the earlier installation's choice is remembered.
    rc, log = m.msiexec("/i")
    assert rc == SUCCESS, f"upgrade: exit {rc}\n{log[-2000:]}"
    assert m.products() == [(PRODUCT_NAME, VERSION)]
    assert [m.version(program) for program in ("MIREVO.exe", "DRELOM.exe")] == [f"{VERSION}.0"] * 2
    assert m.prefix.state("MIREVO") == "RUNNING"
    after = m.service_pids()
    assert len(after) == 1 and after != before, f"service processes before {before}, after {after}"
    assert m.registration()["ImagePath"].strip('"') == f"{m.windows_folder}\\MIREVO.exe"
    # And back: the earlier version is refused by its launch condition, with
    # the exit code of any failure, and the later one runs on untouched.
    rc, log = m.msiexec("/i", package="earlier")
    assert rc == INSTALL_FAILURE and "LaunchConditions" in log and "CostInitialize" not in log, \
        f"downgrade: exit {rc}\n{log[-2000:]}"
    assert m.products() == [(PRODUCT_NAME, VERSION)] and m.service_pids() == after
    assert m.msiexec("/x")[0] == SUCCESS and m.prefix.state("MIREVO") is None


# -- signing ----------------------------------------------------------------------------

@pytest.fixture(scope="module")
def throwaway_certificate(tmp_path_factory):
    """A self-signed code-signing certificate made for these tests only:
    (PKCS#12 file, password, certificate)."""
    work = tmp_path_factory.mktemp("certificate")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                    "/CN=Throwaway test signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", work / "key.pem", "-out", work / "cert.pem"], capture_output=True, check=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", work / "key.pem", "-in", work / "cert.pem",
                    "-out", work / "signer.pfx", "-passout", "pass:throwaway"], capture_output=True, check=True)
    return work / "signer.pfx", "throwaway", work / "cert.pem"


def sign(files, certificate=None, timestamp=None, test_signing=True):
    """sign.sh with the certificate. No time-stamping server can be reached
    here: test signing opts out of the time stamp by name."""
    environment = {k: v for k, v in os.environ.items() if not k.startswith("LCDMON_SIGN_")}
    if certificate:
        environment |= {"LCDMON_SIGN_PFX": str(certificate[0]), "LCDMON_SIGN_PASSWORD": certificate[1]}
    if timestamp:
        environment["LCDMON_SIGN_TIMESTAMP"] = timestamp
    elif test_signing:
        environment["LCDMON_SIGN_WITHOUT_TIMESTAMP"] = "1"
    return subprocess.run([TOP / "scripts" / "sign.sh", *files], env=environment, capture_output=True, text=True)


def test_without_a_certificate_nothing_is_signed(tmp_path):
    copy = tmp_path / "MIREVO.msi"
    shutil.copy(RELEASE_MSI, copy)
    done = sign([copy])
    assert done.returncode == 0 and "left unsigned" in done.stderr, done.stderr
    assert copy.read_bytes() == RELEASE_MSI.read_bytes()


@pytest.mark.parametrize("server", [None, "unreachable"])
def test_a_release_signature_without_a_time_stamp_fails_and_leaves_the_file(tmp_path, throwaway_certificate, server):
    copy = tmp_path / RELEASE_MSI.name
    shutil.copy(RELEASE_MSI, copy)
    if server:
        with socket.socket() as closed:   # a port where nothing answers
            closed.bind(("127.0.0.1", 0))
            server = f"http://127.0.0.1:{closed.getsockname()[1]}/"
    done = sign([copy], throwaway_certificate, timestamp=server, test_signing=False)
    assert done.returncode != 0 and copy.read_bytes() == RELEASE_MSI.read_bytes(), done.stderr
    # The SHA-1 signature, the one Windows XP reads, asks first, in the older
    # Authenticode form, the only one XP understands.
    assert not server or "Authenticode timestamping failed" in done.stderr, done.stderr


@pytest.mark.parametrize("name", ["MIREVO.exe", "DRELOM.exe", RELEASE_MSI.name])
def test_signed_copy_verifies_and_passes_the_release_checks(tmp_path, throwaway_certificate, name):
    copy = tmp_path / name
    if name == RELEASE_MSI.name:
        shutil.copy(RELEASE_MSI, copy)
    else:
        with zipfile.ZipFile(RELEASE_ZIP) as archive:
            copy.write_bytes(archive.read(f"MIREVO-{VERSION}-win32/{name}"))
    done = sign([copy], throwaway_certificate)
    assert done.returncode == 0, done.stderr
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", throwaway_certificate[2], "-in", copy],
                              capture_output=True, text=True)
    digests = re.findall(r"^Message digest algorithm\s+: (\S+)$", verified.stdout, re.M)
    # SHA-1 first, for Windows XP and Vista; SHA-256 nested in it.
    # The description: the program name the UAC prompt shows for a package.
    assert verified.returncode == 0 and "Number of verified signatures: 2" in verified.stdout and \
        digests == ["SHA1", "SHA256"] and verified.stdout.count("Text description: LCD System Monitor") == 2, \
        verified.stdout + verified.stderr
    if name.endswith(".exe"):
        # The release's own checks, on the signed program.
        images = {name: test_release.pefile.PE(data=copy.read_bytes())}
        test_release.test_program_imports_only_what_windows_xp_has(images, name)
        test_release.test_program_header_asks_for_windows_xp_and_is_hardened(images, name)
        if name == "DRELOM.exe":
            test_release.test_drelom_manifest_requires_administrator(images)
        else:
            test_release.test_mirevo_asks_for_no_elevation(images)
