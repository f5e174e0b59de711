"""A remote station: the controller (the simulator's model) behind ser2net, Debian's
network serial server, and the program under Wine reaching it through the launcher's
bridge (tovak-remote --port COM1=tcp://HOST:PORT), then one network fault after another
with the same launcher, the same program and the same port handle.

After each fault, with the station's state changed while the link was down:
- the panel shows that state within 2 s of the bridge's new connection (its recovery,
  from the fault's end, is printed);
- what the program wrote while the link was down (a MODE key press, which the
  launcher's log counts) never reaches the controller: after the link's return the
  controller hears only the bridge's status requests;
and at the end of each test:
- the debug log's R lines hold only whole messages the simulator sent, never a piece
  glued to another and never ser2net's own texts;
- the program was never pointed at the port again: it asked for the status only at its
  start, and its caption still names COM1.

RemoteStationTest runs on 127.0.0.1: the station out of reach at the start, ser2net
killed and restarted, a reset in the middle of a message, a second client and another
user holding the port, 300 ms each way, the station's adapter gone and back. HalfOpenLinkTest (root only: network namespaces)
pulls the cable between two namespaces: the drop is noticed within 5 s, and a session
the station still holds gives way, at once when the bridge reconnects from its old
port, within the station's keepalive time when it cannot.
"""

import re
import socket
import subprocess
import time

from harness import DelayProxy, Ser2net, StationNetwork, netns, wait_until
from harness.ser2net import client_refusal
from test_linux_package import PackageTestCase

DISPLAY_PANEL = 1017
MODE_KEY = 1006
MODE_PRESS = b"B0FNSP;"
CAPTION = "Tovak Remote [COM1]"
START_TIMEOUT_MS = 30000
BOOT_TIMEOUT = 120
# The bounds the bridge promises.
STATUS_BOUND = 2.0  # s from the bridge's new connection to the status on the panel
NOTICE_BOUND = 5.0  # s from a silent drop to the launcher saying so
STALE_BOUND = 60.0  # s a stale session at the station may hold the port
BACKOFF_LAST = 5.0
# Waits for what the bridge does: its longest back-off, a refusal's retry, the slack
# of a loaded machine.
RETURN_TIMEOUT = 20
LOG_STAMP = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\.(\d{3}) (.*)$")
# The station's kernel ends a dead client's session this soon (the README recommends
# 20 s, 5 s and 4 probes; shorter here, to keep the test short).
# Long enough that the station still holds the session when the cable is back, so the
# first reconnection meets it.
STATION_KEEPALIVE = {"net.ipv4.tcp_keepalive_time": 12, "net.ipv4.tcp_keepalive_intvl": 1,
                     "net.ipv4.tcp_keepalive_probes": 2}
NOTIFIER = "#!/bin/sh\nprintf '%s|' \"$@\" >> {notes}\necho >> {notes}\n"


def log_time(line):
    match = LOG_STAMP.match(line)
    return time.mktime(time.strptime(match.group(1), "%Y-%m-%d %H:%M:%S")) + \
        int(match.group(2)) / 1000


