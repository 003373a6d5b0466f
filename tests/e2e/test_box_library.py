"""Where MIREVO.exe takes the box library from, under Wine's real service
control manager: its own folder, else the system folder, never a folder on
the system PATH (the prefix's PATH ends with C:\\Tools, empty but here)."""
import re
import shutil

import lcd
from programs import Installed, Service
from wine import until


def test_box_library_only_from_the_program_or_the_system_folder(prefix, arch):
    files = Installed(prefix, "lib")
    (files.dir / "vbausbio.dll").unlink()
    stand_in, tools = prefix.build / "sim/vbausbio.dll", prefix.drive_c / "Tools"
    system = prefix.drive_c / "windows/system32"
    system_log = system / "lcd-transfers.log"
    drawn_from_system = lambda: system_log.exists() and system_log.stat().st_size > 0
    # A library on the PATH only; then, where 32-bit programs run, a 64-bit one beside the program as well.
    failing = [(tools, stand_in, 126), (files.dir, prefix.build.parent / "win64/sim/vbausbio.dll", 193)]
    try:
        with Service(files) as service:
            for folder, library, code in failing[:2 if arch == "win32" else 1]:
                shutil.copy(library, folder)
                prefix.run("sc", "start", "MIREVO")
                assert prefix.wait_for_state("MIREVO", "STOPPED", 10), prefix.sc("query", "MIREVO")
                query = prefix.sc("query", "MIREVO")
                assert re.search(r"WIN32_EXIT_CODE\s*:\s*(\d+)", query)[1] == str(code), query
            assert not (tools / "lcd-transfers.log").exists(), "the library on the PATH was loaded"
            (files.dir / "vbausbio.dll").unlink(missing_ok=True)
            service.stopped_once = True   # Wine's manager may refuse a start just after the last one ended

            # The system folder serves where the program's has none; the program's comes first.
            shutil.move(tools / "vbausbio.dll", system)
            service.start()
            assert until(5, drawn_from_system), "nothing drawn through the system folder's library"
            service.stop()
            shutil.copy(stand_in, files.dir)
            system_log.unlink()
            service.start()
            lcd.first_screen(files, 10)
            assert not drawn_from_system(), "the system folder's library was taken first"
    finally:
        for leftover in [tools / "vbausbio.dll", system / "vbausbio.dll", *system.glob("lcd-*")]:
            leftover.unlink(missing_ok=True)
