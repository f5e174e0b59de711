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
# The release built again from its source archive alone, in another folder: no .git and
# no SOURCE_DATE_EPOCH, so its times come from the archive's files. It gives the same
# bytes (the package takes this machine's 64-bit build, which the zip does not hold).
repro=build/repro
rm -rf "$repro"
mkdir -p "$repro"
tar -xzf "build/dist/$(sed -n 's/^[0-9a-f]*  \(.*-src\.tar\.gz\)$/\1/p' build/dist/SHA256SUMS)" \
    -C "$repro"
source_tree=$(echo "$repro"/TovakRemote-*)
(
    cd "$source_tree"
    unset SOURCE_DATE_EPOCH
    # Git must not find the checkout around the unpacked tree.
    export GIT_CEILING_DIRECTORIES="$OLDPWD/$repro"
    win64_program="$OLDPWD/build/win64/tovakrem.exe"
    cmake --preset win32 >/dev/null
    cmake --build --preset win32 --target package >/dev/null
    cmake --preset deb -DTOVAK_WIN64_PROGRAM="$win64_program" >/dev/null
    cmake --build --preset deb --target package >/dev/null
    # A strict umask changes only the modes in the package's outer ar headers.
    umask 077
    cmake --preset deb -B build/deb-umask -DTOVAK_WIN64_PROGRAM="$win64_program" \
        -DTOVAK_DIST_DIR="$PWD/build/dist-umask" >/dev/null
    cmake --build build/deb-umask --target package >/dev/null
)
downloads=($(cut -d ' ' -f 3 "$source_tree/build/dist/SHA256SUMS"))
for name in "${downloads[@]}"; do
    cmp "build/dist/$name" "$source_tree/build/dist/$name"
done
echo "rebuilt from the source archive alone, byte for byte the same: ${downloads[*]}"
for part in --ctrl-tarfile --fsys-tarfile; do
    cmp <(dpkg-deb "$part" "build/dist/$deb") <(dpkg-deb "$part" "$source_tree/build/dist-umask/$deb")
done
echo "$deb built with umask 077: the same control and files"

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