class RemoteStationCase(PackageTestCase):
    time_limit = 240
    expected_seconds = 70

    def setUp(self):
        super().setUp()
        package = self.package
        package.seed_prefix()
        settings = package.settings_path()
        settings.parent.mkdir(parents=True, exist_ok=True)
        settings.write_text("[tovakrem]\r\nDEBUG=1\r\n", encoding="latin-1")
        self.program_log = package.log_path()
        tools = self.folder / "bin"
        tools.mkdir()
        self.notes = self.folder / "notes"
        (tools / "notify-send").write_text(NOTIFIER.format(notes=self.notes))
        (tools / "notify-send").chmod(0o755)
        package.extra_env["PATH"] = "%s:%s" % (tools, package.env()["PATH"])
        self.launcher_log = package.app / "launcher.log"
        self.recoveries = []
        self.cut_pieces = []  # pieces the simulator sent that must never reach the program

    # -- the station and the launcher ----------------------------------------------------

    def station(self, host="127.0.0.1", network=None):
        self.sim = self.simulator("COM1", band="20m")
        self.ser2net = Ser2net(self.folder, self.sim.link, host, network)
        self.addCleanup(self.ser2net.stop)  # before the simulators go
        self.ser2net.start()
        return self.ser2net

    def start_launcher(self, target, connected=True):
        self.launcher, _, self.ui = self.package.start_program(
            "--port", "COM1=%s" % target, timeout=BOOT_TIMEOUT,
            find_timeout_ms=START_TIMEOUT_MS)
        if connected:
            self.ui.waittext(DISPLAY_PANEL, "20m", RETURN_TIMEOUT * 1000)
        self.assertEqual(self.ui.window()["caption"], CAPTION)
        self.assertIn("COM1=%s\n" % target, self.package.ports_file.read_text())

    def log(self):
        try:
            return self.launcher_log.read_text(errors="replace")
        except FileNotFoundError:
            return ""

    def wait_log(self, text, since, timeout=RETURN_TIMEOUT):
        """Waits until the launcher's log has a line holding text after position since;
        returns that line."""
        def line():
            return next((entry for entry in self.log()[since:].splitlines() if text in entry),
                        None)
        wait_until(lambda: line() is not None, timeout,
                   lambda: "the launcher's log says no %r; it holds:\n%s"
                   % (text, self.log()[since:]))
        return line()

    # -- one fault -----------------------------------------------------------------------

    def fault(self, name, band, make, undo=None, lost="is lost"):
        """Makes a fault (make()), waits until the launcher says the link is down,
        presses MODE meanwhile and changes the station's band; then ends it (undo(),
        which returns the time.time() the fault ended where that is not its own end)
        and checks the link's return. Returns the seconds from the fault's end to the
        status on the panel."""
        mark = len(self.log())
        heard = len(self.sim.received())
        logged = self.program_log.stat().st_size
        made = time.monotonic()
        make()
        self.wait_log(lost, mark)
        noticed = time.monotonic() - made
        self.ui.click(MODE_KEY)
        self.wait_log("dropped a write of the program (7 bytes: %s)"
                      % MODE_PRESS.decode(), mark)
        self.sim.model("band", band)
        mark = len(self.log())
        ended = time.time()
        if undo is not None:
            ended = undo() or time.time()  # when the fault ended, if undo says
        asked = time.time()
        shown = self.ui.waittext(DISPLAY_PANEL, band, RETURN_TIMEOUT * 1000)
        seen = asked + shown["us"] / 1e6  # when the driver saw it, to the millisecond
        self.assertIn(band, shown["text"])
        self.wait_log("is back after", mark)
        # The connection that brought the link back: the last one made before.
        connected = max(log_time(line) for line in self.log()[mark:].splitlines()
                        if "made from local port" in line and log_time(line) <= seen)
        self.assertLessEqual(seen - connected, STATUS_BOUND,
                             "%s: the status came %.2f s after the connection"
                             % (name, seen - connected))
        # Since the fault the controller heard the bridge's status requests only.
        self.assertRegex(self.sim.received()[heard:], rb"^(SR;)+$", name)
        self.recoveries.append("%s %.1f s (noticed %.1f s)" % (name, seen - ended, noticed))
        # The bridge asks twice after a connection; the next fault waits for the second
        # answer, or the station could still be sending it when that fault begins.
        wait_until(lambda: self.statuses_logged(band, logged) >= 2, RETURN_TIMEOUT,
                   "both answers to the bridge's status requests in the program's log")
        return seen - ended

    def statuses_logged(self, band, since):
        """How many status messages of band the program's log has read after byte since."""
        return sum(body.count(b"Fq" + band.encode()) for body in self.reads_logged(since))

    def reads_logged(self, since=0):
        """The bodies of the program's log's R lines after byte since."""
        return re.findall(rb"\]\[R\](.*?)\r\n", self.program_log.read_bytes()[since:])

    def wire_checks(self):
        """What holds after every fault."""
        sent = self.sim.sent()
        whole = set(sent.split(b";")[:-1])
        log = self.program_log.read_bytes()
        bodies = self.reads_logged()
        self.assertTrue(bodies, "the debug log has no R line")
        for body in bodies:
            self.assertTrue(body.endswith(b";"), "an R line ends in a piece: %r" % body)
            for message in body.split(b";")[:-1]:
                self.assertIn(message, whole, "an R line holds %r, which the simulator "
                              "did not send whole" % message)
                for piece in self.cut_pieces:
                    self.assertNotIn(piece, message, "a piece cut by a drop reached the "
                                     "program: %r" % body)
        self.assertNotIn(b"in use", log)
        self.assertNotIn(b"failure", log)
        # Each opening of a port asks for the status (SR;); the one at the start comes
        # before the log is on, any later one would stand in it.
        self.assertNotIn(b"][S]SR;", log, "the program was pointed at the port again")
        self.assertEqual(self.ui.window()["caption"], CAPTION)
        print("[%s] " % "; ".join(self.recoveries), end="", flush=True)


