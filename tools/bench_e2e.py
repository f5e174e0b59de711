"""Measures Tovak Remote under Wine against the controller simulator, side by side with
its baseline (bench/baseline: one window, one static, the port opened as the program
opens it, one read a 100 ms tick shown as it came), in the same run and the same way,
and prints one table of both with their ratio, each figure's goal and whether it is met.

    tools/bench.sh [--quick] [--seed N] [--report FILE]

Phases, one after the other unless said (a CPU figure is only taken alone):
  start      launch of the Wine loader to the UI driver seeing the main window, the
             prefix's server already running; median of 10, the two interleaved
  rest       connected, the controller sending nothing after one status: CPU over
             60 s; then the simulator hangs up and the dead line's CPU over 30 s
  full rate  60 s of status messages at 115200 baud cut at random points, both with
             their read log on: messages lost (the log against the simulator's
             record) and CPU
  latency    distinct "Fq" messages at random moments until the panel (the program)
             or the static (the baseline) shows the frequency
  soak       10 minutes at the full rate, the two at once in their own prefixes
             (resident memory does not depend on the CPU they share): VmRSS after
             start and after the soak
CPU is the Windows process's own (its Unix PID, /proc/PID/stat) with its prefix's
wineserver beside it. What the rest of the machine used meanwhile is measured too; a
CPU or time figure taken beside other work is marked provisional.

Run through tools/bench.sh, which builds what this needs and runs the native benchmark
whose JSON this reads (--native).
"""

import argparse
import json
import os
import random
import statistics
import subprocess
import sys
import threading
import time
from collections import Counter
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "e2e"))

from harness import (CLOCK_TICKS, Harness, Program, Run, UiDriver, cpu_seconds,  # noqa: E402
                     prefix_processes, resident_kb, wait_until, windows_path)

DISPLAY_PANEL = 1017  # the program's display panel; the baseline's static has its id
STATUS_REQUEST = b"SR;"
POWERED_STATUS = b"Pw1;Bm1;Tm0;"
AUTO_LINE = " AUTO      NORMAL"
NEVER_SHOWN = "\x01"  # a text no control shows, for the driver's bare round trip
BASELINE_EXE = "tovakbase.exe"
PROGRAM_EXE = "tovakrem.exe"
SHIPPED_EXE = REPO / "build" / "win32" / PROGRAM_EXE
BASELINE_LOG = "baseline-reads.log"
DEFAULT_REPORT = REPO / "build" / "bench" / "report.md"

DESIGN_BOUND_MS = 100 + 120  # one poll period and one read
START_TIMEOUT_MS = 30000
SHOW_TIMEOUT_MS = 5000
EXIT_TIMEOUT_S = 10
SETTLE_S = 2.0  # after connecting, or after the line has gone, before measuring
BETWEEN_STARTS_S = 0.3
STALL_S = 5.0  # no read for this long after the stream: the reader has read it all
STREAM_TIME_LIMIT = 5  # times the stream's seconds
SOAK_SAMPLE_S = 30
# A reader keeps up when it has read the stream within this share of the line's time,
# plus about two ticks.
KEEPS_UP = 1.05
KEEPS_UP_SLACK_S = 0.5
LINE_BYTES_PER_SECOND = 11520  # 115200 baud, 10 bits a byte
FULL_READ = 4095
# Random pause between arming the driver's wait and the write: at least long enough
# for the driver to be polling, and spread over more than one poll cycle (~220 ms).
PAUSE_S = (0.02, 0.30)
CALIBRATION_ROUNDS = 30
UNIT_SWAP = {"Ud2": ("mhz", "MHz"), "Ud3": ("MHz", "mhz")}
# Other work on the machine beyond this share of one core makes CPU and time figures
# provisional.
QUIET_OTHERS_PERCENT = 10.0

# The goals.
START_RATIO = 1.2
IDLE_CPU_PERCENT = 1.0
IDLE_RATIO = 1.2
RATE_RATIO = 1.5
GONE_CPU_PERCENT = 2.0
LATENCY_ABOVE_BASELINE_MS = 10
MEMORY_ABOVE_BASELINE_KB = 2 * 1024
MEMORY_GROWTH_KB = 256
EXE_LIMIT_BYTES = 1000000
NATIVE_FULL_READ_US = 50

