#!/usr/bin/env bash
# The README's test command: installs what it needs, builds the library, the tool
# and the tests, and runs every test suite. Further checks (sanitizers, fuzzing,
# Windows builds, Python) run when their scripts are present.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${OLMTSFIL_BUILD_DIR:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh build tools

echo "== build and test ($build)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOLMTSFIL_BUILD_TESTS=ON -DOLMTSFIL_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

for check in includes packaging sanitizers windows python fuzz; do
  script="$root/scripts/check-$check.sh"
  if [ -x "$script" ]; then
    echo "== $check"
    "$script"
  fi
done
echo "== all checks passed"
