"""A line that misbehaves: a flood of random bytes, garbage between valid messages cut
across reads, a minute of silence; and a debug log of one run replayed by the
simulator (tovaksim --replay) into a second run of the program.

Where the program's reads matter, the debug log's R lines are compared with the
simulator's record: each R line holds one read, so their bodies joined are every byte
the program took from the line, in order."""

import itertools
import random
import shutil
import time

from harness import wait_until
from test_monitor import (BAND_LEDS, DIPOLE_LED, DISPLAY_PANEL, ERROR_CAPTION, NORMAL_LED,
                          POWER_LED, REVERSE_LED, STATE_TIMEOUT_S, STEP_INDICATOR,
                          MonitorTestCase, panel)

BOX_OK = 1
TERMINATOR = b";"
# The program keeps an unterminated rest for the next read, and drops it once it has
# grown past one full read without a terminator.
MAX_KEPT_REST = 4095
ERROR_TEXTS = {
    ord("1"): b"Received an unknown command",
    ord("2"): b"During motor operation or HOME mode",
    ord("4"): b"Can't be execute commands.\r(Controller is ADJUST mode)",
    ord("5"): b"During motor operation or CALIBRATION mode",
    ord("6"): b"Can't be execute commands.\r(not lock staus)",
}
ERROR_CODE_INDEX = 4  # the code is the message's fifth character
UNKNOWN_ERROR = (b"Unknown Error (", b")")

# A status after anything: the leading ";" ends whatever rest the garbage left, "Mt0"
# stops a motor counter the garbage may have started.
FINAL_STATUS = b";Mt0;Pw1;Bm1;Tm0;Fq20m   14.150 MHz;"
FINAL_PANEL = panel(" AUTO      NORMAL", " 20m   14.150 MHz")
STATUS_40M = b"Pw1;Bm1;Tm0;Fq40m    7.050 MHz;"
PANEL_40M = panel(" AUTO      NORMAL", " 40m    7.050 MHz")

# -- the flood --------------------------------------------------------------------------

FLOOD_BYTES = 256 * 1024
# With this seed the flood spells two complete "Er" messages (one with code "5", one
# unknown, both holding a zero byte that ends the box's text) and no other known
# message; no run between two terminators is longer than MAX_KEPT_REST, so which
# messages it spells does not depend on where the program's reads end.
FLOOD_SEED = 910
FLOOD_ERRORS = 2
FLOOD_STEP_TIMEOUT_S = 60
STATUS_AFTER_FLOOD_S = 1.0
STATUS_WAIT_MS = 5000
RSS_GROWTH_LIMIT_KB = 2048
BOX_POLL_S = 0.02


def split_messages(stream):
    """The messages the program makes of the stream, by its own rule: cut at every ";",
    the rest kept for the next read. Only for streams without a run of more than
    MAX_KEPT_REST bytes between terminators, in which that rule never drops a rest."""
    pieces = stream.split(TERMINATOR)
    longest = max(len(piece) for piece in pieces)
    if longest > MAX_KEPT_REST:
        raise AssertionError("a run of %d bytes without a terminator: the messages "
                             "depend on where the reads end" % longest)
    return pieces[:-1]


def box_text(message):
    """The text of the box an "Er" message gives, as the box shows it: up to its first
    zero byte, since the box takes the text as a C string."""
    code = message[ERROR_CODE_INDEX] if len(message) > ERROR_CODE_INDEX else None
    text = ERROR_TEXTS.get(code, UNKNOWN_ERROR[0] + message + UNKNOWN_ERROR[1])
    return text.split(b"\0", 1)[0].decode("latin-1")


class LineFaultTestCase(MonitorTestCase):
    """Boxes closed as they come while the simulator works on."""

    def close_boxes(self, seen):
        """Answers every box open now; appends (caption, text) of each to seen."""
        for box in self.h.ui.boxes()["boxes"]:
            seen.append((box["caption"], box["text"]))
            self.h.ui.answer(BOX_OK)

    def run_closing_boxes(self, sim, line, timeout, seen):
        """Runs one step, closing boxes while it runs; returns its answer."""
        sim.post(line)
        deadline = time.monotonic() + timeout
        while not sim.answered():
            if time.monotonic() > deadline:
                raise AssertionError("%r took over %s s" % (line, timeout))
            self.close_boxes(seen)
            time.sleep(BOX_POLL_S)
        return sim.answer(line)


