"""DRELOM.exe under Wine on the private X server, driven from another process
by drelom_client.exe: what its window shows, the box each button opens, and
what the service control manager holds afterwards."""
import os
import re
import shutil
import subprocess
import tempfile

import pytest

import lcd
from programs import Installed

# The window's controls by id.
REGISTER, START, DELETE, STOP, GUIDE, NAME, NAME_LABEL, EXE, EXE_LABEL, STATE, REFRESH = range(1000, 1011)
LABELS = {REGISTER: "登録", START: "開始", DELETE: "削除", STOP: "停止", GUIDE: "サービスの登録/削除が出来ます。",
          NAME_LABEL: "サービス名", EXE_LABEL: "EXE名", REFRESH: "最新の状態"}
# The box each button opens: its text on success (caption 成功), on failure (caption エラー).
MESSAGES = {
    REGISTER: ("サービスの登録に成功しました！", "サービスの登録に失敗しました！"),
    START: ("サービスの実行に成功しました！", "サービスの実行に失敗しました！"),
    STOP: ("サービスの停止に成功しました！", "サービスの停止に失敗しました！"),
    DELETE: ("サービスの削除に成功しました！", "サービスの削除に失敗しました！"),
}
SERVICES = "HKLM\\System\\CurrentControlSet\\Services\\"


class Drelom:
    """DRELOM.exe running in C:\\<folder>, and drelom_client.exe to drive its window."""

    def __init__(self, prefix, client, folder):
        self.prefix, self.client_exe = prefix, client
        self.process = prefix.start("DRELOM.exe", cwd=prefix.drive_c / folder)

    def client(self, *commands):
        """Runs the client to its end and gives its lines. It prints UTF-8,
        so it is run here rather than through prefix.run (code page 932)."""
        with tempfile.TemporaryFile() as out:
            try:
                rc = subprocess.run([self.prefix.wine, self.client_exe, *commands], env=self.prefix.env,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                    timeout=90).returncode
            except subprocess.TimeoutExpired:
                rc = None
            out.seek(0)
            lines = out.read().decode("utf-8", errors="replace").replace("\r", "").splitlines()
        assert rc == 0, f"drelom_client {' '.join(commands)}: exit {rc}, {lines}"
        return lines

    def texts(self):
        shown = controls(self.client("texts"))
        assert sorted(shown) == list(range(1000, 1011)), f"not every control was read: {shown}"
        return shown

    def state(self, *commands):
        """The state label, read after the client's commands."""
        lines = self.client(*commands, "text", str(STATE))
        assert STATE in controls(lines), f"no state label in {lines}"
        return controls(lines)[STATE]

    def press(self, button, succeeds, *states):
        """Clicks the button, checks the box it opens and answers it; then the
        state label must read one of the states."""
        lines = self.client("click", str(button), "box", "40000", "text", str(STATE))
        boxes = [line[4:] for line in lines if line.startswith("box ")]
        want = ("成功|" if succeeds else "エラー|") + MESSAGES[button][not succeeds]
        assert boxes == [want], f"button {button}: boxes {boxes}, not {want}"
        assert controls(lines).get(STATE) in states, f"after button {button}: {lines}, not one of {states}"

    def close(self):
        self.client("close")
        assert self.process.wait(10) == 0, "DRELOM.exe did not exit 0 when its window closed"


def controls(lines):
    """The client's "ID TEXT" lines: {id: text}."""
    return {int(m[1]): m[2] for m in (re.fullmatch(r"(1\d{3}) (.*)", line) for line in lines) if m}


@pytest.fixture(scope="module")
def client(prefix):
    """drelom_client.exe in C:\\tools, and the IPA fonts standing in for
    Windows' ＭＳ Ｐゴシック, with no window frames (no window manager)."""
    tools = prefix.drive_c / "tools"
    tools.mkdir(exist_ok=True)
    shutil.copy(prefix.build / "tests/wine/drelom_client.exe", tools)
    for key, name, value in (("HKCU\\Software\\Wine\\Fonts\\Replacements", "ＭＳ Ｐゴシック", "IPAPGothic"),
                             ("HKCU\\Software\\Wine\\Fonts\\Replacements", "ＭＳ ゴシック", "IPAGothic"),
                             ("HKCU\\Software\\Wine\\X11 Driver", "Decorated", "N")):
        rc, out = prefix.run("reg", "add", key, "/v", name, "/d", value, "/f")
        assert rc == 0, f"reg add {key} {name}: exit {rc}, {out}"
    return "C:\\tools\\drelom_client.exe"


@pytest.fixture
def drelom(prefix, client):
    """drelom(folder, exe): DRELOM.exe running in C:\\<folder>, beside the
    service's files and a DRELOM.ini naming MIREVO and exe (no file for None).
    The prefix is shared: however the test ends, every DRELOM started is ended
    and MIREVO (and OTHER) deleted."""
    started = []

    def start(folder, exe="MIREVO.exe"):
        files = Installed(prefix, folder)
        shutil.copy(prefix.build / "setup" / "DRELOM.exe", files.dir)
        if exe is not None:
            (files.dir / "DRELOM.ini").write_bytes(f"[Service]\r\nName=MIREVO\r\nExe={exe}\r\n".encode())
        window = Drelom(prefix, client, folder)
        started.append(window)
        window.client("wait", "20000")
        return window, files

    yield start
    for window in (w for w in started if w.process.poll() is None):
        window.process.kill()
        window.process.wait(10)
    for name in ("MIREVO", "OTHER"):
        if prefix.state(name) is not None:
            prefix.sc("stop", name)
            prefix.wait_for_state(name, "STOPPED", 5)
            prefix.sc("delete", name)
    prefix.gone_within(r"MIREVO\.exe", 5)


