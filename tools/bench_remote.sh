#!/usr/bin/env bash
# Measures the launcher's bridge to a remote station beside a directly mapped pty:
# installs what is missing (ser2net among it), builds the simulator, the Windows
# build this machine runs and the package, then runs tools/bench_remote.py (arguments
# passed on) and prints its table. About 6 minutes, --quick about 2; not part of
# tools/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/build_package.sh
python3 tools/bench_remote.py "$@"
