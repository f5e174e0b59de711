#!/usr/bin/env bash
# Measures the program beside its baseline (bench/baseline, the least program the
# monitor's design allows) and prints one table of both, with each figure's goal and
# whether it is met: start time, CPU at rest, at the full line rate and with the line
# gone, latency to the panel, messages lost, resident memory over a 10-minute soak,
# executable size, and the native time of the receive path. Installs what is missing
# and builds what it needs first. About 18 minutes; --quick runs every phase short to
# check the tooling (about 3 minutes). The table is also written to build/bench/report.md.
# Exits 1 when a goal is missed. Not part of tools/test.sh.
#
#     tools/bench.sh [--quick] [--seed N] [--report FILE]
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=5
for arg in "$@"; do
    if [[ "$arg" == --quick ]]; then
        repetitions=3
    fi
done

tools/install-deps.sh libbenchmark-dev

cmake --preset native >/dev/null
cmake --build --preset native --target tovaksim monitor_bench
# The shipped 32-bit build's size is in the table whichever build runs here.
arch=$(python3 e2e/run_e2e.py --print-arch)
for preset in $(printf '%s\n' win32 "$arch" | sort -u); do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

mkdir -p build/bench
echo "== natively: the receive path (Google Benchmark, median of $repetitions)"
build/native/monitor_bench --benchmark_repetitions="$repetitions" \
    --benchmark_report_aggregates_only=true --benchmark_out=build/bench/native.json \
    --benchmark_out_format=json 2>/dev/null | grep -E '_median'

echo "== under Wine ($arch) with the controller simulator, the program beside its baseline"
python3 tools/bench_e2e.py --native build/bench/native.json "$@"
