#!/usr/bin/env bash
# c_tags against ffprobe: the tags and exact chapters a host writes through
# EncodeRec.tags (Matroska keeps times in nanoseconds). A source's
# DecodeRec.tags, as read and as carried by a stream copy, are the tool's
# (info --json and copy rows of tool_test.cpp).
# usage: tags_test.sh C_TAGS
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
probe() { ffprobe -v error -of compact=e=none "$@"; }

"$1" "$dir/out.mka" >/dev/null
got=$(probe -show_entries format_tags=title,artist:stream_tags=language \
        -show_entries chapter=id,start,end:chapter_tags=title -of compact=p=0 "$dir/out.mka")
expected='tag:language=ger
id=1|start=0|end=500000000|tag:title=Intro
id=2|start=500000000|end=3600123000000|tag:title=Main
tag:title=Album title|tag:ARTIST=Some One'
if [ "$got" != "$expected" ]; then
  printf 'ffprobe read:\n%s\nexpected:\n%s\n' "$got" "$expected" >&2
  exit 1
fi
