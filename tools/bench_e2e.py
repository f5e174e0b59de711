"""Measures the monitor under Wine against the controller simulator and prints:

1. the latency from the controller writing an "Fq" message to the display panel
   showing it: median and 95th percentile over distinct frequencies written at random
   moments relative to the 100 ms poll, beside the design bound (one poll period plus
   one 120 ms read), and what the measuring itself costs;
2. the messages lost while the simulator streams valid status messages at the full
   115200-baud rate (cut at random points across writes), counted from the R lines of
   the debug log against the bytes the simulator wrote, whether the last of them
   reached the panel, and the CPU the program (and its Wine server) used meanwhile.

    tools/bench.sh [--samples N] [--seconds S] [--seed N]

Run through tools/bench.sh, which builds what this needs first.
"""

import argparse
import os
import random
import statistics
import sys
import time
from collections import Counter
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "e2e"))

from harness import Harness, Run, UiDriver  # noqa: E402

DISPLAY_PANEL = 1017
STATUS_REQUEST = b"SR;"
POWERED_STATUS = b"Pw1;Bm1;Tm0;"
POWERED_LINE = " POWER ON     "
AUTO_LINE = " AUTO      NORMAL"
DESIGN_BOUND_MS = 100 + 120  # one poll period and one read
START_TIMEOUT_MS = 30000
SHOW_TIMEOUT_MS = 5000
STALL_S = 5.0  # no read for this long after the stream: the program has read it all
STREAM_TIME_LIMIT = 5  # times the stream's seconds
# The program keeps up when it has read the stream within this share of the line's
# time, plus about two ticks.
KEEPS_UP = 1.05
KEEPS_UP_SLACK_S = 0.5
LINE_BYTES_PER_SECOND = 11520  # 115200 baud, 10 bits a byte
# Random pause between arming the driver's wait and the write: at least long enough
# for the driver to be polling, and spread over more than one poll cycle (~220 ms).
PAUSE_S = (0.02, 0.30)
CALIBRATION_ROUNDS = 30
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
DEFAULT_SAMPLES = 120
DEFAULT_SECONDS = 60
UNIT_SWAP = {"Ud2": ("mhz", "MHz"), "Ud3": ("MHz", "mhz")}


def percentile(values, share):
    """The nearest-rank percentile (share 0..1) of values."""
    ordered = sorted(values)
    return ordered[max(0, min(len(ordered) - 1, round(share * len(ordered) + 0.5) - 1))]


