"""The command line: what each option does, and starting the program."""

import argparse
import os
import time

from . import ports, prefix
from .bridge import Bridge
from .common import (COMMAND, EXIT_REFUSED, EXIT_RUNNING, SIGNAL_EXIT_BASE, TITLE, Refusal,
                     refuse, say)
from .places import Places, running, take_lock
from .report import Reporter

# A second copy of the program gives way at once with exit code 1.
GIVES_WAY_CODE = 1
GIVES_WAY_SECONDS = 20


def link_states(places):
    """{COMn: the state of its link} while the program runs, else {}."""
    if not running(places):
        return {}
    try:
        lines = places.link_states.read_text(encoding="utf-8").splitlines()
    except OSError:
        return {}
    return {words[0]: words[2] for words in (line.split(" ", 2) for line in lines)
            if len(words) == 3}


def list_ports(places):
    mappings = ports.read_mappings(places) or {}
    states = link_states(places)
    print("Port mappings (%s):" % places.ports)
    for port in sorted(mappings):
        if ports.is_network(mappings[port]):
            print("  COM%-2d %s network serial server, link %s" % (
                port, mappings[port], states.get("COM%d" % port,
                                                 "only while %s runs" % TITLE)))
            continue
        problem = ports.device_problem(mappings[port])
        real = os.path.realpath(mappings[port])
        detail = problem if problem else ("-> %s" % real if real != mappings[port] else "")
        print(("  COM%-2d %s %s" % (port, mappings[port], detail)).rstrip())
    if not mappings:
        print("  none")
    print("Every other port of COM1 to COM16 leads nowhere.")
    print("Serial devices present:")
    devices = ports.serial_devices(places)
    for name, real in devices:
        print("  %s%s" % (name, " -> %s" % real if real != name else ""))
    if not devices:
        print("  none")
    return 0


def show_log(places):
    debug = prefix.settings_value(places, prefix.DEBUG_KEY)
    print("Debug log: %s%s" % (places.log(), "" if places.log().exists() else " (none yet)"))
    print("It is written while DEBUG=1 stands in the [%s] section of the settings file"
          % prefix.SETTINGS_SECTION)
    print("  %s" % places.settings())
    print("(now %s); set it there and start %s again. DEBUG=0 switches it off."
          % ("DEBUG=%s" % debug if debug is not None else "not set, so off", TITLE))
    print("Wine's own messages of the last start: %s" % places.wine_output)
    print("The launcher's own log (the network ports' links): %s" % places.launcher_log)
    return 0


def start(places, changes):
    stored = ports.read_mappings(places)
    mappings = dict(stored or {})
    for port, device in changes:
        if device is None:
            mappings.pop(port, None)
            continue
        problem = None if ports.is_network(device) else ports.device_problem(device)
        if problem:
            raise Refusal("COM%d: %s %s" % (port, device, problem))
        mappings[port] = device
    first = stored is None and not changes
    if first:
        devices = ports.serial_devices(places)
        if len(devices) == 1:
            mappings[1] = devices[0][0]
            say("COM1 leads to %s, the one serial device present (tovak-remote --port "
                "COM1=DEVICE changes it)" % devices[0][0])
    shared = ports.shared_servers(mappings)
    if shared:
        raise Refusal(shared)
    if changes or (first and mappings):
        ports.write_mappings(places, mappings)
    if not os.environ.get("DISPLAY"):
        raise Refusal("no DISPLAY: start %s from your desktop session" % TITLE)

    wine = prefix.choose_wine(places)
    lock = take_lock(places)
    if lock is None:
        note = "; the port mappings take effect at its next start" if changes else ""
        refuse("%s is already running%s" % (TITLE, note))
        return EXIT_RUNNING
    problems = {port: ports.device_problem(device) for port, device in mappings.items()
                if not ports.is_network(device)}
    problems = {port: problem for port, problem in problems.items() if problem}
    opened = prefix.start_port(places)
    if opened in problems:
        raise Refusal("COM%d, the port %s opens, leads to %s, which %s"
                      % (opened, TITLE, mappings[opened], problems[opened]))
    for port in sorted(problems):
        refuse("COM%d leads nowhere this time: %s %s" % (port, mappings[port], problems[port]))
    targets = ports.port_targets(places, mappings, problems)
    places.no_port.mkdir(parents=True, exist_ok=True)
    with open(places.wine_output, "wb") as output:
        if not places.prefix.exists():
            prefix.make_prefix(places, wine, targets, output)
        else:
            prefix.update_ports(places, wine, targets)
        bridge = network_bridge(places, mappings)
        try:
            started = time.monotonic()
            program = wine.start_program(output)
            try:
                code = program.wait()
            except KeyboardInterrupt:
                code = program.wait()
        finally:
            if bridge is not None:
                bridge.stop()
                bridge.report.close()
    os.close(lock)
    return program_ended(places, code, time.monotonic() - started)


