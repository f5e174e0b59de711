"""Wine and the user's prefix: choosing the architecture, making the prefix once,
writing the port mappings into its registry files while its server is not running,
and reading the program's settings file inside it."""

import os
import re
import subprocess
import time

from .common import Refusal, refuse, say
from .ports import PORT_NUMBERS, port_number

ARCH_VARIABLE = "TOVAK_WINE_ARCH"  # win32 or win64 forces either
PROGRAM_EXE = "tovakrem.exe"
LOADERS = {"win32": "wine", "win64": "wine64"}
SERVER = "wineserver"
WINE_PACKAGES = {"win32": "wine32:i386", "win64": "wine64"}

WINE_ENV = {
    "WINEDEBUG": "-all",
    # No Mono or Gecko prompts, and no Wine menu entries or file associations in the
    # user's desktop: the package brings the one menu entry.
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
}
SYSTEM_REGISTRY = "system.reg"
USER_REGISTRY = "user.reg"
PORTS_KEY = r"Software\Wine\Ports"
FONT_REPLACEMENTS_KEY = r"Software\Wine\Fonts\Replacements"
# The display panel's face; Inconsolata (fonts-inconsolata) has its narrow advance.
FONT_REPLACEMENTS = {"Consolas": "Inconsolata"}

# What making a prefix takes on a 2-core machine, said while it is made.
BOOT_SECONDS = {"win32": 15, "win64": 10}
BOOT_TIMEOUT = 180
SERVER_GONE_TIMEOUT = 15
ARCH_PROBE_TIMEOUT = 30

SETTINGS_SECTION = "tovakrem"
PORT_KEY = "COMPORT"
DEBUG_KEY = "DEBUG"
DEFAULT_PORT = 1


# -- the settings file inside the prefix -------------------------------------------------


def settings_value(places, key):
    """A key of the program's section as the program reads it (the first one), or None."""
    try:
        text = places.settings().read_text(encoding="latin-1")
    except OSError:
        return None
    section = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1].strip().lower()
        elif section == SETTINGS_SECTION and "=" in line:
            name, value = line.split("=", 1)
            if name.strip().upper() == key:
                return value.strip()
    return None


def start_port(places):
    """The port the program opens at its start: its settings file's, else COM1."""
    saved = settings_value(places, PORT_KEY)
    if saved is None:
        return DEFAULT_PORT
    return port_number(saved)


# -- Wine ------------------------------------------------------------------------------


