"""Where MIREVO.exe takes the box library from, under Wine's real service
control manager: its own folder, else the system folder, never a folder on
the system PATH (the prefix's PATH ends with C:\\Tools, empty but here)."""
import re
import shutil

import lcd
from programs import Installed, Service
from wine import until


def test_box_library_only_from_the_program_or_the_system_folder(prefix):
    files = Installed(prefix, "lib")
    tools, system = prefix.drive_c / "Tools", prefix.drive_c / "windows/system32"
    tools.mkdir(exist_ok=True)
    shutil.move(files.dir / "vbausbio.dll", tools)
    try:
        with Service(files) as service:
            # The stand-in opens its log beside itself when it is loaded.
            prefix.run("sc", "start", "MIREVO")
            query = prefix.sc("query", "MIREVO") if prefix.wait_for_state("MIREVO", "STOPPED", 10) else "not stopped"
            assert re.search(r"WIN32_EXIT_CODE\s*:\s*126\b", query) and not (tools / "lcd-transfers.log").exists(), query
            service.stopped_once = True   # Wine's manager may refuse a start just after the last one ended
            shutil.move(tools / "vbausbio.dll", system)
            service.start()
            assert until(5, (system / "lcd-transfers.log").exists), "not loaded from the system folder"
            service.stop()
            # Beside the program as well: the program's folder comes first.
            shutil.copy(system / "vbausbio.dll", files.dir)
            (system / "lcd-transfers.log").unlink()
            service.start()
            lcd.first_screen(files, 10)
            assert not (system / "lcd-transfers.log").exists(), "the system folder's library was taken first"
    finally:
        for leftover in [tools / "vbausbio.dll", system / "vbausbio.dll", *system.glob("lcd-*")]:
            leftover.unlink(missing_ok=True)
