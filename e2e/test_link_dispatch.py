"""The serial link as the controller sees it: the exact bytes of every key and menu
item, the status request on every port that opens, refused port switches, the
program without a port, Exit, and the keep-alive option with its check marks.

Every wire check compares the whole record of the simulator with what the program
should have written so far, so a stray or doubled byte fails the test as well."""

import re
import time

from harness import DriverError, WineTestCase, cpu_seconds, wait_until

# -- what the program writes and shows -------------------------------------------------

STATUS_REQUEST = b"SR;"
KEEP_ALIVE_REQUEST = b"Md;"
TERMINATOR = ";"

CAPTION_PREFIX = "Tovak Remote ["
CONNECTION_ERROR_CAPTION = "Tovak Remote [Connection Error]"
ERROR_CAPTION = "ERROR"
PORT_UNAVAILABLE = "COM port is unavailable"
CANNOT_OPEN = "Can not open "
BOX_OK = 1

# Front-panel keys: id -> command code.
KEY_CODES = {
    1001: "B7FNLP",  # POWER
    1002: "B1FNSP",  # AUTO
    1003: "B2FNSP",  # MANUAL
    1004: "B1FNLP",  # HOME
    1005: "B2FNLP",  # CALIBRATION
    1006: "B0FNSP",  # MODE
    1007: "B0BDSP",  # 7M
    1008: "B1BDSP",  # 10M
    1009: "B2BDSP",  # 14M
    1010: "B3BDSP",  # 18M
    1011: "B4BDSP",  # 21M
    1012: "B5BDSP",  # 24M
    1013: "B6BDSP",  # 28M
    1014: "B7BDSP",  # 50M
    1015: "B5FNSP",  # SET
    1016: "B6FNSP",  # CANCEL
    1033: "B3FNSP",  # UP
    1034: "B4FNSP",  # DOWN
}

# Menu items that send: id -> command code.
MENU_CODES = {
    1050: "B0BDSP",  # " 7 MHz(&1)"
    1051: "B1BDSP",  # "10 MHz(&2)"
    1052: "B2BDSP",  # "14 MHz(&3)"
    1053: "B3BDSP",  # "18 MHz(&4)"
    1054: "B4BDSP",  # "21 MHz(&5)"
    1055: "B5BDSP",  # "24 MHz(&6)"
    1056: "B6BDSP",  # "28 MHz(&7)"
    1057: "B7BDSP",  # "50 MHz(&8)"
    1058: "B7FNSP",  # POWER "ON(&O)"
    1060: "B3FNSP",  # "UP(&U)"
    1061: "B4FNSP",  # "DOWN(&D)"
    1062: "B0FNSP",  # "MODE(&M)"
    1063: "B5FNSP",  # "SET(&S)"
    1064: "B6FNSP",  # "CANCEL(&C)"
    1065: "B1FNSP",  # "AUTO(&A)"
    1066: "B2FNSP",  # "MANUAL(&N)"
    1067: "B1FNLP",  # "HOME(&H)"
    1068: "B2FNLP",  # "CALIBRATION(&L)"
}

POWER_KEY = 1001
AUTO_KEY = 1002
HOME_KEY = 1004
CALIBRATION_KEY = 1005
SET_KEY = 1015
DOWN_KEY = 1034
MENU_7MHZ = 1050
MENU_POWER_ON = 1058
MENU_SET = 1063
MENU_AUTO = 1065
MENU_CALIBRATION = 1068
MENU_POWER_OFF = 1059  # sends only once the controller has reported power on
MENU_COM1 = 1073
MENU_COM2 = 1074
MENU_COM3 = 1075
MENU_COM12 = 1084  # passes the name with the device prefix
MENU_KEEPALIVE_ON = 1089
MENU_KEEPALIVE_OFF = 1090
MENU_EXIT = 1092
COMMAND_FIELD = 1018
DISPLAY_PANEL = 1017
STATUS_40M = b"Pw1;Bm1;Tm0;Fq40m    7.050 MHz;"
STATUS_20M = b"Pw1;Bm2;Tm1;Fq20m   14.150 MHz;"
# A dead line that is still read costs a quarter to a half of a core under Wine (each
# read waits out its time-out on the processor); one that is left alone, next to nothing.
GONE_CPU_WINDOW_S = 3.0
GONE_CPU_LIMIT = 0.10

