#!/usr/bin/env python3
"""Checks the downloads in build/dist/ as a user would receive them:

- the zip holds exactly README.txt and tovakrem.exe, in that order, the program being
  byte for byte the build's (build/win32/tovakrem.exe) and the README plain ASCII with
  CR LF line ends, naming the settings file, the log and DEBUG=1; each entry records
  its mode and one time and nothing of the builder (no extra field with an owner);
- the program carries its manifest (resource type 24, id 1: asInvoker, Windows 7 to
  11, no DPI awareness) and a version resource with the project's version;
- the installer is a 32-bit NSIS installer;
- the Debian package holds exactly its table of files, owned by root, with Debian's
  modes and one time (SOURCE_DATE_EPOCH), its outer members of that time, owned by 0:0
  with mode 100644: both programs byte for byte the builds', the launcher of this
  version and its modules as in the work tree, the menu entry, the icons in their
  sizes, the manual, copyright and changelog, the software centres' metadata (with a
  screenshot and this version's notes; appstreamcli validates it, as
  desktop-file-validate the menu entry, HamRadio among its categories); its control
  names the version and Wine's packages;
- the source archive holds one folder of the version: every tracked file byte for byte
  the work tree's with git's mode, SOURCE_DATE_EPOCH holding the commit's time and
  SOURCE_FILES listing the others; every entry of that time and owned by root, its
  gzip header without a name or the time it was made;
- SHA256SUMS lists the four downloads with their hashes, in the format of sha256sum.

Standard library only. Exits non-zero with the reasons on any failure.
"""

import gzip
import hashlib
import io
import re
import struct
import subprocess
import sys
import tarfile
import tempfile
import xml.etree.ElementTree as ElementTree
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DIST = REPO / "build" / "dist"
BUILT_PROGRAM = REPO / "build" / "win32" / "tovakrem.exe"
BUILT_PROGRAM_64 = REPO / "build" / "win64" / "tovakrem.exe"

RT_VERSION = 16
RT_MANIFEST = 24
MANIFEST_ID = 1
VERSION_ID = 1
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
MACHINE_I386 = 0x14C
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
README_MUST_NAME = (r"%LOCALAPPDATA%\VORNHALT\tovakrem.ini",
                    r"%LOCALAPPDATA%\VORNHALT\tovakrem.log", "DEBUG=1", "Options > Port")


ZIP_MODES = {"README.txt": 0o100644, "tovakrem.exe": 0o100755}
ZIP_UNIX_SYSTEM = 3

DEB_PACKAGE = "tovak-remote"
DEB_PROGRAMS = "usr/lib/%s" % DEB_PACKAGE
DEB_ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
APPSTREAM_ID = "org.example.tovak_remote"
# The launcher's Python package beside the programs; /usr/bin/tovak-remote starts it.
LAUNCHER_MODULES = ("__init__", "bridge", "cli", "common", "framing", "places", "ports",
                    "prefix", "report")
