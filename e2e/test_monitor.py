"""The monitor as the user sees it: the controller's reports on the display panel, the
LEDs, the step indicator, the display's background and the menu; the prompt that
blinks while a request waits for SET and the keys held back meanwhile; the motor's
elapsed counter; error boxes; the answer to "AtComplete"; messages cut across reads;
the keep-alive while the motor stands and runs.

What the screen shows is read from the screen: the images on the LED and step
indicator controls are compared pixel for pixel with the program's own bitmaps."""

import random
import re
import time

from harness import REPO, ScreenImage, WineTestCase, wait_until

# -- controls, menu items and keys ------------------------------------------------------

DISPLAY_PANEL = 1017
BAND_LEDS = list(range(1021, 1029))  # 7 MHz ... 50 MHz keys
LED_7MHZ = 1021
LED_10MHZ = 1022
LED_14MHZ = 1023
POWER_LED = 1029
NORMAL_LED = 1030
REVERSE_LED = 1031
DIPOLE_LED = 1032
STEP_INDICATOR = 1035
BACKGROUND = "background"  # the display panel's most common colour in a look

MENU_ADJUST = 1072
MENU_7MHZ = 1050
MENU_10MHZ = 1051
MENU_AUTO = 1065
MENU_MANUAL = 1066

AUTO_KEY = 1002
MANUAL_KEY = 1003
MODE_KEY = 1006
KEY_7M = 1007
KEY_10M = 1008
UP_KEY = 1033
STEP_KEY = 1036
BOX_OK = 1

# -- what the program sends and shows ---------------------------------------------------

STATUS_REQUEST = b"SR;"
KEEP_ALIVE_REQUEST = b"Md;"
MODE_PRESS = b"B0FNSP;"  # MODE: the fence after presses that must send nothing
AUTO_PRESS = b"B1FNSP;"
UP_PRESS = b"B3FNSP;"
LARGER_STEP_PRESS = b"B3FNLP;"  # STEP while the display shows "mhz"
BAND_7M_PRESS = b"B0BDSP;"
POWER_LONG_PRESS = b"B7FNLP;"

ERROR_CAPTION = "ERROR"
BLUE_BACKGROUND = (5, 30, 127)
OFF_BACKGROUND = (5, 5, 5)
PUSH_SET = "Push SET"


def panel(line1, line2):
    """The display panel's text: the program's CR between the lines shows as CR LF."""
    return line1 + "\r\n" + line2


STATUS_40M = b"Pw1;Bm1;Tm0;Fq40m    7.050 MHz;"
PANEL_40M = panel(" AUTO      NORMAL", " 40m    7.050 MHz")
PANEL_POWER_OFF = panel(" POWER OFF    ", " ")
MOTOR_LINE = re.compile(r" AUTO {9}(\d{3})")  # the mode, four blanks and the counter

RESTRICTED_MODEL = "KYRAL Beam 2"
OTHER_MODEL = "Sim Beam 600"


def model_message(name):
    return ("Md%-16s;" % name).encode("ascii")


# -- the program's bitmaps --------------------------------------------------------------

RESOURCES = REPO / "resources"
GREY, BLUE, GREEN, ORANGE = "grey", "blue", "green", "orange"
STEP_NONE, STEP_10K, STEP_20K, STEP_40K, STEP_50K = "none", "10K", "20K", "40K", "50K"
BITMAP_FILES = {
    GREY: "led_off.bmp", BLUE: "led_blue.bmp", GREEN: "led_green.bmp",
    ORANGE: "led_orange.bmp", STEP_NONE: "step_none.bmp", STEP_10K: "step_10k.bmp",
    STEP_20K: "step_20k.bmp", STEP_40K: "step_40k.bmp", STEP_50K: "step_50k.bmp",
}
_BITMAPS = {}


def image_name(grab):
    """The name of the bitmap the grab shows exactly, or "unknown"."""
    if not _BITMAPS:
        _BITMAPS.update({name: ScreenImage.from_bmp(RESOURCES / file)
                         for name, file in BITMAP_FILES.items()})
    for name, bitmap in _BITMAPS.items():
        if (bitmap.width, bitmap.height, bitmap.data) == (grab.width, grab.height, grab.data):
            return name
    return "unknown"


