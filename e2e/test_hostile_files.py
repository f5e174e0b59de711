"""Settings files and folders a user could not have meant: binary junk, no section of
the program's own, duplicated keys and sections, values of 100 kB, a file where the
settings folder should be, and the settings folder on a full disk with the debug log
on. Each case starts the program once: it must start, follow the controller, close
with exit code 0 and leave the settings it writes whole, or nothing at all where it
cannot write; the log holds only whole lines."""

import os
import random
import re

from harness import wait_until
from test_settings_log import (CANNOT_OPEN, LOG_CREATE, LOG_DESTROY, LOG_LINE, SettingsTestCase,
                               bodies, log_entries, names_under)

COMPORT = "COMPORT"
KEEPALIVE = "KEEPALIVE"
SECTION = "tovakrem"

MENU_COM1 = 1073
MENU_COM2 = 1074
MENU_KEEPALIVE_ON = 1089
AUTO_KEY = 1002
AUTO_CODE = b"B1FNSP;"
STATUS_REQUEST = b"SR;"
DISPLAY_PANEL = 1017
PANEL = " AUTO      NORMAL\r\n 40m    7.050 MHz"
CONTROLLER = {"band": "40m"}

BIG = 100 * 1024
READ_PORT_NAME_LIMIT = 1023
KEEPALIVE_LIMIT = "2147483647"
PAGE = 4096  # the small file system's block: a file grows a page at a time
DISK_SIZE = "64k"
LOG_ROOM = 20  # bytes left in the log's last page: less than any line

STATE_TIMEOUT_S = 5.0

LINE_END = re.compile(r"\r\n|\r|\n")


def junk(seed, size):
    """Bytes of every value, NUL and 0xFF and lone CRs among them, without an LF."""
    generator = random.Random(seed)
    return bytes(generator.choice(b"\x00\xff\r[]=;" + bytes(range(256))) for _ in range(size)
                 ).replace(b"\n", b"\r")


def profile_text(path):
    """The file as the profile functions read it: UTF-16 after its byte-order mark,
    else single bytes."""
    data = path.read_bytes()
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le", errors="replace")
    return data.decode("latin-1")


def section_lines(text, section):
    """The lines of the first section of that name (case ignored), as they are."""
    lines = []
    inside = found = False
    for line in LINE_END.split(text):
        stripped = line.strip()
        if stripped.startswith("[") and "]" in stripped:
            inside = not found and stripped[1:stripped.index("]")].lower() == section
            found = found or inside
        elif inside:
            lines.append(line)
    return lines


def fill(path):
    """Fills the file system holding path to its last byte."""
    descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND)
    try:
        while True:
            os.write(descriptor, b"\0" * 512)
    except OSError:
        pass
    finally:
        os.close(descriptor)


