"""DRELOM.exe under Wine on the private X server, driven from another process
by drelom_client.exe: what its window shows, the box each button opens, and
what the service control manager holds afterwards."""
import os
import re
import shutil
import subprocess

import pytest

import lcd
from programs import Installed

# The window's controls by id.
REGISTER, START, DELETE, STOP, GUIDE, NAME, NAME_LABEL, EXE, EXE_LABEL, STATE, REFRESH = range(1000, 1011)
LABELS = {REGISTER: "登録", START: "開始", DELETE: "削除", STOP: "停止", GUIDE: "サービスの登録/削除が出来ます。",
          NAME_LABEL: "サービス名", EXE_LABEL: "EXE名", REFRESH: "最新の状態"}
# The box each button opens: サービスの<verb>に成功しました！ with caption 成功,
# or サービスの<verb>に失敗しました！ with caption エラー.
VERBS = {REGISTER: "登録", START: "実行", STOP: "停止", DELETE: "削除"}


class Drelom:
    """DRELOM.exe running in its folder, and drelom_client.exe beside it to
    drive its window from another process."""

    def __init__(self, files):
        self.files = files
        self.process = files.prefix.start("DRELOM.exe", cwd=files.dir)

    def client(self, *commands):
        """Runs the client to its end and gives its lines (it prints UTF-8)."""
        rc, out = self.files.run("drelom_client.exe", *commands, timeout=90, encoding="utf-8")
        assert rc == 0, f"drelom_client {' '.join(commands)}: exit {rc}, {out!r}"
        return out.splitlines()

    def texts(self):
        shown = controls(self.client("texts"))
        assert sorted(shown) == list(range(1000, 1011)), f"not every control was read: {shown}"
        return shown

    def state(self, *commands):
        """The state label, read after the client's commands (None if unread)."""
        return controls(self.client(*commands, "text", str(STATE))).get(STATE)

    def press(self, button, succeeds, *states):
        """Clicks the button, checks the box it opens and answers it; then the
        state label must read one of the states."""
        lines = self.client("click", str(button), "box", "40000", "text", str(STATE))
        want = ("成功|サービスの{}に成功しました！" if succeeds else "エラー|サービスの{}に失敗しました！").format(VERBS[button])
        boxes = [line[4:] for line in lines if line.startswith("box ")]
        assert boxes == [want], f"button {button}: boxes {boxes}, not {want}"
        assert controls(lines).get(STATE) in states, f"after button {button}: {lines}, not one of {states}"

    def check_layout(self):
        """The window as DRELOM's process measures it: every control inside the client area, none over another,
        each button's and label's text within it in its own font (the fields scroll), one font for all."""
        self.client("layout")   # a fresh folder: the file is the one written now
        lines = (self.files.dir / "drelom-layout.txt").read_text().splitlines()
        width, height = next(map(int, line.split()[1:]) for line in lines if line.startswith("client "))
        boxes = {int(f[0]): (*map(int, f[1:5]), f[5], int(f[6]), int(f[7]))
                 for f in (line.split() for line in lines if re.fullmatch(r"1\d{3}( -?\d+){4} \w+ \d+ \d+", line))}
        assert sorted(boxes) == list(range(1000, 1011)), f"not every control was read: {lines}"
        for id, (left, top, right, bottom, _, text_w, text_h) in boxes.items():
            assert 0 <= left < right <= width and 0 <= top < bottom <= height, f"{id} outside {width}x{height}: {lines}"
            assert id in (NAME, EXE) or (text_w <= right - left and text_h <= bottom - top), f"{id}'s text cut: {lines}"
            assert not any(max(left, l) < min(right, r) and max(top, t) < min(bottom, b)
                           for other, (l, t, r, b, *_) in boxes.items() if other != id), f"{id} overlaps: {lines}"
        fonts = {box[4] for box in boxes.values()}
        assert len(fonts) == 1 and "0" not in fonts, f"not one font for every control: {lines}"

    def close(self):
        self.client("close")
        assert self.process.wait(10) == 0, "DRELOM.exe did not exit 0 when its window closed"


