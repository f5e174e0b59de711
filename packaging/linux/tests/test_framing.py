"""Whole messages out of the server's stream, the program's commands towards it, and
the server's own texts."""

import unittest

import launcher_path  # noqa: F401
from tovak_remote import framing
from tovak_remote.framing import Inbound, Outbound


class InboundTest(unittest.TestCase):

    def test_only_whole_messages_pass_and_pieces_are_never_glued(self):
        inbound = Inbound()
        # A connection that begins inside a message: its piece goes, with its ";".
        self.assertEqual(inbound.feed(b"0.000;Pw1;Fq14."), b"Pw1;")
        self.assertEqual(inbound.feed(b"000;"), b"Fq14.000;")
        # A message cut by the end of the connection is dropped; after the next
        # connection's first ";" the stream is in step again.
        self.assertEqual(inbound.feed(b"Fq14.0"), b"")
        self.assertEqual(inbound.end(), b"Fq14.0")
        inbound.restart()
        self.assertEqual(inbound.feed(b"Fq21.000;"), b"")
        self.assertEqual(inbound.feed(b"Fq21.000;Bm1;"), b"Fq21.000;Bm1;")
        self.assertEqual(inbound.dropped, len("0.000;Fq14.0Fq21.000;") - 2)

    def test_messages_pass_unchanged_as_soon_as_their_end_comes(self):
        inbound = Inbound()
        inbound.feed(b";")
        for piece, passed in ((b"Er0", b""), (b"01;Md", b"Er001;"), (b"Sim Beam 600    ", b""),
                              (b";", b"MdSim Beam 600    ;"), (b"\xff\x00;", b"\xff\x00;")):
            self.assertEqual(inbound.feed(piece), passed, piece)

    def test_a_line_longer_than_any_message_is_dropped_until_the_next_end(self):
        inbound = Inbound()
        inbound.feed(b";")
        self.assertEqual(inbound.feed(b"A" * (framing.MESSAGE_LIMIT + 1)), b"")
        self.assertFalse(inbound.in_step)
        self.assertEqual(inbound.feed(b"AAA;Pw1;"), b"Pw1;")
        # Before the first ";" only a little is kept, whatever arrives.
        inbound.restart()
        inbound.feed(b"x" * 100000)
        self.assertEqual(len(inbound.end()), framing.TEXT_LIMIT)

    def test_the_servers_texts_are_recognised_and_never_passed(self):
        cases = [
            (b"Port already in use\r\n", framing.IN_USE, "Port already in use"),
            (b"Port's device already in use\r\n", framing.DEVICE_IN_USE,
             "Port's device already in use"),
            (b"Device open failure: Value or file not found\r\n", framing.NO_DEVICE,
             "Device open failure: Value or file not found"),
            (b"\r\nPort disabled\r\n", framing.DISABLED, "Port disabled"),
        ]
        for stream, kind, line in cases:
            with self.subTest(line):
                inbound = Inbound()
                self.assertEqual(inbound.feed(stream), b"")
                text = framing.recognised(inbound.end())
                self.assertEqual((text.kind, text.line), (kind, line))
        self.assertIsNone(framing.recognised(b"Fq14.0"))


class OutboundTest(unittest.TestCase):

    def test_a_command_cut_by_a_drop_is_not_finished_later(self):
        outbound = Outbound()
        self.assertEqual(outbound.passed(b"B3FN"), b"B3FN")
        outbound.dropped(b"SP;B4FN")  # the link went down meanwhile
        outbound.restart()
        self.assertTrue(outbound.skip_rest)
        self.assertEqual(outbound.passed(b"SP"), b"")
        self.assertEqual(outbound.passed(b";B1FNSP;"), b"B1FNSP;")
        self.assertTrue(outbound.at_boundary)
        outbound.restart()
        self.assertEqual(outbound.passed(b"SR;"), b"SR;")


if __name__ == "__main__":
    unittest.main()