NATIVE_FULL_READ = "SplitAndInterpretFullRead"
NATIVE_STATUS_READ = "InterpretStatusRead"

FULL = {"start_samples": 10, "idle_s": 60, "gone_s": 30, "rate_s": 60,
        "latency_samples": 120, "soak_s": 600}
QUICK = {"start_samples": 3, "idle_s": 10, "gone_s": 10, "rate_s": 10,
         "latency_samples": 10, "soak_s": 20}


# -- the two programs --------------------------------------------------------------------

class Subject:
    """One of the two programs measured: how it is started, how it shows that it is
    connected and has shown a status, and where its reads are logged."""

    key = None
    title = None
    exe_name = None

    def exe(self, run):
        return run.arch.build / self.exe_name

    def launch(self, harness, log=False):
        raise NotImplementedError

    def wait_connected(self, harness, sim):
        """Once the window is there, the port is open: both open it while it is made."""
        harness.ui.find(START_TIMEOUT_MS)

    def show_status(self, harness, sim):
        sim.send(POWERED_STATUS)
        harness.ui.waittext(DISPLAY_PANEL, self.status_text, SHOW_TIMEOUT_MS)

    def start_connected(self, harness, sim, log=False):
        program = self.launch(harness, log)
        self.wait_connected(harness, sim)
        self.show_status(harness, sim)
        return program, wine_process(program.pid, self.exe_name)

    def reads(self, harness):
        raise NotImplementedError


class TovakRemote(Subject):
    key = "program"
    title = "Tovak Remote"
    exe_name = PROGRAM_EXE
    status_text = AUTO_LINE

    def exe(self, run):
        return run.exe

    def launch(self, harness, log=False):
        if log:
            harness.write_settings(DEBUG=1)
        return harness.start()

    def wait_connected(self, harness, sim):
        super().wait_connected(harness, sim)
        sim.wait_received(STATUS_REQUEST, timeout=SHOW_TIMEOUT_MS / 1000)

    def reads(self, harness):
        """The R lines of the debug log, in order."""
        reads = []
        for line in read_lines(harness.log_path):
            marker = line.find(b"][R]")
            if marker >= 0:
                reads.append(line[marker + 4:])
        return reads


class Baseline(Subject):
    key = "baseline"
    title = "baseline"
    exe_name = BASELINE_EXE
    status_text = POWERED_STATUS.decode()  # it shows the bytes as they came

    def launch(self, harness, log=False):
        args = [self.exe(harness.run), "COM1"]
        if log:
            args.append(windows_path(self.log_path(harness)))
        output_path = harness.folder / ("baseline%d.out" % (len(harness.programs) + 1))
        with open(output_path, "wb") as output:
            process = subprocess.Popen(harness.run.arch.command(args), env=harness.env(),
                                       cwd=str(harness.folder), stdin=subprocess.DEVNULL,
                                       stdout=output, stderr=subprocess.STDOUT)
        program = Program(process, output_path)
        harness.programs.append(program)  # ended with the harness
        return program

    @staticmethod
    def log_path(harness):
        return harness.folder / BASELINE_LOG

    def reads(self, harness):
        """One line a read."""
        return [line for line in read_lines(self.log_path(harness)) if line]


SUBJECTS = (TovakRemote(), Baseline())


def read_lines(path):
    try:
        data = path.read_bytes()
    except FileNotFoundError:
        return []
    return data.split(b"\r\n")[:-1]  # a line still being written has no end yet


# -- processes and CPU -------------------------------------------------------------------

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


def machine_busy_seconds():
    """CPU time the whole machine has spent busy so far, all cores together."""
    fields = [int(value) for value in Path("/proc/stat").read_text().split("\n")[0].split()[1:]]
    idle = fields[3] + fields[4]  # idle, iowait
    return (sum(fields[:8]) - idle) / CLOCK_TICKS


def children_seconds():
    """CPU seconds of this process's ended and reaped children and their own."""
    usage = os.times()
    return usage.children_user + usage.children_system