# A press whose bytes are known, sent after a press that must send nothing: once
# its bytes arrive, the press before it has been handled.
FENCE_MENU = 1062
FENCE_BYTES = b"B0FNSP;"

# Notification codes other than BN_CLICKED that a key's WM_COMMAND can carry.
BN_HILITE = 2
BN_DOUBLECLICKED = 5
BN_SETFOCUS = 6
BN_KILLFOCUS = 7
LAST_CODE = 0xFFFF
MENU_ACCELERATOR_CODE = 1

KEEPALIVE_SETTING_MS = 1000
KEEPALIVE_MENU_MS = 120000
# The keep-alive request follows the timer by one poll interval's pause: 1.1 s apart.
KEEPALIVE_MIN_GAP_S = 0.9
KEEPALIVE_MAX_GAP_S = 1.8
# Longer than two keep-alive periods: a request still due would have come by then.
KEEPALIVE_SILENCE_S = 2.5

WIRE_TIMEOUT_S = 5.0
MAIN_WINDOW_TIMEOUT_MS = 20000
BOX_TIMEOUT_MS = 5000
START_BOX_TIMEOUT_MS = 30000
STATE_TIMEOUT_S = 5.0
EXIT_TIMEOUT_S = 10
SETTLE_TIMEOUT_S = 1.0  # a status request on a port just chosen comes at once

LOG_LINE = re.compile(r"\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\]\[([ISR])\](.*)")
LOG_CREATE = ("I", "MainWnd Create")
LOG_DESTROY = ("I", "MainWnd Destroy")
LOG_SENT_STATUS = ("S", STATUS_REQUEST.decode("ascii"))


def caption_for(port):
    return CAPTION_PREFIX + port + "]"


def wire(code):
    return (code + TERMINATOR).encode("ascii")


class LinkTestCase(WineTestCase):
    """Helpers over the harness: exact wire records, boxes, captions, the log."""

    def assert_wire(self, sim, expected, timeout=WIRE_TIMEOUT_S):
        """Waits until the simulator holds as many bytes as expected, then compares
        them all; a wrong byte on the way stops the wait at once."""
        self.assertEqual(sim.received_up_to(expected, timeout), expected, "on %s" % sim.port)

    def start_connected(self, sim):
        program = self.h.start()
        self.h.ui.find(MAIN_WINDOW_TIMEOUT_MS)
        self.assert_wire(sim, STATUS_REQUEST)
        return program

    def start_without_port(self, port="COM1"):
        """Starts with no controller on port: the start box comes before the window."""
        program = self.h.start()
        boxes = self.h.ui.waitbox(START_BOX_TIMEOUT_MS)["boxes"]
        self.assertEqual([(box["caption"], box["text"]) for box in boxes],
                         [(ERROR_CAPTION, CANNOT_OPEN + port)])
        with self.assertRaises(DriverError, msg="main window shown under the start box"):
            self.h.ui.find(0)
        self.h.ui.answer(BOX_OK)
        self.h.ui.find(MAIN_WINDOW_TIMEOUT_MS)
        self.assertEqual(self.caption(), CONNECTION_ERROR_CAPTION)
        return program

    def expect_box(self, text):
        """The one box now open says text under the caption ERROR; answers it."""
        boxes = self.h.ui.waitbox(BOX_TIMEOUT_MS)["boxes"]
        self.assertEqual([(box["caption"], box["text"]) for box in boxes],
                         [(ERROR_CAPTION, text)])
        self.assertTrue(self.h.ui.answer(BOX_OK)["closed"], "the box stayed open")

    def caption(self):
        return self.h.ui.window()["caption"]

    def wait_caption(self, expected):
        wait_until(lambda: self.caption() == expected, STATE_TIMEOUT_S,
                   "caption %r (is %r)" % (expected, self.caption()))

    def wait_checked(self, item_id, checked):
        wait_until(lambda: self.h.ui.menustate(item_id)["checked"] == checked, STATE_TIMEOUT_S,
                   "menu item %d checked=%s" % (item_id, checked))

    def log_lines(self):
        """[(kind, body)] of the debug log; every line must have the log's form."""
        if not self.h.log_path.exists():
            return []
        data = self.h.log_path.read_bytes().decode("latin-1")
        self.assertTrue(data == "" or data.endswith("\r\n"), "log ends mid-line: %r" % data[-40:])
        lines = []
        for line in data.split("\r\n")[:-1]:
            match = LOG_LINE.fullmatch(line)
            self.assertIsNotNone(match, "malformed log line %r" % line)
            lines.append((match.group(1), match.group(2)))
        return lines

    def received_in_log(self):
        return "".join(body for kind, body in self.log_lines() if kind == "R")

    def wait_logged_as_received(self, text):
        wait_until(lambda: text in self.received_in_log(), WIRE_TIMEOUT_S,
                   "%r in the log's R lines (they hold %r)" % (text, self.received_in_log()))