class RemoteStationTest(RemoteStationCase):

    def test_the_link_survives_every_fault_between_the_program_and_the_station(self):
        station = self.station()
        proxy = DelayProxy("127.0.0.1", station.port)
        self.addCleanup(proxy.stop)
        sim = self.sim
        # The station cannot be reached at the start: the program starts all the same,
        # the launcher says so and keeps trying; the status comes once it can.
        proxy.refuse(True)
        self.start_launcher("tcp://127.0.0.1:%d" % proxy.port, connected=False)
        self.wait_log("cannot reach 127.0.0.1:%d" % proxy.port, 0)
        self.assertIn("COM1: cannot reach 127.0.0.1:%d" % proxy.port,
                      self.package.output(self.launcher)[0])
        self.assertNotIn("20m", self.ui.text(DISPLAY_PANEL)["text"])
        proxy.refuse(False)
        shown = self.ui.waittext(DISPLAY_PANEL, "20m", RETURN_TIMEOUT * 1000)
        self.recoveries.append("out of reach at the start %.1f s" % (shown["us"] / 1e6))
        self.assertIn("COM1: the link to 127.0.0.1:%d is back after" % proxy.port,
                      self.package.output(self.launcher)[0])
        # Key presses reach the controller, and its answers the panel.
        self.press("REVERSE")

        # ser2net killed (a crash, a power cut at the station) and started again.
        def restarted():
            station.start()
        self.fault("ser2net killed and restarted", "40m", station.kill, restarted)

        # A reset in the middle of a message: its piece never reaches the program, and
        # is never glued to what follows.
        self.cut_pieces.append(b"Fq14.0")

        def cut():
            before = proxy.downstream
            sim.send("Fq14.0")
            wait_until(lambda: proxy.downstream >= before + 6, 5, "the piece passed on")
            proxy.reset()
        self.fault("a reset mid-message", "17m", cut)

        # A second client is refused in words, and the link goes on.
        self.assertEqual(client_refusal("127.0.0.1", station.port), b"Port already in use\r\n")
        self.press("DIPOLE")
        # Another user takes the port while the link is down: said, waited for, never
        # taken over; the link comes once the other user has gone.
        other = []

        def taken():
            proxy.refuse(True)
            proxy.reset()

        def free_again():
            other.append(self.take_port(station.port))
            taken_mark = len(self.log())
            accepted = proxy.accepted
            proxy.refuse(False)
            self.wait_log("another user has the port", taken_mark)
            wait_until(lambda: proxy.accepted >= accepted + 2, RETURN_TIMEOUT,
                       "a second refused attempt")
            other[0].settimeout(0.1)
            with self.assertRaises(socket.timeout, msg="the other user lost the port"):
                other[0].recv(100)
            self.assertIn("another user has the port", self.notes.read_text())
            other[0].close()
            return time.time()
        self.fault("another user holding the port", "15m", taken, free_again)

        # 300 ms each way: key presses and the status still go through, and a
        # reconnection over the slow link brings the status within the bound.
        proxy.set_delay(0.3)
        self.press("NORMAL")
        self.fault("a reset with 300 ms each way", "12m", proxy.reset)
        proxy.set_delay(0)

        # The station's adapter pulled out, said as such, and plugged back.
        def plugged_back():
            self.wait_log("the station's adapter is missing", 0)
            sim.plug()
        self.fault("the station's adapter gone and back", "10m", sim.hangup, plugged_back,
                   lost="is lost (the station closed the connection)")

        self.wire_checks()
        notes = self.notes.read_text()
        self.assertGreaterEqual(notes.count("link lost"), 4, notes)
        self.assertGreaterEqual(notes.count("link back"), 5, notes)
        self.assertIn("no link|COM1: cannot reach", notes)
        code, out, _ = self.package.call("--ports")
        self.assertEqual(code, 0)
        self.assertIn("COM1  tcp://127.0.0.1:%d network serial server, link up" % proxy.port,
                      out)

    def press(self, beam):
        """MODE pressed: the controller hears it, and the panel shows the next beam."""
        heard = len(self.sim.received())
        self.ui.click(MODE_KEY)
        wait_until(lambda: MODE_PRESS in self.sim.received()[heard:], 5, "MODE heard")
        self.ui.waittext(DISPLAY_PANEL, beam)

    def take_port(self, port):
        """Connects as another user and holds the port (once ser2net has let the
        bridge's session go)."""
        deadline = time.monotonic() + 5
        while True:
            sock = socket.create_connection(("127.0.0.1", port), 2)
            sock.settimeout(0.3)
            try:
                said = sock.recv(100)
            except socket.timeout:
                return sock  # ser2net took this client
            sock.close()
            if time.monotonic() > deadline:
                raise AssertionError("ser2net kept the port: %r" % said)


