#!/usr/bin/env bash
# Fails when a source folder includes a header of a folder above it. The
# layers, bottom first; svm and tree sit side by side and do not include
# each other.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)/src"
declare -A rank=([core]=0 [sequence]=1 [svm]=2 [tree]=2 [recognizers]=3 [learners]=4 [driver]=5 [app]=6)
status=0
for dir in "${!rank[@]}"; do
  [ -d "$src/$dir" ] || continue
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$line")
    [ -n "${rank[$target]+x}" ] || continue
    if [ "$target" != "$dir" ] && [ "${rank[$target]}" -ge "${rank[$dir]}" ]; then
      echo "${file#$src/} includes $target/ (layer $dir may only look down)"
      status=1
    fi
  done < <(grep -rH '#include "[a-z_]*/' "$src/$dir" || true)
done
for dir in "$src"/*/; do
  name=$(basename "$dir")
  [ -n "${rank[$name]+x}" ] || { echo "src/$name has no layer"; status=1; }
done
exit $status
