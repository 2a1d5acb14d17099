#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets from the test inputs: the
# inputs are generated into BUILD_DIR/media by the tests' own generator,
# then cut, split into packets and given each target's option bytes (see the
# comment at the top of each fuzz/*_fuzz.cpp). Seeds go to
# BUILD_DIR/fuzz-seeds/<target>/. Usage: make_seeds.sh BUILD_DIR
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: make_seeds.sh BUILD_DIR}
media=$build/media
seeds=$build/fuzz-seeds
bash "$here/../tests/fixtures/generate.sh" "$media"
rm -rf "$seeds"
mkdir -p "$seeds"/{decoder_fuzz,buffer_decode_fuzz,mem_decode_fuzz,filter_fuzz,resample_fuzz}

# le16 N: two bytes, little-endian.
le16() { printf "$(printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)))"; }

# seed TARGET NAME OPTIONS FILE BYTES: OPTIONS (printf escapes) followed by
# the first BYTES of FILE.
seed() {
  local target=$1 name=$2 options=$3 file=$4 bytes=$5
  { printf "$options"; head -c "$bytes" "$media/$file"; } > "$seeds/$target/$name"
}

# packets FILE COUNT [HEADER]: the first COUNT packets of the first audio
# stream of FILE, each behind its 2-byte length. HEADER: bytes between the
# position the demuxer reports and the packet's data (DSDIFF's chunk header).
packets() {
  local file=$1 count=$2 header=${3:-0} size pos
  ffprobe -v error -select_streams a:0 -show_entries packet=size,pos \
      -of compact=p=0:nk=0 "$media/$file" | sed -n "1,${count}p" |
    while IFS='|' read -r size pos; do
      size=${size#size=} pos=${pos#pos=}
      le16 "$size"
      dd if="$media/$file" bs=65536 iflag=skip_bytes,count_bytes skip=$((pos + header)) \
        count="$size" status=none
    done
}

# Source decoder: a slice of every container and codec the tests make, each
# read in decode mode (AudioBuffer, packed), copy mode (format from
# ff_probe), raw packet mode (from ff_probe2) and durations mode.
declare -A decoder_modes=(
  [decode]='\xa0\xff\x00\x00\x00\x00\x00'
  [packed]='\xe4\xff\x01\x00\x00\x00\x00'
  [copy]='\x82\xff\x02\x00\x40\x00\x01'
  [raw]='\x83\xff\x0a\x05\x10\x03\x02'
  [durations]='\x09\xff\x00\x02\x00\x00\x00'
)
for file in stereo_s16.wav stereo_s24.wav flac16.flac flac24.flac mp3.mp3 vorbis.ogg \
    opus.opus aac.m4a aac.aac alac.m4a surround51.flac video_audio.mkv tags_chapters.mka \
    damaged.aac unknown_codec.wav sweep.ts aac_dts.mkv dst_stereo.dff mlp_s16_51.mlp \
    aac_mono_then_stereo.aac; do
  for mode in "${!decoder_modes[@]}"; do
    seed decoder_fuzz "$mode-$file" "${decoder_modes[$mode]}" "$file" 32768
  done
done

# Packet buffer decoder: the first packets of the MLP streams and of the DST
# file, with the record's channels, format and rate set as the streams are.
{ printf '\x01\x02\x02\x03\x00'; packets mlp_s16_stereo.mlp 60; } \
  > "$seeds/buffer_decode_fuzz/mlp-s16-stereo"
{ printf '\x01\x06\x03\x03\x00'; packets mlp_s32_51.mlp 60; } \
  > "$seeds/buffer_decode_fuzz/mlp-s32-51"
{ printf '\x03\x02\x03\x02\x00'; packets mlp_s32_stereo.mlp 60; } \
  > "$seeds/buffer_decode_fuzz/mlp-s32-stereo-reopen"
{ printf '\x00\x02\x04\x08\x00'; packets dst_stereo.dff 3 12; } \
  > "$seeds/buffer_decode_fuzz/dst-stereo"

# Memory-source decoder: the MLP streams in large, small and mixed reads.
seed mem_decode_fuzz large-s16-stereo '\x01\xff\x0f\x00\x10\x40\x40\x40\x40\x40\x40\x40\x40\x00' \
  mlp_s16_stereo.mlp 32768
seed mem_decode_fuzz small-s32-51 '\x01\xff\x03\x00\x02\x01\x02\x03\x05\x08\x0d\x15\x22\x00' \
  mlp_s32_51.mlp 32768
seed mem_decode_fuzz mixed-s16-51 '\x01\xff\x1f\x00\x08\x40\x00\xff\x10\x01\x00\x80\x20\x07' \
  mlp_s16_51.mlp 32768

# Filter: common filters with their arguments over the filter inputs, in
# packed 16-bit, packed float and planar float.
filter_seed() {  # NAME ARGS FORMAT_BYTE FILE
  { printf '\xff%b\x01\x00\x00\x00\x00\x10' "$3"; printf '%s\0%s\0' "$1" "$2"
    head -c 65536 "$media/$4"; } > "$seeds/filter_fuzz/$1-$(printf '%s' "$2$3" | md5sum | cut -c1-8)"
}
while IFS=' ' read -r name args; do
  filter_seed "$name" "$args" '\x02' filter_s16le.raw
  filter_seed "$name" "$args" '\x04' filter_f32le.raw
  filter_seed "$name" "$args" '\x09' filter_f32le.raw
done <<'FILTERS'
volume 0.5
aecho 0.8:0.9:40:0.3
atempo 1.25
aresample 22050
lowpass f=1000
equalizer f=1000:t=q:w=1:g=2
dynaudnorm f=100
acompressor
silenceremove start_periods=1
aformat sample_fmts=fltp
pan stereo|c0=c1|c1=c0
channelmap map=1|0
asetrate r=22050
areverse
afade t=in:d=0.1
atrim start=0.01:end=0.05
asetnsamples n=100
adelay 10|20
chorus 0.5:0.9:50:0.4:0.25:2
compand
extrastereo
loudnorm
afftdn
FILTERS

# Resampler: rate, format and layout changes, with the record's buffer,
# the host's capacity and a remix matrix.
seed resample_fuzz s16-44k-flt-48k '\x02\x04\x00\x00\x01\x00\x02\x02\x00\x00\x00\x02\x00\x10\x00\x00\x00\x00\x00\x00\x00\x00' \
  res_44k_s16.raw 65536
seed resample_fuzz flt-51-s16-stereo '\x04\x02\x01\x00\x00\x00\x07\x02\x00\x00\x01\x00\x00\x30\x00\x00\x00\x00\x00\x00\x00\x00' \
  res_48k_51_flt.raw 65536
seed resample_fuzz flt-mono-s32-96k-matrix '\x04\x03\x00\x00\x08\x00\x01\x02\x00\x00\x00\x05\x10\x04\x00\x04\x00\x00\x00\x00\x00\x00' \
  res_44k_mono_flt.raw 65536
seed resample_fuzz s16-96k-u8-8k-dither '\x02\x01\x08\x00\x02\x00\x02\x01\x03\x00\x00\x0a\x00\x08\x00\x00\x00\x00\x00\x00\x00\x00' \
  res_96k_s16.raw 65536
seed resample_fuzz s16-48k-dbl-44k-soxr '\x02\x06\x01\x00\x00\x00\x02\x02\x00\x14\x02\x12\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00' \
  res_48k_s16.raw 65536

for dir in "$seeds"/*; do
  echo "$(basename "$dir"): $(find "$dir" -type f | wc -l) seeds"
done
