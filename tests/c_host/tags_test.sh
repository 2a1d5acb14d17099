#!/usr/bin/env bash
# Runs the C host's tags mode and checks with ffprobe that the output carries
# the tags and the exact chapters it gave (Matroska keeps nanoseconds).
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$1" tags "$dir/out.mka" >/dev/null
diff - <(ffprobe -v error -show_entries format_tags=title,artist:stream_tags=language \
  -show_entries chapter=id,start,end:chapter_tags=title -of compact=p=0 "$dir/out.mka") <<'END'
tag:language=ger
id=1|start=0|end=500000000|tag:title=Intro
id=2|start=500000000|end=3600123000000|tag:title=Main
tag:title=Album title|tag:ARTIST=Some One
END
