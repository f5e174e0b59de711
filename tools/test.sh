#!/usr/bin/env bash
# Runs every test: installs what is missing, checks the format, runs the Linux
# launcher's unit tests, builds the native configurations and runs the unit tests
# (plain and with sanitizers), builds the Windows program (32-bit, shipped, and its
# 64-bit build), makes and checks the downloads, runs the end-to-end tests under Wine
# (the installer's, the Debian package's and the remote station's among them), and
# beside them static analysis, fuzzing, lintian and the rebuild of the downloads from
# their source archive. Exits non-zero on any failure.
#
#   tools/test.sh [-k PATTERN ...]   with -k, only the end-to-end tests named
#
# Prints each phase's time at its end and a table of every phase at the end. What
# needs only the machine's own tools (the native builds) runs while the rest
# installs; the checks that need no Wine run while the end-to-end tests, which
# mostly wait for the program, take their turns.
set -euo pipefail
cd "$(dirname "$0")/.."

PHASE_LOGS=build/phases
rm -rf "$PHASE_LOGS"
source tools/phases.sh

UnitTests() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
    ctest --preset "$1" -j 2
}

WindowsPrograms() {
    local preset dll imports
    for preset in win32 win64; do
        cmake --preset "$preset" >/dev/null
        cmake --build --preset "$preset"
    done
    imports=$(i686-w64-mingw32-objdump -p build/win32/tovakrem.exe | sed -n 's/^\s*DLL Name: //p' |
        sort -f)
    echo "tovakrem.exe imports: $(echo $imports)"
    for dll in $imports; do
        case "${dll,,}" in
            kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll) ;;
            *) echo "unexpected import $dll" >&2; return 1 ;;
        esac
    done
}

Downloads() {
    cmake --build --preset win32 --target package
    cmake --build --preset win64 --target package
    cmake --preset deb >/dev/null
    cmake --build --preset deb --target package
    python3 tools/check_package.py
}

Lintian() {
    local deb
    deb=$(sed -n 's/^[0-9a-f]*  \(.*\.deb\)$/\1/p' build/dist/SHA256SUMS)
    echo "lintian $deb (errors and warnings fail):"
    lintian --fail-on error,warning --display-info --pedantic "build/dist/$deb"
}

# The checks that need no Wine run in the background at the lowest priority: they
# take only the time the builds and the end-to-end tests leave, so the program's
# timings under test stay those of a quiet machine. Fuzzing starts once its
# packages are in; static analysis, which configures the Windows build's tree for
# its compile commands, and the downloads' checks once the downloads are made.
Lowest() {
    renice -n 19 -p "$BASHPID" >/dev/null
    "$@"
}

DownloadsChecked() {
    Phase "lintian" Lintian
    Phase "downloads rebuilt from their source archive" tools/check_repro.sh
}

# Templates for the end-to-end runs, booted while the Windows programs build.
templates=build/e2e-templates
BootTemplates() {
    local arch
    for arch in "$@"; do
        mkdir -p "$templates/$arch"
        python3 e2e/run_e2e.py --arch "$arch" --boot-template "$templates/$arch" \
            >"$templates/$arch.path"
        echo "$arch: $(cat "$templates/$arch.path")"
    done
}

Phase "packages the native build needs" tools/install-deps.sh --base
Background "packages (MinGW-w64, Wine, Xvfb, analysers, lintian)" tools/install-deps.sh
Phase "format" bash -c "git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror"
Phase "launcher unit tests (the bridge to a remote station against a fake server)" \
    python3 -m unittest discover -s packaging/linux/tests
Phase "unit tests (native)" UnitTests native
Phase "unit tests (native-asan)" UnitTests native-asan
Await "packages (MinGW-w64, Wine, Xvfb, analysers, lintian)"
# A fixed seed and input count from the committed seed corpus, two targets at a
# time; the corpus is only read.
fuzzing="fuzzing (number routines, settings, the main and the Adjust window's receive paths)"
Background "$fuzzing" Lowest tools/fuzz.sh --test -j 2

# The whole suite on the architecture this machine runs (TOVAK_WINE_ARCH forces
# one); where that is the 32-bit build, a short run beside it keeps the 64-bit path
# honest. The install test installs the installer of that architecture; here it
# must be there.
export TOVAK_E2E_REQUIRE_INSTALLER=1
arch=$(python3 e2e/run_e2e.py --print-arch)
subset=()
if [[ "$arch" == win32 && $# -eq 0 ]]; then
    subset=(-k test_main_window -k test_every_key_and_menu_item_sends_its_exact_code
        -k test_install -k test_linux_package)
fi
rm -rf "$templates"
Background "template prefixes" BootTemplates "$arch" ${subset[@]:+win64}
Phase "Windows programs (32-bit, shipped, and its 64-bit build)" WindowsPrograms
Phase "downloads (zip, installer, source archive, Debian package, SHA256SUMS in build/dist)" \
    Downloads
Await "template prefixes"

lint="static analysis (clang-tidy, cppcheck)"
checked="downloads checked (lintian, rebuilt from their source archive)"
Background "$lint" Lowest tools/lint.sh
Background "$checked" Lowest DownloadsChecked
Phase "end-to-end tests (Wine, $arch)" \
    python3 e2e/run_e2e.py --arch "$arch" --template "$(cat "$templates/$arch.path")" "$@"
# After the whole suite, not beside it: its tests that bound the program's timing
# run with no other test beside them.
if [[ ${#subset[@]} -gt 0 ]]; then
    Phase "end-to-end subset on the 64-bit build (Wine, win64)" \
        python3 e2e/run_e2e.py --arch win64 --template "$(cat "$templates/win64.path")" \
        "${subset[@]}"
fi
Await "$lint"
Await "$checked"
Await "$fuzzing"
rm -rf "$templates"
echo "end-to-end tests ran on $arch"
