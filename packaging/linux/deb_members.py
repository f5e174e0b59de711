#!/usr/bin/env python3
"""Gives each member of a Debian package's outer ar archive (debian-binary, control.tar.*,
data.tar.*) the header dpkg-deb writes: owner and group 0, mode 100644 and the packages'
one time. CPack's DEB generator copies the mode of the intermediate file it made, which
follows the builder's umask; with this the package is the same under any umask and
account. The member names, sizes and contents stay as they are.

    deb_members.py --time SECONDS PACKAGE

Standard library only; exits non-zero with the reason where PACKAGE is not an ar
archive, leaving it as it was.
"""

import argparse
import os
import sys
from pathlib import Path

AR_MAGIC = b"!<arch>\n"
HEADER_SIZE = 60
NAME_END = 16
SIZE_FIELD = slice(48, 58)
HEADER_END = b"`\n"
MEMBER_MODE = b"100644"
OWNER_ID = 0


class Refusal(Exception):
    pass


def fixed_header(header, seconds):
    """header with the fixed time, owner, group and mode; name and size kept."""
    return b"%s%-12d%-6d%-6d%-8s%s%s" % (header[:NAME_END], seconds, OWNER_ID, OWNER_ID,
                                         MEMBER_MODE, header[SIZE_FIELD], HEADER_END)


def fixed_package(data, seconds):
    if not data.startswith(AR_MAGIC):
        raise Refusal("not an ar archive")
    out = [AR_MAGIC]
    position = len(AR_MAGIC)
    while position < len(data):
        header = data[position:position + HEADER_SIZE]
        if len(header) != HEADER_SIZE or header[-2:] != HEADER_END:
            raise Refusal("a member header at %d is cut short or malformed" % position)
        try:
            size = int(header[SIZE_FIELD])
        except ValueError:
            raise Refusal("a member at %d has no size" % position)
        end = position + HEADER_SIZE + size + (size & 1)
        if size < 0 or end > len(data):
            raise Refusal("a member at %d runs past the end" % position)
        out += [fixed_header(header, seconds), data[position + HEADER_SIZE:end]]
        position = end
    return b"".join(out)


def main(argv):
    parser = argparse.ArgumentParser(description="Fixes a .deb's outer member headers.")
    parser.add_argument("--time", type=int, required=True,
                        help="the members' time, in seconds since 1970")
    parser.add_argument("package", type=Path, help="the .deb, rewritten in place")
    args = parser.parse_args(argv)
    try:
        fixed = fixed_package(args.package.read_bytes(), args.time)
        partial = args.package.with_name(args.package.name + ".partial")
        partial.write_bytes(fixed)
        os.replace(partial, args.package)
    except (Refusal, OSError) as error:
        print("%s: %s" % (args.package, error), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