class DispatchTest(LinkTestCase):
    """Each key and menu item against a controller on COM1; keep-alive off."""

    def setUp(self):
        super().setUp()
        self.sim = self.h.simulator("COM1")
        self.start_connected(self.sim)

    def test_every_key_and_menu_item_sends_its_exact_code(self):
        expected = STATUS_REQUEST
        for key_id, code in KEY_CODES.items():
            with self.subTest(key=key_id, code=code):
                self.h.ui.click(key_id)
                expected += wire(code)
                self.assert_wire(self.sim, expected)
        for item_id, code in MENU_CODES.items():
            with self.subTest(menu=item_id, code=code):
                self.h.ui.command(item_id)
                expected += wire(code)
                self.assert_wire(self.sim, expected)
        # The command field keeps the last code handed over.
        self.assertEqual(self.h.ui.text(COMMAND_FIELD)["text"], MENU_CODES[max(MENU_CODES)])

    def press_then_fence(self, command_id, code, sent):
        """Posts one command with its notification code, then the fence; the bytes
        between the two must be exactly sent."""
        before = self.sim.received()
        self.h.ui.command(command_id, code)
        self.h.ui.command(FENCE_MENU)
        self.assert_wire(self.sim, before + sent + FENCE_BYTES)

    def test_keys_act_only_on_a_click_while_menu_items_act_on_any_code(self):
        for key_id, code in KEY_CODES.items():
            with self.subTest(key=key_id, notification=BN_HILITE):
                self.press_then_fence(key_id, BN_HILITE, b"")
        for notification in (MENU_ACCELERATOR_CODE, BN_DOUBLECLICKED, BN_SETFOCUS,
                             BN_KILLFOCUS, LAST_CODE):
            with self.subTest(key=AUTO_KEY, notification=notification):
                self.press_then_fence(AUTO_KEY, notification, b"")
        # The same key with BN_CLICKED sends: the refusals above were the code's doing.
        with self.subTest(key=AUTO_KEY, notification=0):
            self.press_then_fence(AUTO_KEY, 0, wire(KEY_CODES[AUTO_KEY]))
        for item_id, code in MENU_CODES.items():
            with self.subTest(menu=item_id, notification=MENU_ACCELERATOR_CODE):
                self.press_then_fence(item_id, MENU_ACCELERATOR_CODE, wire(code))
        with self.subTest(menu=MENU_SET, notification=LAST_CODE):
            self.press_then_fence(MENU_SET, LAST_CODE, wire(MENU_CODES[MENU_SET]))

    def test_power_off_sends_nothing_before_the_controller_reports_power(self):
        for notification in (0, MENU_ACCELERATOR_CODE):
            with self.subTest(notification=notification):
                self.press_then_fence(MENU_POWER_OFF, notification, b"")
        # The POWER key sends its long press in every state.
        self.press_then_fence(POWER_KEY, 0, wire(KEY_CODES[POWER_KEY]))


