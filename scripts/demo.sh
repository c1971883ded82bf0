#!/usr/bin/env bash
# The README's main-job command: installs what it needs, builds the library and
# the olmts tool, and runs `olmts demo`, which writes the sample recording and
# recovers its known tones in physical units through the library.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${OLMTSFIL_BUILD_DIR:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh build tools

echo "== build ($build)"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target olmts

echo "== olmts demo"
"$build/tools/olmts" demo "$build/olmts-demo"