def frequency_text(kHz):
    """The 16-character display field of an "Fq" for the 40m band, larger step."""
    return "40m %4d.%03d MHz" % (kHz // 1000, kHz % 1000)


def start_program(harness, sim):
    program = harness.start()
    harness.ui.find(START_TIMEOUT_MS)
    sim.wait_received(STATUS_REQUEST, timeout=SHOW_TIMEOUT_MS / 1000)
    return program


def measure_latency(run, samples, rng):
    harness = Harness(run, "latency")
    try:
        sim = harness.simulator("COM1")
        start_program(harness, sim)
        ui = harness.ui
        sim.send(POWERED_STATUS)
        ui.waittext(DISPLAY_PANEL, AUTO_LINE, SHOW_TIMEOUT_MS)

        # The tooling's own costs: a driver command's round trip through its pipes,
        # and how often the driver reads the control while it waits.
        round_trips = []
        for _ in range(CALIBRATION_ROUNDS):
            posted = time.monotonic()
            answer = ui.waittext(DISPLAY_PANEL, AUTO_LINE, 0)
            round_trips.append((time.monotonic() - posted) * 1000 - answer["us"] / 1000)

        latencies = []
        write_spans = []
        poll_periods = []
        kHz_values = rng.sample(range(7000, 7300), samples)
        for kHz in kHz_values:
            text = frequency_text(kHz)
            line = UiDriver.waittext_line(DISPLAY_PANEL, text, SHOW_TIMEOUT_MS)
            armed = time.monotonic()
            ui.post(line)
            time.sleep(rng.uniform(*PAUSE_S))
            before_write = time.monotonic()
            sim.send("Fq" + text + ";")
            after_write = time.monotonic()
            answer = ui.reply(line, SHOW_TIMEOUT_MS / 1000 + 15)
            shown = armed + answer["us"] / 1e6
            latencies.append((shown - before_write) * 1000)
            write_spans.append((after_write - before_write) * 1000)
            poll_periods.append(answer["us"] / 1000 / max(1, answer["polls"]))
        return latencies, write_spans, poll_periods, round_trips
    finally:
        harness.close()


def wine_process(pid, name):
    """The PID among pid and its descendants whose command line names name."""
    pending = [pid]
    while pending:
        current = pending.pop()
        try:
            cmdline = Path("/proc/%d/cmdline" % current).read_bytes()
        except OSError:
            continue
        if name.encode() in cmdline.lower():
            return current
        for task in Path("/proc/%d/task" % current).iterdir():
            try:
                pending += [int(child) for child in
                            (task / "children").read_text().split()]
            except OSError:
                pass
    raise RuntimeError("no process of %s under PID %d" % (name, pid))


def cpu_seconds(pid):
    """User plus system CPU time of a process so far."""
    fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime, stime


def sent_bytes(sim):
    return b"".join(bytes.fromhex(detail) for _, kind, detail in sim.events() if kind == "tx")


def read_bytes(log_path):
    """What the program read, from the R lines of its debug log, in order."""
    reads = []
    for line in log_path.read_bytes().split(b"\r\n"):
        marker = line.find(b"][R]")
        if marker >= 0:
            reads.append(line[marker + 4:])
    return reads


def expected_second_line(stream):
    """The display's second line after the stream: its last "Fq", with the unit as
    the "Ud2" and "Ud3" after it leave it."""
    shown = None
    for message in stream.decode("latin-1").split(";"):
        if message.startswith("Fq"):
            shown = message[-16:]
        elif shown is not None and message[:3] in UNIT_SWAP:
            old, new = UNIT_SWAP[message[:3]]
            if shown.endswith(old):
                shown = shown[:-3] + new
    return None if shown is None else " " + shown


def measure_stream(run, seconds):
    harness = Harness(run, "stream")
    try:
        harness.write_settings(DEBUG=1)
        sim = harness.simulator("COM1")
        program = start_program(harness, sim)
        pid = wine_process(program.pid, "tovakrem.exe")
        server_pid = harness.server.pid
        cpu_before = cpu_seconds(pid)
        server_before = cpu_seconds(server_pid)
        started = time.monotonic()
        # A slow reader makes the stream take longer than its seconds.
        answer = sim.step("stream %d" % seconds, timeout=STREAM_TIME_LIMIT * seconds + 60)
        messages, byte_count = [int(word) for word in answer.split() if word.isdigit()]
        wall = time.monotonic() - started
        cpu = (cpu_seconds(pid) - cpu_before) / wall * 100
        server_cpu = (cpu_seconds(server_pid) - server_before) / wall * 100

        stream = sent_bytes(sim)
        expected_line = expected_second_line(stream)
        # The program may still be reading what the line holds: until it has read as
        # much as was written, or reads nothing more for a while.
        reads = read_bytes(harness.log_path)
        progress_at, progress = time.monotonic(), -1
        while sum(map(len, reads)) < len(stream) and time.monotonic() - progress_at < STALL_S:
            if sum(map(len, reads)) != progress:
                progress_at, progress = time.monotonic(), sum(map(len, reads))
            time.sleep(0.1)
            reads = read_bytes(harness.log_path)
        drained = time.monotonic() - started
        got = b"".join(reads)
        sent = Counter(stream.split(b";")[:-1])
        read = Counter(got.split(b";")[:-1])
        sent_messages = sum(sent.values())
        read_messages = sent_messages - sum((sent - read).values())
        in_order = got == stream
        panel_line = harness.ui.waittext(DISPLAY_PANEL, expected_line, SHOW_TIMEOUT_MS)
        panel_line = panel_line["text"].split("\r\n")[1]
        return {
            "messages": messages, "bytes": byte_count, "wall": wall, "drained": drained,
            "sent_messages": sent_messages, "read_messages": read_messages,
            "in_order": in_order, "reads": len(reads),
            "largest_read": max(len(read) for read in reads) if reads else 0,
            "expected_line": expected_line, "panel_line": panel_line,
            "cpu": cpu, "server_cpu": server_cpu,
        }
    finally:
        harness.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--samples", type=int, default=DEFAULT_SAMPLES,
                        help="latency samples, at least 100 (default %d)" % DEFAULT_SAMPLES)
    parser.add_argument("--seconds", type=int, default=DEFAULT_SECONDS,
                        help="length of the stream (default %d)" % DEFAULT_SECONDS)
    parser.add_argument("--seed", type=int, default=1, help="seed of the random moments")
    args = parser.parse_args()
    if not 1 <= args.samples <= 300:
        parser.error("--samples must be from 1 to 300 (distinct frequencies)")
    rng = random.Random(args.seed)

    run = Run()
    try:
        run.start()
        print("Wine architecture %s, load average %s" % (
            run.arch.name, " ".join(Path("/proc/loadavg").read_text().split()[:3])),
            flush=True)

        latencies, write_spans, poll_periods, round_trips = measure_latency(
            run, args.samples, rng)
        print("\nLatency, controller writes an Fq -> the display panel shows it (%d samples):"
              % len(latencies))
        print("  median %.0f ms, 95th percentile %.0f ms (min %.0f, max %.0f); "
              "design bound %d ms; %d of %d above it"
              % (statistics.median(latencies), percentile(latencies, 0.95), min(latencies),
                 max(latencies), DESIGN_BOUND_MS,
                 sum(1 for value in latencies if value > DESIGN_BOUND_MS), len(latencies)))
        print("  tooling: the driver reads the panel's text every %.1f ms (mean); a write step "
              "of the simulator takes %.1f ms (median, the write lies inside it); a driver "
              "command's pipe round trip is %.2f ms (median)"
              % (statistics.mean(poll_periods), statistics.median(write_spans),
                 statistics.median(round_trips)))

        result = measure_stream(run, args.seconds)
        print("\nStream, %d s of status messages at 115200 baud, cut at random points:"
              % args.seconds)
        print("  simulator wrote %d messages, %d bytes in %.1f s (the line's rate: %.1f s); "
              "the program had read them %.1f s after the start: %.0f bytes/s on average"
              % (result["messages"], result["bytes"], result["wall"],
                 result["bytes"] / LINE_BYTES_PER_SECOND, result["drained"],
                 result["bytes"] / result["drained"]))
        print("  keeps up with the line: %s (%.0f %% of its rate; one read every %.2f s on "
              "average); a pty holds the writer back while its buffer is full, so a slower "
              "reader delays the stream instead of losing it"
              % ("yes" if result["drained"] <= KEEPS_UP * result["bytes"] / LINE_BYTES_PER_SECOND
                 + KEEPS_UP_SLACK_S else "no",
                 result["bytes"] / result["drained"] / LINE_BYTES_PER_SECOND * 100,
                 result["drained"] / max(1, result["reads"])))
        print("  program read %d of %d messages whole (%d lost), %s; %d reads, "
              "largest %d bytes"
              % (result["read_messages"], result["sent_messages"],
                 result["sent_messages"] - result["read_messages"],
                 "byte for byte in order" if result["in_order"] else "NOT byte for byte",
                 result["reads"], result["largest_read"]))
        print("  last frequency on the panel: %r (expected %r)"
              % (result["panel_line"], result["expected_line"]))
        print("  CPU meanwhile: program %.1f %% of one core, its Wine server %.1f %%"
              % (result["cpu"], result["server_cpu"]))
        ok = (result["sent_messages"] == result["read_messages"] == result["messages"]
              and result["in_order"] and result["panel_line"] == result["expected_line"])
        return 0 if ok else 1
    finally:
        run.stop()


if __name__ == "__main__":
    sys.exit(main())