def controls(lines):
    """The client's "ID TEXT" lines: {id: text}."""
    return {int(m[1]): m[2] for m in (re.fullmatch(r"(1\d{3}) (.*)", line) for line in lines) if m}


@pytest.fixture
def drelom(prefix):
    """drelom(folder, exe): DRELOM.exe running in C:\\<folder>, beside the
    service's files, the client and a DRELOM.ini naming MIREVO and exe (no
    file for None). The prefix is shared: however the test ends, every DRELOM
    started is ended and MIREVO (and OTHER) deleted."""
    started = []

    def start(folder, exe="MIREVO.exe"):
        files = Installed(prefix, folder)
        for program in ("setup/DRELOM.exe", "tests/wine/drelom_client.exe", "tests/wine/drelom_layout.dll",
                        "tests/wine/drelom_recorder.dll"):
            shutil.copy(prefix.build / program, files.dir)
        if exe is not None:
            (files.dir / "DRELOM.ini").write_bytes(f"[Service]\r\nName=MIREVO\r\nExe={exe}\r\n".encode())
        started.append(Drelom(files))
        started[-1].client("wait", "20000")
        return started[-1]

    yield start
    for window in started:
        window.process.kill()   # nothing when it has ended
        window.process.wait(10)
    for name in ("MIREVO", "OTHER"):
        prefix.delete_service(name)
    assert prefix.gone_within(r"C:\\(?:mon|other|quote)\\MIREVO\.exe", 30), "a service process was left behind"


def service_record(prefix, name):
    """The manager's registry key of the service, {value: data} (Wine 8's sc
    has no qc), or None when it is not registered; `sc query` must agree."""
    rc, out = prefix.run("reg", "query", "HKLM\\System\\CurrentControlSet\\Services\\" + name)
    sc_rc, query = prefix.run("sc", "query", name)
    assert rc in (0, 1) and sc_rc == rc and (rc == 0) == (f"SERVICE_NAME: {name}" in query), \
        f"{name}: sc query exit {sc_rc} {query!r}, reg query exit {rc} {out!r}"
    return {m[1]: m[2].strip() for m in re.finditer(r"^[ \t]+(\w+)[ \t]+REG_\w+[ \t]*(.*)$", out, re.M)} \
        if rc == 0 else None


def save_picture(prefix, shot):
    """The DRELOM X window's picture, for the docs: not a check."""
    found = subprocess.run(["xdotool", "search", "--name", "^DRELOM$"], env=prefix.env, capture_output=True, timeout=20)
    taken = subprocess.run(["import", "-window", (found.stdout.split() or [b"root"])[0], shot], env=prefix.env,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=20)
    assert taken.returncode == 0, f"no picture of the window: {taken.stderr}"


def test_window_shows_labels_and_settings(drelom, prefix):
    window = drelom("mon")
    # The path field is the current directory and Exe, without quotes.
    assert window.texts() == {**LABELS, NAME: "MIREVO", EXE: "C:\\mon\\MIREVO.exe", STATE: "未登録"}
    window.check_layout()
    if os.environ.get("DRELOM_SHOT"):
        save_picture(prefix, os.environ["DRELOM_SHOT"])   # before any box covers the window
    window.close()


# What 登録 asks the manager for after creating the service, as the manager
# receives it (recorded inside DRELOM): restart a minute after a failure, and
# again after a second one, then nothing; the count forgotten after a day;
# no reboot message or command of its own; and the flag that counts a start
# ending STOPPED with an exit code as a failure.
RECOVERY = ["actions reset 86400 reboot null command null 1/60000 1/60000 0/0", "flag 1"]
# The manager's answers: Windows takes both. Wine takes the actions and keeps
# nothing, and refuses the flag with 87, as Windows XP does with 124.
RECOVERY_ANSWERS = {"Windows": ["1 0", "1 0"], "Wine": ["1 0", "0 87"]}


def recorded(window):
    """The lines drelom_recorder.dll wrote inside DRELOM, its first one dropped
    ("recording": it patched DRELOM's import)."""
    lines = (window.files.dir / "drelom-recovery.txt").read_text().splitlines()
    assert lines[:1] == ["recording"], f"the recorder did not take DRELOM's import: {lines}"
    return lines[1:]


