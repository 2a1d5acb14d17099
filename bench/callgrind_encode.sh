#!/usr/bin/env bash
# Instruction counts of one encoding pass through flatav and through the
# direct FFmpeg loop, under callgrind, and their ratio, for FLAC and MP3 or
# the codecs named.
#   callgrind_encode.sh BUILD_DIR FILE.s16 [CODEC...]
set -euo pipefail
build=${1:?usage: callgrind_encode.sh BUILD_DIR FILE.s16}
file=${2:?usage: callgrind_encode.sh BUILD_DIR FILE.s16 [CODEC...]}
shift 2
[ $# -gt 0 ] || set -- flac mp3
once="$build/bench/flatav_encode_once"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
count() {
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" "$once" "$1" "$2" "$file" \
    >/dev/null 2>"$tmp/log"
  grep -oP 'Collected : \K[0-9]+' "$tmp/log"
}
printf '%-24s %16s %16s %8s\n' encoding flatav direct ratio
for codec in "$@"; do
  a=$(count flatav "$codec")
  b=$(count direct "$codec")
  printf '%-24s %16s %16s %8.4f\n' "$(basename "$file") -> $codec" "$a" "$b" "$(echo "$a / $b" | bc -l)"
done
