"""Fixtures of the end-to-end tests: the real tovakrem.exe under Wine, its COM ports
mapped to controller simulators, worked through the UI driver on a private Xvfb.

One run (Run) boots a template Wine prefix and an Xvfb once. Each test (Harness)
copies the template to a fresh prefix with its own wineserver, LOCALAPPDATA folder
and COM-port links, and cleans all of it up by the PIDs it started.

Standard library only.
"""

import json
import os
import re
import select
import signal
import socket
import subprocess
import time
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DEFAULT_SIM = REPO / "build" / "native" / "tovaksim"

WINE_ENV = {
    "WINEDEBUG": "-all",
    # No Mono or Gecko install prompts.
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
}
SCREEN = "1024x768x24"
FIRST_DISPLAY = 100
LAST_DISPLAY = 399
PROGRAM_PORTS = range(1, 17)  # COM1..COM16, the ports the Port menu offers
# Every user-defined port keeps the mount manager from giving a real serial device
# (/dev/ttyS0 exists here) one of these numbers; it can only land on COM256.
MAPPED_PORTS = range(1, 256)
# A port without a controller is mapped to a folder: opening it then fails as a
# missing port does on Windows. A mapping to a path that does not exist would not
# do: Wine then opens the port's bare device, and every read and write gives 0 bytes.
NO_PORT = "no-port"

SETTINGS_SECTION = "tovakrem"
SETTINGS_FOLDER = "VORNHALT"
SETTINGS_FILE = "tovakrem.ini"
LOG_FILE = "tovakrem.log"

BOOT_TIMEOUT = 120
WINE_CALL_TIMEOUT = 60
SIM_READY_TIMEOUT = 10
DRIVER_REPLY_TIMEOUT = 15
SERVER_STOP_TIMEOUT = 15
DEFAULT_TEST_TIME_LIMIT = 90


class HarnessError(Exception):
    """The test environment itself failed (not the program under test)."""


class DriverError(AssertionError):
    """The UI driver answered ok: false."""


class DriverTimeout(AssertionError):
    """The UI driver gave no answer in time: the program's thread is most likely stuck."""


class SimulatorError(AssertionError):
    """The simulator refused or failed a step."""


def _wait_for(predicate, timeout, interval=0.02):
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(interval)


def wait_until(predicate, timeout, what):
    """Polls predicate until it holds; an AssertionError naming what (a text, or a
    function giving it once the wait has failed) if it does not within timeout s."""
    if not _wait_for(predicate, timeout):
        raise AssertionError("%s: not within %s s" % (what() if callable(what) else what,
                                                     timeout))


def _end_process(process, grace=3.0):
    """Ends one child by its PID: SIGTERM, then SIGKILL; always reaps it."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(grace)


# -- processes, as /proc shows them -----------------------------------------------------

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User plus system CPU time of a process so far; 0 once it has gone."""
    try:
        fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime, stime


def resident_kb(pid):
    """A process's resident memory (VmRSS) in kB."""
    status = Path("/proc/%d/status" % pid).read_text()
    match = re.search(r"^VmRSS:\s+(\d+) kB$", status, re.MULTILINE)
    if match is None:
        raise HarnessError("no VmRSS for process %d" % pid)
    return int(match.group(1))


def prefix_processes(prefix):
    """Every process running in a Wine prefix (its loader, helpers and server)."""
    wanted = ("WINEPREFIX=%s" % prefix).encode()
    found = []
    for entry in os.scandir("/proc"):
        if entry.name.isdigit():
            try:
                environ = Path(entry.path, "environ").read_bytes()
            except OSError:
                continue
            if wanted in environ.split(b"\0"):
                found.append(int(entry.name))
    return found


