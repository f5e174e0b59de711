"""The main window as the user first sees it: menu bar, frame, the 37 controls of the
front panel, the display panel's colours, the two ways of closing it, and a start
with no controller to talk to."""

import time

from harness import DriverError, WineTestCase

# -- what the window must show ----------------------------------------------------------

MAIN_CAPTION_COM1 = "Tovak Remote [COM1]"
CAPTION_NO_CONNECTION = "Tovak Remote [Connection Error]"
IDOK = 1
OUTER_SIZE = (765, 287)
WS_CLIPSIBLINGS = 0x04000000  # added by the system to every top-level window
WS_THICKFRAME = 0x00040000
WS_MAXIMIZEBOX = 0x00010000
MAIN_STYLE = 0x10CA0000  # WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX

MF_GRAYED_DISABLED = 0x3
MF_CHECKED = 0x8
MENU_IDS = range(1050, 1093)  # every command item of the menu tree
ADJUST_ID = 1072
KEEPALIVE_ENABLED_ID = 1089
KEEPALIVE_DISABLED_ID = 1090

PORT_ACCESS_KEYS = "123456789ABCDEFG"


def popup(text, *items):
    return (text, None, list(items))


def item(text, item_id):
    return (text, item_id, None)


MENU_TREE = [
    popup("Band(&B)",
          item(" 7 MHz(&1)", 1050), item("10 MHz(&2)", 1051), item("14 MHz(&3)", 1052),
          item("18 MHz(&4)", 1053), item("21 MHz(&5)", 1054), item("24 MHz(&6)", 1055),
          item("28 MHz(&7)", 1056), item("50 MHz(&8)", 1057)),
    popup("Command(&C)",
          popup("POWER(&P)", item("ON(&O)", 1058), item("OFF(&F)", 1059)),
          item("UP(&U)", 1060), item("DOWN(&D)", 1061), item("MODE(&M)", 1062),
          item("SET(&S)", 1063), item("CANCEL(&C)", 1064), item("AUTO(&A)", 1065),
          item("MANUAL(&N)", 1066), item("HOME(&H)", 1067), item("CALIBRATION(&L)", 1068),
          item("STEP(&T)", 1069),
          popup("RESET(&R)", item("Current Band(&C)", 1070), item("All Band(&A)", 1071))),
    item("Adjust(&J)", ADJUST_ID),
    popup("Options(&O)",
          popup("Port(&P)", *[item("COM%d(&%s)" % (n, key), 1072 + n)
                              for n, key in enumerate(PORT_ACCESS_KEYS, start=1)]),
          popup("KeepAlive(&K)", item("Enabled(&E)", KEEPALIVE_ENABLED_ID),
                item("Disabled(&D)", KEEPALIVE_DISABLED_ID)),
          item("About(&A)", 1091)),
    item("Exit(&X)", 1092),
]

KEY = 0x50000000  # WS_CHILD | WS_VISIBLE push button
TEXT = 0x50000000  # WS_CHILD | WS_VISIBLE left-aligned static
IMAGE = 0x5000000E  # WS_CHILD | WS_VISIBLE | SS_BITMAP
HIDDEN_EDIT = 0x40000000  # WS_CHILD only
DISABLED_KEY = 0x58000000  # WS_CHILD | WS_VISIBLE | WS_DISABLED
WS_EX_CLIENTEDGE = 0x200