class CpuWatch:
    """CPU used over one span: by named processes, by everything of the run (prefixes,
    simulators, X server), and by the rest of the machine."""

    def __init__(self, run, harnesses, named):
        self.named = dict(named)  # {name: pid}
        ours = {run.xvfb.pid} if run.xvfb is not None else set()
        for harness in harnesses:
            ours.update(prefix_processes(harness.prefix))
            ours.update(sim.pid for sim in harness.simulators)
        self.ours = ours | set(self.named.values())
        self.harnesses = list(harnesses)
        self.started = time.monotonic()
        self.before = {pid: cpu_seconds(pid) for pid in self.ours}
        self.children_before = children_seconds()
        self.machine_before = machine_busy_seconds()

    def stop(self):
        """{name: percent of one core, "others": the rest of the machine's}."""
        wall = time.monotonic() - self.started
        used = {pid: max(0.0, cpu_seconds(pid) - self.before[pid]) for pid in self.ours}
        result = {name: used[pid] / wall * 100 for name, pid in self.named.items()}
        # What the span itself started is the run's too, not other work: the
        # programs launched and ended (reaped children) and the Wine helpers
        # still running in its prefixes.
        run_work = sum(used.values()) + children_seconds() - self.children_before
        for harness in self.harnesses:
            run_work += sum(cpu_seconds(pid) for pid in prefix_processes(harness.prefix)
                            if pid not in self.before)
        others = machine_busy_seconds() - self.machine_before - run_work
        result["others"] = max(0.0, others / wall * 100)
        result["wall"] = wall
        return result


class Machine:
    """What the machine was doing beside each phase."""

    def __init__(self):
        self.others = {}  # phase -> percent of one core

    def note(self, phase, watch_result):
        self.others[phase] = max(self.others.get(phase, 0.0), watch_result["others"])
        return watch_result

    def quiet(self, phase):
        return self.others.get(phase, 0.0) <= QUIET_OTHERS_PERCENT


# -- phases ------------------------------------------------------------------------------

def world(run, name):
    """A prefix of its own with its server, the controller on COM1 and the UI driver."""
    harness = Harness(run, name)
    sim = harness.simulator("COM1")
    harness.ui.boxes()  # the driver running before anything is timed
    return harness, sim


def timed_start(harness, subject):
    """Milliseconds from launching the Wine loader to the driver seeing the window;
    the driver looks every 20 ms. Closes the program again."""
    ui = harness.ui
    line = "find %d" % START_TIMEOUT_MS
    ui.post(line)
    launched = time.monotonic()
    program = subject.launch(harness)
    ui.reply(line, START_TIMEOUT_MS / 1000 + 15)
    shown = (time.monotonic() - launched) * 1000
    ui.close()
    program.wait_exit(EXIT_TIMEOUT_S)
    time.sleep(BETWEEN_STARTS_S)
    return shown


def measure_start(run, machine, samples):
    """{key: [ms]} for both, interleaved, and the program's starts with its first read
    answered at once (the line holding a full read before the launch), which tells
    how much of its start that read is."""
    prefilled = "program, first read answered at once"
    worlds = {subject.key: world(run, "start-" + subject.key) for subject in SUBJECTS}
    worlds[prefilled] = world(run, "start-prefilled")
    program = SUBJECTS[0]
    try:
        runs = [(subject.key, subject) for subject in SUBJECTS] + [(prefilled, program)]
        # One start each unmeasured: the first one of a prefix loads what the next find
        # in the page cache.
        for key, subject in runs:
            if key == prefilled:
                worlds[key][1].flood(FULL_READ)
            timed_start(worlds[key][0], subject)
        watch = CpuWatch(run, [harness for harness, _ in worlds.values()], {})
        times = {key: [] for key, _ in runs}
        for _ in range(samples):
            for key, subject in runs:
                harness, sim = worlds[key]
                if key == prefilled:
                    sim.flood(FULL_READ)
                times[key].append(timed_start(harness, subject))
        machine.note("start", watch.stop())
        return times
    finally:
        for harness, _ in worlds.values():
            harness.close()