def windows_path(path):
    """A Linux path as the program sees it through drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


def port_number(port):
    """'COM1', 'com12' or '\\\\.\\COM12' -> 1 or 12."""
    match = re.fullmatch(r"(?:\\\\\.\\)?COM(\d+)", port, re.IGNORECASE)
    if not match or int(match.group(1)) not in PROGRAM_PORTS:
        raise ValueError("not a port of the program: %r" % port)
    return int(match.group(1))


class WineArch:
    """Which Wine runs the tests: a 32-bit prefix with the 32-bit builds where the
    machine runs 32-bit programs, else a 64-bit prefix with the 64-bit builds.

    Debian's `wine` and `wineboot` scripts always try the 32-bit loader first, which a
    kernel without 32-bit support refuses ("Exec format error"); the 64-bit path
    therefore calls the 64-bit loader itself for every Wine program."""

    LOADER_32 = "/usr/lib/wine/wine"
    LOADER_64 = "/usr/lib/wine/wine64"
    FORCE_VARIABLE = "TOVAK_WINE_ARCH"
    NAMES = ("win32", "win64")

    def __init__(self, name):
        if name not in self.NAMES:
            raise HarnessError("%s must be one of %s, not %r"
                               % (self.FORCE_VARIABLE, ", ".join(self.NAMES), name))
        self.name = name
        self.build = REPO / "build" / name
        # The scripts keep the 32-bit path as it always was.
        self.loader = "wine" if name == "win32" else self.LOADER_64

    @classmethod
    def choose(cls):
        """The forced architecture, else win32 if the 32-bit loader runs here."""
        forced = os.environ.get(cls.FORCE_VARIABLE, "").strip()
        if forced:
            return cls(forced)
        return cls("win32" if cls.runs_32_bit() else "win64")

    @classmethod
    def runs_32_bit(cls):
        try:
            result = subprocess.run([cls.LOADER_32, "--version"], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    timeout=30, check=False)
        except OSError:  # missing, or refused by the kernel
            return False
        return result.returncode == 0

    def command(self, args):
        """args (a Windows program and its arguments) as a command line for this Wine."""
        return [self.loader] + [str(arg) for arg in args]

    def env(self):
        env = {"WINEARCH": self.name}
        if self.name == "win64":
            # What Wine starts by itself (start.exe, services) uses the same loader.
            env["WINELOADER"] = self.LOADER_64
        return env


def _reg_string(text):
    if any(c in text for c in '"\\\n') or not text.isascii():
        raise HarnessError("path unfit for a registry file: %r" % text)
    return text


def _free_display():
    for number in range(FIRST_DISPLAY, LAST_DISPLAY + 1):
        if not (Path("/tmp/.X11-unix/X%d" % number).exists()
                or Path("/tmp/.X%d-lock" % number).exists()):
            yield number


class Run:
    """What one test run shares: the run folder, the template prefix, the Xvfb."""

    def __init__(self, exe=None, driver=None, sim=None, tmp_root=None, keep=None, display=None,
                 arch=None):
        self.arch = arch or WineArch.choose()
        self.exe = Path(exe or os.environ.get("TOVAK_E2E_EXE")
                        or self.arch.build / "tovakrem.exe").resolve()
        self.driver = Path(driver or os.environ.get("TOVAK_E2E_DRIVER")
                           or self.arch.build / "tovakdrv.exe").resolve()
        self.sim = Path(sim or os.environ.get("TOVAK_E2E_SIM") or DEFAULT_SIM).resolve()
        self.tmp_root = Path(tmp_root or os.environ.get("TOVAK_E2E_TMP") or "/tmp")
        self.keep = keep if keep is not None else os.environ.get("TOVAK_E2E_KEEP") == "1"
        self.folder = None
        self.template = None
        self.display = display  # an X display to use as it is; None starts a private Xvfb
        self.xvfb = None
        self.test_count = 0
        self.template_seconds = None
        self.started = False
        self.open_tests = []  # harnesses not yet closed, ended by stop() at the latest
        self.overheads = []  # (setup seconds, close seconds) of every closed test

    # -- life cycle --------------------------------------------------------------------

    def start(self, template=True):
        """The run folder, the display and (unless template is False: the Debian
        package's launcher makes its own prefix) the template prefix."""
        for path, what in ((self.exe, "program"), (self.driver, "UI driver"), (self.sim, "simulator")):
            if not path.is_file():
                raise HarnessError("the %s is not built: %s" % (what, path))
        self.tmp_root.mkdir(parents=True, exist_ok=True)
        self.folder = Path(
            subprocess.check_output(["mktemp", "-d", str(self.tmp_root / "tovak-e2e-XXXXXX")],
                                    text=True).strip())
        self.started = True
        if self.display is None:
            self._start_xvfb()
        if template:
            started = time.monotonic()
            self._boot_template()
            self.template_seconds = time.monotonic() - started

    def stop(self):
        if not self.started:
            return
        self.started = False
        for test in list(self.open_tests):
            test.close()
        if self.xvfb is not None:
            _end_process(self.xvfb)
            self.xvfb = None
        if self.template is not None:
            # A template server that outlived the boot (it should not) goes by its prefix.
            subprocess.run(["wineserver", "-k"], env=self.wine_env(self.template),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=SERVER_STOP_TIMEOUT, check=False)
        if self.folder is not None and not self.keep:
            subprocess.run(["rm", "-rf", str(self.folder)], check=False)

    def wine_env(self, prefix):
        env = dict(os.environ)
        env.update(WINE_ENV)
        env.update(self.arch.env())
        env["WINEPREFIX"] = str(prefix)
        if self.display is not None:
            env["DISPLAY"] = ":%d" % self.display
        env.pop("WINESERVER", None)
        return env

    def new_test_folder(self, name):
        self.test_count += 1
        # Short names: the control sockets live inside and sun_path holds 107 bytes.
        folder = self.folder / ("t%03d" % self.test_count)
        folder.mkdir()
        (folder / "name.txt").write_text(name + "\n")
        return folder

    # -- parts -------------------------------------------------------------------------

    def _start_xvfb(self):
        log = open(self.folder / "xvfb.log", "wb")
        try:
            for number in _free_display():
                process = subprocess.Popen(
                    ["Xvfb", ":%d" % number, "-screen", "0", SCREEN, "-nolisten", "tcp"],
                    stdin=subprocess.DEVNULL, stdout=log, stderr=log)
                socket_path = Path("/tmp/.X11-unix/X%d" % number)
                if _wait_for(lambda: socket_path.exists() or process.poll() is not None, 10) \
                        and process.poll() is None:
                    self.xvfb = process
                    self.display = number
                    return
                _end_process(process)
        finally:
            log.close()
        raise HarnessError("no free X display from :%d to :%d" % (FIRST_DISPLAY, LAST_DISPLAY))

    def _wine(self, prefix, args, timeout=WINE_CALL_TIMEOUT):
        """A Wine call whose output nobody needs; the helpers it starts inherit /dev/null."""
        result = subprocess.run(self.arch.command(args), env=self.wine_env(prefix),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=timeout, check=False)
        return result.returncode

    def _wait_server_gone(self, prefix):
        subprocess.run(["wineserver", "-w"], env=self.wine_env(prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=BOOT_TIMEOUT, check=False)

    def _boot_template(self):
        self.template = self.folder / "template"
        env = self.wine_env(self.template)
        booted = subprocess.run(self.arch.command(["wineboot", "-i"]), env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=BOOT_TIMEOUT, check=False)
        if booted.returncode != 0:
            hint = ""
            if self.arch.name == "win32" and not WineArch.runs_32_bit():
                hint = ": this machine cannot run 32-bit programs (%s=win64 or unset)" \
                    % WineArch.FORCE_VARIABLE
            raise HarnessError("booting a %s prefix failed (exit %d)%s"
                               % (self.arch.name, booted.returncode, hint))
        self._wait_server_gone(self.template)
        no_port = self.no_port_folder()
        no_port.mkdir()
        lines = [
            "REGEDIT4", "",
            # Without a window manager, hiding a top-level window stalls the thread 2 s.
            r"[HKEY_CURRENT_USER\Software\Wine\X11 Driver]", '"Managed"="N"', "",
            # Inconsolata has Consolas' narrow advance; a wider face wraps the
            # display panel's lines and pushes the second out of sight.
            r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]",
            '"Consolas"="Inconsolata"', "",
            r"[HKEY_LOCAL_MACHINE\Software\Wine\Ports]",
        ]
        for number in MAPPED_PORTS:
            lines.append('"COM%d"="%s"' % (number, _reg_string(str(no_port))))
        reg_file = self.folder / "template.reg"
        reg_file.write_text("\r\n".join(lines) + "\r\n")
        self._wine(self.template, ["regedit", "/S", windows_path(reg_file)])
        self._wait_server_gone(self.template)
        user_reg = (self.template / "user.reg").read_text(encoding="latin-1")
        if '"Managed"="N"' not in user_reg or '"Consolas"="Inconsolata"' not in user_reg:
            raise HarnessError("the template's settings were not imported")
        # The mount manager writes the port links only at a server's start; until it
        # has, the template would still send COM1 to /dev/ttyS0.
        for name in os.listdir(self.template / "dosdevices"):
            if re.fullmatch(r"com\d+", name):
                os.unlink(self.template / "dosdevices" / name)
        for number in MAPPED_PORTS:
            os.symlink(no_port, self.template / "dosdevices" / ("com%d" % number))

    def no_port_folder(self):
        return self.folder / NO_PORT


class Program:
    """tovakrem.exe under Wine; its Unix PID is the Windows process's."""

    def __init__(self, process, stdout_path):
        self.process = process
        self.pid = process.pid
        self.output_path = stdout_path

    def wait_exit(self, timeout=10):
        """The exit code, or raises AssertionError if the program is still running."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program did not exit within %s s" % timeout) from None

    def running(self):
        return self.process.poll() is None

    def resident_kb(self):
        """The program's resident memory (VmRSS) in kB."""
        return resident_kb(self.pid)

    def end(self):
        _end_process(self.process)


class Simulator:
    """One tovaksim process: the controller on one COM port of the test's prefix."""

    def __init__(self, sim_path, folder, port, script=None, relink=False, model=None,
                 seed=None, replay=None, replay_speed=None):
        number = port_number(port)
        self.port = "COM%d" % number
        self.link = folder / "ports" / ("com%d" % number)
        self.record_path = folder / ("sim-com%d.rec" % number)
        self.control_path = folder / ("sim-com%d.sock" % number)
        self.stderr_path = folder / ("sim-com%d.err" % number)
        args = [str(sim_path), "--link", str(self.link), "--record", str(self.record_path),
                "--control", str(self.control_path)]
        if script is not None:
            script_path = folder / ("sim-com%d.script" % number)
            script_path.write_text(script)
            args += ["--script", str(script_path)]
        if relink:
            args.append("--relink")
        if seed is not None:
            args += ["--seed", str(seed)]
        if replay is not None:
            # The R lines of a debug log, played back once the program first writes.
            args += ["--replay", str(replay)]
            if replay_speed is not None:
                args += ["--replay-speed", str(replay_speed)]
        if model is not None:
            # The controller model answers the program; steps still mix in.
            args.append("--model")
            for name, value in dict(model).items():
                args += ["--" + name, str(value)]
        self.relink = relink
        # The folder that stands for a missing port makes way for the controller's link.
        if self.link.is_dir() and not self.link.is_symlink():
            self.link.rmdir()
        self.slave = None
        self._socket = None
        self._buffer = b""
        with open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                            stderr=stderr)
        self.pid = self.process.pid
        try:
            line = self._read_stdout_line(SIM_READY_TIMEOUT)
            if not line.startswith("ready "):
                raise HarnessError("the simulator did not get ready: %r, %s" % (
                    line, self.stderr_path.read_text(errors="replace")))
            self.slave = line.split(" ", 1)[1]
            self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self._socket.connect(str(self.control_path))
        except BaseException:
            self.stop()
            raise

    def _read_stdout_line(self, timeout):
        deadline = time.monotonic() + timeout
        data = b""
        fd = self.process.stdout.fileno()
        while not data.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                return data.decode(errors="replace")
            chunk = os.read(fd, 1)
            if not chunk:
                break
            data += chunk
        return data.decode(errors="replace").strip()

    # -- steps -------------------------------------------------------------------------

    def step(self, line, timeout=30):
        """Runs one step line (see tovaksim --help), waits for its answer and returns
        what the step reported after "ok" (mostly nothing)."""
        self.post(line)
        return self.answer(line, timeout)

    def post(self, line):
        """Queues one step line without waiting; answer() reads its answer later, in
        the order the lines were posted."""
        if self._socket is None:
            raise SimulatorError("the simulator is stopped")
        self._socket.sendall(line.encode("latin-1") + b"\n")

    def answered(self):
        """Whether the answer to the oldest posted line has arrived (it is kept)."""
        while b"\n" not in self._buffer and select.select([self._socket], [], [], 0)[0]:
            chunk = self._socket.recv(4096)
            if not chunk:
                break
            self._buffer += chunk
        return b"\n" in self._buffer

    def answer(self, line, timeout=30):
        """The answer to the oldest posted line (line names it in errors); raises
        SimulatorError unless it is "ok"; returns what follows "ok"."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._socket], [], [], left)[0]:
                raise SimulatorError("no answer to %r within %s s" % (line, timeout))
            chunk = self._socket.recv(4096)
            if not chunk:
                raise SimulatorError("the simulator closed its control channel at %r" % line)
            self._buffer += chunk
        answer, self._buffer = self._buffer.split(b"\n", 1)
        answer = answer.decode(errors="replace")
        if answer != "ok" and not answer.startswith("ok "):
            raise SimulatorError("%s: %s" % (line, answer))
        return answer[3:]  # what a step reports beside "ok" ("stream": its counts)

    @staticmethod
    def escape(data):
        """Bytes or text as a step's text: printable ASCII as it is, the rest as \\xHH."""
        if isinstance(data, str):
            data = data.encode("latin-1")
        out = []
        for byte in data:
            if byte == 0x5C:
                out.append("\\\\")
            elif 0x20 <= byte < 0x7F:
                out.append(chr(byte))
            else:
                out.append("\\x%02x" % byte)
        return "".join(out)

    def send(self, data):
        self.step("send " + self.escape(data))

    def press(self, code):
        """A key pressed on the controller itself (model only)."""
        self.step("press " + self.escape(code))

    def model(self, name, value):
        """Changes one of the model's settings while it runs."""
        self.step("model %s %s" % (name, value))

    def stream(self, seconds):
        """Streams status messages at the line's full rate; returns (messages, bytes)."""
        answer = self.step("stream %d" % seconds, timeout=seconds + 30)
        numbers = [int(word) for word in answer.split() if word.isdigit()]
        if len(numbers) != 2:
            raise SimulatorError("stream answered %r" % answer)
        return tuple(numbers)

    def sendsplit(self, data, first):
        self.step("sendsplit %s %d" % (self.escape(data), first))

    def delay(self, ms):
        self.step("delay %d" % ms, timeout=ms / 1000 + 30)

    def garbage(self, count):
        self.step("garbage %d" % count)

    def flood(self, count, pattern=None):
        self.step("flood %d" % count + (" " + self.escape(pattern) if pattern else ""))

    def silence(self, ms):
        self.step("silence %d" % ms, timeout=ms / 1000 + 30)

    def hangup(self):
        self.step("hangup")
        if not self.relink:
            self._leave_no_port()

    def plug(self):
        """The adapter plugged back after a hangup: a fresh pty under the same link,
        which the program reaches only by opening the port again."""
        if self.link.is_dir() and not self.link.is_symlink():
            self.link.rmdir()
        self.step("plug")

    def _leave_no_port(self):
        """Once the controller is gone, its port cannot be opened, like a missing one."""
        if not os.path.lexists(self.link):
            self.link.mkdir()

    def expect(self, data, timeout_ms=5000):
        self.step("expect %s %d" % (self.escape(data), timeout_ms), timeout=timeout_ms / 1000 + 30)

    # -- what the program wrote --------------------------------------------------------

    def events(self):
        """[(ms, kind, detail)] from the record file, in order."""
        events = []
        try:
            text = self.record_path.read_text()
        except FileNotFoundError:
            return events
        # A line still being written has no line end yet.
        for line in text.split("\n")[:-1]:
            parts = line.split(" ", 2)
            if len(parts) >= 2:
                events.append((float(parts[0]), parts[1], parts[2] if len(parts) > 2 else ""))
        return events

    def chunks(self, kind):
        """[(ms, bytes)] of one direction, as recorded: "rx" what the program wrote,
        "tx" what the simulator sent."""
        return [(ms, bytes.fromhex(detail)) for ms, event, detail in self.events()
                if event == kind]

    def received(self):
        """Every byte the program has written to this port so far."""
        return b"".join(data for _, data in self.chunks("rx"))

    def sent(self):
        """Every byte the simulator has written to the program so far."""
        return b"".join(data for _, data in self.chunks("tx"))

    def received_up_to(self, expected, timeout=5.0):
        """Waits until the program has written as many bytes as expected, or a byte
        that differs from it, and returns all it wrote: for whole-record comparisons."""
        _wait_for(lambda: len(self.received()) >= len(expected)
                  or not expected.startswith(self.received()), timeout)
        return self.received()

    def wait_received(self, expected, timeout=5.0):
        """Waits until the received bytes contain expected; returns them all."""
        if isinstance(expected, str):
            expected = expected.encode("latin-1")
        if not _wait_for(lambda: expected in self.received(), timeout):
            raise AssertionError("%r not received within %s s; received %r" % (
                expected, timeout, self.received()))
        return self.received()

    def stop(self):
        if self._socket is not None:
            self._socket.close()
            self._socket = None
        _end_process(self.process)
        if self.process.stdout is not None:
            self.process.stdout.close()
        self._leave_no_port()


