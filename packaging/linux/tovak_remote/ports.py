"""The port mappings: which of the program's COM ports leads where, kept in the ports
file; the serial devices present; why a device cannot be used."""

import os
import pwd
import re
import stat

from .common import Refusal, refuse

PORT_NUMBERS = range(1, 17)  # COM1..COM16, the ports the program's Port menu offers
PORT_NAME = re.compile(r"(?:\\\\\.\\)?COM(\d+)", re.IGNORECASE)
# The controller's adapter as the kernel names it.
DEVICE_PATTERNS = ("ttyUSB*", "ttyACM*")
BY_ID_FOLDER = ("serial", "by-id")
PORTS_FILE_HEADER = (
    "# The COM ports of Tovak Remote: COMn=serial device or COMn=tcp://HOST:PORT (a\n"
    "# network serial server), one a line.\n"
    "# Written by tovak-remote --port COMn=DEVICE; COMn= removes one.\n")
# A network serial server speaking raw TCP (ser2net's "accepter: tcp,PORT"): a host
# name, an IPv4 address or an IPv6 one in brackets, and the port.
NETWORK_SCHEME = "tcp://"
NETWORK_ADDRESS = re.compile(
    r"tcp://(?:\[([0-9A-Fa-f:.]+(?:%[\w.-]+)?)\]|([A-Za-z0-9](?:[A-Za-z0-9.-]{0,251}"
    r"[A-Za-z0-9])?)):(\d{1,5})", re.IGNORECASE)


def port_number(name):
    """'COM3', 'com3' or '\\\\.\\COM12' -> 3 or 12; None for anything else."""
    match = PORT_NAME.fullmatch(name.strip())
    if match and int(match.group(1)) in PORT_NUMBERS:
        return int(match.group(1))
    return None


def is_network(target):
    return target[:len(NETWORK_SCHEME)].lower() == NETWORK_SCHEME


def network_address(target):
    """'tcp://station.local:3333' -> ('station.local', 3333); None for anything else."""
    match = NETWORK_ADDRESS.fullmatch(target.strip())
    if not match or not 0 < int(match.group(3)) < 65536:
        return None
    return match.group(1) or match.group(2), int(match.group(3))


def network_target(host, port):
    return "%s[%s]:%d" % (NETWORK_SCHEME, host, port) if ":" in host else \
        "%s%s:%d" % (NETWORK_SCHEME, host, port)


def read_mappings(places):
    """{port number: device} from the ports file, or None when it was never written.
    Lines it cannot use are said and left out."""
    try:
        text = places.ports.read_text(encoding="utf-8", errors="surrogateescape")
    except FileNotFoundError:
        return None
    except OSError as error:
        raise Refusal("cannot read %s: %s" % (places.ports, error.strerror)) from None
    mappings = {}
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        name, _, device = line.partition("=")
        port = port_number(name)
        device = device.strip()
        server = network_address(device) if is_network(device) else None
        if port is None or not (os.path.isabs(device) or server):
            refuse("%s, line %d: not COMn=/device, left out: %s" % (places.ports, number, line))
            continue
        mappings[port] = network_target(*server) if server else device
    return mappings


def write_mappings(places, mappings):
    places.ports.parent.mkdir(parents=True, exist_ok=True)
    text = PORTS_FILE_HEADER + "".join("COM%d=%s\n" % (port, mappings[port])
                                       for port in sorted(mappings))
    partial = places.ports.with_name(places.ports.name + ".new")
    partial.write_text(text, encoding="utf-8", errors="surrogateescape")
    os.replace(partial, places.ports)


def device_problem(path):
    """Why the program could not use the serial device at path, or None."""
    try:
        status = os.stat(path)
    except FileNotFoundError:
        return "is not there (is the adapter plugged in?)"
    except OSError as error:
        return "cannot be reached: %s" % error.strerror
    if not stat.S_ISCHR(status.st_mode):
        return "is not a serial device"
    if not os.access(path, os.R_OK | os.W_OK):
        return ("may not be opened by you: add yourself to the dialout group "
                "(sudo adduser %s dialout) and log in again" % pwd.getpwuid(os.getuid()).pw_name)
    return None


def parse_port_option(value):
    """'COM3=/dev/ttyUSB0' -> (3, '/dev/ttyUSB0'); 'COM3=tcp://station:3333' -> (3,
    'tcp://station:3333'); 'COM3=' -> (3, None)."""
    name, equals, device = value.partition("=")
    port = port_number(name)
    if not equals or port is None:
        raise Refusal("--port wants COMn=DEVICE with n from 1 to 16, not %r" % value)
    if not device:
        return port, None
    if any(ord(c) < 32 for c in device):
        raise Refusal("--port %s: a device name has no control characters" % name)
    if is_network(device):
        server = network_address(device)
        if server is None:
            raise Refusal("--port %s: %s is not tcp://HOST:PORT with a port from 1 to 65535"
                          % (name, device))
        return port, network_target(*server)
    return port, os.path.abspath(device)


def shared_servers(mappings):
    """A line naming two ports that lead to the same network serial server, or None: a
    server serves one connection, so the two would refuse each other."""
    seen = {}
    for port in sorted(mappings):
        target = mappings[port].lower()
        if is_network(target):
            if target in seen:
                return "COM%d and COM%d both lead to %s, which serves one of them only" % (
                    seen[target], port, mappings[port])
            seen[target] = port
    return None


def serial_devices(places):
    """[(name, real device)] present: the by-id names first, then the devices no by-id
    name leads to."""
    found = []
    by_id = places.devices.joinpath(*BY_ID_FOLDER)
    if by_id.is_dir():
        for entry in sorted(by_id.iterdir()):
            if entry.exists():
                found.append((str(entry), os.path.realpath(entry)))
    named = {real for _, real in found}
    for pattern in DEVICE_PATTERNS:
        for entry in sorted(places.devices.glob(pattern)):
            if os.path.realpath(entry) not in named:
                found.append((str(entry), os.path.realpath(entry)))
    return found


def port_targets(places, mappings, problems):
    """{COMn: the path it leads to}: a mapped device that can be used, the link to the
    pty of a network port, else the empty folder, which the program cannot open (a
    real /dev/ttyS* is never reached)."""
    targets = {}
    for port in PORT_NUMBERS:
        target = mappings.get(port)
        if target is None or port in problems:
            targets["COM%d" % port] = str(places.no_port)
        elif is_network(target):
            targets["COM%d" % port] = str(places.network_link(port))
        else:
            targets["COM%d" % port] = target
    return targets
