#!/usr/bin/env bash
# Regenerates the expected files of the whole-run comparisons in
# tests/e2e/golden from the given varnik binary. Each case folder holds its
# parameters ("params"), its command-line arguments ("args") and any extra
# input ("mask"); the run happens in a scratch folder beside copies of the
# bundled windows, and every file it creates is kept, with the clock times of
# the report masked, together with its standard output and exit status.
set -euo pipefail
binary=$(realpath "${1:?usage: update_golden.sh path/to/varnik [case ...]}")
shift
root=$(cd "$(dirname "$0")/.." && pwd)
golden="$root/tests/e2e/golden"
cases=("$@")
if [ ${#cases[@]} -eq 0 ]; then
  cases=()
  for d in "$golden"/*/; do cases+=("$(basename "$d")"); done
fi
inputs="params args mask"
for c in "${cases[@]}"; do
  dir="$golden/$c"
  work=$(mktemp -d)
  cp "$root"/data/examples/donor_{train,test}_{pos,neg} "$work"
  for f in $inputs; do [ -f "$dir/$f" ] && cp "$dir/$f" "$work"; done
  # Only the inputs are kept in the case folder; everything else is regenerated.
  find "$dir" -maxdepth 1 -type f $(for f in $inputs; do printf -- '-not -name %s ' "$f"; done) -delete
  set +e
  (cd "$work" && "$binary" $(cat args) >stdout 2>/dev/null)
  echo $? >"$work/status"
  set -e
  for f in "$work"/*; do
    name=$(basename "$f")
    case " $inputs donor_train_pos donor_train_neg donor_test_pos donor_test_neg " in
      *" $name "*) continue ;;
    esac
    sed -E 's/time: [0-9:]+/time: T/' "$f" >"$dir/$name"
  done
  rm -rf "$work"
  echo "$c: status $(cat "$dir/status")"
done
