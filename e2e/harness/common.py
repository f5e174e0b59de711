"""What every part of the harness shares: where the repository is, the time limits,
the errors a test sees, waiting for a condition and ending a child process."""

import subprocess
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent.parent

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


def wait_for(predicate, timeout, interval=0.02):
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
    if not wait_for(predicate, timeout):
        raise AssertionError("%s: not within %s s" % (what() if callable(what) else what,
                                                     timeout))


def end_process(process, grace=3.0):
    """Ends one child by its PID: SIGTERM, then SIGKILL; always reaps it."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(grace)