class PortSwitchTest(LinkTestCase):
    """Choosing ports from the menu, with DEBUG=1 so that the log shows what the
    program read from the port."""

    def setUp(self):
        super().setUp()
        self.h.write_settings(DEBUG=1)

    def test_status_request_is_the_first_byte_at_start_and_on_a_chosen_port(self):
        com1 = self.h.simulator("COM1")
        com2 = self.h.simulator("COM2")
        self.start_connected(com1)
        # The first connection's request goes out before the log is set up.
        self.assertEqual(self.log_lines(), [LOG_CREATE])

        chosen = time.monotonic()
        self.h.ui.command(MENU_COM2)
        com2.wait_received(STATUS_REQUEST, timeout=WIRE_TIMEOUT_S)
        self.assertLess(time.monotonic() - chosen, SETTLE_TIMEOUT_S)
        self.assert_wire(com2, STATUS_REQUEST)
        self.wait_caption(caption_for("COM2"))
        self.assertEqual(self.log_lines(), [LOG_CREATE, LOG_SENT_STATUS])

        # Keys now reach COM2 only; COM1 was closed and is no longer read.
        self.h.ui.click(SET_KEY)
        self.assert_wire(com2, STATUS_REQUEST + wire(KEY_CODES[SET_KEY]))
        com1.send("OLD;")
        com2.send("NEW;")
        self.wait_logged_as_received("NEW;")
        self.assert_wire(com1, STATUS_REQUEST)
        self.assertNotIn("OLD;", self.received_in_log())

    def test_missing_port_is_refused_and_the_old_connection_carries_on(self):
        com1 = self.h.simulator("COM1")
        self.start_connected(com1)
        expected = STATUS_REQUEST
        for item_id, shown in ((MENU_COM12, "COM12"), (MENU_COM3, "COM3")):
            with self.subTest(port=shown):
                self.h.ui.command(item_id)
                self.expect_box(CANNOT_OPEN + shown)
                self.assertEqual(self.caption(), caption_for("COM1"))
                self.h.ui.click(HOME_KEY)
                expected += wire(KEY_CODES[HOME_KEY])
                self.assert_wire(com1, expected)
                reply = "AFTER%s;" % shown
                com1.send(reply)
                self.wait_logged_as_received(reply)
                self.assertEqual(self.caption(), caption_for("COM1"))

    def test_choosing_the_open_port_is_refused_and_the_connection_carries_on(self):
        com1 = self.h.simulator("COM1")
        self.start_connected(com1)
        self.h.ui.command(MENU_COM1)
        self.expect_box(CANNOT_OPEN + "COM1")
        self.assertEqual(self.caption(), caption_for("COM1"))
        # No second status request: the port was neither reopened nor reset.
        self.h.ui.click(CALIBRATION_KEY)
        self.assert_wire(com1, STATUS_REQUEST + wire(KEY_CODES[CALIBRATION_KEY]))
        com1.send("STILL;")
        self.wait_logged_as_received("STILL;")

    def test_port_chosen_after_a_failed_start_is_connected_and_polled(self):
        com2 = self.h.simulator("COM2")
        self.start_without_port("COM1")
        self.h.ui.command(MENU_COM2)
        self.wait_caption(caption_for("COM2"))
        self.assert_wire(com2, STATUS_REQUEST)
        com2.send("HELLO;")
        self.wait_logged_as_received("HELLO;")
        self.h.ui.command(MENU_AUTO)
        self.assert_wire(com2, STATUS_REQUEST + wire(MENU_CODES[MENU_AUTO]))
        self.assertEqual(self.log_lines(), [LOG_CREATE, LOG_SENT_STATUS, ("R", "HELLO;"),
                                            ("S", MENU_CODES[MENU_AUTO] + TERMINATOR)])