DEB_FILES = dict([
    ("usr/bin/%s" % DEB_PACKAGE, 0o755),
    (DEB_PROGRAMS + "/win32/tovakrem.exe", 0o644),
    (DEB_PROGRAMS + "/win64/tovakrem.exe", 0o644),
    ("usr/share/applications/%s.desktop" % DEB_PACKAGE, 0o644),
    ("usr/share/metainfo/%s.metainfo.xml" % APPSTREAM_ID, 0o644),
    ("usr/share/man/man1/%s.1.gz" % DEB_PACKAGE, 0o644),
    ("usr/share/doc/%s/copyright" % DEB_PACKAGE, 0o644),
    ("usr/share/doc/%s/changelog.gz" % DEB_PACKAGE, 0o644),
] + [("usr/share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, DEB_PACKAGE), 0o644)
     for size in DEB_ICON_SIZES] + [("%s/tovak_remote/%s.py" % (DEB_PROGRAMS, module), 0o644)
                                    for module in LAUNCHER_MODULES])
LAUNCHER_SOURCE = REPO / "packaging" / "linux" / "tovak_remote"
DEB_CONTROL = {"Package": DEB_PACKAGE, "Architecture": "amd64", "Section": "hamradio",
               "Depends": "python3, wine, wine64, fonts-inconsolata",
               "Recommends": "wine32, libnotify-bin"}
DESKTOP_ENTRY = {"Type": "Application", "Name": "Tovak Remote", "Exec": DEB_PACKAGE,
                 "Icon": DEB_PACKAGE, "Terminal": "false"}
DESKTOP_CATEGORY = "HamRadio"  # among the entry's categories, beside a main one
DIRECTORY_MODE = 0o755
DEB_MEMBER_MODE = 0o100644
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
SOURCE_OWNER = (0, 0, "root", "root")
SOURCE_TIME_FILE = "SOURCE_DATE_EPOCH"
SOURCE_FILE_LIST = "SOURCE_FILES"
SOURCE_MUST_HOLD = ("CMakeLists.txt", "CMakePresets.json", "packaging/linux/deb.cmake",
                    "src/app/win32/main_window.cpp", "resources/tovakrem.ico")


def project_version():
    text = (REPO / "CMakeLists.txt").read_text()
    return re.search(r"project\(TovakRemote VERSION ([0-9.]+)", text).group(1)


def version_numbers(version):
    """"1.08" -> (1, 8, 0, 0), as the build turns it into the version resource."""
    parts = [int(part) for part in version.split(".")]
    return tuple(parts + [0] * (4 - len(parts)))


# -- PE files ------------------------------------------------------------------------


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        header = struct.unpack_from("<I", data, 0x3C)[0]
        if data[header:header + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", data, header + 4)
        optional = header + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
        self.sections = []
        table = optional + optional_size
        for index in range(sections):
            size, address, raw_size, raw_offset = struct.unpack_from(
                "<IIII", data, table + index * 40 + 8)
            self.sections.append((address, max(size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw_offset in self.sections:
            if address <= rva < address + size:
                return rva - address + raw_offset
        raise ValueError("address 0x%x is in no section" % rva)

    def resources(self):
        """{(type id, name id): data} of the resources named by number (first language)."""
        found = {}
        if not self.resource_rva:
            return found
        base = self.offset(self.resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for index in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data,
                                                  base + directory + 16 + index * 8)
                yield name, target

        def first_leaf(target):
            while target & 0x80000000:
                target = next(entries(target & 0x7FFFFFFF))[1]
            rva, size = struct.unpack_from("<II", self.data, base + target)
            return self.data[self.offset(rva):self.offset(rva) + size]

        for type_id, type_target in entries(0):
            if type_id & 0x80000000 or not type_target & 0x80000000:
                continue
            for name_id, name_target in entries(type_target & 0x7FFFFFFF):
                if not name_id & 0x80000000:
                    found[(type_id, name_id)] = first_leaf(name_target)
        return found


def check_manifest(manifest, version, problems):
    namespaces = {"v1": "urn:schemas-microsoft-com:asm.v1",
                  "v3": "urn:schemas-microsoft-com:asm.v3",
                  "compat": "urn:schemas-microsoft-com:compatibility.v1"}
    root = ElementTree.fromstring(manifest)
    levels = [element.get("level") for element in root.iterfind(
        "v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel",
        namespaces)]
    if levels != ["asInvoker"]:
        problems.append("manifest: execution level %r, not asInvoker" % levels)
    systems = {element.get("Id") for element in root.iterfind(
        "compat:compatibility/compat:application/compat:supportedOS", namespaces)}
    if systems != SUPPORTED_OS:
        problems.append("manifest: supportedOS %s" % sorted(systems))
    if re.search(rb"dpiAware", re.sub(rb"<!--.*?-->", b"", manifest, flags=re.S)):
        problems.append("manifest: declares DPI awareness")
    identity = root.find("v1:assemblyIdentity", namespaces)
    dotted = ".".join(str(number) for number in version_numbers(version))
    if identity is None or identity.get("version") != dotted:
        problems.append("manifest: assembly version is not %s" % dotted)


def check_version_resource(block, version, problems):
    at = block.find(struct.pack("<I", FIXED_FILE_INFO_SIGNATURE))
    if at < 0:
        problems.append("version resource: no fixed file info")
        return
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", block, at + 8)
    expected = version_numbers(version)
    for what, high, low in (("file", file_ms, file_ls), ("product", product_ms, product_ls)):
        numbers = (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
        if numbers != expected:
            problems.append("version resource: %s version %s, not %s" % (what, numbers, expected))
    text = block.decode("utf-16-le", errors="replace")
    for key in ("FileVersion", "ProductVersion"):
        match = re.search(key + r"\x00+([^\x00]*)", text)
        if match is None or match.group(1) != version:
            problems.append("version resource: %s is %r, not %r"
                            % (key, match and match.group(1), version))


# -- the zip -------------------------------------------------------------------------


def check_zip_records(archive, data, problems):
    """Each entry records its name, its mode and the one time of the packages, nothing
    of the account that built it: no extra field (Info-ZIP's owner fields are extra
    fields), in its central directory record or its local header."""
    times = {entry.date_time for entry in archive.infolist()}
    if len(times) != 1:
        problems.append("the zip's files carry %d different times" % len(times))
    for entry in archive.infolist():
        _, extra_size = struct.unpack_from("<HH", data, entry.header_offset + 26)
        if entry.extra or extra_size:
            problems.append("the zip records more than %s's name and time: extra fields %r, "
                            "%d bytes in its local header" % (entry.filename, entry.extra,
                                                             extra_size))
        mode = ZIP_MODES[entry.filename]
        if (entry.create_system, entry.external_attr) != (ZIP_UNIX_SYSTEM, mode << 16):
            problems.append("the zip's %s has the system %d and the attributes %x, not Unix "
                            "mode %o" % (entry.filename, entry.create_system,
                                         entry.external_attr, mode))


# -- the Linux downloads -------------------------------------------------------------


def ar_entries(data):
    """(name, (time, owner, group, mode), bytes) of each member of an ar archive (a .deb)."""
    if not data.startswith(b"!<arch>\n"):
        raise ValueError("not an ar archive")
    position = 8
    while position < len(data):
        header = data[position:position + 60]
        name = header[:16].decode().strip().rstrip("/")
        fields = (int(header[16:28]), int(header[28:34]), int(header[34:40]),
                  int(header[40:48], 8))
        size = int(header[48:58].decode())
        yield name, fields, data[position + 60:position + 60 + size]
        position += 60 + size + (size & 1)


def ar_members(data):
    """{name: bytes} of an ar archive (a .deb)."""
    return {name: body for name, _, body in ar_entries(data)}


def tar_member(members, stem):
    """The tar archive of a .deb whose name begins with stem (control.tar, data.tar)."""
    for name, data in members.items():
        if name.startswith(stem):
            return tarfile.open(fileobj=io.BytesIO(data))
    raise ValueError("no %s member" % stem)


def check_deb(path, version, problems):
    members = ar_members(path.read_bytes())
    if list(members)[:1] != ["debian-binary"] or members["debian-binary"] != b"2.0\n":
        problems.append("%s: not a Debian package of format 2.0" % path.name)
        return
    control_text = tar_member(members, "control.tar").extractfile("./control").read().decode()
    control = dict(re.findall(r"^([A-Za-z-]+): (.*)$", control_text, re.MULTILINE))
    expected = dict(DEB_CONTROL, Version=version)
    if {key: control.get(key) for key in expected} != expected:
        problems.append("%s: control fields %s, not %s" % (path.name, control, expected))

    data = tar_member(members, "data.tar")
    entries = {entry.name.lstrip("./").rstrip("/"): entry for entry in data.getmembers()}
    files = {name: entry for name, entry in entries.items() if entry.isfile()}
    if sorted(files) != sorted(DEB_FILES):
        problems.append("%s holds %s" % (path.name, sorted(files)))
        return
    for name, entry in entries.items():
        mode = DEB_FILES.get(name, DIRECTORY_MODE)
        if (entry.mode, entry.uid, entry.gid) != (mode, 0, 0) or \
                not (entry.isfile() or entry.isdir()):
            problems.append("%s: %s has mode %o, owner %d:%d" % (path.name, name, entry.mode,
                                                                entry.uid, entry.gid))
    times = {entry.mtime for entry in entries.values()}
    if len(times) != 1:
        problems.append("%s: its files carry %d different times" % (path.name, len(times)))
    # The outer archive's members as dpkg-deb writes them, whatever the builder's umask.
    for name, fields, _ in ar_entries(path.read_bytes()):
        if fields != (min(times), 0, 0, DEB_MEMBER_MODE):
            problems.append("%s: its member %s has the time %d, owner %d:%d and mode %o, not "
                            "the files' time, 0:0 and %o" % ((path.name, name) + fields
                                                             + (DEB_MEMBER_MODE,)))

    def read(name):
        return data.extractfile(entries[name]).read()

    for arch, built in (("win32", BUILT_PROGRAM), ("win64", BUILT_PROGRAM_64)):
        if read(DEB_PROGRAMS + "/%s/tovakrem.exe" % arch) != built.read_bytes():
            problems.append("%s: its %s program is not %s" % (path.name, arch, built))
    launcher = read("usr/bin/%s" % DEB_PACKAGE).decode()
    for text in ('VERSION = "%s"' % version, 'PROGRAM_DIR = "/%s"' % DEB_PROGRAMS):
        if text not in launcher:
            problems.append("%s: the launcher lacks %s" % (path.name, text))
    for module in LAUNCHER_MODULES:
        name = "%s/tovak_remote/%s.py" % (DEB_PROGRAMS, module)
        if read(name) != (LAUNCHER_SOURCE / ("%s.py" % module)).read_bytes():
            problems.append("%s: %s is not the work tree's" % (path.name, name))
    desktop = read("usr/share/applications/%s.desktop" % DEB_PACKAGE)
    entry = dict(re.findall(r"^([A-Za-z]+)=(.*)$", desktop.decode(), re.MULTILINE))
    if {key: entry.get(key) for key in DESKTOP_ENTRY} != DESKTOP_ENTRY or \
            DESKTOP_CATEGORY not in entry.get("Categories", "").split(";"):
        problems.append("%s: desktop entry %s" % (path.name, entry))
    metainfo = read("usr/share/metainfo/%s.metainfo.xml" % APPSTREAM_ID)
    check_metainfo(metainfo, version, problems)
    validate(["desktop-file-validate"], "%s.desktop" % DEB_PACKAGE, desktop, problems)
    # --no-net: its addresses are not fetched (no network here).
    validate(["appstreamcli", "validate", "--no-net", "--pedantic"],
             "%s.metainfo.xml" % APPSTREAM_ID, metainfo, problems)
    for size in DEB_ICON_SIZES:
        png = read("usr/share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, DEB_PACKAGE))
        if png[:8] != PNG_SIGNATURE or struct.unpack(">II", png[16:24]) != (size, size):
            problems.append("%s: the %d px icon is not a %dx%d PNG" % (path.name, size, size,
                                                                       size))
    changelog = gzip.decompress(read("usr/share/doc/%s/changelog.gz" % DEB_PACKAGE)).decode()
    if not changelog.startswith("%s (%s) " % (DEB_PACKAGE, version)):
        problems.append("%s: the changelog begins %r" % (path.name, changelog[:40]))


def check_metainfo(data, version, problems):
    """The software centres' metadata: its id, the menu entry it launches, a screenshot
    and this version's release notes."""
    root = ElementTree.fromstring(data)
    if root.findtext("id") != APPSTREAM_ID or \
            root.findtext("launchable") != "%s.desktop" % DEB_PACKAGE:
        problems.append("metainfo: id %r, launchable %r" % (root.findtext("id"),
                                                             root.findtext("launchable")))
    if root.find("screenshots/screenshot/image") is None:
        problems.append("metainfo: no screenshot")
    releases = root.findall("releases/release")
    if not releases or releases[0].get("version") != version or \
            releases[0].find("description") is None:
        problems.append("metainfo: the first release is not %s with its notes" % version)


def validate(command, name, data, problems):
    """Runs a validator (desktop-file-validate, appstreamcli) over one of the package's
    files, written out under its own name."""
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / name
        path.write_bytes(data)
        try:
            result = subprocess.run(command + [str(path)], capture_output=True, text=True,
                                    check=False)
        except FileNotFoundError:
            problems.append("%s is not installed (tools/install-deps.sh installs it)"
                            % command[0])
            return
    if result.returncode != 0:
        problems.append("%s %s: %s" % (command[0], name, (result.stdout + result.stderr)
                                       .strip()))


def work_tree_time():
    return int(subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=REPO, check=True,
                              capture_output=True, text=True).stdout)


def tracked_files():
    """{path: mode} of the files git tracks that the work tree holds."""
    listing = subprocess.run(["git", "ls-files", "--stage", "-z"], cwd=REPO, check=True,
                             capture_output=True, text=True).stdout
    files = {}
    for record in filter(None, listing.split("\0")):
        details, _, name = record.partition("\t")
        if (REPO / name).exists():
            files[name] = int(details.split(" ")[0], 8) & 0o777
    return files


def check_source_archive(path, version, problems):
    data = path.read_bytes()
    if data[:2] != b"\x1f\x8b" or struct.unpack("<I", data[4:8])[0] != 0 or data[3] & 0x08:
        problems.append("%s: not a gzip file without a name and a time" % path.name)
        return
    folder = "TovakRemote-%s" % version
    commit_time = work_tree_time()
    held = {}
    with tarfile.open(fileobj=io.BytesIO(data)) as archive:
        for entry in archive.getmembers():
            if entry.name != folder and not entry.name.startswith(folder + "/"):
                problems.append("%s: %s is outside %s/" % (path.name, entry.name, folder))
                continue
            if entry.mtime != commit_time:
                problems.append("%s: %s has the time %d, not the commit's %d"
                                % (path.name, entry.name, entry.mtime, commit_time))
            owner = (entry.uid, entry.gid, entry.uname, entry.gname)
            if owner != SOURCE_OWNER:
                problems.append("%s: %s is owned by %s, not %s" % (path.name, entry.name,
                                                                   owner, SOURCE_OWNER))
            name = entry.name[len(folder) + 1:]
            if entry.isfile():
                held[name] = (entry.mode, archive.extractfile(entry).read())
            elif not entry.isdir() or entry.mode != DIRECTORY_MODE:
                problems.append("%s: %s is not a folder of mode %o" % (path.name, entry.name,
                                                                      DIRECTORY_MODE))
    # Every tracked file as the work tree holds it, and the two files that let the
    # unpacked tree build the release again: the time, the list of the others.
    tracked = tracked_files()
    written = {SOURCE_TIME_FILE: b"%d\n" % commit_time,
               SOURCE_FILE_LIST: "".join("%o %s\n" % (mode, name) for name, mode in
                                         sorted(tracked.items())).encode()}
    expected_names = set(tracked) | set(written)
    if set(held) != expected_names:
        problems.append("%s: %s differ from the tracked files and %s" % (
            path.name, sorted(set(held) ^ expected_names), sorted(written)))
    for name, (mode, content) in held.items():
        expected = (tracked.get(name, 0o644),
                    written[name] if name in written else (REPO / name).read_bytes())
        if (mode, content) != expected:
            problems.append("%s: %s is not the work tree's (mode %o)" % (path.name, name, mode))
    missing = [name for name in SOURCE_MUST_HOLD if name not in held]
    if missing:
        problems.append("%s lacks %s" % (path.name, missing))


# -- the downloads -------------------------------------------------------------------


def main():
    version = project_version()
    zip_name = "TovakRemote-%s-win32.zip" % version
    setup_name = "TovakRemote-%s-setup.exe" % version
    problems = []
    built = BUILT_PROGRAM.read_bytes()

    with zipfile.ZipFile(DIST / zip_name) as archive:
        names = archive.namelist()
        if names != ["README.txt", "tovakrem.exe"]:
            problems.append("%s holds %s" % (zip_name, names))
        else:
            if archive.read("tovakrem.exe") != built:
                problems.append("the zip's tovakrem.exe is not %s" % BUILT_PROGRAM)
            readme = archive.read("README.txt")
            if not readme.isascii():
                problems.append("README.txt is not plain ASCII")
            if readme.replace(b"\r\n", b"").count(b"\n") or readme.replace(b"\r\n", b"").count(
                    b"\r") or not readme.endswith(b"\r\n"):
                problems.append("README.txt has line ends other than CR LF")
            for text in README_MUST_NAME + ("Tovak Remote %s" % version,):
                if text.encode() not in readme:
                    problems.append("README.txt does not name %r" % text)
            check_zip_records(archive, (DIST / zip_name).read_bytes(), problems)

    program = PeFile(built)
    resources = program.resources()
    if (RT_MANIFEST, MANIFEST_ID) not in resources:
        problems.append("tovakrem.exe has no manifest resource (24, 1)")
    else:
        check_manifest(resources[(RT_MANIFEST, MANIFEST_ID)], version, problems)
    if (RT_VERSION, VERSION_ID) not in resources:
        problems.append("tovakrem.exe has no version resource")
    else:
        check_version_resource(resources[(RT_VERSION, VERSION_ID)], version, problems)

    installer = (DIST / setup_name).read_bytes()
    if PeFile(installer).machine != MACHINE_I386 or b"Nullsoft" not in installer:
        problems.append("%s is not a 32-bit NSIS installer" % setup_name)

    source_name = "TovakRemote-%s-src.tar.gz" % version
    deb_name = "%s_%s_amd64.deb" % (DEB_PACKAGE, version)
    check_source_archive(DIST / source_name, version, problems)
    check_deb(DIST / deb_name, version, problems)

    release = (zip_name, setup_name, source_name, deb_name)
    expected_sums = "".join("%s  %s\n" % (hashlib.sha256((DIST / name).read_bytes()).hexdigest(),
                                          name) for name in release)
    if (DIST / "SHA256SUMS").read_text() != expected_sums:
        problems.append("SHA256SUMS is not\n%s" % expected_sums)

    for problem in problems:
        print("package: " + problem, file=sys.stderr)
    if not problems:
        print("%s: contents, manifest, version resource and SHA256SUMS as expected"
              % ", ".join(release))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
