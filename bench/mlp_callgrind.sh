#!/usr/bin/env bash
# Instruction counts of one MLP decoding pass through flatav's memory-source
# decoder and through the direct parser+decoder loop, under callgrind, and
# their ratio.
#   mlp_callgrind.sh BUILD_DIR FILE.mlp...
set -euo pipefail
build=${1:?usage: mlp_callgrind.sh BUILD_DIR FILE.mlp...}
shift
once="$build/bench/flatav_mlp_once"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
count() {
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" "$once" "$1" "$2" \
    >"$tmp/$1.txt" 2>"$tmp/log"
  grep -oP 'Collected : \K[0-9]+' "$tmp/log"
}
printf '%-24s %16s %16s %8s\n' file flatav direct ratio
for file in "$@"; do
  a=$(count flatav "$file")
  b=$(count direct "$file")
  # Both passes must have produced the same PCM.
  if [ "$(cut -d' ' -f2- "$tmp/flatav.txt")" != "$(cut -d' ' -f2- "$tmp/direct.txt")" ]; then
    echo "$(basename "$file"): the two loops disagree" >&2
    exit 1
  fi
  printf '%-24s %16s %16s %8.4f\n' "$(basename "$file")" "$a" "$b" "$(echo "$a / $b" | bc -l)"
done
