#!/usr/bin/env bash
# The README's test command: installs what it needs, builds the library, the tool,
# the tests and the benchmarks (release preset, build/), runs every test suite,
# then every check below. A listed check whose script is missing fails the run:
# a check that goes missing must not pass unnoticed. Every check runs even when
# an earlier one failed; the run fails when any did.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${OLMTSFIL_BUILD_DIR:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

# One line each; scripts/check-NAME.sh.
checks=(
  format
  packaging
  sanitizers
  clang
  windows
  python
  fuzz
)

scripts/install-deps.sh build tools

echo "== build and test ($build)"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

failed=()
for check in "${checks[@]}"; do
  script="$root/scripts/check-$check.sh"
  echo "== $check"
  if [ ! -f "$script" ]; then
    echo "test.sh: check '$check' is listed but scripts/check-$check.sh is missing" >&2
    failed+=("$check (missing)")
  elif ! OLMTSFIL_BUILD_DIR="$build" bash "$script"; then
    failed+=("$check")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  printf '== checks failed: %s\n' "${failed[*]}" >&2
  exit 1
fi
echo "== all checks passed"
