#!/usr/bin/env bash
# Stream copy of a long MP3 and a long AAC file: the flatav tool against
# `ffmpeg -c copy` into the same container, whole-process wall time (median
# of several runs) and its ratio.
#   copy_bench.sh BUILD_DIR MEDIA_DIR [RUNS]
set -euo pipefail
build=${1:?usage: copy_bench.sh BUILD_DIR MEDIA_DIR [RUNS]}
media=${2:?usage: copy_bench.sh BUILD_DIR MEDIA_DIR [RUNS]}
runs=${3:-7}
flatav="$build/tools/flatav"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Median wall time in seconds of running the command $runs times.
median_time() {
  local times=()
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p"
}

printf '%-12s %-6s %10s %10s %8s\n' file to flatav ffmpeg ratio
for pair in long.mp3:mp3 long.m4a:m4a; do
  in="$media/${pair%%:*}"
  ext=${pair##*:}
  a=$(median_time "$flatav" copy -y "$in" "$tmp/flatav.$ext")
  b=$(median_time ffmpeg -nostdin -v error -y -i "$in" -map 0:a -c copy "$tmp/ffmpeg.$ext")
  printf '%-12s %-6s %10.3f %10.3f %8.3f\n' "${pair%%:*}" "$ext" "$a" "$b" \
    "$(echo "$a / $b" | bc -l)"
done
