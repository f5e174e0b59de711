"""The Debian package as a user meets it: unpacked into a temporary root (nothing is
installed on the machine), its launcher run with a HOME of its own against the
controller model on the run's display.

The first start makes the user's Wine prefix and maps COM1 to the one adapter plugged
in; a second start while the program runs says "already running" in one line; the port
picked from the Port menu and keep-alive are there at the next start, which boots no
prefix; --ports and --log tell the truth; a missing device, and everything else the
launcher refuses, is one line.

The package is build/dist/tovak-remote_<version>_amd64.deb (`cmake --build --preset deb
--target package`; TOVAK_E2E_DEB names another). Without one the tests are skipped,
unless TOVAK_E2E_REQUIRE_INSTALLER=1.
"""

import os
import signal
import subprocess
import unittest
from pathlib import Path

from harness import InstalledPackage, Simulator, WineTestCase, current_run, wait_until
from test_install import REQUIRE_VARIABLE, project_version

DEB_VARIABLE = "TOVAK_E2E_DEB"
DISPLAY_PANEL = 1017
PORT_MENU_FIRST_ID = 1073  # COM1; COM3 is 1075
KEEPALIVE_ON_ID = 1089
KEEPALIVE_OFF_ID = 1090
CAPTION = "Tovak Remote [%s]"
KEEPALIVE_ON = "120000"  # what Enabled writes, in ms
ADAPTER = "usb-Tovak_Controller_0042-if00-port0"
START_TIMEOUT_MS = 30000
BOOT_TIMEOUT = 180
EXIT_TIMEOUT = 20
REFUSAL_TIMEOUT = 10
# Generous for a loaded machine; the figure itself comes from tools/bench_launcher.sh.
SECOND_START_LIMIT = 10.0
EXIT_RUNNING = 1
EXIT_REFUSED = 2


def default_deb():
    return (Path(__file__).resolve().parent.parent / "build" / "dist"
            / ("tovak-remote_%s_amd64.deb" % project_version()))


def one_line(text):
    """The single line of a refusal; fails on anything but exactly one line."""
    lines = text.splitlines()
    if len(lines) != 1:
        raise AssertionError("not one line: %r" % text)
    return lines[0]


class PackageTestCase(WineTestCase):
    time_limit = 300

    def setUp(self):
        forced = os.environ.get(DEB_VARIABLE)
        deb = Path(forced) if forced else default_deb()
        if not deb.is_file():
            if forced or os.environ.get(REQUIRE_VARIABLE) == "1":
                self.fail("no Debian package: %s" % deb)
            self.skipTest("no Debian package built: %s" % deb)
        self.run_ = current_run()
        self.arm_time_limit()
        self.folder = self.run_.new_test_folder(self.id())
        self.simulators = []
        self.addCleanup(self._stop_simulators)  # after the package's server has gone
        self.package = InstalledPackage(self.run_, deb, self.folder)
        self.addCleanup(self.package.close)

    def _stop_simulators(self):
        for sim in self.simulators:
            sim.stop()

    def simulator(self, port, **model):
        sim = Simulator(self.run_.sim, self.folder, port, model=model)
        self.simulators.append(sim)
        return sim

    def settings(self):
        """{KEY: value} of the program's settings file, found where --log says it is."""
        code, out, _ = self.package.call("--log")
        self.assertEqual(code, 0)
        path = Path(next(line.strip() for line in out.splitlines()
                         if line.strip().endswith("tovakrem.ini")))
        self.assertTrue(path.is_relative_to(self.package.prefix), path)
        values = {}
        for line in path.read_text(encoding="latin-1").splitlines():
            if "=" in line:
                key, value = line.split("=", 1)
                values[key.strip().upper()] = value.strip()
        return path, values

    def wait_exit(self, launcher, timeout=EXIT_TIMEOUT):
        try:
            return launcher.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("tovak-remote did not end within %s s: %s"
                                 % (timeout, self.package.output(launcher))) from None


