#!/usr/bin/env bash
# Installs a build tree into a temporary prefix and builds the example host
# of examples/host against it three ways: CMake with find_package(flatav),
# CMake with pkg-config, and a bare compiler line from `pkg-config flatav`.
# Each host decodes generated files; what they print must agree and the PCM
# must equal the ffmpeg tool's. The installed `flatav` tool must run too.
# Usage: test-install.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
fail() { echo "test-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in include/flatav.h bin/flatav; do
  [ -f "$prefix/$file" ] || fail "$file was not installed"
done
lib=$(dirname "$(find "$prefix" -name 'libflatav.so' | head -n 1)")
[ -n "$lib" ] && [ -d "$lib" ] || fail "libflatav.so was not installed"
for file in cmake/flatav/flatavConfig.cmake cmake/flatav/flatavConfigVersion.cmake \
            cmake/flatav/flatavTargets.cmake pkgconfig/flatav.pc; do
  [ -f "$lib/$file" ] || fail "${lib#$prefix/}/$file was not installed"
done
grep -q '^Requires.private: libavformat libavcodec libavutil libswresample libavfilter$' \
  "$lib/pkgconfig/flatav.pc" || fail "flatav.pc does not require the FFmpeg libraries"

# Nothing of the build tree may leak into the hosts: they see only $prefix.
export PKG_CONFIG_PATH="$lib/pkgconfig"
cmake_host() {  # cmake_host DIR ARGS...: configures and builds the example in DIR
  local dir=$1; shift
  cmake -S "$root/examples/host" -B "$dir" -G Ninja "$@" >"$dir.log" 2>&1 &&
    cmake --build "$dir" >>"$dir.log" 2>&1 || { cat "$dir.log" >&2; fail "building in $dir failed"; }
}
mkdir -p "$work/find_package" "$work/pkgconfig"
cmake_host "$work/find_package" -DCMAKE_PREFIX_PATH="$prefix"
cmake_host "$work/pkgconfig" -DFLATAV_HOST_PKGCONFIG=ON
# shellcheck disable=SC2046 # pkg-config's words are separate arguments
cc -std=c99 -pedantic-errors -Wall -Wextra -Werror "$root/examples/host/host.c" \
  -o "$work/cc_host" $(pkg-config --cflags --libs flatav) \
  -Wl,-rpath,"$(pkg-config --variable=libdir flatav)"
hosts=("$work/find_package/flatav_host" "$work/pkgconfig/flatav_host" "$work/cc_host")
for host in "${hosts[@]}"; do
  readelf -d "$host" | grep -q 'NEEDED.*libflatav\.so\.0' || fail "$host does not use libflatav.so.0"
done

# Inputs: FLAC in Matroska with tags and chapters, and MP3 (planar float,
# which the host receives interleaved).
cat > "$work/meta.txt" <<'META'
;FFMETADATA1
title=Install check
[CHAPTER]
TIMEBASE=1/1000
START=0
END=1500
title=One
META
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
tones="aevalsrc=0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=44100:d=3"
ff -f lavfi -i "$tones" -i "$work/meta.txt" -map 0:a -map_metadata 1 -map_chapters 1 \
  -c:a flac -sample_fmt s16 "$work/tones.mka"
ff -f lavfi -i "$tones" -c:a libmp3lame -b:a 128k "$work/tones.mp3"

check() {  # check INPUT RAW_FORMAT FRAME_BYTES
  local input=$1 format=$2 frame_bytes=$3 name
  name=$(basename "$input")
  ff -i "$input" -f "$format" "$work/$name.ffmpeg"
  local bytes
  bytes=$(stat -c %s "$work/$name.ffmpeg")
  [ "$bytes" -gt 0 ] || fail "ffmpeg decoded nothing from $name"
  for host in "${hosts[@]}"; do
    "$host" "$input" "$work/$name.raw" >"$work/$name.out" || fail "$host failed on $name"
    cmp -s "$work/$name.raw" "$work/$name.ffmpeg" || fail "$host: PCM of $name differs from ffmpeg's"
    grep -qx "decoded stream 0: $bytes bytes, $((bytes / frame_bytes)) sample frames, position 3.000 s" \
      "$work/$name.out" || { cat "$work/$name.out" >&2; fail "$host: wrong summary for $name"; }
    if [ "$host" != "${hosts[0]}" ]; then
      cmp -s "$work/$name.out" "$work/$name.first" || fail "$host prints other facts about $name"
    else
      cp "$work/$name.out" "$work/$name.first"
    fi
  done
}
check "$work/tones.mka" s16le 4
grep -qx 'tag: title=Install check' "$work/tones.mka.first" || fail "the container tag is missing"
grep -qxE 'chapter [0-9]+: 0.000-1.500 s title=One' "$work/tones.mka.first" || fail "the chapter is missing"
check "$work/tones.mp3" f32le 8

"$prefix/bin/flatav" info "$work/tones.mka" | grep -q 'Install check' ||
  fail "the installed flatav tool does not run"
echo "test-install: installed into a temporary prefix; find_package, pkg-config (CMake and" \
  "compiler line) hosts built and decoded like ffmpeg; the installed tool runs"
