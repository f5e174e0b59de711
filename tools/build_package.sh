#!/usr/bin/env bash
# What the benchmarks of the Debian package run against: installs what is missing,
# builds the simulator, both Windows builds and the package.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target tovaksim
for preset in win32 win64 deb; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
cmake --build --preset deb --target package >/dev/null
