#!/usr/bin/env python3
"""Benchmark, run by hand: flashing through loadwing.exe's dialog under Wine, at 38400 baud.

The setup is the Wine dialog tests' (tests/wine/dialog, tests/wine/link, imported, not copied):
COM5 of the windows build tree's prefix is mapped to the near end of a socat pty pair,
loadwing-sim serves the far end paced at 38400 baud (--baud 38400) and notes the moment of every
piece it reads and every answer it writes (--timing), dialog_driver.exe does what a user would.
For each target the firmware file is loaded in the dialog, then "start transfer" is clicked and
the script waits for " flash: completed" in the status. Printed per target:

  * wall time from the click to " flash: completed" seen (the driver looks every 5 ms), against
    the line's own time for the same bytes (the model of bench/run.sh: request and ready answer,
    each 257-byte frame and its acknowledgement, check byte and verdict at 10 bits a byte, plus
    one 15 ms drain read limit per exchange);
  * from the simulator's moments, per block: the host's turnaround (acknowledgement of block k
    written -> last piece of frame k+1 read) less the 15 ms silent drain read the host makes
    before each frame, i.e. the host's own overhead; and the block's time (acknowledgement to
    acknowledgement) beyond its line time of 82.19 ms. On a pty a frame arrives at once; the
    simulator spends the frame's line time after it came, so it is not part of the turnaround;
  * CPU time (utime + stime from /proc/PID/stat) of loadwing.exe's Wine process and, separately,
    of the prefix's wineserver over the same interval. The driver's polling of the status text
    costs the wineserver about as much as the transfer: the same polling with the dialog idle is
    measured first ("idle"), and each target is flashed a second time unwatched (the script
    waits for the simulator's report, then reads the status once) for the CPU alone.

Needs an X display in DISPLAY, the native build (loadwing-sim) and the windows build
(loadwing.exe, dialog_driver.exe). Restarts the windows tree's wineserver and changes its
prefix's registry: do not run it while that tree's tests run.
Usage: bench/wine_dialog_bench.py [--native DIR] [--windows DIR] [--targets module,main,webc]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import types

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "wine"))
sys.path.insert(0, os.path.join(SOURCE, "tests", "wine", "dialog"))
from dialog_wine_test import Session, connect, entries_of, entry_for, load  # noqa: E402
from wine_harness import Failure, stamp, wait_for  # noqa: E402

BAUD = 38400
FRAME = 257
DRAIN_S = 0.015  # the host's silent one-byte read before each exchange (10 ms + 5 ms a byte)
TICK = os.sysconf("SC_CLK_TCK")

TARGETS = {
    "module": ("module3.mot", 128, " firmware for module 3 loaded"),
    "main": ("main_controller.hex", 256, " firmware for Fanfolder/Crossfolder loaded"),
    "webc": ("webc.mot", 512, " firmware for WebC loaded"),
}


def line_seconds(blocks):
    return ((3 + 6) + blocks * (FRAME + 1) + (1 + 6)) * 10 / BAUD + (blocks + 2) * DRAIN_S


def block_line_seconds():
    return (FRAME + 1) * 10 / BAUD + DRAIN_S


def find_process(names, prefix):
    """The process named one of names (its comm, or its program's base name: Wine names its
    processes "Z:\\...\\loadwing.exe") whose environment holds WINEPREFIX=prefix."""
    want = f"WINEPREFIX={prefix}".encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f:
                comm = f.read().strip()
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                program = f.read().split(b"\0")[0].decode(errors="replace")
            if comm not in names and program.replace("\\", "/").rsplit("/", 1)[-1] not in names:
                continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if want in f.read().split(b"\0"):
                    found.append(int(pid))
        except OSError:
            continue
    if len(found) != 1:
        raise Failure(f"expected one of {names} in prefix {prefix}, found {found}")
    return found[0]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def read_timeline(path):
    events = []
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                continue
            moment, direction, count = line.split()
            events.append((float(moment), direction, int(count)))
    return events


def analyse(events, blocks):
    """Per block from the simulator's moments; raises Failure when the dialogue looks wrong."""
    it = iter(events)
    first_in = None
    # The request, up to the ready answer.
    for moment, direction, count in it:
        if direction == "in":
            first_in = moment if first_in is None else first_in
        elif count == 6:
            break
    else:
        raise Failure("no ready answer in the simulator's timeline")
    acks, frame_first, frame_last = [], [], []
    got, first = 0, None
    for moment, direction, count in it:
        if len(acks) == blocks:
            if direction == "out" and count == 6:
                return first_in, moment, acks, frame_first, frame_last
            continue
        if direction == "in":
            first = moment if got == 0 else first
            got += count
            if got == FRAME:
                frame_first.append(first)
                frame_last.append(moment)
        elif direction == "out" and count == 1 and got == FRAME:
            acks.append(moment)
            got = 0
        else:
            raise Failure(f"unexpected {direction} {count} at block {len(acks)} ({got} bytes in)")
    raise Failure(f"timeline ends after {len(acks)} acknowledgements, no verdict")


