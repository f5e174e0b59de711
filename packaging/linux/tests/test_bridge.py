"""The bridge against a fake network serial server on 127.0.0.1: the program's side is
the pty the bridge owns, opened here as Wine opens it.

The waits are the bridge's own, shortened by FAST (the test of Backoff keeps the real
ones), so the whole file takes a few seconds."""

import errno
import os
import select
import socket
import stat
import struct
import tempfile
import time
import unittest
from pathlib import Path
from unittest import mock

import launcher_path  # noqa: F401
from tovak_remote import bridge
from tovak_remote.bridge import Backoff, Bridge
from tovak_remote.report import Reporter

WAIT = 5.0  # s for anything that should happen at once
# The bridge's waits for these tests, a tenth of the real ones.
FAST = {"BACKOFF_FIRST": 0.05, "BACKOFF_LAST": 0.4, "IN_USE_RETRY": 0.6,
        "CONFIRM_SECONDS": 0.3}


def wait_for(predicate, what, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("%s: not within %s s" % (what() if callable(what) else what,
                                                         timeout))
        time.sleep(0.01)


class FakeServer:
    """A listening socket on 127.0.0.1 that the test plays the server with."""

    def __init__(self, port=0):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.times = []  # when each connection was accepted
        self.connections = []

    def accept(self, timeout=WAIT):
        if not select.select([self.listener], [], [], timeout)[0]:
            raise AssertionError("no connection within %s s" % timeout)
        conn, _ = self.listener.accept()
        self.connections.append(conn)
        self.times.append(time.monotonic())
        conn.settimeout(WAIT)
        return conn

    @staticmethod
    def read_until(conn, ending):
        data = b""
        while not data.endswith(ending):
            chunk = conn.recv(4096)
            if not chunk:
                break
            data += chunk
        return data

    def close(self):
        self.listener.close()
        for conn in self.connections:
            conn.close()


def reset(conn):
    """Closes a connection with a reset, as a station's TCP does that lost it."""
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()


class BridgeTestCase(unittest.TestCase):

    def setUp(self):
        for name, value in FAST.items():
            patcher = mock.patch.object(bridge, name, value)
            patcher.start()
            self.addCleanup(patcher.stop)
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)
        # A notifier that writes down its notes (notify-send's arguments).
        tools = self.folder / "bin"
        tools.mkdir()
        self.notes_path = self.folder / "notes"
        (tools / "notify-send").write_text('#!/bin/sh\nshift 2\necho "$@" >> %s\n'
                                           % self.notes_path)
        (tools / "notify-send").chmod(0o755)
        patcher = mock.patch.dict(os.environ, {"PATH": "%s:%s" % (tools, os.environ["PATH"])})
        patcher.start()
        self.addCleanup(patcher.stop)
        self.server = FakeServer()
        self.addCleanup(lambda: self.server.close())
        self.log_path = self.folder / "launcher.log"
        self.report = Reporter(self.log_path, echo=False)
        self.bridge = Bridge(self.report, self.folder / "links")
        self.link_path = self.folder / "ports" / "com1"
        self.link = self.bridge.add(1, "127.0.0.1", self.server.port, self.link_path)
        self.program = None

    def start(self):
        self.bridge.start()
        self.addCleanup(self.stop)
        # The program opens its COM port as Wine does: the link's pty, read and write.
        self.program = os.open(self.link_path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

    def stop(self):
        if self.program is not None:
            os.close(self.program)
        self.bridge.stop()
        self.report.close()

    def log(self):
        return self.log_path.read_text() if self.log_path.exists() else ""

    def notes(self):
        return self.notes_path.read_text() if self.notes_path.exists() else ""

    def received(self, until, timeout=WAIT):
        """What the program reads until its bytes end with until."""
        data = b""
        deadline = time.monotonic() + timeout
        while not data.endswith(until):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.program], [], [], left)[0]:
                raise AssertionError("the program read %r, not ending in %r" % (data, until))
            data += os.read(self.program, 4096)
        return data

    def nothing_for_program(self, seconds=0.3):
        if select.select([self.program], [], [], seconds)[0]:
            self.fail("the program got %r" % os.read(self.program, 4096))

    def connected(self):
        """Accepts the bridge's connection and reads its first status request."""
        conn = self.server.accept()
        self.assertEqual(FakeServer.read_until(conn, b"SR;"), b"SR;")
        return conn

    def in_step(self, conn):
        """Answers the first status request, whose first message is dropped, and reads
        the second."""
        conn.sendall(b"Pw1;Fq14.000;")
        self.assertEqual(self.received(b"Fq14.000;"), b"Fq14.000;")
        self.assertEqual(FakeServer.read_until(conn, b"SR;"), b"SR;")
        wait_for(lambda: self.link.state == bridge.UP, "the link up")