def measure_rest(run, machine, subject, idle_s, gone_s):
    """CPU connected and idle, then once the controller's line has gone."""
    harness, sim = world(run, "rest-" + subject.key)
    try:
        _, pid = subject.start_connected(harness, sim)
        time.sleep(SETTLE_S)
        named = {"process": pid, "server": harness.server.pid}
        watch = CpuWatch(run, [harness], named)
        time.sleep(idle_s)
        idle = machine.note("rest", watch.stop())
        sim.hangup()
        time.sleep(SETTLE_S)
        watch = CpuWatch(run, [harness], named)
        time.sleep(gone_s)
        gone = machine.note("rest", watch.stop())
        return {"idle": idle, "gone": gone}
    finally:
        harness.close()


def sent_bytes(sim):
    return b"".join(data for _, data in sim.chunks("tx"))


def measure_rate(run, machine, subject, seconds):
    """Messages lost at the line's full rate, and the CPU meanwhile."""
    harness, sim = world(run, "rate-" + subject.key)
    try:
        _, pid = subject.start_connected(harness, sim, log=True)
        written_before = len(sent_bytes(sim))
        # The baseline shows a read before it logs it.
        wait_until(lambda: sum(map(len, subject.reads(harness))) >= written_before,
                   SHOW_TIMEOUT_MS / 1000, "the status read in the read log")
        read_before = sum(map(len, subject.reads(harness)))
        watch = CpuWatch(run, [harness], {"process": pid, "server": harness.server.pid})
        started = time.monotonic()
        # A slow reader makes the stream take longer than its seconds.
        answer = sim.step("stream %d" % seconds, timeout=STREAM_TIME_LIMIT * seconds + 60)
        cpu = machine.note("rate", watch.stop())
        messages, byte_count = [int(word) for word in answer.split() if word.isdigit()]
        stream = sent_bytes(sim)[written_before:]
        # The reader may still be reading what the line holds: until it has read as
        # much as was written, or reads nothing more for a while.
        progress_at, progress = time.monotonic(), -1
        while True:
            got = b"".join(subject.reads(harness))[read_before:]
            if len(got) >= len(stream) or time.monotonic() - progress_at >= STALL_S:
                break
            if len(got) != progress:
                progress_at, progress = time.monotonic(), len(got)
            time.sleep(0.1)
        drained = time.monotonic() - started
        sent = Counter(stream.split(b";")[:-1])
        read = Counter(got.split(b";")[:-1])
        sent_messages = sum(sent.values())
        result = {
            "messages": messages, "bytes": byte_count, "drained": drained,
            "sent_messages": sent_messages,
            "lost": sum((sent - read).values()) + (messages - sent_messages),
            "in_order": got == stream, "cpu": cpu,
        }
        result["keeps_up"] = drained <= (KEEPS_UP * byte_count / LINE_BYTES_PER_SECOND
                                         + KEEPS_UP_SLACK_S)
        if subject.key == "program":
            expected = expected_second_line(stream)
            shown = harness.ui.waittext(DISPLAY_PANEL, expected, SHOW_TIMEOUT_MS)
            result["panel_line"] = shown["text"].split("\r\n")[1]
            result["expected_line"] = expected
        return result
    finally:
        harness.close()


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


