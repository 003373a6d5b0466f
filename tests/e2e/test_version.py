"""Both released programs' version resources as Windows reads them, through
GetFileVersionInfoA and VerQueryValueA in a Japanese (code page 932) Wine."""
import shutil
import zipfile

import pytest

from wine import RELEASE_ZIP, VERSION

DESCRIPTIONS = {
    "MIREVO.exe": "LCD システムモニター サービス",
    "DRELOM.exe": "LCD システムモニター サービス設定",
}


@pytest.mark.parametrize("program", DESCRIPTIONS)
def test_version_resource(prefix, program):
    assert RELEASE_ZIP.exists(), f"no release ZIP {RELEASE_ZIP}"
    folder = prefix.drive_c / "version"
    folder.mkdir(exist_ok=True)
    with zipfile.ZipFile(RELEASE_ZIP) as archive:
        (folder / program).write_bytes(archive.read(f"MIREVO-{VERSION}-win32/{program}"))
    shutil.copy(prefix.build / "tests/wine/version_check.exe", folder)
    rc, out = prefix.run("version_check.exe", program, cwd=folder)
    assert rc == 0, f"version_check: exit {rc}, {out!r}"
    wanted = {f"fixed {VERSION}.0 {VERSION}.0", "translation 0411 03a4", f"FileVersion {VERSION}",
              f"ProductVersion {VERSION}", f"OriginalFilename {program}", f"InternalName {program[:-4]}",
              f"FileDescription {DESCRIPTIONS[program]}", "ProductName LCD システムモニター"}
    lines = set(out.splitlines())
    assert wanted <= lines, f"{program} version resource lacks {sorted(wanted - lines)}; it reads {sorted(lines)}"
