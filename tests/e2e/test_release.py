"""The release ZIP as an administrator receives it, read without Wine.

Its files and text files, the Windows its programs need (imports against
package/allowed-imports.txt, the version fields of their headers), their
hardening (random base with relocations, no-execute data, Remote Desktop
aware, stripped), DRELOM.exe's manifest asking for administrator rights, and
install notes that put the programs where only administrators can write.

The ZIP: <build root>/win32/MIREVO-<version>-win32.zip, the build root being
$LCDMON_BUILD or the repository's build/. Without it the tests fail.
"""
import re
import xml.etree.ElementTree as ElementTree
import zipfile

import pytest

import pe_image
from wine import RELEASE_ZIP, TOP, VERSION

PROGRAMS = ("MIREVO.exe", "DRELOM.exe")
NOTES = ("INSTALL-ja.txt", "INSTALL-en.txt")
RELEASE_FILES = sorted(PROGRAMS + NOTES + ("DRELOM.ini",))
SETTINGS = b"[Service]\r\nName=MIREVO\r\nExe=MIREVO.exe\r\n"

XP = (5, 1)   # Windows XP: NT 5.1, the oldest Windows the programs support
WINDOWS_VERSIONS = {"NT4": (4, 0), "2000": (5, 0), "XP": (5, 1), "Vista": (6, 0),
                    "7": (6, 1), "8": (6, 2), "8.1": (6, 3), "10": (10, 0)}
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}


@pytest.fixture(scope="module")
def release():
    """The ZIP's top folder and its files: {name: bytes}."""
    if not RELEASE_ZIP.is_file():
        pytest.fail(f"no {RELEASE_ZIP}: cmake --build <build root>/win32 --target package")
    top = f"MIREVO-{VERSION}-win32/"
    with zipfile.ZipFile(RELEASE_ZIP) as archive:
        names = [n for n in archive.namelist() if not n.endswith("/")]
        files = {n[len(top):]: archive.read(n) for n in names if n.startswith(top)}
    return {"top": top, "names": names, "files": files}


@pytest.fixture(scope="module")
def images(release):
    return {name: pe_image.PEImage(release["files"][name], name)
            for name in PROGRAMS if name in release["files"]}


