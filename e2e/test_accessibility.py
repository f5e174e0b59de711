"""The panel as a screen reader reads it, through oleacc from another process: every key
named after its label as a push button, every LED and the step indicator with what it
shows as its value (after a status report, while the motor runs, after a power-off),
each change of those values announced once, the display panel named by its text, and
the Adjust window's length fields named after their elements. Nothing a sighted user
sees changes: every control keeps its class, style and text."""

import re

from harness import wait_until
from test_adjust import (ADJUST_MENU, CLOSE, CLOSING_TIMEOUT_S, LENGTHS_REQUEST, LOCK,
                         NAMES_REQUEST, POWER_LONG_PRESS)
from test_link_dispatch import LinkTestCase, STATUS_REQUEST
from test_main_window import CONTROLS, TEST_KEY_ID

ROLE_PUSHBUTTON = 0x2B
ROLE_INDICATOR = 0x27
ROLE_TEXT = 0x2A
STATE_READONLY = 0x40

KEYS = {
    1001: "POWER", 1002: "AUTO", 1003: "MANUAL", 1004: "HOME", 1005: "CALIBRATION",
    1006: "MODE", 1007: "7M", 1008: "10M", 1009: "14M", 1010: "18M", 1011: "21M",
    1012: "24M", 1013: "28M", 1014: "50M", 1015: "SET", 1016: "CANCEL", 1033: "UP",
    1034: "DOWN", 1036: "STEP",
}
BAND_LEDS = list(range(1021, 1029))
LED_7M, LED_10M = 1021, 1022
POWER_LED, NORMAL_LED, REVERSE_LED, DIPOLE_LED = 1029, 1030, 1031, 1032
STEP_INDICATOR = 1035
LAMPS = {
    **{led: "%dM band" % band for led, band in zip(BAND_LEDS, (7, 10, 14, 18, 21, 24, 28, 50))},
    POWER_LED: "power", NORMAL_LED: "NORMAL", REVERSE_LED: "180\u00b0", DIPOLE_LED: "DIPOLE",
    STEP_INDICATOR: "tuning step",
}
DISPLAY_PANEL = 1017

ALL_OFF = {**{lamp: "off" for lamp in LAMPS}, STEP_INDICATOR: "none"}
# The beam REVERSE (180°) on 30 m, which lights the 10M key's LED.
STATUS_30M = b"Pw1;Bm2;Tm0;Fq30m   10.120 MHz;"
PANEL_30M = " AUTO     REVERSE\r\n 30m   10.120 MHz"
AFTER_STATUS = {**ALL_OFF, LED_10M: "blue", POWER_LED: "orange", REVERSE_LED: "green",
                STEP_INDICATOR: "40K"}
MOTOR_PANEL = re.compile(r" AUTO         \d{3}\r\n 30m   10\.120 MHz")
MOTOR_RUNNING = {**AFTER_STATUS, REVERSE_LED: "blinking"}
PANEL_POWER_OFF = " POWER OFF    \r\n "
# The band LED keeps its state; power, beam and step go dark.
AFTER_POWER_OFF = {**ALL_OFF, LED_10M: "blue"}

LENGTH_FIELDS = (1017, 1038, 1039, 1040, 1041, 1042)
NAMES = ["DRIVEN  ", "REFLECTR", "DIR 1   ", "DIR 2   ", " " * 8, " " * 8]
NAMES_ANSWER = "Ea" + "".join(NAMES) + ";"
LENGTHS_ANSWER = "Cp06,11.10,11.20,11.30,11.40,11.50,11.60;"
NAMED_FIELDS = [("DRIVEN length", "11.10m"), ("REFLECTR length", "11.20m"),
                ("DIR 1 length", "11.30m"), ("DIR 2 length", "11.40m"),
                ("Ele5 length", "11.50m"), ("Ele6 length", "11.60m")]
STATIC_TEXT = 0x50000000  # WS_CHILD | WS_VISIBLE
CO_E_OBJNOTCONNECTED = 0x800401FD

MAIN_WINDOW_TIMEOUT_MS = 20000
STATE_TIMEOUT_S = 5.0
# Announcements reach the driver's hook as messages soon after the read that made them.
ANNOUNCED_MS = 300
BLINKS_MS = 600  # a few silent ticks, each of which blinks the beam LED