def network_bridge(places, mappings):
    """The bridge of the network ports, started (their ptys made, their links
    connecting), or None when no port is one."""
    network = {port: ports.network_address(target) for port, target in mappings.items()
               if ports.is_network(target)}
    if not network:
        return None
    bridge = Bridge(Reporter(places.launcher_log), places.link_states)
    for port in sorted(network):
        bridge.add(port, *network[port], places.network_link(port))
    bridge.start()
    return bridge


def program_ended(places, code, seconds):
    """The launcher's exit code for the program's, with its one line where it says
    something."""
    if code == GIVES_WAY_CODE and seconds < GIVES_WAY_SECONDS:
        refuse("%s is already running" % TITLE)
        return EXIT_RUNNING
    if code < 0:
        refuse("%s was ended by signal %d" % (TITLE, -code))
        return SIGNAL_EXIT_BASE - code
    if code != 0:
        refuse("%s ended with exit code %d; Wine's messages are in %s"
               % (TITLE, code, places.wine_output))
    return code


def parse_args(argv, version):
    parser = argparse.ArgumentParser(
        prog=COMMAND, formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Starts %s, which operates a motorised antenna controller over a "
                    "serial port, under Wine." % TITLE,
        epilog="""\
The first start makes a Wine prefix of your own (about 15 s); later starts reuse it,
so the settings, the port chosen in Options > Port and the debug log stay. Where
exactly one USB serial adapter is plugged in at the first start, COM1 leads to it.

A port may also lead to a network serial server at a remote station (ser2net, raw
TCP): the launcher bridges it while the program runs, reconnects after a network
fault, and says when the link is lost and back.

Files:
  ~/.config/tovak-remote/ports       the port mappings
  ~/.local/share/tovak-remote/wine   the Wine prefix, with the settings file and log
  ~/.local/share/tovak-remote/launcher.log   the network ports' links

Examples:
  tovak-remote --port COM1=/dev/serial/by-id/usb-FTDI_FT232R_A123-if00-port0
  tovak-remote --port COM2=tcp://station.local:3333
  tovak-remote --ports
  tovak-remote --log

Your user needs access to the serial device: on Debian, membership of the dialout
group (sudo adduser $USER dialout, then log in again).""")
    parser.add_argument("--port", action="append", default=[], metavar="COMn=DEVICE",
                        help="lead COMn (1 to 16) to a serial device, or to a network serial "
                             "server as tcp://HOST:PORT, remember it and start; COMn= "
                             "removes the mapping (repeatable)")
    parser.add_argument("--ports", action="store_true",
                        help="list the port mappings (a network port with its link) and "
                             "the serial devices present")
    parser.add_argument("--log", action="store_true",
                        help="say where the debug log and the settings file are, and how to "
                             "switch the log on")
    parser.add_argument("--version", action="version", version="%s %s" % (COMMAND, version))
    return parser.parse_args(argv)


def main(argv, version, program_dir):
    args = parse_args(argv, version)
    if [bool(args.port), args.ports, args.log].count(True) > 1:
        refuse("--port, --ports and --log go one at a time")
        return EXIT_REFUSED
    try:
        places = Places(program_dir)
        if args.ports:
            return list_ports(places)
        if args.log:
            return show_log(places)
        return start(places, [ports.parse_port_option(value) for value in args.port])
    except Refusal as refusal:
        refuse(str(refusal))
        return EXIT_REFUSED
    except OSError as error:
        where = ": %s" % error.filename if error.filename else ""
        refuse("%s%s" % (error.strerror or error, where))
        return EXIT_REFUSED