class HalfOpenLinkTest(RemoteStationCase):

    def setUp(self):
        super().setUp()
        why = netns.available()
        if why:
            self.skipTest(why)
        self.network = StationNetwork(STATION_KEEPALIVE)
        self.addCleanup(self.network.remove)  # after the launcher and ser2net have gone

    def test_a_silent_link_is_noticed_and_a_stale_session_gives_way(self):
        network = self.network
        station = self.station(netns.STATION_ADDRESS, network)
        self.package.wrapper = network.operator_command([])
        self.start_launcher("tcp://%s:%d" % (netns.STATION_ADDRESS, station.port))

        # The cable pulled: nothing more reaches the station, not even a reset, so it
        # still holds the bridge's session when the cable is back. The bridge notices
        # within 5 s, and reconnects from the port it had: the station resets its
        # stale session at once.
        local = self.local_port()
        seconds = self.fault("a pulled cable", "40m", lambda: network.cable(False),
                             lambda: network.cable(True) or time.time(),
                             lost="is lost (")
        self.assertLess(seconds, BACKOFF_LAST + STATUS_BOUND + 1)
        self.assertEqual(self.local_port(), local)
        self.assertEqual(station.sessions(), 1)
        noticed = float(re.search(r"noticed ([0-9.]+) s", self.recoveries[-1]).group(1))
        self.assertLessEqual(noticed, NOTICE_BOUND)

        # Again, and the old port is taken meanwhile (another program, or a PC back
        # with a new address): the station refuses the new session while it holds the
        # old one, the launcher says so, and the station's keepalive ends the old one.
        holder = []

        def pulled():
            # Nothing of the station's unacknowledged: a segment it resent once the cable
            # is back would meet this computer's reset and end the old session before the
            # bridge could meet it.
            wait_until(lambda: station.unacknowledged() == 0, RETURN_TIMEOUT,
                       "the station's last answer acknowledged")
            network.cable(False)

        def back():
            mark = len(self.log())
            holder.append(subprocess.Popen(network.operator_command(
                ["python3", "-c", "import socket, time; s = socket.socket(); "
                 "s.bind(('%s', %d)); s.listen(); print('bound', flush=True); "
                 "time.sleep(120)" % (netns.OPERATOR_ADDRESS, local)]),
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE))
            self.addCleanup(self.end_holder, holder[0])
            self.assertEqual(holder[0].stdout.readline(), b"bound\n")
            network.cable(True)
            ended = time.time()
            self.wait_log("the station still holds this computer's previous session",
                          mark)
            return ended
        seconds = self.fault("a pulled cable, the old port taken", "17m", pulled, back,
                             lost="is lost (")
        self.assertLess(seconds, STALE_BOUND)
        self.assertNotEqual(self.local_port(), local)
        self.assertEqual(station.sessions(), 1)
        self.wire_checks()

    @staticmethod
    def end_holder(process):
        process.kill()
        process.wait()
        process.stdout.close()

    def local_port(self):
        return int(re.findall(r"made from local port (\d+)", self.log())[-1])