class FloodTest(LineFaultTestCase):
    # The status within a second of the flood: the program's reads at its poll ticks,
    # which a busy machine delays.
    quiet = True

    def test_a_flood_of_random_bytes_leaves_the_panel_live_memory_flat_and_only_its_error_boxes(
            self):
        sim = self.h.simulator("COM1", seed=FLOOD_SEED)
        program = self.start_program(sim)
        sim.send(STATUS_40M)
        self.wait_panel(PANEL_40M)
        resident_before = program.resident_kb()
        sent_before = len(sim.sent())

        boxes = []
        self.run_closing_boxes(sim, "garbage %d" % FLOOD_BYTES, FLOOD_STEP_TIMEOUT_S, boxes)
        # The flood's end: the step answers once the simulator's write of its last byte
        # has returned; at most a pty buffer of it (18 kB here) is then still unread.
        ended = time.monotonic()
        sim.send(FINAL_STATUS)
        self.h.ui.waittext(DISPLAY_PANEL, FINAL_PANEL, STATUS_WAIT_MS)
        shown = time.monotonic()
        self.assertLess(shown - ended, STATUS_AFTER_FLOOD_S, "the status after the flood")
        self.assertEqual(self.panel_text(), FINAL_PANEL)
        growth = program.resident_kb() - resident_before
        self.assertLess(growth, RSS_GROWTH_LIMIT_KB, "resident memory grew (kB)")

        flood = sim.sent()[sent_before:sent_before + FLOOD_BYTES]
        self.assertEqual(len(flood), FLOOD_BYTES)
        errors = [message for message in split_messages(flood + FINAL_STATUS)
                  if message.startswith(b"Er")]
        self.assertEqual(len(errors), FLOOD_ERRORS, "the seed no longer spells its boxes")
        self.assertEqual(boxes, [(ERROR_CAPTION, box_text(message)) for message in errors])
        self.assertEqual(self.h.ui.boxes()["boxes"], [])


# -- garbage between valid messages -----------------------------------------------------

GARBAGE_SEED = 2024
# The first two characters of every message the program knows: junk in which no two
# neighbours form one of these spells no known message, wherever reads cut it or a
# kept rest is dropped.
KNOWN_STARTS = {b"Fq", b"Sn", b"Ve", b"Md", b"Ea", b"Cp", b"Er", b"Pw", b"Bm", b"Tm", b"Mt",
                b"Cf", b"Cl", b"Hm", b"Cn", b"Se", b"Ud", b"At"}
# Any byte but the terminator, the zero byte that ends a log line's body, and LF, so
# no CR LF can cut a log line in two.
JUNK_BYTES = [byte for byte in range(1, 256) if byte not in b";\n"]
# Faster than the program reads, so each read takes a full 4095 bytes and ends where
# it happens to, often inside a message.
GARBAGE_ITEMS = 1500
ERROR_REPORT_EVERY = 125
SPOILED_REPORT_EVERY = 4
LONG_RUN_ITEMS = (500, 1000)  # runs without a terminator longer than a kept rest may grow
LONG_RUN_BYTES = (MAX_KEPT_REST + 1, MAX_KEPT_REST + 1000)
JUNK_MESSAGE_SHARE = 0.3
JUNK_MESSAGES = (1, 3)
JUNK_MESSAGE_BYTES = (0, 30)
JUNK_RUN_SHARE = 0.2
JUNK_RUN_BYTES = (1, 100)
PIECE_BYTES = (1, 1500)
PIECE_PAUSE_MS = (0, 10)
VALID_CUTS_MIN = 3
# Long reports, so that reads surely cut some of them: their boxes show that a message
# cut across reads is still interpreted, once.
REPORT_FILLER = b"=" * 3000
CUT_REPORTS_MIN = 2
BANDS = [(b"40m", 7000, 7300), (b"20m", 14000, 14350), (b"15m", 21000, 21450),
         (b" 6m", 50000, 50300)]
EVENTS = [b"Pw1", b"Bm1", b"Bm2", b"Bm4", b"Tm0", b"Tm1", b"Mt0"]
GARBAGE_STEPS_TIMEOUT_S = 60


def junk(rng, size):
    data = bytearray()
    while len(data) < size:
        byte = rng.choice(JUNK_BYTES)
        if not data or bytes((data[-1], byte)) not in KNOWN_STARTS:
            data.append(byte)
    return bytes(data)