# id: (class, style, exstyle, x, y, w, h)
CONTROLS = {
    1000: ("STATIC", IMAGE, 0, 0, 1, 759, 237),
    1001: ("BUTTON", KEY, 0, 88, 71, 28, 28),
    1002: ("BUTTON", KEY, 0, 517, 42, 28, 28),
    1003: ("BUTTON", KEY, 0, 517, 99, 28, 28),
    1004: ("BUTTON", KEY, 0, 579, 42, 28, 28),
    1005: ("BUTTON", KEY, 0, 579, 99, 28, 28),
    1006: ("BUTTON", KEY, 0, 640, 99, 28, 28),
    1007: ("BUTTON", KEY, 0, 88, 171, 28, 28),
    1008: ("BUTTON", KEY, 0, 149, 171, 28, 28),
    1009: ("BUTTON", KEY, 0, 210, 171, 28, 28),
    1010: ("BUTTON", KEY, 0, 272, 171, 28, 28),
    1011: ("BUTTON", KEY, 0, 333, 171, 28, 28),
    1012: ("BUTTON", KEY, 0, 394, 171, 28, 28),
    1013: ("BUTTON", KEY, 0, 456, 171, 28, 28),
    1014: ("BUTTON", KEY, 0, 517, 172, 28, 28),
    1015: ("BUTTON", KEY, 0, 579, 171, 28, 28),
    1016: ("BUTTON", KEY, 0, 640, 171, 28, 28),
    1017: ("STATIC", TEXT, 0, 175, 64, 185, 46),
    1018: ("EDIT", HIDDEN_EDIT, WS_EX_CLIENTEDGE, 58, 246, 123, 18),
    1019: ("EDIT", HIDDEN_EDIT, WS_EX_CLIENTEDGE, 205, 246, 607, 41),
    1020: ("BUTTON", DISABLED_KEY, 0, 93, 268, 88, 25),
    1021: ("STATIC", IMAGE, 0, 98, 154, 6, 6),
    1022: ("STATIC", IMAGE, 0, 159, 154, 6, 6),
    1023: ("STATIC", IMAGE, 0, 221, 154, 6, 6),
    1024: ("STATIC", IMAGE, 0, 282, 154, 6, 6),
    1025: ("STATIC", IMAGE, 0, 344, 154, 6, 6),
    1026: ("STATIC", IMAGE, 0, 405, 154, 6, 6),
    1027: ("STATIC", IMAGE, 0, 466, 154, 6, 6),
    1028: ("STATIC", IMAGE, 0, 528, 154, 6, 6),
    1029: ("STATIC", IMAGE, 0, 98, 55, 6, 6),
    1030: ("STATIC", IMAGE, 0, 650, 35, 6, 6),
    1031: ("STATIC", IMAGE, 0, 650, 53, 6, 6),
    1032: ("STATIC", IMAGE, 0, 650, 70, 6, 6),
    1033: ("BUTTON", KEY, 0, 456, 42, 28, 28),
    1034: ("BUTTON", KEY, 0, 456, 99, 28, 28),
    1035: ("STATIC", IMAGE, 0, 367, 56, 28, 64),
    1036: ("BUTTON", KEY, 0, 437, 68, 13, 34),
}
DISPLAY_PANEL_ID = 1017
TEST_KEY_ID = 1020
DISPLAY_BLUE = (5, 30, 127)
WHITE = (255, 255, 255)
CONNECTING = "Connecting..."


def menu_shape(items):
    """The driver's menu as (text, id or None for a pop-up, children) like MENU_TREE."""
    return [(entry["text"], None, menu_shape(entry["items"])) if entry["popup"]
            else (entry["text"], entry["id"], None) for entry in items]


def command_states(items):
    """{id: state} of every command item (Wine reports pop-ups' ids as handles)."""
    states = {}
    for entry in items:
        if entry["popup"]:
            states.update(command_states(entry["items"]))
        else:
            states[entry["id"]] = entry["state"]
    return states


def on_blue_to_white_blend(colour, tolerance=16):
    """Anti-aliased white text on the display blue gives only colours between the two."""
    share = (colour[0] - DISPLAY_BLUE[0]) / (WHITE[0] - DISPLAY_BLUE[0])
    if not -0.02 <= share <= 1.02:
        return False
    return all(abs(colour[i] - (DISPLAY_BLUE[i] + share * (WHITE[i] - DISPLAY_BLUE[i])))
               <= tolerance for i in (1, 2))


