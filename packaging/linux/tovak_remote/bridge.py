"""The bridge between the program's network ports and their serial servers.

For each network port the launcher owns one pseudo-terminal for the whole run: Wine's
COMn leads to its slave through a link in the launcher's folder, and the launcher keeps
a slave descriptor open, so the program's handle never sees the line go away. The
bridge carries the bytes between the pty's master and a TCP connection to the server
(ser2net's raw TCP), and does what a network fault asks of it:

- it notices a drop within about 3 s: a reset or close at once, a silent link by TCP
  keepalive and TCP_USER_TIMEOUT (the program is often idle, so keepalive too);
- it connects again, backing off from 0.5 s to 5 s, and asks for the status (SR;) so
  the panel catches up;
- the program gets whole messages only (framing.Inbound), never the server's own texts;
- what the program writes while the link is down is dropped and counted, never sent
  later;
- it reconnects from the local port it had, so a station that still holds its previous
  session sees that session reset at once (TCP's recovery of a half-open connection);
- a port another user has is reported and waited for, never taken over.

It runs in a thread of its own while the launcher waits for the program.
"""

import errno
import os
import queue
import selectors
import socket
import threading
import time
import tty

from . import framing
from .framing import Inbound, Outbound

BACKOFF_FIRST = 0.5  # s before the first attempt after a failure
BACKOFF_LAST = 5.0
CONNECT_TIMEOUT = 3.0  # s for a connection to a station that does not answer
# A connection the server has neither refused nor answered by then counts as back.
CONFIRM_SECONDS = 3.0
# A silent link is noticed within about 3 s, whether the program has written something
# (user timeout) or not (keepalive probes after 2 s idle, 1 s apart).
KEEPALIVE_IDLE = 2
KEEPALIVE_INTERVAL = 1
KEEPALIVE_COUNT = 2
USER_TIMEOUT_MS = 3000
# A refusal ("in use") this soon after this bridge's own session went silent may be the
# station still holding that session, which it ends within a minute.
STALE_SECONDS = 60.0
# How often a port that another user has is tried again; never taken over.
IN_USE_RETRY = BACKOFF_LAST
# A station that closes this bridge's connections over and over, each soon after it was
# made, hands the port to another user each time (ser2net's kickolduser): after this
# many such closes in a row the bridge gives way instead of taking it back.
HANDED_OVER_CLOSES = 3
HANDED_OVER_SECONDS = 60.0
READ_SIZE = 4096
TO_PROGRAM_LIMIT = 1 << 16  # bytes waiting for the program before the server is not read
TO_SERVER_LIMIT = 1 << 12  # bytes waiting for a stalled link before writes are dropped
DROPS_LOGGED = 20  # dropped writes logged one by one per loss; the rest only counted

TCP_USER_TIMEOUT = getattr(socket, "TCP_USER_TIMEOUT", 18)

# A link's states.
WAITING = "waiting"  # until its next attempt
CONNECTING = "connecting"
CONFIRMING = "confirming"  # connected; not yet refused or answered
UP = "up"
GIVEN_UP = "given up"

