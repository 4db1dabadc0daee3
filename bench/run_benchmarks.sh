#!/usr/bin/env bash
# Whole-run benchmarks, reported as ratios measured in one sitting:
#  1. reading and checking one million 100-letter windows against `wc -l` on
#     the same file;
#  2. a PWM run (train and test) on 100,000 windows of 140 letters against the
#     time of reading its four files.
# Usage: bench/run_benchmarks.sh BUILD_DIR
set -euo pipefail
build=${1:-build-bench}
here=$(cd "$(dirname "$0")" && pwd)
work="$here/work"
mkdir -p "$work"
gen="$build/bench/make_windows"
read_fasta="$build/bench/read_fasta"
varnik="$build/varnik"
repeats=5

best_of() {  # best wall time in seconds of a command, over $repeats runs
  local best=""
  for _ in $(seq "$repeats"); do
    local s e t
    s=$(date +%s.%N)
    "$@" >/dev/null
    e=$(date +%s.%N)
    t=$(awk -v s="$s" -v e="$e" 'BEGIN { print e - s }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  printf '%.4f' "$best"
}

echo "== Reading one million 100-letter windows"
[ -f "$work/million_pos" ] || "$gen" "$work/million_" 1000000 0 100 7
read_s=$("$read_fasta" "$repeats" "$work/million_pos" | cut -d' ' -f1)
wc_s=$(best_of wc -l "$work/million_pos")
echo "file: $(du -h "$work/million_pos" | cut -f1), wc -l: ${wc_s} s, ReadFastaFile: ${read_s} s," \
     "ratio $(awk -v a="$read_s" -v b="$wc_s" 'BEGIN { printf "%.2f", a / b }')"

echo "== PWM run, 100,000 windows of 140 letters (train and test)"
[ -f "$work/pwm_train_pos" ] || "$gen" "$work/pwm_train_" 10000 90000 140 11
[ -f "$work/pwm_test_pos" ] || "$gen" "$work/pwm_test_" 10000 90000 140 12
printf 'Recognition_method: PWM\nSeed: 5\n' > "$work/pwm.params"
files_s=$("$read_fasta" "$repeats" "$work/pwm_train_pos" "$work/pwm_train_neg" \
          "$work/pwm_test_pos" "$work/pwm_test_neg" | cut -d' ' -f1)
run_s=$(cd "$work" && best_of "$OLDPWD/$varnik" pwm_train_ pwm_test_ pwm.params pwm.report)
echo "reading the four files: ${files_s} s, whole PWM run: ${run_s} s," \
     "ratio $(awk -v a="$run_s" -v b="$files_s" 'BEGIN { printf "%.2f", a / b }')"
grep -A3 "TESTING results" "$work/pwm.report" | sed 's/^/  /'
