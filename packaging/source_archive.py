#!/usr/bin/env python3
"""Writes the release's source archive: one folder named for the version, holding the
sources and two files written here, with which the unpacked tree builds the same
downloads, and this same archive, without git:

  SOURCE_DATE_EPOCH   the time every package carries, in seconds since 1970 (UTC)
  SOURCE_FILES        the archive's other files, one "<mode> <path>" a line, sorted

In a git checkout the sources are the files git tracks, as the work tree holds them
(uncommitted changes included, and said), so the archive is what the packages were
built from. In a tree unpacked from this archive they are those SOURCE_FILES lists:
build folders and stray files stay out. Every entry carries the one time, the owner
root and the mode 644 or 755 (755 for folders), in sorted order, and the gzip header
holds neither a name nor a time, so the same files and time give the same bytes
whoever writes them, wherever, under any umask.

    source_archive.py --source DIR --folder NAME --time SECONDS --time-file NAME
                      --output PATH [--git GIT]

--git, given for a git checkout only, is used where the tree has no SOURCE_FILES; with
neither, it says so and writes nothing. Standard library only; any other failure
exits non-zero with the reason.
"""

import argparse
import gzip
import io
import os
import stat
import subprocess
import sys
import tarfile
from pathlib import Path, PurePosixPath

FILE_LIST = "SOURCE_FILES"
FILE_MODES = {"644": 0o644, "755": 0o755}
GIT_MODES = {"100644": "644", "100755": "755"}
FOLDER_MODE = 0o755
OWNER = "root"
COMPRESS_LEVEL = 9


class Refusal(Exception):
    pass


def checked_path(text, generated):
    """text as a path inside the tree, or a Refusal: relative, without "." or ".."
    parts, and not one of the files written here."""
    if not text or "\n" in text or PurePosixPath(text).is_absolute() or any(
            part in ("", ".", "..") for part in text.split("/")):
        raise Refusal("%r is not a plain path inside the tree" % text)
    if text in generated:
        raise Refusal("%s is written by the archive itself, not listed" % text)
    return text


def listed_files(source, generated):
    """[(path, mode text)] of the tree's SOURCE_FILES, or None where it has none."""
    try:
        text = (source / FILE_LIST).read_text(encoding="utf-8", errors="surrogateescape")
    except FileNotFoundError:
        return None
    except OSError as error:
        raise Refusal("%s: %s" % (source / FILE_LIST, error))
    files = {}
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    for number, line in enumerate(lines, 1):
        mode, _, path = line.partition(" ")
        if mode not in FILE_MODES:
            raise Refusal("%s line %d: %r is not \"<644 or 755> <path>\""
                          % (FILE_LIST, number, line))
        if path in files:
            raise Refusal("%s lists %s twice" % (FILE_LIST, path))
        files[checked_path(path, generated)] = mode
    return sorted(files.items())


def tracked_files(source, git, generated):
    """[(path, mode text)] of the files git tracks that the work tree holds."""
    def run(*args):
        return subprocess.run([git, *args], cwd=source, check=True, capture_output=True
                              ).stdout.decode("utf-8", errors="surrogateescape")

    files = {}
    for record in run("ls-files", "--stage", "-z").split("\0"):
        if not record:
            continue
        details, _, path = record.partition("\t")
        git_mode = details.split(" ")[0]
        if git_mode not in GIT_MODES:
            raise Refusal("%s has the git mode %s: only plain files go in the archive"
                          % (path, git_mode))
        # A tracked file deleted from the work tree is not what the packages were built from.
        if (source / path).exists():
            files[checked_path(path, generated)] = GIT_MODES[git_mode]
    if run("status", "--porcelain", "-z", "--untracked-files=no"):
        print("source archive: uncommitted changes: it holds the work tree's tracked files,"
              " not the commit alone", file=sys.stderr)
    return sorted(files.items())


def entry(name, time, mode, data=None):
    """A tar entry owned by root with the archive's one time: a folder without data."""
    info = tarfile.TarInfo(name)
    info.mtime = time
    info.uid = info.gid = 0
    info.uname = info.gname = OWNER
    if data is None:
        info.type = tarfile.DIRTYPE
        info.mode = FOLDER_MODE
    else:
        info.mode = mode
        info.size = len(data)
    return info


def contents(source, files, time, time_file):
    """{path: (mode, bytes)} of every file of the archive, those written here included."""
    held = {}
    top = os.path.realpath(source)
    for path, mode in files:
        where = source / path
        if not stat.S_ISREG(os.lstat(where).st_mode) or \
                not os.path.realpath(where).startswith(top + os.sep):
            raise Refusal("%s is not a plain file inside the tree" % where)
        held[path] = (FILE_MODES[mode], where.read_bytes())
    listing = "".join("%s %s\n" % (mode, path) for path, mode in sorted(files))
    held[FILE_LIST] = (FILE_MODES["644"], listing.encode("utf-8", errors="surrogateescape"))
    held[time_file] = (FILE_MODES["644"], b"%d\n" % time)
    return held


def write_archive(output, folder, time, held):
    """The tar.gz of held under folder/, every folder made explicit, in sorted order."""
    folders = {folder}
    for path in held:
        parts = path.split("/")[:-1]
        folders.update("/".join([folder] + parts[:depth]) for depth in range(1, len(parts) + 1))
    names = sorted(folders | {folder + "/" + path for path in held},
                   key=lambda name: name.split("/"))
    partial = output.with_name(output.name + ".partial")
    with open(partial, "wb") as raw, \
            gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0,
                          compresslevel=COMPRESS_LEVEL) as compressed, \
            tarfile.open(fileobj=compressed, mode="w", format=tarfile.PAX_FORMAT) as archive:
        for name in names:
            if name in folders:
                archive.addfile(entry(name, time, FOLDER_MODE))
            else:
                mode, data = held[name[len(folder) + 1:]]
                archive.addfile(entry(name, time, mode, data), io.BytesIO(data))
    os.replace(partial, output)


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Writes the release's source archive.")
    parser.add_argument("--source", type=Path, required=True, help="the tree's top folder")
    parser.add_argument("--folder", required=True, help="the folder the archive unpacks into")
    parser.add_argument("--time", type=int, required=True,
                        help="the time of every entry, in seconds since 1970")
    parser.add_argument("--time-file", required=True,
                        help="the name of the file that holds the time in the archive")
    parser.add_argument("--output", type=Path, required=True, help="the .tar.gz to write")
    parser.add_argument("--git", help="git, where the tree is a git checkout")
    return parser.parse_args(argv)


def main(argv):
    args = parse_args(argv)
    generated = {FILE_LIST, args.time_file}
    try:
        files = listed_files(args.source, generated)
        if files is None and args.git:
            files = tracked_files(args.source, args.git, generated)
        if files is None:
            print("Neither a git checkout nor a tree unpacked from the source archive: "
                  "no source archive")
            return 0
        write_archive(args.output, args.folder, args.time,
                      contents(args.source, files, args.time, args.time_file))
    except Refusal as refusal:
        print("source archive: %s" % refusal, file=sys.stderr)
        return 1
    except (OSError, subprocess.CalledProcessError) as error:
        print("source archive: %s" % error, file=sys.stderr)
        return 1
    print("Source archive: %s" % args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
