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

best_of() {  # best wall time in seconds of a command, over $repeats runs (or $REPEATS)
  local best=""
  for _ in $(seq "${REPEATS:-$repeats}"); do
    local s e t
    s=$(date +%s.%N)
    "$@" >/dev/null
    e=$(date +%s.%N)
    t=$(awk -v s="$s" -v e="$e" 'BEGIN { print e - s }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  printf '%.4f' "$best"
}

knows() { "$1" --help 2>&1 | grep -- "$2" >/dev/null; }  # whether a build (an older one too) has an option

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

echo "== k-NN scoring, medium synthetic set (2,000 + 20,000 windows of 100 letters, train and test)"
peers="$here/../../shared/peers"
if [ ! -f "$work/medium_test_neg" ]; then
  if [ -f "$peers/synth.py" ] && /usr/bin/python3 -c 'import numpy' 2>/dev/null; then
    for part in "train 21" "test 22"; do
      set -- $part
      /usr/bin/python3 "$peers/synth.py" "$work/medium_$1_" --pos 2000 --neg 20000 --length 100 \
        --seed "$2" --strength 0.4 --decoy-frac 0.1 --n-frac 0.01 --motif-len 12 --core GT \
        --motif-seed 12345 >/dev/null
    done
  else
    echo "(no ../shared/peers/synth.py with numpy: using bench/make_windows instead)"
    "$gen" "$work/medium_train_" 2000 20000 100 21 GACTACGGCTCT 0.6
    "$gen" "$work/medium_test_" 2000 20000 100 22 GACTACGGCTCT 0.6
  fi
fi
"$build/bench/knn_bench" "$work/medium_train_" "$work/medium_test_" 3 1 200
printf 'Recognition_method: kNN\nCross-validate parameters: false\nSeed: 3\n' > "$work/knn.params"
knn_s=$(cd "$work" && best_of "$OLDPWD/$varnik" medium_train_ medium_test_ knn.params knn.report)
echo "whole varnik k-NN run (threshold from the training positives, then the test windows): ${knn_s} s"
if [ -f "$peers/run_peers.py" ] && /usr/bin/python3 -c 'import sklearn' 2>/dev/null; then
  row=$(cd "$peers" && /usr/bin/python3 run_peers.py "$work/medium_train_" "$work/medium_test_" \
        --only knn_hamming --repeats 1 2>/dev/null | awk -F'\t' '$1 == "knn_hamming"')
  train=$(echo "$row" | cut -f2); test=$(echo "$row" | cut -f3)
  echo "scikit-learn brute-force Hamming k-NN (k = 3): fit+threshold ${train} s, test ${test} s;" \
       "varnik is $(awk -v a="$train" -v b="$test" -v c="$knn_s" 'BEGIN { printf "%.1f", (a + b) / c }') x faster"
else
  echo "(scikit-learn peer not available: apt-get install python3-sklearn to compare)"
fi

peer_row() {  # one peer's TSV row on the medium set, empty when the peers cannot run
  if [ -f "$peers/run_peers.py" ] && /usr/bin/python3 -c 'import imblearn' 2>/dev/null; then
    (cd "$peers" && /usr/bin/python3 run_peers.py "$work/medium_train_" "$work/medium_test_" \
       --only "$1" --repeats 1 2>/dev/null | awk -F'\t' -v p="$1" '$1 == p')
  fi
}

echo "== k-NN, network and EasyEnsemble on the medium set against the peers, 1 and 2 threads"
bash "$here/learners_vs_peers.sh" "$varnik" "$work"

echo "== SMOTE on the medium set (2,000 positives doubled, 20,000 negatives cut to match)"
printf 'Recognition_method: PWM\nImbalance_method: SMOTE\nSMOTE_N: 100\nSeed: 5\n' > "$work/smote.params"
printf 'Recognition_method: PWM\nSeed: 5\n' > "$work/nosmote.params"
with_s=$(cd "$work" && best_of "$OLDPWD/$varnik" medium_train_ NIL smote.params smote.report)
without_s=$(cd "$work" && best_of "$OLDPWD/$varnik" medium_train_ NIL nosmote.params nosmote.report)
smote_s=$(awk -v a="$with_s" -v b="$without_s" 'BEGIN { printf "%.4f", a - b }')
echo "PWM run with SMOTE: ${with_s} s, without: ${without_s} s; SMOTE and the cut: ${smote_s} s"
row=$(peer_row smoten)
if [ -n "$row" ]; then
  peer_s=$(echo "$row" | cut -f2)
  echo "imbalanced-learn SMOTEN (k = 5): ${peer_s} s; varnik is" \
       "$(awk -v a="$peer_s" -v b="$smote_s" 'BEGIN { printf "%.0f", a / b }') x faster"
else
  echo "(imbalanced-learn peer not available: apt-get install python3-imblearn to compare)"
fi

echo "== EasyEnsemble of C4.5 trees, default settings (10 ensembles of 10), medium set"
printf 'Recognition_method: EasyEnsemble\nSeed: 5\n' > "$work/easy.params"
easy_s=$(cd "$work" && REPEATS=1 best_of "$OLDPWD/$varnik" medium_train_ medium_test_ easy.params easy.report)
echo "varnik train and test: ${easy_s} s"
row=$(peer_row easy_ensemble)
if [ -n "$row" ]; then
  train=$(echo "$row" | cut -f2); test=$(echo "$row" | cut -f3)
  echo "imbalanced-learn EasyEnsembleClassifier (10 AdaBoost estimators): fit ${train} s, test" \
       "${test} s; varnik is $(awk -v a="$train" -v b="$test" -v c="$easy_s" 'BEGIN { printf "%.1f", (a + b) / c }') x faster"
fi

echo "== Neural network, default settings (100 hidden units, 100,000 epochs of 16 rows), bundled donor set"
"$build/bench/nn_bench" "$here/../data/examples/donor_train_" 100000 100 0 300

echo "== SVM training, C-SVC on 3,000 windows of 140 letters (1,500 + 1,500)"
[ -f "$work/svm140_pos" ] || "$gen" "$work/svm140_" 1500 1500 140 33 CAGGTAAGTAC 0.4
"$build/bench/svm_bench" "$work/svm140_" 1500 22 "$work"

echo "== Default SVM run with the parameter search (21 grid rows x 10 folds), bundled donor set"
printf 'Recognition_method: SVM\nSeed: 12345\n' > "$work/svm_default.params"
ex="$here/../data/examples"
svm_s=$(cd "$work" && best_of "$OLDPWD/$varnik" "$ex/donor_train_" "$ex/donor_test_" svm_default.params svm_default.report)
grep -E "^Best parameters" "$work/svm_default.report" | sed 's/^/  /'
printf 'Recognition_method: SVM\nSeed: 12345\nCross-validate parameters: false\n' > "$work/svm_one.params"
grep -E "^Best parameters" "$work/svm_default.report" | sed -E 's/.*Kernel = ([0-9]+)\tC = ([0-9.]+)\tGamma: ([0-9.]+)/Kernel: \1\nC: \2\nGamma: \3/' >> "$work/svm_one.params"
one_s=$(cd "$work" && best_of "$OLDPWD/$varnik" "$ex/donor_train_" "$ex/donor_test_" svm_one.params svm_one.report)
echo "whole run with the search: ${svm_s} s; one run of the chosen setting without the search: ${one_s} s"
if [ -n "${OLD_VARNIK:-}" ]; then
  old_binary=$(realpath "$OLD_VARNIK")
  old_s=$(cd "$work" && best_of "$old_binary" "$ex/donor_train_" "$ex/donor_test_" svm_default.params svm_default_old.report)
  echo "  $OLD_VARNIK, whole run with the search: ${old_s} s; reports" \
       "$(cmp -s <(sed -E 's/time: [0-9:]+//' "$work/svm_default.report") \
                 <(sed -E 's/time: [0-9:]+//' "$work/svm_default_old.report") && echo identical || echo DIFFERENT)"
fi

echo "== C4.5 trees on the medium synthetic set (22,000 windows of 100 letters)"
for trials in 1 10; do
  printf 'Recognition_method: C45\nSeed: 12345\nTrials: %s\n' "$trials" > "$work/c45_$trials.params"
  t=$(cd "$work" && REPEATS=1 best_of "$OLDPWD/$varnik" medium_train_ medium_test_ "c45_$trials.params" "c45_$trials.report")
  echo "whole run, $trials trial(s): ${t} s ($(grep -E '^Tree nodes' "$work/c45_$trials.report"))"
done
if [ -f "$peers/run_peers.py" ] && /usr/bin/python3 -c 'import sklearn' 2>/dev/null; then
  row=$(cd "$peers" && /usr/bin/python3 run_peers.py "$work/medium_train_" "$work/medium_test_" \
        --only tree_entropy --repeats 1 2>/dev/null | awk -F'\t' '$1 == "tree_entropy"')
  echo "scikit-learn DecisionTreeClassifier(entropy), one-hot: fit $(echo "$row" | cut -f2) s, test $(echo "$row" | cut -f3) s"
fi

echo "== Threads: the same runs on 1 thread and on every core ($(nproc) here); identical reports"
cores=$(nproc)
printf 'Recognition_method: SVM\nSeed: 12345\n' > "$work/svm_default.params"
printf 'Recognition_method: kNN\nCross-validate parameters: false\nSeed: 3\n' > "$work/knn.params"
for run in "svm_default.params $here/../data/examples/donor_train_ $here/../data/examples/donor_test_" \
           "knn.params medium_train_ medium_test_"; do
  set -- $run
  one=$(cd "$work" && REPEATS=1 best_of "$OLDPWD/$varnik" --threads 1 "$2" "$3" "$1" threads1.report)
  all=$(cd "$work" && REPEATS=1 best_of "$OLDPWD/$varnik" --threads "$cores" "$2" "$3" "$1" threadsN.report)
  same=$(cmp -s <(sed -E 's/time: [0-9:]+//' "$work/threads1.report") \
               <(sed -E 's/time: [0-9:]+//' "$work/threadsN.report") && echo identical || echo DIFFERENT)
  echo "$1 on $(basename "$2"): 1 thread ${one} s, $cores threads ${all} s," \
       "speed-up $(awk -v a="$one" -v b="$all" 'BEGIN { printf "%.2f", a / b }'); reports $same"
done

echo "== wd SVM (degree 22, no search) on the medium set: training alone (NIL test) and the whole run"
# OLD_VARNIK=path/to/an/older/varnik adds its figures beside these, in the same sitting.
printf 'Recognition_method: SVM\nKernel: 5\nDegree (WD): 22\nCross-validate parameters: false\nSeed: 3\n' > "$work/wd.params"
wd_row() {  # binary, threads: training seconds, test seconds (whole minus training)
  local train whole
  train=$(cd "$work" && REPEATS=1 best_of "$1" --threads "$2" medium_train_ NIL wd.params wd_train.report)
  whole=$(cd "$work" && REPEATS=1 best_of "$1" --threads "$2" medium_train_ medium_test_ wd.params wd.report)
  echo "$train $(awk -v a="$whole" -v b="$train" 'BEGIN { printf "%.4f", a - b }')"
}
for t in 1 "$cores"; do
  set -- $(wd_row "$PWD/$varnik" "$t")
  echo "this build, $t thread(s): training $1 s, testing $2 s"
  if [ -n "${OLD_VARNIK:-}" ]; then
    old=$(wd_row "$(realpath "$OLD_VARNIK")" "$t")
    set -- $1 $2 $old
    echo "  $OLD_VARNIK, $t thread(s): training $3 s, testing $4 s;" \
         "this build is $(awk -v a="$3" -v b="$1" 'BEGIN { printf "%.1f", a / b }') x (training) and" \
         "$(awk -v a="$4" -v b="$2" 'BEGIN { printf "%.1f", a / b }') x (testing) faster"
  fi
done

echo "== Self-contained model files: scan and score through them (medium set, one thread)"
# A long record: the medium set's letters five times over (about 11 million letters).
if [ ! -f "$work/long.fa" ]; then
  { echo ">long"; for _ in 1 2 3 4 5; do grep -hv '^>' "$work/medium_train_pos" "$work/medium_train_neg"; done; } > "$work/long.fa"
fi
letters=$(grep -v '^>' "$work/long.fa" | tr -d '\n' | wc -c)
printf 'Recognition_method: PWM\nSeed: 5\nSequence_length: 60\n' > "$work/pwm60.params"
(cd "$work" && "$OLDPWD/$varnik" --threads 1 --model pwm60.model medium_train_ NIL pwm60.params pwm60.report >/dev/null 2>&1) || true
[ -f "$work/million_pos" ] || "$gen" "$work/million_" 1000000 0 100 7
million_s=$(cd "$work" && best_of "$OLDPWD/$varnik" --threads 1 score pwm60.model million_pos)
million_read=$("$read_fasta" "$repeats" "$work/million_pos" | cut -d' ' -f1)
echo "score, PWM, one million windows: ${million_s} s; reading them alone: ${million_read} s" \
     "(the rest is writing the million lines)"
scan_s=$(cd "$work" && best_of "$OLDPWD/$varnik" --threads 1 scan --strands plus pwm60.model long.fa)
echo "scan, PWM of 60 letters, plus strand, $letters positions: ${scan_s} s," \
     "$(awk -v n="$letters" -v s="$scan_s" 'BEGIN { printf "%.1f", n / s / 1e6 }') million windows per second"
read_s=$("$read_fasta" "$repeats" "$work/medium_test_pos" "$work/medium_test_neg" | cut -d' ' -f1)
score_s=$(cd "$work" && best_of bash -c "'$OLDPWD/$varnik' --threads 1 score pwm60.model medium_test_pos; '$OLDPWD/$varnik' --threads 1 score pwm60.model medium_test_neg")
echo "score, PWM, the 22,000 test windows (two commands): ${score_s} s; reading them alone: ${read_s} s"
# Each method: the test windows scored by the recogniser as training leaves
# it and as its model file gives it back, in one process, taken in turns.
for method in "PWM" "kNN\nCross-validate parameters: false\nK: 3" "C45" "C45\nTrials: 10" \
              "SVM\nKernel: 0\nCross-validate parameters: false" \
              "SVM\nKernel: 5\nDegree (WD): 22\nCross-validate parameters: false" \
              "NeuralNet\nEta: 0.01\nAlpha: 0.9\nN_epochs: 20000" "EasyEnsemble"; do
  printf "Recognition_method: $method\nSeed: 5\n" > "$work/model_bench.params"
  (cd "$work" && "$OLDPWD/$build/bench/model_bench" medium_train_ medium_test_ model_bench.params 5)
done

echo "== Genome scanning: wd tables, a large model, PWM, candidates of a donor model"
# OLD_VARNIK=path/to/an/older/varnik adds its figures beside these, in the same sitting.
if [ ! -f "$work/ten.fa" ]; then
  # head stops reading early: the commands before it end on a broken pipe.
  { echo ">ten"; (set +o pipefail; for _ in 1 2 3 4 5; do grep -hv '^>' "$work/medium_train_pos" "$work/medium_train_neg"; done |
      tr -d '\n' | head -c 10000000 | fold -w 80); echo; } > "$work/ten.fa.part"
  mv "$work/ten.fa.part" "$work/ten.fa"
fi
printf 'Recognition_method: SVM\nKernel: 5\nDegree (WD): 22\nCross-validate parameters: false\nSeed: 3\n' > "$work/wd.params"
[ -f "$work/wd.model" ] || (cd "$work" && "$OLDPWD/$varnik" --model wd.model medium_train_ NIL wd.params wd_model.report >/dev/null 2>&1) || true
scan_rate() {  # binary, model, fasta, extra options: seconds and windows per second (one thread)
  local s
  s=$(cd "$work" && REPEATS=1 best_of "$1" --threads 1 scan --min-score 1e30 $4 "$2" "$3")
  echo "$s $(awk -v n="$(grep -v '^>' "$work/$3" | tr -d '\n' | wc -c)" -v s="$s" 'BEGIN { printf "%.0f", (n - 99) / s }')"
}
# (The figures of /usr/bin/time are its last line: a non-zero status is noted on one before.)
for binary in "$PWD/$varnik" ${OLD_VARNIK:+"$(realpath "$OLD_VARNIK")"}; do
  knows "$binary" --all-windows || { echo "$binary: scans no model file alone (skipped)"; continue; }
  set -- $(scan_rate "$binary" wd.model ten.fa --all-windows)
  echo "$binary: wd model (7,490 vectors, 100 letters, degree 22), every position of 10 million letters, plus strand: $1 s, $2 windows per second"
done
[ -f "$work/big.model" ] || /usr/bin/python3 "$here/make_wd_model.py" "$work/wd.model" "$work/big.model" 200000 60 7
printf '>short\nACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGT\n' > "$work/short.fa"
for binary in "$PWD/$varnik" ${OLD_VARNIK:+"$(realpath "$OLD_VARNIK")"}; do
  knows "$binary" --all-windows || continue
  (cd "$work" && /usr/bin/time -f "%e %M" -o big.time "$binary" --threads 1 scan --all-windows big.model short.fa >/dev/null 2>&1) || true
  read -r secs kb < <(tail -n 1 "$work/big.time")
  echo "$binary: 200,000 vectors of 60 letters ($(du -h "$work/big.model" | cut -f1)): read and tabled in $secs s, peak memory $((kb / 1024)) MB"
done
if [ -f "$work/pwm60.model" ]; then
  set -- $(scan_rate "$PWD/$varnik" pwm60.model ten.fa --all-windows)
  echo "PWM of 60 letters, every position of 10 million letters, plus strand: $1 s, $2 windows per second"
fi
# A donor model whose windows all hold GT (the worm donors), and a 100-Mb
# genome in 10-Mb records: its candidates on both strands, two threads.
worm="$here/../../shared/data/splice_celegans"
if [ -f "$worm/donor_train_pos" ]; then
  [ -f "$work/genome100.fa" ] || /usr/bin/python3 "$here/make_genome.py" "$work/genome100.fa" 100000000 10000000 5
  head -n 10000 "$worm/donor_train_pos" > "$work/worm_pos"; head -n 90000 "$worm/donor_train_neg" > "$work/worm_neg"
  printf 'Recognition_method: SVM\nKernel: 5\nDegree (WD): 20\nC: 1\nCross-validate parameters: false\nSeed: 3\n' > "$work/worm_wd.params"
  printf 'Recognition_method: PWM\nSeed: 3\n' > "$work/worm_pwm.params"
  for m in pwm wd; do
    [ -f "$work/worm_$m.model" ] || (cd "$work" && "$OLDPWD/$varnik" --model "worm_$m.model" worm_ NIL "worm_$m.params" "worm_$m.report" >/dev/null 2>&1) || true
    (cd "$work" && /usr/bin/time -f "%e %M" -o genome.time "$OLDPWD/$varnik" --threads 2 scan --strands both "worm_$m.model" genome100.fa > "genome_$m.bed" 2> genome.err) || true
    read -r secs kb < <(tail -n 1 "$work/genome.time")
    scored=$(sed -nE 's/.* ([0-9]+) windows scored.*/\1/p' "$work/genome.err")
    echo "worm donor $m model ($(grep '^core' "$work/worm_$m.model")), 100 Mb, both strands, 2 threads: $secs s wall," \
         "peak $((kb / 1024)) MB, $scored candidates scored ($(awk -v n="$scored" -v s="$secs" 'BEGIN { printf "%.0f", n / s }') per second), $(wc -l < "$work/genome_$m.bed") above the threshold"
  done
else
  echo "(no ../shared/data/splice_celegans: the genome-scale scan needs its donor windows)"
fi

echo "== SVM training at scale: the worm donors (wd, degree 20, C 1, no search) and the medium set"
# OLD_VARNIK=path/to/an/older/varnik adds its figures beside these, in the same sitting, and
# the SVM model files of the two (save-model) are compared whole. Options an older build
# does not know (--memory) are left out for it.
train_row() {  # binary, threads, prefix, params, tag, extra options: wall seconds and peak MB,
               # the best of $TRAIN_REPEATS runs (1 unless set); the SVM model in <prefix>.train_<tag>.model
  local best="" peak=0 extra=""
  [ -n "${6:-}" ] && knows "$1" "${6%% *}" && extra=$6
  for _ in $(seq "${TRAIN_REPEATS:-1}"); do
    (cd "$work" && /usr/bin/time -f "%e %M" -o train.time "$1" --threads "$2" $extra "$3" NIL "$4" "train_$5" save-model \
       >/dev/null 2>&1) || true
    read -r secs kb < <(tail -n 1 "$work/train.time")
    if [ -z "$best" ] || awk -v t="$secs" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$secs; fi
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  echo "$best $((peak / 1024))"
}
compare_models() {  # prefix, tag, tag: the SVM files, and the files naming them but for the name
  local a="$work/$1.train_$2.model" b="$work/$1.train_$3.model"
  cmp -s "$a.svm" "$b.svm" && cmp -s <(grep -v '^SVM model file name' "$a") <(grep -v '^SVM model file name' "$b") &&
    echo "models identical" || echo "models DIFFER"
}
printf 'Recognition_method: SVM\nKernel: 2\nGamma: 0.01\nC: 1\nCross-validate parameters: false\nSeed: 3\n' > "$work/rbf_train.params"
for kind in rbf wd; do
  params=$([ "$kind" = rbf ] && echo rbf_train.params || echo wd.params)
  set -- $(TRAIN_REPEATS=3 train_row "$PWD/$varnik" 1 medium_train_ "$params" "$kind.1")
  one=$1
  set -- $(TRAIN_REPEATS=3 train_row "$PWD/$varnik" 2 medium_train_ "$params" "$kind.2")
  echo "medium $kind training: 1 thread ${one} s, 2 threads $1 s ($(awk -v a="$one" -v b="$1" 'BEGIN { printf "%.2f", a / b }') x);" \
       "$(compare_models medium_train_ "$kind.1" "$kind.2")"
  if [ -n "${OLD_VARNIK:-}" ]; then
    set -- $(TRAIN_REPEATS=3 train_row "$(realpath "$OLD_VARNIK")" 2 medium_train_ "$params" "$kind.old")
    echo "  $OLD_VARNIK, 2 threads: $1 s; $(compare_models medium_train_ "$kind.2" "$kind.old")"
  fi
done
if [ -f "$worm/donor_train_pos" ]; then
  ln -sf "$worm/donor_train_pos" "$work/wormfull_pos"; ln -sf "$worm/donor_train_neg" "$work/wormfull_neg"
  for binary in "$PWD/$varnik" ${OLD_VARNIK:+"$(realpath "$OLD_VARNIK")"}; do
    tag=$([ "$binary" = "$PWD/$varnik" ] && echo new || echo old)
    set -- $(train_row "$binary" 2 wormfull_ worm_wd.params "$tag" "--memory 4G")
    echo "$binary: worm donors, 126,321 windows, 2 threads$(knows "$binary" --memory && echo ", --memory 4G"): $1 s wall, peak $2 MB"
  done
  [ -n "${OLD_VARNIK:-}" ] && echo "  $(compare_models wormfull_ new old)"
else
  echo "(no ../shared/data/splice_celegans: the worm training needs its donor windows)"
fi

echo "== Python module: one million 60-letter windows scored in process and by varnik score"
if ls "$build"/python/varnik*.so >/dev/null 2>&1 && /usr/bin/python3 -c 'import numpy' 2>/dev/null; then
  /usr/bin/python3 "$here/python_score.py" "$build" "$work"
else
  echo "(the Python module is not built: apt-get install pybind11-dev python3-dev python3-numpy)"
fi
