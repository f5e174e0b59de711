"""The installer as a user meets it: run silently in a fresh prefix, the program
started from its Start-menu shortcut, a second install refused while the program
runs, and the uninstaller run from its Apps & features entry, which must take the
program's files, shortcuts and entry away and leave the user's settings alone.

The installer holds the build of the architecture the run uses: on win32 the shipped
build/dist/TovakRemote-<version>-setup.exe, on win64 its 64-bit twin from the same
script, build/dist-test/TovakRemote-<version>-win64-setup.exe (`cmake --build --preset
<arch> --target package` makes either; TOVAK_E2E_INSTALLER names another). Without one
the test is skipped, unless TOVAK_E2E_REQUIRE_INSTALLER=1.
"""

import os
import re
import subprocess
import time
from pathlib import Path

from harness import REPO, WineTestCase, current_run, windows_path

INSTALLER_VARIABLE = "TOVAK_E2E_INSTALLER"
# Set by the test command, which makes the installers first: a missing one then fails.
REQUIRE_VARIABLE = "TOVAK_E2E_REQUIRE_INSTALLER"
PROGRAM_NAME = "Tovak Remote"
PROGRAM_EXE = "tovakrem.exe"
UNINSTALLER = "Uninstall.exe"
INSTALLED_FILES = ["README.txt", UNINSTALLER, PROGRAM_EXE]
SHORTCUTS = ["%s.lnk" % PROGRAM_NAME, "Uninstall %s.lnk" % PROGRAM_NAME]
USER_UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TovakRemote"
MACHINE_UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TovakRemote"
SHELL_FOLDERS_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer"
EXIT_REFUSED = 2  # an NSIS installer that its own script aborted
SAVED_SETTINGS = {"COMPORT": "COM1", "KEEPALIVE": "0"}

INSTALL_TIMEOUT = 60
START_TIMEOUT_MS = 20000
EXIT_TIMEOUT = 10
UNINSTALL_TIMEOUT = 30


def project_version():
    text = (REPO / "CMakeLists.txt").read_text()
    match = re.search(r"project\(TovakRemote VERSION ([0-9.]+)", text)
    if match is None:
        raise AssertionError("no project version in CMakeLists.txt")
    return match.group(1)


def default_installer(arch_name):
    version = project_version()
    if arch_name == "win32":
        return REPO / "build" / "dist" / ("TovakRemote-%s-setup.exe" % version)
    return REPO / "build" / "dist-test" / ("TovakRemote-%s-win64-setup.exe" % version)


def read_reg_export(path):
    """{name: value} of the string and dword values in a file of `reg export`."""
    raw = path.read_bytes()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode()
    values = {}
    for line in text.splitlines():
        match = re.fullmatch(r'"((?:[^"\\]|\\.)*)"=(?:"((?:[^"\\]|\\.)*)"|dword:([0-9a-f]{8}))',
                             line.strip())
        if match:
            name = re.sub(r"\\(.)", r"\1", match.group(1))
            if match.group(3) is not None:
                values[name] = int(match.group(3), 16)
            else:
                values[name] = re.sub(r"\\(.)", r"\1", match.group(2))
    return values


