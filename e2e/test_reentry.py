"""Handlers entered again from inside a box: the controller's error reports and the
keep-alive ticks while the band-reset question is open, and the main window closed
while a box is open, after which nothing more may reach the controller or the screen
and the program must end at once with exit code 0.

Boxes have no owner, so their own message loops run the main window's timers and
commands: poll ticks, keep-alive ticks and a close all run nested inside them."""

import time

from harness import wait_until
from test_maintenance import (CONFIRM, DEFAULTS_7MHZ, DEFAULTS_CAPTION, FREQUENCY_LARGE_STEP,
                              IDNO, IDOK, IDYES, PANEL_40M, QUESTION_7MHZ, CANCEL_KEY,
                              LONG_PRESS_7MHZ, STATUS_REQUEST, MaintenanceTestCase, messages,
                              times_of)
from test_settings_log import CRASH_SIGNS, LOG_CREATE, LOG_DESTROY, bodies, log_entries

# -- what the program shows and sends ---------------------------------------------------

MENU_RESET_CURRENT_BAND = 1070
MENU_RESET_ALL_BANDS = 1071
MENU_ADJUST = 1072
MENU_KEEPALIVE_OFF = 1090
MENU_EXIT = 1092
KEEP_ALIVE_REQUEST = b"Md;"
LOCK = b"Lock;"
NAMES_REQUEST = b"Ea;"
LENGTHS_REQUEST = b"Cp06;"
POWER_LONG_PRESS = b"B7FNLP;"

ERROR_CAPTION = "ERROR"
REPORTS = "Er002;Er005;Er001;"
REPORT_TEXTS = ["During motor operation or HOME mode",
                "During motor operation or CALIBRATION mode",
                "Received an unknown command"]
ALL_BANDS_QUESTION = "Reset the all band setting.\rIs it OK?"
DURING_MOTOR = "During motor operation"
MAX_LENGTH_ELE2 = "Max Length : Ele2    "
BEAM_REVERSE = " AUTO     REVERSE\r"
BEAM_NORMAL = " AUTO      NORMAL\r"
CANCELED = "Canceled"

CONTROLLER = {"band": "40m"}

# -- time limits ------------------------------------------------------------------------

START_TIMEOUT_MS = 20000
ADJUST_TIMEOUT_MS = 20000
STATE_TIMEOUT_S = 5.0
HOLD_S = 2.4  # a box held open this long sees two keep-alive ticks (1.1 s apart)
KEEPALIVE_MIN_GAP_S = 0.95  # a 1 s period, then 100 ms before the request
# What the program may take from the close to its end where shutdown follows the close
# at once: less than the shortest wait of a procedure (1 s).
PROMPT_EXIT_S = 0.9
ADJUST_CLOSING_S = 2.0  # the Adjust window's two POWER presses, 1 s apart, then 1 s
EXIT_TIMEOUT_S = 10


class ReentryTestCase(MaintenanceTestCase):

    def boxes(self):
        return [(box["caption"], box["text"]) for box in self.h.ui.boxes()["boxes"]]

    def wait_boxes(self, expected):
        """The open boxes, oldest first, are expected [(caption, text)]."""
        wait_until(lambda: self.boxes() == expected, STATE_TIMEOUT_S,
                   lambda: "boxes %r (open: %r)" % (expected, self.boxes()))

    def ask_band_reset(self):
        self.h.ui.command(MENU_RESET_CURRENT_BAND)
        self.expect_box(CONFIRM, QUESTION_7MHZ, [IDYES, IDNO])

    def log(self):
        return bodies(log_entries(self.h.log_path))

    def received_in_log(self):
        return "".join(body for kind, body in self.log() if kind == "R")

    def sent_by_controller(self):
        return b"".join(data for _, data in self.sim.chunks("tx")).decode("latin-1")

    def assert_log_matches_the_wire(self):
        """The log's send lines are exactly what the controller received after the
        status request of the connection (sent before the setting is read)."""
        received = self.sim.received()
        self.assertTrue(received.startswith(STATUS_REQUEST), received)
        self.assertEqual("".join(body for kind, body in self.log() if kind == "S").encode(),
                         received[len(STATUS_REQUEST):])


