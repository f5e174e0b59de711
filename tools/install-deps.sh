#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need (and any
# named as arguments), once.
# Safe to run again: it does nothing when everything is already there.
set -euo pipefail

packages=(
    cmake g++ make libgtest-dev clang-format
    clang libclang-rt-14-dev
    clang-tidy cppcheck
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 nsis git
    wine wine32:i386 wine64
    xvfb xauth imagemagick fonts-dejavu-core fonts-inconsolata
    python3 e2fsprogs iproute2
    lintian appstream desktop-file-utils
    ser2net
)
# Extra packages a command needs beyond these (tools/bench.sh: Google Benchmark).
packages+=("$@")

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