def frequency(rng):
    band, low, high = rng.choice(BANDS)
    khz = rng.randrange(low, high, 10)
    unit = rng.choice([b"MHz", b"mhz"])
    return b"Fq%s%9s %s" % (band, b"%d.%03d" % (khz // 1000, khz % 1000), unit)


def messages_of_reads(reads):
    """The messages the program makes of its reads, by its own rule: cut at every ";",
    the unterminated rest kept for the next read and dropped once it has grown past
    MAX_KEPT_REST bytes."""
    messages = []
    rest = b""
    for read in reads:
        pieces = (rest + read).split(TERMINATOR)
        messages += pieces[:-1]
        rest = pieces[-1] if len(pieces[-1]) <= MAX_KEPT_REST else b""
    return messages


class GarbageTest(LineFaultTestCase):
    def test_every_complete_message_among_garbage_cut_across_reads_is_interpreted_once(self):
        rng = random.Random(GARBAGE_SEED)
        stream = b""
        valid = []  # (start, end) of every complete valid message, its ";" included
        report_spans = []
        reports = 0
        for item in range(GARBAGE_ITEMS):
            report = item % ERROR_REPORT_EVERY == 0
            if report:
                # Numbered, so each box tells which report it is.
                reports += 1
                message = b"Er007 #%02d " % reports + REPORT_FILLER
            else:
                message = rng.choice([frequency(rng), rng.choice(EVENTS)])
            if item in LONG_RUN_ITEMS:
                stream += junk(rng, rng.randint(*LONG_RUN_BYTES)) + TERMINATOR
            if rng.random() < JUNK_MESSAGE_SHARE:
                for _ in range(rng.randint(*JUNK_MESSAGES)):
                    stream += junk(rng, rng.randint(*JUNK_MESSAGE_BYTES)) + TERMINATOR
            spoiled = report and reports % SPOILED_REPORT_EVERY == 0
            if spoiled or rng.random() < JUNK_RUN_SHARE:
                # Junk without a terminator right before a message makes it no message.
                stream += junk(rng, rng.randint(*JUNK_RUN_BYTES))
                stream += b"" if spoiled else TERMINATOR
            if not spoiled:
                valid.append((len(stream), len(stream) + len(message) + 1))
                report_spans += [valid[-1]] if report else []
            stream += message + TERMINATOR
        stream += FINAL_STATUS[1:]
        self.assertNotIn(b"\r\n", stream)

        self.h.write_settings(DEBUG=1)
        sim = self.h.simulator("COM1")
        self.start_program(sim)
        steps = []
        position = 0
        while position < len(stream):
            size = rng.randint(*PIECE_BYTES)
            steps.append("send " + sim.escape(stream[position:position + size]))
            steps.append("delay %d" % rng.randint(*PIECE_PAUSE_MS))
            position += size
        boxes = []
        for line in steps:
            sim.post(line)
        deadline = time.monotonic() + GARBAGE_STEPS_TIMEOUT_S
        for line in steps:
            while not sim.answered():
                self.assertLess(time.monotonic(), deadline, "the steps took too long")
                self.close_boxes(boxes)
                time.sleep(BOX_POLL_S)
            sim.answer(line)
        wait_until(lambda: self.close_boxes(boxes) or self.panel_text() == FINAL_PANEL,
                   STATE_TIMEOUT_S, "the last status on the panel")
        self.assertEqual(self.h.ui.boxes()["boxes"], [])

        # Nothing read lost or read twice: the reads joined are all that was sent.
        reads = [line.encode("latin-1") for line in self.received_lines()]
        self.assertEqual(sim.sent(), stream)
        self.assertEqual(b"".join(reads), stream)
        ends = list(itertools.accumulate(len(read) for read in reads))
        cut = [(start, end) for start, end in valid if any(start < at < end for at in ends)]
        self.assertGreaterEqual(len(cut), VALID_CUTS_MIN, "valid messages cut across reads")
        self.assertGreaterEqual(len(set(cut) & set(report_spans)), CUT_REPORTS_MIN,
                                "reports cut across reads")
        messages = messages_of_reads(reads)
        known = [message for message in messages if message[:2] in KNOWN_STARTS]
        expected = [message for message in stream.split(TERMINATOR)[:-1]
                    if message[:2] in KNOWN_STARTS]
        self.assertEqual(known, expected, "the complete messages the reads hold")
        errors = [message for message in known if message.startswith(b"Er")]
        self.assertEqual(boxes, [(ERROR_CAPTION, box_text(message)) for message in errors])
        self.assertEqual(len(errors), reports - reports // SPOILED_REPORT_EVERY)


# -- a minute of silence ----------------------------------------------------------------

SILENCE_MS = 60000
UI_CHECK_EVERY_S = 5.0
UI_ANSWER_S = 2.0  # a query waits for one 120 ms read at most; a loaded machine is slower
STATUS_AFTER_SILENCE_S = 1.0  # one poll period and one read (220 ms), with room to spare
STATUS_AFTER_SILENCE = b"Fq20m   14.150 MHz;"
PANEL_AFTER_SILENCE = panel(" AUTO      NORMAL", " 20m   14.150 MHz")


class SilenceTest(LineFaultTestCase):
    time_limit = 120
    expected_seconds = 65.0  # its minute of silence

    def test_a_minute_of_silence_then_a_status_shows_at_once_without_a_restart(self):
        sim = self.h.simulator("COM1")
        program = self.start_program(sim)
        sim.send(STATUS_40M)
        self.wait_panel(PANEL_40M)
        caption = self.h.ui.window()["caption"]

        # The simulator neither writes nor reads the line for the minute.
        sim.post("silence %d" % SILENCE_MS)
        checks = 0
        checked = None
        while not sim.answered():
            if checked is None or time.monotonic() - checked >= UI_CHECK_EVERY_S:
                checked = time.monotonic()
                self.assertEqual(self.panel_text(), PANEL_40M)
                self.assertLess(time.monotonic() - checked, UI_ANSWER_S, "the panel's text took")
                self.assertEqual(self.h.ui.boxes()["boxes"], [])
                checks += 1
            time.sleep(BOX_POLL_S)
        sim.answer("silence")
        self.assertGreaterEqual(checks, SILENCE_MS / 1000 / UI_CHECK_EVERY_S - 1)

        sent = time.monotonic()
        sim.send(STATUS_AFTER_SILENCE)
        self.h.ui.waittext(DISPLAY_PANEL, PANEL_AFTER_SILENCE, STATUS_WAIT_MS)
        self.assertLess(time.monotonic() - sent, STATUS_AFTER_SILENCE_S, "the status took")
        self.assertEqual(self.h.ui.window()["caption"], caption)
        self.assertEqual(self.h.ui.boxes()["boxes"], [])
        self.assertTrue(program.running())
        self.assertEqual(len(self.h.programs), 1)


# -- replaying a debug log --------------------------------------------------------------

POWER_KEY = 1001
MANUAL_KEY = 1003
MODE_KEY = 1006
KEY_18M = 1010
UP_KEY = 1033
LOOK_CONTROLS = BAND_LEDS + [POWER_LED, NORMAL_LED, REVERSE_LED, DIPOLE_LED, STEP_INDICATOR]
REPLAY_SPEED = 2  # the log's few seconds in half the time
REPLAY_TIMEOUT_S = 30
EXIT_TIMEOUT_S = 10
CUT_FREQUENCY = (b"Fq17m   18", b".150 MHz;")


class ReplayTest(LineFaultTestCase):
    def session_look(self):
        """The panel's text and images once the program has settled."""
        return self.panel_text(), self.look(LOOK_CONTROLS)

    def test_a_replayed_debug_log_brings_a_second_run_to_the_same_panel(self):
        self.h.write_settings(DEBUG=1)
        controller = self.h.simulator("COM1", model={})
        first = self.start_program(controller)
        self.wait_panel(panel(" AUTO      NORMAL", " 20m   14.100 MHz"))
        self.h.ui.click(UP_KEY)
        self.wait_panel(panel(" AUTO      NORMAL", " 20m   14.140 MHz"))
        self.h.ui.click(KEY_18M)
        self.wait_panel(panel(" AUTO      NORMAL", " 17m   18.100 MHz"))
        self.h.ui.click(MANUAL_KEY)
        self.h.ui.click(MODE_KEY)
        self.wait_panel(panel(" MANUAL   REVERSE", " 17m   18.100 MHz"))
        self.h.ui.click(POWER_KEY)
        self.wait_panel(panel(" POWER OFF    ", " "))
        self.h.ui.click(POWER_KEY)
        self.wait_panel(panel(" MANUAL   REVERSE", " 17m   18.100 MHz"))
        # A frequency whose end surely falls into a later read.
        self.send_read(controller, CUT_FREQUENCY[0])
        controller.send(CUT_FREQUENCY[1])
        self.wait_panel(panel(" MANUAL   REVERSE", " 17m   18.150 MHz"))
        seen = self.session_look()
        self.h.ui.close()
        self.assertEqual(first.wait_exit(EXIT_TIMEOUT_S), 0)
        first_reads = self.received_lines()
        self.assertIn(CUT_FREQUENCY[0].decode(), first_reads)
        log = self.h.folder / "first-run.log"
        shutil.move(str(self.h.log_path), str(log))

        # Afresh, the log's reads on another port.
        self.h.write_settings(COMPORT="COM2", DEBUG=1)
        replay = self.h.simulator("COM2", replay=log, replay_speed=REPLAY_SPEED)
        self.start_program(replay)
        wait_until(lambda: any(kind == "replay" and detail.startswith("done")
                               for _, kind, detail in replay.events()),
                   REPLAY_TIMEOUT_S, "the end of the replay")
        self.assertEqual(replay.sent(), "".join(first_reads).encode("latin-1"))
        wait_until(lambda: "".join(self.received_lines()) == "".join(first_reads),
                   STATE_TIMEOUT_S, "the second run's reads")
        self.wait_panel(seen[0])
        self.assertEqual(self.session_look(), seen)
