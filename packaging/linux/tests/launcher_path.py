"""Makes the launcher's package (packaging/linux/tovak_remote) importable by the tests."""

import sys
from pathlib import Path

LINUX = Path(__file__).resolve().parent.parent
if str(LINUX) not in sys.path:
    sys.path.insert(0, str(LINUX))
