"""The Adjust window against the controller: refused while the motor runs, the window
and its seventeen controls, the opening exchange, the lengths, names and errors the
controller reports, Short, Long and Set on the chosen element, the keys that must not
close it, and both ways of closing it, after which the main poll runs again.

Closing takes two seconds by design (two POWER presses one second apart), so each test
closes the window at most once."""

import re
import time

from harness import wait_until
from test_link_dispatch import LinkTestCase, wire

# -- what the program shows and sends ------------------------------------------------------

ADJUST_MENU = 1072
DISPLAY_PANEL = 1017  # of the main window
RECEIVE_FIELD = 1019

CLOSE = 1037
LENGTH_FIELDS = (1017, 1038, 1039, 1040, 1041, 1042)
CHOICES = (1043, 1044, 1045, 1046, 1047, 1048)
ELE1, ELE3 = CHOICES[0], CHOICES[2]
ALL = 1049
LONG = 1002
SET = 1003
SHORT = 1001

ADJUST_CLASS = "NORMALDLG"
ADJUST_CAPTION = "Adjust"
ADJUST_OUTER_SIZE = (304, 229)
WS_CLIPSIBLINGS = 0x04000000  # added by the system to every top-level window
ADJUST_STYLE = 0x10C80000  # WS_VISIBLE | WS_CAPTION | WS_SYSMENU

CHILD = 0x50000000  # WS_CHILD | WS_VISIBLE
WS_TABSTOP = 0x00010000
WS_GROUP = 0x00020000
BS_DEFPUSHBUTTON = 0x1
BS_AUTORADIOBUTTON = 0x9
BS_NOTIFY = 0x4000
KEY = CHILD | WS_TABSTOP
CHOICE = CHILD | BS_AUTORADIOBUTTON

# In creation (and tab) order: id, class, style, x, y, w, h, text once open. Opening
# with nothing kept yet gives the choices and length fields the kept (empty) texts.
ADJUST_CONTROLS = [
    (CLOSE, "BUTTON", KEY | BS_DEFPUSHBUTTON, 210, 159, 75, 25, "Close"),
    (1017, "STATIC", CHILD, 100, 13, 50, 12, ""),
    (1038, "STATIC", CHILD, 100, 38, 50, 12, ""),
    (1039, "STATIC", CHILD, 100, 63, 50, 12, ""),
    (1040, "STATIC", CHILD, 100, 88, 50, 12, ""),
    (1041, "STATIC", CHILD, 100, 113, 50, 12, ""),
    (1042, "STATIC", CHILD, 100, 138, 50, 12, ""),
    (1043, "BUTTON", CHOICE | WS_GROUP, 16, 13, 80, 15, ""),
    (1044, "BUTTON", CHOICE, 15, 38, 80, 15, ""),
    (1045, "BUTTON", CHOICE, 15, 63, 80, 15, ""),
    (1046, "BUTTON", CHOICE, 15, 88, 80, 15, ""),
    (1047, "BUTTON", CHOICE, 15, 113, 80, 15, ""),
    (1048, "BUTTON", CHOICE, 15, 138, 80, 15, ""),
    (ALL, "BUTTON", CHOICE, 15, 163, 80, 15, "ALL"),
    (LONG, "BUTTON", KEY, 210, 10, 75, 25, "Long"),
    (SET, "BUTTON", KEY, 210, 50, 75, 25, "Set"),
    (SHORT, "BUTTON", KEY | BS_NOTIFY, 210, 90, 75, 25, "Short"),
]

STATUS_REQUEST = b"SR;"
LOCK = wire("Lock")
NAMES_REQUEST = wire("Ea")
LENGTHS_REQUEST = wire("Cp06")
POWER_LONG_PRESS = wire("B7FNLP")
LENGTHS_ANSWER = "Cp06,11.10,11.20,11.30,11.40,11.50,11.60;"
LENGTHS_SHOWN = ["11.10m", "11.20m", "11.30m", "11.40m", "11.50m", "11.60m"]
NAMES = ["Ele1    ", "Ele2    ", "Ele3    ", "Ele4    ", " " * 8, " " * 8]
NAMES_ANSWER = "Ea" + "".join(NAMES) + ";"

