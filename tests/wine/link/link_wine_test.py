#!/usr/bin/env python3
"""Tests of the Win32 link layers under Wine against COM ports mapped to host pseudo-terminals.

How a COM port is mapped (usable by any test of this build tree):
  1. socat makes a pty pair: `socat pty,raw,echo=0,link=NEAR pty,raw,echo=0,link=FAR`.
  2. `wine reg add 'HKLM\\Software\\Wine\\Ports' /v COM5 /d /dev/pts/N` names the real pty
     (the resolved NEAR link) as COM5.
  3. The prefix's wineserver is stopped (`wineserver -k`, then `wineserver -w`); the next
     program started through wine-run.sh boots it again, and Wine then makes dosdevices/com5
     and lists "\\Device\\SerialN" = "COM5" in HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM.
  4. Windows programs open "\\\\.\\COM5"; the host side reads and writes FAR, and inspects the
     line settings on NEAR with termios.
  Cleaning up undoes 2 and 3 and stops socat.

The Windows side is link_probe.exe, driven one command at a time over its standard streams.
Every wait is bounded. Prints PASS or FAIL lines; exit code 0 only when every check passed.
"""

import argparse
import os
import select
import shutil
import subprocess
import sys
import termios
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from wine_harness import Probe, PtyPair, Wine, check, run_scenario, wait_for  # noqa: E402

USB_DESCRIPTION = "USB <-> ORV serial Device"
def check_machine_line(pair, who):
    attrs = termios.tcgetattr(pair.near_fd)
    iflag, oflag, cflag, lflag, ispeed, ospeed, _ = attrs
    check(ispeed == termios.B38400 and ospeed == termios.B38400, f"{who}: 38400 baud")
    check(cflag & termios.CSIZE == termios.CS8, f"{who}: 8 data bits (cs8)")
    check(not cflag & termios.PARENB, f"{who}: no parity (-parenb)")
    check(not cflag & termios.CSTOPB, f"{who}: one stop bit (-cstopb)")
    check(not cflag & termios.CRTSCTS, f"{who}: no hardware flow control (-crtscts)")
    check(not iflag & (termios.IXON | termios.IXOFF), f"{who}: no XON/XOFF (-ixon -ixoff)")
    check(not iflag & (termios.ICRNL | termios.INLCR | termios.IGNCR | termios.ISTRIP),
          f"{who}: input bytes untranslated")
    check(not oflag & termios.OPOST, f"{who}: output bytes untranslated (-opost)")
    check(not lflag & (termios.ICANON | termios.ECHO | termios.ISIG), f"{who}: raw (-icanon -echo -isig)")
    stty = subprocess.run(["stty", "-F", pair.near, "-a"], capture_output=True, text=True,
                          timeout=10)
    print("  stty: " + " ".join(stty.stdout.split()), flush=True)


def all_byte_values(count):
    # 7 is odd, so the first 256 bytes are every value once: NUL, XON, XOFF, CR and LF included.
    return bytes((i * 7 + 3) & 0xFF for i in range(count))


def scenario_serial(args, wine):
    pair = PtyPair(args.work, "com5")
    probe = None
    try:
        pair.spoil_near_settings()
        wine.map_ports({"COM5": pair.near})
        probe = Probe(wine, args.probe, args.work)
        check(probe.ask(r"serial-open \\.\COM5") == "OK", "COM5 opens and takes its configuration")

        # Windows' serial driver refuses a second open of a port opened with share mode 0.
        # Wine 8 does not: its serial devices ignore the share mode, and the second CreateFileA
        # succeeds. That is recorded here, not counted as a fault of the program.
        second = probe.ask(r"serial-open-second \\.\COM5")
        if second == "OK opened":
            print("NOTE Wine does not enforce exclusive access to COM ports", flush=True)
        else:
            check(second.startswith("OK refused"), "a second open of the open port is refused")

        check_machine_line(pair, "COM5")
        # Wine hands the DCB's XonChar/XoffChar to the tty; XON/XOFF itself stays off (above).
        cc = termios.tcgetattr(pair.near_fd)[6]
        check(cc[termios.VSTART] == b"\x11" and cc[termios.VSTOP] == b"\x13",
              f"COM5: start/stop characters DC1/DC3, got {cc[termios.VSTART]!r}/{cc[termios.VSTOP]!r}")

        block = all_byte_values(257)
        check(probe.ask("serial-write " + block.hex()) == "OK 128,128,1",
              "257 bytes go out as 128 + 128 + 1")
        check(pair.read_far(257, 10) == block, "the 257 bytes arrive intact and in order")

        incoming = b"\x00\x11\x13\r\nxyz\xff"
        os.write(pair.far_fd, incoming)
        check(probe.ask(f"serial-read {len(incoming)} 5000") == "OK " + incoming.hex(),
              "bytes from the far end are read unchanged")

        junk = b"stale answer"
        os.write(pair.far_fd, junk)
        wait_for(lambda: pair.near_queued() >= len(junk), 10, "the stale bytes to arrive")
        check(probe.ask("serial-purge") == "OK", "purge succeeds")
        check(pair.near_queued() == 0, "purge empties the receive queue")
        marker = b"fresh"
        os.write(pair.far_fd, marker)
        check(probe.ask(f"serial-read {len(junk) + len(marker)} 1500") == "OK " + marker.hex(),
              "only bytes sent after the purge are read")

        silent = probe.ask("serial-read-once")
        fields = dict(part.split("=") for part in silent.split()[1:])
        check(silent.startswith("OK") and fields.get("got") == "0",
              "a one-byte read on a silent line returns no byte")
        check(int(fields.get("ms", "99999")) < 1000,
              f"... and returns in well under a second ({fields.get('ms')} ms)")

        check(probe.ask("serial-close") == "OK", "the port closes")
        check(probe.ask(r"serial-open \\.\COM5") == "OK", "the closed port opens again at once")
        check(probe.ask("serial-close") == "OK", "and closes again")
        check(probe.ask(r"serial-open \\.\COM59").startswith("FAIL open"),
              "a port Wine does not know is not opened")
    finally:
        if probe:
            probe.close()
        wine.unmap_ports()
        pair.close()