class MainWindowTest(WineTestCase):
    """The program started against a controller on COM1 and no settings file."""

    def setUp(self):
        super().setUp()
        self.sim = self.h.simulator("COM1")
        self.program = self.h.start()
        self.h.ui.find(20000)

    def test_start_opens_com1_and_sends_the_status_request(self):
        self.assertEqual(self.h.ui.window()["caption"], MAIN_CAPTION_COM1)
        received = self.sim.wait_received("SR;")
        self.assertTrue(received.startswith(b"SR;"), received)

    def test_menu_bar_holds_every_item_in_order(self):
        shape = menu_shape(self.h.ui.menu()["menu"])
        self.assertEqual([entry[0] for entry in shape],
                         ["Band(&B)", "Command(&C)", "Adjust(&J)", "Options(&O)", "Exit(&X)"])
        for actual, expected in zip(shape, MENU_TREE):
            with self.subTest(menu=expected[0]):
                self.assertEqual(actual, expected)

    def test_only_adjust_starts_grayed_and_keepalive_disabled_is_checked(self):
        states = command_states(self.h.ui.menu()["menu"])
        expected = {item_id: 0 for item_id in MENU_IDS}
        expected[ADJUST_ID] = MF_GRAYED_DISABLED
        expected[KEEPALIVE_DISABLED_ID] = MF_CHECKED
        self.assertEqual(states, expected)
        adjust = self.h.ui.menustate(ADJUST_ID)
        self.assertTrue(adjust["grayed"])
        self.assertFalse(adjust["checked"])
        self.assertTrue(self.h.ui.menustate(KEEPALIVE_DISABLED_ID)["checked"])
        self.assertFalse(self.h.ui.menustate(KEEPALIVE_ENABLED_ID)["checked"])

    def test_window_has_fixed_size_without_sizing_border_or_maximise_box(self):
        window = self.h.ui.window()
        left, top, right, bottom = window["rect"]
        self.assertEqual((right - left, bottom - top), OUTER_SIZE)
        self.assertEqual(window["style"] & ~WS_CLIPSIBLINGS, MAIN_STYLE, hex(window["style"]))
        self.assertFalse(window["style"] & (WS_THICKFRAME | WS_MAXIMIZEBOX))
        self.assertTrue(window["enabled"])

    def test_front_panel_has_its_37_controls_in_place(self):
        controls = {control["id"]: control for control in self.h.ui.controls()["controls"]}
        self.assertEqual(sorted(controls), sorted(CONTROLS))
        for control_id, (cls, style, exstyle, x, y, w, h) in CONTROLS.items():
            control = controls[control_id]
            with self.subTest(id=control_id):
                self.assertEqual(control["class"].upper(), cls)
                self.assertEqual(hex(control["style"]), hex(style))
                self.assertEqual(control["exstyle"], exstyle)
                self.assertEqual((control["x"], control["y"], control["w"], control["h"]),
                                 (x, y, w, h))
                self.assertEqual(control["visible"], bool(style & 0x10000000))
                self.assertEqual(control["enabled"], control_id != TEST_KEY_ID)
                if control_id != DISPLAY_PANEL_ID:
                    expected_text = "Test" if control_id == TEST_KEY_ID else ""
                    self.assertEqual(control["text"], expected_text)

    def test_display_panel_shows_connecting_in_white_on_display_blue(self):
        self.assertIn(CONNECTING, self.h.ui.text(DISPLAY_PANEL_ID)["text"])
        # The text is painted a moment after the window first shows.
        deadline = time.monotonic() + 5
        grab = self.h.grab_control(DISPLAY_PANEL_ID)
        while WHITE not in grab.colours() and time.monotonic() < deadline:
            time.sleep(0.2)
            grab = self.h.grab_control(DISPLAY_PANEL_ID)
        colours = grab.colours()
        self.assertIn(WHITE, colours, "no white text on the display panel")
        self.assertEqual(max(colours, key=colours.get), DISPLAY_BLUE)
        strays = {colour: count for colour, count in colours.items()
                  if not on_blue_to_white_blend(colour)}
        self.assertEqual(strays, {}, "colours other than white text on display blue")
        # The same through the program's own screen reads, at the corners.
        _, _, _, x, y, w, h = CONTROLS[DISPLAY_PANEL_ID]
        for corner in ((x + 1, y + 1), (x + w - 2, y + 1), (x + 1, y + h - 2),
                       (x + w - 2, y + h - 2)):
            with self.subTest(pixel=corner):
                self.assertEqual(tuple(self.h.ui.pixel(*corner)["rgb"]), DISPLAY_BLUE)

    def test_close_box_ends_the_program_with_exit_code_0_and_saves_the_settings(self):
        self.h.ui.close()
        self.assertEqual(self.program.wait_exit(10), 0)
        self.assertEqual(self.h.read_settings(), {"COMPORT": "COM1", "KEEPALIVE": "0"})

    def test_alt_f4_ends_the_program_with_exit_code_0(self):
        self.h.ui.altf4()
        self.assertEqual(self.program.wait_exit(10), 0)
        self.assertEqual(self.h.read_settings().get("COMPORT"), "COM1")


class StartWithoutControllerTest(WineTestCase):
    """No controller on any port: COM1 behaves as a port the machine does not have."""

    def test_can_not_open_com1_is_reported_before_the_window_shows(self):
        program = self.h.start()
        box = self.h.ui.waitbox(20000)["boxes"][0]
        self.assertEqual((box["caption"], box["text"]), ("ERROR", "Can not open COM1"))
        self.assertEqual([button["id"] for button in box["buttons"]], [IDOK])
        with self.assertRaises(DriverError):
            self.h.ui.find(300)
        self.h.ui.answer(IDOK)
        self.h.ui.find(10000)
        self.assertEqual(self.h.ui.window()["caption"], CAPTION_NO_CONNECTION)
        self.h.ui.close()
        self.assertEqual(program.wait_exit(10), 0)
        self.assertEqual(self.h.read_settings(), {"COMPORT": "COM1", "KEEPALIVE": "0"})