class BackoffTest(unittest.TestCase):

    def test_waits_double_from_half_a_second_to_five(self):
        backoff = Backoff()
        self.assertEqual([backoff.take() for _ in range(7)], [0.5, 1.0, 2.0, 4.0, 5.0, 5.0, 5.0])
        backoff.reset()
        self.assertEqual(backoff.take(), 0.5)


class StubBridge:
    """What a link asks of its bridge, for a link driven by hand with its own clock."""

    def __init__(self, report):
        self.report = report
        self.attempts = []

    def start_connect(self, link, attempt, reuse):
        self.attempts.append((attempt, reuse))

    def states_changed(self):
        pass


class ScheduleTest(unittest.TestCase):
    """When a link tries again, with the real waits, on a clock of the test's."""

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.log_path = Path(folder.name) / "launcher.log"
        self.bridge = StubBridge(Reporter(self.log_path, echo=False))
        self.link = bridge.Link(self.bridge, 1, "station", 3333, Path(folder.name) / "com1")
        self.now = 100.0
        self.link.deadline = self.now

    def waits(self, failures, make_failure):
        """The waits after each of failures attempts that fail with make_failure()."""
        waits = []
        for _ in range(failures):
            self.now = self.link.deadline
            self.link.tick(self.now)
            attempt = self.bridge.attempts[-1][0]
            make_failure(attempt)
            waits.append(self.link.deadline - self.now)
        return waits

    def refused(self, attempt):
        self.link.connect_failed(attempt, OSError(errno.ECONNREFUSED, "refused"), self.now)

    def test_attempts_back_off_from_half_a_second_to_five(self):
        self.assertEqual(self.waits(6, self.refused), [0.5, 1.0, 2.0, 4.0, 5.0, 5.0])
        log = self.log_path.read_text()
        self.assertEqual(log.count("cannot reach station:3333 (nothing answers there"), 1)

    def test_a_port_in_use_is_tried_at_the_slow_pace_unless_the_session_was_ours(self):
        in_use = bridge.framing.recognised(b"Port already in use\r\n")

        def taken(attempt):
            self.link.state = bridge.CONFIRMING  # connected, then refused in words
            self.link._refused(in_use, self.now)

        self.assertEqual(self.waits(3, taken), [bridge.IN_USE_RETRY] * 3)
        self.assertIn("another user has the port", self.log_path.read_text())
        # Soon after this link's own session went silent, the session the station
        # holds may be that one: the usual back-off, and other words.
        self.link.reuse = ("192.0.2.1", 40000)
        self.link.reuse_until = self.now + bridge.STALE_SECONDS
        self.link.backoff.reset()
        self.assertEqual(self.waits(2, taken), [0.5, 1.0])
        self.assertEqual(self.bridge.attempts[-1][1], ("192.0.2.1", 40000))
        self.assertIn("the station still holds this computer's previous session",
                      self.log_path.read_text())


