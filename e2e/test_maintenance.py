"""The maintenance procedures against the controller model: RESET of the current band
(answered Yes, No, and with SET pressed on the controller while the question is open),
RESET of all bands to "AtComplete" and the two POWER presses that answer it, its
refusal while the motor runs, STEP by key and menu, and the About box before and after
the controller has reported itself.

The procedures wait seconds by design (3 s before the band question, 1 s before SET
or CANCEL, 9.3 s for all bands), so each test runs several procedures in one session.
The display panel is read with the driver's window list, which reads a static's text
without the program's thread: the progress words can be seen while it sleeps."""

import re
import time

from harness import WineTestCase, wait_until

# -- what the program sends and shows ---------------------------------------------------

STATUS_REQUEST = b"SR;"
LONG_PRESS_7MHZ = b"B0BDLP;"
SET_KEY = b"B5FNSP;"
CANCEL_KEY = b"B6FNSP;"
LOCK = b"Lock;"
FACTORY_DEFAULTS = b"AtDefault;"
POWER_LONG_PRESS = b"B7FNLP;"
STEP_FROM_LARGER = b"B4FNLP;"  # the long press of DOWN
STEP_FROM_SMALLER = b"B3FNLP;"  # the long press of UP

MENU_RESET_CURRENT_BAND = 1070
MENU_RESET_ALL_BANDS = 1071
MENU_STEP = 1069
MENU_ABOUT = 1091
STEP_KEY = 1036
DISPLAY_PANEL = 1017
STEP_INDICATOR = 1035

# A press that sends a known code and changes only the beam mode: once its bytes have
# arrived, everything the program did before it is done (a box it opened is open).
FENCE_MENU = 1062
FENCE_BYTES = b"B0FNSP;"

IDOK = 1
IDYES = 6
IDNO = 7
CONFIRM = "Confirm"
QUESTION_7MHZ = "Reset the 7MHz setting.\rIs it OK?"
DEFAULTS_CAPTION = "RESET"
DEFAULTS_7MHZ = "Load 7MHz factory defaults"
ALL_BANDS_QUESTION = "Reset the all band setting.\rIs it OK?"
ALL_BANDS_CANCEL_QUESTION = "Reset the all band setting.\rwould you like to cancel?"
ERROR_CAPTION = "ERROR"
MOTOR_REFUSAL = "During motor operation or HOME mode"
ABOUT_CAPTION = "About"
ABOUT_HEAD = ("Tovak Remote Ver 1.08\r\r"
              "Operates the antenna controller over a COM port.\r\r")

SENDING_COMMAND = "Sending command"
SET_DEFAULT_PROMPT = "Set default OK ?"
WRITING = "Writing"
CANCELED = "Canceled"
RESTORE_PANEL = " Restore\r Factory Defaults"
MOTOR_COUNTER = re.compile(r" AUTO {9}\d{3}\r")  # where the beam word stands otherwise

# -- the controller model ---------------------------------------------------------------

MODEL_NAME = "Tovak HB-6"  # the model pads it to 16 characters
MODEL_SERIAL = "0815"
MODEL_VERSION = "Ver 01.20"  # the model's program version, fixed
CONTROLLER = {"band": "40m", "name": MODEL_NAME, "serial": MODEL_SERIAL}
PANEL_40M = " AUTO      NORMAL\r 40m    7.050 MHz"
FREQUENCY_LARGE_STEP = "40m    7.050 MHz"
FREQUENCY_SMALL_STEP = "40m    7.050 mhz"
ABOUT_LINES = ("Model : %-16s\rSerial : %s\rProgram : %s\r"
               % (MODEL_NAME, MODEL_SERIAL, MODEL_VERSION))
RESTORE_SECONDS = 3.0  # the model reports "AtComplete" this long after "AtDefault"

# Step indicator: four cells of 16 rows (50K, 40K, 20K, 10K from the top); the lit
# one is filled with the glow colour (resources/make_artwork.py).
STEP_CELLS = ("50K", "40K", "20K", "10K")
STEP_CELL_HEIGHT = 16
STEP_LIT_GLOW = (58, 36, 6)

# -- time limits and tolerances (a loaded machine stretches every wait) -----------------

START_TIMEOUT_MS = 20000
BOX_TIMEOUT_MS = 10000
WIRE_TIMEOUT_S = 5.0
STATE_TIMEOUT_S = 5.0
QUESTION_DELAY_S = (2.95, 7.0)  # the long press, then 2 s and 1 s before the question
KEY_DELAY_S = (0.95, 4.0)  # the answer, then 1 s before SET or CANCEL
LOCK_GAP_S = (0.28, 1.5)  # "Lock", then 300 ms before "AtDefault"
RESTORE_BLOCK_S = (9.0, 16.0)  # "AtDefault", then 9 s before "AtComplete" is read
POWER_GAP_S = (0.95, 2.5)  # the two POWER presses that answer "AtComplete"
RESTORE_TIMEOUT_S = 25.0