class LinuxPackageTest(PackageTestCase):
    expected_seconds = 40.0  # three starts, the first making the prefix

    def start_and_find(self, *args):
        launcher, seconds, self.ui = self.package.start_program(
            *args, timeout=BOOT_TIMEOUT, find_timeout_ms=START_TIMEOUT_MS)
        return launcher, seconds

    def caption(self):
        return self.ui.window()["caption"]

    def close(self, launcher):
        self.ui.close()
        self.assertEqual(self.wait_exit(launcher), 0, self.package.output(launcher))
        self.package.end_ui()

    def test_first_start_then_a_start_that_keeps_port_keepalive_and_log(self):
        package = self.package
        com1 = self.simulator("COM1")
        com3 = self.simulator("COM3", band="40m")
        adapter = package.plug(ADAPTER, com1.link)

        # The first start: the prefix is made once, COM1 leads to the one adapter.
        first, first_seconds = self.start_and_find()
        self.assertIn("20m", self.ui.waittext(DISPLAY_PANEL, "MHz")["text"])
        self.assertEqual(self.caption(), CAPTION % "COM1")
        out, err = package.output(first)
        self.assertIn("COM1 leads to %s, the one serial device present" % adapter, out)
        self.assertRegex(out, r"making the Wine prefix in %s.*\n.*Wine prefix made in [0-9.]+ s"
                         % package.prefix)
        self.assertEqual(err, "")
        self.assertIn("COM1=%s\n" % adapter, package.ports_file.read_text())
        # COM1 leads to the adapter by its name; every other port to the empty folder,
        # never to a real /dev/ttyS*; the mount manager kept it so.
        links = {port: os.readlink(package.prefix / "dosdevices" / ("com%d" % port))
                 for port in range(1, 17)}
        self.assertEqual(links, {**{port: str(package.app / "no-port") for port in range(2, 17)},
                                 1: str(adapter)})

        # A second start while it runs gives way in one line; its mapping is kept.
        code, out, err = package.call("--port", "COM3=%s" % com3.link, timeout=REFUSAL_TIMEOUT)
        self.assertEqual((code, out), (EXIT_RUNNING, ""))
        self.assertIn("already running", one_line(err))
        self.assertIn("COM3=%s\n" % com3.link, package.ports_file.read_text())
        self.close(first)
        self.assertEqual({key: value for key, value in self.settings()[1].items()
                          if key in ("COMPORT", "KEEPALIVE")},
                         {"COMPORT": "COM1", "KEEPALIVE": "0"})

        # The next start maps COM3 (changed while the program ran); the port picked from
        # the menu and keep-alive switched on are written when the program closes.
        second, _ = self.start_and_find()
        self.ui.command(PORT_MENU_FIRST_ID + 2)
        wait_until(lambda: self.caption() == CAPTION % "COM3", 5, "caption [COM3]")
        self.ui.command(KEEPALIVE_ON_ID)
        com3.wait_received(b"SR;")
        self.close(second)
        path, settings = self.settings()
        self.assertEqual((settings.get("COMPORT"), settings.get("KEEPALIVE")),
                         ("COM3", KEEPALIVE_ON))
        path.write_text(path.read_text(encoding="latin-1") + "DEBUG=1\r\n", encoding="latin-1")

        # A start with nothing to change boots no prefix and is the faster one; the
        # program opens COM3 with keep-alive on, and writes the log --log names.
        package.server_gone()
        third, third_seconds = self.start_and_find()
        ui = self.ui
        self.assertIn("40m", ui.waittext(DISPLAY_PANEL, "MHz")["text"])
        self.assertEqual(self.caption(), CAPTION % "COM3")
        self.assertEqual([ui.menustate(item)["checked"]
                          for item in (KEEPALIVE_ON_ID, KEEPALIVE_OFF_ID)], [True, False])
        self.assertEqual(package.output(third), ("", ""))
        self.assertLess(third_seconds, first_seconds)
        self.assertLess(third_seconds, SECOND_START_LIMIT)
        print("[first start %.1f s, second %.1f s] " % (first_seconds, third_seconds),
              end="", flush=True)

        code, out, _ = package.call("--ports")
        self.assertEqual(code, 0)
        self.assertIn("COM1  %s -> %s" % (adapter, os.path.realpath(adapter)), out)
        self.assertIn("COM3  %s -> %s" % (com3.link, com3.slave), out)
        self.assertIn("  %s -> %s" % (adapter, com1.slave), out)
        code, out, _ = package.call("--log")
        log = Path(out.split()[2])
        self.assertIn("(now DEBUG=1)", out)
        self.assertIn("[I]MainWnd Create", log.read_text(encoding="latin-1"))

        # A launcher that was killed leaves the program running: the next start finds
        # the lock free, and the program itself gives way (exit code 1).
        os.kill(third.pid, signal.SIGKILL)
        third.wait()
        code, out, err = package.call(timeout=REFUSAL_TIMEOUT + 20)
        self.assertEqual(code, EXIT_RUNNING, (out, err))
        self.assertIn("already running", one_line(err))
        ui.close()
        package.end_ui()
        package.server_gone()

        # The adapter of the port the program opens is gone: one line, no program.
        com3.stop()
        com3.link.rmdir()
        code, out, err = package.call(timeout=REFUSAL_TIMEOUT)
        self.assertEqual(code, EXIT_REFUSED)
        self.assertIn("COM3, the port Tovak Remote opens, leads to %s, which is not there"
                      % com3.link, one_line(err))

        # Nothing but the launcher's own folders in the user's home.
        self.assertEqual(sorted(str(p.relative_to(package.home))
                                for p in package.home.glob("*/*")),
                         [".config/tovak-remote", ".local/share"])
        self.assertEqual(os.listdir(package.home / ".local" / "share"), ["tovak-remote"])


