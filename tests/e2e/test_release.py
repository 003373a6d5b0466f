"""The release ZIP as an administrator receives it, read without Wine.

Its files and text files, the Windows its programs need (imports against
package/allowed-imports.txt, the version fields of their headers), their
version resources as Explorer shows them, their hardening (random base with relocations, no-execute data, Remote Desktop
aware, stripped), DRELOM.exe's manifest asking for administrator rights, and
install notes that put the programs where only administrators can write.

The ZIP: <build root>/win32/MIREVO-<version>-win32.zip, the build root being
$LCDMON_BUILD or the repository's build/. Without it the tests fail.
"""
import re
import xml.etree.ElementTree as ElementTree
import zipfile

import pefile
import pytest

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


# Read with Debian's pefile: headers, imports (bound at load or delay-loaded)
# and resources, as the Windows loader reads them.
MACHINE_I386, PE32_MAGIC, SUBSYSTEM_WINDOWS_GUI, RT_MANIFEST = 0x14C, 0x10B, 2, 24
DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE, RELOCS_STRIPPED = 0x40, 0x100, 0x8000, 0x1


@pytest.fixture(scope="module")
def images(release):
    return {name: pefile.PE(data=release["files"][name]) for name in PROGRAMS if name in release["files"]}


def imports(image):
    """Every import as (dll in lower case, function name or '#ordinal')."""
    entries = getattr(image, "DIRECTORY_ENTRY_IMPORT", []) + getattr(image, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    return [(entry.dll.decode().lower(), function.name.decode() if function.name else f"#{function.ordinal}")
            for entry in entries for function in entry.imports]


def resources(image, kind):
    """{(type, name, language): bytes} of the resources of one type."""
    root = getattr(image, "DIRECTORY_ENTRY_RESOURCE", None)
    return {(kind, name.id or str(name.name), language.id):
            image.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
            for entry in (root.entries if root else []) if entry.id == kind
            for name in entry.directory.entries for language in name.directory.entries}


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
    unlisted = [f"{dll}!{function}" for dll, function in imports(images[program])
                if (dll, function) not in allowed]
    assert not unlisted, f"{program} imports what allowed-imports.txt does not list: {unlisted}"


@pytest.mark.parametrize("program", PROGRAMS)
def test_program_header_asks_for_windows_xp_and_is_hardened(images, program):
    header, optional = images[program].FILE_HEADER, images[program].OPTIONAL_HEADER
    assert (header.Machine, optional.Magic, optional.Subsystem) == (MACHINE_I386, PE32_MAGIC, SUBSYSTEM_WINDOWS_GUI)
    # Windows refuses a program whose subsystem version is newer than itself:
    # XP's 5.1 lets XP start it and an older Windows refuse it.
    versions = [(optional.MajorSubsystemVersion, optional.MinorSubsystemVersion),
                (optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion)]
    assert versions == [XP, XP], f"subsystem and OS versions {versions}"
    relocations = optional.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    assert relocations.Size and not header.Characteristics & RELOCS_STRIPPED, \
        "no base relocations: Windows cannot move it to a random address"
    wanted = DYNAMIC_BASE | NX_COMPAT | TERMINAL_SERVER_AWARE
    assert optional.DllCharacteristics & wanted == wanted, f"DllCharacteristics {optional.DllCharacteristics:#06x}"
    # No COFF symbols and no debugging sections. The string table that holds
    # long section names (/4 for .eh_frame) may stay.
    strings = header.PointerToSymbolTable + 18 * header.NumberOfSymbols
    sections = [name if not name.startswith("/") else
                images[program].__data__[strings + int(name[1:]):].split(b"\0")[0].decode()
                for name in (s.Name.rstrip(b"\0").decode() for s in images[program].sections)]
    assert header.NumberOfSymbols == 0 and not [s for s in sections if s.startswith((".debug", ".zdebug"))], \
        f"symbols or debugging sections left: {sections}"


DESCRIPTIONS = {"MIREVO.exe": "LCD システムモニター サービス", "DRELOM.exe": "LCD システムモニター サービス設定"}


def file_version(image):
    """The fixed file version of a program's version resource: "1.0.0.0"."""
    fixed = image.VS_FIXEDFILEINFO[0]
    return ".".join(str(n) for n in (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                     fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF))


@pytest.mark.parametrize("program", PROGRAMS)
def test_version_resource_is_japanese(images, program):
    # One string table, Japanese in code page 932 (block 041103a4), which
    # Windows shows on the file's Details tab.
    info = {entry.Key: entry for entry in images[program].FileInfo[0]}
    tables = info[b"StringFileInfo"].StringTable
    strings = {key.decode(): value.decode() for key, value in tables[0].entries.items()}
    assert (file_version(images[program]), [table.LangID for table in tables], info[b"VarFileInfo"].Var[0].entry) == \
        (f"{VERSION}.0", [b"041103a4"], {b"Translation": "0x0411 0x03a4"})
    assert {k: strings.get(k) for k in ("FileVersion", "ProductVersion", "OriginalFilename", "InternalName",
                                        "FileDescription", "ProductName")} == {
        "FileVersion": VERSION, "ProductVersion": VERSION, "OriginalFilename": program,
        "InternalName": program[:-4], "FileDescription": DESCRIPTIONS[program], "ProductName": "LCD システムモニター"}


def manifests(image):
    return {key: ElementTree.fromstring(data) for key, data in resources(image, RT_MANIFEST).items()}


def local(element):
    return element.tag.rsplit("}", 1)[-1]


def test_drelom_manifest_requires_administrator(images):
    found = manifests(images["DRELOM.exe"])
    assert [key[:2] for key in found] == [(RT_MANIFEST, 1)], f"manifest resources: {list(found)}"
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