class UiDriver:
    """tovakdrv.exe in the test's prefix: one command a line, one JSON line an answer.
    Every method returns the parsed answer and raises DriverError on ok: false.
    adjust=True addresses the program's Adjust window instead of the main window."""

    def __init__(self, run, prefix, folder):
        self._stderr = open(folder / "driver.err", "wb")
        self.process = subprocess.Popen(run.arch.command([run.driver]), env=run.wine_env(prefix),
                                        cwd=str(folder), stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=self._stderr)
        self.pid = self.process.pid
        self._buffer = b""

    def call(self, line, timeout=DRIVER_REPLY_TIMEOUT):
        """Sends one command and returns its parsed answer; raises on ok: false."""
        self.post(line)
        return self.reply(line, timeout)

    def post(self, line):
        """Sends one command without waiting; reply() reads its answer later."""
        if self.process.poll() is not None:
            raise HarnessError("the UI driver has exited (%s)" % self.process.returncode)
        try:
            self.process.stdin.write(line.encode() + b"\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            raise HarnessError("the UI driver has gone") from None

    def reply(self, line, timeout=DRIVER_REPLY_TIMEOUT):
        """The answer to the command posted last (line names it in errors)."""
        fd = self.process.stdout.fileno()
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise DriverTimeout("the UI driver gave no answer to %r within %s s" % (line, timeout))
            chunk = os.read(fd, 65536)
            if not chunk:
                raise HarnessError("the UI driver closed its output at %r" % line)
            self._buffer += chunk
        answer, self._buffer = self._buffer.split(b"\n", 1)
        reply = json.loads(answer.decode("latin-1").strip())
        if not reply.get("ok"):
            raise DriverError("%s: %s" % (line, reply.get("error", "failed")))
        return reply

    @staticmethod
    def _on(adjust):
        return " adjust" if adjust else ""

    def find(self, timeout_ms=10000, adjust=False):
        return self.call("find %d" % timeout_ms + self._on(adjust),
                         timeout_ms / 1000 + DRIVER_REPLY_TIMEOUT)

    def window(self, adjust=False):
        return self.call("window" + self._on(adjust))

    def controls(self, adjust=False):
        """Every child control; radio buttons and check boxes also say "checked"."""
        return self.call("controls" + self._on(adjust))

    def text(self, control_id, adjust=False):
        return self.call("text %d" % control_id + self._on(adjust))

    def menu(self):
        return self.call("menu")

    @staticmethod
    def waittext_line(control_id, text, timeout_ms=5000, absent=False):
        if isinstance(text, str):
            text = text.encode("latin-1")
        return "waittext %d %d %s%s" % (control_id, timeout_ms, text.hex(),
                                        " absent" if absent else "")

    def waittext(self, control_id, text, timeout_ms=5000, absent=False):
        """Waits in the driver until a static's text contains text (absent: no longer
        does), read about every millisecond without the program's thread; the answer
        has the text then and "us", the microseconds the wait took."""
        return self.call(self.waittext_line(control_id, text, timeout_ms, absent),
                         timeout_ms / 1000 + DRIVER_REPLY_TIMEOUT)

    def command(self, command_id, code=0, adjust=False):
        return self.call("command %d %d" % (command_id, code) + self._on(adjust))

    def click(self, control_id, adjust=False):
        return self.call("click %d" % control_id + self._on(adjust))

    def key(self, name, adjust=False):
        """Posts a key press and release ("esc" or "enter") to the window."""
        return self.call("key %s" % name + self._on(adjust))

    def close(self, adjust=False):
        return self.call("close" + self._on(adjust))

    def altf4(self, adjust=False):
        return self.call("altf4" + self._on(adjust))

    def boxes(self):
        return self.call("boxes")

    def waitbox(self, timeout_ms=5000):
        return self.call("waitbox %d" % timeout_ms, timeout_ms / 1000 + DRIVER_REPLY_TIMEOUT)

    def answer(self, button_id):
        return self.call("answer %d" % button_id)

    def pixel(self, x, y, adjust=False):
        return self.call("pixel %d %d" % (x, y) + self._on(adjust))

    def menustate(self, item_id):
        return self.call("menustate %d" % item_id)

    def end(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b"quit\n")
                self.process.stdin.close()
            except OSError:
                pass
            try:
                self.process.wait(3)
            except subprocess.TimeoutExpired:
                pass
        _end_process(self.process)
        self.process.stdout.close()
        if not self.process.stdin.closed:
            self.process.stdin.close()
        self._stderr.close()


class ScreenImage:
    """Pixels grabbed from the X screen; pixel(x, y) counts from the grab's corner."""

    def __init__(self, width, height, data, left=0, top=0):
        self.width = width
        self.height = height
        self.data = data
        self.left = left
        self.top = top

    @classmethod
    def from_ppm(cls, data, left=0, top=0):
        # P6 header: magic, width, height, maxval, each ended by one blank.
        fields = []
        position = 0
        while len(fields) < 4:
            while data[position:position + 1].isspace():
                position += 1
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end
        position += 1
        if fields[0] != b"P6" or fields[3] != b"255":
            raise HarnessError("unexpected screen grab format %r" % fields)
        width, height = int(fields[1]), int(fields[2])
        pixels = data[position:position + width * height * 3]
        if len(pixels) != width * height * 3:
            raise HarnessError("short screen grab")
        return cls(width, height, pixels, left, top)

    @classmethod
    def from_bmp(cls, path):
        """An uncompressed 24-bit BMP (the program's resources/*.bmp) as it shows."""
        data = Path(path).read_bytes()
        offset, width, height, bits, compression = (
            int.from_bytes(data[10:14], "little"), int.from_bytes(data[18:22], "little"),
            int.from_bytes(data[22:26], "little", signed=True),
            int.from_bytes(data[28:30], "little"), int.from_bytes(data[30:34], "little"))
        if data[:2] != b"BM" or bits != 24 or compression != 0:
            raise HarnessError("%s is not an uncompressed 24-bit bitmap" % path)
        stride = (width * 3 + 3) & ~3
        rows = []
        for row in range(abs(height)):
            source = row if height < 0 else abs(height) - 1 - row  # bottom-up unless negative
            bgr = data[offset + source * stride:offset + source * stride + width * 3]
            rows.append(bytes(b for i in range(0, len(bgr), 3) for b in bgr[i:i + 3][::-1]))
        return cls(width, abs(height), b"".join(rows))

    def crop(self, x, y, width, height):
        """The part at (x, y) of the given size, in this image's coordinates."""
        rows = [self.data[((y + row) * self.width + x) * 3:((y + row) * self.width + x + width) * 3]
                for row in range(height)]
        return ScreenImage(width, height, b"".join(rows), self.left + x, self.top + y)

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.data[offset:offset + 3])

    def colours(self):
        """{(r, g, b): count} over the whole grab."""
        counts = {}
        for offset in range(0, len(self.data), 3):
            colour = tuple(self.data[offset:offset + 3])
            counts[colour] = counts.get(colour, 0) + 1
        return counts


