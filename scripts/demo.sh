#!/usr/bin/env bash
# Makes a demo input (tagged, with chapters) and shows what the flatav tool
# learns from it, decodes it, transcodes it to FLAC and MP3 and describes
# the results.
set -euo pipefail
build=${1:-build}
demo="$build/demo"
flatav="$build/tools/flatav"
mkdir -p "$demo"

cat > "$demo/chapters.txt" <<'META'
;FFMETADATA1
title=flatav demo
artist=The Sine Waves
[CHAPTER]
TIMEBASE=1/1000
START=0
END=2000
title=Intro
[CHAPTER]
TIMEBASE=1/1000
START=2000
END=5000
title=Main theme
META
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*660*t):s=44100:d=5" \
  -i "$demo/chapters.txt" -map 0:a -map_metadata 1 -map_chapters 1 \
  -metadata:s:a:0 language=eng -c:a flac -sample_fmt s16 "$demo/demo.mka"

echo "== flatav info $demo/demo.mka"
"$flatav" info "$demo/demo.mka"
echo
echo "== flatav decode $demo/demo.mka $demo/demo.raw"
"$flatav" decode -y "$demo/demo.mka" "$demo/demo.raw"
echo
echo "== flatav encoders"
"$flatav" encoders
for out in demo.flac demo.mp3; do
  echo
  echo "== flatav transcode $demo/demo.mka $demo/$out"
  "$flatav" transcode -y "$demo/demo.mka" "$demo/$out"
  echo
  echo "== flatav info $demo/$out"
  "$flatav" info "$demo/$out"
done
