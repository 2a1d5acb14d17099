#!/usr/bin/env bash
# The MLP benchmark inputs: 3 minutes (and 20 seconds, for instruction
# counts) of stereo 48 kHz audio as 16- and 24-bit MLP elementary streams.
# The encoder takes packed samples in FFmpeg 5.1 and planar ones in 7.1:
# aformat offers both.
set -euo pipefail
out=${1:?usage: make_mlp_inputs.sh OUTPUT_DIR}
mkdir -p "$out"
signal="aevalsrc=0.4*sin(2*PI*440*t)+0.1*sin(2*PI*3000*t)|0.4*sin(2*PI*660*t):s=48000"
make() {
  local name=$1 seconds=$2 format=$3
  [ -s "$out/$name" ] && return
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "$signal:d=$seconds" \
    -f lavfi -i "anoisesrc=d=$seconds:c=pink:a=0.05:r=48000:seed=7" \
    -filter_complex "[0][1]amerge=inputs=2,pan=stereo|c0=c0+c2|c1=c1+c2,aformat=sample_fmts=$format|${format}p" \
    -c:a mlp -strict -2 -fflags +bitexact -flags:a +bitexact \
    -f mlp "$out/$name.tmp"
  mv "$out/$name.tmp" "$out/$name"
}
make long16.mlp 180 s16
make long24.mlp 180 s32
make short16.mlp 20 s16
make short24.mlp 20 s32