class Harness:
    """One test's private world: prefix, wineserver, LOCALAPPDATA, simulators, program."""

    def __init__(self, run, name):
        self.run = run
        self.folder = run.new_test_folder(name)
        self.prefix = self.folder / "prefix"
        self.local_app_data = self.folder / "localappdata"
        self.settings_path = self.local_app_data / SETTINGS_FOLDER / SETTINGS_FILE
        self.log_path = self.local_app_data / SETTINGS_FOLDER / LOG_FILE
        self.server = None
        self.programs = []
        self.simulators = []
        self.mounts = []
        self._ui = None
        self.setup_seconds = None
        self.closed = False
        run.open_tests.append(self)
        started = time.monotonic()
        try:
            self._prepare_prefix()
            self._start_server()
        except BaseException:
            self.close()
            raise
        self.setup_seconds = time.monotonic() - started

    def env(self):
        return self.run.wine_env(self.prefix)

    # -- setting up --------------------------------------------------------------------

    def _prepare_prefix(self):
        subprocess.run(["cp", "-a", str(self.run.template), str(self.prefix)], check=True)
        (self.folder / "ports").mkdir()
        self.local_app_data.mkdir()
        system_reg = self.prefix / "system.reg"
        text = system_reg.read_text(encoding="latin-1")
        mapping = re.compile(r'^"COM(\d+)"="%s"$' % re.escape(str(self.run.no_port_folder())),
                             re.MULTILINE)
        mapped = []

        def own_port(match):
            number = int(match.group(1))
            if number not in PROGRAM_PORTS:
                return match.group(0)
            mapped.append(number)
            return '"COM%d"="%s"' % (number, _reg_string(str(self.port_link(number))))

        text = mapping.sub(own_port, text)
        if sorted(mapped) != list(PROGRAM_PORTS):
            raise HarnessError("the template maps only ports %s" % sorted(mapped))
        system_reg.write_text(text, encoding="latin-1")
        # The links as the mount manager will write them, so no process of the test can
        # open a port before it has run and find the template's mapping.
        for number in PROGRAM_PORTS:
            self.port_link(number).mkdir()
            link = self.prefix / "dosdevices" / ("com%d" % number)
            link.unlink()
            os.symlink(self.port_link(number), link)

    def _start_server(self):
        self.server = subprocess.Popen(["wineserver", "-f", "-p"], env=self.env(),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True)
        # The key is made anew at each server start; a value in the Unix environment
        # would be overwritten from it.
        code = self.run._wine(self.prefix, [
            "reg", "add", r"HKCU\Volatile Environment", "/v", "LOCALAPPDATA", "/t", "REG_SZ",
            "/d", windows_path(self.local_app_data), "/f"])
        if code != 0:
            raise HarnessError("setting LOCALAPPDATA failed (%d)" % code)

    def port_link(self, port):
        number = port if isinstance(port, int) else port_number(port)
        return self.folder / "ports" / ("com%d" % number)

    # -- settings file -----------------------------------------------------------------

    def write_settings(self, text=None, **keys):
        """Writes tovakrem.ini before the program starts: either the whole text, or
        the keys given (COMPORT="COM1", KEEPALIVE=120000, DEBUG=1) in its one section."""
        if text is None:
            text = "[%s]\r\n" % SETTINGS_SECTION + "".join(
                "%s=%s\r\n" % (key, value) for key, value in keys.items())
        self.settings_path.parent.mkdir(parents=True, exist_ok=True)
        self.settings_path.write_bytes(text.encode("latin-1") if isinstance(text, str) else text)

    def read_settings(self):
        """{KEY: value} of the settings file's section; {} if there is none."""
        if not self.settings_path.exists():
            return {}
        values = {}
        section = None
        for line in self.settings_path.read_text(encoding="latin-1").splitlines():
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif "=" in line and section is not None and section.lower() == SETTINGS_SECTION:
                key, value = line.split("=", 1)
                values[key.strip().upper()] = value.strip()
        return values

    # -- the parts of a test -----------------------------------------------------------

    def simulator(self, port="COM1", script=None, relink=False, model=None, seed=None,
                  replay=None, replay_speed=None):
        """Starts the controller on port; the program finds it there when it opens it.
        model: None for a scripted controller only, or a dict of model settings
        ({} for the defaults, {"name": "KYRAL Beam 2", "band": "40m"}, see tovaksim
        --help) for the controller model, with which steps still mix. seed: of the
        garbage and stream steps. replay: a debug log whose reads the simulator
        plays back (replay_speed times as fast)."""
        sim = Simulator(self.run.sim, self.folder, port, script=script, relink=relink,
                        model=model, seed=seed, replay=replay, replay_speed=replay_speed)
        self.simulators.append(sim)
        return sim

    def start(self):
        """Launches the program; its output goes to files in the test folder."""
        index = len(self.programs) + 1
        output_path = self.folder / ("program%d.out" % index)
        with open(output_path, "wb") as output:
            process = subprocess.Popen(self.run.arch.command([self.run.exe]), env=self.env(),
                                       cwd=str(self.folder), stdin=subprocess.DEVNULL,
                                       stdout=output, stderr=subprocess.STDOUT)
        program = Program(process, output_path)
        self.programs.append(program)
        return program

    def mount_tmpfs(self, folder, size):
        """Mounts a file system of size bytes (a "64k" text as mount takes it) on folder,
        made if missing, until the test ends; None once mounted, else why it could not
        be (mounting needs root)."""
        Path(folder).mkdir(parents=True, exist_ok=True)
        if os.geteuid() != 0:
            return "mounting a file system needs root"
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs",
                                 str(folder)], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=WINE_CALL_TIMEOUT, check=False)
        if result.returncode != 0:
            return "mount failed: %s" % result.stdout.decode(errors="replace").strip()
        self.mounts.append(Path(folder))
        return None

    @property
    def ui(self):
        """The UI driver, started on first use."""
        if self._ui is None:
            self._ui = UiDriver(self.run, self.prefix, self.folder)
        return self._ui

    def screenshot(self, path, rect=None):
        """Saves the main window (or rect [l, t, r, b] on the screen) as a PNG."""
        if rect is None:
            rect = self.ui.window()["rect"]
        left, top, right, bottom = rect
        subprocess.run(
            ["import", "-display", ":%d" % self.run.display, "-window", "root",
             "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage",
             str(path)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            timeout=30, check=True)
        return Path(path)

    def grab(self, rect):
        """The screen inside rect [l, t, r, b] as a ScreenImage (what a user sees)."""
        left, top, right, bottom = rect
        data = subprocess.run(
            ["import", "-display", ":%d" % self.run.display, "-window", "root",
             "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage",
             "-depth", "8", "ppm:-"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            timeout=30, check=True).stdout
        return ScreenImage.from_ppm(data, left, top)

    def grab_control(self, control_id):
        """The screen over one control of the main window, in its client coordinates."""
        window = self.ui.window()
        control = next((c for c in self.ui.controls()["controls"] if c["id"] == control_id), None)
        if control is None:
            raise AssertionError("the main window has no control %d" % control_id)
        origin_x, origin_y = window["clientorigin"]
        left, top = origin_x + control["x"], origin_y + control["y"]
        return self.grab([left, top, left + control["w"], top + control["h"]])

    def grab_controls(self, control_ids):
        """{id: ScreenImage} over several main-window controls, from one grab."""
        window = self.ui.window()
        controls = {c["id"]: c for c in self.ui.controls()["controls"]}
        missing = [control_id for control_id in control_ids if control_id not in controls]
        if missing:
            raise AssertionError("the main window has no controls %s" % missing)
        origin_x, origin_y = window["clientorigin"]
        width, height = window["client"]
        client = self.grab([origin_x, origin_y, origin_x + width, origin_y + height])
        return {control_id: client.crop(controls[control_id]["x"], controls[control_id]["y"],
                                        controls[control_id]["w"], controls[control_id]["h"])
                for control_id in control_ids}

    # -- cleaning up -------------------------------------------------------------------

    def close(self):
        """Ends everything of this test, each by its PID; the prefix's server last of
        the Wine side, and the ptys only after it, since the server holds the devices."""
        if self.closed:
            return
        self.closed = True
        started = time.monotonic()
        for program in self.programs:
            program.end()
        if self._ui is not None:
            self._ui.end()
            self._ui = None
        if self.server is not None:
            subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=SERVER_STOP_TIMEOUT, check=False)
            try:
                self.server.wait(SERVER_STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait(SERVER_STOP_TIMEOUT)
            self.server = None
        for sim in self.simulators:
            sim.stop()
        # Once nothing of the test runs; lazily if something still holds a file there.
        for folder in reversed(self.mounts):
            if subprocess.run(["umount", str(folder)], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, check=False).returncode != 0:
                subprocess.run(["umount", "-l", str(folder)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, check=False)
        self.mounts = []
        if not self.run.keep:
            subprocess.run(["rm", "-rf", str(self.prefix)], check=False)
        self.run.open_tests.remove(self)
        if self.setup_seconds is not None:
            self.run.overheads.append((self.setup_seconds, time.monotonic() - started))


class InstalledPackage:
    """The Debian package unpacked (dpkg-deb -x) into a test folder, nothing installed
    on the machine, and its launcher run as a user runs it: a HOME of its own with the
    XDG_* variables unset, the run's display, the unpacked programs, and a private
    folder standing for /dev, where devices() puts the serial adapters plugged in."""

    COMMAND = Path("usr/bin/tovak-remote")
    PROGRAMS = Path("usr/lib/tovak-remote")
    APP_FOLDER = Path(".local/share/tovak-remote")
    PORTS_FILE = Path(".config/tovak-remote/ports")
    BY_ID = Path("serial/by-id")

    def __init__(self, run, deb, folder):
        self.run = run
        self.folder = folder
        self.root = folder / "root"
        subprocess.run(["dpkg-deb", "-x", str(deb), str(self.root)], check=True)
        self.home = folder / "home"
        self.home.mkdir()
        self.dev = folder / "dev"
        (self.dev / self.BY_ID).mkdir(parents=True)
        (folder / "ports").mkdir()  # the simulators' links
        self.app = self.home / self.APP_FOLDER
        self.prefix = self.app / "wine"
        self.ports_file = self.home / self.PORTS_FILE
        self.launchers = []
        self._ui = None

    def env(self, **changes):
        """The launcher's environment; a change of None removes the variable."""
        env = {name: value for name, value in os.environ.items()
               if not name.startswith(("XDG_", "WINE", "TOVAK_"))}
        env.update(HOME=str(self.home), DISPLAY=":%d" % self.run.display,
                   TOVAK_REMOTE_PROGRAMS=str(self.root / self.PROGRAMS),
                   TOVAK_REMOTE_DEV=str(self.dev), TOVAK_WINE_ARCH=self.run.arch.name)
        for name, value in changes.items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = str(value)
        return env

    def plug(self, by_id_name, target):
        """A serial adapter plugged in: its /dev/serial/by-id name leading to target."""
        link = self.dev / self.BY_ID / by_id_name
        link.symlink_to(target)
        return link

    def call(self, *args, timeout=WINE_CALL_TIMEOUT, **env):
        """Runs tovak-remote to its end: (exit code, stdout, stderr)."""
        result = subprocess.run([str(self.root / self.COMMAND)] + [str(a) for a in args],
                                env=self.env(**env), cwd=str(self.folder),
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=timeout, check=False)
        return result.returncode, result.stdout, result.stderr

    def start(self, *args):
        """Starts tovak-remote in the background; its output goes to two files, read by
        output(). Returns the process."""
        index = len(self.launchers) + 1
        paths = [self.folder / ("launcher%d.%s" % (index, kind)) for kind in ("out", "err")]
        with open(paths[0], "wb") as out, open(paths[1], "wb") as err:
            process = subprocess.Popen([str(self.root / self.COMMAND)] + [str(a) for a in args],
                                       env=self.env(), cwd=str(self.folder),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        process.output_paths = paths
        self.launchers.append(process)
        return process

    @staticmethod
    def output(process):
        """(stdout, stderr) a started launcher has written so far."""
        return tuple(path.read_text(errors="replace") for path in process.output_paths)

    def program_running(self):
        """Whether tovakrem.exe runs in the launcher's prefix: once it does, the launcher
        has done with the prefix and its registry."""
        for pid in prefix_processes(self.prefix):
            try:
                if b"tovakrem.exe" in Path("/proc/%d/cmdline" % pid).read_bytes().lower():
                    return True
            except OSError:
                continue
        return False

    def start_program(self, *args, timeout=BOOT_TIMEOUT, find_timeout_ms=30000):
        """Starts tovak-remote; once its program runs (the launcher is then done with
        the prefix), a UI driver finds the window. Returns (launcher, seconds from the
        start to the window, the driver)."""
        started = time.monotonic()
        launcher = self.start(*args)
        wait_until(lambda: self.program_running() or launcher.poll() is not None, timeout,
                   lambda: "tovak-remote started no program: %s" % (self.output(launcher),))
        ui = self.ui()
        ui.find(find_timeout_ms)
        return launcher, time.monotonic() - started, ui

    def ui(self):
        """A fresh UI driver in the launcher's prefix (the one before it ended)."""
        self.end_ui()
        self._ui = UiDriver(self.run, self.prefix, self.folder)
        return self._ui

    def end_ui(self):
        if self._ui is not None:
            self._ui.end()
            self._ui = None

    def server_gone(self, timeout=SERVER_STOP_TIMEOUT):
        """Waits until the prefix's wineserver has ended, as it does after the program."""
        subprocess.run(["wineserver", "-w"], env=self.run.wine_env(self.prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout,
                       check=False)

    def close(self):
        """Ends what the test started, each by its PID, and the server of the prefix the
        launcher made for this test; the simulators go after this."""
        self.end_ui()
        if self.prefix.exists():
            subprocess.run(["wineserver", "-k"], env=self.run.wine_env(self.prefix),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=SERVER_STOP_TIMEOUT, check=False)
            self.server_gone()
        for process in self.launchers:
            _end_process(process)
        if not self.run.keep:
            subprocess.run(["rm", "-rf", str(self.root), str(self.home)], check=False)


# -- the run shared by the tests, and their base class ---------------------------------

_RUN = None
_RUN_FAILURE = None


def current_run():
    """The run the runner started; a lone `python3 -m unittest` boots its own once."""
    global _RUN, _RUN_FAILURE
    if _RUN_FAILURE is not None:
        raise HarnessError("the test run could not start: %s" % _RUN_FAILURE)
    if _RUN is None:
        import atexit
        run = Run()
        atexit.register(run.stop)
        try:
            run.start()
        except BaseException as error:
            _RUN_FAILURE = error
            run.stop()
            raise
        _RUN = run
    return _RUN


def set_run(run):
    global _RUN
    _RUN = run


class TestTimeout(AssertionError):
    pass


def _on_time_limit(signum, frame):
    raise TestTimeout("the test ran past its time limit")


class WineTestCase(unittest.TestCase):
    """A test with its own Harness in self.h, ended whatever the outcome, and a time
    limit so a hang cannot block the run."""

    time_limit = int(os.environ.get("TOVAK_E2E_TIME_LIMIT", DEFAULT_TEST_TIME_LIMIT))
    maxDiff = None

    def setUp(self):
        run = current_run()  # booted once, outside every test's limit
        self.arm_time_limit()
        self.h = Harness(run, self.id())
        self.addCleanup(self.h.close)

    def arm_time_limit(self):
        previous = signal.signal(signal.SIGALRM, _on_time_limit)
        self.addCleanup(signal.signal, signal.SIGALRM, previous)
        self.addCleanup(self._disarm)
        signal.setitimer(signal.ITIMER_REAL, self.time_limit)

    def tearDown(self):
        # Cleaning up must not be cut short by the limit.
        self._disarm()

    @staticmethod
    def _disarm():
        signal.setitimer(signal.ITIMER_REAL, 0)
