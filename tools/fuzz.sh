#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (in parallel,
# one per core), starting from the seed corpus in fuzz/corpus/<target>, with
# the target's dictionary; the saved crashing inputs in fuzz/regressions are
# replayed first. A finding stops the run with a non-zero status, the input
# left in the work directory.
# Usage: tools/fuzz.sh SECONDS [BUILD_DIR] [target ...]
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build-fuzz}
shift $(( $# >= 2 ? 2 : $# ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fasta_windows parameters mask saved_model model_file sequence_stream fasta_index)
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNIK_FUZZ=ON -DVARNIK_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
work="$build/fuzz-work"
mkdir -p "$work"
status=0
run() {
  local t=$1 bin="$build/fuzz/fuzz_$1"
  mkdir -p "$work/$t"
  # Every saved regression input once, then the search.
  if compgen -G "$root/fuzz/regressions/$t/*" >/dev/null; then
    "$bin" -close_fd_mask=3 "$root"/fuzz/regressions/"$t"/* >"$work/$t.replay.log" 2>&1 ||
      { echo "$t: a regression input fails again (see $work/$t.replay.log)"; return 1; }
  fi
  "$bin" -max_total_time="$seconds" -dict="$root/fuzz/dict/$t.dict" -close_fd_mask=3 \
    -print_final_stats=1 -artifact_prefix="$work/$t-" -rss_limit_mb=4096 -timeout=20 \
    "$work/$t" "$root/fuzz/corpus/$t" >"$work/$t.log" 2>&1 ||
    { echo "$t: FINDING (see $work/$t.log)"; return 1; }
  local runs cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")
  cov=$(grep -o 'cov: [0-9]*' "$work/$t.log" | tail -1)
  echo "$t: $runs runs in $seconds s ($((runs / seconds)) per second), $cov"
}
pids=()
for t in "${targets[@]}"; do
  run "$t" &
  pids+=($!)
  # One target per core at a time.
  if [ ${#pids[@]} -ge "$(nproc)" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
