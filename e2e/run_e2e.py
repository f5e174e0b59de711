#!/usr/bin/env python3
"""Runs the end-to-end tests (e2e/test_*.py) against the Windows program under Wine.

    e2e/run_e2e.py [-k PATTERN ...] [--arch win32|win64] [--exe PATH] [--driver PATH]
                   [--sim PATH] [--print-arch]

The Wine architecture is win32 where the machine runs 32-bit programs and win64 where it
does not; TOVAK_WINE_ARCH or --arch forces either. The builds come from build/<arch>/.

Prints each test with its result and ends with the line "N passed, M failed"
(", K skipped" when some were); exits non-zero when any test failed.
"""

import argparse
import sys
import time
import unittest
from pathlib import Path

E2E = Path(__file__).resolve().parent
sys.path.insert(0, str(E2E))

import harness  # noqa: E402


class LineResult(unittest.TestResult):
    """One line a test: its name, its verdict and how long it took; then the details
    of what failed, sub-tests included."""

    def __init__(self, stream):
        super().__init__()
        self.stream = stream
        self.counts = {"passed": 0, "failed": 0, "skipped": 0}
        self._started = 0.0
        self._verdict = None
        self._details = []

    def startTest(self, test):
        super().startTest(test)
        self._started = time.monotonic()
        self._verdict = None
        self._details = []
        self.stream.write("%s ... " % test.id())
        self.stream.flush()

    def stopTest(self, test):
        super().stopTest(test)
        verdict = self._verdict or "ok"
        count = {"ok": "passed", "skipped": "skipped"}.get(verdict.split(":")[0], "failed")
        self.counts[count] += 1
        self.stream.write("%s (%.1f s)\n" % (verdict, time.monotonic() - self._started))
        for detail in self._details:
            self.stream.write(detail.rstrip() + "\n")
        self.stream.flush()

    def _fail(self, verdict, test, err):
        # An error outranks a failure, a failure outranks success.
        if self._verdict != "ERROR":
            self._verdict = verdict
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
        self._verdict = "skipped: %s" % reason

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self._verdict = "FAIL (unexpected success)"


def flatten(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from flatten(item)
        else:
            yield item


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-k", dest="patterns", action="append", metavar="PATTERN",
                        help="run only tests whose id contains PATTERN (repeatable: any of them)")
    parser.add_argument("--arch", choices=harness.WineArch.NAMES,
                        help="the Wine architecture (default: as the machine allows)")
    parser.add_argument("--print-arch", action="store_true",
                        help="print the architecture that would be used and exit")
    parser.add_argument("--exe", help="tovakrem.exe (default build/<arch>/tovakrem.exe)")
    parser.add_argument("--driver", help="tovakdrv.exe (default build/<arch>/tovakdrv.exe)")
    parser.add_argument("--sim", help="tovaksim (default build/native/tovaksim)")
    args = parser.parse_args()
    try:
        arch = harness.WineArch(args.arch) if args.arch else harness.WineArch.choose()
    except harness.HarnessError as error:
        parser.error(str(error))
    if args.print_arch:
        print(arch.name)
        return 0

    loader = unittest.TestLoader()
    tests = list(flatten(loader.discover(str(E2E), pattern="test_*.py", top_level_dir=str(E2E))))
    if args.patterns:
        tests = [test for test in tests
                 if any(pattern.lower() in test.id().lower() for pattern in args.patterns)]

    run_started = time.monotonic()
    run = harness.Run(exe=args.exe, driver=args.driver, sim=args.sim, arch=arch)
    result = LineResult(sys.stdout)
    try:
        if tests:
            run.start()
            harness.set_run(run)
            print("Wine architecture %s: %s" % (arch.name, run.exe), flush=True)
            print("template prefix booted in %.1f s (display :%d, run folder %s)"
                  % (run.template_seconds, run.display, run.folder), flush=True)
        for test in tests:
            test(result)
    except harness.HarnessError as error:
        print("harness: %s" % error, flush=True)
        result.counts["failed"] += len(tests) - result.testsRun
    finally:
        run.stop()

    if run.overheads:
        setups, closes = zip(*run.overheads)
        print("per test: setup %.1f s, teardown %.1f s on average"
              % (sum(setups) / len(setups), sum(closes) / len(closes)))
    print("total %.1f s" % (time.monotonic() - run_started))
    summary = "%(passed)d passed, %(failed)d failed" % result.counts
    if result.counts["skipped"]:
        summary += ", %(skipped)d skipped" % result.counts
    print(summary)
    return 1 if result.counts["failed"] or not tests else 0


if __name__ == "__main__":
    sys.exit(main())