class NoPortTest(LinkTestCase):
    """No controller on the saved port; a controller waits unopened on COM2."""

    def test_every_send_without_a_port_is_refused_with_a_box(self):
        self.h.write_settings(DEBUG=1)
        witness = self.h.simulator("COM2")
        program = self.start_without_port("COM1")
        presses = [("click", key_id, KEY_CODES[key_id])
                   for key_id in (POWER_KEY, AUTO_KEY, SET_KEY, DOWN_KEY)]
        presses += [("command", item_id, MENU_CODES[item_id])
                    for item_id in (MENU_7MHZ, MENU_POWER_ON, MENU_SET, MENU_CALIBRATION)]
        for how, item_id, code in presses:
            with self.subTest(id=item_id):
                getattr(self.h.ui, how)(item_id)
                self.expect_box(PORT_UNAVAILABLE)
                # The code still passes through the command field.
                self.assertEqual(self.h.ui.text(COMMAND_FIELD)["text"], code)
                self.assertEqual(self.caption(), CONNECTION_ERROR_CAPTION)
        self.assertEqual(self.h.ui.boxes()["boxes"], [])
        self.assertEqual(witness.received(), b"")
        self.assertEqual(self.log_lines(), [LOG_CREATE])

        self.h.ui.close()
        self.assertEqual(program.wait_exit(EXIT_TIMEOUT_S), 0)
        self.assertEqual(witness.received(), b"")
        # No port ever opened: the name read at start is saved back.
        self.assertEqual(self.h.read_settings().get("COMPORT"), "COM1")
        self.assertEqual(self.log_lines(), [LOG_CREATE, LOG_DESTROY])


class ExitTest(LinkTestCase):

    def test_exit_ends_with_code_0_and_saves_the_last_port_opened(self):
        self.h.write_settings(DEBUG=1)
        com1 = self.h.simulator("COM1")
        com12 = self.h.simulator("COM12")
        program = self.start_connected(com1)
        self.h.ui.command(MENU_COM12)
        self.wait_caption(caption_for("COM12"))
        self.assert_wire(com12, STATUS_REQUEST)
        self.h.ui.command(MENU_EXIT)
        self.assertEqual(program.wait_exit(EXIT_TIMEOUT_S), 0)
        self.assertEqual(self.h.read_settings(),
                         {"COMPORT": r"\\.\COM12", "KEEPALIVE": "0", "DEBUG": "1"})
        self.assertEqual(self.log_lines()[-1], LOG_DESTROY)
        self.assert_wire(com12, STATUS_REQUEST)
        self.assert_wire(com1, STATUS_REQUEST)


def cpu_share(pid, seconds):
    """The share of one core the process used over the next few seconds."""
    before, started = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(pid) - before) / (time.monotonic() - started)


class AdapterTest(LinkTestCase):
    """The USB adapter pulled out and plugged back in while the program runs."""

    def test_pulled_adapter_goes_quiet_and_choosing_its_port_again_reconnects(self):
        self.h.write_settings(COMPORT="COM3")
        com3 = self.h.simulator("COM3")
        program = self.start_connected(com3)
        com3.send(STATUS_40M)
        panel = self.h.ui.waittext(DISPLAY_PANEL, "7.050 MHz")["text"]

        # Pulled out: no box, the panel and the caption as they were, a key press
        # goes nowhere without a word, and the dead line is not read.
        com3.hangup()
        self.h.ui.click(AUTO_KEY)
        self.assertLess(cpu_share(program.pid, GONE_CPU_WINDOW_S), GONE_CPU_LIMIT)
        self.assertEqual(self.h.ui.boxes()["boxes"], [])
        self.assertEqual(self.h.ui.text(DISPLAY_PANEL)["text"], panel)
        self.assertEqual(self.caption(), caption_for("COM3"))

        # Still out: its port cannot be opened.
        self.h.ui.command(MENU_COM3)
        self.expect_box(CANNOT_OPEN + "COM3")

        # Plugged back: choosing the port connects afresh and the panel follows.
        com3.plug()
        self.h.ui.command(MENU_COM3)
        self.assert_wire(com3, STATUS_REQUEST * 2)
        com3.send(STATUS_20M)
        self.h.ui.waittext(DISPLAY_PANEL, "14.150 MHz")
        self.assertEqual(self.h.ui.boxes()["boxes"], [])
        self.assertEqual(self.caption(), caption_for("COM3"))

        # Working again, so choosing it once more is refused and the line carries on.
        self.h.ui.command(MENU_COM3)
        self.expect_box(CANNOT_OPEN + "COM3")
        self.h.ui.click(SET_KEY)
        self.assert_wire(com3, STATUS_REQUEST * 2 + wire(KEY_CODES[SET_KEY]))
        self.h.ui.command(MENU_EXIT)
        self.assertEqual(program.wait_exit(EXIT_TIMEOUT_S), 0)
        self.assertEqual(self.h.read_settings().get("COMPORT"), "COM3")


