"""Whole messages out of a network serial server's stream, and the server's own texts.

The controller's messages end in ";". A connection may begin or end inside one: what
comes before the first ";" of a connection, and what is left without its ";" when the
connection ends, is a piece of a message and never reaches the program. Everything in
between is passed on as it came, as soon as its ";" is there.

ser2net writes a few texts of its own into the stream before it closes a connection it
will not serve ("Port already in use\\r\\n"). They hold no ";", so they are never passed
on; recognised() names what they mean for the user.
"""

MESSAGE_END = b";"
# A message held longer than the program's own limit without its ";" is no message.
MESSAGE_LIMIT = 4096
# What is kept of a connection's first bytes, to recognise the server's texts.
TEXT_LIMIT = 256
STATUS_REQUEST = b"SR;"

# What a server's text means.
IN_USE = "in use"
DEVICE_IN_USE = "device in use"
NO_DEVICE = "no device"
DISABLED = "disabled"
DENIED = "denied"
DISCONNECTED = "disconnected"

# ser2net's texts (as it writes them into the stream) and what to tell the user; the
# more specific first.
SERVER_TEXTS = (
    (b"Port's device already in use", DEVICE_IN_USE,
     "another connection at the station is using its adapter"),
    (b"Port already in use", IN_USE, "another user has the port"),
    (b"Device open failure", NO_DEVICE,
     "the station's adapter is missing or cannot be opened"),
    (b"Port's device failed open", NO_DEVICE,
     "the station's adapter is missing or cannot be opened"),
    (b"Port disabled", DISABLED, "the port is switched off at the station"),
    (b"Accessed denied due to your net address", DENIED,
     "the station does not accept this computer's address"),
    (b"All users disconnected", DISCONNECTED,
     "the station's operator disconnected every user"),
)


class ServerText:
    """A text of the server's own: its kind, plain words for the user, and the server's
    line as it wrote it (for the log)."""

    def __init__(self, kind, words, line):
        self.kind = kind
        self.words = words
        self.line = line

    def __repr__(self):
        return "ServerText(%r, %r)" % (self.kind, self.line)


def recognised(data):
    """The server's text in data (bytes a connection held without a ";"), or None."""
    for text, kind, words in SERVER_TEXTS:
        at = data.find(text)
        if at >= 0:
            line = bytes(data[at:]).split(b"\r", 1)[0].split(b"\n", 1)[0]
            return ServerText(kind, words, line.decode("ascii", "replace"))
    return None


class Inbound:
    """The server's stream of one connection after another, cut into whole messages."""

    def __init__(self):
        self.in_step = False  # the connection's first ";" has come
        self.held = bytearray()  # a message without its ";" yet (or, before the
        # first ";", the connection's first bytes, up to TEXT_LIMIT)
        self.dropped = 0  # bytes that were pieces of messages, since the start

    def restart(self):
        """A new connection: whatever comes before its first ";" is a piece."""
        self.dropped += len(self.held)
        self.held.clear()
        self.in_step = False

    def feed(self, data):
        """The whole messages data completes, as one piece of bytes (maybe empty)."""
        if not self.in_step:
            end = data.find(MESSAGE_END)
            if end < 0:
                self._hold_piece(data)
                return b""
            self.dropped += len(self.held) + end
            self.held.clear()
            self.in_step = True
            data = data[end + 1:]
        end = data.rfind(MESSAGE_END)
        if end < 0:
            self.held += data
            if len(self.held) > MESSAGE_LIMIT:
                # No message is this long: a line of junk. Out of step until the next ";".
                self.dropped += len(self.held)
                self.held.clear()
                self.in_step = False
            return b""
        messages = bytes(self.held) + bytes(data[:end + 1])
        self.held[:] = data[end + 1:]
        return messages

    def end(self):
        """The connection has ended: the bytes it held without a ";" (a message cut by
        the end, or the server's text), which are dropped."""
        held = bytes(self.held)
        self.dropped += len(held)
        self.held.clear()
        self.in_step = False
        return held

    def _hold_piece(self, data):
        room = TEXT_LIMIT - len(self.held)
        self.held += data[:max(room, 0)]
        self.dropped += len(data) - max(min(room, len(data)), 0)


class Outbound:
    """The program's stream towards the server: written whole while the link is up,
    dropped while it is down. A command the program was writing when the link went is
    not finished on the next connection: its rest, up to its ";", is dropped too. The
    bridge's own status request goes in between commands only."""

    def __init__(self):
        self.at_boundary = True  # the program's last byte ended a command
        self.skip_rest = False  # drop up to the next ";" (the rest of a cut command)

    def restart(self):
        """A new connection."""
        self.skip_rest = not self.at_boundary

    def passed(self, data):
        """What of the program's bytes goes to the server on a live link."""
        self.at_boundary = data.endswith(MESSAGE_END)
        if self.skip_rest:
            end = data.find(MESSAGE_END)
            if end < 0:
                return b""
            self.skip_rest = False
            data = data[end + 1:]
        return data

    def dropped(self, data):
        """The program's bytes written while the link is down."""
        if data:
            self.at_boundary = data.endswith(MESSAGE_END)
