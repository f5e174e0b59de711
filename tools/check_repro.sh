#!/usr/bin/env bash
# Checks that the release in build/dist builds again from its source archive alone,
# in another folder, byte for byte, and that a strict umask changes only the modes in
# the Debian package's outer ar headers. Needs the release built (build/dist) and the
# 64-bit program (build/win64/tovakrem.exe), which the Debian package takes.
set -euo pipefail
cd "$(dirname "$0")/.."

deb=$(sed -n 's/^[0-9a-f]*  \(.*\.deb\)$/\1/p' build/dist/SHA256SUMS)
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