@pytest.mark.short
def test_register_start_stop_delete(drelom, prefix):
    window = drelom("mon")
    assert window.state() == "未登録"
    window.client("record")
    window.press(REGISTER, True, "停止")
    requests = [line.split(" -> ") for line in recorded(window)]
    assert [request for request, _ in requests] == RECOVERY and \
        [answer for _, answer in requests] in RECOVERY_ANSWERS.values(), f"recovery asked for: {requests}"
    print(f"\nrecovery as the manager received it: {requests}")
    # Own process, auto-start, normal error control, LocalSystem, the settings' name shown, the path quoted.
    record = service_record(prefix, "MIREVO")
    assert {k: record.get(k) for k in ("Type", "Start", "ErrorControl", "ObjectName", "DisplayName", "ImagePath")} == \
        {"Type": "0x10", "Start": "0x2", "ErrorControl": "0x1", "ObjectName": "LocalSystem", "DisplayName": "MIREVO",
         "ImagePath": '"C:\\mon\\MIREVO.exe"'}, f"registered as {record}"

    window.press(START, True, "開始中", "開始")
    lcd.first_screen(window.files)
    assert prefix.wait_for_state("MIREVO", "RUNNING", 20), prefix.sc("query", "MIREVO")
    assert window.state("send", str(REFRESH)) == "開始"

    window.press(STOP, True, "停止中", "停止")
    assert prefix.wait_for_state("MIREVO", "STOPPED", 20), prefix.sc("query", "MIREVO")
    assert window.state("send", str(REFRESH)) == "停止"
    window.press(STOP, False, "停止")        # stopping a stopped service
    window.press(REGISTER, False, "停止")    # registering twice

    window.press(DELETE, True, "未登録")
    assert service_record(prefix, "MIREVO") is None
    window.press(DELETE, False, "未登録")    # deleting an absent service
    window.press(START, False, "未登録")     # starting an absent service
    window.close()


def test_typed_text_is_not_used(drelom, prefix):
    window = drelom("mon")
    window.client("settext", str(NAME), "OTHER", "settext", str(EXE), "C:\\elsewhere\\evil.exe")
    window.press(REGISTER, True, "停止")
    shown = window.texts()
    assert (shown[NAME], shown[EXE]) == ("OTHER", "C:\\elsewhere\\evil.exe"), "the typed text did not stay"
    assert service_record(prefix, "MIREVO")["ImagePath"] == '"C:\\mon\\MIREVO.exe"', "registered from the typed text"
    assert service_record(prefix, "OTHER") is None
    window.press(DELETE, True, "未登録")
    window.close()


def test_without_settings_every_button_fails(drelom):
    window = drelom("other", exe=None)
    shown = window.texts()
    assert (shown[NAME], shown[EXE], shown[STATE]) == ("", "C:\\other\\", "未登録")
    for button in (REGISTER, START, STOP, DELETE):
        window.press(button, False, "未登録")
    window.close()


def test_network_folder_is_refused(drelom, prefix):
    # DRELOM in a folder on what Windows reports as a network drive (its
    # GetDriveTypeA answered so from inside it, as for a mapped drive): a
    # service registered from there would start from the share as
    # LocalSystem. Refused before the manager is asked for anything.
    window = drelom("remote")
    window.client("record", "remote")
    window.press(REGISTER, False, "未登録")
    assert service_record(prefix, "MIREVO") is None
    assert recorded(window) == ["drive C:\\ -> 4"], "not refused by the drive's type alone"
    window.close()


def test_quote_in_exe_is_refused(drelom, prefix):
    # A quote would end the quoted binary path early and pass the rest as
    # arguments: DRELOM must refuse to register such a path at all.
    window = drelom("quote", exe='MIREVO.exe" -evil')
    assert window.texts()[EXE] == 'C:\\quote\\MIREVO.exe" -evil', "the Exe value was not read whole"
    window.press(REGISTER, False, "未登録")
    assert service_record(prefix, "MIREVO") is None
    window.close()
