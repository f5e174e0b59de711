"""The UI driver (tovakdrv.exe) in a test's prefix: its commands, one method each."""

import json
import os
import select
import subprocess
import time

from .common import DRIVER_REPLY_TIMEOUT, DriverError, DriverTimeout, HarnessError, end_process


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

    def adjust_open(self):
        """Whether the Adjust window is there."""
        try:
            self.window(adjust=True)
        except DriverError:
            return False
        return True

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

    def accessible(self, control_ids, adjust=False):
        """Controls as a screen reader reads them through oleacc, all at once: {id:
        {"name", "role", "roletext", "value", "state"}}, a part the object does not
        give being None ("nameresult" and "valueresult" hold the result codes)."""
        answer = self.call("accessible " + " ".join("%d" % i for i in control_ids)
                           + self._on(adjust))
        return {control["id"]: control for control in answer["controls"]}

    def hold(self, control_id, adjust=False):
        """Keeps the control's accessible object, as a reader keeps the one it is on."""
        return self.call("hold %d" % control_id + self._on(adjust))

    def held(self):
        """The object kept by hold(), read again now, as accessible() reads one."""
        return self.call("held")["control"]

    def valuechanges(self, listen_ms=0):
        """The controls whose value change the program announced since the last call
        (the first call starts listening), in order, after listening listen_ms more."""
        return self.call("valuechanges %d" % listen_ms,
                         listen_ms / 1000 + DRIVER_REPLY_TIMEOUT)["controls"]

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
        end_process(self.process)
        self.process.stdout.close()
        if not self.process.stdin.closed:
            self.process.stdin.close()
        self._stderr.close()