def messages(sim, kind):
    """[(ms, message)] that the program wrote ("rx") or the simulator sent ("tx"),
    each with the record time of the bytes that completed it."""
    found = []
    rest = b""
    for ms, data in sim.chunks(kind):
        rest += data
        *complete, rest = rest.split(b";")
        found += [(ms, message.decode("latin-1") + ";") for message in complete]
    return found


def times_of(sim, kind, message):
    """Record times (s) of every message equal to message ("Lock;")."""
    text = message.decode("latin-1") if isinstance(message, bytes) else message
    return [ms / 1000 for ms, sent in messages(sim, kind) if sent == text]


class MaintenanceTestCase(WineTestCase):
    """Helpers: the display panel, whole-record wire checks, boxes, the step indicator."""

    def start_with(self, sim, panel=None):
        self.sim = sim
        self.h.start()
        self.h.ui.find(START_TIMEOUT_MS)
        self.sim.wait_received(STATUS_REQUEST, WIRE_TIMEOUT_S)
        if panel is not None:
            self.wait_panel(lambda text: text == panel, "the status of the controller")

    def panel(self):
        """The display panel's two lines, joined by a lone CR as the program builds them
        (the window shows them with CR LF)."""
        control = next(c for c in self.h.ui.controls()["controls"] if c["id"] == DISPLAY_PANEL)
        return control["text"].replace("\r\n", "\r")

    def wait_panel(self, predicate, what, timeout=STATE_TIMEOUT_S):
        wait_until(lambda: predicate(self.panel()), timeout,
                   lambda: "the panel shows %s (it shows %r)" % (what, self.panel()))

    def assert_wire(self, expected, timeout=WIRE_TIMEOUT_S):
        """Waits until the simulator holds as many bytes as expected, then compares them
        all; a wrong byte on the way ends the wait at once."""
        deadline = time.monotonic() + timeout
        while True:
            received = self.sim.received()
            if len(received) >= len(expected) or not expected.startswith(received):
                break
            if time.monotonic() >= deadline:
                break
            time.sleep(0.02)
        self.assertEqual(received, expected)

    def fence(self, expected_before):
        """Everything the program did before is done, and it sent expected_before."""
        self.h.ui.command(FENCE_MENU)
        self.assert_wire(expected_before + FENCE_BYTES)
        return expected_before + FENCE_BYTES

    def expect_box(self, caption, text, buttons, timeout_ms=BOX_TIMEOUT_MS):
        """The one box now open has this caption, text and buttons (ids)."""
        boxes = self.h.ui.waitbox(timeout_ms)["boxes"]
        self.assertEqual([(box["caption"], box["text"], [b["id"] for b in box["buttons"]])
                          for box in boxes], [(caption, text, buttons)])

    def answer(self, button):
        self.assertTrue(self.h.ui.answer(button)["closed"], "the box stayed open")

    def assert_between(self, seconds, limits, what):
        low, high = limits
        self.assertTrue(low <= seconds <= high,
                        "%s took %.2f s, not %s to %s s" % (what, seconds, low, high))

    def lit_step(self):
        """The lit cell of the step indicator as the screen shows it, or None."""
        grab = self.h.grab_control(STEP_INDICATOR)
        lit = [cell for index, cell in enumerate(STEP_CELLS)
               if grab.pixel(1, index * STEP_CELL_HEIGHT + 2) == STEP_LIT_GLOW]
        return lit[0] if len(lit) == 1 else None

    def wait_step(self, frequency, cell):
        self.wait_panel(lambda text: text.endswith(frequency), repr(frequency))
        wait_until(lambda: self.lit_step() == cell, STATE_TIMEOUT_S,
                   lambda: "step indicator %s (shows %s)" % (cell, self.lit_step()))


