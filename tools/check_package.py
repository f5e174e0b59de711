#!/usr/bin/env python3
"""Checks the downloads in build/dist/ as a user would receive them:

- the zip holds exactly README.txt and tovakrem.exe, in that order, the program being
  byte for byte the build's (build/win32/tovakrem.exe) and the README plain ASCII with
  CR LF line ends, naming the settings file, the log and DEBUG=1;
- the program carries its manifest (resource type 24, id 1: asInvoker, Windows 7 to
  11, no DPI awareness) and a version resource with the project's version;
- the installer is a 32-bit NSIS installer;
- SHA256SUMS lists both downloads with their hashes, in the format of sha256sum.

Standard library only. Exits non-zero with the reasons on any failure.
"""

import hashlib
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DIST = REPO / "build" / "dist"
BUILT_PROGRAM = REPO / "build" / "win32" / "tovakrem.exe"

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

    expected_sums = "".join("%s  %s\n" % (hashlib.sha256((DIST / name).read_bytes()).hexdigest(),
                                          name) for name in (zip_name, setup_name))
    if (DIST / "SHA256SUMS").read_text() != expected_sums:
        problems.append("SHA256SUMS is not\n%s" % expected_sums)

    for problem in problems:
        print("package: " + problem, file=sys.stderr)
    if not problems:
        print("%s and %s: contents, manifest, version resource and SHA256SUMS as expected"
              % (zip_name, setup_name))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
