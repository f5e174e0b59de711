"""What every part of the launcher shares: its name, how it speaks, how it refuses."""

import sys

COMMAND = "tovak-remote"
TITLE = "Tovak Remote"

EXIT_REFUSED = 2
EXIT_RUNNING = 1
SIGNAL_EXIT_BASE = 128  # as a shell reports a program ended by a signal


class Refusal(Exception):
    """Something the user must fix; said in one line."""


def say(text, stream=None):
    print("%s: %s" % (COMMAND, text), file=stream or sys.stdout, flush=True)


def refuse(text):
    say(text, sys.stderr)