class Wine:
    """The Wine of one architecture: its loader, its server and the program it runs."""

    def __init__(self, places, arch):
        self.arch = arch
        self.places = places
        self.loader = places.wine / LOADERS[arch]
        self.server = places.wine / SERVER
        self.program = places.programs / arch / PROGRAM_EXE

    def env(self, prefix):
        env = dict(os.environ)
        env.update(WINE_ENV)
        env.update({"WINEPREFIX": str(prefix), "WINEARCH": self.arch,
                    "USER": self.places.user})
        if self.arch == "win64":
            # What Wine starts by itself (services, the desktop) takes the same loader.
            env["WINELOADER"] = str(self.loader)
        env.pop("WINESERVER", None)
        return env

    def run(self, prefix, args, output, timeout):
        return subprocess.run([str(self.loader)] + args, env=self.env(prefix),
                              stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                              cwd=str(self.places.app), timeout=timeout, check=False).returncode

    def start_program(self, output):
        return subprocess.Popen([str(self.loader), str(self.program)],
                                env=self.env(self.places.prefix), cwd=str(self.places.app),
                                stdin=subprocess.DEVNULL, stdout=output,
                                stderr=subprocess.STDOUT)

    def stop_server(self, prefix, output):
        subprocess.run([str(self.server), "-k"], env=self.env(prefix), stdin=subprocess.DEVNULL,
                       stdout=output, stderr=subprocess.STDOUT, timeout=SERVER_GONE_TIMEOUT,
                       check=False)
        self.server_gone(prefix, SERVER_GONE_TIMEOUT)

    def server_gone(self, prefix, timeout):
        """Waits up to timeout s for the prefix's server to end; whether it has."""
        waiting = subprocess.Popen([str(self.server), "-w"], env=self.env(prefix),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            waiting.wait(timeout)
            return True
        except subprocess.TimeoutExpired:
            waiting.kill()
            waiting.wait()
            return False


def runs(loader):
    try:
        return subprocess.run([str(loader), "--version"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=ARCH_PROBE_TIMEOUT, check=False).returncode == 0
    except (OSError, subprocess.TimeoutExpired):  # missing, or refused by the kernel
        return False


def prefix_arch(prefix):
    try:
        with open(prefix / SYSTEM_REGISTRY, encoding="latin-1") as registry:
            for _ in range(10):
                match = re.fullmatch(r"#arch=(win32|win64)", registry.readline().strip())
                if match:
                    return match.group(1)
    except OSError:
        pass
    return None


def choose_wine(places):
    """The 32-bit program where the 32-bit loader runs, else the 64-bit build; a prefix
    already made keeps its architecture."""
    forced = os.environ.get(ARCH_VARIABLE, "").strip()
    if forced and forced not in LOADERS:
        raise Refusal("%s must be win32 or win64, not %r" % (ARCH_VARIABLE, forced))
    made = prefix_arch(places.prefix)
    if forced and made and forced != made:
        raise Refusal("%s=%s, but the Wine prefix %s is %s: unset it, or remove that folder "
                      "(your settings are in it) for a new one" % (ARCH_VARIABLE, forced,
                                                                   places.prefix, made))
    loaders = {arch: places.wine / name for arch, name in LOADERS.items()}
    if not any(os.access(loader, os.X_OK) for loader in loaders.values()):
        raise Refusal("Wine is not installed: sudo apt install wine wine64 "
                      "(and wine32:i386 for the 32-bit program)")
    arch = forced or made or ("win32" if runs(loaders["win32"]) else "win64")
    if arch == "win32" and not runs(loaders["win32"]):
        if not os.access(loaders["win32"], os.X_OK):
            raise Refusal("the 32-bit Wine is not installed: sudo apt install %s"
                          % WINE_PACKAGES["win32"])
        raise Refusal("this machine cannot run the 32-bit Wine (%s)%s" % (
            loaders["win32"], ": remove %s (your settings are in it) for a 64-bit one"
            % places.prefix if made else ""))
    if arch == "win64" and not os.access(loaders["win64"], os.X_OK):
        raise Refusal("the 64-bit Wine is not installed: sudo apt install %s"
                      % WINE_PACKAGES["win64"])
    wine = Wine(places, arch)
    if not wine.program.is_file():
        raise Refusal("the program is missing: %s (reinstall the tovak-remote package)"
                      % wine.program)
    return wine


# -- registry files of a prefix whose server is not running -----------------------------


def reg_escape(text):
    """Text as a string of Wine's registry files: ASCII, the rest as UTF-16 escapes."""
    data = text.encode("utf-16-le", "surrogatepass")
    out = []
    for unit in (data[index] | data[index + 1] << 8 for index in range(0, len(data), 2)):
        if unit in (0x22, 0x5C):
            out.append("\\" + chr(unit))
        elif 0x20 <= unit < 0x7F:
            out.append(chr(unit))
        else:
            out.append("\\x%04x" % unit)
    return "".join(out)


def reg_unescape(text):
    units = []
    position = 0
    while position < len(text):
        char = text[position]
        if char == "\\" and position + 1 < len(text):
            hex_digits = re.match(r"x([0-9a-fA-F]{1,4})", text[position + 1:])
            if hex_digits:
                units.append(int(hex_digits.group(1), 16))
                position += 1 + len(hex_digits.group(0))
                continue
            char = text[position + 1]
            position += 1
        units.append(ord(char))
        position += 1
    return b"".join(unit.to_bytes(2, "little") for unit in units).decode(
        "utf-16-le", errors="surrogatepass")


def reg_header(key):
    return "[%s]" % key.replace("\\", "\\\\")


def reg_block(lines, key):
    """(first, end) lines of key's values in a registry file's lines, or None."""
    header = reg_header(key)
    for index, line in enumerate(lines):
        if line == header or line.startswith(header + " "):
            end = index + 1
            while end < len(lines) and lines[end] and not lines[end].startswith("["):
                end += 1
            return index + 1, end
    return None


VALUE_LINE = re.compile(r'"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"')


def reg_values(path, key):
    """{name: text} of key's string values in a registry file."""
    lines = path.read_text(encoding="latin-1").split("\n")
    block = reg_block(lines, key)
    values = {}
    if block:
        for line in lines[block[0]:block[1]]:
            match = VALUE_LINE.fullmatch(line)
            if match:
                values[reg_unescape(match.group(1)).upper()] = reg_unescape(match.group(2))
    return values


def set_reg_values(path, key, values):
    """Sets string values of key in a registry file (the key made if missing); the
    key's other values stay."""
    lines = path.read_text(encoding="latin-1").split("\n")
    ours = ['"%s"="%s"' % (reg_escape(name), reg_escape(value)) for name, value in values.items()]
    names = {name.upper() for name in values}
    block = reg_block(lines, key)
    if block is None:
        while lines and not lines[-1]:
            lines.pop()
        lines += ["", reg_header(key)] + ours + [""]
    else:
        first, end = block
        kept = [line for line in lines[first:end] if not (
            VALUE_LINE.fullmatch(line) and reg_unescape(VALUE_LINE.fullmatch(line).group(1))
            .upper() in names)]
        lines[first:end] = kept + ours
    partial = path.with_name(path.name + ".new")
    partial.write_text("\n".join(lines), encoding="latin-1")
    os.replace(partial, path)


# -- the prefix ------------------------------------------------------------------------


def prefix_ports(places):
    """What the prefix maps now: {COMn: target} as the registry and the links say."""
    registry = reg_values(places.prefix / SYSTEM_REGISTRY, PORTS_KEY)
    links = {}
    for port in PORT_NUMBERS:
        link = places.prefix / "dosdevices" / ("com%d" % port)
        links["COM%d" % port] = os.readlink(link) if os.path.islink(link) else None
    return registry, links


def write_ports(prefix, targets):
    """The mappings into a prefix whose server is not running: the registry, which the
    server's mount manager reads, and the links it would write from it."""
    set_reg_values(prefix / SYSTEM_REGISTRY, PORTS_KEY, targets)
    for name, target in targets.items():
        link = prefix / "dosdevices" / name.lower()
        if os.path.lexists(link):
            link.unlink()
        os.symlink(target, link)


def make_prefix(places, wine, targets, output):
    say("making the Wine prefix in %s, once (about %d s)..."
        % (places.prefix, BOOT_SECONDS[wine.arch]))
    started = time.monotonic()
    if places.partial_prefix.exists():
        subprocess.run(["rm", "-rf", "--", str(places.partial_prefix)], check=True)
    code = wine.run(places.partial_prefix, ["wineboot", "-i"], output, BOOT_TIMEOUT)
    # The registry files are complete once the server has ended.
    wine.stop_server(places.partial_prefix, output)
    if code != 0:
        raise Refusal("making the Wine prefix failed (wineboot exit %d); Wine's messages are "
                      "in %s" % (code, places.wine_output))
    set_reg_values(places.partial_prefix / USER_REGISTRY, FONT_REPLACEMENTS_KEY,
                   FONT_REPLACEMENTS)
    write_ports(places.partial_prefix, targets)
    # Only a finished prefix has the name: an interrupted start makes it again.
    os.rename(places.partial_prefix, places.prefix)
    say("Wine prefix made in %.1f s" % (time.monotonic() - started))


def update_ports(places, wine, targets):
    """Writes the mappings when they differ from the prefix's; only while its server is
    not running, since the server rewrites the registry files when it ends."""
    registry, links = prefix_ports(places)
    if all(registry.get(name) == target and links.get(name) == target
           for name, target in targets.items()):
        return
    if not wine.server_gone(places.prefix, SERVER_GONE_TIMEOUT):
        refuse("Wine is still busy in %s: the port mappings change at the next start"
               % places.prefix)
        return
    write_ports(places.prefix, targets)