# -- times ------------------------------------------------------------------------------

MAIN_WINDOW_TIMEOUT_MS = 20000
STATE_TIMEOUT_S = 5.0
WIRE_TIMEOUT_S = 5.0
BOX_TIMEOUT_MS = 5000
BLINK_TIMEOUT_MS = 2000  # a silent tick comes about every 220 ms
# Silence that several poll ticks take: what they read (or show) by then they would
# have read (or shown).
BOX_QUIET_S = 0.8
NESTED_TICKS_S = 0.6
COMPLETION_GAP_S = (0.9, 1.8)  # the 1000 ms pause between the two presses
KEEPALIVE_MS = 1000
KEEPALIVE_GAP_S = (0.9, 1.8)  # the period plus the 100 ms pause, on a loaded machine
# A keep-alive tick that began before the program read "Mt1" may still send:
# one read, one poll period and the pause after "Mt1" was written.
MOTOR_REPORT_SLACK_S = 0.6
MOTOR_RUN_MIN_S = 2.5  # the 6m -> 40m run, long enough for two keep-alive periods
COUNTER_SLACK_S = 0.8  # the counter against the wall clock: two slow ticks and a query
# A pause of up to this between looks at a blinking LED, drawn anew each time: looks
# that took as long as a blink period (two poll ticks) on a busy machine saw the
# same phase every time.
BLINK_LOOK_JITTER_S = 0.15
BLINK_LOOK_SEED = 1
COUNTER_FIRST_MAX = 10  # first counter seen: within a second of the motor's start


class MonitorTestCase(WineTestCase):
    """Reading the panel, its images and the wire."""

    def start_program(self, sim):
        program = self.h.start()
        self.h.ui.find(MAIN_WINDOW_TIMEOUT_MS)
        sim.wait_received(STATUS_REQUEST, timeout=WIRE_TIMEOUT_S)
        return program

    def panel_text(self):
        return self.h.ui.text(DISPLAY_PANEL)["text"]

    def wait_panel(self, expected, timeout=STATE_TIMEOUT_S):
        """Until the display panel's text is exactly expected."""
        deadline = time.monotonic() + timeout
        while True:
            shown = self.panel_text()
            if shown == expected or time.monotonic() >= deadline:
                break
            time.sleep(0.02)
        self.assertEqual(shown, expected, "display panel")

    def look(self, control_ids):
        """{control: bitmap name} of the image controls, and under BACKGROUND the
        display panel's most common colour, all from one screen grab."""
        grabs = self.h.grab_controls(list(control_ids) + [DISPLAY_PANEL])
        seen = {control_id: image_name(grabs[control_id]) for control_id in control_ids}
        colours = grabs[DISPLAY_PANEL].colours()
        seen[BACKGROUND] = max(colours, key=colours.get)
        return seen

    def wait_look(self, expected, timeout=STATE_TIMEOUT_S):
        """Until the screen shows expected ({control: bitmap name, BACKGROUND: rgb})."""
        ids = [key for key in expected if key != BACKGROUND]
        deadline = time.monotonic() + timeout
        while True:
            seen = self.look(ids)
            seen = {key: seen[key] for key in expected}
            if seen == expected or time.monotonic() >= deadline:
                break
            time.sleep(0.05)
        self.assertEqual(seen, expected, "what the panel's images and background show")

    def assert_grayed(self, item_id, grayed):
        state = self.h.ui.menustate(item_id)
        self.assertEqual(state["grayed"], grayed, "menu item %d: %r" % (item_id, state))

    def wait_grayed(self, item_id, grayed):
        wait_until(lambda: self.h.ui.menustate(item_id)["grayed"] == grayed, STATE_TIMEOUT_S,
                   "menu item %d grayed=%s" % (item_id, grayed))

    def assert_wire(self, sim, expected, timeout=WIRE_TIMEOUT_S):
        """Waits until the program has written as many bytes as expected, then
        compares them all; a wrong byte on the way stops the wait at once."""
        received = sim.received_up_to(expected, timeout)
        self.assertEqual(received, expected)
        return received

    def presses_send_nothing(self, sim, presses):
        """Each (how, id) press, then the MODE key: only MODE's bytes may follow."""
        before = sim.received()
        for how, item_id in presses:
            getattr(self.h.ui, how)(item_id)
        self.h.ui.click(MODE_KEY)
        return self.assert_wire(sim, before + MODE_PRESS)

    def expect_box(self, text):
        """Exactly one box is open, an error report saying text with an OK button."""
        boxes = self.h.ui.waitbox(BOX_TIMEOUT_MS)["boxes"]
        self.assertEqual([(box["caption"], box["text"], [b["id"] for b in box["buttons"]])
                          for box in boxes], [(ERROR_CAPTION, text, [BOX_OK])])

    def received_lines(self):
        """The bodies of the debug log's R lines: one a read."""
        if not self.h.log_path.exists():
            return []
        lines = self.h.log_path.read_bytes().decode("latin-1").split("\r\n")
        return [line.split("][R]", 1)[1] for line in lines if "][R]" in line]

    def send_read(self, sim, data):
        """Sends data and waits until a read of the program holds it (DEBUG=1)."""
        reads = len(self.received_lines())
        sim.send(data)
        text = data.decode("latin-1")
        wait_until(lambda: any(text in line for line in self.received_lines()[reads:]),
                   STATE_TIMEOUT_S,
                   "%r read by the program (reads: %r)" % (text, self.received_lines()))


