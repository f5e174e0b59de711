"""Running the tests: here, one after the other, or in worker processes that take them
one at a time.

A worker is this runner started again with --worker TEMPLATE: its own Run (run folder,
Xvfb) on the template the parent booted. It says "ready", then for each test id it
reads on stdin runs that test and answers one JSON line; at the end of its stdin it
stops its run and sends its overheads. Its stdout is kept for those lines alone: what
tests and the programs they start print goes to the worker's log.
"""

import json
import math
import os
import select
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import harness

from . import discovery, results
from .results import LineResult

RUNNER = Path(__file__).resolve().parent.parent / "run_e2e.py"
FAILURES = harness.REPO / "build" / "e2e-failures"
# A worker that says nothing for this long past its test's own time limit is stuck
# outside that limit (in a tear-down): it is ended and its test counted failed.
WATCHDOG_GRACE = 120
WORKER_START_TIMEOUT = 60
WORKER_STOP_TIMEOUT = 60
LOG_TAIL_LINES = 20


def run_one(test):
    result = LineResult()
    test(result)
    if results.count_of(result.verdict) == "failed":
        kept = keep_folder(test)
        if kept:
            result.text += "the test's folder (logs, records, program output): %s\n" % kept
    return result


def keep_folder(test):
    """A failed test's folder, without its prefix, copied where it outlives the run."""
    world = getattr(test, "h", None)
    folder = getattr(world, "folder", None) or getattr(test, "folder", None)
    if folder is None or not Path(folder).is_dir():
        return None
    target = FAILURES / harness.current_run().arch.name / test.id()
    shutil.rmtree(target, ignore_errors=True)
    try:
        shutil.copytree(folder, target, symlinks=True, ignore_dangling_symlinks=True,
                        ignore=shutil.ignore_patterns("prefix", "root", "home", "*.sock"))
    except (OSError, shutil.Error):
        pass  # what could be copied is there
    return target


def run_here(run, tests, tally):
    for test in tests:
        result = run_one(test)
        tally.add(test.id(), result.verdict, result.seconds, result.text)
    tally.overheads += run.overheads


# -- the worker's side ------------------------------------------------------------------


def serve(run):
    protocol = os.fdopen(os.dup(sys.stdout.fileno()), "w")  # not inherited by children
    os.dup2(sys.stderr.fileno(), sys.stdout.fileno())

    def say(message):
        protocol.write(json.dumps(message) + "\n")
        protocol.flush()

    tests = {test.id(): test for test in discovery.discover()}
    try:
        run.start()
    except harness.HarnessError as error:
        say({"error": str(error)})
        run.stop()
        return 1
    harness.set_run(run)
    try:
        say({"ready": run.display, "folder": str(run.folder)})
        for line in sys.stdin:
            test_id = line.strip()
            if test_id not in tests:
                say({"id": test_id, "verdict": "ERROR", "seconds": 0.0,
                     "text": "%s ... ERROR: no such test here\n" % test_id})
                continue
            result = run_one(tests[test_id])
            say({"id": test_id, "verdict": result.verdict, "seconds": result.seconds,
                 "text": result.text})
    finally:
        run.stop()
    say({"overheads": run.overheads})
    return 0


# -- the parent's side ------------------------------------------------------------------


