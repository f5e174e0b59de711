"""The controller simulator (tovaksim) on one COM port: its steps and what it recorded."""

import os
import select
import shutil
import socket
import subprocess
import time

from .common import REPO, SIM_READY_TIMEOUT, HarnessError, SimulatorError, end_process, wait_for
from .wine import port_number

DEFAULT_SIM = REPO / "build" / "native" / "tovaksim"
# The simulator stamps what the program writes as it reads it. At a real-time priority
# it reads at once whatever else the machine runs (other tests, the checks beside
# them), so a gap between two stamps is the program's and not the machine's load.
# Only root may ask for it; elsewhere the simulator runs as it is.
REALTIME_PRIORITY = ["chrt", "--fifo", "10"]


def realtime():
    if os.geteuid() == 0 and shutil.which(REALTIME_PRIORITY[0]):
        return list(REALTIME_PRIORITY)
    return []


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
            self.process = subprocess.Popen(realtime() + args, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.PIPE, stderr=stderr)
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
        wait_for(lambda: len(self.received()) >= len(expected)
                  or not expected.startswith(self.received()), timeout)
        return self.received()

    def wait_received(self, expected, timeout=5.0):
        """Waits until the received bytes contain expected; returns them all."""
        if isinstance(expected, str):
            expected = expected.encode("latin-1")
        if not wait_for(lambda: expected in self.received(), timeout):
            raise AssertionError("%r not received within %s s; received %r" % (
                expected, timeout, self.received()))
        return self.received()

    def stop(self):
        if self._socket is not None:
            self._socket.close()
            self._socket = None
        end_process(self.process)
        if self.process.stdout is not None:
            self.process.stdout.close()
        self._leave_no_port()