class LinkTest(BridgeTestCase):

    def test_the_pty_stays_for_the_whole_run_and_whole_messages_pass_both_ways(self):
        self.start()
        self.assertTrue(stat.S_ISCHR(os.stat(self.link_path).st_mode))
        conn = self.connected()
        self.in_step(conn)
        # Whole messages pass at once and unchanged, a split one once its end came.
        conn.sendall(b"Bm1;Tm0;Fq7.0")
        self.assertEqual(self.received(b"Tm0;"), b"Bm1;Tm0;")
        conn.sendall(b"50;")
        self.assertEqual(self.received(b";"), b"Fq7.050;")
        os.write(self.program, b"B3FNSP;")
        self.assertEqual(FakeServer.read_until(conn, b";"), b"B3FNSP;")
        self.assertEqual(self.link.state, bridge.UP)
        self.assertIn("COM1 tcp://127.0.0.1:%d up" % self.server.port,
                      (self.folder / "links").read_text())
        conn.close()
        self.stop()
        self.program = None
        self.assertFalse(os.path.lexists(self.link_path))
        self.assertFalse((self.folder / "links").exists())

    def test_a_drop_mid_message_loses_the_piece_and_the_writes_made_while_down(self):
        self.start()
        conn = self.connected()
        self.in_step(conn)
        conn.sendall(b"Fq14.0")
        wait_for(lambda: self.link.inbound.held == b"Fq14.0", "the piece held")
        reset_at = time.monotonic()
        reset(conn)
        wait_for(lambda: "is lost (reset by the station)" in self.log(), self.log)
        # What the program writes now goes nowhere, and is counted.
        os.write(self.program, b"B3FNSP;")
        wait_for(lambda: "dropped a write of the program (7 bytes: B3FNSP;)" in self.log(),
                 self.log)
        conn = self.server.accept()
        self.assertGreaterEqual(self.server.times[-1] - reset_at, FAST["BACKOFF_FIRST"])
        # Only the status request comes, never the write made while down.
        self.assertEqual(FakeServer.read_until(conn, b"SR;"), b"SR;")
        conn.sendall(b"Fq21.000;Pw1;")
        self.assertEqual(self.received(b"Pw1;"), b"Pw1;")  # "Fq14.0" never glued on
        self.assertEqual(FakeServer.read_until(conn, b"SR;"), b"SR;")
        wait_for(lambda: "1 writes of the program (7 bytes) were dropped while the link "
                 "was down, none sent later" in self.log(), self.log)
        self.assertIn("is back after", self.log())
        # The notifier runs beside the bridge, which does not wait for it.
        wait_for(lambda: "link lost" in self.notes() and "link back" in self.notes(),
                 self.notes)
        conn.settimeout(0.3)
        with self.assertRaises(socket.timeout):
            conn.recv(100)

    def test_refusals_are_said_in_plain_words_and_never_reach_the_program(self):
        self.start()
        conn = self.server.accept()
        conn.sendall(b"Device open failure: Value or file not found\r\n")
        conn.close()
        wait_for(lambda: "the station's adapter is missing" in self.log(), self.log)
        self.assertIn("(ser2net: Device open failure: Value or file not found)", self.log())
        # Another user has the port: said once, tried again at the slow pace, never
        # taken over.
        for _ in range(3):
            conn = self.server.accept()
            conn.sendall(b"Port already in use\r\n")
            conn.close()
        gaps = [b - a for a, b in zip(self.server.times[1:], self.server.times[2:])]
        self.assertTrue(all(gap >= FAST["IN_USE_RETRY"] - 0.01 for gap in gaps), gaps)
        self.assertEqual(self.log().count("another user has the port"), 1, self.log())
        self.nothing_for_program()
        self.assertNotEqual(self.link.state, bridge.UP)
        # The port is free again: the link comes.
        conn = self.connected()
        self.in_step(conn)
        wait_for(lambda: "is back after" in self.log(), self.log)

    def test_not_reachable_at_start_tries_again(self):
        self.server.close()
        closed_port = self.server.port
        self.start()
        wait_for(lambda: "cannot reach 127.0.0.1:%d (nothing answers there" % closed_port
                 in self.log(), self.log)
        # A station that takes each connection and resets it: the attempts back off.
        self.server = FakeServer(closed_port)
        for _ in range(4):
            reset(self.server.accept())
        gaps = [b - a for a, b in zip(self.server.times, self.server.times[1:])]
        self.assertGreaterEqual(min(gaps), FAST["BACKOFF_FIRST"], gaps)
        self.assertEqual(self.log().count("cannot reach"), 2, self.log())  # a new reason
        conn = self.connected()
        self.in_step(conn)
        wait_for(lambda: "is back after" in self.log(), self.log)

    def test_a_station_that_hands_the_port_over_again_and_again_is_left_to_it(self):
        self.start()
        for _ in range(bridge.HANDED_OVER_CLOSES):
            conn = self.connected()
            conn.close()  # ser2net's kickolduser: closed without a word
        wait_for(lambda: "not taking it back" in self.log(), self.log)
        self.assertEqual(self.link.state, bridge.GIVEN_UP)
        self.assertFalse(select.select([self.server.listener], [], [], 1.0)[0],
                         "the bridge connected once more")


class ConnectTest(unittest.TestCase):

    def test_connects_from_the_port_it_had_where_that_is_free(self):
        server = FakeServer()
        self.addCleanup(server.close)
        first = bridge.connect("127.0.0.1", server.port, None)
        self.addCleanup(first.close)
        local = first.getsockname()
        server.accept().close()
        first.close()
        again = bridge.connect("127.0.0.1", server.port, local)
        self.addCleanup(again.close)
        self.assertEqual(again.getsockname(), local)
        server.accept().close()
        # The old port is taken: any port does.
        other = bridge.connect("127.0.0.1", server.port, again.getsockname())
        self.addCleanup(other.close)
        self.assertNotEqual(other.getsockname(), again.getsockname())
        server.accept().close()

    def test_failures_name_their_reason(self):
        refused = FakeServer()
        port = refused.port
        refused.close()
        with self.assertRaises(OSError) as caught:
            bridge.connect("127.0.0.1", port, None)
        self.assertEqual(caught.exception.errno, errno.ECONNREFUSED)
        self.assertIn("ser2net running", bridge.error_reason(caught.exception))
        with self.assertRaises(OSError) as caught:
            bridge.connect("name.invalid", port, None)
        self.assertIn("name is not known", bridge.error_reason(caught.exception))


if __name__ == "__main__":
    unittest.main()
