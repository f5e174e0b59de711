#!/usr/bin/env python3
"""Runs the end-to-end tests (e2e/test_*.py) against the Windows program under Wine.

    e2e/run_e2e.py [-k PATTERN ...] [--jobs N] [--arch win32|win64] [--exe PATH]
                   [--driver PATH] [--sim PATH] [--print-arch] [--list]

The Wine architecture is win32 where the machine runs 32-bit programs and win64 where it
does not; TOVAK_WINE_ARCH or --arch forces either. The builds come from build/<arch>/.

One template prefix is booted per run. With --jobs N above 1 (the default is the
machine's core count) N workers take the tests one at a time, the longest known first,
each with its own Xvfb, run folder and per-test prefixes copied from that template.

Prints each test with its result as it ends and the line "N passed, M failed"
(", K skipped" when some were); exits non-zero when any test failed.
"""

import argparse
import os
import sys
import time

E2E = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, E2E)

import harness  # noqa: E402
from runner import discovery, pool, results  # noqa: E402


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-k", dest="patterns", action="append", metavar="PATTERN",
                        help="run only tests whose id contains PATTERN (repeatable: any of them)")
    parser.add_argument("--jobs", "-j", type=int, default=os.cpu_count() or 1,
                        help="tests run at once, each worker on its own display "
                             "(default: the core count, %(default)s)")
    parser.add_argument("--arch", choices=harness.WineArch.NAMES,
                        help="the Wine architecture (default: as the machine allows)")
    parser.add_argument("--print-arch", action="store_true",
                        help="print the architecture that would be used and exit")
    parser.add_argument("--list", action="store_true", help="list the tests chosen and exit")
    parser.add_argument("--exe", help="tovakrem.exe (default build/<arch>/tovakrem.exe)")
    parser.add_argument("--driver", help="tovakdrv.exe (default build/<arch>/tovakdrv.exe)")
    parser.add_argument("--sim", help="tovaksim (default build/native/tovaksim)")
    parser.add_argument("--worker", metavar="TEMPLATE", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.jobs < 1:
        parser.error("--jobs must be at least 1")
    try:
        args.arch = harness.WineArch(args.arch) if args.arch else harness.WineArch.choose()
    except harness.HarnessError as error:
        parser.error(str(error))
    return args


def main():
    args = parse_args()
    if args.print_arch:
        print(args.arch.name)
        return 0
    run = harness.Run(exe=args.exe, driver=args.driver, sim=args.sim, arch=args.arch,
                      template=args.worker)
    if args.worker:
        return pool.serve(run)

    tests = discovery.choose(discovery.discover(), args.patterns, args.arch.name)
    if args.list:
        for test in tests:
            print(test.id())
        return 0
    started = time.monotonic()
    tally = results.Tally()
    try:
        if tests:
            run.start()
            harness.set_run(run)
            print("Wine architecture %s: %s" % (args.arch.name, run.exe), flush=True)
            print("template prefix booted in %.1f s (run folder %s)"
                  % (run.template_seconds, run.folder), flush=True)
            jobs = min(args.jobs, len(tests))
            if jobs == 1:
                pool.run_here(run, tests, tally)
            else:
                pool.run_in_workers(run, args, tests, jobs, tally)
    except harness.HarnessError as error:
        print("harness: %s" % error, flush=True)
        tally.fail_rest(len(tests))
    finally:
        run.stop()
    tally.report(time.monotonic() - started)
    if tests:
        discovery.remember_durations(args.arch.name, tally.durations)
    return 1 if tally.counts["failed"] or not tests else 0


if __name__ == "__main__":
    sys.exit(main())
