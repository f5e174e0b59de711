#!/usr/bin/env python3
"""Writes the zip download from the files CPack staged, recording of each file only its
name, its contents, its mode (644, or 755 where the staging made it executable) and
the packages' one time: no owner, no group and no extra field, so the zip is the same
whoever builds it, wherever, under any umask.

    zip_archive.py --staging DIR --time SECONDS --output PATH

Files go in sorted order of their paths. A zip entry's time is a date and time of day
(to two seconds), taken here in UTC; one before 1980, which a zip cannot hold, becomes
1980-01-01 00:00:00. Standard library only; exits non-zero with the reason on failure.
"""

import argparse
import os
import stat
import sys
import time
import zipfile
from pathlib import Path

EARLIEST = (1980, 1, 1, 0, 0, 0)
UNIX_SYSTEM = 3
EXECUTABLE_MODE = 0o755
FILE_MODE = 0o644
COMPRESS_LEVEL = 9


def entry_time(seconds):
    return max(EARLIEST, tuple(time.gmtime(seconds)[:6]))


def staged_files(staging):
    """[(name in the zip, path)] of every file under staging, sorted by name."""
    files = []
    for folder, _, names in os.walk(staging):
        for name in names:
            path = Path(folder) / name
            files.append((path.relative_to(staging).as_posix(), path))
    return sorted(files)


def write_zip(output, files, seconds):
    partial = output.with_name(output.name + ".partial")
    with zipfile.ZipFile(partial, "w") as archive:
        for name, path in files:
            info = zipfile.ZipInfo(name, entry_time(seconds))
            info.create_system = UNIX_SYSTEM
            executable = os.stat(path).st_mode & stat.S_IXUSR
            info.external_attr = (stat.S_IFREG | (EXECUTABLE_MODE if executable
                                                  else FILE_MODE)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, path.read_bytes(), compresslevel=COMPRESS_LEVEL)
    os.replace(partial, output)


def main(argv):
    parser = argparse.ArgumentParser(description="Writes the zip download.")
    parser.add_argument("--staging", type=Path, required=True,
                        help="the folder CPack staged the files in")
    parser.add_argument("--time", type=int, required=True,
                        help="the time of every entry, in seconds since 1970")
    parser.add_argument("--output", type=Path, required=True, help="the .zip to write")
    args = parser.parse_args(argv)
    try:
        write_zip(args.output, staged_files(args.staging), args.time)
    except OSError as error:
        print("zip: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
