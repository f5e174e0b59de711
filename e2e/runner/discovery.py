"""Which tests run, and in what order: the quiet ones (which run alone) first, while
the workers have nothing else begun, then the longest first, so that with several
workers no long test starts last and holds the run up alone."""

import json
import os
import unittest
from pathlib import Path

E2E = Path(__file__).resolve().parent.parent
DURATIONS = E2E.parent / "build" / "e2e-durations.json"
# A test that has never run here counts as this long, unless its class says
# (expected_seconds) how long it takes.
UNKNOWN_SECONDS = 8.0


def _flatten(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from _flatten(item)
        else:
            yield item


def discover():
    loader = unittest.TestLoader()
    return list(_flatten(loader.discover(str(E2E), pattern="test_*.py",
                                         top_level_dir=str(E2E))))


def _remembered():
    try:
        return json.loads(DURATIONS.read_text())
    except (OSError, ValueError):
        return {}


def choose(tests, patterns, arch):
    """The tests whose id holds any of patterns (all without any): the quiet ones, then
    the others, each the longest first as last measured on this architecture, else as
    their class expects."""
    if patterns:
        tests = [test for test in tests
                 if any(pattern.lower() in test.id().lower() for pattern in patterns)]
    known = _remembered().get(arch, {})

    def expected(test):
        return known.get(test.id(), getattr(test, "expected_seconds", UNKNOWN_SECONDS))

    # Stable: ties keep their order.
    return sorted(tests, key=lambda test: (is_quiet(test), expected(test)), reverse=True)


def is_quiet(test):
    return bool(getattr(test, "quiet", False))


def remember_durations(arch, durations):
    """Keeps this run's durations for the next run's order (build/, never committed)."""
    everything = _remembered()
    everything.setdefault(arch, {}).update(durations)
    try:
        DURATIONS.parent.mkdir(parents=True, exist_ok=True)
        partial = DURATIONS.with_name(DURATIONS.name + ".new")
        partial.write_text(json.dumps(everything, indent=1, sort_keys=True) + "\n")
        os.replace(partial, DURATIONS)
    except OSError:
        pass  # only the order of a later run depends on it