class AccessibilityTest(LinkTestCase):
    """A scripted controller on COM1; the driver reads the controls as a reader would."""

    expected_seconds = 15.0

    def setUp(self):
        super().setUp()
        self.sim = self.h.simulator("COM1")
        self.start_connected(self.sim)

    def readings(self, control_ids, adjust=False):
        return self.h.ui.accessible(control_ids, adjust=adjust)

    def values(self):
        return {lamp: read["value"] for lamp, read in self.readings(LAMPS).items()}

    def wait_panel(self, done, what):
        """Until the display panel's text satisfies done: the panel is redrawn once the
        messages of a read are all in, so the LEDs and step indicator then show them."""
        wait_until(lambda: done(self.h.ui.text(DISPLAY_PANEL)["text"]), STATE_TIMEOUT_S,
                   "the display panel showing %s" % what)

    def wait_panel_text(self, expected):
        self.wait_panel(lambda shown: shown == expected, repr(expected))

    def test_keys_leds_and_step_indicator_read_with_the_panel_and_nothing_seen_changes(self):
        # Listening starts first: the program learns of a new hook at its next look at its
        # message queue, and the readings below give it ample time for that.
        self.assertEqual(self.h.ui.valuechanges(), [])
        controls = {c["id"]: c for c in self.h.ui.controls()["controls"]}
        self.assertEqual(sorted(controls), sorted(CONTROLS))
        for control_id, (cls, style, *_) in CONTROLS.items():
            with self.subTest(id=control_id):
                self.assertEqual((controls[control_id]["class"].upper(),
                                  hex(controls[control_id]["style"])), (cls, hex(style)))
                if control_id != DISPLAY_PANEL:
                    self.assertEqual(controls[control_id]["text"],
                                     "Test" if control_id == TEST_KEY_ID else "")

        self.assertEqual({key: (read["name"], read["role"], read["roletext"], read["value"])
                          for key, read in self.readings(KEYS).items()},
                         {key: (name, ROLE_PUSHBUTTON, "push button", None)
                          for key, name in KEYS.items()})
        self.assertEqual({lamp: (read["name"], read["role"], read["roletext"], read["value"])
                          for lamp, read in self.readings(LAMPS).items()},
                         {lamp: (name, ROLE_INDICATOR, "indicator", ALL_OFF[lamp])
                          for lamp, name in LAMPS.items()})

        self.assertEqual(self.h.ui.valuechanges(), [], "announced while only read")

        self.sim.send(STATUS_30M)
        self.wait_panel_text(PANEL_30M)
        self.assertEqual(self.values(), AFTER_STATUS)
        self.assertEqual(self.h.ui.valuechanges(ANNOUNCED_MS),
                         [LED_10M, POWER_LED, REVERSE_LED, STEP_INDICATOR])
        # The display panel keeps the system's own reading: its text is its name.
        self.assertEqual(self.readings([DISPLAY_PANEL])[DISPLAY_PANEL]["name"], PANEL_30M)

        self.sim.send(b"Mt1;")
        self.wait_panel(MOTOR_PANEL.fullmatch, "the motor's counter")
        self.assertEqual(self.values(), MOTOR_RUNNING)
        self.assertEqual(self.h.ui.valuechanges(ANNOUNCED_MS), [REVERSE_LED])
        # The LED blinks on the silent ticks; what it says, and was told, stays.
        self.assertEqual(self.h.ui.valuechanges(BLINKS_MS), [])
        self.assertEqual(self.readings([REVERSE_LED])[REVERSE_LED]["value"], "blinking")
        self.sim.send(b"Pw0;")
        self.wait_panel_text(PANEL_POWER_OFF)
        self.assertEqual(self.values(), AFTER_POWER_OFF)
        self.assertEqual(self.h.ui.valuechanges(ANNOUNCED_MS),
                         [POWER_LED, REVERSE_LED, STEP_INDICATOR])

        self.assertEqual({c["id"]: (c["class"], c["style"], c["text"])
                          for c in self.h.ui.controls()["controls"] if c["id"] != DISPLAY_PANEL},
                         {i: (c["class"], c["style"], c["text"])
                          for i, c in controls.items() if i != DISPLAY_PANEL})

    def test_adjust_length_fields_are_named_after_their_elements(self):
        self.sim.send(STATUS_30M)
        self.wait_panel_text(PANEL_30M)
        self.h.ui.command(ADJUST_MENU)
        self.h.ui.find(MAIN_WINDOW_TIMEOUT_MS, adjust=True)
        reads = self.readings(LENGTH_FIELDS, adjust=True)
        self.assertEqual([(reads[f]["name"], reads[f]["role"], reads[f]["value"],
                           bool(reads[f]["state"] & STATE_READONLY)) for f in LENGTH_FIELDS],
                         [("Ele%d length" % n, ROLE_TEXT, "", True) for n in range(1, 7)])

        self.assert_wire(self.sim, STATUS_REQUEST + LOCK + NAMES_REQUEST + LENGTHS_REQUEST)
        self.sim.send(NAMES_ANSWER + LENGTHS_ANSWER)
        wait_until(lambda: self.h.ui.text(LENGTH_FIELDS[-1], adjust=True)["text"] == "11.60m",
                   STATE_TIMEOUT_S, "the lengths shown")
        reads = self.readings(LENGTH_FIELDS, adjust=True)
        self.assertEqual([(reads[f]["name"], reads[f]["value"]) for f in LENGTH_FIELDS],
                         NAMED_FIELDS)
        fields = {c["id"]: c for c in self.h.ui.controls(adjust=True)["controls"]}
        self.assertEqual([(fields[f]["class"].upper(), fields[f]["style"], fields[f]["text"])
                          for f in LENGTH_FIELDS],
                         [("STATIC", STATIC_TEXT, value) for _, value in NAMED_FIELDS])

        # A reader still holding a field's object when the window closes gets an error
        # from it, and the program goes on.
        self.h.ui.hold(LENGTH_FIELDS[0], adjust=True)
        self.assertEqual(self.h.ui.held()["name"], NAMED_FIELDS[0][0])
        before = self.sim.received()
        self.h.ui.click(CLOSE, adjust=True)
        wait_until(lambda: not self.h.ui.adjust_open(), CLOSING_TIMEOUT_S, "the Adjust window gone")
        self.assert_wire(self.sim, before + POWER_LONG_PRESS * 2)
        held = self.h.ui.held()
        self.assertEqual((held["name"], held["nameresult"], held["value"], held["role"]),
                         (None, CO_E_OBJNOTCONNECTED, None, None))
        self.sim.send(STATUS_30M)
        self.wait_panel_text(PANEL_30M)
        self.assertEqual(self.values(), AFTER_STATUS)
