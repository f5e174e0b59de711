#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need (and any
# named as arguments), once.
#
#   tools/install-deps.sh [PACKAGE ...]         everything, and the packages named
#   tools/install-deps.sh --base                only what the native build and its unit
#                                               tests need (there on a new machine as a
#                                               rule), so the rest can install meanwhile
#
# Safe to run again: it does nothing when everything is already there.
set -euo pipefail

base=(cmake g++ make libgtest-dev clang-format python3 git)
packages=(
    "${base[@]}"
    clang libclang-rt-14-dev
    clang-tidy cppcheck
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 nsis
    wine wine32:i386 wine64
    xvfb xauth imagemagick fonts-dejavu-core fonts-inconsolata
    e2fsprogs iproute2
    lintian appstream desktop-file-utils
    ser2net
)
if [[ "${1:-}" == --base ]]; then
    packages=("${base[@]}")
else
    # Extra packages a command needs beyond these (tools/bench.sh: Google Benchmark).
    packages+=("$@")
fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$package")
    fi
done
if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
