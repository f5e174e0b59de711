"""Wine as the tests run it: the architecture, its environment, the COM ports a prefix
maps and paths as the program sees them."""

import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from .common import REPO, HarnessError

WINE_ENV = {
    "WINEDEBUG": "-all",
    # No Mono or Gecko install prompts, and no menu entries or file associations
    # written for the desktop at each prefix's start.
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
}
PROGRAM_PORTS = range(1, 17)  # COM1..COM16, the ports the Port menu offers
# Every user-defined port keeps the mount manager from giving a real serial device
# (/dev/ttyS0 exists here) one of these numbers; it can only land on COM256.
MAPPED_PORTS = range(1, 256)
# A port without a controller is mapped to a folder: opening it then fails as a
# missing port does on Windows. A mapping to a path that does not exist would not
# do: Wine then opens the port's bare device, and every read and write gives 0 bytes.
NO_PORT = "no-port"
# Debian's Wine keeps, in this file of a prefix, the name of the folder in $TMPDIR where
# the prefix's server puts its socket, in a folder named after the prefix's device and
# inode. Copies must not share it: a prefix made where a removed one was may get its
# inode back, and its programs would then reach a server still ending the old one.
SERVER_FOLDER_FILE = "wineserver"
SERVER_FOLDER_PREFIX = "wine-"
SERVER_START_TIMEOUT = 30


def windows_path(path):
    """A Linux path as the program sees it through drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


def port_number(port):
    """'COM1', 'com12' or '\\\\.\\COM12' -> 1 or 12."""
    match = re.fullmatch(r"(?:\\\\\.\\)?COM(\d+)", port, re.IGNORECASE)
    if not match or int(match.group(1)) not in PROGRAM_PORTS:
        raise ValueError("not a port of the program: %r" % port)
    return int(match.group(1))


class WineArch:
    """Which Wine runs the tests: a 32-bit prefix with the 32-bit builds where the
    machine runs 32-bit programs, else a 64-bit prefix with the 64-bit builds.

    Debian's `wine` and `wineboot` scripts always try the 32-bit loader first, which a
    kernel without 32-bit support refuses ("Exec format error"); the 64-bit path
    therefore calls the 64-bit loader itself for every Wine program."""

    LOADER_32 = "/usr/lib/wine/wine"
    LOADER_64 = "/usr/lib/wine/wine64"
    FORCE_VARIABLE = "TOVAK_WINE_ARCH"
    NAMES = ("win32", "win64")

    def __init__(self, name):
        if name not in self.NAMES:
            raise HarnessError("%s must be one of %s, not %r"
                               % (self.FORCE_VARIABLE, ", ".join(self.NAMES), name))
        self.name = name
        self.build = REPO / "build" / name
        # The scripts keep the 32-bit path as it always was.
        self.loader = "wine" if name == "win32" else self.LOADER_64

    @classmethod
    def choose(cls):
        """The forced architecture, else win32 if the 32-bit loader runs here."""
        forced = os.environ.get(cls.FORCE_VARIABLE, "").strip()
        if forced:
            return cls(forced)
        return cls("win32" if cls.runs_32_bit() else "win64")

    @classmethod
    def runs_32_bit(cls):
        try:
            result = subprocess.run([cls.LOADER_32, "--version"], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    timeout=30, check=False)
        except OSError:  # missing, or refused by the kernel
            return False
        return result.returncode == 0

    def command(self, args):
        """args (a Windows program and its arguments) as a command line for this Wine."""
        return [self.loader] + [str(arg) for arg in args]

    def env(self):
        env = {"WINEARCH": self.name}
        if self.name == "win64":
            # What Wine starts by itself (start.exe, services) uses the same loader.
            env["WINELOADER"] = self.LOADER_64
        return env


def reg_string(text):
    if any(c in text for c in '"\\\n') or not text.isascii():
        raise HarnessError("path unfit for a registry file: %r" % text)
    return text


def server_folder_root():
    return Path(os.environ.get("TMPDIR") or "/tmp")


def give_server_folder(prefix):
    """A folder of its own for the socket of prefix's server, named in the prefix before
    any Wine process starts there: a server and its first programs, started together,
    would otherwise each make one."""
    folder = tempfile.mkdtemp(prefix=SERVER_FOLDER_PREFIX, dir=server_folder_root())
    note = Path(prefix) / SERVER_FOLDER_FILE
    if note.exists():
        note.unlink()
    note.write_text(os.path.basename(folder))
    note.chmod(0o400)


def server_folder(prefix):
    """The folder give_server_folder named for prefix's server, or None where the
    prefix names none of ours."""
    try:
        name = (Path(prefix) / SERVER_FOLDER_FILE).read_text().strip()
    except OSError:
        return None
    if not re.fullmatch(re.escape(SERVER_FOLDER_PREFIX) + r"[A-Za-z0-9_]+", name):
        return None
    return server_folder_root() / name


def remove_server_folder(prefix):
    """Removes the folder in $TMPDIR where the ended server of prefix had its socket,
    and the prefix's note of it."""
    folder = server_folder(prefix)
    if folder is not None:
        shutil.rmtree(folder, ignore_errors=True)
    note = Path(prefix) / SERVER_FOLDER_FILE
    if note.exists():
        note.unlink()


def wait_server_listening(prefix, server, timeout=SERVER_START_TIMEOUT):
    """Waits until the server started for prefix listens on its socket (in the folder
    give_server_folder named); HarnessError if it ends or does not listen in time."""
    folder = server_folder(prefix)
    if folder is None:
        raise HarnessError("%s names no socket folder for its server" % prefix)
    status = os.stat(prefix)
    socket_path = folder / ("server-%x-%x" % (status.st_dev, status.st_ino)) / "socket"
    deadline = time.monotonic() + timeout
    while not socket_path.exists():
        if server.poll() is not None:
            raise HarnessError("the wineserver for %s ended at its start (exit %d)"
                               % (prefix, server.returncode))
        if time.monotonic() >= deadline:
            raise HarnessError("the wineserver for %s did not listen within %s s"
                               % (prefix, timeout))
        time.sleep(0.005)
