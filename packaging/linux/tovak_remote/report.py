"""What the launcher tells the user about its network ports: each line on its output
and in its log (~/.local/share/tovak-remote/launcher.log, with the time), the link's
loss and return also as a desktop notification where notify-send (libnotify-bin) is
installed."""

import os
import shutil
import subprocess
import time

from .common import TITLE, say

LOG_LIMIT = 1 << 20  # bytes; a longer log is moved to launcher.log.1 at the start
NOTIFIER = "notify-send"
ICON = "tovak-remote"
NOTE_TIMEOUT = 15  # s; a notifier still running then (no desktop bus) is ended
CLOSE_WAIT = 1.0  # s the last notifications get to be shown when the program has ended


class Reporter:
    def __init__(self, log_path, echo=True):
        self.log_path = log_path
        self.echo = echo
        self.notifier = shutil.which(NOTIFIER)
        self.notes = []  # (process, started) of the notifiers still running
        try:
            if log_path.stat().st_size > LOG_LIMIT:
                os.replace(log_path, log_path.with_name(log_path.name + ".1"))
        except OSError:
            pass

    def say(self, text, note=None):
        """A line for the user: output and log; with note (a short title) also a
        desktop notification of the line."""
        if self.echo:
            say(text)
        self.log(text)
        if note:
            self.notify(note, text)

    def log(self, text):
        stamp = time.time()
        line = "%s.%03d %s\n" % (time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(stamp)),
                                 int(stamp * 1000) % 1000, text)
        try:
            with open(self.log_path, "a", encoding="utf-8", errors="replace") as log:
                log.write(line)
        except OSError:
            pass  # a full disk loses the log, not the link

    def notify(self, title, text):
        self._reap()
        if not self.notifier:
            return
        try:
            process = subprocess.Popen(
                [self.notifier, "--app-name=%s" % TITLE, "--icon=%s" % ICON,
                 "%s: %s" % (TITLE, title), text],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True)
        except OSError:
            return
        self.notes.append((process, time.monotonic()))

    def close(self):
        deadline = time.monotonic() + CLOSE_WAIT
        for process, _ in self.notes:
            try:
                process.wait(max(deadline - time.monotonic(), 0))
            except subprocess.TimeoutExpired:
                pass
        self._reap(everything=True)

    def _reap(self, everything=False):
        running = []
        for process, started in self.notes:
            if process.poll() is not None:
                continue
            if everything or time.monotonic() - started > NOTE_TIMEOUT:
                process.kill()
                process.wait()
                continue
            running.append((process, started))
        self.notes = running
