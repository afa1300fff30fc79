#!/usr/bin/env bash
# Set up, build, and run the demo: the whole mission against the built-in
# modem simulator, with a private settings store (nothing on the machine is
# touched).  Extra arguments go to `tarvex demo` (e.g. --keep).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target tarvex tarvex-modemsim
exec build/linux/tools/tarvex demo "$@"