class LauncherRefusalTest(PackageTestCase):
    """What the launcher refuses before any Wine runs, and what it lists: each refusal
    is one line, exit code 2, and leaves the user's files as they were."""

    def test_refusals_are_one_line_and_listings_tell_the_truth(self):
        package = self.package
        not_a_device = self.folder / "notes.txt"
        not_a_device.write_text("")
        empty = self.folder / "no-wine"
        empty.mkdir()
        missing = self.folder / "unplugged"
        # A machine whose kernel refuses the 32-bit loader, without the 64-bit Wine.
        no_32_bit = self.folder / "no-32-bit"
        no_32_bit.mkdir()
        (no_32_bit / "wine").write_text("#!/bin/sh\nexit 126\n")
        (no_32_bit / "wine").chmod(0o755)
        cases = [
            # (what, arguments, environment changes, words of the one line)
            ("missing device", ["--port", "COM1=%s" % missing], {}, "is not there"),
            ("not a device", ["--port", "COM2=%s" % not_a_device], {},
             "is not a serial device"),
            ("port out of range", ["--port", "COM17=/dev/null"], {}, "n from 1 to 16"),
            ("two actions", ["--ports", "--log"], {}, "one at a time"),
            ("no display", [], {"DISPLAY": None}, "no DISPLAY"),
            ("no Wine", [], {"TOVAK_REMOTE_WINE": empty},
             "Wine is not installed: sudo apt install wine wine64"),
            ("no 32-bit programs, no 64-bit Wine", [],
             {"TOVAK_REMOTE_WINE": no_32_bit, "TOVAK_WINE_ARCH": None},
             "the 64-bit Wine is not installed: sudo apt install wine64"),
            ("unknown architecture", [], {"TOVAK_WINE_ARCH": "win16"},
             "TOVAK_WINE_ARCH must be win32 or win64"),
            ("no home", [], {"HOME": None}, "HOME is not set"),
        ]
        for what, args, env, words in cases:
            with self.subTest(what):
                code, out, err = package.call(*args, timeout=REFUSAL_TIMEOUT, **env)
                self.assertEqual((code, out), (EXIT_REFUSED, ""), err)
                self.assertIn(words, one_line(err))
                self.assertFalse(package.app.exists())
                self.assertFalse(package.ports_file.exists())

        with self.subTest("listings"):
            package.plug(ADAPTER, "/dev/null")
            package.ports_file.parent.mkdir(parents=True)
            package.ports_file.write_text("COM2=/dev/null\nCOM2 /dev/ttyUSB9\n")
            code, out, err = package.call("--ports")
            self.assertEqual(code, 0)
            self.assertIn("line 2: not COMn=/device, left out", one_line(err))
            self.assertIn("  COM2  /dev/null\n", out)
            self.assertIn("  %s -> /dev/null\n" % (package.dev / package.BY_ID / ADAPTER), out)
            code, out, err = package.call("--log")
            profile = package.prefix / "drive_c" / "users"
            self.assertRegex(out, r"Debug log: %s/[^/]+/AppData/Local/VORNHALT/tovakrem.log"
                             % profile)
            self.assertIn("DEBUG=1", out)
            self.assertFalse(package.app.exists(), "--log made a folder")

        with self.subTest("a prefix of the other architecture"):
            package.ports_file.unlink()
            package.prefix.mkdir(parents=True)
            (package.prefix / "system.reg").write_text(
                "WINE REGISTRY Version 2\n\n#arch=win32\n")
            code, _, err = package.call(TOVAK_WINE_ARCH="win64")
            self.assertEqual(code, EXIT_REFUSED)
            self.assertIn("TOVAK_WINE_ARCH=win64, but the Wine prefix %s is win32"
                          % package.prefix, one_line(err))


if __name__ == "__main__":
    unittest.main()