def median_max(values):
    return statistics.median(values), max(values)


def run(args):
    native, windows = args.native, args.windows
    work = tempfile.mkdtemp(prefix="loadwing-wine-bench-")
    session_args = types.SimpleNamespace(
        wine_run=os.path.join(windows, "wine-run.sh"),
        prefix=os.path.join(windows, "wineprefix"),
        loadwing=os.path.join(windows, "src", "gui", "loadwing.exe"),
        driver=os.path.join(windows, "tests", "wine", "dialog", "dialog_driver.exe"),
        sim=os.path.join(native, "src", "sim", "loadwing-sim"),
        work=work)
    for path in (session_args.wine_run, session_args.loadwing, session_args.driver,
                 session_args.sim):
        if not os.path.exists(path):
            raise Failure(f"{path} is missing: build the native and windows presets first")
    session = Session(session_args)
    rows = []
    try:
        session.map_ports("COM5")
        session.forget_settings()
        app, driver = session.start_app()
        driver.ok("wait-status 10000  Port closed", 20)
        _, entries = entries_of(driver.ok("list"))
        connect(driver, entry_for(entries, "COM5"), " COM5 connected")
        exe_pid = find_process({"loadwing.exe"}, session_args.prefix)
        server_pid = find_process({"wineserver", "wineserver64"},
                                  session_args.prefix)
        print(f"{stamp()} loadwing.exe pid {exe_pid}, wineserver pid {server_pid}", flush=True)

        # The cost of watching: the driver polls the status as during a transfer, the dialog idles.
        idle_s = 5.0
        exe0, server0, t0 = cpu_seconds(exe_pid), cpu_seconds(server_pid), time.monotonic()
        driver.ask(f"wait-status {int(idle_s * 1000)} never shown", idle_s + 10, quiet=True)
        t1 = time.monotonic()
        idle = ((cpu_seconds(exe_pid) - exe0) / (t1 - t0),
                (cpu_seconds(server_pid) - server0) / (t1 - t0))
        print(f"{stamp()} idle, watched: loadwing.exe {100 * idle[0]:.2f} %, wineserver "
              f"{100 * idle[1]:.2f} % of the wall time", flush=True)

        for name in args.targets:
            file, blocks, loaded = TARGETS[name]
            timing = os.path.join(work, f"timing-{name}.txt")
            load(driver, os.path.join(SOURCE, "examples", file), loaded)
            sim = session.start_sim("COM5", "--baud", str(BAUD), "--timing", timing)
            limit = line_seconds(blocks) * 2 + 30
            exe0, server0 = cpu_seconds(exe_pid), cpu_seconds(server_pid)
            t0 = time.monotonic()
            driver.ok("click 1027")
            answer = driver.ask(f"wait-status {int(limit * 1000)}  flash: completed", limit + 30)
            t1 = time.monotonic()
            exe_cpu = cpu_seconds(exe_pid) - exe0
            server_cpu = cpu_seconds(server_pid) - server0
            if not answer.startswith("OK"):
                raise Failure(f"{name}: the transfer did not complete: {answer}")
            sim.stop()
            print(f"  sim: {sim.transfers()}", flush=True)
            if not any(f"blocks {blocks}/{blocks}," in t and "verdict SUCCES" in t
                       for t in sim.transfers()):
                raise Failure(f"{name}: the simulator did not take all blocks: {sim.transfers()}")
            first_in, verdict_out, acks, frame_first, frame_last = analyse(
                read_timeline(timing), blocks)
            turnaround = [(frame_last[k + 1] - acks[k]) * 1000 for k in range(blocks - 1)]
            overhead = [t - DRAIN_S * 1000 for t in turnaround]
            # The frame's first piece to its last: the host's writes of one frame.
            writing = [(frame_last[k] - frame_first[k]) * 1000 for k in range(blocks)]
            beyond = [(acks[k + 1] - acks[k] - block_line_seconds()) * 1000
                      for k in range(blocks - 1)]
            wall = t1 - t0
            # Once more, unwatched: the driver's polling costs the wineserver about as much as
            # the transfer does. The script waits for the simulator's report of the transfer
            # instead (outside Wine), then checks the status once.
            load(driver, os.path.join(SOURCE, "examples", file), loaded)
            sim = session.start_sim("COM5", "--baud", str(BAUD))
            exe0, server0, u0 = cpu_seconds(exe_pid), cpu_seconds(server_pid), time.monotonic()
            driver.ok("click 1027")
            wait_for(lambda: sim.transfers(), limit, "the simulator's report of the transfer")
            driver.ok("wait-status 5000  flash: completed", 15)
            u1 = time.monotonic()
            unwatched = ((cpu_seconds(exe_pid) - exe0) / (u1 - u0),
                         (cpu_seconds(server_pid) - server0) / (u1 - u0))
            sim.stop()
            rows.append(dict(name=name, blocks=blocks, wall=wall, line=line_seconds(blocks),
                             unwatched=unwatched,
                             sim_span=verdict_out - first_in, click_to_request=first_in - t0,
                             turnaround=median_max(turnaround), writing=median_max(writing),
                             overhead=median_max(overhead), beyond=median_max(beyond),
                             exe_cpu=exe_cpu, server_cpu=server_cpu))
            print(f"{stamp()} {name}: wall {wall:.2f} s, first request byte "
                  f"{(first_in - t0) * 1000:.1f} ms after the click, simulator's span "
                  f"{verdict_out - first_in:.2f} s", flush=True)
        session.close_app(app, driver)
    finally:
        session.cleanup()
    shutil.rmtree(work, ignore_errors=True)
    return rows, idle


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--native", default=os.path.join(SOURCE, "build", "native"))
    parser.add_argument("--windows", default=os.path.join(SOURCE, "build", "windows"))
    parser.add_argument("--targets", default="module,main,webc")
    args = parser.parse_args()
    args.native = os.path.abspath(args.native)
    args.windows = os.path.abspath(args.windows)
    args.targets = args.targets.split(",")
    if any(t not in TARGETS for t in args.targets):
        parser.error(f"targets: {', '.join(TARGETS)}")
    if not os.environ.get("DISPLAY"):
        print("wine_dialog_bench: no X display: set DISPLAY (for example to an Xvfb server)",
              file=sys.stderr)
        return 1
    print(f"machine: {os.cpu_count()} CPUs, kernel {os.uname().release}; load average at "
          f"start: {' '.join(open('/proc/loadavg').read().split()[:3])}", flush=True)
    try:
        rows, idle = run(args)
    except (Failure, OSError, subprocess.SubprocessError) as error:
        print(f"wine_dialog_bench: {error}", file=sys.stderr)
        return 1
    print()
    print("Flashing at 38400 baud into loadwing-sim on a pty, through loadwing.exe's dialog "
          "under Wine")
    print(f"{'target':<8} {'blocks':>7} {'wall s':>8} {'line s':>8} {'extra s':>8} "
          f"{'exe CPU s':>10} {'exe CPU %':>10} {'server CPU s':>13} {'server CPU %':>13}")
    for r in rows:
        print(f"{r['name']:<8} {r['blocks']:>7} {r['wall']:>8.2f} {r['line']:>8.2f} "
              f"{r['wall'] - r['line']:>8.2f} {r['exe_cpu']:>10.2f} "
              f"{100 * r['exe_cpu'] / r['wall']:>9.2f}% {r['server_cpu']:>13.2f} "
              f"{100 * r['server_cpu'] / r['wall']:>12.2f}%")
    print(f"(idle dialog, driver polling the status: loadwing.exe {100 * idle[0]:.2f} %, "
          f"wineserver {100 * idle[1]:.2f} % of the wall time)")
    print("Unwatched (a second transfer, nobody polling the dialog), CPU % of the wall time:")
    for r in rows:
        print(f"{r['name']:<8} {r['blocks']:>7}   loadwing.exe {100 * r['unwatched'][0]:.2f} %, "
              f"wineserver {100 * r['unwatched'][1]:.2f} %")
    print()
    print("Block by block, from the simulator's moments (ms): turnaround = acknowledgement "
          "-> last byte of the next frame; host overhead = turnaround less the 15 ms drain read; "
          "beyond line = acknowledgement to acknowledgement, less 82.19 ms; write = a frame's "
          "first piece to its last")
    print(f"{'target':<8} {'blocks':>7} {'turn med':>9} {'turn max':>9} {'host med':>9} "
          f"{'host max':>9} {'beyond med':>11} {'beyond max':>11} {'write med':>10} "
          f"{'write max':>10} {'click->request ms':>18} {'sim span s':>11}")
    for r in rows:
        print(f"{r['name']:<8} {r['blocks']:>7} {r['turnaround'][0]:>9.3f} "
              f"{r['turnaround'][1]:>9.3f} {r['overhead'][0]:>9.3f} "
              f"{r['overhead'][1]:>9.3f} {r['beyond'][0]:>11.3f} {r['beyond'][1]:>11.3f} "
              f"{r['writing'][0]:>10.3f} {r['writing'][1]:>10.3f} "
              f"{r['click_to_request'] * 1000:>18.1f} {r['sim_span']:>11.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
