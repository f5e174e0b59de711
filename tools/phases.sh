# The phases of a long command (sourced by tools/test.sh): each says when it starts
# and how long it took when it ends; a phase may run in the background, its output
# kept in a log that is shown when it is awaited; at the end a table gives every
# phase's start, end and length from the command's start.
#
#   Phase NAME COMMAND...        runs COMMAND now; stops the command on failure
#   Background NAME COMMAND...   starts COMMAND in the background, output to its log
#   Await NAME                   waits for it, shows its log; stops the command on failure
#   PhaseTable                   the table (also run when the command ends early)

PHASE_LOGS=${PHASE_LOGS:-build/phases}
PHASE_ORIGIN=$(date +%s%3N) # milliseconds
PHASE_ROWS=$PHASE_LOGS/phases.txt # one row a phase, also from phases in the background
mkdir -p "$PHASE_LOGS"
: >"$PHASE_ROWS"
declare -A PHASE_PID=() PHASE_BEGIN=()

PhaseClock() { # milliseconds since the command started
    echo $(($(date +%s%3N) - PHASE_ORIGIN))
}

Seconds() { # milliseconds as seconds, rounded
    echo $((($1 + 500) / 1000))
}

PhaseLog() { # NAME: the file its output goes to, without the extension
    echo "$PHASE_LOGS/${1//[^A-Za-z0-9]/_}"
}

PhaseDone() { # NAME BEGIN STATUS [END]
    local end=${4:-$(PhaseClock)} failed=""
    [[ $3 -eq 0 ]] || failed=", FAILED (exit $3)"
    printf '%d\t%-58s %6d %6d %6d s%s\n' "$2" "$1" "$(Seconds "$2")" "$(Seconds "$end")" \
        "$(Seconds $((end - $2)))" "$failed" >>"$PHASE_ROWS"
    printf -- '-- %s: %d s%s\n' "$1" "$(Seconds $((end - $2)))" "$failed"
}

# Phase and BackgroundJob run COMMAND in a subshell with -e in force and take its
# status without `||` or `if`: in such a context bash ignores -e in everything the
# command runs, and a function would go on past a failed build.
Phase() {
    local name=$1 begin status
    shift
    begin=$(PhaseClock)
    echo "== $name"
    set +e
    (
        set -e
        "$@"
    )
    status=$?
    set -e
    PhaseDone "$name" "$begin" "$status"
    [[ $status -eq 0 ]] || exit "$status"
}

Background() {
    local name=$1
    shift
    echo "== $name (in the background)"
    PHASE_BEGIN[$name]=$(PhaseClock)
    # Started with job control, so in a process group of its own: ending the group ends
    # whatever the job started.
    set -m
    BackgroundJob "$name" "$@" >"$(PhaseLog "$name").log" 2>&1 &
    PHASE_PID[$name]=$!
    set +m
}

BackgroundJob() { # NAME COMMAND...: runs it, noting when it ended
    local name=$1 status
    shift
    set +e
    (
        set -e
        "$@"
    )
    status=$?
    set -e
    PhaseClock >"$(PhaseLog "$name").end"
    return "$status"
}

Await() {
    local name=$1 status=0
    wait "${PHASE_PID[$name]}" || status=$?
    unset "PHASE_PID[$name]"
    echo "== $name (from the background)"
    cat "$(PhaseLog "$name").log"
    PhaseDone "$name" "${PHASE_BEGIN[$name]}" "$status" "$(cat "$(PhaseLog "$name").end")"
    [[ $status -eq 0 ]] || exit "$status"
}

PhaseTable() {
    printf '\n%-58s %6s %6s %6s\n' "phase" "from" "to" "took"
    sort -n -k1,1 -t$'\t' "$PHASE_ROWS" | cut -f2-
    printf '%-58s %6s %6d s\n' "the whole command" "" "$(Seconds "$(PhaseClock)")"
}

# On any end: what still runs in the background is ended (by its PID: only our own
# jobs), and the table of what ran is shown.
PhaseExit() {
    local status=$?
    local pid
    for pid in "${PHASE_PID[@]}"; do
        kill -TERM -- "-$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    PhaseTable
    exit "$status"
}
trap PhaseExit EXIT
