"""The demo: tovakrem.exe under Wine, its COM1 wired to the controller simulator.

With a DISPLAY the program opens there and the demo ends when its window is
closed. Without one it runs on a private Xvfb, saves a screenshot of the main
window as a PNG, prints the PNG's path and closes the program.
"""

import os
import re
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "e2e"))

from harness import Harness, Run  # noqa: E402

DISPLAY_PANEL = 1017
SCREENSHOT = REPO / "build" / "demo" / "tovakrem-main-window.png"


def display_number():
    match = re.fullmatch(r":(\d+)(\.\d+)?", os.environ.get("DISPLAY", ""))
    return int(match.group(1)) if match else None


def wait_for_display_text(harness, timeout=5.0):
    # The display panel's text is painted a moment after the window appears.
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if (255, 255, 255) in harness.grab_control(DISPLAY_PANEL).colours():
            return
        time.sleep(0.1)


def main():
    display = display_number()
    run = Run(display=display)
    try:
        print("Preparing a private Wine prefix (about 15 s)...", flush=True)
        run.start()
        harness = Harness(run, "demo")
        harness.simulator("COM1")
        program = harness.start()
        harness.ui.find(30000)
        print("Tovak Remote runs (process %d), COM1 wired to the controller simulator."
              % program.pid, flush=True)
        if display is not None:
            print("Close its window to end the demo.", flush=True)
            code = program.process.wait()
        else:
            SCREENSHOT.parent.mkdir(parents=True, exist_ok=True)
            wait_for_display_text(harness)
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
