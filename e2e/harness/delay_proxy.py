"""A TCP proxy on 127.0.0.1 between the launcher's bridge and ser2net, standing for the
network between the operator's PC and the station: it passes each piece of bytes on
after a delay (this kernel has no netem), resets its connections in the middle of
whatever is under way, and refuses new connections while told to.

It runs in a thread of the test's process; every connection it makes goes to the one
upstream address on this machine."""

import selectors
import socket
import struct
import threading
import time

from .common import HarnessError

CHUNK = 4096


def _abort(sock):
    """Closes with a reset (RST), as a station's TCP that lost the connection does."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    sock.close()


class _Pair:
    """One connection through the proxy: the client's end and the upstream end, with
    what waits to be delivered each way: [(due, bytes)]."""

    def __init__(self, client, upstream):
        self.client = client
        self.upstream = upstream
        self.waiting = {client: [], upstream: []}  # keyed by the socket it goes to
        self.closing = set()  # sockets whose peer closed: shut once all is delivered

    def other(self, sock):
        return self.upstream if sock is self.client else self.client


class DelayProxy:
    def __init__(self, upstream_host, upstream_port):
        self.upstream = (upstream_host, upstream_port)
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.listener.setblocking(False)
        self.port = self.listener.getsockname()[1]
        self.delay = 0.0  # s each way
        self.refusing = False
        self.accepted = 0  # connections taken in all
        self.downstream = 0  # bytes passed on from the server towards the bridge
        self.lock = threading.Lock()
        self.pairs = []
        self._commands = []
        self.selector = selectors.DefaultSelector()
        self.selector.register(self.listener, selectors.EVENT_READ, None)
        self.wake_read, self.wake_write = socket.socketpair()
        self.wake_read.setblocking(False)
        self.selector.register(self.wake_read, selectors.EVENT_READ, "wake")
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, name="delay proxy", daemon=True)
        self.thread.start()

    # -- what the test does --------------------------------------------------------------

    def set_delay(self, seconds):
        self.delay = seconds

    def refuse(self, on):
        """While on, a new connection is reset as soon as it is taken."""
        self.refusing = on

    def reset(self):
        """Resets every connection through the proxy, both ends, at once."""
        self._run(lambda: [self._drop(pair) for pair in list(self.pairs)])

    def connections(self):
        with self.lock:
            return len(self.pairs)

    def stop(self):
        self.stopping = True
        self.wake_write.send(b"!")
        self.thread.join(5)
        for pair in self.pairs:
            _abort(pair.client)
            _abort(pair.upstream)
        self.selector.close()
        self.listener.close()
        self.wake_read.close()
        self.wake_write.close()

    # -- the proxy's thread --------------------------------------------------------------

    def _run(self, action):
        """Runs action in the proxy's thread and waits for it."""
        done = threading.Event()
        with self.lock:
            self._commands.append((action, done))
        self.wake_write.send(b".")
        if not done.wait(5):
            raise HarnessError("the delay proxy did not answer")

    def _serve(self):
        while not self.stopping:
            now = time.monotonic()
            dues = [due for pair in self.pairs for queue in pair.waiting.values()
                    for due, _ in queue[:1]]
            timeout = max(min(dues) - now, 0) if dues else None
            for key, _ in self.selector.select(timeout):
                if key.data is None:
                    self._accept()
                elif key.data == "wake":
                    try:
                        self.wake_read.recv(512)
                    except BlockingIOError:
                        pass
                else:
                    self._read(key.data, key.fileobj)
            with self.lock:
                commands, self._commands = self._commands, []
            for action, done in commands:
                action()
                done.set()
            self._deliver(time.monotonic())

    def _accept(self):
        try:
            client, _ = self.listener.accept()
        except BlockingIOError:
            return
        self.accepted += 1
        if self.refusing:
            _abort(client)
            return
        try:
            upstream = socket.create_connection(self.upstream, 2)
        except OSError:
            _abort(client)
            return
        for sock in (client, upstream):
            sock.setblocking(False)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        pair = _Pair(client, upstream)
        with self.lock:
            self.pairs.append(pair)
        self.selector.register(client, selectors.EVENT_READ, pair)
        self.selector.register(upstream, selectors.EVENT_READ, pair)

    def _read(self, pair, sock):
        try:
            data = sock.recv(CHUNK)
        except BlockingIOError:
            return
        except OSError:
            self._drop(pair)
            return
        target = pair.other(sock)
        if not data:
            # An orderly close, passed on once what came before it is delivered.
            self.selector.unregister(sock)
            pair.closing.add(target)
            pair.waiting[target].append((time.monotonic() + self.delay, b""))
            return
        pair.waiting[target].append((time.monotonic() + self.delay, data))

    def _deliver(self, now):
        for pair in list(self.pairs):
            for target, queue in pair.waiting.items():
                while queue and queue[0][0] <= now:
                    _, data = queue.pop(0)
                    if not data:
                        try:
                            target.shutdown(socket.SHUT_WR)
                        except OSError:
                            pass
                        continue
                    try:
                        target.sendall(data)  # small pieces to a local peer
                    except OSError:
                        self._drop(pair)
                        break
                    if target is pair.client:
                        self.downstream += len(data)
            if pair in self.pairs and len(pair.closing) == 2 and not any(pair.waiting.values()):
                self._drop(pair, orderly=True)

    def _drop(self, pair, orderly=False):
        if pair not in self.pairs:
            return
        with self.lock:
            self.pairs.remove(pair)
        for sock in (pair.client, pair.upstream):
            try:
                self.selector.unregister(sock)
            except (KeyError, ValueError):
                pass
            if orderly:
                sock.close()
            else:
                _abort(sock)