class CurrentBandResetTest(MaintenanceTestCase):
    """RESET > Current Band on 40 m, three times in one session."""

    expected_seconds = 18.0

    def ask(self):
        """Chooses the item; the question follows about 3 s after the long press, with
        "Sending command" and then "Set default OK ?" on the panel."""
        chosen = time.monotonic()
        self.h.ui.command(MENU_RESET_CURRENT_BAND)
        self.wait_panel(lambda text: text.endswith("\r " + SENDING_COMMAND), SENDING_COMMAND)
        self.expect_box(CONFIRM, QUESTION_7MHZ, [IDYES, IDNO])
        self.assert_between(time.monotonic() - chosen, QUESTION_DELAY_S, "the question")
        self.assertTrue(self.panel().endswith("\r " + SET_DEFAULT_PROMPT), self.panel())
        # The question has no owner: the main window stays enabled under it.
        self.assertTrue(self.h.ui.window()["enabled"])

    def answer_then_key(self, button, progress, key):
        """Answers; the progress word shows for 1 s, then the key goes out."""
        answered = time.monotonic()
        self.answer(button)
        self.wait_panel(lambda text: text.endswith("\r " + progress), progress,
                        timeout=KEY_DELAY_S[1])
        wait_until(lambda: self.sim.received().endswith(key), KEY_DELAY_S[1],
                   lambda: "%r after the answer (received %r)" % (key, self.sim.received()))
        self.assert_between(time.monotonic() - answered, KEY_DELAY_S, "the key after the answer")

    def test_yes_sets_no_cancels_and_set_on_the_controller_needs_no_key(self):
        self.start_with(self.h.simulator("COM1", model=CONTROLLER), PANEL_40M)
        wire = STATUS_REQUEST

        with self.subTest(answer="Yes"):
            self.ask()
            self.answer_then_key(IDYES, WRITING, SET_KEY)
            self.expect_box(DEFAULTS_CAPTION, DEFAULTS_7MHZ, [IDOK])
            self.answer(IDOK)
            wire += LONG_PRESS_7MHZ + SET_KEY
            wire = self.fence(wire)
            pressed, = times_of(self.sim, "rx", LONG_PRESS_7MHZ)
            set_at, = times_of(self.sim, "rx", SET_KEY)
            self.assert_between(set_at - pressed, (QUESTION_DELAY_S[0] + KEY_DELAY_S[0], 30),
                                "SET after the long press")
            # The controller's SET report and factory frequency replace the progress word.
            self.wait_panel(lambda text: text.endswith(FREQUENCY_LARGE_STEP), "the frequency")

        with self.subTest(controller="SET while the question is open"):
            self.sim.model("reset-answer", "set:5000")
            self.ask()
            # "Se0" and the factory frequency, read while the question stays open.
            self.wait_panel(lambda text: text.endswith(FREQUENCY_LARGE_STEP),
                            "the controller's report under the question")
            self.expect_box(CONFIRM, QUESTION_7MHZ, [IDYES, IDNO])
            self.answer(IDNO)
            self.expect_box(DEFAULTS_CAPTION, DEFAULTS_7MHZ, [IDOK])
            self.answer(IDOK)
            wire = self.fence(wire + LONG_PRESS_7MHZ)
            self.sim.model("reset-answer", "none")

        with self.subTest(answer="No"):
            self.ask()
            self.answer_then_key(IDNO, CANCELED, CANCEL_KEY)
            wire += LONG_PRESS_7MHZ + CANCEL_KEY
            # No defaults box: one would be open by the time the fence's bytes arrive.
            wire = self.fence(wire)
            self.assertEqual(self.h.ui.boxes()["boxes"], [])
            # "Cn0" leaves the progress word until the next frequency report.
            self.assertTrue(self.panel().endswith("\r " + CANCELED), self.panel())


