"""MIREVO.exe under Wine's real service control manager, against the emulated
LCD: how it starts, every cell it shows against the machine's own figures
cycle by cycle, that it writes only what changed, what it tells the manager,
and a plain stop."""
import concurrent.futures
import datetime
import time
import warnings

import pytest

import lcd
import machine
import transfers
from programs import Installed, Service
from wine import until

# The set-up every start begins with, as the controller needs it: the control
# lines to the instruction register, three 8-bit resets, then 8-bit bus, two
# lines, 5x8 dots; display on; clear; entry mode increment; glyph RAM address 0.
SET_UP = [(1, 8, 0)] + [(3, code, 1) for code in (0x30, 0x30, 0x30, 0x38, 0x0C, 0x01, 0x06, 0x40)] + [(1, 9, 0)]


@pytest.fixture(scope="module")
def running(prefix):
    """The service registered from C:\\mon and started once for the module,
    with system_probe.exe reading the machine's figures from before the
    start: (service, its Linux pid, the probe's Watch, the local time just
    before the start, in the prefix's zone, an afternoon hour)."""
    files = Installed(prefix, "mon")
    watch = machine.Watch(files, 600)
    try:
        with Service(files) as service:
            assert until(60, lambda: watch.path.stat().st_size > 2000), "system_probe watch wrote nothing"
            began = prefix.now()
            yield service, service.start(), watch, began
    finally:
        watch.stop()


def test_command_line_run_ends_quietly(prefix, arch):
    # Started from a command line instead of by the manager, the dispatcher
    # call fails (Wine takes about 10 s to say so) and nothing reaches the box:
    # the library, loaded only once the service starts, never even opens its log.
    # The box library is no load-time import either: without it the program
    # ends the same way. That one runs from a folder without it, since Windows
    # would also look in the current directory for an import. Both at once.
    files, bare = Installed(prefix, "cli"), Installed(prefix, "nodll")
    (bare.dir / "vbausbio.dll").unlink()
    with concurrent.futures.ThreadPoolExecutor() as runs:
        (rc, out), (bare_rc, bare_out) = runs.map(lambda folder: folder.run("MIREVO.exe", timeout=40), (files, bare))
    assert rc == 0, f"exit {rc}: {out}"
    assert not files.log.exists() and not files.state.exists(), "the command-line run loaded the box library"
    assert bare_rc == 0, f"without vbausbio.dll: exit {bare_rc}, {bare_out}"


def level(percent):
    """Cells of a 16-cell bar: cell k is lit from k sixteenths of 100 % on."""
    return sum(percent * 16 >= k * 100 for k in range(1, 17))


def memory_text(megabytes):
    """Committed memory as the screen lays it out: right-aligned in four
    cells and M; from 10000 MiB on, whole GiB and G."""
    return f"{megabytes:>4}M" if megabytes < 10000 else f"{megabytes // 1024:>4}G"


def bars_shown(files):
    display = lcd.Display(files.state)
    return transfers.bars(display.rows[1], display.glyphs)


# When a cycle read the figures it shows, on the log's clock. The service
# reads them just before it draws (a set-up cycle after its set-up, so before
# its last call); measured on a loaded machine, every one of 147 cycles
# showed what the probe saw between its first and its last call, and 100 ms
# earlier leaves room for a process that stalls between reading and drawing.
READ_EARLY_MS = 100
# Wine answers GlobalMemoryStatusEx from a copy it takes afresh once 1000
# ticks have passed in that process: a cycle less than 1000 ticks after the
# one before (a tick lags by up to 16 ms) shows what that one read.
REFRESH_MS = 1000
# The pause between two cycles can end this late on a loaded machine.
LATE_MS = 200


