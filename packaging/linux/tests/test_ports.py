"""Network ports among the port mappings: the option, the ports file, where Wine's COMn
leads, and two ports on one server."""

import os
import tempfile
import unittest
from pathlib import Path
from unittest import mock

import launcher_path  # noqa: F401
from tovak_remote import ports
from tovak_remote.common import Refusal
from tovak_remote.places import Places


class NetworkPortTest(unittest.TestCase):

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        environment = mock.patch.dict(os.environ, {"HOME": folder.name})
        environment.start()
        self.addCleanup(environment.stop)
        for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME"):
            os.environ.pop(name, None)
        self.places = Places("/usr/lib/tovak-remote")

    def test_the_option_takes_a_server_by_name_or_address_and_refuses_the_rest(self):
        good = {"COM2=tcp://station.local:3333": (2, "tcp://station.local:3333"),
                "com3=TCP://192.0.2.7:4001": (3, "tcp://192.0.2.7:4001"),
                "COM4=tcp://[2001:db8::7]:3333": (4, "tcp://[2001:db8::7]:3333"),
                "COM5=tcp://[fe80::1%eth0]:1": (5, "tcp://[fe80::1%eth0]:1")}
        for option, mapping in good.items():
            self.assertEqual(ports.parse_port_option(option), mapping)
        self.assertEqual(ports.network_address("tcp://[2001:db8::7]:3333"),
                         ("2001:db8::7", 3333))
        for option in ("COM2=tcp://station.local", "COM2=tcp://station.local:0",
                       "COM2=tcp://station.local:65536", "COM2=tcp://:3333",
                       "COM2=tcp://2001:db8::7:3333", "COM2=tcp://a b:1",
                       "COM2=tcp://station.local:3333/x"):
            with self.subTest(option), self.assertRaises(Refusal) as refused:
                ports.parse_port_option(option)
            self.assertIn("is not tcp://HOST:PORT", str(refused.exception))

    def test_the_ports_file_keeps_servers_and_wine_leads_to_the_bridges_pty(self):
        self.places.ports.parent.mkdir(parents=True)
        self.places.ports.write_text("COM1=/dev/ttyUSB0\nCOM2=TCP://station:3333\n"
                                     "COM3=tcp://station\n")
        with mock.patch("sys.stderr") as stderr:
            mappings = ports.read_mappings(self.places)
        self.assertEqual(mappings, {1: "/dev/ttyUSB0", 2: "tcp://station:3333"})
        self.assertIn("line 3: not COMn=/device, left out",
                      "".join(call.args[0] for call in stderr.write.call_args_list))
        ports.write_mappings(self.places, mappings)
        self.assertEqual(ports.read_mappings(self.places), mappings)
        targets = ports.port_targets(self.places, mappings, {})
        self.assertEqual(targets["COM1"], "/dev/ttyUSB0")
        self.assertEqual(Path(targets["COM2"]), self.places.app / "ports" / "com2")
        self.assertEqual(targets["COM3"], str(self.places.no_port))

    def test_two_ports_may_not_share_one_server(self):
        self.assertIsNone(ports.shared_servers({1: "tcp://a:1", 2: "tcp://a:2",
                                                3: "/dev/ttyUSB0", 4: "/dev/ttyUSB0"}))
        self.assertEqual(ports.shared_servers({1: "tcp://a:1", 5: "TCP://a:1"}),
                         "COM1 and COM5 both lead to TCP://a:1, which serves one of them only")


if __name__ == "__main__":
    unittest.main()