# Why a connection failed or ended, in the user's words.
CONNECT_ERRORS = {
    errno.ECONNREFUSED: "nothing answers there: is ser2net running at the station?",
    errno.ETIMEDOUT: "no answer",
    errno.EHOSTUNREACH: "no route to the station",
    errno.ENETUNREACH: "the network is unreachable",
    errno.ENETDOWN: "the network is down",
    errno.ECONNRESET: "reset by the station",
    errno.ECONNABORTED: "the connection was aborted",
    errno.EPIPE: "the connection was closed",
}
SILENT = "no answer for %d s: the network or the station has gone" % (USER_TIMEOUT_MS // 1000)
CLOSED = "the station closed the connection"
# The local errors after which the station may still hold the session.
SILENT_ERRORS = (errno.ETIMEDOUT, errno.EHOSTUNREACH, errno.ENETUNREACH, errno.ENETDOWN)


def address_text(host, port):
    return "[%s]:%d" % (host, port) if ":" in host else "%s:%d" % (host, port)


def error_reason(error):
    if isinstance(error, socket.gaierror):
        return "the station's name is not known (%s)" % error.strerror
    if isinstance(error, socket.timeout) and error.errno is None:
        return "no answer within %d s" % CONNECT_TIMEOUT
    return CONNECT_ERRORS.get(error.errno, error.strerror or str(error))


class Backoff:
    """The waits between attempts: 0.5 s, doubled each time, at most 5 s."""

    def __init__(self):
        self.next = BACKOFF_FIRST

    def reset(self):
        self.next = BACKOFF_FIRST

    def take(self):
        delay = self.next
        self.next = min(self.next * 2, BACKOFF_LAST)
        return delay


class Pty:
    """The pty a network port leads to: raw, its slave kept open for the whole run, and
    a link at a fixed path (what Wine's COMn names) to the slave."""

    def __init__(self, link_path):
        self.link_path = link_path
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.name = os.ttyname(self.slave)
        link_path.parent.mkdir(parents=True, exist_ok=True)
        partial = link_path.with_name(link_path.name + ".new")
        if os.path.lexists(partial):
            partial.unlink()
        os.symlink(self.name, partial)
        os.replace(partial, link_path)

    def close(self):
        try:
            if os.readlink(self.link_path) == self.name:
                self.link_path.unlink()
        except OSError:
            pass
        os.close(self.master)
        os.close(self.slave)


def connect(host, port, reuse):
    """A connected socket to host:port (blocking, in a worker thread): from the local
    address and port reuse names where that is still free, else from any."""
    last_error = None
    for family, kind, proto, _, address in socket.getaddrinfo(host, port, type=socket.SOCK_STREAM):
        for local in ([reuse] if reuse and len(reuse) == len(address) else []) + [None]:
            sock = socket.socket(family, kind, proto)
            try:
                if local is not None:
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                    sock.bind(local)
                sock.settimeout(CONNECT_TIMEOUT)
                sock.connect(address)
                return sock
            except OSError as error:
                sock.close()
                if local is not None and error.errno in (errno.EADDRINUSE,
                                                         errno.EADDRNOTAVAIL):
                    continue  # the old port is taken or the address gone: any port
                last_error = error
                break
    raise last_error or OSError(errno.EHOSTUNREACH, "no address")


class Link:
    """One network port: COMn's pty, its connection to the server and what a fault does."""

    def __init__(self, bridge, number, host, port, link_path):
        self.bridge = bridge
        self.name = "COM%d" % number
        self.host = host
        self.port = port
        self.where = address_text(host, port)
        self.link_path = link_path
        self.pty = None
        self.sock = None
        self.state = WAITING
        self.deadline = None  # when the next attempt starts, or the connection counts
        self.attempt = 0  # the number of the connection attempt running
        self.inbound = Inbound()
        self.outbound = Outbound()
        self.backoff = Backoff()
        self.to_program = bytearray()
        self.to_server = bytearray()
        self.status_wanted = False  # SR; waits for the program's command to end
        self.asked_again = False  # SR; sent once the connection's first ";" came
        self.connected_at = None
        self.down_since = None
        self.said = None  # the reason last said while down
        self.local = None  # (address, port) the connection was made from
        self.reuse = None  # (address, port) to connect from, after a silent loss
        self.reuse_until = 0.0
        self.closes = 0  # closes in a row of connections soon after they were made
        self.drops = 0  # the program's writes dropped while the link was down
        self.dropped_bytes = 0
        self.total_drops = 0
        self.watching = {}  # descriptor: events registered

    # -- life cycle --------------------------------------------------------------------

    def begin(self, now):
        self.pty = Pty(self.link_path)
        self.bridge.report.log("%s leads to tcp://%s through %s (%s)"
                               % (self.name, self.where, self.pty.name, self.link_path))
        self.down_since = now
        self.deadline = now
        self._watch()

    def close(self):
        if self.sock is not None:
            self._unwatch(self.sock)
            self.sock.close()  # an orderly close: the station frees the port at once
            self.sock = None
        if self.pty is not None:
            self._unwatch(self.pty.master)
            self.pty.close()
            self.pty = None
        report = self.bridge.report
        report.log("%s: bridge to %s ended; %d writes of the program dropped in all, %d "
                   "bytes of cut messages and server texts never passed on"
                   % (self.name, self.where, self.total_drops, self.inbound.dropped))

    def tick(self, now):
        if self.deadline is None or now < self.deadline:
            return
        if self.state == WAITING:
            self.state = CONNECTING
            self.deadline = None
            self.attempt += 1
            reuse = self.reuse if now < self.reuse_until else None
            self.bridge.start_connect(self, self.attempt, reuse)
        elif self.state == CONFIRMING:
            self._confirm(now)

    # -- connecting --------------------------------------------------------------------

    def connected(self, attempt, sock, now):
        if attempt != self.attempt or self.state != CONNECTING:
            sock.close()
            return
        sock.setblocking(False)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_KEEPALIVE, 1)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPIDLE, KEEPALIVE_IDLE)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPINTVL, KEEPALIVE_INTERVAL)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPCNT, KEEPALIVE_COUNT)
        sock.setsockopt(socket.IPPROTO_TCP, TCP_USER_TIMEOUT, USER_TIMEOUT_MS)
        self.sock = sock
        self.local = sock.getsockname()
        self.state = CONFIRMING
        self.connected_at = now
        self.deadline = now + CONFIRM_SECONDS
        self.inbound.restart()
        self.outbound.restart()
        self.to_server.clear()
        self.asked_again = False
        self.bridge.report.log("%s: connection to %s made from local port %d"
                               % (self.name, self.where, self.local[1]))
        self._ask_status()
        self._watch()

    def connect_failed(self, attempt, error, now):
        if attempt != self.attempt or self.state != CONNECTING:
            return
        self.closes = 0
        self._failed(error_reason(error), self.backoff.take(), now)

    # -- the bytes ---------------------------------------------------------------------

    def on_master(self, events):
        if events & selectors.EVENT_READ:
            try:
                data = os.read(self.pty.master, READ_SIZE)
            except (BlockingIOError, InterruptedError):
                data = b""
            if data:
                self._from_program(data)
        if events & selectors.EVENT_WRITE:
            self._flush_program()

    def on_socket(self, events, now):
        if events & selectors.EVENT_READ:
            try:
                data = self.sock.recv(READ_SIZE)
            except (BlockingIOError, InterruptedError):
                return
            except OSError as error:
                self._ended(error, now)
                return
            if not data:
                self._ended(None, now)
                return
            self._from_server(data, now)
        if self.sock is not None and events & selectors.EVENT_WRITE:
            self._flush_server(now)

    def _from_program(self, data):
        if self.state in (CONFIRMING, UP):
            passed = self.outbound.passed(data)
            if len(self.to_server) + len(passed) > TO_SERVER_LIMIT:
                self._dropped(data, "the link is stalled")
                return
            self.to_server += passed
            if self.status_wanted and self.outbound.at_boundary:
                self._ask_status()
            self._flush_server(time.monotonic())
            return
        self.outbound.dropped(data)
        self._dropped(data, "the link is down")

    def _dropped(self, data, why):
        self.drops += 1
        self.total_drops += 1
        self.dropped_bytes += len(data)
        if self.drops <= DROPS_LOGGED:
            self.bridge.report.log("%s: dropped a write of the program (%d bytes: %s) as %s"
                                   % (self.name, len(data), printable(data), why))

    def _from_server(self, data, now):
        was_in_step = self.inbound.in_step
        messages = self.inbound.feed(data)
        if messages:
            self.to_program += messages
            self._flush_program()
        if self.inbound.in_step and not was_in_step and not self.asked_again:
            # What came before this connection's first ";" was dropped, and with it
            # maybe the first message of the status: ask again, in step now.
            self.asked_again = True
            self._ask_status()
        if self.state == CONFIRMING and self.inbound.in_step:
            self._confirm(now)

    def _ask_status(self):
        if self.outbound.at_boundary and not self.outbound.skip_rest:
            self.status_wanted = False
            self.to_server += framing.STATUS_REQUEST
            self._flush_server(time.monotonic())
        else:
            self.status_wanted = True

    def _flush_program(self):
        while self.to_program:
            try:
                written = os.write(self.pty.master, self.to_program)
            except (BlockingIOError, InterruptedError):
                break
            del self.to_program[:written]
        self._watch()

    def _flush_server(self, now):
        if self.sock is None:
            return
        while self.to_server:
            try:
                sent = self.sock.send(self.to_server)
            except (BlockingIOError, InterruptedError):
                break
            except OSError as error:
                self._ended(error, now)
                return
            del self.to_server[:sent]
        self._watch()

    # -- the link's state ----------------------------------------------------------------

    def _confirm(self, now):
        self.state = UP
        self.deadline = None
        self.backoff.reset()
        self.reuse = None
        report = self.bridge.report
        if self.said is None:
            report.say("%s: connected to %s" % (self.name, self.where))
        else:
            report.say("%s: the link to %s is back after %.1f s; status requested"
                       % (self.name, self.where, now - self.down_since), note="link back")
        if self.drops:
            report.log("%s: %d writes of the program (%d bytes) were dropped while the "
                       "link was down, none sent later" % (self.name, self.drops,
                                                           self.dropped_bytes))
        self.said = None
        self.down_since = None
        self.drops = 0
        self.dropped_bytes = 0
        self.bridge.states_changed()

    def _ended(self, error, now):
        """The connection has ended: by the server's close (error None) or an error."""
        held = self.inbound.end()
        text = framing.recognised(held)
        was_up = self.state == UP
        lasted = now - self.connected_at
        self._unwatch(self.sock)
        self.sock.close()
        self.sock = None
        self.to_server.clear()
        if held and text is None:
            self.bridge.report.log("%s: dropped %d bytes of a message cut by the end of the "
                                   "connection" % (self.name, len(held)))
        if error is not None and error.errno in SILENT_ERRORS:
            # The station may still hold the session: connect from the same port, which
            # resets it there at once.
            self.reuse = self.local
            self.reuse_until = now + STALE_SECONDS
        if text is not None:
            self.closes = 0
            self._refused(text, now)
            return
        if error is None and lasted < HANDED_OVER_SECONDS:
            self.closes += 1
        else:
            self.closes = 0
        if self.closes >= HANDED_OVER_CLOSES:
            self._give_up(now)
            return
        reason = CLOSED if error is None else (
            SILENT if error.errno == errno.ETIMEDOUT else error_reason(error))
        if was_up:
            self.state = WAITING
            self.down_since = now
            self.said = reason
            self.bridge.report.say("%s: the link to %s is lost (%s); reconnecting"
                                   % (self.name, self.where, reason), note="link lost")
            self.deadline = now + self.backoff.take()
            self.bridge.states_changed()
        else:
            self._failed(reason, self.backoff.take(), now)

    def _refused(self, text, now):
        if text.kind == framing.IN_USE:
            if now < self.reuse_until:
                reason = ("the station still holds this computer's previous session, "
                          "which it ends within a minute")
                delay = self.backoff.take()
            else:
                reason = ("another user has the port: waiting until it is free, without "
                          "taking it over")
                delay = IN_USE_RETRY
        else:
            reason = text.words
            delay = self.backoff.take()
        self._failed("%s (ser2net: %s)" % (reason, text.line), delay, now, noted=True)

    def _failed(self, reason, delay, now, noted=False):
        """An attempt failed, or a connection ended before it counted: said when the
        reason is new (and noted on the desktop when it is the first, or the station's
        own words), and tried again after delay."""
        first = self.said is None
        if self.down_since is None:
            self.down_since = now
        if reason != self.said:
            self.said = reason
            self.bridge.report.say("%s: %s %s (%s); trying again" % (
                self.name, "cannot reach" if first else "still cannot reach", self.where,
                reason), note="no link" if first or noted else None)
            self.bridge.states_changed()
        self.state = WAITING
        self.deadline = now + delay

    def _give_up(self, now):
        self.state = GIVEN_UP
        self.deadline = None
        self.down_since = self.down_since or now
        self.said = ("the station keeps handing the port to another user (ser2net's "
                     "kickolduser); not taking it back: start Tovak Remote again to "
                     "reconnect")
        self.bridge.report.say("%s: %s" % (self.name, self.said), note="link lost")
        self.bridge.states_changed()

    def describe(self):
        """The link's state in a line for tovak-remote --ports."""
        if self.state == UP:
            return "up"
        return "down: %s" % (self.said or "connecting")

    # -- the selector ------------------------------------------------------------------

    def _watch(self):
        if self.pty is not None:
            events = selectors.EVENT_READ | (selectors.EVENT_WRITE if self.to_program else 0)
            self._set_watch(self.pty.master, events, self.on_master)
        if self.sock is not None:
            events = (selectors.EVENT_READ if len(self.to_program) < TO_PROGRAM_LIMIT else 0) \
                | (selectors.EVENT_WRITE if self.to_server else 0)
            self._set_watch(self.sock, events,
                            lambda mask: self.on_socket(mask, time.monotonic()))

    def _set_watch(self, target, events, callback):
        descriptor = target if isinstance(target, int) else target.fileno()
        current = self.watching.get(descriptor)
        if current == events:
            return
        selector = self.bridge.selector
        if current is not None:
            if events:
                selector.modify(target, events, callback)
            else:
                selector.unregister(target)
        elif events:
            selector.register(target, events, callback)
        if events:
            self.watching[descriptor] = events
        else:
            self.watching.pop(descriptor, None)

    def _unwatch(self, target):
        descriptor = target if isinstance(target, int) else target.fileno()
        if self.watching.pop(descriptor, None) is not None:
            self.bridge.selector.unregister(target)