class KeepAliveTest(LinkTestCase):

    def assert_marks(self, enabled):
        self.wait_checked(MENU_KEEPALIVE_ON, enabled)
        self.wait_checked(MENU_KEEPALIVE_OFF, not enabled)

    def test_keepalive_menu_moves_the_check_mark_and_the_interval_is_saved(self):
        self.h.simulator("COM1")
        program = self.h.start()
        self.h.ui.find(MAIN_WINDOW_TIMEOUT_MS)
        self.assert_marks(enabled=False)
        for step, (item_id, enabled) in enumerate(((MENU_KEEPALIVE_ON, True),
                                                   (MENU_KEEPALIVE_ON, True),
                                                   (MENU_KEEPALIVE_OFF, False),
                                                   (MENU_KEEPALIVE_ON, True))):
            with self.subTest(step=step, item=item_id):
                self.h.ui.command(item_id)
                self.assert_marks(enabled)
        self.h.ui.command(MENU_EXIT)
        self.assertEqual(program.wait_exit(EXIT_TIMEOUT_S), 0)
        self.assertEqual(self.h.read_settings().get("KEEPALIVE"), str(KEEPALIVE_MENU_MS))

    def keepalive_times(self, sim):
        """The record times (ms) at which each keep-alive request was complete."""
        times = []
        data = b""
        for ms, kind, detail in sim.events():
            if kind != "rx":
                continue
            data += bytes.fromhex(detail)
            while len(times) < data.count(KEEP_ALIVE_REQUEST):
                times.append(ms)
        return times

    def first_byte_time(self, sim):
        return next(ms for ms, kind, _ in sim.events() if kind == "rx")

    def test_keepalive_requests_come_every_interval_and_stop_when_disabled(self):
        self.h.write_settings(KEEPALIVE=KEEPALIVE_SETTING_MS)
        sim = self.h.simulator("COM1")
        program = self.h.start()
        self.h.ui.find(MAIN_WINDOW_TIMEOUT_MS)
        self.assert_marks(enabled=True)
        wait_until(lambda: len(self.keepalive_times(sim)) >= 3, 4 * KEEPALIVE_MAX_GAP_S,
                   "three keep-alive requests (received %r)" % sim.received())
        received = sim.received()
        self.assertTrue(received.startswith(STATUS_REQUEST + KEEP_ALIVE_REQUEST), received)
        self.assertEqual(received.replace(KEEP_ALIVE_REQUEST, b""), STATUS_REQUEST)
        # The status request came at the open, a full period before the first tick.
        times = self.keepalive_times(sim)[:3]
        first_wait = (times[0] - self.first_byte_time(sim)) / 1000
        self.assertGreaterEqual(first_wait, KEEPALIVE_MIN_GAP_S)
        gaps = [(later - earlier) / 1000 for earlier, later in zip(times, times[1:])]
        for gap in gaps:
            self.assertGreaterEqual(gap, KEEPALIVE_MIN_GAP_S, gaps)
            self.assertLessEqual(gap, KEEPALIVE_MAX_GAP_S, gaps)

        self.h.ui.command(MENU_KEEPALIVE_OFF)
        self.h.ui.command(FENCE_MENU)
        sim.wait_received(FENCE_BYTES)
        self.assert_marks(enabled=False)
        after_fence = sim.received()
        time.sleep(KEEPALIVE_SILENCE_S)  # absence needs more than two periods of quiet
        self.h.ui.command(FENCE_MENU)
        self.assert_wire(sim, after_fence + FENCE_BYTES)

        self.h.ui.close()
        self.assertEqual(program.wait_exit(EXIT_TIMEOUT_S), 0)
        self.assertEqual(self.h.read_settings().get("KEEPALIVE"), "0")
