"""Measures the launcher's bridge to a remote station beside a directly mapped pty, in
one run: the Debian package unpacked (nothing installed), its launcher with COM1 led
to ser2net on 127.0.0.1 (which serves one controller model's pty) and COM2 to a second
model's pty directly, the program under Wine worked by the UI driver.

    tools/bench_remote.sh [--samples N] [--rest S] [--rate S] [--returns N] [--quick]

Figures:
- message to panel: from the simulator's write of an "Fq" to the frequency on the
  display panel, median and 95th percentile, on COM1 and on COM2 in alternating blocks
  at the same random moments in the program's read cycle; the bridge adds the
  difference (goal: at most 5 ms at the 95th percentile);
- the same at the line alone, without the program's 100 ms poll: from the write to the
  bytes at the pty's slave, the bridge run here beside a plain pty;
- the launcher's CPU (the bridge is its thread) at rest with the link up (goal: under
  0.5 % of a core) and while the station streams at the full line rate, with the
  messages the program read against those sent;
- the link's return to the status on the panel: ser2net killed, the station's band
  changed, ser2net started again after a random pause; from its return, and from the
  bridge's new connection (bound: 2 s).

Prints a table and writes it to build/bench/remote.md. Run through
tools/bench_remote.sh, which builds what this needs first. Not part of the test command.
"""

import argparse
import os
import platform
import random
import re
import select
import statistics
import sys
import time
from collections import Counter
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "e2e"))
sys.path.insert(0, str(REPO / "packaging" / "linux"))

from harness import (InstalledPackage, Run, Ser2net, Simulator, UiDriver,  # noqa: E402
                     WineArch, cpu_seconds, wait_until)
from test_linux_package import default_deb  # noqa: E402
from tovak_remote.bridge import Bridge  # noqa: E402
from tovak_remote.report import Reporter  # noqa: E402

DISPLAY_PANEL = 1017
PORT_MENU_FIRST_ID = 1073  # COM1
CAPTION = "Tovak Remote [%s]"
SHOW_TIMEOUT_MS = 10000
BLOCK = 10  # latency samples on one port before switching to the other
CYCLE_S = 0.22  # the program's read cycle: a 100 ms timer, then a 120 ms read
MARK_KHZ = (7400, 7401)  # frequencies that mark the end of a read, never sampled
RETURN_PAUSE_S = (0.5, 3.0)  # ser2net down this long before it is started again
LINE_SAMPLES = 200
GOALS = {"added_p95_ms": 5.0, "rest_cpu": 0.5, "connection_to_status_s": 2.0}
LOG_STAMP = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\.(\d{3}) ")
REPORT = REPO / "build" / "bench" / "remote.md"


def percentile(values, share):
    """The nearest-rank percentile (share 0..1) of values."""
    ordered = sorted(values)
    return ordered[max(0, min(len(ordered) - 1, round(share * len(ordered) + 0.5) - 1))]


def log_time(line):
    match = LOG_STAMP.match(line)
    return time.mktime(time.strptime(match.group(1), "%Y-%m-%d %H:%M:%S")) + \
        int(match.group(2)) / 1000


