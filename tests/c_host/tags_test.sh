#!/usr/bin/env bash
# c_tags against ffprobe: the tags and exact chapters a host writes through
# EncodeRec.tags (Matroska keeps times in nanoseconds), and a source's
# DecodeRec.tags, as read and as carried by a stream copy into Matroska.
# usage: tags_test.sh C_TAGS MEDIA_DIR CORPUS_DIR
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

# Odd nanoseconds and a chapter without tags; 112 chapters of a 47-hour
# book in 1/10000000 s, whose audio the file does not hold (FFmpeg reads no
# Matroska file without a packet, but FFmpeg's metadata file); none.
for pair in "$2/odd_chapters.mka copy.mka" "$3/mp4/nero-chapters.m4b copy.ffmeta" \
            "$2/flac16.flac copy.mka"; do
  read -r src out <<< "$pair"
  [ -f "$src" ] || continue
  "$1" "$src" "$dir/$out" > "$dir/record"
  { probe -show_entries chapter:chapter_tags "$src"
    probe -show_entries format_tags "$src"
    probe -show_entries stream_tags -select_streams a:0 "$src"; } > "$dir/source"
  diff "$dir/source" "$dir/record" || { echo "DecodeRec.tags of $src differ" >&2; exit 1; }
  diff <(probe -show_chapters "$src") <(probe -show_chapters "$dir/$out") ||
    { echo "the copy of $src has other chapters" >&2; exit 1; }
done
# A source that does not open leaves nothing behind (the sanitizer build
# checks for leaks).
if "$1" "$dir/missing.mka" "$dir/copy.mka" 2>/dev/null; then
  echo "a missing source opened" >&2
  exit 1
fi
