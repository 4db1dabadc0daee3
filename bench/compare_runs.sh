#!/usr/bin/env bash
# Times whole runs of two varnik binaries on the recorded cases of
# tests/e2e/golden, alternating them so that both see the same machine, and
# prints the best of R runs of each with their ratio (new / old).
# Usage: bench/compare_runs.sh OLD_BINARY NEW_BINARY [R] [case ...]
set -euo pipefail
old=$(realpath "$1") new=$(realpath "$2")
repeats=${3:-3}
shift $(( $# >= 3 ? 3 : 2 ))
root=$(cd "$(dirname "$0")/.." && pwd)
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(pwm knn knn_search c45_trials nn svm_kernel2 svm_kernel5 svm_search)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/data/examples/donor_{train,test}_{pos,neg} "$work"
best() { sort -g | head -1; }
printf "%-22s %9s %9s %7s\n" case old_s new_s ratio
for c in "${cases[@]}"; do
  cp "$root/tests/e2e/golden/$c/params" "$work/params"
  [ -f "$root/tests/e2e/golden/$c/mask" ] && cp "$root/tests/e2e/golden/$c/mask" "$work/mask"
  args=$(cat "$root/tests/e2e/golden/$c/args")
  : >"$work/t_old"; : >"$work/t_new"
  for ((r = 0; r < repeats; r++)); do
    for b in old new; do
      bin=${!b}
      s=$(date +%s.%N)
      (cd "$work" && "$bin" $args >/dev/null 2>&1) || true
      e=$(date +%s.%N)
      echo "$e - $s" | bc >>"$work/t_$b"
    done
  done
  o=$(best <"$work/t_old") n=$(best <"$work/t_new")
  printf "%-22s %9.3f %9.3f %7.3f\n" "$c" "$o" "$n" "$(echo "$n / $o" | bc -l)"
done