def judge(cycle, before, samples):
    """What is wrong with one cycle against the probe's figures: a list of
    faults, or None where the probe did not watch the moments that matter.

    The probe reads the same figures as the service, every 20 ms and fresh,
    so the moment the service read lies among samples that bracket it. The
    machine's figures can go past every sample between two of them, as far
    as they can move in that time at the pace the probe saw then
    (machine.reachable): on a quiet machine by under a MiB, beside a process
    that churns memory by tens. A figure outside that range is one the
    machine cannot have had when the service read."""
    read = (cycle.ms - READ_EARLY_MS, cycle.end)
    fresh = machine.around(samples, *read)
    stale = machine.around(samples, read[0] - REFRESH_MS - machine.TICK_MS, read[1] - REFRESH_MS)
    # The first reading of a process is always fresh.
    if fresh is None or (before is not None and stale is None):
        return None
    memory = fresh + (stale if before is not None else [])
    runs = [fresh] + ([stale] if before is not None else [])

    def held(figure):   # what the machine can have held in either window
        ranges = [machine.reachable(run, figure) for run in runs]
        return min(low for low, _ in ranges), max(high for _, high in ranges)

    faults = []
    cpu, memory_bar = transfers.bars(cycle.rows[1], cycle.glyphs)
    low, high = held(lambda s: s.commit / machine.MIB)
    shown = cycle.rows[0][11:].decode("ascii", "replace")
    if shown not in {memory_text(mb) for mb in range(int(low) - 1, int(high) + 2)}:
        faults.append(f"shows {shown!r}; commit MiB {low:.0f}-{high:.0f} can have been read in {read}, "
                      f"the probe saw {[(s.at, s.commit // machine.MIB) for s in memory]}")
    # Windows' memory load is a whole percentage of physical memory in use;
    # a point either way for how it rounds.
    low, high = held(lambda s: 100 * (s.phys - s.avail) / s.phys)
    if not level(max(0, low - 1)) <= memory_bar <= level(high + 1):
        faults.append(f"memory bar {memory_bar}; load % {low:.1f}-{high:.1f}")
    # The processor bar shows the usage from the cycle before's reading to
    # this one's: a pause (1000 ms) apart, the cycle before being the last
    # one with calls or one after it that wrote nothing. The first cycle's
    # follows the first reading by milliseconds, too few to judge.
    if before is not None:
        since = [machine.around(samples, read[0] - REFRESH_MS - LATE_MS, read[1] - REFRESH_MS)]
        since += [machine.around(samples, before.ms - READ_EARLY_MS, before.end)] if cycle.ms - before.end < 2000 else []
        if None in since:
            return None
        starts = sum(since, [])
        usage = [100 * (b.busy - a.busy) / max(1, b.busy - a.busy + b.idle - a.idle) for a in starts for b in fresh]
        # Shown as a whole percentage, rounded half to even like Python's round.
        if not level(round(min(usage))) <= cpu <= level(round(max(usage))):
            faults.append(f"processor bar {cpu}; usage % {min(usage):.1f}-{max(usage):.1f}")
    return faults


