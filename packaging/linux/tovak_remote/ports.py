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
    "# The COM ports of Tovak Remote: COMn=serial device, one a line.\n"
    "# Written by tovak-remote --port COMn=DEVICE; COMn= removes one.\n")


def port_number(name):
    """'COM3', 'com3' or '\\\\.\\COM12' -> 3 or 12; None for anything else."""
    match = PORT_NAME.fullmatch(name.strip())
    if match and int(match.group(1)) in PORT_NUMBERS:
        return int(match.group(1))
    return None


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
        if port is None or not os.path.isabs(device.strip()):
            refuse("%s, line %d: not COMn=/device, left out: %s" % (places.ports, number, line))
            continue
        mappings[port] = device.strip()
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
    """'COM3=/dev/ttyUSB0' -> (3, '/dev/ttyUSB0'); 'COM3=' -> (3, None)."""
    name, equals, device = value.partition("=")
    port = port_number(name)
    if not equals or port is None:
        raise Refusal("--port wants COMn=DEVICE with n from 1 to 16, not %r" % value)
    if not device:
        return port, None
    if any(ord(c) < 32 for c in device):
        raise Refusal("--port %s: a device name has no control characters" % name)
    return port, os.path.abspath(device)


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
    """{COMn: the path it leads to}: a mapped device that can be used, else the empty
    folder, which the program cannot open (a real /dev/ttyS* is never reached)."""
    return {"COM%d" % port: mappings[port] if port in mappings and port not in problems
            else str(places.no_port) for port in PORT_NUMBERS}
