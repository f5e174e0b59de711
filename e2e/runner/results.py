"""The verdicts: one line a test (its name, verdict and time, then what failed), and
the tally of a whole run."""

import io
import time
import unittest


class LineResult(unittest.TestResult):
    """The result of one test as text: its name, its verdict and how long it took;
    then the details of what failed, sub-tests included."""

    def __init__(self):
        super().__init__()
        self.text = ""
        self.verdict = None
        self.seconds = 0.0
        self._started = 0.0
        self._details = []

    def startTest(self, test):
        super().startTest(test)
        self._started = time.monotonic()
        self.verdict = None
        self._details = []

    def stopTest(self, test):
        super().stopTest(test)
        self.seconds = time.monotonic() - self._started
        self.verdict = self.verdict or "ok"
        out = io.StringIO()
        out.write("%s ... %s (%.1f s)\n" % (test.id(), self.verdict, self.seconds))
        for detail in self._details:
            out.write(detail.rstrip() + "\n")
        self.text = out.getvalue()

    def _fail(self, verdict, test, err):
        # An error outranks a failure, a failure outranks success.
        if self.verdict != "ERROR":
            self.verdict = verdict
        self._details.append("%s\n%s" % (test, self._exc_info_to_string(err, test)))

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._fail("FAIL", test, err)

    def addError(self, test, err):
        super().addError(test, err)
        self._fail("ERROR", test, err)

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self._fail("ERROR" if not issubclass(err[0], test.failureException) else "FAIL",
                       subtest, err)

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.verdict = "skipped: %s" % reason

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.verdict = "FAIL (unexpected success)"


def count_of(verdict):
    return {"ok": "passed", "skipped": "skipped"}.get(verdict.split(":")[0], "failed")


class Tally:
    """What a run's tests gave: counts, each test's time, and the set-up and
    tear-down overheads of every test's world."""

    def __init__(self):
        self.counts = {"passed": 0, "failed": 0, "skipped": 0}
        self.durations = {}
        self.overheads = []

    def add(self, test_id, verdict, seconds, text, prefix=""):
        self.counts[count_of(verdict)] += 1
        if count_of(verdict) == "passed":
            self.durations[test_id] = round(seconds, 1)
        print(prefix + text, end="", flush=True)

    def fail_rest(self, total):
        """Counts every test that gave no verdict as failed."""
        done = sum(self.counts.values())
        self.counts["failed"] += max(0, total - done)

    def report(self, seconds):
        if self.overheads:
            setups, closes = zip(*self.overheads)
            print("per test: setup %.1f s, teardown %.1f s on average"
                  % (sum(setups) / len(setups), sum(closes) / len(closes)))
        print("total %.1f s" % seconds)
        summary = "%(passed)d passed, %(failed)d failed" % self.counts
        if self.counts["skipped"]:
            summary += ", %(skipped)d skipped" % self.counts
        print(summary, flush=True)