class InstallTest(WineTestCase):
    """The installer and uninstaller of the architecture this run uses."""

    time_limit = 180

    def setUp(self):
        forced = os.environ.get(INSTALLER_VARIABLE)
        self.installer = Path(forced) if forced else default_installer(current_run().arch.name)
        if not self.installer.is_file():
            if forced or os.environ.get(REQUIRE_VARIABLE) == "1":
                self.fail("no installer: %s" % self.installer)
            self.skipTest("no installer built: %s" % self.installer)
        super().setUp()
        # No desktop entries for the shortcuts outside the test's folder.
        self.xdg = self.h.folder / "xdg"
        # As on Windows, %LOCALAPPDATA% and the Local AppData folder that installers
        # ask the shell for are one folder: the installer's programs folder then lies
        # beside the program's settings folder, where a careless uninstaller would reach.
        self.regedit({SHELL_FOLDERS_KEY + r"\User Shell Folders":
                      {"Local AppData": windows_path(self.h.local_app_data)},
                      SHELL_FOLDERS_KEY + r"\Shell Folders":
                      {"Local AppData": windows_path(self.h.local_app_data)}})
        self.install_dir = self.h.local_app_data / "Programs" / PROGRAM_NAME

    # -- Wine calls ---------------------------------------------------------------------

    def env(self):
        env = self.h.env()
        env["WINEDLLOVERRIDES"] += ";winemenubuilder.exe=d"
        env["XDG_DATA_HOME"] = str(self.xdg / "data")
        env["XDG_CONFIG_HOME"] = str(self.xdg / "config")
        return env

    def wine(self, args, timeout=INSTALL_TIMEOUT):
        """Runs a Windows program to its end; its exit code."""
        with open(self.h.folder / "wine-calls.out", "ab") as output:
            return subprocess.run(self.h.run.arch.command(args), env=self.env(),
                                  cwd=str(self.h.folder), stdin=subprocess.DEVNULL,
                                  stdout=output, stderr=subprocess.STDOUT, timeout=timeout,
                                  check=False).returncode

    def regedit(self, keys):
        lines = ["REGEDIT4", ""]
        for key, values in keys.items():
            lines.append("[%s]" % key)
            lines += ['"%s"="%s"' % (name, value.replace("\\", "\\\\"))
                      for name, value in values.items()]
            lines.append("")
        reg_file = self.h.folder / "shell-folders.reg"
        reg_file.write_text("\r\n".join(lines))
        self.assertEqual(self.wine(["regedit", "/S", windows_path(reg_file)]), 0)

    def registry_key(self, key):
        """The key's values, or None when the key does not exist."""
        export = self.h.folder / "key.reg"
        if export.exists():
            export.unlink()
        if self.wine(["reg", "export", key, windows_path(export), "/y"]) != 0:
            return None
        return read_reg_export(export)

    def start_from_shortcut(self, shortcut):
        """Opens the shortcut as a click in the Start menu does. Wine's `start` returns
        once the program runs, so the program is found by its command line after."""
        self.assertEqual(self.wine(["start", "/unix", shortcut]), 0)

    def program_processes(self):
        """Unix PIDs of the installed program (Wine shows its Windows path as the command)."""
        exe = windows_path(self.install_dir / PROGRAM_EXE).lower()
        pids = []
        for entry in os.scandir("/proc"):
            if entry.name.isdigit():
                try:
                    command = Path(entry.path, "cmdline").read_bytes().split(b"\0")[0]
                except OSError:
                    continue
                if command.decode("latin-1").lower() == exe:
                    pids.append(int(entry.name))
        return pids

    def start_menu_folder(self):
        users = self.h.prefix / "drive_c" / "users"
        found = list(users.glob("*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/"
                                + PROGRAM_NAME))
        return found[0] if found else None

    # -- the test -----------------------------------------------------------------------

    def test_install_start_and_uninstall_keep_the_user_settings(self):
        started = time.monotonic()
        self.assertEqual(self.wine([self.installer, "/S"]), 0, "silent install failed")
        install_seconds = time.monotonic() - started

        # The program's files, and nothing else, in the user's programs folder.
        self.assertEqual(sorted(os.listdir(self.install_dir)), sorted(INSTALLED_FILES))
        self.assertEqual((self.install_dir / PROGRAM_EXE).read_bytes(),
                         self.h.run.exe.read_bytes(), "the installed program is not the build's")
        start_menu = self.start_menu_folder()
        self.assertIsNotNone(start_menu, "no Start-menu folder %r" % PROGRAM_NAME)
        self.assertEqual(sorted(os.listdir(start_menu)), sorted(SHORTCUTS))

        # One Apps & features entry, the user's own.
        entry = self.registry_key(USER_UNINSTALL_KEY)
        self.assertIsNotNone(entry, "no uninstall entry under HKCU")
        self.assertIsNone(self.registry_key(MACHINE_UNINSTALL_KEY))
        install_location = windows_path(self.install_dir)
        self.assertEqual(
            {name: entry.get(name) for name in
             ("DisplayName", "DisplayVersion", "InstallLocation", "UninstallString",
              "QuietUninstallString", "NoModify", "NoRepair")},
            {"DisplayName": PROGRAM_NAME, "DisplayVersion": project_version(),
             "InstallLocation": install_location,
             "UninstallString": '"%s\\%s"' % (install_location, UNINSTALLER),
             "QuietUninstallString": '"%s\\%s" /S' % (install_location, UNINSTALLER),
             "NoModify": 1, "NoRepair": 1})

        # The Start-menu shortcut starts the installed program; it writes its settings
        # when it closes.
        self.h.simulator("COM1")
        self.start_from_shortcut(start_menu / SHORTCUTS[0])
        self.h.ui.find(START_TIMEOUT_MS)
        self.assertEqual(self.h.ui.window()["caption"], "%s [COM1]" % PROGRAM_NAME)
        running = self.program_processes()
        self.assertEqual(len(running), 1, "the installed program is not what runs")

        # Installing again while it runs is refused: its file is in use.
        self.assertEqual(self.wine([self.installer, "/S"]), EXIT_REFUSED)
        self.assertEqual(self.program_processes(), running)

        self.h.ui.close()
        deadline = time.monotonic() + EXIT_TIMEOUT
        while self.program_processes():
            self.assertLess(time.monotonic(), deadline, "the program did not exit")
            time.sleep(0.1)
        self.assertEqual(self.h.read_settings(), SAVED_SETTINGS)
        settings = self.h.settings_path.read_bytes()

        # Uninstalling as Apps & features does, silently: the uninstaller hands over to
        # a copy of itself and returns at once, so wait for its entry to go.
        started = time.monotonic()
        self.assertEqual(self.wine([entry["UninstallString"].strip('"'), "/S"]), 0)
        deadline = time.monotonic() + UNINSTALL_TIMEOUT
        while self.registry_key(USER_UNINSTALL_KEY) is not None:
            self.assertLess(time.monotonic(), deadline, "the uninstall entry stayed")
            time.sleep(0.2)
        uninstall_seconds = time.monotonic() - started

        self.assertFalse(self.install_dir.exists(), os.listdir(self.install_dir)
                         if self.install_dir.exists() else "")
        self.assertFalse(start_menu.exists(), "the Start-menu folder stayed")
        self.assertEqual(self.h.settings_path.read_bytes(), settings,
                         "the uninstaller touched the user's settings")
        self.assertEqual([p.name for p in self.xdg.rglob("*")], [],
                         "desktop entries were made outside the prefix")
        print("[install %.1f s, uninstall %.1f s] " % (install_seconds, uninstall_seconds),
              end="", flush=True)
