#!/usr/bin/env bash
# The benchmark inputs: 10 minutes (and 60 seconds, for instruction counts)
# of stereo 44.1 kHz audio as FLAC and MP3.
set -euo pipefail
out=${1:?usage: make_inputs.sh OUTPUT_DIR}
mkdir -p "$out"
signal="aevalsrc=0.4*sin(2*PI*440*t)+0.1*sin(2*PI*3000*t)|0.4*sin(2*PI*660*t):s=44100"
make() {
  local name=$1 seconds=$2
  shift 2
  [ -s "$out/$name" ] && return
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "$signal:d=$seconds" \
    -f lavfi -i "anoisesrc=d=$seconds:c=pink:a=0.05:r=44100:seed=7" \
    -filter_complex "[0][1]amerge=inputs=2,pan=stereo|c0=c0+c2|c1=c1+c2" \
    "$@" -fflags +bitexact -flags:a +bitexact "$out/$name.tmp.${name##*.}"
  mv "$out/$name.tmp.${name##*.}" "$out/$name"
}
make long.flac 600 -c:a flac -sample_fmt s16
make long.mp3 600 -c:a libmp3lame -b:a 192k
make minute.flac 60 -c:a flac -sample_fmt s16
make minute.mp3 60 -c:a libmp3lame -b:a 192k
make long.m4a 600 -c:a aac -b:a 192k
# An hour, for memory over a long stream.
make hour.mp3 3600 -c:a libmp3lame -b:a 192k
# Raw stereo 16-bit PCM for the encoding benchmarks.
make long.s16 600 -f s16le -c:a pcm_s16le
make minute.s16 60 -f s16le -c:a pcm_s16le
