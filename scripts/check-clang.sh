#!/usr/bin/env bash
# The library, the tool, the tests and the benchmarks built with clang 14 on Linux
# (clang preset, build-clang/), and the test suite run: the second compiler the
# code must keep building with.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${CLANG_BUILD_DIR:-$root/build-clang}
jobs=${OLMTSFIL_JOBS:-2}

scripts/install-deps.sh build tools clang
cmake --preset clang -B "$build" >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" -j "$jobs" --output-on-failure >"$build/ctest.log" 2>&1 ||
  { tail -40 "$build/ctest.log"; echo "clang check: tests built with clang 14 failed" >&2; exit 1; }
tail -3 "$build/ctest.log"