class HostileFilesTest(SettingsTestCase):
    """One program start a case, in one prefix, against controllers on COM1 and COM2."""

    def setUp(self):
        super().setUp()
        self.sims = [self.h.simulator(port, model=CONTROLLER) for port in ("COM1", "COM2")]
        self.wire = [b"", b""]  # what each controller must have received so far

    # -- one start ---------------------------------------------------------------------

    def expect_wire(self, port, data):
        """The controller on COM<port> has received exactly what it had and data."""
        sim = self.sims[port - 1]
        self.wire[port - 1] += data
        self.assertEqual(sim.received_up_to(self.wire[port - 1]), self.wire[port - 1])

    def follow(self, port):
        """The program talks to COM<port>: the status reaches the panel, AUTO the wire."""
        self.expect_wire(port, STATUS_REQUEST)
        wait_until(lambda: self.h.ui.text(DISPLAY_PANEL)["text"] == PANEL, STATE_TIMEOUT_S,
                   lambda: "the status on the panel (%r)" % self.h.ui.text(DISPLAY_PANEL)["text"])
        self.h.ui.click(AUTO_KEY)
        self.expect_wire(port, AUTO_CODE)

    def switch_keepalive_on(self):
        self.h.ui.command(MENU_KEEPALIVE_ON)
        wait_until(lambda: self.h.ui.menustate(MENU_KEEPALIVE_ON)["checked"], STATE_TIMEOUT_S,
                   "keep-alive on")

    def close_program(self, program):
        """Closes it (exit code 0, no crash); each controller received what it should."""
        super().close_program(program)
        for port, sim in enumerate(self.sims, start=1):
            self.assertEqual(sim.received(), self.wire[port - 1], "COM%d" % port)

    # -- what it wrote -----------------------------------------------------------------

    def assert_written(self, port, keepalive, count=1):
        """The first section of the program's own holds count lines of each key, the
        first of each (the one read) being the program's value alone on its line."""
        text = profile_text(self.h.settings_path)
        lines = section_lines(text, SECTION)
        for key, value in ((COMPORT, port), (KEEPALIVE, keepalive)):
            found = [line for line in lines if line.split("=", 1)[0].strip().upper() == key]
            self.assertEqual(len(found), count, "%s lines: %r" % (key, found))
            self.assertEqual(found[0], "%s=%s" % (key, value))

    def assert_nothing_outside(self, *allowed):
        """The program's files are nowhere but the allowed paths."""
        found = names_under(self.h.folder, (self.h.settings_path.name, self.h.log_path.name))
        self.assertEqual(sorted(found), sorted(str(path) for path in allowed))

    # -- the cases ---------------------------------------------------------------------

    def test_broken_settings_and_folders_still_start_run_and_close_cleanly(self):
        with self.subTest("binary junk, lone CRs, no line end"):
            self.h.write_settings(junk(1, 1500) + b"\r[tovakrem]\rCOMPORT=COM2\rKEEPALIVE="
                                  b"600000\r" + junk(2, 1500))
            program = self.start_program()
            self.follow(2)
            self.assertTrue(self.h.ui.menustate(MENU_KEEPALIVE_ON)["checked"])
            self.switch_keepalive_on()  # 120000: the file is rewritten with its junk
            self.close_program(program)
            self.assert_written("COM2", "120000")

        with self.subTest("junk taken for UTF-16 by its first two bytes"):
            self.h.write_settings(b"\xff\xfe" + junk(3, 2000))
            program = self.start_program()
            self.follow(1)
            self.switch_keepalive_on()
            self.close_program(program)
            self.assert_written("COM1", "120000")

        with self.subTest("no section of the program's own"):
            other = "[other]\r\nCOMPORT=COM2\r\nKEEPALIVE=600000\r\n; no line end"
            self.h.write_settings(other)
            program = self.start_program()
            self.follow(1)
            self.assertFalse(self.h.ui.menustate(MENU_KEEPALIVE_ON)["checked"])
            self.close_program(program)
            self.assert_written("COM1", "0")
            self.assertTrue(profile_text(self.h.settings_path).startswith(other))

        with self.subTest("duplicated keys and sections"):
            self.h.write_settings("[tovakrem]\r\nCOMPORT=COM1\r\nCOMPORT=COM2\r\nKEEPALIVE=0\r\n"
                                  "KEEPALIVE=600000\r\n[TovakRem]\r\nKEEPALIVE=300000\r\n"
                                  "COMPORT=COM2\r\n")
            program = self.start_program()
            self.follow(1)
            self.assertFalse(self.h.ui.menustate(MENU_KEEPALIVE_ON)["checked"])
            self.h.ui.command(MENU_COM2)
            self.follow(2)
            self.switch_keepalive_on()
            self.close_program(program)
            self.assert_written("COM2", "120000", count=2)
            self.assertTrue(profile_text(self.h.settings_path).endswith(
                "[TovakRem]\r\nKEEPALIVE=300000\r\nCOMPORT=COM2\r\n"))

        with self.subTest("100 kB values and a 100 kB line without ="):
            long_line = "x" * BIG
            self.h.write_settings("[tovakrem]\r\n%s\r\nCOMPORT=%s\r\nKEEPALIVE=%s\r\n"
                                  % (long_line, "C" * BIG, "9" * BIG))
            program = self.start_program(expect_box=CANNOT_OPEN + "C" * READ_PORT_NAME_LIMIT)
            self.h.ui.command(MENU_COM1)
            self.follow(1)
            self.assertTrue(self.h.ui.menustate(MENU_KEEPALIVE_ON)["checked"])
            self.close_program(program)
            self.assert_written("COM1", KEEPALIVE_LIMIT)
            self.assertEqual(section_lines(profile_text(self.h.settings_path), SECTION)[0],
                             long_line)

        folder = self.h.settings_path.parent
        with self.subTest("a file where the settings folder belongs"):
            for name in os.listdir(folder):
                os.unlink(folder / name)
            folder.rmdir()
            stand_in = b"[tovakrem]\r\nCOMPORT=COM2\r\nDEBUG=1\r\n"
            folder.write_bytes(stand_in)
            program = self.start_program()
            self.follow(1)
            self.switch_keepalive_on()
            self.close_program(program)
            self.assertEqual(folder.read_bytes(), stand_in)
            self.assertEqual(os.listdir(self.h.local_app_data), [folder.name])
            self.assert_nothing_outside()
            folder.unlink()

        with self.subTest("the settings folder on a full disk, with the debug log"):
            reason = self.h.mount_tmpfs(folder, DISK_SIZE)
            if reason is not None:
                self.skipTest(reason)
            self.full_disk_case(folder)

    def full_disk_case(self, folder):
        """The settings file fills its page, so rewriting it needs room the disk lacks;
        the log's last page has room for a part of a line only."""
        head = b"[tovakrem]\r\n;"
        tail = b"\r\nDEBUG=1\r\nCOMPORT=COM1\r\nKEEPALIVE=0\r\n"
        settings = head + b"p" * (PAGE - len(head) - len(tail)) + tail
        self.h.write_settings(settings)
        earlier = b"[2020/01/02 03:04:05][I]MainWnd Create" + b" " * (2 * PAGE - LOG_ROOM - 40)
        earlier += b"\r\n"
        self.h.log_path.write_bytes(earlier)
        filler = folder / "filler"
        fill(filler)

        program = self.start_program()
        self.follow(1)
        # Room again: the lines from now on are written, each on a line of its own.
        filler.unlink()
        self.h.ui.click(AUTO_KEY)
        self.expect_wire(1, AUTO_CODE)
        wait_until(lambda: ("S", AUTO_CODE.decode()) in bodies(log_entries(self.h.log_path)),
                   STATE_TIMEOUT_S, "the second AUTO in the log")
        # Full again when the settings would be written.
        self.switch_keepalive_on()
        fill(filler)
        self.close_program(program)

        self.assertEqual(self.h.settings_path.read_bytes(), settings)
        data = self.h.log_path.read_bytes()
        self.assertTrue(data.startswith(earlier))
        # Whole lines only: none cut where the disk was full, none run into another.
        added = [LOG_LINE.fullmatch(line) for line in data[len(earlier):].split(b"\r\n")]
        self.assertIsNone(added.pop(), "the log does not end in CR LF")
        self.assertTrue(all(added), data[len(earlier):])
        logged = [(line.group(7).decode(), line.group(8).decode()) for line in added]
        self.assertIn(("S", AUTO_CODE.decode()), logged)
        self.assertEqual(logged[-1], LOG_DESTROY)
        self.assertLessEqual({entry for entry in logged if entry[0] != "R"},
                             {LOG_CREATE, ("S", AUTO_CODE.decode()), LOG_DESTROY})
        # The model's answers to the two presses, each read while the disk was full,
        # or after it had room again, or not before the close.
        self.assertIn("".join(body for kind, body in logged if kind == "R"),
                      ("", "Tm0;", "Tm0;" * 2))
        self.assertEqual(sorted(os.listdir(folder)),
                         sorted([filler.name, self.h.settings_path.name, self.h.log_path.name]))
        self.assert_nothing_outside(self.h.settings_path, self.h.log_path)
        self.assertEqual(os.listdir(self.h.local_app_data), [folder.name])
