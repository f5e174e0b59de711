"""Where the launcher keeps the user's files, where it finds Wine and the program, and
the lock one start holds while the program runs. Each place can be moved by the
environment (the tests do)."""

import errno
import fcntl
import os
import pwd
from pathlib import Path

from .common import Refusal

PROGRAM_DIR_VARIABLE = "TOVAK_REMOTE_PROGRAMS"  # holds win32/ and win64/tovakrem.exe
WINE_DIR_VARIABLE = "TOVAK_REMOTE_WINE"  # Wine's loaders and server
WINE_DIR = "/usr/lib/wine"
DEVICE_DIR_VARIABLE = "TOVAK_REMOTE_DEV"  # where the serial devices appear
DEVICE_DIR = "/dev"

APP_FOLDER = "tovak-remote"
PREFIX_FOLDER = "wine"
PARTIAL_PREFIX_FOLDER = "wine.partial"
NO_PORT_FOLDER = "no-port"
LOCK_FILE = "lock"
WINE_OUTPUT_FILE = "wine.log"
PORTS_FILE = "ports"
LINK_FOLDER = "ports"  # comN: a link to the pty of a network port, while the program runs
LINK_STATES_FILE = "links"  # the network ports' states, while the program runs
LAUNCHER_LOG_FILE = "launcher.log"

# What the program keeps inside the prefix (%LOCALAPPDATA%\VORNHALT).
SETTINGS_PATH = ("AppData", "Local", "VORNHALT", "tovakrem.ini")
LOG_PATH = ("AppData", "Local", "VORNHALT", "tovakrem.log")


def base_folder(variable, fallback):
    """An XDG base folder: the variable if it holds an absolute path, else HOME/fallback."""
    value = os.environ.get(variable, "")
    if os.path.isabs(value):
        return Path(value)
    home = os.environ.get("HOME", "")
    if not os.path.isabs(home):
        raise Refusal("HOME is not set to a folder, so there is nowhere to keep the settings")
    return Path(home) / fallback


class Places:
    def __init__(self, program_dir):
        self.app = base_folder("XDG_DATA_HOME", ".local/share") / APP_FOLDER
        self.prefix = self.app / PREFIX_FOLDER
        self.partial_prefix = self.app / PARTIAL_PREFIX_FOLDER
        self.no_port = self.app / NO_PORT_FOLDER
        self.lock = self.app / LOCK_FILE
        self.wine_output = self.app / WINE_OUTPUT_FILE
        self.link_states = self.app / LINK_STATES_FILE
        self.launcher_log = self.app / LAUNCHER_LOG_FILE
        self.ports = base_folder("XDG_CONFIG_HOME", ".config") / APP_FOLDER / PORTS_FILE
        self.programs = Path(os.environ.get(PROGRAM_DIR_VARIABLE) or program_dir)
        self.wine = Path(os.environ.get(WINE_DIR_VARIABLE) or WINE_DIR)
        self.devices = Path(os.environ.get(DEVICE_DIR_VARIABLE) or DEVICE_DIR)
        # Wine names the profile folder after USER; it is pinned, so it never moves.
        self.user = pwd.getpwuid(os.getuid()).pw_name
        self.profile = self.prefix / "drive_c" / "users" / self.user

    def settings(self):
        return self.profile.joinpath(*SETTINGS_PATH)

    def log(self):
        return self.profile.joinpath(*LOG_PATH)

    def network_link(self, port):
        """Where COMn of a network port leads: a link, made anew at each start, to the
        pty the launcher bridges; the same path every time, so the prefix's mapping
        stays as it is."""
        return self.app / LINK_FOLDER / ("com%d" % port)


def running(places):
    """Whether a start holds the lock now (the program runs); makes nothing."""
    try:
        descriptor = os.open(places.lock, os.O_RDONLY)
    except OSError:
        return False
    try:
        fcntl.flock(descriptor, fcntl.LOCK_SH | fcntl.LOCK_NB)
        return False
    except OSError:
        return True
    finally:
        os.close(descriptor)


def take_lock(places):
    """The start's lock, held until the program ends; None while another start holds it."""
    places.app.mkdir(parents=True, exist_ok=True)
    descriptor = os.open(places.lock, os.O_RDWR | os.O_CREAT, 0o644)
    try:
        fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError as error:
        os.close(descriptor)
        if error.errno in (errno.EAGAIN, errno.EACCES):
            return None
        raise
    return descriptor
