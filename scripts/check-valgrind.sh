#!/usr/bin/env bash
# Runs the whole test suite under valgrind's memcheck; any error or definite leak
# fails it. Uses a plain (unsanitized) Debug build in build-valgrind/.
# Not part of scripts/test.sh: it takes several minutes, and the sanitizer build
# already catches the same faults there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${VALGRIND_BUILD_DIR:-$root/build-valgrind}
jobs=${VALGRIND_JOBS:-2}

scripts/install-deps.sh build valgrind
cmake --preset valgrind -B "$build" >/dev/null
cmake --build "$build" -j "$jobs"
vg=(valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite --track-origins=yes --quiet)
echo "== valgrind: unit and interface tests"
"${vg[@]}" "$build/tests/olmtsfil_tests" --gtest_brief=1
"${vg[@]}" "$build/tests/olmtsfil_c_header_test"
echo "== valgrind: fuzz seed replays"
"$build/fuzz/olmtsfil_make_seeds" "$build/fuzz/seeds" >/dev/null
for replay in "$build"/fuzz/fuzz_*_replay; do
  target=$(basename "$replay" _replay)
  "${vg[@]}" "$replay" "$build/fuzz/seeds/${target#fuzz_}"
done
echo "== valgrind: clean"
