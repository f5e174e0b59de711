#!/usr/bin/env bash
# Runs the program: installs what is missing, builds the Windows program and
# the controller simulator, and starts the program under Wine with COM1 wired
# to the simulator's controller model (or, with --port /dev/ttyUSB0, to a real
# serial device; with --replay tovakrem.log, to the simulator playing back that
# debug log's reads). Without a DISPLAY it saves a screenshot and prints its path.
# Where this machine cannot run 32-bit programs, the 64-bit build runs in a
# 64-bit Wine (TOVAK_WINE_ARCH=win32|win64 forces either).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target tovaksim
arch=$(python3 e2e/run_e2e.py --print-arch)
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch"
exec python3 tools/demo.py "$@"
