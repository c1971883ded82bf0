#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, generates their seeds and runs each
# target for a bounded time (FUZZ_SECONDS, default 60); fails on any crash, leak
# or hang. The corpus of this check lives in the build folder and starts from the
# seeds each time, so CI results do not depend on earlier runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
export FUZZ_BUILD_DIR=$build
export FUZZ_CORPUS_ROOT=$build/fuzz/ci-corpus
rm -rf "$FUZZ_CORPUS_ROOT" "$build/fuzz/artifacts"
# Two targets at once on the CI's two cores.
FUZZ_JOBS=${FUZZ_JOBS:-2} scripts/fuzz-campaign.sh "${FUZZ_SECONDS:-60}"
