"""Fixtures of the end-to-end tests: the real tovakrem.exe under Wine, its COM ports
mapped to controller simulators, worked through the UI driver on a private Xvfb.

One run (Run) boots a template Wine prefix and an Xvfb once. Each test (Harness)
copies the template to a fresh prefix with its own wineserver, LOCALAPPDATA folder
and COM-port links, and cleans all of it up by the PIDs it started.

One module per thing the tests drive:
  run         the run: its folder, the template prefix, the X display
  world       one test's world (Harness): prefix, server, settings, simulators
  program     tovakrem.exe under Wine
  simulator   the controller simulator and its scripted steps
  ui_driver   the UI driver's commands
  screen      Xvfb, screen grabs and their pixels
  package     the Debian package unpacked and its launcher
  ser2net     ser2net serving the simulator's pty, as a remote station does
  delay_proxy a TCP proxy that delays, resets and refuses, standing for the network
  netns       two network namespaces and a veth pair, for a pulled cable
  case        the base class of the tests (WineTestCase) and the shared run
  wine        the Wine architecture, its environment and COM port names
  processes   CPU time, memory and the processes of a prefix, from /proc
  common      errors, waiting for a condition, ending a process

Standard library only.
"""

from .case import TestTimeout, WineTestCase, current_run, set_run
from .common import (BOOT_TIMEOUT, DEFAULT_TEST_TIME_LIMIT, DRIVER_REPLY_TIMEOUT, REPO,
                     SERVER_STOP_TIMEOUT, SIM_READY_TIMEOUT, WINE_CALL_TIMEOUT, DriverError,
                     DriverTimeout, HarnessError, SimulatorError, end_process, wait_for,
                     wait_until)
from .delay_proxy import DelayProxy
from .netns import StationNetwork
from .package import InstalledPackage
from .processes import CLOCK_TICKS, cpu_seconds, prefix_processes, resident_kb
from .program import Program
from .run import Run
from .screen import ScreenImage, grab, start_xvfb
from .ser2net import Ser2net
from .simulator import DEFAULT_SIM, Simulator
from .ui_driver import UiDriver
from .wine import (MAPPED_PORTS, NO_PORT, PROGRAM_PORTS, WINE_ENV, WineArch, port_number,
                   windows_path)
from .world import LOG_FILE, SETTINGS_FILE, SETTINGS_FOLDER, SETTINGS_SECTION, Harness
