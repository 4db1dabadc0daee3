#!/usr/bin/env bash
# The k-NN, the network and EasyEnsemble on the medium synthetic set against
# the peers of ../shared/peers (run_peers.py), in one sitting: varnik's whole
# process (reading included) on 1 and 2 threads against the peers' fit and
# predict alone on one thread, the reports compared across thread counts.
# Usage: bench/learners_vs_peers.sh VARNIK WORK_DIR (WORK_DIR holds medium_train_ and medium_test_)
set -euo pipefail
varnik=$(realpath "$1")
work=$2
here=$(cd "$(dirname "$0")" && pwd)
peers="$here/../../shared/peers"
cd "$work"

run() {  # threads params report: the best wall seconds of the whole run over three
  local s e best=""
  for _ in 1 2 3; do
    s=$(date +%s.%N)
    "$varnik" --threads "$1" medium_train_ medium_test_ "$2" "$3" >/dev/null 2>&1
    e=$(date +%s.%N)
    best=$(awk -v s="$s" -v e="$e" -v b="$best" 'BEGIN { t = e - s; if (b != "" && b < t) t = b; printf "%.2f", t }')
  done
  echo "$best"
}
same() { cmp -s <(sed -E 's/time: [0-9:]+//' "$1") <(sed -E 's/time: [0-9:]+//' "$2") && echo identical || echo DIFFERENT; }
peer() {  # name: train + test seconds, empty without the peers' packages
  if [ -f "$peers/run_peers.py" ] && /usr/bin/python3 -c 'import sklearn, imblearn' 2>/dev/null; then
    (cd "$peers" && /usr/bin/python3 run_peers.py "$work/medium_train_" "$work/medium_test_" \
       --only "$1" --repeats 1 2>/dev/null) | awk -F'\t' -v p="$1" '$1 == p { printf "%.2f", $2 + $3 }'
  fi
}

printf 'Recognition_method: kNN\nCross-validate parameters: false\nSeed: 3\n' > lp_knn.params
printf 'Recognition_method: NeuralNet\nEta: 0.01\nAlpha: 0.9\nSeed: 3\n' > lp_nn.params
printf 'Recognition_method: EasyEnsemble\nSeed: 5\n' > lp_easy.params
for row in "kNN lp_knn knn_exact" "NeuralNet lp_nn mlp_sgd" "EasyEnsemble lp_easy easy_ensemble"; do
  set -- $row
  one=$(run 1 "$2.params" "$2.1.report")
  two=$(run 2 "$2.params" "$2.2.report")
  p=$(peer "$3")
  line="$1: varnik 1 thread ${one} s, 2 threads ${two} s ($(awk -v a="$one" -v b="$two" 'BEGIN { printf "%.2f", a / b }') x), reports $(same "$2.1.report" "$2.2.report")"
  if [ -n "$p" ]; then
    line="$line; peer $3 ${p} s: $(awk -v p="$p" -v a="$one" 'BEGIN { printf "%.1f", p / a }') x on 1 thread, $(awk -v p="$p" -v a="$two" 'BEGIN { printf "%.1f", p / a }') x on 2"
  else
    line="$line; (peer $3 not available: apt-get install python3-sklearn python3-imblearn libopenblas0-pthread)"
  fi
  echo "$line"
done
