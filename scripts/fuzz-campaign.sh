#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for a given time each and reports
# executions, coverage and findings.
#   scripts/fuzz-campaign.sh SECONDS [TARGET...]      (targets: table recording calibration)
# Environment:
#   FUZZ_BUILD_DIR    build folder of the clang/libFuzzer build (default: build-fuzz)
#   FUZZ_CORPUS_ROOT  where the growing corpora live (default: fuzz/corpus-<target>, kept between runs)
#   FUZZ_JOBS         targets run at once, at low priority (default 1; the machine is shared)
#   FUZZ_MAX_LEN      largest input libFuzzer makes (default 20480)
# Crash reproducers land in $FUZZ_BUILD_DIR/fuzz/artifacts/<target>/; replay one with
# build/fuzz/fuzz_<target>_replay FILE (any compiler) or the fuzz binary itself.
# Exits non-zero when any target found a crash, a leak or a timeout.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:?usage: fuzz-campaign.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(table recording calibration)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${FUZZ_JOBS:-1}
max_len=${FUZZ_MAX_LEN:-20480}

scripts/install-deps.sh build fuzz
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j 2 --target olmtsfil_make_seeds $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

seeds=$build/fuzz/seeds
rm -rf "$seeds"
"$build/fuzz/olmtsfil_make_seeds" "$seeds" >/dev/null

run_target() {
  local target=$1
  local corpus=${FUZZ_CORPUS_ROOT:-$root/fuzz}/corpus-$target
  local artifacts=$build/fuzz/artifacts/$target/
  local log=$build/fuzz/logs/$target.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  # -timeout: an input that takes 10 s is a hang worth a report.
  nice -n 19 "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$seeds/$target" \
    >"$log" 2>&1 || true
}

summary() {
  local target=$1
  local log=$build/fuzz/logs/$target.log
  local done_line runs
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)
  printf '%-12s executions %-10s %s\n' "$target" "${runs:-?}" "${done_line:-no DONE line}"
}

pids=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}"
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid"; done

status=0
for target in "${targets[@]}"; do
  summary "$target"
  found=$(find "$build/fuzz/artifacts/$target" -type f 2>/dev/null | wc -l)
  if [ "$found" -gt 0 ] || grep -qE '^==[0-9]+==ERROR|^SUMMARY: |deadly signal|ALARM: working on the last Unit' "$build/fuzz/logs/$target.log"; then
    echo "  FINDINGS for $target: $found reproducer(s) in $build/fuzz/artifacts/$target, log $build/fuzz/logs/$target.log"
    status=1
  fi
done
exit $status
