#!/usr/bin/env bash
# Builds the library and the whole test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer (any compiler; CXX picks it) and runs every test,
# the command-line tool and the replay of the fuzz seeds included. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${SANITIZE_BUILD_DIR:-$root/build-asan}
jobs=${SANITIZE_JOBS:-2}

scripts/install-deps.sh build tools
cmake --preset sanitizers -B "$build" >/dev/null
cmake --build "$build" -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$jobs"
