"""What one test run shares: the run folder, the template prefix and the X display."""

import os
import re
import shutil
import subprocess
import threading
import time
from pathlib import Path

from .common import (BOOT_TIMEOUT, SERVER_STOP_TIMEOUT, WINE_CALL_TIMEOUT, HarnessError,
                     end_process)
from .screen import start_xvfb
from .simulator import DEFAULT_SIM
from .world import Ahead, Harness
from .wine import (MAPPED_PORTS, NO_PORT, SERVER_FOLDER_FILE, WINE_ENV, WineArch,
                   give_server_folder, reg_string, remove_server_folder, windows_path)

TEMPLATE_FOLDER = "template"
# Wine's own programs and libraries in a prefix (630 MB of the 64-bit one): no test
# writes there, and Wine replaces them only when its version changes, so a test's
# prefix links to the template's files instead of copying them.
SHARED_FOLDERS = ("drive_c/windows/system32", "drive_c/windows/syswow64",
                  "drive_c/windows/winsxs")


class Run:
    """What one test run shares: the run folder, the template prefix, the Xvfb."""

    def __init__(self, exe=None, driver=None, sim=None, tmp_root=None, keep=None, display=None,
                 arch=None, template=None, ahead=False):
        self.arch = arch or WineArch.choose()
        self.exe = Path(exe or os.environ.get("TOVAK_E2E_EXE")
                        or self.arch.build / "tovakrem.exe").resolve()
        self.driver = Path(driver or os.environ.get("TOVAK_E2E_DRIVER")
                           or self.arch.build / "tovakdrv.exe").resolve()
        self.sim = Path(sim or os.environ.get("TOVAK_E2E_SIM") or DEFAULT_SIM).resolve()
        self.tmp_root = Path(tmp_root or os.environ.get("TOVAK_E2E_TMP") or "/tmp").resolve()
        self.keep = keep if keep is not None else os.environ.get("TOVAK_E2E_KEEP") == "1"
        self.folder = None
        # A template another run booted and owns (the parallel workers share one), or
        # None: this run boots its own.
        self.shared_template = Path(template).resolve() if template else None
        self.template = self.shared_template
        self.display = display  # an X display to use as it is; None starts a private Xvfb
        self.xvfb = None
        self.test_count = 0
        self.template_seconds = None
        self.started = False
        self.open_tests = []  # harnesses not yet closed, ended by stop() at the latest
        self.overheads = []  # (setup seconds, close seconds) of every closed test
        # Whether worlds are made ahead of their tests and ended in the background.
        self.make_ahead = ahead
        self.ahead = None
        self._folder_lock = threading.Lock()

    # -- life cycle --------------------------------------------------------------------

    def start(self, template=True, builds=True):
        """The run folder, the display and (unless template is False: the Debian
        package's launcher makes its own prefix) the template prefix. builds=False
        only boots the template, before the builds are there."""
        for path, what in ((self.exe, "program"), (self.driver, "UI driver"), (self.sim, "simulator")):
            if builds and not path.is_file():
                raise HarnessError("the %s is not built: %s" % (what, path))
        self.tmp_root.mkdir(parents=True, exist_ok=True)
        self.folder = Path(
            subprocess.check_output(["mktemp", "-d", str(self.tmp_root / "tovak-e2e-XXXXXX")],
                                    text=True).strip())
        self.started = True
        if self.display is None:
            self._start_xvfb()
        if template and self.shared_template is None:
            started = time.monotonic()
            self._boot_template()
            self.template_seconds = time.monotonic() - started
        if template and self.make_ahead:
            self.ahead = Ahead(self)

    def world(self, name, quiet=False):
        """A test's world (Harness), made ahead where the run does that; for a quiet
        test the next one is made only once it has ended."""
        if self.ahead is not None:
            return self.ahead.world(name, make_next=not quiet)
        return Harness(self, name)

    def stop(self):
        if not self.started:
            return
        self.started = False
        if self.ahead is not None:
            self.ahead.stop()
            self.ahead = None
        for test in list(self.open_tests):
            test.close()
        if self.xvfb is not None:
            end_process(self.xvfb)
            self.xvfb = None
        if (self.template is not None and self.shared_template is None
                and (self.template / SERVER_FOLDER_FILE).exists()):
            # A boot cut short: its server may still run. (A finished boot has ended it
            # and removed its socket's folder; asking again would make a new one.)
            subprocess.run(["wineserver", "-k"], env=self.wine_env(self.template),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=SERVER_STOP_TIMEOUT, check=False)
            self._wait_server_gone(self.template)
            remove_server_folder(self.template)
        if self.folder is not None and not self.keep:
            subprocess.run(["rm", "-rf", str(self.folder)], check=False)

    def wine_env(self, prefix):
        env = dict(os.environ)
        env.update(WINE_ENV)
        env.update(self.arch.env())
        env["WINEPREFIX"] = str(prefix)
        if self.display is not None:
            env["DISPLAY"] = ":%d" % self.display
        env.pop("WINESERVER", None)
        return env

    def new_test_folder(self, name):
        with self._folder_lock:  # worlds are also made in the background
            self.test_count += 1
            # Short names: the control sockets live inside and sun_path holds 107 bytes.
            folder = self.folder / ("t%03d" % self.test_count)
            folder.mkdir()
        (folder / "name.txt").write_text(name + "\n")
        return folder

    # -- parts -------------------------------------------------------------------------

    def _start_xvfb(self):
        self.xvfb, self.display = start_xvfb(self.folder / "xvfb.log")

    def _wine(self, prefix, args, timeout=WINE_CALL_TIMEOUT):
        """A Wine call whose output nobody needs; the helpers it starts inherit /dev/null."""
        result = subprocess.run(self.arch.command(args), env=self.wine_env(prefix),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=timeout, check=False)
        return result.returncode

    def _wait_server_gone(self, prefix):
        subprocess.run(["wineserver", "-w"], env=self.wine_env(prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=BOOT_TIMEOUT, check=False)

    def _boot_template(self):
        self.template = self.folder / TEMPLATE_FOLDER
        self.template.mkdir()
        give_server_folder(self.template)
        env = self.wine_env(self.template)
        log_path = self.folder / "wineboot.log"
        with open(log_path, "wb") as log:
            booted = subprocess.run(self.arch.command(["wineboot", "-i"]), env=env,
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                    timeout=BOOT_TIMEOUT, check=False)
        if booted.returncode != 0:
            hint = ""
            if self.arch.name == "win32" and not WineArch.runs_32_bit():
                hint = ": this machine cannot run 32-bit programs (%s=win64 or unset)" \
                    % WineArch.FORCE_VARIABLE
            raise HarnessError("booting a %s prefix failed (exit %d)%s; Wine said: %s"
                               % (self.arch.name, booted.returncode, hint,
                                  log_path.read_text(errors="replace")[-2000:]))
        self._wait_server_gone(self.template)
        no_port = self.no_port_folder()
        no_port.mkdir()
        lines = [
            "REGEDIT4", "",
            # Without a window manager, hiding a top-level window stalls the thread 2 s.
            r"[HKEY_CURRENT_USER\Software\Wine\X11 Driver]", '"Managed"="N"', "",
            # Inconsolata has Consolas' narrow advance; a wider face wraps the
            # display panel's lines and pushes the second out of sight.
            r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]",
            '"Consolas"="Inconsolata"', "",
            r"[HKEY_LOCAL_MACHINE\Software\Wine\Ports]",
        ]
        for number in MAPPED_PORTS:
            lines.append('"COM%d"="%s"' % (number, reg_string(str(no_port))))
        reg_file = self.folder / "template.reg"
        reg_file.write_text("\r\n".join(lines) + "\r\n")
        self._wine(self.template, ["regedit", "/S", windows_path(reg_file)])
        self._wait_server_gone(self.template)
        user_reg = (self.template / "user.reg").read_text(encoding="latin-1")
        if '"Managed"="N"' not in user_reg or '"Consolas"="Inconsolata"' not in user_reg:
            raise HarnessError("the template's settings were not imported")
        # The mount manager writes the port links only at a server's start; until it
        # has, the template would still send COM1 to /dev/ttyS0.
        for name in os.listdir(self.template / "dosdevices"):
            if re.fullmatch(r"com\d+", name):
                os.unlink(self.template / "dosdevices" / name)
        for number in MAPPED_PORTS:
            os.symlink(no_port, self.template / "dosdevices" / ("com%d" % number))
        # The template's server has ended: its socket's folder goes, and no copy names it.
        remove_server_folder(self.template)

    def copy_template(self, target):
        """A prefix of its own at target: a copy of the template, whose shared folders'
        files are hard links."""
        subprocess.run(["cp", "-a", "--link", str(self.template), str(target)], check=True)
        for folder, _, files in os.walk(target):
            relative = os.path.relpath(folder, target)
            if any(relative == shared or relative.startswith(shared + "/")
                   for shared in SHARED_FOLDERS):
                continue
            for name in files:
                path = os.path.join(folder, name)
                if not os.path.islink(path):
                    # Its own copy, so what Wine writes stays in this prefix.
                    source = os.path.join(self.template, relative, name)
                    os.unlink(path)
                    shutil.copy2(source, path)
        give_server_folder(target)

    def no_port_folder(self):
        """Where the template leads every port without a controller, beside it."""
        return self.template.parent / NO_PORT
