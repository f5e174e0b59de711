"""Processes as /proc shows them: CPU time, resident memory, a Wine prefix's processes."""

import os
import re
from pathlib import Path

from .common import HarnessError

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User plus system CPU time of a process so far; 0 once it has gone."""
    try:
        fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime, stime


def resident_kb(pid):
    """A process's resident memory (VmRSS) in kB."""
    status = Path("/proc/%d/status" % pid).read_text()
    match = re.search(r"^VmRSS:\s+(\d+) kB$", status, re.MULTILINE)
    if match is None:
        raise HarnessError("no VmRSS for process %d" % pid)
    return int(match.group(1))


def prefix_processes(prefix):
    """Every process running in a Wine prefix (its loader, helpers and server)."""
    wanted = ("WINEPREFIX=%s" % prefix).encode()
    found = []
    for entry in os.scandir("/proc"):
        if entry.name.isdigit():
            try:
                environ = Path(entry.path, "environ").read_bytes()
            except OSError:
                continue
            if wanted in environ.split(b"\0"):
                found.append(int(entry.name))
    return found
