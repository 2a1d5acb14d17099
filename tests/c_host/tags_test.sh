#!/usr/bin/env bash
# Runs c_tags and checks with ffprobe that the output carries the tags and
# the exact chapters the host gave (Matroska keeps times in nanoseconds).
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$1" "$dir/out.mka" >/dev/null
got=$(ffprobe -v error -show_entries format_tags=title,artist:stream_tags=language \
        -show_entries chapter=id,start,end:chapter_tags=title \
        -of compact=p=0 "$dir/out.mka")
expected='tag:language=ger
id=1|start=0|end=500000000|tag:title=Intro
id=2|start=500000000|end=3600123000000|tag:title=Main
tag:title=Album title|tag:ARTIST=Some One'
if [ "$got" != "$expected" ]; then
  printf 'ffprobe read:\n%s\nexpected:\n%s\n' "$got" "$expected" >&2
  exit 1
fi