def times_of(sim, kind, data):
    """Record times (s) at which each occurrence of data was complete in the bytes of
    one direction ("rx": the program wrote, "tx": the controller wrote)."""
    times = []
    stream = b""
    for ms, chunk in sim.chunks(kind):
        stream += chunk
        while len(times) < stream.count(data):
            times.append(ms / 1000)
    return times


class PanelTest(MonitorTestCase):
    """A scripted controller on COM1: the test sends exactly what the controller says."""

    def setUp(self):
        super().setUp()
        self.sim = self.h.simulator("COM1")

    def test_status_fills_the_panel_30m_lights_the_10_mhz_led_and_power_off_darkens_it(self):
        self.start_program(self.sim)
        self.sim.send(STATUS_40M)  # one read: power, beam, mode and frequency
        self.wait_panel(PANEL_40M)
        lit_7mhz = {led: BLUE if led == LED_7MHZ else GREY for led in BAND_LEDS}
        self.wait_look({**lit_7mhz, POWER_LED: ORANGE, NORMAL_LED: BLUE, REVERSE_LED: GREY,
                        DIPOLE_LED: GREY, STEP_INDICATOR: STEP_20K,
                        BACKGROUND: BLUE_BACKGROUND})
        self.assert_grayed(MENU_ADJUST, False)

        # 30m shares the 10 MHz key's LED with 80m and 75m; its larger step is 40 kHz.
        self.sim.send(b"Fq30m   10.120 MHz;")
        self.wait_panel(panel(" AUTO      NORMAL", " 30m   10.120 MHz"))
        lit_10mhz = {led: BLUE if led == LED_10MHZ else GREY for led in BAND_LEDS}
        self.wait_look({**lit_10mhz, STEP_INDICATOR: STEP_40K})

        self.sim.send(b"Pw0;")
        self.wait_panel(PANEL_POWER_OFF)
        # The band LEDs keep their last state.
        self.wait_look({**lit_10mhz, POWER_LED: GREY, NORMAL_LED: GREY, REVERSE_LED: GREY,
                        DIPOLE_LED: GREY, STEP_INDICATOR: STEP_NONE,
                        BACKGROUND: OFF_BACKGROUND})
        self.assert_grayed(MENU_ADJUST, True)

    def test_request_blinks_push_set_holds_back_auto_and_manual_and_fq_restores_the_mode(self):
        self.h.write_settings(DEBUG=1)
        self.start_program(self.sim)
        self.sim.send(b"Pw1;Bm1;Tm1;Fq40m    7.050 MHz;")
        self.wait_panel(panel(" MANUAL    NORMAL", " 40m    7.050 MHz"))

        self.sim.send(b"Cf0;")
        self.wait_panel(panel(" HOME      NORMAL", " " + PUSH_SET))
        self.wait_look({STEP_INDICATOR: STEP_NONE})
        # Silent ticks show and hide the prompt by turns; line 1 stays.
        for absent in (True, False, True, False):
            shown = self.h.ui.waittext(DISPLAY_PANEL, PUSH_SET, BLINK_TIMEOUT_MS, absent)
            self.assertTrue(shown["text"].startswith(" HOME      NORMAL\r\n"), shown)
        # AUTO and MANUAL, keys and menu items, are held back while a request waits.
        self.presses_send_nothing(self.sim, [("click", AUTO_KEY), ("click", MANUAL_KEY),
                                             ("command", MENU_AUTO), ("command", MENU_MANUAL)])

        # A second request before SET: the mode from before the first is kept.
        self.sim.send(b"Cf1;")
        self.h.ui.waittext(DISPLAY_PANEL, " CALIB ", BLINK_TIMEOUT_MS)
        for absent in (False, True, False):
            shown = self.h.ui.waittext(DISPLAY_PANEL, PUSH_SET, BLINK_TIMEOUT_MS, absent)
            self.assertTrue(shown["text"].startswith(" CALIB     NORMAL\r\n"), shown)
        # A mode report while the request waits changes nothing.
        self.send_read(self.sim, b"Tm0;")
        self.assertTrue(self.panel_text().startswith(" CALIB     NORMAL\r\n"))
        self.presses_send_nothing(self.sim, [("click", AUTO_KEY), ("command", MENU_MANUAL)])

        # The next frequency ends the request and brings the mode from before it back.
        self.sim.send(b"Fq40m    7.060 MHz;")
        self.wait_panel(panel(" MANUAL    NORMAL", " 40m    7.060 MHz"))
        self.wait_look({STEP_INDICATOR: STEP_20K})
        before = self.sim.received()
        self.h.ui.click(AUTO_KEY)
        self.assert_wire(self.sim, before + AUTO_PRESS)

    def test_two_error_reports_in_one_read_are_boxed_in_order_before_the_power_off(self):
        # The keep-alive tick is what starts poll ticks under an open box.
        self.h.write_settings(DEBUG=1, KEEPALIVE=KEEPALIVE_MS)
        self.start_program(self.sim)
        self.sim.send(STATUS_40M)
        self.wait_panel(PANEL_40M)
        powered = {POWER_LED: ORANGE, BACKGROUND: BLUE_BACKGROUND}
        self.wait_look(powered)

        self.sim.send(b"Er002;Er007;Pw0;")
        self.expect_box("During motor operation or HOME mode")
        self.assertEqual(self.panel_text(), PANEL_40M)
        # The main window stays usable under the box.
        self.h.ui.click(MODE_KEY)
        self.sim.wait_received(MODE_PRESS)
        self.assertTrue(self.h.ui.answer(BOX_OK)["closed"])
        self.expect_box("Unknown Error (Er007)")
        self.assertEqual(self.panel_text(), PANEL_40M)
        self.wait_look(powered)
        self.assertTrue(self.h.ui.answer(BOX_OK)["closed"])
        self.wait_panel(PANEL_POWER_OFF)
        self.wait_look({POWER_LED: GREY, BACKGROUND: OFF_BACKGROUND})
        self.assertEqual(self.h.ui.boxes()["boxes"], [])

        # What arrives while a box is open waits for it, and is then handled after the
        # rest of the read that opened the box.
        self.sim.send(b"Er001;Pw1;")
        self.expect_box("Received an unknown command")
        reads = len(self.received_lines())
        self.sim.send(b"Bm4;")
        # A keep-alive tick under the box restarts the poll timer: poll ticks follow.
        requests = len(times_of(self.sim, "rx", KEEP_ALIVE_REQUEST))
        wait_until(lambda: len(times_of(self.sim, "rx", KEEP_ALIVE_REQUEST)) > requests,
                   2 * KEEPALIVE_GAP_S[1], "a keep-alive request under the box")
        time.sleep(NESTED_TICKS_S)
        self.assertEqual(len(self.received_lines()), reads, "a read while the box was open")
        self.assertEqual(self.panel_text(), PANEL_POWER_OFF)
        self.assertTrue(self.h.ui.answer(BOX_OK)["closed"])
        self.wait_panel(panel(" POWER ON      DIPOLE", " "))
        self.wait_look({POWER_LED: ORANGE, DIPOLE_LED: ORANGE, NORMAL_LED: GREY,
                        BACKGROUND: BLUE_BACKGROUND})
        self.assertEqual(self.received_lines()[-2:], ["Er001;Pw1;", "Bm4;"])

    def test_completion_is_answered_twice_and_messages_cut_across_reads_count_once(self):
        self.h.write_settings(DEBUG=1)
        self.start_program(self.sim)
        self.sim.send(STATUS_40M)
        self.wait_panel(PANEL_40M)

        self.sim.send(b"AtComplete;")
        expected = self.assert_wire(self.sim, STATUS_REQUEST + 2 * POWER_LONG_PRESS)
        first, second = times_of(self.sim, "rx", POWER_LONG_PRESS)
        self.assertGreaterEqual(second - first, COMPLETION_GAP_S[0])
        self.assertLessEqual(second - first, COMPLETION_GAP_S[1])
        # Only the whole message is the completion.
        self.send_read(self.sim, b"AtCompleteX;")
        expected = self.presses_send_nothing(self.sim, [])

        # A frequency in two writes 30 ms apart is shown whole.
        self.sim.sendsplit(b"Fq40m    7.100 MHz;", 10)
        self.wait_panel(panel(" AUTO      NORMAL", " 40m    7.100 MHz"))
        # The same cut where it surely falls between two reads: nothing of it shows
        # until its end has come.
        self.send_read(self.sim, b"Fq30m  ")
        time.sleep(BOX_QUIET_S)  # further ticks of silence must not show the piece
        self.assertEqual(self.panel_text(), panel(" AUTO      NORMAL", " 40m    7.100 MHz"))
        self.sim.send(b" 10.130 MHz;")
        self.wait_panel(panel(" AUTO      NORMAL", " 30m   10.130 MHz"))
        self.assertIn(" 10.130 MHz;", self.received_lines())
        self.wait_look({LED_10MHZ: BLUE, LED_7MHZ: GREY, STEP_INDICATOR: STEP_40K})
        # A completion cut in two is answered once.
        self.send_read(self.sim, b"AtComp")
        self.sim.send(b"lete;")
        self.assert_wire(self.sim, expected + 2 * POWER_LONG_PRESS)
        self.assertEqual(self.received_lines()[-2:], ["AtComp", "lete;"])