class AllBandResetTest(MaintenanceTestCase):
    """RESET > All Band: the refusal, going back at the second question, and the whole
    restore to the controller's return."""

    # The program's 300 ms between "Lock" and "AtDefault", as the controller hears them.
    quiet = True

    def questions(self, second_answer):
        self.h.ui.command(MENU_RESET_ALL_BANDS)
        self.expect_box(CONFIRM, ALL_BANDS_QUESTION, [IDYES, IDNO])
        self.answer(IDYES)
        self.expect_box(CONFIRM, ALL_BANDS_CANCEL_QUESTION, [IDYES, IDNO])
        self.answer(second_answer)

    def test_refused_while_the_motor_runs_then_restored_to_at_complete(self):
        self.start_with(self.h.simulator("COM1", model=CONTROLLER), PANEL_40M)
        wire = STATUS_REQUEST

        with self.subTest("refused while the motor runs"):
            self.sim.send("Mt1;")
            self.wait_panel(MOTOR_COUNTER.match, "the motor's counter")
            self.h.ui.command(MENU_RESET_ALL_BANDS)
            self.expect_box(ERROR_CAPTION, MOTOR_REFUSAL, [IDOK])
            self.answer(IDOK)
            wire = self.fence(wire)
            self.assertEqual(self.h.ui.boxes()["boxes"], [])
            self.sim.send("Mt0;")
            self.wait_panel(lambda text: not MOTOR_COUNTER.match(text), "the motor stopped")

        with self.subTest("Yes to cancel goes back"):
            self.questions(IDYES)
            wire = self.fence(wire)
            self.assertEqual(self.h.ui.boxes()["boxes"], [])

        with self.subTest("restored"):
            self.questions(IDNO)
            self.wait_panel(lambda text: text == RESTORE_PANEL, "the restore")
            wire += LOCK + FACTORY_DEFAULTS
            self.assert_wire(wire)
            locked, = times_of(self.sim, "rx", LOCK)
            restoring, = times_of(self.sim, "rx", FACTORY_DEFAULTS)
            self.assert_between(restoring - locked, LOCK_GAP_S, "AtDefault after Lock")

            wait_until(lambda: len(times_of(self.sim, "rx", POWER_LONG_PRESS)) == 2,
                       RESTORE_TIMEOUT_S, "the two POWER presses")
            completed, = times_of(self.sim, "tx", "AtComplete;")
            first, second = times_of(self.sim, "rx", POWER_LONG_PRESS)
            self.assert_between(completed - restoring, (RESTORE_SECONDS, RESTORE_SECONDS + 2),
                                "the model's AtComplete")
            # Read only when the 9 s wait is over: the window was frozen until then.
            self.assert_between(first - restoring, RESTORE_BLOCK_S, "the first POWER press")
            self.assert_between(second - first, POWER_GAP_S, "the second POWER press")
            self.assert_wire(wire + POWER_LONG_PRESS * 2)
            # Off and on again: the controller's status replaces the restore words,
            # with the beam back at NORMAL.
            self.assertEqual([m for _, m in messages(self.sim, "tx")
                              if m in ("Pw0;", "Pw1;")][-2:], ["Pw0;", "Pw1;"])
            self.wait_panel(lambda text: text == PANEL_40M, "the controller's status")
            self.fence(wire + POWER_LONG_PRESS * 2)


class StepAndAboutTest(MaintenanceTestCase):
    """STEP and About against a controller that has reported itself."""

    def test_step_key_and_menu_follow_the_unit_and_about_lists_the_controller(self):
        self.start_with(self.h.simulator("COM1", model=CONTROLLER), PANEL_40M)
        self.wait_step(FREQUENCY_LARGE_STEP, "20K")
        wire = STATUS_REQUEST
        # The key and the menu item each from both steps; the model answers "Ud3" to
        # the smaller step and "Ud2" to the larger.
        key, menu = ("click", STEP_KEY), ("command", MENU_STEP)
        for (how, item), code, frequency, cell in (
                (key, STEP_FROM_LARGER, FREQUENCY_SMALL_STEP, "10K"),
                (menu, STEP_FROM_SMALLER, FREQUENCY_LARGE_STEP, "20K"),
                (menu, STEP_FROM_LARGER, FREQUENCY_SMALL_STEP, "10K"),
                (key, STEP_FROM_SMALLER, FREQUENCY_LARGE_STEP, "20K")):
            with self.subTest(how=how, code=code):
                getattr(self.h.ui, how)(item)
                wire += code
                self.assert_wire(wire)
                self.wait_step(frequency, cell)

        self.h.ui.command(MENU_ABOUT)
        self.expect_box(ABOUT_CAPTION, ABOUT_HEAD + ABOUT_LINES, [IDOK])
        # Owned by the main window, which takes no input while it is open but goes on
        # reading the controller.
        self.assertFalse(self.h.ui.window()["enabled"])
        self.sim.press("B4FNLP")
        self.wait_step(FREQUENCY_SMALL_STEP, "10K")
        self.answer(IDOK)
        wait_until(lambda: self.h.ui.window()["enabled"], STATE_TIMEOUT_S,
                   "the main window enabled again")
        self.fence(wire)


class SilentControllerTest(MaintenanceTestCase):
    """A controller that has not answered the status request yet."""

    def test_about_holds_only_the_title_and_notice_and_step_sends_nothing(self):
        self.start_with(self.h.simulator("COM1"))
        self.h.ui.command(MENU_ABOUT)
        self.expect_box(ABOUT_CAPTION, ABOUT_HEAD, [IDOK])
        self.assertFalse(self.h.ui.window()["enabled"])
        self.answer(IDOK)
        # No frequency shown: no unit, no press.
        self.h.ui.click(STEP_KEY)
        self.h.ui.command(MENU_STEP)
        self.fence(STATUS_REQUEST)