def frequency_text(kHz):
    """The 16-character display field of an "Fq" for the 40m band, larger step."""
    return "40m %4d.%03d MHz" % (kHz // 1000, kHz % 1000)


def measure_latency(run, machine, subject, samples, seed):
    """Milliseconds from the simulator's write of an "Fq" to the frequency showing,
    and what the measuring costs. The same seed gives both programs the same
    frequencies and pauses."""
    rng = random.Random(seed)
    harness, sim = world(run, "latency-" + subject.key)
    try:
        subject.start_connected(harness, sim)
        ui = harness.ui
        round_trips = []
        for _ in range(CALIBRATION_ROUNDS):
            posted = time.monotonic()
            answer = ui.waittext(DISPLAY_PANEL, NEVER_SHOWN, 0, absent=True)
            round_trips.append((time.monotonic() - posted) * 1000 - answer["us"] / 1000)
        latencies, write_spans, poll_periods = [], [], []
        watch = CpuWatch(run, [harness], {})
        for kHz in rng.sample(range(7000, 7300), samples):
            text = frequency_text(kHz)
            line = UiDriver.waittext_line(DISPLAY_PANEL, text, SHOW_TIMEOUT_MS)
            armed = time.monotonic()
            ui.post(line)
            time.sleep(rng.uniform(*PAUSE_S))
            before_write = time.monotonic()
            sim.send("Fq" + text + ";")
            after_write = time.monotonic()
            answer = ui.reply(line, SHOW_TIMEOUT_MS / 1000 + 15)
            latencies.append((armed + answer["us"] / 1e6 - before_write) * 1000)
            write_spans.append((after_write - before_write) * 1000)
            poll_periods.append(answer["us"] / 1000 / max(1, answer["polls"]))
        machine.note("latency", watch.stop())
        return {"latencies": latencies, "write_ms": statistics.median(write_spans),
                "driver_poll_ms": statistics.mean(poll_periods),
                "round_trip_ms": statistics.median(round_trips)}
    finally:
        harness.close()


def stream_in_thread(sim, seconds, answers, key):
    def run():
        try:
            answers[key] = sim.step("stream %d" % seconds,
                                    timeout=STREAM_TIME_LIMIT * seconds + 60)
        except Exception as error:  # reported by the caller
            answers[key] = error
    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    return thread


def measure_soak(run, subjects, seconds):
    """Resident memory after start and after seconds at the full rate, the two at once."""
    worlds = {}
    try:
        pids = {}
        for subject in subjects:
            harness, sim = world(run, "soak-" + subject.key)
            worlds[subject.key] = (harness, sim)
            pids[subject.key] = subject.start_connected(harness, sim)[1]
        time.sleep(SETTLE_S)
        result = {key: {"start": resident_kb(pid), "peak": resident_kb(pid)}
                  for key, pid in pids.items()}
        answers = {}
        threads = [stream_in_thread(sim, seconds, answers, key)
                   for key, (_, sim) in worlds.items()]
        while any(thread.is_alive() for thread in threads):
            for thread in threads:
                thread.join(SOAK_SAMPLE_S / len(threads))
            for key, pid in pids.items():
                result[key]["peak"] = max(result[key]["peak"], resident_kb(pid))
        for key, pid in pids.items():
            if isinstance(answers.get(key), Exception):
                raise answers[key]
            result[key]["end"] = resident_kb(pid)
            result[key]["peak"] = max(result[key]["peak"], result[key]["end"])
        return result
    finally:
        for harness, _ in worlds.values():
            harness.close()


def read_native(path):
    """{benchmark: median microseconds of CPU time} from Google Benchmark's JSON: the
    CPU time, since wall time counts what other work on the machine takes from it."""
    if path is None or not Path(path).is_file():
        return {}
    medians = {}
    for entry in json.loads(Path(path).read_text())["benchmarks"]:
        if entry.get("aggregate_name", "median") == "median":
            scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[entry.get("time_unit", "ns")]
            medians[entry.get("run_name", entry["name"])] = entry["cpu_time"] * scale
    return medians


# -- the table ---------------------------------------------------------------------------

def percentile(values, share):
    """The nearest-rank percentile (share 0..1) of values."""
    ordered = sorted(values)
    return ordered[max(0, min(len(ordered) - 1, round(share * len(ordered) + 0.5) - 1))]


def ratio(program, baseline):
    return "%.2f" % (program / baseline) if baseline > 0 else "–"


def verdict(met):
    return "–" if met is None else ("yes" if met else "**MISSED**")


def cpu_cell(cpu):
    return "%.1f %% (server %.1f %%)" % (cpu["process"], cpu["server"])


def build_rows(figures, settings, machine):
    """[(figure, program, baseline, ratio, goal, met or None, provisional)]."""
    rows = []
    tick_percent = {phase: 100.0 / CLOCK_TICKS / settings[phase] * 2
                    for phase in ("idle_s", "gone_s", "rate_s")}

    if "start" in figures:
        start = figures["start"]
        program, baseline = (statistics.median(start[key]) for key in ("program", "baseline"))
        rows.append(("start to main window shown, median of %d" % len(start["program"]),
                     "%.0f ms" % program, "%.0f ms" % baseline, ratio(program, baseline),
                     "at most %.1f x the baseline" % START_RATIO,
                     program <= START_RATIO * baseline, not machine.quiet("start")))
        prefilled = statistics.median(start["program, first read answered at once"])
        rows.append(("the same, the program's first read answered at once (line holding a "
                     "full read)", "%.0f ms" % prefilled, "%.0f ms" % baseline,
                     ratio(prefilled, baseline), "figure only: the first read's share",
                     None, not machine.quiet("start")))

    if "rest" in figures:
        rest = figures["rest"]
        program, baseline = rest["program"]["idle"], rest["baseline"]["idle"]
        # Within two clock ticks over the span the two cannot be told apart.
        met = (program["process"] < IDLE_CPU_PERCENT and program["process"]
               <= IDLE_RATIO * baseline["process"] + tick_percent["idle_s"])
        rows.append(("CPU connected and idle (one status, then nothing), %d s"
                     % settings["idle_s"], cpu_cell(program), cpu_cell(baseline),
                     ratio(program["process"], baseline["process"]),
                     "under %g %% of one core, at most %.1f x the baseline"
                     % (IDLE_CPU_PERCENT, IDLE_RATIO), met, not machine.quiet("rest")))

    if "rate" in figures:
        rate = figures["rate"]
        program, baseline = rate["program"]["cpu"], rate["baseline"]["cpu"]
        rows.append(("CPU at the full line rate (read log on), %d s" % settings["rate_s"],
                     cpu_cell(program), cpu_cell(baseline),
                     ratio(program["process"], baseline["process"]),
                     "at most %.1f x the baseline" % RATE_RATIO,
                     program["process"] <= RATE_RATIO * baseline["process"],
                     not machine.quiet("rate")))

    if "rest" in figures:
        program, baseline = rest["program"]["gone"], rest["baseline"]["gone"]
        rows.append(("CPU while the line is gone (hung up), %d s" % settings["gone_s"],
                     cpu_cell(program), cpu_cell(baseline),
                     ratio(program["process"], baseline["process"]),
                     "under %g %% of one core" % GONE_CPU_PERCENT,
                     program["process"] < GONE_CPU_PERCENT, not machine.quiet("rest")))

    if "latency" in figures:
        latency = figures["latency"]
        cells = {key: (statistics.median(latency[key]["latencies"]),
                       percentile(latency[key]["latencies"], 0.95)) for key in latency}
        program, baseline = cells["program"], cells["baseline"]
        rows.append(("controller message to panel, median / 95th percentile (%d samples)"
                     % len(latency["program"]["latencies"]),
                     "%.0f / %.0f ms" % program, "%.0f / %.0f ms" % baseline,
                     ratio(program[1], baseline[1]),
                     "95th at most the baseline's + %d ms and at most %d ms"
                     % (LATENCY_ABOVE_BASELINE_MS, DESIGN_BOUND_MS),
                     program[1] <= baseline[1] + LATENCY_ABOVE_BASELINE_MS
                     and program[1] <= DESIGN_BOUND_MS, not machine.quiet("latency")))

    if "rate" in figures:
        program, baseline = rate["program"], rate["baseline"]
        rows.append(("messages lost at the full line rate, %d s, split at random points"
                     % settings["rate_s"],
                     "%d of %d" % (program["lost"], program["messages"]),
                     "%d of %d" % (baseline["lost"], baseline["messages"]), "–", "none",
                     program["lost"] == 0 and program["in_order"]
                     and program["panel_line"] == program["expected_line"], False))

    if "soak" in figures:
        soak = figures["soak"]
        program, baseline = soak["program"], soak["baseline"]
        rows.append(("resident memory after start (connected, first status shown)",
                     "%.2f MB" % (program["start"] / 1024), "%.2f MB" % (baseline["start"] / 1024),
                     ratio(program["start"], baseline["start"]),
                     "at most the baseline's + %d MB" % (MEMORY_ABOVE_BASELINE_KB // 1024),
                     program["start"] <= baseline["start"] + MEMORY_ABOVE_BASELINE_KB, False))
        growth = program["end"] - program["start"]
        rows.append(("resident memory after %d min of full-rate traffic (growth)"
                     % (settings["soak_s"] // 60) if settings["soak_s"] >= 60 else
                     "resident memory after %d s of full-rate traffic (growth)"
                     % settings["soak_s"],
                     "%.2f MB (%+d kB)" % (program["end"] / 1024, growth),
                     "%.2f MB (%+d kB)" % (baseline["end"] / 1024,
                                          baseline["end"] - baseline["start"]),
                     ratio(program["end"], baseline["end"]),
                     "at most the baseline's + %d MB; growth under %d kB"
                     % (MEMORY_ABOVE_BASELINE_KB // 1024, MEMORY_GROWTH_KB),
                     program["end"] <= baseline["end"] + MEMORY_ABOVE_BASELINE_KB
                     and growth < MEMORY_GROWTH_KB, False))

    sizes = figures["sizes"]
    for label, program, baseline in sizes:
        rows.append(("executable size, %s" % label, "%d bytes" % program,
                     "%d bytes" % baseline, ratio(program, baseline),
                     "under %d bytes" % EXE_LIMIT_BYTES, program < EXE_LIMIT_BYTES, False))

    native = figures["native"]
    if NATIVE_FULL_READ in native:
        rows.append(("natively: split and interpret one full 4095-byte read (median CPU time)",
                     "%.1f us" % native[NATIVE_FULL_READ], "–", "–",
                     "under %d us" % NATIVE_FULL_READ_US,
                     native[NATIVE_FULL_READ] < NATIVE_FULL_READ_US, False))
    if NATIVE_STATUS_READ in native:
        rows.append(("natively: interpret one status read (%d bytes, median CPU time)"
                     % len("Pw1;Bm1;Tm0;Fq40m    7.050 MHz;"),
                     "%.2f us" % native[NATIVE_STATUS_READ], "–", "–", "figure only", None,
                     False))
    return rows


def render_table(rows):
    lines = ["| figure | Tovak Remote | baseline | ratio | goal | met |",
             "|---|---|---|---|---|---|"]
    for figure, program, baseline, share, goal, met, provisional in rows:
        mark = " (provisional: machine busy)" if provisional else ""
        lines.append("| %s | %s | %s | %s | %s | %s%s |"
                     % (figure, program, baseline, share, goal, verdict(met), mark))
    return "\n".join(lines)


def wine_version(run):
    try:
        return subprocess.run(run.arch.command(["--version"]), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=30).stdout.strip()
    except (OSError, subprocess.TimeoutExpired):
        return "unknown"


def cpu_model():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return "unknown"


def load_average():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def machine_lines(run, machine, load_before, elapsed, command):
    quiet = all(machine.quiet(phase) for phase in machine.others)
    return [
        "Machine: %d cores, %s, Linux %s, %s, Wine architecture %s."
        % (os.cpu_count(), cpu_model(), os.uname().release, wine_version(run), run.arch.name),
        "Load: load average %s before the run, %s after; other work beside the measuring "
        "phases, in %% of one core: %s (%s)."
        % (load_before, load_average(),
           ", ".join("%s %.0f" % item for item in machine.others.items()),
           "otherwise idle" if quiet else
           "the machine was busy: the figures marked provisional are distorted"),
        "Method: every CPU and time figure is taken with only one of the two running; the "
        "soak runs both at once in two prefixes, since resident memory does not depend on "
        "the CPU they share. CPU is the Windows process's own, its wineserver's beside it.",
        "Command: `%s`, %.0f s." % (command, elapsed),
    ]


def print_details(figures):
    """What stands behind the table's figures."""
    if "start" in figures:
        for key, values in figures["start"].items():
            print("  start, %s: %s ms" % (key, " ".join("%.0f" % value for value in values)))
    if "rest" in figures:
        for key, rest in figures["rest"].items():
            print("  %s: idle %s; line gone %s; the rest of the machine %.0f %% / %.0f %%"
                  % (key, cpu_cell(rest["idle"]), cpu_cell(rest["gone"]),
                     rest["idle"]["others"], rest["gone"]["others"]))
    if "rate" in figures:
        for key, rate in figures["rate"].items():
            print("  %s at full rate: %d messages, %d bytes; read %.1f s after the start "
                  "(the line's time %.1f s), keeps up: %s; %s; CPU %s, the rest of the "
                  "machine %.0f %%"
                  % (key, rate["messages"], rate["bytes"], rate["drained"],
                     rate["bytes"] / LINE_BYTES_PER_SECOND,
                     "yes" if rate["keeps_up"] else "no",
                     "byte for byte in order" if rate["in_order"] else "NOT byte for byte",
                     cpu_cell(rate["cpu"]), rate["cpu"]["others"]))
            if "panel_line" in rate:
                print("    last frequency on the panel %r (expected %r)"
                      % (rate["panel_line"], rate["expected_line"]))
    if "latency" in figures:
        for key, latency in figures["latency"].items():
            values = latency["latencies"]
            print("  latency, %s: min %.0f, max %.0f ms, %d above %d ms; the driver reads "
                  "the text every %.1f ms, a simulator write takes %.1f ms, a driver round "
                  "trip %.2f ms"
                  % (key, min(values), max(values),
                     sum(1 for value in values if value > DESIGN_BOUND_MS), DESIGN_BOUND_MS,
                     latency["driver_poll_ms"], latency["write_ms"],
                     latency["round_trip_ms"]))
    if "soak" in figures:
        for key, soak in figures["soak"].items():
            print("  memory, %s: %d kB after start, %d kB at the end, peak %d kB"
                  % (key, soak["start"], soak["end"], soak["peak"]))


def executable_sizes(run):
    sizes = [("shipped 32-bit build", SHIPPED_EXE.stat().st_size,
              (SHIPPED_EXE.parent / BASELINE_EXE).stat().st_size)]
    if run.arch.name != "win32":
        sizes.append(("%s build (run here)" % run.arch.name,
                      SUBJECTS[0].exe(run).stat().st_size,
                      SUBJECTS[1].exe(run).stat().st_size))
    return sizes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="every phase short (%s), to check the tooling"
                        % ", ".join("%s %s" % item for item in QUICK.items()))
    parser.add_argument("--seed", type=int, default=1, help="seed of the random moments")
    parser.add_argument("--report", type=Path, default=DEFAULT_REPORT,
                        help="where the table is written as well (default %s)"
                        % DEFAULT_REPORT.relative_to(REPO))
    parser.add_argument("--native", type=Path, help="the native benchmark's JSON output")
    args = parser.parse_args()
    settings = QUICK if args.quick else FULL
    began = time.monotonic()
    load_before = load_average()
    machine = Machine()
    figures = {"native": read_native(args.native)}

    run = Run()
    if not SUBJECTS[1].exe(run).is_file():
        print("the baseline is not built: %s" % SUBJECTS[1].exe(run), file=sys.stderr)
        return 2
    try:
        run.start()
        figures["sizes"] = executable_sizes(run)
        print("Wine architecture %s, load average %s" % (run.arch.name, load_before),
              flush=True)

        def phase(name, what):
            print("== %s (%.0f s in)" % (name, time.monotonic() - began), flush=True)
            return what()

        figures["start"] = phase("start", lambda: measure_start(
            run, machine, settings["start_samples"]))
        figures["rest"] = phase("idle and line gone", lambda: {
            subject.key: measure_rest(run, machine, subject, settings["idle_s"],
                                      settings["gone_s"]) for subject in SUBJECTS})
        figures["rate"] = phase("full rate", lambda: {
            subject.key: measure_rate(run, machine, subject, settings["rate_s"])
            for subject in SUBJECTS})
        figures["latency"] = phase("latency", lambda: {
            subject.key: measure_latency(run, machine, subject,
                                         settings["latency_samples"], args.seed)
            for subject in SUBJECTS})
        figures["soak"] = phase("soak, both at once", lambda: measure_soak(
            run, SUBJECTS, settings["soak_s"]))
        print_details(figures)
        elapsed = time.monotonic() - began
    finally:
        run.stop()

    rows = build_rows(figures, settings, machine)
    command = "tools/bench.sh" + (" --quick" if args.quick else "")
    lines = machine_lines(run, machine, load_before, elapsed, command)
    if args.quick:
        lines.append("A quick run checks the tooling: its phases are too short to judge the "
                     "goals by (the 95th percentile of 10 samples is their largest).")
    report = "\n".join([render_table(rows), ""] + lines) + "\n"
    print()
    print(report, end="")
    args.report.parent.mkdir(parents=True, exist_ok=True)
    args.report.write_text(report)
    print("(written to %s)" % args.report)
    missed = [row[0] for row in rows if row[5] is False]
    for figure in missed:
        print("missed: %s" % figure)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