def scenario_portmap(args, wine):
    pairs = {"COM7": PtyPair(args.work, "com7"), "COM3": PtyPair(args.work, "com3")}
    probe = None
    try:
        wine.map_ports({com: pair.near for com, pair in pairs.items()})
        listing = wine.serialcomm()
        print("  SERIALCOMM: " + " ".join(listing.split()), flush=True)
        for com in pairs:
            check(f"REG_SZ    {com}" in listing, f"Wine lists {com} in SERIALCOMM")
        probe = Probe(wine, args.probe, args.work)
        answer = probe.ask("ports")
        check(answer.startswith("OK "), "discovery answers")
        entries = answer[3:].split("|")
        numbers = [int(entry[3:].split()[0]) for entry in entries]
        check(numbers == sorted(numbers) and len(set(numbers)) == len(numbers),
              "entries come once each, in ascending port order")
        com3 = [e for e in entries if e.split()[0] == "COM3"]
        com7 = [e for e in entries if e.split()[0] == "COM7"]
        check(len(com3) == 1 and len(com7) == 1, "COM3 and COM7 are listed")
        check(entries.index(com3[0]) < entries.index(com7[0]), "COM3 comes before COM7")
        for entry in com3 + com7:
            name = entry.split("  ", 1)[1] if "  " in entry else ""
            check(name.startswith("(Serial") and name.endswith(")"),
                  f"'{entry}' names its device after two blanks")
    finally:
        if probe:
            probe.close()
        wine.unmap_ports()
        for pair in pairs.values():
            pair.close()


def scenario_usb(args, wine):
    pair = PtyPair(args.work, "com6")
    probe = None
    log = os.path.join(args.work, "standin.log")
    if os.path.exists(log):
        os.unlink(log)
    try:
        pair.spoil_near_settings()
        wine.map_ports({"COM6": pair.near})
        probe = Probe(wine, args.probe, args.work,
                      {"LOADWING_STANDIN_PORT": "COM6", "LOADWING_STANDIN_LOG": log})
        check(probe.ask("d2xx-loaded") == "OK 1", "FTD2XX.dll beside the program is bound")
        check(probe.ask("usb-find " + USB_DESCRIPTION) == "OK 0", "the cable is found at index 0")
        check(probe.ask("usb-open " + USB_DESCRIPTION) == "OK 1", "the cable opens")
        check_machine_line(pair, "cable")

        block = all_byte_values(257)
        check(probe.ask("usb-write " + block.hex()) == "OK 257", "257 bytes are written at once")
        check(pair.read_far(257, 10) == block, "they arrive intact at the far end")

        answer = all_byte_values(300)[::-1]
        os.write(pair.far_fd, answer)
        check(probe.ask("usb-read 300 5000") == "OK " + answer.hex(),
              "300 bytes from the far end are read intact")
        check(probe.ask("usb-read 1 300") == "OK ", "nothing more is read")
        check(probe.ask("usb-close") == "OK 1", "the cable closes")
        check(probe.ask("usb-open " + USB_DESCRIPTION) == "OK 1", "and opens again")
        check(probe.ask("usb-close") == "OK 1", "and closes again")
        with open(log) as f:
            calls = f.read()
        check("FT_SetBaudRate baud=38400" in calls, "the driver was given 38400 baud")
        check("FT_SetDataCharacteristics wordLength=8 stopBits=0 parity=0" in calls,
              "the driver was given 8 bits, one stop bit, no parity")
    finally:
        if probe:
            probe.close()
        wine.unmap_ports()
        pair.close()


