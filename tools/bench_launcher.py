"""Measures the Debian package's launcher as a user meets it: the time from running
tovak-remote to the main window on the screen, at the first start (which makes the
Wine prefix) and at later starts (which reuse it, the previous start's Wine server
gone), on each architecture this machine runs. The package is unpacked into a
temporary folder, nothing is installed; COM1 leads to the controller model.

    tools/bench_launcher.sh [--starts N]

The window is "on the screen" when the UI driver, started in the prefix once the
program runs, finds it. Run through tools/bench_launcher.sh, which builds what this
needs first.
"""

import argparse
import statistics
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "e2e"))

from harness import InstalledPackage, Run, Simulator, WineArch  # noqa: E402
from test_linux_package import ADAPTER, default_deb  # noqa: E402

DEFAULT_STARTS = 5


def measure(arch, deb, starts):
    """(first start s, [later starts s]) on one architecture."""
    run = Run(arch=arch)
    run.start(template=False)
    package = sim = None
    try:
        folder = run.new_test_folder("bench-" + arch.name)
        package = InstalledPackage(run, deb, folder)
        sim = Simulator(run.sim, folder, "COM1", model={})
        package.plug(ADAPTER, sim.link)
        times = []
        for _ in range(starts + 1):
            launcher, seconds, ui = package.start_program()
            times.append(seconds)
            ui.close()
            if launcher.wait(30) != 0:
                raise SystemExit("tovak-remote failed: %s" % (package.output(launcher),))
            package.end_ui()
            package.server_gone()
        return times[0], times[1:]
    finally:
        if package is not None:
            package.close()
        if sim is not None:
            sim.stop()
        run.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--starts", type=int, default=DEFAULT_STARTS,
                        help="later starts to measure (default %d)" % DEFAULT_STARTS)
    args = parser.parse_args()
    deb = default_deb()
    names = ["win32", "win64"] if WineArch.runs_32_bit() else ["win64"]
    for name in names:
        first, later = measure(WineArch(name), deb, args.starts)
        print("%s: first start %.1f s (makes the prefix); later starts median %.2f s, "
              "max %.2f s over %d" % (name, first, statistics.median(later), max(later),
                                      len(later)), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