def service_record(prefix, name):
    """(binary path, start type) from the manager's registry key of the
    service (Wine 8's sc has no qc)."""
    rc, out = prefix.run("reg", "query", SERVICES + name)
    path = re.search(r"^\s+ImagePath\s+REG_(?:EXPAND_)?SZ\s+(.+)$", out, re.M)
    start = re.search(r"^\s+Start\s+REG_DWORD\s+(0x[0-9a-f]+)$", out, re.M)
    assert rc == 0 and path and start, f"no record of service {name}: exit {rc}, {out!r}"
    return path[1].strip(), int(start[1], 16)


def registered(prefix, name):
    """Whether the manager knows the service: `sc query` must answer, and
    agree with the service's registry key."""
    rc, out = prefix.run("sc", "query", name)
    key_rc, key = prefix.run("reg", "query", SERVICES + name)
    assert rc in (0, 1) and key_rc == rc and (rc == 0) == (f"SERVICE_NAME: {name}" in out), \
        f"{name}: sc query exit {rc} {out!r}, reg query exit {key_rc} {key!r}"
    return rc == 0


def save_picture(prefix):
    """The window's picture in the build folder, and at $DRELOM_SHOT when set:
    the DRELOM X window, else the screen's corner where it stands."""
    shot = prefix.build / "drelom.png"
    shot.unlink(missing_ok=True)

    def x(*command):
        try:
            return subprocess.run(command, env=dict(os.environ, DISPLAY=prefix.env["DISPLAY"]),
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=20)
        except (OSError, subprocess.TimeoutExpired) as error:
            return subprocess.CompletedProcess(command, -1, b"", str(error).encode())
    found = x("xdotool", "search", "--name", "^DRELOM$").stdout.decode().split()
    taken = x("import", "-window", found[0], str(shot)) if found else None
    if not taken or taken.returncode != 0:
        taken = x("import", "-window", "root", "-crop", "440x170+0+0", str(shot))
    assert taken.returncode == 0 and shot.exists(), f"no picture of the window: {taken.stderr}"
    colours = x("identify", "-format", "%m %k", str(shot)).stdout.split()
    assert colours[:1] == [b"PNG"] and int(colours[1]) > 2, f"not a picture of the window: {colours}"
    if os.environ.get("DRELOM_SHOT"):
        shutil.copy(shot, os.environ["DRELOM_SHOT"])


def test_window_shows_labels_and_settings(drelom, prefix):
    window, _ = drelom("mon")
    # The path field is the current directory and Exe, without quotes.
    assert window.texts() == {**LABELS, NAME: "MIREVO", EXE: "C:\\mon\\MIREVO.exe", STATE: "未登録"}
    save_picture(prefix)   # before any box covers the window
    window.close()


@pytest.mark.short
def test_register_start_stop_delete(drelom, prefix):
    window, files = drelom("mon")
    assert window.state() == "未登録"
    window.press(REGISTER, True, "停止")
    assert service_record(prefix, "MIREVO") == ('"C:\\mon\\MIREVO.exe"', 2), "not the quoted path, auto-start"

    window.press(START, True, "開始中", "開始")
    assert lcd.wait_for_display(files.state, lambda shown: shown.rows[0] != lcd.BLANK_ROW, 20), \
        "LCD row 0 stayed blank for 20 s after 開始"
    assert prefix.wait_for_state("MIREVO", "RUNNING", 20), prefix.sc("query", "MIREVO")
    assert window.state("send", str(REFRESH)) == "開始"

    window.press(STOP, True, "停止中", "停止")
    assert prefix.wait_for_state("MIREVO", "STOPPED", 20), prefix.sc("query", "MIREVO")
    assert window.state("send", str(REFRESH)) == "停止"
    window.press(STOP, False, "停止")        # stopping a stopped service
    window.press(REGISTER, False, "停止")    # registering twice

    window.press(DELETE, True, "未登録")
    assert not registered(prefix, "MIREVO")
    window.press(DELETE, False, "未登録")    # deleting an absent service
    window.press(START, False, "未登録")     # starting an absent service
    window.close()


def test_typed_text_is_not_used(drelom, prefix):
    window, _ = drelom("mon")
    window.client("settext", str(NAME), "OTHER", "settext", str(EXE), "C:\\elsewhere\\evil.exe")
    window.press(REGISTER, True, "停止")
    shown = window.texts()
    assert (shown[NAME], shown[EXE]) == ("OTHER", "C:\\elsewhere\\evil.exe"), "the typed text did not stay"
    assert service_record(prefix, "MIREVO")[0] == '"C:\\mon\\MIREVO.exe"', "registered from the typed text"
    assert not registered(prefix, "OTHER")
    window.press(DELETE, True, "未登録")
    window.close()


def test_without_settings_every_button_fails(drelom):
    window, _ = drelom("other", exe=None)
    shown = window.texts()
    assert (shown[NAME], shown[EXE], shown[STATE]) == ("", "C:\\other\\", "未登録")
    for button in (REGISTER, START, STOP, DELETE):
        window.press(button, False, "未登録")
    window.close()


def test_quote_in_exe_is_refused(drelom, prefix):
    # A quote would end the quoted binary path early and pass the rest as
    # arguments: DRELOM must refuse to register such a path at all.
    window, _ = drelom("quote", exe='MIREVO.exe" -evil')
    assert window.texts()[EXE] == 'C:\\quote\\MIREVO.exe" -evil', "the Exe value was not read whole"
    window.press(REGISTER, False, "未登録")
    assert not registered(prefix, "MIREVO")
    window.close()
