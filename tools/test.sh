#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the native configurations
# and the Windows program, runs the unit tests (plain and with sanitizers), makes
# and checks the downloads (and that a rebuild from the source archive gives the
# same bytes) and runs the end-to-end tests under Wine, the installer's and the
# Debian package's among them. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== static analysis (clang-tidy, cppcheck)"
tools/lint.sh

for preset in native native-asan; do
    echo "== unit tests ($preset)"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

echo "== fuzzing (number routines, settings, the main and the Adjust window's receive paths)"
# A fixed seed and input count from the committed seed corpus, at most 20 s a
# target; the corpus is only read.
tools/fuzz.sh --test

echo "== Windows program (32-bit, shipped) and its 64-bit build"
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
imports=$(i686-w64-mingw32-objdump -p build/win32/tovakrem.exe | sed -n 's/^\s*DLL Name: //p' | sort -f)
echo "tovakrem.exe imports: $(echo $imports)"
for dll in $imports; do
    case "${dll,,}" in
        kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll) ;;
        *) echo "unexpected import $dll" >&2; exit 1 ;;
    esac
done

echo "== downloads (zip, installer, source archive, Debian package, SHA256SUMS in build/dist) and the 64-bit test installer"
cmake --build --preset win32 --target package
cmake --build --preset win64 --target package
cmake --preset deb >/dev/null
cmake --build --preset deb --target package
python3 tools/check_package.py
deb=$(sed -n 's/^[0-9a-f]*  \(.*\.deb\)$/\1/p' build/dist/SHA256SUMS)
echo "lintian $deb (errors and warnings fail):"
lintian --fail-on error,warning --display-info --pedantic "build/dist/$deb"
# The release built again from its source archive alone: in other folders, by another
# account and under umask 077, each giving the release's SHA256SUMS byte for byte.
tools/check_repro.sh

# The whole suite on the architecture this machine runs (TOVAK_WINE_ARCH forces
# one); where that is the 32-bit build, a short run keeps the 64-bit path honest.
# The install test installs the installer of that architecture; here it must be there.
export TOVAK_E2E_REQUIRE_INSTALLER=1
arch=$(python3 e2e/run_e2e.py --print-arch)
echo "== end-to-end tests (Wine, $arch)"
python3 e2e/run_e2e.py --arch "$arch" "$@"
if [[ "$arch" == win32 && $# -eq 0 ]]; then
    echo "== end-to-end subset on the 64-bit build (Wine, win64)"
    python3 e2e/run_e2e.py --arch win64 -k test_main_window \
        -k test_every_key_and_menu_item_sends_its_exact_code -k test_install \
        -k test_linux_package
fi
echo "end-to-end tests ran on $arch"
