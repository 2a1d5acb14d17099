#!/usr/bin/env bash
# Instruction counts of one resampling or filtering run (a minute of audio)
# through flatav and directly, under callgrind, and their ratio.
#   callgrind_convert.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: callgrind_convert.sh BUILD_DIR}
once="$build/bench/flatav_convert_once"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
count() {
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" "$once" "$@" \
    >/dev/null 2>"$tmp/log"
  grep -oP 'Collected : \K[0-9]+' "$tmp/log"
}
printf '%-10s %-22s %16s %16s %8s\n' job case flatav direct ratio
for job in "resample up_44k_48k" "resample s16_to_flt" "resample down_48k_44k_flt_s16" \
           "filter volume" "filter highpass" "filter loudnorm"; do
  set -- $job
  a=$(count "$1" "$2" flatav)
  b=$(count "$1" "$2" direct)
  printf '%-10s %-22s %16s %16s %8.4f\n' "$1" "$2" "$a" "$b" "$(echo "$a / $b" | bc -l)"
done
