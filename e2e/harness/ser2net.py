"""ser2net (Debian's package) serving the simulator's pty on a TCP port, as the station
computer of a remote station serves its controller's adapter."""

import os
import re
import signal
import socket
import subprocess
import time
from pathlib import Path

from .common import HarnessError, end_process, wait_for

SER2NET = "/usr/sbin/ser2net"
START_TIMEOUT = 10
LISTEN_STATE = "0A"  # TCP_LISTEN in /proc/net/tcp

# The stanza the README recommends for the station, with the test's device and address:
# raw TCP, the line as the controller speaks it, and no kickolduser, so a second client
# is refused in words and never takes the port over.
STANZA = """\
%YAML 1.1
---
connection: &station
  accepter: tcp,{host},{port}
  connector: serialdev,{device},115200n81,local
  options:
    kickolduser: false
"""


class Ser2net:
    """One ser2net process: its YAML file in the test folder, the device (a path, such
    as the simulator's link), the address it listens on; in a network namespace when
    netns (a harness.netns.StationNetwork) is given."""

    def __init__(self, folder, device, host="127.0.0.1", netns=None):
        self.folder = folder
        self.device = device
        self.host = host
        self.netns = netns
        self.port = 0  # the first start takes a free port; later starts take the same
        self.config = folder / "ser2net.yaml"
        self.output = folder / "ser2net.out"
        self.process = None
        self.starts = 0

    def start(self):
        """Starts ser2net and waits until it listens; returns its port."""
        if self.process is not None and self.process.poll() is None:
            raise HarnessError("ser2net runs already")
        self.config.write_text(STANZA.format(host=self.host, port=self.port,
                                             device=self.device))
        # -n: in the foreground; -u: no UUCP lock files for the device.
        command = [SER2NET, "-n", "-u", "-c", str(self.config)]
        if self.netns is not None:
            command = self.netns.station_command(command)
        with open(self.output, "ab") as output:
            self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=output,
                                            stderr=subprocess.STDOUT)
        self.starts += 1
        if not wait_for(lambda: self._listening() or self.process.poll() is not None,
                        START_TIMEOUT) or self.process.poll() is not None:
            raise HarnessError("ser2net did not listen on %s: %s" % (
                self.host, self.output.read_text(errors="replace")[-500:]))
        self.port = self._listening()
        return self.port

    def kill(self):
        """Ends ser2net at once (SIGKILL), as a crash or a power cut at the station."""
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()

    def stop(self):
        end_process(self.process)

    def sessions(self):
        """How many clients ser2net holds now (its connected TCP sockets)."""
        return len(self._sockets(established=True))

    def unacknowledged(self):
        """Bytes ser2net has sent its clients that they have not acknowledged yet."""
        return sum(queued for _, _, queued in self._sockets(established=True, queues=True))

    # -- what ser2net has open, from /proc (in its own network namespace) ---------------

    def _socket_inodes(self):
        inodes = set()
        try:
            for name in os.listdir("/proc/%d/fd" % self.process.pid):
                try:
                    target = os.readlink("/proc/%d/fd/%s" % (self.process.pid, name))
                except OSError:
                    continue
                match = re.fullmatch(r"socket:\[(\d+)\]", target)
                if match:
                    inodes.add(match.group(1))
        except OSError:
            pass
        return inodes

    def _sockets(self, established=False, queues=False):
        """[(local port, state)] of ser2net's TCP sockets, with the bytes in each one's
        send queue where queues is set."""
        inodes = self._socket_inodes()
        found = []
        for table in ("tcp", "tcp6"):
            try:
                lines = Path("/proc/%d/net/%s" % (self.process.pid, table)).read_text()
            except OSError:
                continue
            for line in lines.splitlines()[1:]:
                fields = line.split()
                if len(fields) > 9 and fields[9] in inodes:
                    port = int(fields[1].rsplit(":", 1)[1], 16)
                    if established and fields[3] == "01" or \
                            not established and fields[3] == LISTEN_STATE:
                        queued = int(fields[4].split(":")[0], 16)
                        found.append((port, fields[3], queued) if queues else (port, fields[3]))
        return found

    def _listening(self):
        ports = [port for port, _ in self._sockets()]
        return ports[0] if ports else 0


def client_refusal(host, port, timeout=5.0):
    """Connects as a second client would and returns what ser2net says before it
    closes (all it said within timeout when it took this client instead)."""
    with socket.create_connection((host, port), timeout) as sock:
        sock.settimeout(timeout)
        data = b""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            chunk = sock.recv(256)
            if not chunk:
                return data
            data += chunk
        return data
