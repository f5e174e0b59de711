#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the native configurations
# and the Windows program, runs the unit tests (plain and with sanitizers) and
# the end-to-end tests under Wine. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

for preset in native native-asan; do
    echo "== unit tests ($preset)"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

echo "== fuzzing (number routines, message splitter)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for fuzzer in number_fuzz receive_fuzz; do
    # A fixed seed and run count: the same inputs on every run.
    (cd build/fuzz && ./$fuzzer -seed=1 -runs=200000 -print_final_stats=0 2>&1 | tail -n 1)
done

echo "== Windows program"
cmake --preset win32 >/dev/null
cmake --build --preset win32
imports=$(i686-w64-mingw32-objdump -p build/win32/tovakrem.exe | sed -n 's/^\s*DLL Name: //p' | sort -f)
echo "tovakrem.exe imports: $(echo $imports)"
for dll in $imports; do
    case "${dll,,}" in
        kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll) ;;
        *) echo "unexpected import $dll" >&2; exit 1 ;;
    esac
done

echo "== end-to-end tests (Wine)"
python3 e2e/run_e2e.py "$@"