def frequency_text(kHz):
    """The 16-character display field of an "Fq" for the 40m band, larger step."""
    return "40m %4d.%03d MHz" % (kHz // 1000, kHz % 1000)


class Station:
    """The run: the package, two controller models, ser2net, the launcher, the driver."""

    def __init__(self, run):
        self.run = run
        self.folder = run.new_test_folder("bench-remote")
        self.package = InstalledPackage(run, default_deb(), self.folder)
        self.package.seed_prefix(run.template)
        settings = self.package.settings_path()
        settings.parent.mkdir(parents=True, exist_ok=True)
        settings.write_text("[tovakrem]\r\nDEBUG=1\r\n", encoding="latin-1")
        self.program_log = settings.with_name("tovakrem.log")
        self.remote = Simulator(run.sim, self.folder, "COM1", model={"band": "40m"})
        self.direct = Simulator(run.sim, self.folder, "COM2", model={"band": "40m"})
        self.ser2net = Ser2net(self.folder, self.remote.link)
        self.ser2net.start()
        self.launcher, _, self.ui = self.package.start_program(
            "--port", "COM1=tcp://127.0.0.1:%d" % self.ser2net.port,
            "--port", "COM2=%s" % self.direct.link)
        self.ui.waittext(DISPLAY_PANEL, "40m", SHOW_TIMEOUT_MS)
        self.port = "COM1"

    def use(self, port):
        """Points the program at COM1 (the bridge) or COM2 (the direct pty)."""
        if port == self.port:
            return
        self.ui.command(PORT_MENU_FIRST_ID + int(port[3:]) - 1)
        wait_until(lambda: self.ui.window()["caption"] == CAPTION % port, 10,
                   "the caption [%s]" % port)
        self.port = port
        time.sleep(0.5)  # the status it asked for is read and shown

    def sim(self):
        return self.remote if self.port == "COM1" else self.direct

    def launcher_log(self):
        return (self.package.app / "launcher.log").read_text(errors="replace")

    def close(self):
        try:
            self.ui.close()
            self.launcher.wait(30)
        finally:
            self.package.close()
            self.ser2net.stop()
            self.remote.stop()
            self.direct.stop()


def measure_latency(station, samples, seed):
    """{port: [ms from the write to the panel]}, COM1 and COM2 in alternating blocks.

    The program reads its port in a cycle (a 100 ms timer, then a read of 120 ms), and
    a message waits for the end of the read it arrives in: where in the cycle it lands
    decides most of its latency. So each sample first shows a frequency, which marks
    the end of a read, and writes its own at a moment after that mark drawn once for
    both ports: the two ports get the same moments in the cycle, and differ by what
    their paths add."""
    rng = random.Random(seed)
    plan = [(frequency_text(kHz), rng.uniform(0, CYCLE_S))
            for kHz in rng.sample(range(7000, 7300), samples)]
    latencies = {"COM1": [], "COM2": []}
    for start in range(0, samples, BLOCK):
        for port in ("COM1", "COM2"):
            station.use(port)
            sim = station.sim()
            for text, offset in plan[start:start + BLOCK]:
                marked = show(station, sim, frequency_text(MARK_KHZ[len(latencies[port]) % 2]))
                line = UiDriver.waittext_line(DISPLAY_PANEL, text, SHOW_TIMEOUT_MS)
                armed = time.monotonic()
                station.ui.post(line)
                time.sleep(max(0.0, marked + offset - time.monotonic()))
                before_write = time.monotonic()
                sim.send("Fq" + text + ";")
                answer = station.ui.reply(line, SHOW_TIMEOUT_MS / 1000 + 15)
                latencies[port].append((armed + answer["us"] / 1e6 - before_write) * 1000)
    return latencies


def show(station, sim, text):
    """Writes an "Fq" and returns the time.monotonic() the panel showed it."""
    line = UiDriver.waittext_line(DISPLAY_PANEL, text, SHOW_TIMEOUT_MS)
    armed = time.monotonic()
    station.ui.post(line)
    sim.send("Fq" + text + ";")
    return armed + station.ui.reply(line, SHOW_TIMEOUT_MS / 1000 + 15)["us"] / 1e6


def cpu_percent(pids, seconds, during=None):
    """Percent of one core each of pids used over seconds (or while during() runs)."""
    before = {pid: cpu_seconds(pid) for pid in pids}
    started = time.monotonic()
    if during is None:
        time.sleep(seconds)
    else:
        during()
    wall = time.monotonic() - started
    return {pid: (cpu_seconds(pid) - before[pid]) / wall * 100 for pid in pids}


def read_lines(path):
    data = path.read_bytes()
    return re.findall(rb"\]\[R\](.*?)\r\n", data)


def measure_rate(station, seconds):
    """The launcher's and ser2net's CPU while the station streams at the full line
    rate to the program on COM1; the messages it read against those sent."""
    station.use("COM1")
    sim = station.remote
    time.sleep(1)
    read_before = len(read_lines(station.program_log))
    sent_before = len(sim.sent())
    answers = {}

    def stream():
        answers["stream"] = sim.stream(seconds)

    cpu = cpu_percent([station.launcher.pid, station.ser2net.process.pid], seconds, stream)
    stream_bytes = sim.sent()[sent_before:]
    sent = Counter(stream_bytes.split(b";")[:-1])
    wait_until(lambda: sum(len(body) for body in read_lines(station.program_log)
                           [read_before:]) >= len(stream_bytes), 30, "the stream read")
    read = Counter(b"".join(read_lines(station.program_log)[read_before:]).split(b";")[:-1])
    return {"launcher": cpu[station.launcher.pid], "ser2net": cpu[station.ser2net.process.pid],
            "messages": sum(sent.values()), "lost": sum((sent - read).values()),
            "foreign": sum((read - sent).values())}


def measure_returns(station, rounds, seed):
    """[(s from ser2net's return to the status, s from the bridge's connection to it)]."""
    rng = random.Random(seed)
    station.use("COM1")
    results = []
    bands = ["17m", "40m"]
    for number in range(rounds):
        band = bands[number % 2]
        mark = len(station.launcher_log())
        station.ser2net.kill()
        wait_until(lambda: "is lost" in station.launcher_log()[mark:], 10, "the loss")
        station.remote.model("band", band)
        time.sleep(rng.uniform(*RETURN_PAUSE_S))
        station.ser2net.start()
        returned = time.time()
        answer = station.ui.waittext(DISPLAY_PANEL, band, 20000)
        seen = returned + answer["us"] / 1e6
        wait_until(lambda: "is back after" in station.launcher_log()[mark:], 10, "the return")
        connected = max(log_time(line) for line in station.launcher_log()[mark:].splitlines()
                        if "made from local port" in line and log_time(line) <= seen)
        results.append((seen - returned, seen - connected))
    return results


def measure_line(run, samples):
    """{"direct": [ms], "bridge": [ms]}: from the simulator's write to the bytes at the
    slave of a plain pty, and of a bridge run here to ser2net; no program, no poll."""
    folder = run.new_test_folder("bench-line")
    (folder / "ports").mkdir()  # the simulators' links
    remote = Simulator(run.sim, folder, "COM1", model={})
    direct = Simulator(run.sim, folder, "COM2", model={})
    ser2net = Ser2net(folder, remote.link)
    bridge = None
    ends = []
    try:
        ser2net.start()
        bridge = Bridge(Reporter(folder / "launcher.log", echo=False))
        bridge.add(1, "127.0.0.1", ser2net.port, folder / "bridge" / "com1")
        bridge.start()
        wait_until(lambda: bridge.links[0].state == "up", 10, "the bridge's link")
        time.sleep(0.5)
        figures = {}
        for name, sim, path in (("bridge", remote, folder / "bridge" / "com1"),
                                ("direct", direct, direct.link)):
            end = os.open(path, os.O_RDWR | os.O_NOCTTY)
            ends.append(end)
            while select.select([end], [], [], 0.3)[0]:
                os.read(end, 4096)  # the status the bridge asked for
            spans = []
            for number in range(samples):
                message = b"Fq40m %12d MHz;" % number
                started = time.monotonic()
                sim.send(message)
                got = b""
                while not got.endswith(message):
                    if not select.select([end], [], [], 5)[0]:
                        raise RuntimeError("%r did not arrive through %s" % (message, name))
                    got += os.read(end, 4096)
                spans.append((time.monotonic() - started) * 1000)
            figures[name] = spans
        return figures
    finally:
        for end in ends:
            os.close(end)
        if bridge is not None:
            bridge.stop()
        ser2net.stop()
        remote.stop()
        direct.stop()


def machine_line(run):
    try:
        model = next(line.split(":", 1)[1].strip() for line in
                     Path("/proc/cpuinfo").read_text().splitlines()
                     if line.startswith("model name"))
    except (OSError, StopIteration):
        model = "unknown CPU"
    return ("Machine: %d cores (`nproc`), %s, Linux %s, Wine architecture %s; load average "
            "%.2f" % (os.cpu_count(), model, platform.release(), run.arch.name,
                      os.getloadavg()[0]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--samples", type=int, default=100,
                        help="latency samples on each port (default 100)")
    parser.add_argument("--rest", type=int, default=60, help="seconds at rest (default 60)")
    parser.add_argument("--rate", type=int, default=30,
                        help="seconds of the full line rate (default 30)")
    parser.add_argument("--returns", type=int, default=5,
                        help="times ser2net is killed and started again (default 5)")
    parser.add_argument("--quick", action="store_true",
                        help="a few of each, to check the tooling (figures not meaningful)")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if args.quick:
        args.samples, args.rest, args.rate, args.returns = 20, 5, 5, 2
    started = time.monotonic()
    run = Run(arch=WineArch.choose())
    run.start()
    station = None
    try:
        line = measure_line(run, LINE_SAMPLES if not args.quick else 20)
        print("line latency measured", flush=True)
        station = Station(run)
        latency = measure_latency(station, args.samples, args.seed)
        print("panel latency measured", flush=True)
        station.use("COM1")
        time.sleep(2)
        rest = cpu_percent([station.launcher.pid, station.ser2net.process.pid], args.rest)
        rest = {"launcher": rest[station.launcher.pid],
                "ser2net": rest[station.ser2net.process.pid]}
        print("rest measured", flush=True)
        rate = measure_rate(station, args.rate)
        print("full rate measured", flush=True)
        returns = measure_returns(station, args.returns, args.seed)
    finally:
        if station is not None:
            station.close()
        run.stop()

    bridge, direct = latency["COM1"], latency["COM2"]
    added_p95 = percentile(bridge, 0.95) - percentile(direct, 0.95)
    worst_connection = max(second for _, second in returns)
    rows = [
        ("message to panel, median (%d samples each)" % len(bridge),
         "%.1f ms" % statistics.median(bridge), "%.1f ms" % statistics.median(direct),
         "%+.1f ms" % (statistics.median(bridge) - statistics.median(direct)), "–", "–"),
        ("message to panel, 95th percentile",
         "%.1f ms" % percentile(bridge, 0.95), "%.1f ms" % percentile(direct, 0.95),
         "%+.1f ms" % added_p95, "at most +5 ms",
         "yes" if added_p95 <= GOALS["added_p95_ms"] else "**MISSED**"),
        ("message at the pty, no program (median / 95th, %d samples)" % len(line["bridge"]),
         "%.2f / %.2f ms" % (statistics.median(line["bridge"]), percentile(line["bridge"], 0.95)),
         "%.2f / %.2f ms" % (statistics.median(line["direct"]), percentile(line["direct"], 0.95)),
         "%+.2f ms" % (percentile(line["bridge"], 0.95) - percentile(line["direct"], 0.95)),
         "figure only", "–"),
        ("launcher's CPU at rest, link up, %d s" % args.rest,
         "%.2f %% (ser2net %.2f %%)" % (rest["launcher"], rest["ser2net"]), "–", "–",
         "under 0.5 % of a core",
         "yes" if rest["launcher"] < GOALS["rest_cpu"] else "**MISSED**"),
        ("launcher's CPU at the full line rate, %d s" % args.rate,
         "%.2f %% (ser2net %.2f %%)" % (rate["launcher"], rate["ser2net"]), "–", "–",
         "figure only", "–"),
        ("messages at the full line rate, lost / foreign",
         "%d / %d of %d" % (rate["lost"], rate["foreign"], rate["messages"]), "–", "–",
         "none", "yes" if rate["lost"] == rate["foreign"] == 0 else "**MISSED**"),
        ("ser2net back to status on the panel (%d returns, median / max)" % len(returns),
         "%.2f / %.2f s" % (statistics.median(r for r, _ in returns),
                            max(r for r, _ in returns)), "–", "–", "figure only", "–"),
        ("bridge's connection to status on the panel (median / max)",
         "%.2f / %.2f s" % (statistics.median(c for _, c in returns), worst_connection),
         "–", "–", "at most 2 s",
         "yes" if worst_connection <= GOALS["connection_to_status_s"] else "**MISSED**"),
    ]
    header = ("| figure | through the bridge (COM1) | direct pty (COM2) | added | goal | met |\n"
              "|---|---|---|---|---|---|\n")
    table = header + "".join("| %s |\n" % " | ".join(row) for row in rows)
    text = "%s\n%s; %.1f minutes; command: tools/bench_remote.sh%s\n" % (
        table, machine_line(run), (time.monotonic() - started) / 60,
        " " + " ".join(sys.argv[1:]) if sys.argv[1:] else "")
    print(text, flush=True)
    REPORT.parent.mkdir(parents=True, exist_ok=True)
    REPORT.write_text(text)
    missed = "**MISSED**" in table
    return 1 if missed and not args.quick else 0


if __name__ == "__main__":
    sys.exit(main())