# The controller as the scripted tests start it: on, AUTO, NORMAL, on 40 m.
STATUS = "Pw1;Bm1;Tm0;Fq40m    7.050 MHz;"
MAIN_PANEL = " AUTO      NORMAL\r\n 40m    7.050 MHz"
# While the window is open: MANUAL, and "Locked " with the last nine characters.
ADJUST_PANEL = " MANUAL    NORMAL\r\n Locked 7.050 MHz"
COUNTER = re.compile(r" MANUAL       (\d{3})\r\n Locked 7\.050 MHz")
POWER_OFF_PANEL = " POWER OFF    \r\n "
MODEL_PANEL = " AUTO      NORMAL\r\n 20m   14.100 MHz"
MODEL_ADJUST_PANEL = " MANUAL    NORMAL\r\n Locked 4.100 MHz"
MODEL_COUNTER = re.compile(r" MANUAL       (\d{3})\r\n Locked 4\.100 MHz")
MOTOR_COUNTER = re.compile(r" AUTO         \d{3}\r\n 40m    7\.050 MHz")
# The model's step runs the motor for 0.75 s: the counter stays well below 3 s.
MODEL_COUNTER_MAX = 30

DURING_MOTOR = "During motor operation"
MAX_LENGTH = "Max Length : "

# Timer 1 asks for the lengths 1.5 s after opening; the closing presses are 1 s apart,
# and the window goes 1 s after the second.
LENGTHS_DELAY_S = (1.4, 4.0)
PRESS_GAP_S = (0.9, 2.5)
WINDOW_TIMEOUT_MS = 20000
STATE_TIMEOUT_S = 5.0
CLOSING_TIMEOUT_S = 10.0
EXIT_TIMEOUT_S = 15


def settle(read, done, timeout=STATE_TIMEOUT_S):
    """Reads until done(value) holds or the time is up; the last value read."""
    deadline = time.monotonic() + timeout
    value = read()
    while not done(value) and time.monotonic() < deadline:
        time.sleep(0.02)
        value = read()
    return value


def counter_of(pattern, panel):
    """The motor counter the panel shows, or -1 if it shows none."""
    match = pattern.fullmatch(panel)
    return int(match.group(1)) if match else -1


def rx_times(sim, data):
    """Record times (s) at which each whole copy of data had arrived, in order."""
    times = []
    received = b""
    for ms, kind, detail in sim.events():
        if kind == "rx":
            received += bytes.fromhex(detail)
            while len(times) < received.count(data):
                times.append(ms / 1000)
    return times


class AdjustTestCase(LinkTestCase):
    """Helpers over the link tests' ones: the Adjust window's controls, the panel,
    opening and closing."""

    def adjust_controls(self):
        return {c["id"]: c for c in self.h.ui.controls(adjust=True)["controls"]}

    def panel(self):
        return self.h.ui.text(DISPLAY_PANEL)["text"]

    def wait_panel(self, expected):
        self.assertEqual(settle(self.panel, lambda shown: shown == expected), expected)

    def lengths(self):
        controls = self.adjust_controls()
        return [controls[i]["text"] for i in LENGTH_FIELDS]

    def wait_lengths(self, expected):
        self.assertEqual(settle(self.lengths, lambda shown: shown == expected), expected)

    def open_adjust(self, sim, sent):
        """Chooses Adjust; the window opens over the disabled main window and the
        opening commands are exactly sent."""
        before = sim.received()
        self.h.ui.command(ADJUST_MENU)
        self.h.ui.find(WINDOW_TIMEOUT_MS, adjust=True)
        # The main window is disabled just after the Adjust window shows.
        wait_until(lambda: not self.h.ui.window()["enabled"], STATE_TIMEOUT_S,
                   "the main window disabled")
        self.assert_wire(sim, before + sent)

    def assert_choices(self, names, checked):
        """Captions and enabled states follow the names (eight blanks: no element);
        only the choice checked is checked."""
        controls = self.adjust_controls()
        self.assertEqual([(controls[i]["text"], controls[i]["enabled"]) for i in CHOICES],
                         [(name, name != " " * 8) for name in names])
        self.assertEqual([i for i in CHOICES + (ALL,) if controls[i]["checked"]], [checked])

    def close_adjust_and_check(self, sim, how):
        """Closes the window (how() posts the close): two POWER presses about a second
        apart, the main window enabled before the Adjust window goes, and then the main
        poll reads the controller again."""
        before = sim.received()
        how()
        sim.wait_received(before + POWER_LONG_PRESS, timeout=CLOSING_TIMEOUT_S)
        # The presses come from the window's destruction, which takes two seconds.
        self.assertTrue(self.h.ui.window()["enabled"], "main window still disabled")
        self.assertTrue(self.h.ui.adjust_open(), "the Adjust window went before the main window "
                        "was enabled")
        wait_until(lambda: not self.h.ui.adjust_open(), CLOSING_TIMEOUT_S, "the Adjust window gone")
        self.assert_wire(sim, before + POWER_LONG_PRESS * 2)
        first, second = rx_times(sim, POWER_LONG_PRESS)[-2:]
        self.assertGreaterEqual(second - first, PRESS_GAP_S[0])
        self.assertLessEqual(second - first, PRESS_GAP_S[1])
        self.assertTrue(self.h.ui.window()["enabled"])
        sim.send("Pw0;")
        self.wait_panel(POWER_OFF_PANEL)