class BoxOverQuestionTest(ReentryTestCase):
    """The band-reset question open on 40 m with keep-alive at its smallest period."""

    expected_seconds = 25.0

    def test_error_reports_and_keepalive_ticks_under_the_question_and_the_reset_goes_on(self):
        self.h.write_settings(COMPORT="COM1", KEEPALIVE=1000, DEBUG=1)
        self.start_with(self.h.simulator("COM1", model=CONTROLLER), PANEL_40M)

        with self.subTest("reports over the question, then Yes"):
            self.ask_band_reset()
            # The poll runs under the question: the panel follows the controller.
            self.sim.send("Bm2;")
            self.wait_panel(lambda text: text.startswith(BEAM_REVERSE), "REVERSE")
            shown = times_of(self.sim, "tx", "Bm2;")[0]
            time.sleep(HOLD_S)
            # One box per report, in order, each over the question; the reports after
            # a box wait in their read until it is closed.
            self.sim.send(REPORTS + "Bm1;")
            self.wait_boxes([(CONFIRM, QUESTION_7MHZ), (ERROR_CAPTION, REPORT_TEXTS[0])])
            reported = times_of(self.sim, "tx", "Er002;")[0]
            time.sleep(HOLD_S)
            # Keep-alive went on under the question and goes on under the report's box.
            ticks = times_of(self.sim, "rx", KEEP_ALIVE_REQUEST)
            for since, until in ((shown, reported), (reported, float("inf"))):
                under = [t for t in ticks if since < t < until]
                self.assertGreaterEqual(len(under), 2, "keep-alive under a box: %r" % ticks)
            self.assertTrue(self.panel().startswith(BEAM_REVERSE), self.panel())
            for text in REPORT_TEXTS:
                self.wait_boxes([(CONFIRM, QUESTION_7MHZ), (ERROR_CAPTION, text)])
                self.answer(IDOK)
            self.wait_boxes([(CONFIRM, QUESTION_7MHZ)])
            self.wait_panel(lambda text: text.startswith(BEAM_NORMAL), "NORMAL again")
            self.answer(IDYES)
            self.expect_box(DEFAULTS_CAPTION, DEFAULTS_7MHZ, [IDOK])
            self.answer(IDOK)
            self.wait_panel(lambda text: text.endswith(FREQUENCY_LARGE_STEP), "the frequency")

        with self.subTest("a report over the question, then No"):
            self.ask_band_reset()
            self.sim.send("Er001;")
            self.wait_boxes([(CONFIRM, QUESTION_7MHZ), (ERROR_CAPTION, REPORT_TEXTS[2])])
            self.answer(IDOK)
            self.wait_boxes([(CONFIRM, QUESTION_7MHZ)])
            self.answer(IDNO)
            self.wait_panel(lambda text: text.endswith("\r " + CANCELED), CANCELED)
            wait_until(lambda: self.sim.received().endswith(CANCEL_KEY), STATE_TIMEOUT_S,
                       "CANCEL after No")
            self.sim.send("Fq40m    7.050 MHz;")
            self.wait_panel(lambda text: text == PANEL_40M, "the status after the reset")

        # Every keep-alive request once a tick, never two in one.
        sent = [message for _, message in messages(self.sim, "rx")
                if message != KEEP_ALIVE_REQUEST.decode()]
        self.assertEqual(sent, ["SR;", "B0BDLP;", "B5FNSP;", "B0BDLP;", "B6FNSP;"])
        ticks = times_of(self.sim, "rx", KEEP_ALIVE_REQUEST)
        self.assertGreaterEqual(min(b - a for a, b in zip(ticks, ticks[1:])),
                                KEEPALIVE_MIN_GAP_S, ticks)
        # Every byte the controller sent was read once, in order, whatever the nesting.
        self.h.ui.command(MENU_KEEPALIVE_OFF)
        wait_until(lambda: self.received_in_log() == self.sent_by_controller(),
                   STATE_TIMEOUT_S, lambda: "the log's reads %r are what the controller "
                   "sent %r" % (self.received_in_log(), self.sent_by_controller()))
        self.h.ui.close()
        self.assertEqual(self.h.programs[0].wait_exit(EXIT_TIMEOUT_S), 0)
        self.assert_log_matches_the_wire()


