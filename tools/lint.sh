#!/usr/bin/env bash
# Static analysis: clang-tidy (checks in .clang-tidy) and cppcheck over the
# portable core, the Win32 side and the UI driver through the MinGW headers (the
# shipped 32-bit build and the 64-bit one) and the controller simulator; cppcheck
# also reads the unit tests. Exits non-zero on any finding. Suppressions live in
# the code beside what they excuse, each with its reason:
# `// NOLINT(check): why` and `// cppcheck-suppress id ; why`.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in clang-tidy cppcheck; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is missing: tools/install-deps.sh installs it" >&2
        exit 1
    fi
done

jobs=2
out=build/lint
rm -rf "$out"
mkdir -p "$out"

# Configuring is enough: it writes the compile commands (and the Windows build's
# generated version header) without building anything.
cmake --preset native >/dev/null
cmake --preset win32 >/dev/null
# The benchmark compiles the core a second time: each file is read once, as the
# core library (or its own program) compiles it.
mkdir -p "$out/native"
python3 - build/native/compile_commands.json "$out/native/compile_commands.json" <<'EOF'
import json
import sys

with open(sys.argv[1]) as source:
    commands = json.load(source)
commands.sort(key=lambda command: "/monitor_bench.dir/" in command["command"])
seen = set()
kept = []
for command in commands:
    if command["file"] not in seen:
        seen.add(command["file"])
        kept.append(command)
with open(sys.argv[2], "w") as target:
    json.dump(kept, target, indent=1)
EOF

core=$(git ls-files 'src/*.cpp' ':!:src/*/win32/*')
simulator=$(git ls-files 'tools/simulator/*.cpp' ':!:tools/simulator/*_test.cpp')
win32=$(git ls-files 'src/*/win32/*.cpp' 'e2e/driver/*.cpp')

# clang reads the Win32 side as the MinGW compiler does: its target, and the
# C++ library from that GCC's own include folders.
MingwArgs() {
    local triple=$1
    echo "--extra-arg=--target=$triple"
    "$triple-g++" -E -x c++ - -v </dev/null 2>&1 | sed -n '/#include <...>/,/End of/p' |
        sed -n 's|^ \(/.*/c++.*\)$|--extra-arg=-isystem\1|p'
}
# The builds' -Wconversion is GCC's, without sign changes; clang's takes them in.
# Reserved names come from the compiler's warning (see .clang-tidy).
common="--extra-arg=-Wno-sign-conversion --extra-arg=-Wreserved-identifier"
export TIDY_ARGS_native=$common
TIDY_ARGS_i686="$common $(MingwArgs i686-w64-mingw32 | tr '\n' ' ')"
TIDY_ARGS_x86_64="$common $(MingwArgs x86_64-w64-mingw32 | tr '\n' ' ')"
export TIDY_ARGS_i686 TIDY_ARGS_x86_64

# One clang-tidy per file and build, all in one queue so both cores stay busy;
# each report is kept in build/lint/tidy/ and the findings are listed once.
TidyFile() {
    local label=$1 file=$2 database=build/lint/native args=TIDY_ARGS_$1
    [[ "$label" == native ]] || database=build/win32
    # shellcheck disable=SC2086 # the arguments are words without blanks
    clang-tidy --quiet -p "$database" ${!args} "$file" \
        >"build/lint/tidy/$label-${file//\//_}.txt" 2>&1
}
export -f TidyFile
mkdir -p "$out/tidy"
echo "clang-tidy: $(echo $core $simulator | wc -w) files natively; the core again and" \
    "$(echo $win32 | wc -w) Win32 files as the shipped i686 build, the Win32 files as x86_64"
tidy=0
{
    for file in $win32; do printf 'i686 %s\nx86_64 %s\n' "$file" "$file"; done
    for file in $core; do printf 'native %s\ni686 %s\n' "$file" "$file"; done
    for file in $simulator; do printf 'native %s\n' "$file"; done
} | xargs -P "$jobs" -L 1 bash -c 'TidyFile "$@"' _ || tidy=1
findings=$(cat "$out"/tidy/*.txt | sed -n "s|^$PWD/||; /^[^ ]*:[0-9]*:[0-9]*: \(warning\|error\): /p" |
    sort -u)
if [[ -n "$findings" ]]; then
    echo "$findings"
    tidy=1
elif [[ $tidy -ne 0 ]]; then
    cat "$out"/tidy/*.txt # a failure without a finding: show everything
fi

# cppcheck reads each build's compile commands; the Windows headers come from
# its own description of the Win32 API rather than from MinGW.
# useStlAlgorithm is off: it asks for std::find_if in place of the plain loops
# over the program's tables, a matter of taste that finds no fault.
echo "cppcheck: the native build (core, tests, simulator), the Windows build (win32A, win64)"
Cppcheck() {
    cppcheck --enable=warning,performance,portability,style --suppress=useStlAlgorithm \
        --inline-suppr --error-exitcode=1 -q -j "$jobs" --std=c++17 \
        --template='{file}:{line}:{column}: {severity}: {message} [{id}]' "$@" 2>&1 |
        sed "s|^$PWD/||"
    return "${PIPESTATUS[0]}"
}
cppcheck=0
Cppcheck --project="$out/native/compile_commands.json" --library=posix --library=googletest ||
    cppcheck=1
for platform in win32A win64; do
    Cppcheck --project=build/win32/compile_commands.json --library=windows --platform=$platform ||
        cppcheck=1
done

if [[ $tidy -ne 0 || $cppcheck -ne 0 ]]; then
    echo "static analysis: findings above (clang-tidy reports in $out/tidy/)" >&2
    exit 1
fi
echo "static analysis: nothing found"
