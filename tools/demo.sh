#!/usr/bin/env bash
# Runs the program: installs what is missing, builds the Windows program and
# the controller simulator, and starts the program under Wine with COM1 wired
# to the simulator. Without a DISPLAY it saves a screenshot and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target tovaksim
cmake --preset win32 >/dev/null
cmake --build --preset win32
exec python3 tools/demo.py