class Worker:
    def __init__(self, number, run, args):
        self.number = number
        self.log_path = Path(run.folder) / ("worker%d.log" % number)
        command = [sys.executable, str(RUNNER), "--worker", str(run.template),
                   "--arch", run.arch.name, "--exe", str(run.exe), "--driver", str(run.driver),
                   "--sim", str(run.sim)]
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(command, stdin=subprocess.PIPE,
                                            stdout=subprocess.PIPE, stderr=log)
        self.buffer = b""
        self.test = None  # the test it runs now
        self.deadline = time.monotonic() + WORKER_START_TIMEOUT
        self.ready = False
        self.stopping = False  # told there are no more tests
        self.finished = False

    def fileno(self):
        return self.process.stdout.fileno()

    def give(self, test):
        self.test = test
        self.deadline = time.monotonic() + test.time_limit + WATCHDOG_GRACE
        self.process.stdin.write((test.id() + "\n").encode())
        self.process.stdin.flush()

    def wait(self):
        """Idle until a quiet test has ended, or until one may start."""
        self.test = None
        self.deadline = math.inf

    def no_more(self):
        self.test = None
        self.stopping = True
        self.deadline = time.monotonic() + WORKER_STOP_TIMEOUT
        self.process.stdin.close()

    @property
    def idle(self):
        return self.ready and self.test is None and not self.stopping and not self.finished

    def messages(self):
        """The whole lines that have arrived, parsed; None once the worker has closed
        its end."""
        chunk = os.read(self.fileno(), 65536)
        if not chunk:
            return None
        self.buffer += chunk
        *lines, self.buffer = self.buffer.split(b"\n")
        return [json.loads(line) for line in lines if line.strip()]

    def log_tail(self):
        try:
            lines = self.log_path.read_text(errors="replace").splitlines()
        except OSError:
            return ""
        return "\n".join(lines[-LOG_TAIL_LINES:])

    def end(self):
        """Ends the worker: an interrupt first, so it stops its run and what it started."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(WORKER_STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for stream in (self.process.stdin, self.process.stdout):
            if not stream.closed:
                stream.close()


def run_in_workers(run, args, tests, jobs, tally):
    queue = list(tests)
    workers = [Worker(number, run, args) for number in range(1, jobs + 1)]
    live = list(workers)
    try:
        while live:
            now = time.monotonic()
            deadline = min(worker.deadline for worker in live)
            timeout = None if deadline == math.inf else max(0.0, deadline - now)
            ready = select.select(live, [], [], timeout)[0]
            for worker in live:
                if worker not in ready and time.monotonic() >= worker.deadline:
                    _lost(worker, tally, "gave no answer in time")
            for worker in ready:
                messages = worker.messages()
                if messages is None:
                    if not worker.finished:
                        _lost(worker, tally, "ended (exit %s)" % worker.process.wait())
                    worker.finished = True
                    continue
                for message in messages:
                    _take(worker, message, tally)
            live = [worker for worker in live if not worker.finished]
            _dispatch(live, queue)
    finally:
        for worker in workers:
            worker.end()
    tally.fail_rest(len(tests))


def _take(worker, message, tally):
    if "error" in message:
        print("worker %d: %s" % (worker.number, message["error"]), flush=True)
        worker.finished = True
        return
    if "overheads" in message:
        tally.overheads += [tuple(pair) for pair in message["overheads"]]
        worker.finished = True
        return
    if "ready" in message:
        worker.ready = True
        print("worker %d: display :%s, run folder %s"
              % (worker.number, message["ready"], message["folder"]), flush=True)
    else:
        tally.add(message["id"], message["verdict"], message["seconds"], message["text"])
    worker.wait()


def _dispatch(live, queue):
    """Gives the idle workers the next tests. A quiet test starts once every worker is
    up and idle, and no test starts while it runs."""
    for worker in live:
        if not worker.idle:
            continue
        if not queue:
            worker.no_more()
            continue
        busy = [other.test for other in live if other.test is not None]
        if discovery.is_quiet(queue[0]):
            if busy or not all(other.ready or other.finished for other in live):
                return
        elif any(discovery.is_quiet(test) for test in busy):
            return
        worker.give(queue.pop(0))


def _lost(worker, tally, what):
    """A worker that died or hung: its test fails, with the end of its log."""
    if worker.test is not None:
        tally.add(worker.test.id(), "ERROR", 0.0,
                  "%s ... ERROR: worker %d %s; the end of its log:\n%s\n"
                  % (worker.test.id(), worker.number, what, worker.log_tail()))
    else:
        print("worker %d %s; the end of its log:\n%s" % (worker.number, what,
                                                        worker.log_tail()), flush=True)
    worker.test = None
    worker.finished = True
    worker.end()