def check_cycles(files, samples, began):
    """Every cycle of the log against the machine: its top text a minute of
    the clock in the prefix's zone since `began`, its memory text, memory bar
    and processor bar what the machine's figures were when it read them (judge); and
    nothing written but what changed. Gives the cycles and, for those the
    probe watched, (processor bar, memory bar)."""
    found = transfers.cycles(lcd.transfers(files.log))
    checked = transfers.check_only_changes(found)
    minutes = {(began + datetime.timedelta(minutes=m)).strftime("%m/%d %H:%M")
               for m in range(int((datetime.datetime.now(began.tzinfo) - began).total_seconds() // 60) + 2)}
    faults, seen = [], []
    for before, cycle in zip([None] + found, found):
        top = cycle.rows[0][:11].decode("ascii", "replace")
        faults += [f"{cycle.ms}: top text {top!r}"] if top not in minutes else []
        wrong = judge(cycle, before, samples)
        if wrong is not None:
            faults += [f"{cycle.ms}: {fault}" for fault in wrong]
            seen.append(transfers.bars(cycle.rows[1], cycle.glyphs))
    assert not faults and len(seen) >= max(1, len(found) // 2), \
        f"{len(faults)} faults in {len(found)} cycles, {len(seen)} watched by the probe: {faults[:5]}"
    print(f"{checked} cycles wrote only what changed; {len(seen)} of {len(found)} checked against the machine")
    return found, seen


def watched_past(watch, ms):
    """Waits until the probe has samples past `ms` on the log's clock."""
    assert until(60, lambda: watch.samples()[-1].at > ms + 100), "system_probe watch stopped"


@pytest.mark.short
def test_first_screen(running):
    service, _, watch, began = running
    files = service.files
    lcd.first_screen(files, 60)
    lcd.save_picture(files, "first-screen")
    calls = lcd.transfers(files.log)
    assert [call[2:] for call in calls[:len(SET_UP)]] == SET_UP, f"set-up {calls[:len(SET_UP)]}"
    # A few cycles more, so that a probe that stalled around one of them (a
    # machine busy with other work) still leaves most of them judged.
    until(60, lambda: len(transfers.cycles(lcd.transfers(files.log))) >= 3, 0.5)
    watched_past(watch, lcd.transfers(files.log)[-1].ms)
    found, seen = check_cycles(files, watch.samples(), began)
    # The three glyphs are defined before anything is drawn, and the first
    # screen, checked against the machine, writes both texts whole.
    first = found[0]
    assert first.glyph_writes == list(transfers.BAR_GLYPHS) and \
        [w[0] for w in first.writes if w[1]][:2] == [0x00, 0x0B], first
    if judge(first, None, watch.samples()) is None:
        warnings.warn(f"the probe stalled around the first screen ({first.ms}): judged with the cycles after it")


def test_bars_follow_processor_and_memory(running):
    service, _, watch, began = running
    files = service.files
    # The memory load raised by 10 points (a cell and more) from where it is,
    # then every processor kept busy too; then both let go.
    before = bars_shown(files)[1]
    with machine.memory_held(10) as cannot:
        assert cannot or until(60, lambda: bars_shown(files)[1] > before), f"memory bar {bars_shown(files)}, {before}"
        time.sleep(0 if cannot else 3)   # some cycles with the memory held
        with machine.busy_processors():
            until(30, lambda: bars_shown(files)[0] >= 8)
            lcd.save_picture(files, "bars-under-load")
            time.sleep(1.5)
        held = bars_shown(files)[1]
    until(0 if cannot else 60, lambda: bars_shown(files)[1] < held)
    time.sleep(2)
    watched_past(watch, lcd.transfers(files.log)[-1].ms)
    _, seen = check_cycles(files, watch.samples(), began)
    # Busy loops at the lowest priority get what the machine spares: on a
    # virtual machine whose host is busy that can be half of it. How the bar
    # falls again depends on what else the machine runs; every cycle above
    # held it to the usage of its second.
    cpu, memory = [length for length, _ in seen], [length for _, length in seen]
    assert max(cpu) >= 8, f"processor bar lengths {cpu}"
    if cannot:   # every cycle's memory bar was still judged against the load the probe saw
        loads = [100 * (s.phys - s.avail) / s.phys for s in watch.samples()]
        warnings.warn(f"{cannot}: the memory bar judged at the load as it is, {min(loads):.0f}-{max(loads):.0f} % "
                      f"({sorted(set(memory))} cells)")
        return
    assert max(memory) > before and memory[-1] < max(memory), f"memory bar lengths {memory}, {before} before"


@pytest.mark.short
def test_plain_stop_changes_nothing_and_the_contract(running):
    service, linux_pid = running[:2]
    files = service.files
    lcd.first_screen(files, 60)
    contract = service.stop(in_pause=True)
    # What MIREVO.exe itself told the manager: an own-process service that
    # takes stop and shutdown and nothing else; while stopping, pending with
    # a checkpoint and a wait hint that it then kept.
    assert (contract["type"], contract["accepts"]) == (0x10, 0x1 | 0x4 | 0x40), contract
    assert contract["stop_state"] == 1 or (contract["stop_state"] == 3 and contract["checkpoint"] > 0
                                           and contract["hint"] > 0 and contract["stop_accepts"] == 0), contract
    print(f"stop: {contract['ms']} ms to STOPPED inside the prefix, {contract['outer_ms']:.0f} ms with the client's "
          f"start, hint {contract['hint']} ms")
    assert service.prefix.gone_within(files.service_pattern, 30), f"service process {linux_pid} still there"
    lcd.save_picture(files, "after-stop")
    # The request came in the service's pause between two cycles, 300 ms or
    # more after its last call. Nothing may follow it but a whole cycle after
    # the pause (the worker drew before the handler told it to end); no
    # clear, no notice, no blanking, and every cycle writes only what changed.
    calls = lcd.transfers(files.log)
    before = [call for call in calls if call.ms <= contract["at"]]
    after = [call for call in calls if call.ms > contract["at"]]
    assert before and contract["at"] - before[-1].ms >= 300, f"no pause before the request at {contract['at']}"
    assert not after or after[0].ms - before[-1].ms >= 950, f"calls after the stop request in the pause: {after[:5]}"
    transfers.check_only_changes(transfers.cycles(calls))
