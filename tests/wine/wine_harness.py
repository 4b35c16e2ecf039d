"""What the scripted Wine tests share: checks that print as they pass, bounded waits, COM ports
mapped to host pseudo-terminals, the Wine prefix, and the Win32 programs driven one command a
line (link_probe.exe, dialog_driver.exe). How a COM port is mapped: see link/link_wine_test.py.
"""

import fcntl
import os
import select
import struct
import subprocess
import tempfile
import termios
import time

PORTS_KEY = r"HKLM\Software\Wine\Ports"
SERIALCOMM_KEY = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"


class Failure(Exception):
    pass


START = time.monotonic()


def stamp():
    return f"[{time.monotonic() - START:6.1f} s]"


def check(condition, message):
    if not condition:
        raise Failure(message)
    print(f"{stamp()} PASS {message}", flush=True)


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise Failure(f"timed out after {seconds} s waiting for {what}")


def wait_or_kill(process, seconds):
    """Waits for process to end, and kills it when it has not ended in time."""
    try:
        process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=10)


class PtyPair:
    """Two connected pseudo-terminals: Wine gets the near end, the test keeps the far end."""

    def __init__(self, work, name):
        self.near_link = os.path.join(work, f"{name}.near")
        self.far_link = os.path.join(work, f"{name}.far")
        for link in (self.near_link, self.far_link):
            if os.path.lexists(link):
                os.unlink(link)
        self.log = open(os.path.join(work, f"{name}.socat.log"), "w")
        self.process = subprocess.Popen(
            ["socat", "-d", "-d", f"pty,raw,echo=0,link={self.near_link}",
             f"pty,raw,echo=0,link={self.far_link}"],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        wait_for(lambda: os.path.exists(self.near_link) and os.path.exists(self.far_link), 10,
                 f"socat's links {self.near_link}, {self.far_link}")
        self.near = os.path.realpath(self.near_link)
        self.far_fd = os.open(self.far_link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        # The test's own view of the near end: line settings and queued input.
        self.near_fd = os.open(self.near_link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

    def spoil_near_settings(self):
        """Sets everything the port configuration must undo, so that a missing step shows."""
        attrs = termios.tcgetattr(self.near_fd)
        attrs[0] |= termios.IXON | termios.IXOFF | termios.ICRNL | termios.ISTRIP
        attrs[1] |= termios.OPOST
        attrs[2] = (attrs[2] & ~termios.CSIZE) | termios.CS7 | termios.PARENB | termios.CSTOPB \
            | termios.CRTSCTS
        attrs[3] |= termios.ICANON | termios.ECHO | termios.ISIG
        attrs[4] = attrs[5] = termios.B9600
        attrs[6][termios.VSTART] = attrs[6][termios.VSTOP] = b"\x00"
        termios.tcsetattr(self.near_fd, termios.TCSANOW, attrs)

    def near_queued(self):
        return struct.unpack("i", fcntl.ioctl(self.near_fd, termios.FIONREAD, b"\0\0\0\0"))[0]

    def read_far(self, count, seconds):
        data = b""
        deadline = time.monotonic() + seconds
        while len(data) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([self.far_fd], [], [], left)
            if ready:
                try:
                    data += os.read(self.far_fd, count - len(data))
                except BlockingIOError:
                    pass
        return data

    def close(self):
        for fd in (self.far_fd, self.near_fd):
            try:
                os.close(fd)
            except OSError:
                pass
        self.process.terminate()
        wait_or_kill(self.process, 5)
        self.log.close()


class Wine:
    def __init__(self, wine_run, prefix):
        self.wine_run = wine_run
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
        self.mapped = {}

    def run(self, *args, timeout=120):
        # Output goes to a file, not a pipe: Wine's background processes would inherit a pipe
        # and keep it open until the server idles out, which would make every call that long.
        with tempfile.TemporaryFile() as output:
            result = subprocess.run([self.wine_run, *args], stdin=subprocess.DEVNULL,
                                    stdout=output, stderr=subprocess.STDOUT, env=self.env,
                                    timeout=timeout)
            output.seek(0)
            result.stdout = output.read().decode(errors="replace")
            result.stderr = ""
        return result

    def stop_server(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=60)

    def dosdevice(self, com):
        return os.path.join(self.prefix, "dosdevices", com.lower())

    def map_ports(self, mapping):
        for com, device in mapping.items():
            result = self.run("reg", "add", PORTS_KEY, "/v", com, "/d", device, "/f")
            if result.returncode != 0:
                raise Failure(f"reg add {com}: {result.stdout} {result.stderr}")
            self.mapped[com] = device
        print(f"{stamp()} mapped {', '.join(mapping)}; restarting wineserver", flush=True)
        self.stop_server()
        self.run("reg", "query", PORTS_KEY)  # boots the prefix again, through the wrapper
        for com, device in mapping.items():
            wait_for(lambda: os.path.realpath(self.dosdevice(com)) == device, 30,
                     f"dosdevices/{com.lower()} -> {device}")

    def unmap_ports(self):
        if not self.mapped:
            return
        for com in self.mapped:
            self.run("reg", "delete", PORTS_KEY, "/v", com, "/f")
        self.stop_server()
        # Wine leaves the device links behind; a pty number is soon reused by another pty.
        for com, device in self.mapped.items():
            link = self.dosdevice(com)
            if os.path.islink(link) and os.readlink(link) == device:
                os.unlink(link)
        self.mapped = {}

    def serialcomm(self):
        result = self.run("reg", "query", SERIALCOMM_KEY)
        return result.stdout.replace("\r", "")


class Probe:
    """A Win32 test program under Wine (link_probe.exe, dialog_driver.exe) that takes one
    command a line and answers one line."""

    def __init__(self, wine, exe, work, extra_env=None, cwd=None, name="link_probe"):
        self.name = name
        self.log = open(os.path.join(work, f"{name}.stderr.log"), "a")
        self.process = subprocess.Popen([wine.wine_run, exe], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=self.log,
                                        env=dict(wine.env, **(extra_env or {})), cwd=cwd)
        self.pending = b""
        ready = self.read_line(120)
        if ready != "READY":
            raise Failure(f"{name} did not start: {ready!r}")

    def read_line(self, seconds):
        deadline = time.monotonic() + seconds
        fd = self.process.stdout.fileno()
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure(f"no answer from {self.name} within {seconds:.0f} s")
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 4096)
                if not chunk:
                    raise Failure(f"{self.name} ended unexpectedly")
                self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode(errors="replace").rstrip("\r")

    def ask(self, command, seconds=30, quiet=False):
        self.process.stdin.write(command.encode() + b"\n")
        self.process.stdin.flush()
        answer = self.read_line(seconds)
        if not quiet:
            print(f"  {command[:70]} -> {answer[:160]}", flush=True)
        return answer

    def close(self):
        try:
            self.process.stdin.write(b"quit\n")
            self.process.stdin.close()
        except OSError:
            pass
        wait_or_kill(self.process, 20)
        self.log.close()


def run_scenario(name, body, cleanup=None):
    """Runs one scenario; prints FAIL with the reason or PASS, and gives the exit code."""
    status = 0
    try:
        body()
    except Failure as failure:
        print(f"FAIL {failure}", flush=True)
        status = 1
    except (OSError, subprocess.SubprocessError) as error:
        print(f"FAIL {type(error).__name__}: {error}", flush=True)
        status = 1
    finally:
        if cleanup:
            cleanup()
    if status == 0:
        print(f"{stamp()} PASS scenario {name}", flush=True)
    return status
