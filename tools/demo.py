"""The demo: tovakrem.exe under Wine, its COM1 wired to the controller model of the
simulator, or with --port to a real serial device (the controller itself), or with
--replay to the simulator playing back a debug log's reads.

    tools/demo.sh [--port DEVICE | --replay LOG]

With a DISPLAY the program opens there and the demo ends when its window is
closed. Without one it runs on a private Xvfb, waits until the controller's
status is on the panel (with --replay: until the log has been played back), saves
a screenshot of the main window as a PNG, prints the PNG's path and closes the
program.
"""

import argparse
import errno
import os
import re
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "e2e"))

from harness import Harness, HarnessError, Run  # noqa: E402

DISPLAY_PANEL = 1017
REPLAY_SETTLE_S = 1.0  # the last read on the panel and its images painted
SCREENSHOT = REPO / "build" / "demo" / "tovakrem-main-window.png"


def display_number():
    match = re.fullmatch(r":(\d+)(\.\d+)?", os.environ.get("DISPLAY", ""))
    return int(match.group(1)) if match else None


def wait_for_status(harness, timeout=15.0):
    """Until the panel shows the controller's status on both lines (or timeout)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        lines = harness.ui.text(DISPLAY_PANEL)["text"].replace("\r\n", "\r").split("\r")
        if len(lines) == 2 and lines[0].strip() and lines[1].strip() \
                and not lines[0].strip().startswith("Connecting"):
            time.sleep(0.5)  # the images and the text are painted a moment later
            return
        time.sleep(0.1)


def wait_for_replay(sim):
    """Until the simulator has played the whole log back, or has stopped."""
    while sim.process.poll() is None:
        if any(kind == "replay" and detail.startswith("done")
               for _, kind, detail in sim.events()):
            time.sleep(REPLAY_SETTLE_S)
            return
        time.sleep(0.2)


def check_device(path):
    """A clear one-line refusal for a device that is missing or cannot be opened."""
    try:
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    except OSError as error:
        reason = os.strerror(error.errno) if error.errno else str(error)
        hint = " (is your user in the 'dialout' group?)" if error.errno == errno.EACCES else ""
        sys.exit("demo: cannot open %s: %s%s" % (path, reason, hint))
    os.close(fd)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", metavar="DEVICE",
                        help="a serial device with the real controller, e.g. /dev/ttyUSB0, "
                             "instead of the simulator")
    parser.add_argument("--replay", metavar="LOG",
                        help="a debug log (tovakrem.log) whose reads the simulator plays back "
                             "to the program, with the log's pacing")
    args = parser.parse_args()
    if args.port and args.replay:
        parser.error("--port and --replay exclude each other")
    if args.port:
        check_device(args.port)
    if args.replay and not os.path.isfile(args.replay):
        sys.exit("demo: no such log: %s" % args.replay)
    display = display_number()
    run = Run(display=display)
    try:
        print("Preparing a private Wine prefix (about 15 s)...", flush=True)
        run.start()
        harness = Harness(run, "demo")
        if args.port:
            # COM1 of the prefix leads to the device itself.
            link = harness.port_link(1)
            link.rmdir()
            link.symlink_to(os.path.realpath(args.port))
            wired = args.port
        elif args.replay:
            try:
                sim = harness.simulator("COM1", replay=os.path.abspath(args.replay))
            except HarnessError as error:
                sys.exit("demo: %s" % error)
            wired = "the simulator replaying %s" % args.replay
        else:
            harness.simulator("COM1", model={})
            wired = "the controller simulator"
        program = harness.start()
        harness.ui.find(30000)
        print("Tovak Remote runs (process %d), COM1 wired to %s." % (program.pid, wired),
              flush=True)
        if display is not None:
            print("Close its window to end the demo.", flush=True)
            code = program.process.wait()
        else:
            SCREENSHOT.parent.mkdir(parents=True, exist_ok=True)
            if args.replay:
                wait_for_replay(sim)
            else:
                wait_for_status(harness)
            harness.screenshot(SCREENSHOT)
            harness.ui.close()
            code = program.wait_exit(30)
            print("Screenshot of the main window: %s" % SCREENSHOT)
        harness.close()
        return 0 if code == 0 else 1
    finally:
        run.stop()


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("Demo ended.")
        sys.exit(130)
