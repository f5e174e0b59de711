#!/usr/bin/env bash
# Measures the Debian package's launcher: installs what is missing, builds the
# simulator, both Windows builds and the package, then prints the first and the
# later start times on each architecture this machine runs (tools/bench_launcher.py,
# arguments passed on). About a minute; not part of tools/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/build_package.sh
python3 tools/bench_launcher.py "$@"
