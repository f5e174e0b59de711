#!/usr/bin/env python3
"""Runs the end-to-end tests (e2e/test_*.py) against the Windows program under Wine.

    e2e/run_e2e.py [-k PATTERN ...] [--jobs N] [--arch win32|win64] [--exe PATH]
                   [--driver PATH] [--sim PATH] [--template PATH] [--print-arch] [--list]
    e2e/run_e2e.py --boot-template FOLDER [--arch win32|win64]

The Wine architecture is win32 where the machine runs 32-bit programs and win64 where it
does not; TOVAK_WINE_ARCH or --arch forces either. The builds come from build/<arch>/.

One template prefix is booted per run (--template uses one booted before by
--boot-template, which prints its path). With --jobs N above 1 N workers take the
tests one at a time, the longest known first, each with its own Xvfb, run folder and
per-test prefixes copied from that template. The tests spend most of their time
waiting for the program, so the default is two workers a core.

Prints each test with its result as it ends and the line "N passed, M failed"
(", K skipped" when some were); exits non-zero when any test failed. A failed test's
folder (its logs, the simulators' records, the program's output) is kept in
build/e2e-failures/<arch>/<test>/.
"""

import argparse
import os
import shutil
import sys
import time

E2E = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, E2E)

import harness  # noqa: E402
from runner import discovery, pool, results  # noqa: E402

JOBS_PER_CORE = 2
JOBS_VARIABLE = "TOVAK_E2E_JOBS"


def boot_template(args):
    """Boots a template prefix that stays, for runs started later (--template)."""
    run = harness.Run(arch=args.arch, tmp_root=args.boot_template, keep=True)
    try:
        run.start(builds=False)
        print(run.template, flush=True)
        return 0
    except harness.HarnessError as error:
        print("harness: %s" % error, file=sys.stderr, flush=True)
        return 1
    finally:
        run.stop()


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-k", dest="patterns", action="append", metavar="PATTERN",
                        help="run only tests whose id contains PATTERN (repeatable: any of them)")
    parser.add_argument("--jobs", "-j", type=int,
                        default=int(os.environ.get(JOBS_VARIABLE)
                                    or JOBS_PER_CORE * (os.cpu_count() or 1)),
                        help="tests run at once, each worker on its own display "
                             "(default: %s, else two a core: %%(default)s)" % JOBS_VARIABLE)
    parser.add_argument("--arch", choices=harness.WineArch.NAMES,
                        help="the Wine architecture (default: as the machine allows)")
    parser.add_argument("--print-arch", action="store_true",
                        help="print the architecture that would be used and exit")
    parser.add_argument("--list", action="store_true", help="list the tests chosen and exit")
    parser.add_argument("--exe", help="tovakrem.exe (default build/<arch>/tovakrem.exe)")
    parser.add_argument("--driver", help="tovakdrv.exe (default build/<arch>/tovakdrv.exe)")
    parser.add_argument("--sim", help="tovaksim (default build/native/tovaksim)")
    parser.add_argument("--template", help="a template prefix booted by --boot-template")
    parser.add_argument("--boot-template", metavar="FOLDER",
                        help="boot a template prefix in a new folder inside FOLDER, print its "
                             "path and exit (it stays until FOLDER is removed)")
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
    if args.boot_template:
        return boot_template(args)
    run = harness.Run(exe=args.exe, driver=args.driver, sim=args.sim, arch=args.arch,
                      template=args.worker or args.template, ahead=True)
    if args.worker:
        return pool.serve(run)

    tests = discovery.choose(discovery.discover(), args.patterns, args.arch.name)
    if args.list:
        for test in tests:
            print(test.id())
        return 0
    started = time.monotonic()
    shutil.rmtree(pool.FAILURES / args.arch.name, ignore_errors=True)
    tally = results.Tally()
    try:
        if tests:
            run.start()
            harness.set_run(run)
            print("Wine architecture %s: %s" % (args.arch.name, run.exe), flush=True)
            if run.template_seconds is not None:
                print("template prefix booted in %.1f s (run folder %s)"
                      % (run.template_seconds, run.folder), flush=True)
            else:
                print("template prefix %s (run folder %s)" % (run.template, run.folder),
                      flush=True)
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
