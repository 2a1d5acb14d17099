#!/usr/bin/env bash
# Instruction counts of one decoding pass through flatav and through the
# direct FFmpeg loop, under callgrind, and their ratio.
#   callgrind_ratio.sh BUILD_DIR FILE...
set -euo pipefail
build=${1:?usage: callgrind_ratio.sh BUILD_DIR FILE...}
shift
once="$build/bench/flatav_decode_once"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
count() {
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" "$once" "$1" "$2" \
    >/dev/null 2>"$tmp/log"
  grep -oP 'Collected : \K[0-9]+' "$tmp/log"
}
printf '%-24s %16s %16s %8s\n' file flatav direct ratio
for file in "$@"; do
  a=$(count flatav "$file")
  b=$(count direct "$file")
  printf '%-24s %16s %16s %8.4f\n' "$(basename "$file")" "$a" "$b" "$(echo "$a / $b" | bc -l)"
done