class CloseUnderBoxTest(ReentryTestCase):
    """The main window closed while each kind of box is open, one program start each,
    each with a controller of its own on its own port."""

    expected_seconds = 25.0
    last_pid = None

    def start_on(self, port):
        self.h.write_settings(COMPORT=port, DEBUG=1)
        sim = self.h.simulator(port, model=CONTROLLER)
        if self.h.log_path.exists():
            self.h.log_path.unlink()
        program = self.h.start()
        # The one before has ended: the window found is the new program's.
        window = self.h.ui.find(START_TIMEOUT_MS)
        self.assertNotEqual(window["pid"], self.last_pid)
        self.last_pid = window["pid"]
        self.sim = sim
        self.wait_panel(lambda text: text == PANEL_40M, "the status of the controller")
        return program

    def open_adjust(self):
        self.h.ui.command(MENU_ADJUST)
        self.h.ui.find(ADJUST_TIMEOUT_MS, adjust=True)
        wait_until(lambda: self.sim.received().endswith(LENGTHS_REQUEST), STATE_TIMEOUT_S,
                   "the lengths asked for")

    def assert_ended(self, program, close, wire, work_s=0.0):
        """close() closes the main window under the open box: the program ends with exit
        code 0 within work_s (what shutdown does by design first) and a moment, having
        written exactly wire in all and logged nothing after its Destroy line."""
        closed = time.monotonic()
        close()
        self.assertEqual(program.wait_exit(EXIT_TIMEOUT_S), 0)
        self.assertLess(time.monotonic() - closed, work_s + PROMPT_EXIT_S,
                        "the program went on after its window had gone")
        output = program.output_path.read_text(errors="replace")
        for sign in CRASH_SIGNS:
            self.assertNotIn(sign, output)
        self.assertEqual(self.sim.received(), wire)
        entries = self.log()
        self.assertEqual((entries[0], entries[-1]), (LOG_CREATE, LOG_DESTROY))
        self.assertEqual(entries.count(LOG_DESTROY), 1)
        self.assert_log_matches_the_wire()

    def test_closed_under_each_box_ends_at_once_and_the_next_start_starts(self):
        cases = ("report", "band question", "all-band question", "Adjust report",
                 "Max Length", "Adjust refused")
        for number, case in enumerate(cases, start=1):
            with self.subTest(case):
                program = self.start_on("COM%d" % number)
                if case == "report":
                    self.sim.send("Er002;Er005;")
                    self.wait_boxes([(ERROR_CAPTION, REPORT_TEXTS[0])])
                    # The second report's box never shows.
                    self.assert_ended(program, self.h.ui.altf4, STATUS_REQUEST)
                elif case == "band question":
                    self.ask_band_reset()
                    # Neither CANCEL nor the factory-defaults box follows.
                    self.assert_ended(program, lambda: self.h.ui.command(MENU_EXIT),
                                      STATUS_REQUEST + LONG_PRESS_7MHZ)
                elif case == "all-band question":
                    self.h.ui.command(MENU_RESET_ALL_BANDS)
                    self.wait_boxes([(CONFIRM, ALL_BANDS_QUESTION)])
                    self.assert_ended(program, self.h.ui.close, STATUS_REQUEST)
                elif case == "Adjust report":
                    self.open_adjust()
                    self.sim.send("Er001;")
                    self.wait_boxes([(ERROR_CAPTION, REPORT_TEXTS[2])])
                    # Alt+F4 does nothing to the disabled main window.
                    self.h.ui.altf4()
                    time.sleep(0.3)
                    self.assertTrue(program.running())
                    self.assertEqual(self.boxes(), [(ERROR_CAPTION, REPORT_TEXTS[2])])
                    # Closed all the same: the Adjust window ends the lock on its way.
                    self.assert_ended(program, self.h.ui.close,
                                      STATUS_REQUEST + LOCK + NAMES_REQUEST + LENGTHS_REQUEST
                                      + POWER_LONG_PRESS * 2, ADJUST_CLOSING_S)
                elif case == "Max Length":
                    self.open_adjust()
                    self.sim.send("Er0071;")
                    self.wait_boxes([(ERROR_CAPTION, MAX_LENGTH_ELE2)])
                    # The Adjust window first, its box going with it; then the main one.
                    self.h.ui.close(adjust=True)
                    wire = (STATUS_REQUEST + LOCK + NAMES_REQUEST + LENGTHS_REQUEST
                            + POWER_LONG_PRESS * 2)
                    self.assert_wire(wire, timeout=STATE_TIMEOUT_S)
                    wait_until(lambda: self.boxes() == [] and self.h.ui.window()["enabled"],
                               STATE_TIMEOUT_S, "the box gone and the main window enabled")
                    self.assert_ended(program, self.h.ui.close, wire)
                else:
                    self.sim.send("Mt1;")
                    self.wait_panel(lambda text: "\r 40m" in text and "NORMAL" not in text,
                                    "the motor's counter")
                    self.h.ui.command(MENU_ADJUST)
                    self.wait_boxes([(ERROR_CAPTION, DURING_MOTOR)])
                    self.assert_ended(program, self.h.ui.close, STATUS_REQUEST)
        # The last one's mutex went with it too.
        self.start_on("COM%d" % (len(cases) + 1))
        self.h.ui.close()
        self.assertEqual(self.h.programs[-1].wait_exit(EXIT_TIMEOUT_S), 0)
