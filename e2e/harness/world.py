"""One test's private world: its prefix, wineserver, LOCALAPPDATA, simulators and
programs, ended by the PIDs it started."""

import os
import re
import subprocess
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from .common import SERVER_STOP_TIMEOUT, WINE_CALL_TIMEOUT, HarnessError
from .program import Program
from .simulator import Simulator
from .screen import grab
from .ui_driver import UiDriver
from .wine import (PROGRAM_PORTS, port_number, reg_string, remove_server_folder,
                   wait_server_listening, windows_path)

SETTINGS_SECTION = "tovakrem"
SETTINGS_FOLDER = "VORNHALT"
SETTINGS_FILE = "tovakrem.ini"
LOG_FILE = "tovakrem.log"


class Harness:
    """One test's private world: prefix, wineserver, LOCALAPPDATA, simulators, program."""

    def __init__(self, run, name=None):
        self.run = run
        self.folder = run.new_test_folder(name or "(made ahead of its test)")
        self.prefix = self.folder / "prefix"
        self.local_app_data = self.folder / "localappdata"
        self.settings_path = self.local_app_data / SETTINGS_FOLDER / SETTINGS_FILE
        self.log_path = self.local_app_data / SETTINGS_FOLDER / LOG_FILE
        self.server = None
        self.programs = []
        self.simulators = []
        self.mounts = []
        self._ui = None
        self.setup_seconds = None
        self.closed = False
        run.open_tests.append(self)
        started = time.monotonic()
        try:
            self._prepare_prefix()
            self._start_server()
        except BaseException:
            self.close()
            raise
        self.setup_seconds = time.monotonic() - started

    def name(self, name):
        """Names the test this world was made for (in its folder's name.txt)."""
        (self.folder / "name.txt").write_text(name + "\n")

    def env(self):
        return self.run.wine_env(self.prefix)

    # -- setting up --------------------------------------------------------------------

    def _prepare_prefix(self):
        self.run.copy_template(self.prefix)
        (self.folder / "ports").mkdir()
        self.local_app_data.mkdir()
        system_reg = self.prefix / "system.reg"
        text = system_reg.read_text(encoding="latin-1")
        mapping = re.compile(r'^"COM(\d+)"="%s"$' % re.escape(str(self.run.no_port_folder())),
                             re.MULTILINE)
        mapped = []

        def own_port(match):
            number = int(match.group(1))
            if number not in PROGRAM_PORTS:
                return match.group(0)
            mapped.append(number)
            return '"COM%d"="%s"' % (number, reg_string(str(self.port_link(number))))

        text = mapping.sub(own_port, text)
        if sorted(mapped) != list(PROGRAM_PORTS):
            raise HarnessError("the template maps only ports %s" % sorted(mapped))
        system_reg.write_text(text, encoding="latin-1")
        # The links as the mount manager will write them, so no process of the test can
        # open a port before it has run and find the template's mapping.
        for number in PROGRAM_PORTS:
            self.port_link(number).mkdir()
            link = self.prefix / "dosdevices" / ("com%d" % number)
            link.unlink()
            os.symlink(self.port_link(number), link)

    def _start_server(self):
        self.server = subprocess.Popen(["wineserver", "-f", "-p"], env=self.env(),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True)
        # A Wine program that finds no server starts one of its own, which ends a few
        # seconds after its last program, and the registry's volatile keys with it: the
        # test's LOCALAPPDATA was then lost before the program started.
        wait_server_listening(self.prefix, self.server)
        # The key is made anew at each server start; a value in the Unix environment
        # would be overwritten from it.
        code = self.run._wine(self.prefix, [
            "reg", "add", r"HKCU\Volatile Environment", "/v", "LOCALAPPDATA", "/t", "REG_SZ",
            "/d", windows_path(self.local_app_data), "/f"])
        if code != 0:
            raise HarnessError("setting LOCALAPPDATA failed (%d)" % code)
        if self.server.poll() is not None:
            raise HarnessError("the test's wineserver ended (exit %d)" % self.server.returncode)

    def port_link(self, port):
        number = port if isinstance(port, int) else port_number(port)
        return self.folder / "ports" / ("com%d" % number)

    # -- settings file -----------------------------------------------------------------

    def write_settings(self, text=None, **keys):
        """Writes tovakrem.ini before the program starts: either the whole text, or
        the keys given (COMPORT="COM1", KEEPALIVE=120000, DEBUG=1) in its one section."""
        if text is None:
            text = "[%s]\r\n" % SETTINGS_SECTION + "".join(
                "%s=%s\r\n" % (key, value) for key, value in keys.items())
        self.settings_path.parent.mkdir(parents=True, exist_ok=True)
        self.settings_path.write_bytes(text.encode("latin-1") if isinstance(text, str) else text)

    def read_settings(self):
        """{KEY: value} of the settings file's section; {} if there is none."""
        if not self.settings_path.exists():
            return {}
        values = {}
        section = None
        for line in self.settings_path.read_text(encoding="latin-1").splitlines():
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif "=" in line and section is not None and section.lower() == SETTINGS_SECTION:
                key, value = line.split("=", 1)
                values[key.strip().upper()] = value.strip()
        return values

    # -- the parts of a test -----------------------------------------------------------

    def simulator(self, port="COM1", script=None, relink=False, model=None, seed=None,
                  replay=None, replay_speed=None):
        """Starts the controller on port; the program finds it there when it opens it.
        model: None for a scripted controller only, or a dict of model settings
        ({} for the defaults, {"name": "KYRAL Beam 2", "band": "40m"}, see tovaksim
        --help) for the controller model, with which steps still mix. seed: of the
        garbage and stream steps. replay: a debug log whose reads the simulator
        plays back (replay_speed times as fast)."""
        sim = Simulator(self.run.sim, self.folder, port, script=script, relink=relink,
                        model=model, seed=seed, replay=replay, replay_speed=replay_speed)
        self.simulators.append(sim)
        return sim

    def start(self):
        """Launches the program; its output goes to files in the test folder."""
        index = len(self.programs) + 1
        output_path = self.folder / ("program%d.out" % index)
        with open(output_path, "wb") as output:
            process = subprocess.Popen(self.run.arch.command([self.run.exe]), env=self.env(),
                                       cwd=str(self.folder), stdin=subprocess.DEVNULL,
                                       stdout=output, stderr=subprocess.STDOUT)
        program = Program(process, output_path)
        self.programs.append(program)
        return program

    def mount_tmpfs(self, folder, size):
        """Mounts a file system of size bytes (a "64k" text as mount takes it) on folder,
        made if missing, until the test ends; None once mounted, else why it could not
        be (mounting needs root)."""
        Path(folder).mkdir(parents=True, exist_ok=True)
        if os.geteuid() != 0:
            return "mounting a file system needs root"
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs",
                                 str(folder)], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=WINE_CALL_TIMEOUT, check=False)
        if result.returncode != 0:
            return "mount failed: %s" % result.stdout.decode(errors="replace").strip()
        self.mounts.append(Path(folder))
        return None

    @property
    def ui(self):
        """The UI driver, started on first use."""
        if self._ui is None:
            self._ui = UiDriver(self.run, self.prefix, self.folder)
        return self._ui

    def screenshot(self, path, rect=None):
        """Saves the main window (or rect [l, t, r, b] on the screen) as a PNG."""
        return grab(self.run.display, rect or self.ui.window()["rect"], path)

    def grab(self, rect):
        """The screen inside rect [l, t, r, b] as a ScreenImage (what a user sees)."""
        return grab(self.run.display, rect)

    def grab_control(self, control_id):
        """The screen over one control of the main window, in its client coordinates."""
        window = self.ui.window()
        control = next((c for c in self.ui.controls()["controls"] if c["id"] == control_id), None)
        if control is None:
            raise AssertionError("the main window has no control %d" % control_id)
        origin_x, origin_y = window["clientorigin"]
        left, top = origin_x + control["x"], origin_y + control["y"]
        return self.grab([left, top, left + control["w"], top + control["h"]])

    def grab_controls(self, control_ids):
        """{id: ScreenImage} over several main-window controls, from one grab."""
        window = self.ui.window()
        controls = {c["id"]: c for c in self.ui.controls()["controls"]}
        missing = [control_id for control_id in control_ids if control_id not in controls]
        if missing:
            raise AssertionError("the main window has no controls %s" % missing)
        origin_x, origin_y = window["clientorigin"]
        width, height = window["client"]
        client = self.grab([origin_x, origin_y, origin_x + width, origin_y + height])
        return {control_id: client.crop(controls[control_id]["x"], controls[control_id]["y"],
                                        controls[control_id]["w"], controls[control_id]["h"])
                for control_id in control_ids}

    # -- cleaning up -------------------------------------------------------------------

    def close(self):
        """Ends everything of this test, each by its PID: its programs and UI driver at
        once; the prefix's server, then the ptys (the server holds the devices), the
        mounts and the prefix itself where the run ends worlds in the background."""
        if self.closed:
            return
        self.closed = True
        started = time.monotonic()
        for program in self.programs:
            program.end()
        if self._ui is not None:
            self._ui.end()
            self._ui = None
        if self.run.ahead is not None:
            self.run.ahead.end(self)
        else:
            self.finish()
        if self.setup_seconds is not None:
            self.run.overheads.append((self.setup_seconds, time.monotonic() - started))

    def finish(self):
        """What is left of closing once nothing of the test is asked any more."""
        if self.server is not None:
            subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=SERVER_STOP_TIMEOUT, check=False)
            try:
                self.server.wait(SERVER_STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait(SERVER_STOP_TIMEOUT)
            self.server = None
            remove_server_folder(self.prefix)
        for sim in self.simulators:
            sim.stop()
        # Once nothing of the test runs; lazily if something still holds a file there.
        for folder in reversed(self.mounts):
            if subprocess.run(["umount", str(folder)], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, check=False).returncode != 0:
                subprocess.run(["umount", "-l", str(folder)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, check=False)
        self.mounts = []
        if not self.run.keep:
            subprocess.run(["rm", "-rf", str(self.prefix)], check=False)
        self.run.open_tests.remove(self)


class Ahead:
    """Worlds made one ahead and ended behind: while a test runs, the next test's
    prefix is copied, its server started and its session booted (about 1.5 s of the
    2 s a world takes), and a finished test's server and prefix go (about 0.8 s), in
    background threads. A test then waits only for what is not ready yet."""

    def __init__(self, run):
        self.run = run
        self.making = ThreadPoolExecutor(max_workers=1)
        self.ending = ThreadPoolExecutor(max_workers=1)
        self.next = None
        self.endings = []

    def world(self, name, make_next=True):
        started = time.monotonic()
        made, self.next = self.next, None
        world = made.result() if made is not None else Harness(self.run)
        world.setup_seconds = time.monotonic() - started
        world.name(name)
        if make_next:
            self.next = self.making.submit(Harness, self.run)
        return world

    def end(self, world):
        self.endings.append(self.ending.submit(world.finish))

    def stop(self):
        """Waits for the worlds being ended; the one made ahead for no test goes too."""
        if self.next is not None:
            try:
                self.next.result().close()
            except Exception:  # noqa: BLE001 - a world never used; its failure is moot
                pass
            self.next = None
        for ending in self.endings:
            ending.result()
        self.endings = []
        self.making.shutdown()
        self.ending.shutdown()
