#!/usr/bin/env bash
# Line and region coverage of the library reached by the fuzz corpora: builds the
# replay programs with clang's source-based coverage, replays every corpus (the
# seeds and fuzz/corpus-<target> from scripts/fuzz-campaign.sh) and prints the
# per-file report of src/.
#   scripts/fuzz-coverage.sh [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(table recording calibration)
build=${COVERAGE_BUILD_DIR:-$root/build-coverage}
corpus_root=${FUZZ_CORPUS_ROOT:-$root/fuzz}

scripts/install-deps.sh build fuzz
cmake --preset coverage -B "$build" >/dev/null
# Only the replays are built; the tests option is what adds the fuzz folder.
cmake --build "$build" -j 2 --target olmtsfil_make_seeds $(printf 'fuzz_%s_replay ' "${targets[@]}") >/dev/null
profiles=$build/profiles
rm -rf "$profiles"
mkdir -p "$profiles"
LLVM_PROFILE_FILE="$profiles/seeds.profraw-ignored" "$build/fuzz/olmtsfil_make_seeds" "$build/fuzz/seeds" >/dev/null
for target in "${targets[@]}"; do
  corpora=("$build/fuzz/seeds/$target")
  [ -d "$corpus_root/corpus-$target" ] && corpora+=("$corpus_root/corpus-$target")
  LLVM_PROFILE_FILE="$profiles/$target-%p.profraw" "$build/fuzz/fuzz_${target}_replay" "${corpora[@]}"
done
llvm-profdata-14 merge -sparse "$profiles"/*.profraw -o "$profiles/all.profdata"
objects=()
for target in "${targets[@]}"; do objects+=(-object "$build/fuzz/fuzz_${target}_replay"); done
llvm-cov-14 report "$build/src/libolmtsfil.so" "${objects[@]}" -instr-profile="$profiles/all.profdata" \
  "$root/src/table" "$root/src/ts" "$root/src/cal" "$root/src/response" "$root/src/filters" "$root/src/common" \
  "$root/src/c_api"