def printable(data, limit=40):
    text = "".join(chr(byte) if 0x20 <= byte < 0x7F else "\\x%02x" % byte
                   for byte in data[:limit])
    return text + ("..." if len(data) > limit else "")


class Bridge:
    """The links of one run, served by one thread."""

    def __init__(self, report, states_path=None):
        self.report = report
        self.states_path = states_path
        self.links = []
        self.selector = selectors.DefaultSelector()
        self.results = queue.SimpleQueue()
        self.wake_read, self.wake_write = os.pipe()
        os.set_blocking(self.wake_read, False)
        self.stopping = False
        self.thread = None

    def add(self, number, host, port, link_path):
        link = Link(self, number, host, port, link_path)
        self.links.append(link)
        return link

    def start(self):
        """Makes the ptys (so Wine's ports lead somewhere from now on) and starts
        connecting, in the bridge's thread."""
        now = time.monotonic()
        self.selector.register(self.wake_read, selectors.EVENT_READ, None)
        for link in self.links:
            link.begin(now)
        self.states_changed()
        self.thread = threading.Thread(target=self._serve, name="bridge", daemon=True)
        self.thread.start()

    def stop(self):
        if self.stopping:
            return
        self.stopping = True
        os.write(self.wake_write, b"!")
        if self.thread is not None:
            self.thread.join()
        for link in self.links:
            link.close()
        self.selector.close()
        os.close(self.wake_read)
        os.close(self.wake_write)
        if self.states_path is not None:
            try:
                self.states_path.unlink()
            except OSError:
                pass

    def start_connect(self, link, attempt, reuse):
        def work():
            try:
                result = connect(link.host, link.port, reuse)
            except OSError as error:
                result = error
            self.results.put((link, attempt, result))
            try:
                os.write(self.wake_write, b".")
            except OSError:
                pass  # stopped meanwhile

        threading.Thread(target=work, name="connect %s" % link.name, daemon=True).start()

    def states_changed(self):
        """Writes each link's state where tovak-remote --ports reads it."""
        if self.states_path is None:
            return
        lines = "".join("%s tcp://%s %s\n" % (link.name, link.where, link.describe())
                        for link in self.links)
        try:
            partial = self.states_path.with_name(self.states_path.name + ".new")
            partial.write_text(lines, encoding="utf-8")
            os.replace(partial, self.states_path)
        except OSError:
            pass

    def _serve(self):
        while not self.stopping:
            now = time.monotonic()
            deadlines = [link.deadline for link in self.links if link.deadline is not None]
            timeout = max(min(deadlines) - now, 0) if deadlines else None
            for key, events in self.selector.select(timeout):
                if key.data is None:
                    try:
                        os.read(self.wake_read, 512)
                    except BlockingIOError:
                        pass
                else:
                    key.data(events)
            now = time.monotonic()
            while True:
                try:
                    link, attempt, result = self.results.get_nowait()
                except queue.Empty:
                    break
                if isinstance(result, OSError):
                    link.connect_failed(attempt, result, now)
                else:
                    link.connected(attempt, result, now)
            for link in self.links:
                link.tick(now)
        # Connections still being made are closed as they arrive.
        while True:
            try:
                _, _, result = self.results.get_nowait()
            except queue.Empty:
                break
            if not isinstance(result, OSError):
                result.close()
