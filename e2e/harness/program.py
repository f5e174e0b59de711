"""tovakrem.exe under Wine."""

import subprocess

from .common import end_process
from .processes import resident_kb


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
        end_process(self.process)
