"""Who runs win32, decided once for set-up, the end-to-end suite, the main job
and the test command's last lines, on each kind of host, without apt and
without changing the machine: the two loaders that scripts/win32-probe.sh
reads are stand-ins here (LCDMON_LINUX32_LOADER, LCDMON_WINE32_LOADER)."""
import json
import os
import subprocess
from pathlib import Path

import pytest

TOP = Path(__file__).resolve().parents[2]

# (Linux 32-bit loader, Wine's 32-bit loader) -> what each part must decide:
# set-up's plan for wine32; whether the suite runs win32, must, and the last
# line but one of the test command; the main job's build.
KINDS = {
    "refuses 32-bit programs": (
        "refused", "wine-8.0",
        "not for this host", False, False, "win32: not run here: this host does not run 32-bit programs", "win64"),
    "runs them, no wine32": (
        "answers", None,
        "install wine32:i386 on its own", False, False, "win32: not run here: wine32 is not installed", "win64"),
    "runs them, wine32 answers": (
        "answers", "wine-8.0",
        "there", True, True, None, "win32"),
    "runs them, wine32 broken": (
        "answers", "broken",
        "there", False, True, "win32: does not run although wine32 is installed", "win64"),
}


def stand_in(path, kind):
    """A loader that the kernel refuses (Exec format error), one that answers
    --version with `kind`, or one that fails."""
    if kind == "refused":
        path.write_bytes(bytes(64))
    else:
        path.write_text(f"#!/bin/sh\necho {kind}\n" if kind != "broken" else "#!/bin/sh\necho oops >&2\nexit 1\n")
    path.chmod(0o755)
    return str(path)


@pytest.mark.parametrize("kind", KINDS)
def test_every_part_takes_the_same_verdict(kind, tmp_path):
    linux32, wine32, plan, runs, must, last_line, main_job = KINDS[kind]
    build = tmp_path / "build"
    for arch in ("win32", "win64"):   # both builds there, so that only the host decides
        (build / arch / "service").mkdir(parents=True)
        (build / arch / "service" / "MIREVO.exe").touch()
    env = os.environ | {"LCDMON_LINUX32_LOADER": stand_in(tmp_path / "ld-linux.so.2", linux32),
                        "LCDMON_WINE32_LOADER": stand_in(tmp_path / "wine", wine32) if wine32 else str(tmp_path / "no"),
                        "LCDMON_BUILD": str(build)}
    env.pop("LCDMON_ARCH", None)

    said = subprocess.run([TOP / "scripts" / "setup.sh", "--plan"], env=env, capture_output=True, text=True)
    assert said.returncode == 0 and f"wine32: {plan}" in said.stdout, said.stdout + said.stderr

    probe = subprocess.run([TOP / "scripts" / "win32-probe.sh"], env=env, capture_output=True, text=True)
    assert probe.stdout.startswith(last_line or "win32: runs (wine-8.0)"), probe.stdout

    decided = subprocess.run(["/usr/bin/python3", "-c", """if True:
        import json, sys
        sys.path[:0] = ["tests/e2e", "tools"]
        import wine, run_service
        print(json.dumps([wine.why_wine_cannot_run("win32"), wine.win32_must_run(),
                          run_service.choose_architecture()]))"""], cwd=TOP, env=env, capture_output=True, text=True)
    assert decided.returncode == 0, decided.stderr
    why, must_run, (arch, line) = json.loads(decided.stdout)
    assert (why is None, must_run) == (runs, must), why
    # The main job runs win64 where win32 does not run, and says why; win64
    # itself is the machine's own Wine, as set up.
    assert arch == main_job and (runs or why in line), line
