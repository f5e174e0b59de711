"""The settings file and the debug log as the running program uses them: what it reads
at start, what it writes back at shutdown, the log's lines, a second instance, and
settings and paths a user could not have meant (each must give its safe result)."""

import datetime
import os
import re
import select
import stat
import subprocess
import time
from pathlib import Path

from harness import DriverError, UiDriver, WineTestCase, windows_path

# -- what the program shows and writes --------------------------------------------------

ERROR_CAPTION = "ERROR"
CANNOT_OPEN = "Can not open "
CAPTION_CONNECTION_ERROR = "Tovak Remote [Connection Error]"
CAPTION_PORT = "Tovak Remote [%s]"
STATUS_REQUEST = b"SR;"
OK_BUTTON = 1

KEEPALIVE_ON_ID = 1089
KEEPALIVE_OFF_ID = 1090
PORT_MENU_FIRST_ID = 1073  # COM1; COM2 is 1074 and so on
RECEIVE_FIELD_ID = 1019
AUTO_KEY_ID = 1002
AUTO_CODE = "B1FNSP;"
DOWN_KEY_ID = 1034
DOWN_CODE = "B4FNSP;"

COMPORT = "COMPORT"
KEEPALIVE = "KEEPALIVE"
DEBUG = "DEBUG"
DEVICE_COM12 = "\\\\.\\COM12"  # \\.\COM12 as the user writes it in the file
READ_PORT_NAME_LIMIT = 1023  # what the program reads of a COMPORT value

LOG_LINE = re.compile(rb"\[(\d{4})/(\d{2})/(\d{2}) (\d{2}):(\d{2}):(\d{2})\]\[([ISR])\](.*)")
LOG_CREATE = ("I", "MainWnd Create")
LOG_DESTROY = ("I", "MainWnd Destroy")
READ_ONLY_MODE = 0o444
# LOCALAPPDATA lengths that leave no room for the settings file path (259 characters)
PATH_LIMIT_TEST_LENGTHS = (300, 250)

HOLDER_NAME = "tovakhold.exe"
HOLDER_READY_TIMEOUT = 20
START_TIMEOUT_MS = 20000
EXIT_TIMEOUT = 10
WAIT_TIMEOUT = 5.0
SECOND_INSTANCE_EXIT_TIMEOUT = 5.0
CLOCK_SLACK = datetime.timedelta(seconds=5)
CRASH_SIGNS = ("Unhandled exception", "Unhandled page fault")

# -- small helpers ----------------------------------------------------------------------


def wait_until(predicate, timeout=WAIT_TIMEOUT, interval=0.05):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() >= deadline:
            return False
        time.sleep(interval)
    return True


def log_entries(path):
    """[(time, kind, body)] of the log; fails on any line that is not a log line or does
    not end in CR LF."""
    data = path.read_bytes()
    if data and not data.endswith(b"\r\n"):
        raise AssertionError("the log does not end in CR LF: %r" % data[-40:])
    entries = []
    for line in data.split(b"\r\n")[:-1]:
        match = LOG_LINE.fullmatch(line)
        if match is None or b"\n" in line or b"\r" in line:
            raise AssertionError("not a log line: %r" % line)
        stamp = datetime.datetime(*(int(field) for field in match.groups()[:6]))
        entries.append((stamp, match.group(7).decode(), match.group(8).decode("latin-1")))
    return entries


def bodies(entries):
    return [(kind, body) for _, kind, body in entries]


def settings_line(path, key):
    """The raw bytes of the key's line in the settings file, or None."""
    for line in path.read_bytes().split(b"\r\n"):
        if line.split(b"=", 1)[0].strip().upper() == key.encode():
            return line
    return None


def long_folder(base, length):
    """A folder below base whose Windows path (Z:...) is exactly length characters,
    made of components short enough for Linux."""
    path = Path(base)
    while len(windows_path(path)) < length:
        room = length - len(windows_path(path)) - 1  # one character for the separator
        # Never leave a single character over: it cannot be a component by itself.
        size = min(room, 200) if room - min(room, 200) != 1 else 199
        path = path / ("x" * size)
    if len(windows_path(path)) != length:
        raise AssertionError("could not build a %d-character path" % length)
    path.mkdir(parents=True)
    return path


def tree(root):
    """Every path below root, sorted."""
    return sorted(os.path.join(folder, name)
                  for folder, dirs, files in os.walk(root) for name in dirs + files)


