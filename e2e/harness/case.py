"""The run the tests share, and their base class: a test with its own world and a time
limit."""

import os
import signal
import unittest

from .common import DEFAULT_TEST_TIME_LIMIT, HarnessError
from .run import Run

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
    # A test that bounds the program's own timing sets this: the runner starts it only
    # when no other test runs, starts none beside it, and its worker makes no world
    # ahead meanwhile, so the bound holds for the program and not for a busy machine.
    quiet = False

    def setUp(self):
        run = current_run()  # booted once, outside every test's limit
        self.arm_time_limit()
        self.h = run.world(self.id(), quiet=self.quiet)
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