def allowed_imports():
    """{(dll, function): version name} from package/allowed-imports.txt."""
    allowed = {}
    for number, line in enumerate((TOP / "package" / "allowed-imports.txt").read_text().splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split()
        assert len(fields) == 3, f"allowed-imports.txt:{number}: not 'dll function version'"
        dll, function, version = fields
        assert version in WINDOWS_VERSIONS, f"allowed-imports.txt:{number}: unknown version {version}"
        allowed[(dll.lower(), function)] = version
    return allowed


# -- the ZIP and its text files ------------------------------------------------

def test_zip_holds_exactly_the_release_files(release):
    # No stand-in vbausbio.dll, no test programs, nothing outside the top folder.
    assert sorted(release["names"]) == [release["top"] + name for name in RELEASE_FILES]
    assert release["files"]["DRELOM.ini"] == SETTINGS


@pytest.mark.parametrize("note", NOTES)
def test_install_notes_are_notepad_text(release, note):
    data = release["files"][note]
    assert data.startswith(b"\xef\xbb\xbf"), "no UTF-8 byte order mark"
    text = data[3:].decode("utf-8")
    rest = text.replace("\r\n", "")
    assert text.endswith("\r\n") and "\r" not in rest and "\n" not in rest, "a line does not end in CRLF"


@pytest.mark.parametrize("note", NOTES)
def test_install_notes_keep_the_programs_where_only_administrators_write(release, note):
    text = release["files"][note][3:].decode("utf-8")
    for needed in ("Windows XP SP3", "vbausbio.dll"):
        assert needed in text, f"{note} does not name {needed}"
    assert "C:\\Program Files (x86)\\LcdMonitor" in text and "C:\\Program Files\\LcdMonitor" in text
    # Every folder named on a drive lies in Program Files: none at the root of
    # a drive (C:\mon), none of Windows itself.
    folders = [text[drive.start():].split("\r\n", 1)[0] for drive in re.finditer(r"(?<![A-Za-z])[A-Za-z]:\\", text)]
    outside = [folder for folder in folders if not re.match(r"[A-Za-z]:\\Program Files( \(x86\))?\\", folder)]
    assert len(folders) >= 2 and not outside, f"{note} names {outside}"
    for offered in ("system32", "syswow64", "%systemroot%", "%windir%"):
        assert offered not in text.lower(), f"{note} names {offered}"
    # The box's library goes beside the programs; a system folder is named
    # only to say never, or as where the box maker's installer puts it.
    for sentence in re.split(r"(?<=[.。])\s*", text.replace("\r\n", " ")):
        if re.search(r"system folder|システムフォルダー", sentence):
            assert re.search(r"\bnever\b|\bnot\b|ないで|しない|installer|インストーラー", sentence), \
                f"{note}: {sentence}"


# -- the programs ----------------------------------------------------------------

@pytest.mark.parametrize("program", PROGRAMS)
def test_program_imports_only_what_windows_xp_has(images, program):
    allowed = allowed_imports()
    newer = {key: v for key, v in allowed.items() if WINDOWS_VERSIONS[v] > XP}
    assert not newer, f"allowed-imports.txt lists functions newer than Windows XP: {newer}"
    unlisted = [f"{dll}!{function}" for dll, function in images[program].imports()
                if (dll, function) not in allowed]
    assert not unlisted, f"{program} imports what allowed-imports.txt does not list: {unlisted}"


@pytest.mark.parametrize("program", PROGRAMS)
def test_program_header_asks_for_windows_xp_and_is_hardened(images, program):
    image = images[program]
    assert (image.machine, image.magic, image.subsystem) == \
        (pe_image.MACHINE_I386, pe_image.PE32_MAGIC, pe_image.SUBSYSTEM_WINDOWS_GUI)
    # Windows refuses a program whose subsystem version is newer than itself:
    # XP's 5.1 lets XP start it and an older Windows refuse it.
    assert image.subsystem_version == XP and image.os_version == XP, \
        f"subsystem version {image.subsystem_version}, OS version {image.os_version}"
    assert image.has_relocations(), "no base relocations: Windows cannot move it to a random address"
    wanted = pe_image.DYNAMIC_BASE | pe_image.NX_COMPAT | pe_image.TERMINAL_SERVER_AWARE
    assert image.dll_characteristics & wanted == wanted, f"DllCharacteristics {image.dll_characteristics:#06x}"
    assert image.is_stripped(), f"symbols or debugging sections left: {[s.name for s in image.sections]}"


def manifests(image):
    return {key: ElementTree.fromstring(data) for key, data in image.resources_of_type(pe_image.RT_MANIFEST).items()}


def local(element):
    return element.tag.rsplit("}", 1)[-1]


def test_drelom_manifest_requires_administrator(images):
    found = manifests(images["DRELOM.exe"])
    assert [key[:2] for key in found] == [(pe_image.RT_MANIFEST, 1)], f"manifest resources: {list(found)}"
    manifest = next(iter(found.values()))
    levels = [e.attrib for e in manifest.iter() if local(e) == "requestedExecutionLevel"]
    assert levels == [{"level": "requireAdministrator", "uiAccess": "false"}]
    supported = {e.get("Id") for e in manifest.iter() if local(e) == "supportedOS"}
    assert supported == set(SUPPORTED_OS), f"supportedOS {supported}"
    # The classic controls and the fixed-pixel layout: no common controls 6,
    # no DPI awareness.
    names = [e.get("name", "") for e in manifest.iter() if local(e) == "assemblyIdentity"]
    assert not any("Common-Controls" in name for name in names), names
    assert not [local(e) for e in manifest.iter() if local(e).lower().startswith("dpiaware")]


def test_mirevo_asks_for_no_elevation(images):
    # A service runs as its account says; a manifest, if it has one, must not
    # ask for more.
    levels = {e.get("level") for manifest in manifests(images["MIREVO.exe"]).values() for e in manifest.iter()
              if local(e) == "requestedExecutionLevel"}
    assert levels <= {"asInvoker"}, f"MIREVO.exe's manifest asks for {levels}"