class ModelTest(MonitorTestCase):
    """The simulator's controller model answers the program; the test steps in where
    it needs a message of its own."""

    def test_kyral_beam_2_grays_7_and_10_mhz_steps_20m_by_50k_until_another_model(self):
        sim = self.h.simulator("COM1", model={"name": RESTRICTED_MODEL, "band": "20m",
                                              "unit": "mhz"})
        self.start_program(sim)
        # The two items change one after the other; the menu may be read between.
        self.wait_grayed(MENU_7MHZ, True)
        self.wait_grayed(MENU_10MHZ, True)
        self.wait_panel(panel(" AUTO      NORMAL", " 20m   14.100 mhz"))

        # On this model the 20m band is tuned in 50 kHz steps, whatever the unit.
        self.h.ui.click(UP_KEY)
        self.wait_panel(panel(" AUTO      NORMAL", " 20m   14.150 mhz"))
        self.wait_look({LED_14MHZ: BLUE, STEP_INDICATOR: STEP_50K})
        self.h.ui.click(STEP_KEY)  # "mhz": the larger step, reported by "Ud2"
        self.wait_panel(panel(" AUTO      NORMAL", " 20m   14.150 MHz"))
        self.wait_look({STEP_INDICATOR: STEP_50K})
        self.h.ui.click(UP_KEY)
        self.wait_panel(panel(" AUTO      NORMAL", " 20m   14.200 MHz"))
        self.wait_look({STEP_INDICATOR: STEP_50K})
        self.assert_wire(sim, STATUS_REQUEST + UP_PRESS + LARGER_STEP_PRESS + UP_PRESS)
        # The 7 and 10 MHz keys send nothing (their menu items are grayed).
        self.presses_send_nothing(sim, [("click", KEY_7M), ("click", KEY_10M)])
        self.assertEqual(self.h.ui.boxes()["boxes"], [])

        # Another model re-enables them; its 20m steps are 40 kHz again.
        sim.model("name", OTHER_MODEL)
        sim.send(model_message(OTHER_MODEL))
        self.wait_grayed(MENU_7MHZ, False)
        self.wait_grayed(MENU_10MHZ, False)
        self.h.ui.click(UP_KEY)
        # MODE, the fence above, turned the beam to REVERSE.
        self.wait_panel(panel(" AUTO     REVERSE", " 20m   14.240 MHz"))
        self.wait_look({STEP_INDICATOR: STEP_40K})
        before = sim.received()
        self.h.ui.click(KEY_7M)
        self.assert_wire(sim, before + BAND_7M_PRESS)

    def test_motor_run_counts_on_the_panel_and_holds_the_keepalive_back(self):
        self.h.write_settings(KEEPALIVE=KEEPALIVE_MS)
        sim = self.h.simulator("COM1", model={"band": "6m"})
        self.start_program(sim)
        self.wait_panel(panel(" AUTO      NORMAL", "  6m   50.150 MHz"))

        # Standing: one model request a period.
        wait_until(lambda: len(times_of(sim, "rx", KEEP_ALIVE_REQUEST)) >= 3,
                   4 * KEEPALIVE_GAP_S[1], "three keep-alive requests")
        standing = times_of(sim, "rx", KEEP_ALIVE_REQUEST)
        gaps = [later - earlier for earlier, later in zip(standing, standing[1:])]
        for gap in gaps:
            self.assertGreaterEqual(gap, KEEPALIVE_GAP_S[0], gaps)
            self.assertLessEqual(gap, KEEPALIVE_GAP_S[1], gaps)

        # 6m to 40m runs the motor for about 4 s; the counter stands on line 1.
        clicked = time.monotonic()
        self.h.ui.click(KEY_7M)
        counters = []
        beam_leds = set()
        jitter = random.Random(BLINK_LOOK_SEED)
        while True:
            line1 = self.panel_text().split("\r\n")[0]
            now = time.monotonic()
            match = MOTOR_LINE.fullmatch(line1)
            if match:
                counters.append((now, int(match.group(1))))
                beam_leds.add(self.look([NORMAL_LED])[NORMAL_LED])
                time.sleep(jitter.uniform(0, BLINK_LOOK_JITTER_S))
            elif counters or now > clicked + STATE_TIMEOUT_S:
                break
        self.assertGreaterEqual(len(counters), 3, counters)
        values = [value for _, value in counters]
        self.assertEqual(values, sorted(values), "the counter went back")
        self.assertLessEqual(values[0], COUNTER_FIRST_MAX, "the counter did not start near 001")
        (first_at, first), (last_at, last) = counters[0], counters[-1]
        self.assertAlmostEqual((last - first) / 10, last_at - first_at, delta=COUNTER_SLACK_S)
        self.assertEqual(beam_leds, {BLUE, GREY}, "the NORMAL LED did not blink")
        # Stopped: the counter gives way to the beam word again.
        self.wait_panel(PANEL_40M)
        self.wait_look({NORMAL_LED: BLUE, LED_7MHZ: BLUE})

        # No request while the motor ran; they come again once it stands.
        started = times_of(sim, "tx", b"Mt1;")[0]
        stopped = times_of(sim, "tx", b"Mt0;")[0]
        self.assertGreaterEqual(stopped - started, MOTOR_RUN_MIN_S)
        wait_until(lambda: times_of(sim, "rx", KEEP_ALIVE_REQUEST)[-1] > stopped,
                   2 * KEEPALIVE_GAP_S[1], "a keep-alive request after the motor stopped")
        during = [at for at in times_of(sim, "rx", KEEP_ALIVE_REQUEST)
                  if started + MOTOR_REPORT_SLACK_S < at < stopped]
        self.assertEqual(during, [], "keep-alive requests while the motor ran")
        received = sim.received()
        self.assertEqual(received.replace(KEEP_ALIVE_REQUEST, b""),
                         STATUS_REQUEST + BAND_7M_PRESS)
