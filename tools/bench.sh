#!/usr/bin/env bash
# Measures the receive path: installs what is missing, builds the simulator, the
# native benchmark and the Windows program, then prints the latency from the
# controller to the panel and the stream figures under Wine (tools/bench_e2e.py,
# arguments passed on) and the native time of one full read (Google Benchmark).
# Takes about three minutes; not part of tools/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh libbenchmark-dev

cmake --preset native >/dev/null
cmake --build --preset native --target tovaksim monitor_bench
arch=$(python3 e2e/run_e2e.py --print-arch)
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch"

echo "== under Wine ($arch) with the controller simulator"
python3 tools/bench_e2e.py "$@"

echo
echo "== natively: splitting and interpreting one full 4095-byte read (goal under 50 us)"
build/native/monitor_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    2>/dev/null | grep -E '^(Benchmark|SplitAndInterpret)'
