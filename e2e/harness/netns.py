"""Two network namespaces made for one test, joined by a veth pair: the operator's PC
(where the launcher runs) and the station (where ser2net runs). Taking the operator's
end of the pair down stands for a pulled cable or a router gone: nothing reaches the
station any more, not even a reset, so the station is left holding a half-open session.

Neither namespace has any other interface or route, so no packet of the test can leave
them. Names carry the test process's PID and a number; remove() deletes both
namespaces (and with them the pair) even when the test failed. Root only: available()
says why not."""

import os
import subprocess

from .common import HarnessError

OPERATOR_ADDRESS = "169.254.77.1"
STATION_ADDRESS = "169.254.77.2"
PREFIX_LENGTH = 30
NETNS_FOLDER = "/run/netns"
COMMAND_TIMEOUT = 10

_count = 0


def available():
    """None where namespaces can be made here, else why not."""
    if os.geteuid() != 0:
        return "a network namespace and a veth pair need root, and this is not root"
    probe = "tvk%dprobe" % os.getpid()
    try:
        made = subprocess.run(["ip", "netns", "add", probe], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=COMMAND_TIMEOUT,
                              check=False)
    except (OSError, subprocess.SubprocessError):
        return "the ip command (iproute2) is missing"
    if made.returncode != 0:
        return "this machine makes no network namespace: %s" % made.stderr.strip()
    subprocess.run(["ip", "netns", "del", probe], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=COMMAND_TIMEOUT, check=False)
    return None


def _ip(*args):
    result = subprocess.run(["ip"] + list(args), stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=COMMAND_TIMEOUT,
                            check=False)
    if result.returncode != 0:
        raise HarnessError("ip %s: %s" % (" ".join(args), result.stderr.strip()))


class StationNetwork:
    def __init__(self, station_sysctls=None):
        global _count
        _count += 1
        tag = "%d%d" % (os.getpid(), _count)
        self.operator = "tvk%so" % tag
        self.station = "tvk%ss" % tag
        self.operator_end = ("tv%so" % tag)[-15:]  # interface names hold 15 characters
        self.station_end = ("tv%ss" % tag)[-15:]
        self.made = []
        try:
            for namespace in (self.operator, self.station):
                _ip("netns", "add", namespace)
                self.made.append(namespace)
            _ip("link", "add", self.operator_end, "type", "veth", "peer", "name",
                self.station_end)
            _ip("link", "set", self.operator_end, "netns", self.operator)
            _ip("link", "set", self.station_end, "netns", self.station)
            for namespace, end, address in ((self.operator, self.operator_end,
                                             OPERATOR_ADDRESS),
                                            (self.station, self.station_end,
                                             STATION_ADDRESS)):
                _ip("-n", namespace, "addr", "add", "%s/%d" % (address, PREFIX_LENGTH),
                    "dev", end)
                _ip("-n", namespace, "link", "set", "lo", "up")
                _ip("-n", namespace, "link", "set", end, "up")
            for name, value in (station_sysctls or {}).items():
                self.in_station(["sysctl", "-q", "-w", "%s=%s" % (name, value)])
        except BaseException:
            self.remove()
            raise

    def operator_command(self, command):
        """command run in the operator's namespace (only the network is its own)."""
        return ["nsenter", "--net=%s/%s" % (NETNS_FOLDER, self.operator), "--"] + command

    def station_command(self, command):
        return ["nsenter", "--net=%s/%s" % (NETNS_FOLDER, self.station), "--"] + command

    def in_station(self, command):
        return subprocess.run(self.station_command(command), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=COMMAND_TIMEOUT,
                              check=True).stdout

    def in_operator(self, command):
        return subprocess.run(self.operator_command(command), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=COMMAND_TIMEOUT,
                              check=True).stdout

    def cable(self, plugged):
        """The operator's end up or down: down, nothing goes out, not even a reset."""
        _ip("-n", self.operator, "link", "set", self.operator_end,
            "up" if plugged else "down")

    def remove(self):
        """Deletes the namespaces (the veth pair goes with them); the processes started
        in them must have ended first."""
        commands = [["ip", "netns", "del", namespace] for namespace in reversed(self.made)]
        # A pair made but not yet moved into the namespaces.
        commands.append(["ip", "link", "del", self.operator_end])
        for command in commands:
            subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=COMMAND_TIMEOUT, check=False)
        self.made = []