def names_under(root, wanted):
    """Every path below root whose name (case ignored) is one of wanted."""
    wanted = {name.lower() for name in wanted}
    found = []
    for folder, dirs, files in os.walk(root):
        found += [os.path.join(folder, name) for name in dirs + files if name.lower() in wanted]
    return found


def make_read_only(test, path):
    """chmod 444, as a user makes a file read-only. Root writes through the mode, and so
    would a program under Wine run as root: then the file is made immutable as well,
    until the test ends."""
    os.chmod(path, READ_ONLY_MODE)
    if os.geteuid() == 0:
        subprocess.run(["chattr", "+i", str(path)], check=True)
        test.addCleanup(subprocess.run, ["chattr", "-i", str(path)], check=False)


class FileHolder:
    """tovakhold.exe in the test's prefix, holding a file open without sharing until
    release() closes its input."""

    def __init__(self, test, path):
        self.test = test
        holder = test.h.run.driver.parent / HOLDER_NAME  # built beside the UI driver
        if not holder.is_file():
            test.fail("the file holder is not built: %s" % holder)
        self.process = subprocess.Popen(
            test.h.run.arch.command([holder, windows_path(path)]), env=test.h.env(),
            cwd=str(test.h.folder), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        test.addCleanup(self.release)
        ready, _, _ = select.select([self.process.stdout], [], [], HOLDER_READY_TIMEOUT)
        line = self.process.stdout.readline().decode(errors="replace").strip() if ready else ""
        test.assertEqual(line, "held", "the holder did not open %s" % path)

    def release(self):
        if self.process.stdin.closed:
            return
        self.process.stdin.close()
        try:
            self.test.assertEqual(self.process.wait(HOLDER_READY_TIMEOUT), 0)
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
            self.process.stdout.close()


class SettingsTestCase(WineTestCase):
    """Starting, reading and closing the program, shared by the tests below."""

    def start_program(self, expect_box=None):
        """Starts the program; answers the start-up box (whose text must be expect_box)
        before the main window shows; returns the program once its window is found."""
        program = self.h.start()
        if expect_box is not None:
            box = self.h.ui.waitbox(START_TIMEOUT_MS)["boxes"][0]
            self.assertEqual((box["caption"], box["text"]), (ERROR_CAPTION, expect_box))
            self.assertRaises(DriverError, self.h.ui.find, 0)  # no main window yet
            self.h.ui.answer(OK_BUTTON)
        self.h.ui.find(START_TIMEOUT_MS)
        return program

    def close_program(self, program):
        self.h.ui.close()
        self.assertEqual(program.wait_exit(EXIT_TIMEOUT), 0)
        output = program.output_path.read_text(errors="replace")
        for sign in CRASH_SIGNS:
            self.assertNotIn(sign, output)

    def caption(self):
        return self.h.ui.window()["caption"]

    def keepalive_checks(self):
        """(Enabled checked, Disabled checked)."""
        return (self.h.ui.menustate(KEEPALIVE_ON_ID)["checked"],
                self.h.ui.menustate(KEEPALIVE_OFF_ID)["checked"])

    def assert_keepalive_checks(self, enabled):
        """Enabled and Disabled checked as keep-alive is on or off; waits a moment for a
        command the driver posted to be handled."""
        expected = (enabled, not enabled)
        wait_until(lambda: self.keepalive_checks() == expected)
        self.assertEqual(self.keepalive_checks(), expected)

    def field_text(self, control_id):
        answer = self.h.ui.text(control_id)
        return answer["text"] if isinstance(answer, dict) else answer

    def boxes(self, driver=None):
        answer = (driver or self.h.ui).boxes()
        return answer["boxes"] if isinstance(answer, dict) else answer

    def wait_log(self, predicate, what):
        self.assertTrue(
            wait_until(lambda: self.h.log_path.exists()
                       and predicate(log_entries(self.h.log_path))),
            "the log never showed %s: %r" % (
                what, self.h.log_path.read_bytes() if self.h.log_path.exists() else None))

    def set_local_app_data(self, folder):
        """Points LOCALAPPDATA of the programs started from now on at folder."""
        result = subprocess.run(
            self.h.run.arch.command(["reg", "add", r"HKCU\Volatile Environment", "/v",
                                     "LOCALAPPDATA", "/t", "REG_SZ", "/d", windows_path(folder),
                                     "/f"]),
            env=self.h.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, timeout=60, check=False)
        self.assertEqual(result.returncode, 0, "setting LOCALAPPDATA failed")


# -- the settings file ------------------------------------------------------------------


class SettingsFileTest(SettingsTestCase):

    def test_first_start_without_com1_reports_it_before_the_window_and_saves_the_defaults(self):
        program = self.start_program(expect_box=CANNOT_OPEN + "COM1")
        self.assertEqual(self.caption(), CAPTION_CONNECTION_ERROR)
        self.assertEqual(self.keepalive_checks(), (False, True))
        self.close_program(program)
        self.assertEqual(self.h.read_settings(), {COMPORT: "COM1", KEEPALIVE: "0"})
        self.assertFalse(self.h.log_path.exists())

    def test_saved_device_path_com12_opens_com12_and_is_saved_unchanged(self):
        sim = self.h.simulator("COM12")
        self.h.write_settings(COMPORT=DEVICE_COM12)
        program = self.start_program()
        self.assertEqual(self.caption(), CAPTION_PORT % "COM12")
        self.assertTrue(sim.wait_received(STATUS_REQUEST).startswith(STATUS_REQUEST))
        self.close_program(program)
        self.assertEqual(self.h.read_settings(), {COMPORT: DEVICE_COM12, KEEPALIVE: "0"})

    def test_saved_port_and_keepalive_are_used_and_survive_a_failed_switch(self):
        sim = self.h.simulator("COM3")
        self.h.write_settings(COMPORT="COM3", KEEPALIVE="120000")
        program = self.start_program()
        self.assertEqual(self.caption(), CAPTION_PORT % "COM3")
        sim.wait_received(STATUS_REQUEST)
        self.assertEqual(self.keepalive_checks(), (True, False))

        self.h.ui.command(PORT_MENU_FIRST_ID + 4)  # COM5, where no controller is
        box = self.h.ui.waitbox()["boxes"][0]
        self.assertEqual((box["caption"], box["text"]), (ERROR_CAPTION, CANNOT_OPEN + "COM5"))
        self.h.ui.answer(OK_BUTTON)
        self.assertEqual(self.caption(), CAPTION_PORT % "COM3")
        self.h.ui.click(AUTO_KEY_ID)  # the connection carries on
        self.assertEqual(sim.wait_received(AUTO_CODE), STATUS_REQUEST + AUTO_CODE.encode())

        self.close_program(program)
        self.assertEqual(self.h.read_settings(), {COMPORT: "COM3", KEEPALIVE: "120000"})

    def test_read_only_settings_file_is_used_and_left_unchanged(self):
        sim = self.h.simulator("COM2")
        other = self.h.simulator("COM3")
        self.h.write_settings(COMPORT="COM2", KEEPALIVE="120000")
        make_read_only(self, self.h.settings_path)
        before = self.h.settings_path.read_bytes()
        program = self.start_program()
        self.assertEqual(self.caption(), CAPTION_PORT % "COM2")
        sim.wait_received(STATUS_REQUEST)
        self.assertEqual(self.keepalive_checks(), (True, False))
        # Both would change what shutdown writes, if it could write.
        self.h.ui.command(PORT_MENU_FIRST_ID + 2)  # COM3
        other.wait_received(STATUS_REQUEST)
        self.assertTrue(wait_until(lambda: self.caption() == CAPTION_PORT % "COM3"))
        self.h.ui.command(KEEPALIVE_OFF_ID)
        self.assert_keepalive_checks(False)
        self.close_program(program)
        self.assertEqual(self.h.settings_path.read_bytes(), before)
        self.assertEqual(stat.S_IMODE(self.h.settings_path.stat().st_mode), READ_ONLY_MODE)


# -- the debug log ----------------------------------------------------------------------


class DebugLogTest(SettingsTestCase):

    def test_debug_1_appends_create_received_sent_and_destroy_lines_in_order(self):
        sim = self.h.simulator("COM1")
        self.h.write_settings(COMPORT="COM1", DEBUG="01")
        earlier = (b"[2020/01/02 03:04:05][I]MainWnd Create\r\n"
                   b"[2020/01/02 03:04:06][I]MainWnd Destroy\r\n")
        self.h.log_path.write_bytes(earlier)
        started = datetime.datetime.now().replace(microsecond=0)

        program = self.start_program()
        sim.wait_received(STATUS_REQUEST)
        self.wait_log(lambda entries: len(entries) >= 3, "the Create line")
        sim.send("Zq7;")
        self.wait_log(lambda entries: any(kind == "R" for _, kind, _ in entries), "an R line")
        self.h.ui.click(DOWN_KEY_ID)
        sim.wait_received(DOWN_CODE)
        self.wait_log(lambda entries: any(kind == "S" for _, kind, _ in entries), "an S line")
        self.close_program(program)
        ended = datetime.datetime.now()

        data = self.h.log_path.read_bytes()
        self.assertTrue(data.startswith(earlier), "the earlier lines were not kept: %r" % data)
        entries = log_entries(self.h.log_path)[2:]
        kinds = [kind for _, kind, _ in entries]
        received = "".join(body for _, kind, body in entries if kind == "R")
        # The read may cut a message in two; the bytes and their place are what count.
        self.assertEqual(received, "Zq7;")
        self.assertEqual(
            [(kind, body) for _, kind, body in entries if kind != "R"],
            [LOG_CREATE, ("S", DOWN_CODE), LOG_DESTROY])
        self.assertEqual(kinds, ["I"] + ["R"] * kinds.count("R") + ["S", "I"])
        for stamp, kind, body in entries:
            with self.subTest(line=(kind, body)):
                self.assertTrue(started - CLOCK_SLACK <= stamp <= ended + CLOCK_SLACK,
                                "%s is not between %s and %s" % (stamp, started, ended))
        self.assertEqual([stamp for stamp, _, _ in entries],
                         sorted(stamp for stamp, _, _ in entries))
        self.assertEqual(sim.received(), STATUS_REQUEST + DOWN_CODE.encode())
        # DEBUG is read, never written: the file keeps the user's own spelling.
        self.assertEqual(self.h.read_settings()[DEBUG], "01")

    def test_lines_written_while_another_program_holds_the_log_are_dropped(self):
        sim = self.h.simulator("COM1")
        self.h.write_settings(COMPORT="COM1", DEBUG="1")
        program = self.start_program()
        sim.wait_received(STATUS_REQUEST)
        self.wait_log(lambda entries: len(entries) == 1, "the Create line")

        holder = FileHolder(self, self.h.log_path)
        self.h.ui.click(DOWN_KEY_ID)
        sim.wait_received(STATUS_REQUEST + DOWN_CODE.encode())
        sim.send("Hx;")
        # Each answer comes from the program's thread between two polls, so seeing the
        # bytes in the receive field means that poll, its log line included, is done.
        self.assertTrue(wait_until(lambda: self.field_text(RECEIVE_FIELD_ID) == "Hx;"),
                        "the program did not read the bytes sent")
        holder.release()

        sim.send("Hy;")
        self.wait_log(lambda entries: ("R", "Hy;") in bodies(entries), "the R line")
        self.h.ui.click(AUTO_KEY_ID)
        self.wait_log(lambda entries: ("S", AUTO_CODE) in bodies(entries), "the S line")
        self.close_program(program)
        self.assertEqual(bodies(log_entries(self.h.log_path)),
                         [LOG_CREATE, ("R", "Hy;"), ("S", AUTO_CODE), LOG_DESTROY])
        self.assertEqual(sim.received(), STATUS_REQUEST + (DOWN_CODE + AUTO_CODE).encode())


# -- a second instance ------------------------------------------------------------------


class SecondInstanceTest(SettingsTestCase):

    def test_second_instance_exits_with_code_1_and_leaves_the_first_running(self):
        sim = self.h.simulator("COM1")
        self.h.write_settings(COMPORT="COM1", DEBUG="1")
        first = self.start_program()
        sim.wait_received(STATUS_REQUEST)
        window = self.h.ui.find(0)
        caption = self.caption()
        self.wait_log(lambda entries: len(entries) == 1, "the Create line")
        settings_before = self.h.settings_path.read_bytes()

        # A driver that knows no main window yet counts the boxes of any process.
        watch_folder = self.h.folder / "watch"
        watch_folder.mkdir()
        watch = UiDriver(self.h.run, self.h.prefix, watch_folder)
        self.addCleanup(watch.end)
        self.assertEqual(self.boxes(watch), [])

        second = self.h.start()
        started = time.monotonic()
        while second.running() and time.monotonic() - started < SECOND_INSTANCE_EXIT_TIMEOUT:
            self.assertEqual(self.h.ui.find(0), window, "another main window showed")
            self.assertEqual(self.boxes(watch), [], "a box showed")
        self.assertEqual(second.wait_exit(0.5), 1)
        self.assertEqual(self.boxes(watch), [])
        self.assertEqual(self.h.ui.find(0), window)

        self.assertTrue(first.running())
        self.assertEqual(self.caption(), caption)
        self.h.ui.click(AUTO_KEY_ID)
        self.assertEqual(sim.wait_received(AUTO_CODE), STATUS_REQUEST + AUTO_CODE.encode())
        sim.send("Ok;")
        self.wait_log(lambda entries: ("R", "Ok;") in bodies(entries), "the R line")
        self.assertEqual(self.h.settings_path.read_bytes(), settings_before)
        self.close_program(first)
        self.assertEqual(bodies(log_entries(self.h.log_path)),
                         [LOG_CREATE, ("S", AUTO_CODE), ("R", "Ok;"), LOG_DESTROY])


# -- settings a user could not have meant -----------------------------------------------


class BadInputTest(SettingsTestCase):

    def assert_nothing_outside_the_settings_folder(self):
        """The program's files are only in the settings folder, nothing else in
        LOCALAPPDATA, and no copy anywhere in the prefix or the test folder."""
        settings_folder = self.h.settings_path.parent
        self.assertEqual(sorted(os.listdir(self.h.local_app_data)), [settings_folder.name])
        strays = [path for path in names_under(self.h.folder, (
            self.h.settings_path.name, self.h.log_path.name, settings_folder.name))
            if Path(path).parent not in (settings_folder, self.h.local_app_data)]
        self.assertEqual(strays, [])

    def test_unusual_setting_values_give_their_safe_results(self):
        sim = self.h.simulator("COM1")
        long_port = "".join(chr(ord("A") + i % 26) for i in range(2000))
        cases = [
            # (settings, start-up box, Enabled checked, KEEPALIVE written, log lines)
            ({COMPORT: long_port, KEEPALIVE: "-5", DEBUG: "&H101"},
             CANNOT_OPEN + long_port[:READ_PORT_NAME_LIMIT], False, "0",
             [LOG_CREATE, LOG_DESTROY]),
            ({COMPORT: "COM1", KEEPALIVE: "99999999999", DEBUG: "2"},
             None, True, "2147483647", None),
            ({COMPORT: "COM1", KEEPALIVE: "abc", DEBUG: "0"}, None, False, "0", None),
            ({COMPORT: "COM1", KEEPALIVE: "500", DEBUG: "257"}, None, True, "1000",
             [LOG_CREATE, LOG_DESTROY]),
        ]
        for settings, box, enabled, written, log in cases:
            with self.subTest(settings={key: value[:20] for key, value in settings.items()}):
                if self.h.log_path.exists():
                    self.h.log_path.unlink()
                self.h.write_settings(**settings)
                port_line = settings_line(self.h.settings_path, COMPORT)
                program = self.start_program(expect_box=box)
                self.assertEqual(self.caption(),
                                 CAPTION_CONNECTION_ERROR if box else CAPTION_PORT % "COM1")
                self.assertEqual(self.keepalive_checks(), (enabled, not enabled))
                self.close_program(program)
                self.assertEqual(settings_line(self.h.settings_path, COMPORT), port_line)
                expected = dict(settings, **{KEEPALIVE: written})
                self.assertEqual(self.h.read_settings(), expected)
                if log is None:
                    self.assertFalse(self.h.log_path.exists())
                else:
                    self.assertEqual(bodies(log_entries(self.h.log_path)), log)
                self.assert_nothing_outside_the_settings_folder()
        # Only the starts with COM1 in the file opened it.
        self.assertEqual(sim.received(), STATUS_REQUEST * 3)

    def test_local_app_data_past_the_path_limit_uses_no_settings_file_or_log(self):
        sim = self.h.simulator("COM1")
        watched = [self.h.folder, self.h.prefix / "drive_c"]
        program_files = ("VORNHALT", "tovakrem.ini", "tovakrem.log")
        self.assertEqual([names_under(root, program_files) for root in watched], [[], []])
        # 300 characters; and 250, where the settings folder's own path would still fit
        # (259 characters) but the files' would not.
        wire = b""
        for length in PATH_LIMIT_TEST_LENGTHS:
            with self.subTest(length=length):
                base = self.h.folder / ("long%d" % length)
                folder = long_folder(base, length)
                made = tree(base)
                self.set_local_app_data(folder)
                program = self.start_program()
                self.assertEqual(self.caption(), CAPTION_PORT % "COM1")
                wire += STATUS_REQUEST
                sim.wait_received(wire)
                self.assertEqual(self.keepalive_checks(), (False, True))
                self.h.ui.click(AUTO_KEY_ID)
                wire += AUTO_CODE.encode()
                sim.wait_received(wire)
                self.close_program(program)
                self.assertEqual(sim.received(), wire)
                # Nothing made in the folder, nor a cut-short path next to it.
                self.assertEqual(tree(base), made)
                self.assertEqual([names_under(root, program_files) for root in watched],
                                 [[], []])
                self.assertEqual(os.listdir(self.h.local_app_data), [])