class ScriptedAdjustTest(AdjustTestCase):
    """A scripted controller on COM1 that says only what the test sends."""

    def setUp(self):
        super().setUp()
        self.h.write_settings(DEBUG=1)
        self.sim = self.h.simulator("COM1")
        self.start_connected(self.sim)
        self.sim.send(STATUS)
        self.wait_panel(MAIN_PANEL)

    def test_refused_while_the_motor_runs_then_opens_locked_with_its_seventeen_controls(self):
        sim = self.sim
        sim.send("Mt1;")
        self.assertRegex(settle(self.panel, MOTOR_COUNTER.fullmatch), MOTOR_COUNTER)
        self.h.ui.command(ADJUST_MENU)
        boxes = self.h.ui.waitbox(5000)["boxes"]
        self.assertEqual([(b["caption"], b["text"]) for b in boxes], [("ERROR", DURING_MOTOR)])
        # The main poll keeps running under the box.
        sim.send("Mt0;")
        self.wait_panel(MAIN_PANEL)
        self.assertTrue(self.h.ui.answer(1)["closed"])
        self.assertFalse(self.h.ui.adjust_open())
        self.assert_wire(sim, STATUS_REQUEST)

        self.open_adjust(sim, LOCK + NAMES_REQUEST)
        opened = rx_times(sim, LOCK)[0]
        main = self.h.ui.window()
        window = self.h.ui.window(adjust=True)
        left, top, right, bottom = window["rect"]
        self.assertEqual((window["class"].upper(), window["caption"]),
                         (ADJUST_CLASS, ADJUST_CAPTION))
        self.assertEqual((right - left, bottom - top), ADJUST_OUTER_SIZE)
        self.assertEqual(hex(window["style"] & ~WS_CLIPSIBLINGS), hex(ADJUST_STYLE))
        self.assertEqual(window["owner"], main["hwnd"])
        self.assertTrue(window["enabled"])

        controls = self.h.ui.controls(adjust=True)["controls"]
        self.assertEqual([c["id"] for c in controls], [entry[0] for entry in ADJUST_CONTROLS])
        for control, (cid, cls, style, x, y, w, h, text) in zip(controls, ADJUST_CONTROLS):
            with self.subTest(id=cid):
                self.assertEqual(control["class"].upper(), cls)
                # The system gives the checked radio button the tab stop.
                shown_style = control["style"] & ~(WS_TABSTOP if control.get("checked") is not None
                                                   else 0)
                self.assertEqual(hex(shown_style), hex(style))
                self.assertEqual(control["exstyle"], 0)
                self.assertEqual((control["x"], control["y"], control["w"], control["h"]),
                                 (x, y, w, h))
                self.assertEqual(control["text"], text)
                self.assertTrue(control["visible"] and control["enabled"])
        self.assert_choices([""] * 6, ELE1)
        self.assertEqual(self.panel(), ADJUST_PANEL)

        # Timer 1 asks for the lengths once, 1.5 s after opening.
        sim.wait_received(LENGTHS_REQUEST, timeout=STATE_TIMEOUT_S)
        delay = rx_times(sim, LENGTHS_REQUEST)[0] - opened
        self.assertGreaterEqual(delay, LENGTHS_DELAY_S[0])
        self.assertLessEqual(delay, LENGTHS_DELAY_S[1])

        # The answer split across two polls is completed by the second; a status
        # report on the way changes nothing here.
        first_part = "Tm0;" + LENGTHS_ANSWER[:15]
        sim.send(first_part)
        self.wait_logged_as_received(first_part + ";")
        sim.send(LENGTHS_ANSWER[15:])
        self.wait_lengths(LENGTHS_SHOWN)
        sim.send(NAMES_ANSWER)
        settle(self.adjust_controls, lambda controls: controls[ELE1]["text"] == NAMES[0])
        self.assert_choices(NAMES, ELE1)
        self.assertEqual(self.panel(), ADJUST_PANEL)
        self.assert_wire(sim, STATUS_REQUEST + LOCK + NAMES_REQUEST + LENGTHS_REQUEST)

        self.close_adjust_and_check(sim, lambda: self.h.ui.close(adjust=True))
        self.assertEqual(self.h.ui.boxes()["boxes"], [])

    def test_buttons_act_on_the_checked_element_and_errors_are_reported_by_the_window(self):
        sim = self.sim
        self.open_adjust(sim, LOCK + NAMES_REQUEST)
        sim.wait_received(LENGTHS_REQUEST, timeout=STATE_TIMEOUT_S)
        sim.send(NAMES_ANSWER + LENGTHS_ANSWER)
        self.wait_lengths(LENGTHS_SHOWN)
        self.assert_choices(NAMES, ELE1)
        expected = STATUS_REQUEST + LOCK + NAMES_REQUEST + LENGTHS_REQUEST
        self.assert_wire(sim, expected)

        # Esc and Enter reach the window's dialog keyboard handling and are ignored: Set
        # then acts on Ele1, checked at opening.
        self.h.ui.key("esc", adjust=True)
        self.h.ui.key("enter", adjust=True)
        self.h.ui.click(SET, adjust=True)
        expected += wire("Wr00")
        self.assert_wire(sim, expected)
        self.assertTrue(self.h.ui.window(adjust=True)["visible"])
        for choice, button, code in ((ELE3, SHORT, "Ad02Short"), (ALL, LONG, "Ad06Long "),
                                     (ALL, SET, "Wr06")):
            with self.subTest(code=code):
                self.h.ui.click(choice, adjust=True)
                self.h.ui.click(button, adjust=True)
                expected += wire(code)
                self.assert_wire(sim, expected)
                self.assert_choices(NAMES, choice)

        # The motor's running time counts up on the panel until the motor stops.
        sim.send("Mt1;")
        def counter():
            return counter_of(COUNTER, self.panel())

        first = settle(counter, lambda shown: shown >= 1)
        self.assertGreaterEqual(first, 1, "no motor counter on the panel")
        self.assertGreater(settle(counter, lambda shown: shown > first + 1), first + 1)
        sim.send("Mt0;")
        self.wait_panel(ADJUST_PANEL)

        # "Max Length" names the element in the last character, once a poll; codes 2
        # and 3 are silent; a report too short for a code is shown whole. Each box
        # after the first shows that the reports before it showed nothing more.
        sim.send("Er0071;Er0071;")
        self.expect_box(MAX_LENGTH + NAMES[1])
        sim.send("Er0031;Er0021;Er0079;Er1;")
        self.expect_box("Unknown Error (Er1)")
        sim.send("Er0073;")
        self.expect_box(MAX_LENGTH + NAMES[3])
        self.assertEqual(self.h.ui.boxes()["boxes"], [])
        self.assertTrue(self.h.ui.window(adjust=True)["visible"])
        self.assert_wire(sim, expected)

        self.close_adjust_and_check(sim, lambda: self.h.ui.click(CLOSE, adjust=True))

        # The names were kept: opening again asks only for the lock and shows the kept
        # names and lengths at once.
        sim.send(STATUS)
        self.wait_panel(MAIN_PANEL)
        self.open_adjust(sim, LOCK)
        self.assert_choices(NAMES, ELE1)
        self.assertEqual(self.lengths(), LENGTHS_SHOWN)


