#!/usr/bin/env bash
# Runs the libFuzzer targets (fuzz/), each from its committed seed corpus
# (fuzz/corpus/<target>/, which is only ever read).
#
#   tools/fuzz.sh MINUTES [-j 2]  every target for MINUTES minutes, one after
#                                 another (two at a time with -j 2), growing
#                                 build/fuzz-corpus/<target>/
#   tools/fuzz.sh --test          the test command's short runs: a fixed seed and
#                                 input count (the same inputs every run, however
#                                 busy the machine), nothing kept
#
# Inputs that crash or break an invariant are saved under
# build/fuzz-crashes/<target>/, the fuzzers' output under build/fuzz-logs/.
# Prints one line a target: inputs run, inputs a second, coverage and the
# outcome. Exits non-zero if any target found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: tools/fuzz.sh MINUTES [-j 2] | tools/fuzz.sh --test" >&2
    exit 2
}

# target:dictionary:longest input:inputs of the test command's run. The
# receive paths take inputs long enough to outgrow the kept rest's bound; they
# run whole poll ticks, so they get fewer inputs for the time.
targets=(
    number_fuzz:number.dict:4096:2000000
    settings_fuzz:number.dict:4096:50000
    receive_fuzz:protocol.dict:8192:14000
    adjust_fuzz:protocol.dict:8192:10000
)

test_time_guard=600 # s a target of the test command's run may take at most
minutes=""
parallel=1
test_run=0
while [[ $# -gt 0 ]]; do
    case "$1" in
        --test) test_run=1 ;;
        -j) shift; [[ $# -gt 0 ]] || usage; parallel="$1" ;;
        -j*) parallel="${1#-j}" ;;
        *) minutes="$1" ;;
    esac
    shift
done
if [[ $test_run -eq 0 && ! "$minutes" =~ ^[1-9][0-9]*$ ]] || [[ ! "$parallel" =~ ^[1-9]$ ]]; then
    usage
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

logs=build/fuzz-logs
mkdir -p "$logs"

# The same inputs on every test run also need the same addresses: the fuzzers
# learn from compared values, some of them pointers. Without address-space
# randomisation where the machine allows it.
launcher=()
if [[ $test_run -eq 1 ]] && setarch "$(uname -m)" -R true 2>/dev/null; then
    launcher=(setarch "$(uname -m)" -R)
fi

# One target's run; its log and exit code go to build/fuzz-logs/.
run_target() {
    local name=$1 dict=$2 max_len=$3 runs=$4
    local corpus crashes=build/fuzz-crashes/$name
    local options=(-dict="fuzz/$dict" -max_len="$max_len" -timeout=10 -print_final_stats=1
        -artifact_prefix="$crashes/")
    if [[ $test_run -eq 1 ]]; then
        # A fresh, throw-away output corpus, never read again while running.
        corpus=build/fuzz-test/$name
        rm -rf "$corpus"
        # The time limit only guards against a fuzzer that never ends: the input
        # count decides, so a busy machine runs the same inputs, only slower.
        options+=(-seed=1 -runs="$runs" -max_total_time=$test_time_guard -reload=0)
    else
        corpus=build/fuzz-corpus/$name
        options+=(-max_total_time=$((minutes * 60)))
    fi
    mkdir -p "$corpus" "$crashes"
    local status=0
    "${launcher[@]}" "build/fuzz/$name" "${options[@]}" "$corpus" "fuzz/corpus/$name" \
        >"$logs/$name.log" 2>&1 || status=$?
    echo "$status" >"$logs/$name.rc"
}

# Inputs, their rate, the last coverage report and the outcome, from the log.
summarise() {
    local name=$1 log=$logs/$1.log status
    status=$(cat "$logs/$name.rc")
    local inputs rate coverage crash
    inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*' "$log" | tail -n 1)
    crash=$(sed -n 's/.*Test unit written to //p' "$log" | tail -n 1)
    local outcome="no fault"
    if [[ "$status" != 0 ]]; then
        outcome="FAULT (exit $status)${crash:+, input saved as $crash}; see $log"
    fi
    printf '%-14s %9s inputs %7s/s  %s  %s\n' "$name" "${inputs:-?}" "${rate:-?}" \
        "${coverage:-no coverage report}" "$outcome"
    [[ "$status" == 0 ]]
}

for entry in "${targets[@]}"; do
    while [[ $(jobs -rp | wc -l) -ge $parallel ]]; do
        wait -n || true
    done
    IFS=: read -r name dict max_len runs <<<"$entry"
    run_target "$name" "$dict" "$max_len" "$runs" &
done
wait

failed=0
for entry in "${targets[@]}"; do
    summarise "${entry%%:*}" || failed=1
done
exit "$failed"
