"""The Debian package unpacked and its launcher run as a user runs it."""

import os
import pwd
import subprocess
import time
from pathlib import Path

from .common import BOOT_TIMEOUT, SERVER_STOP_TIMEOUT, WINE_CALL_TIMEOUT, end_process, wait_until
from .processes import prefix_processes
from .ui_driver import UiDriver
from .wine import remove_server_folder
from .world import LOG_FILE, SETTINGS_FILE, SETTINGS_FOLDER


class InstalledPackage:
    """The Debian package unpacked (dpkg-deb -x) into a test folder, nothing installed
    on the machine, and its launcher run as a user runs it: a HOME of its own with the
    XDG_* variables unset, the run's display, the unpacked programs, and a private
    folder standing for /dev, where devices() puts the serial adapters plugged in."""

    COMMAND = Path("usr/bin/tovak-remote")
    PROGRAMS = Path("usr/lib/tovak-remote")
    APP_FOLDER = Path(".local/share/tovak-remote")
    PORTS_FILE = Path(".config/tovak-remote/ports")
    BY_ID = Path("serial/by-id")

    def __init__(self, run, deb, folder):
        self.run = run
        self.folder = folder
        self.root = folder / "root"
        subprocess.run(["dpkg-deb", "-x", str(deb), str(self.root)], check=True)
        self.home = folder / "home"
        self.home.mkdir()
        self.dev = folder / "dev"
        (self.dev / self.BY_ID).mkdir(parents=True)
        (folder / "ports").mkdir()  # the simulators' links
        self.app = self.home / self.APP_FOLDER
        self.prefix = self.app / "wine"
        self.ports_file = self.home / self.PORTS_FILE
        self.launchers = []
        self.wrapper = []  # a command the launcher runs under (a network namespace's)
        self.extra_env = {}
        self._ui = None

    def env(self, **changes):
        """The launcher's environment; a change of None removes the variable."""
        env = {name: value for name, value in os.environ.items()
               if not name.startswith(("XDG_", "WINE", "TOVAK_"))}
        env.update(HOME=str(self.home), DISPLAY=":%d" % self.run.display,
                   TOVAK_REMOTE_PROGRAMS=str(self.root / self.PROGRAMS),
                   TOVAK_REMOTE_DEV=str(self.dev), TOVAK_WINE_ARCH=self.run.arch.name)
        for name, value in dict(self.extra_env, **changes).items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = str(value)
        return env

    def seed_prefix(self):
        """The user's prefix as a copy of the run's booted template, so a start boots
        none (the first start's own boot is test_linux_package's)."""
        self.app.mkdir(parents=True)
        self.run.copy_template(self.prefix)
        return self.prefix

    def settings_path(self):
        """The program's settings file in the user's prefix (as tovak-remote --log
        names it)."""
        return self.program_folder() / SETTINGS_FILE

    def log_path(self):
        """The program's debug log in the user's prefix."""
        return self.program_folder() / LOG_FILE

    def program_folder(self):
        return self.prefix.joinpath("drive_c", "users", pwd.getpwuid(os.getuid()).pw_name,
                                    "AppData", "Local", SETTINGS_FOLDER)

    def plug(self, by_id_name, target):
        """A serial adapter plugged in: its /dev/serial/by-id name leading to target."""
        link = self.dev / self.BY_ID / by_id_name
        link.symlink_to(target)
        return link

    def call(self, *args, timeout=WINE_CALL_TIMEOUT, **env):
        """Runs tovak-remote to its end: (exit code, stdout, stderr)."""
        result = subprocess.run([str(self.root / self.COMMAND)] + [str(a) for a in args],
                                env=self.env(**env), cwd=str(self.folder),
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=timeout, check=False)
        return result.returncode, result.stdout, result.stderr

    def start(self, *args):
        """Starts tovak-remote in the background; its output goes to two files, read by
        output(). Returns the process."""
        index = len(self.launchers) + 1
        paths = [self.folder / ("launcher%d.%s" % (index, kind)) for kind in ("out", "err")]
        with open(paths[0], "wb") as out, open(paths[1], "wb") as err:
            process = subprocess.Popen(self.wrapper + [str(self.root / self.COMMAND)]
                                       + [str(a) for a in args],
                                       env=self.env(), cwd=str(self.folder),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        process.output_paths = paths
        self.launchers.append(process)
        return process

    @staticmethod
    def output(process):
        """(stdout, stderr) a started launcher has written so far."""
        return tuple(path.read_text(errors="replace") for path in process.output_paths)

    def program_running(self):
        """Whether tovakrem.exe runs in the launcher's prefix: once it does, the launcher
        has done with the prefix and its registry."""
        for pid in prefix_processes(self.prefix):
            try:
                if b"tovakrem.exe" in Path("/proc/%d/cmdline" % pid).read_bytes().lower():
                    return True
            except OSError:
                continue
        return False

    def start_program(self, *args, timeout=BOOT_TIMEOUT, find_timeout_ms=30000):
        """Starts tovak-remote; once its program runs (the launcher is then done with
        the prefix), a UI driver finds the window. Returns (launcher, seconds from the
        start to the window, the driver)."""
        started = time.monotonic()
        launcher = self.start(*args)
        wait_until(lambda: self.program_running() or launcher.poll() is not None, timeout,
                   lambda: "tovak-remote started no program: %s" % (self.output(launcher),))
        ui = self.ui()
        ui.find(find_timeout_ms)
        return launcher, time.monotonic() - started, ui

    def ui(self):
        """A fresh UI driver in the launcher's prefix (the one before it ended)."""
        self.end_ui()
        self._ui = UiDriver(self.run, self.prefix, self.folder)
        return self._ui

    def end_ui(self):
        if self._ui is not None:
            self._ui.end()
            self._ui = None

    def server_gone(self, timeout=SERVER_STOP_TIMEOUT):
        """Waits until the prefix's wineserver has ended, as it does after the program."""
        subprocess.run(["wineserver", "-w"], env=self.run.wine_env(self.prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout,
                       check=False)

    def close(self):
        """Ends what the test started, each by its PID, and the server of the prefix the
        launcher made for this test; the simulators go after this."""
        self.end_ui()
        if self.prefix.exists():
            subprocess.run(["wineserver", "-k"], env=self.run.wine_env(self.prefix),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=SERVER_STOP_TIMEOUT, check=False)
            self.server_gone()
            remove_server_folder(self.prefix)
        for process in self.launchers:
            end_process(process)
        if not self.run.keep:
            subprocess.run(["rm", "-rf", str(self.root), str(self.home)], check=False)