class ModelAdjustTest(AdjustTestCase):
    """The simulator's controller model on COM1: it names four elements, answers the
    lengths and runs the motor for every step."""

    def setUp(self):
        super().setUp()
        self.sim = self.h.simulator("COM1", model={})
        self.program = self.start_connected(self.sim)
        self.wait_panel(MODEL_PANEL)

    def step_with_counter(self, choice, button, lengths):
        """Checks the choice and presses the button; the panel counts the motor's running
        time until the answer with the new lengths; the counters it showed, in order."""
        counters = []
        self.h.ui.click(choice, adjust=True)
        self.h.ui.click(button, adjust=True)

        def lengths_watching_the_counter():
            shown = counter_of(MODEL_COUNTER, self.panel())
            if shown >= 0:
                counters.append(shown)
            return self.lengths()

        self.assertEqual(settle(lengths_watching_the_counter, lambda shown: shown == lengths),
                         lengths)
        self.assertEqual(self.panel(), MODEL_ADJUST_PANEL)
        return counters

    def test_model_steps_run_the_motor_and_closing_ends_the_lock_even_under_a_box(self):
        sim = self.sim
        self.open_adjust(sim, LOCK + NAMES_REQUEST)
        self.wait_lengths(LENGTHS_SHOWN)
        self.assert_choices(NAMES, ELE1)
        self.assertEqual(self.panel(), MODEL_ADJUST_PANEL)

        # Each step runs the motor for about 0.75 s: the panel counts tenths from 001.
        shorter = ["11.10m", "11.20m", "11.25m", "11.40m", "11.50m", "11.60m"]
        counters = self.step_with_counter(ELE3, SHORT, shorter)
        self.assertTrue(counters, "no motor counter on the panel")
        self.assertEqual(counters, sorted(counters))
        self.assertGreaterEqual(counters[0], 1)
        self.assertLessEqual(counters[-1], MODEL_COUNTER_MAX)
        # Only the four elements there are move.
        longer = ["11.15m", "11.25m", "11.30m", "11.45m", "11.50m", "11.60m"]
        self.assertTrue(self.step_with_counter(ALL, LONG, longer))
        self.h.ui.click(SET, adjust=True)
        self.assert_wire(sim, STATUS_REQUEST + LOCK + NAMES_REQUEST + LENGTHS_REQUEST
                         + wire("Ad02Short") + wire("Ad06Long ") + wire("Wr06"))

        # Closed while one of its error boxes is open: the box goes with it, the
        # controller is switched off and on, and the main poll shows its status.
        sim.send("Er0071;")
        self.assertEqual([box["text"] for box in self.h.ui.waitbox(5000)["boxes"]],
                         [MAX_LENGTH + NAMES[1]])
        before = sim.received()
        self.h.ui.close(adjust=True)
        wait_until(lambda: not self.h.ui.adjust_open(), CLOSING_TIMEOUT_S, "the Adjust window gone")
        self.assert_wire(sim, before + POWER_LONG_PRESS * 2)
        self.wait_panel(MODEL_PANEL)
        self.assertEqual(self.h.ui.boxes()["boxes"], [])
        self.assertTrue(self.h.ui.window()["enabled"])

        # The main window closed under the Adjust window: that one closes first as
        # always, and the program ends.
        self.open_adjust(sim, LOCK)
        before = sim.received()
        self.h.ui.close()
        self.assertEqual(self.program.wait_exit(EXIT_TIMEOUT_S), 0)
        self.assert_wire(sim, before + POWER_LONG_PRESS * 2)