def scenario_usb_missing(args, wine):
    # The program alone in a directory, started from the directory that holds the stand-in:
    # the current directory must not be searched for the driver.
    lonely = os.path.join(args.work, "without-driver")
    os.makedirs(lonely, exist_ok=True)
    exe = os.path.join(lonely, os.path.basename(args.probe))
    shutil.copy2(args.probe, exe)
    library_dir = os.path.dirname(args.probe)
    check(os.path.exists(os.path.join(library_dir, "FTD2XX.dll")),
          "the stand-in lies in the current directory of the run")
    check(not os.path.exists(os.path.join(lonely, "FTD2XX.dll")), "none lies beside the program")
    probe = Probe(wine, exe, args.work, {"LOADWING_STANDIN_PORT": "COM6"}, cwd=library_dir)
    try:
        check(probe.ask("d2xx-loaded") == "OK 0", "the program starts without the driver")
        statuses = probe.ask("d2xx-calls")
        check(statuses.startswith("OK ") and
              all(int(s) != 0 for s in statuses[3:].split(",")) and
              len(statuses[3:].split(",")) == 8, "every one of the eight calls fails")
        check(probe.ask("usb-find " + USB_DESCRIPTION) == "OK -1", "no cable is found")
        check(probe.ask("usb-open " + USB_DESCRIPTION) == "OK 0", "the cable does not open")
        check(probe.ask("usb-write 00ff") == "OK 0", "nothing is written")
        check(probe.ask("usb-read 1 200") == "OK ", "nothing is read")
        check(probe.ask("usb-close") == "OK 1", "closing the unopened cable is fine")
        check(probe.ask("ports").startswith("OK COM"), "serial discovery still works")
    finally:
        probe.close()


class Echo:
    """A loopback plug on the far end: every byte that arrives goes back at once."""

    def __init__(self, fd):
        self.fd = fd
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop.is_set():
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if ready:
                try:
                    os.write(self.fd, os.read(self.fd, 4096))
                except BlockingIOError:
                    pass

    def close(self):
        self.stop.set()
        self.thread.join(5)


def scenario_selftest(args, wine):
    # loadwing-cli.exe with the stand-in FTD2XX.dll beside it, whose cable is COM5 underneath.
    folder = os.path.join(args.work, "cli")
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, os.path.basename(args.cli))
    shutil.copy2(args.cli, exe)
    shutil.copy2(os.path.join(os.path.dirname(args.probe), "FTD2XX.dll"), folder)
    pair = PtyPair(args.work, "com5")
    echo = None
    try:
        wine.map_ports({"COM5": pair.near})
        silent = wine.run(exe, "selftest", "--port", "COM5", "--json")
        check(silent.returncode == 12 and '"verdict":"nothing-back"' in silent.stdout,
              "COM5 without a plug: nothing came back, exit 12")
        echo = Echo(pair.far_fd)
        result = wine.run(exe, "selftest", "--port", "COM5")
        print("  " + result.stdout.strip().replace("\n", "\n  "), flush=True)
        check(result.returncode == 0 and "this adapter carries the machine's line" in result.stdout,
              "COM5 with a plug carries the line, exit 0")
        check_machine_line(pair, "selftest")
        wine.env["LOADWING_STANDIN_PORT"] = "COM5"
        cable = wine.run(exe, "selftest", "--usb", "--json")
        print("  " + cable.stdout.strip(), flush=True)
        check(cable.returncode in (0, 14) and '"sent"' not in cable.stdout,
              "the cable through FTD2XX.dll brings every byte back")
    finally:
        wine.env.pop("LOADWING_STANDIN_PORT", None)
        if echo:
            echo.close()
        wine.unmap_ports()
        pair.close()


SCENARIOS = {
    "selftest": scenario_selftest,
    "serial": scenario_serial,
    "portmap": scenario_portmap,
    "usb": scenario_usb,
    "usb-missing": scenario_usb_missing,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--cli", help="loadwing-cli.exe, for the selftest scenario")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    wine = Wine(args.wine_run, args.prefix)
    return run_scenario(args.scenario, lambda: SCENARIOS[args.scenario](args, wine))


if __name__ == "__main__":
    sys.exit(main())
