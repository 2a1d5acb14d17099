#!/usr/bin/env bash
# The same jobs through the Linux build and through the Windows package
# under Wine: each row's output (standard output, or the file it writes)
# and exit status must be equal, byte for byte. The C host decodes a FLAC
# through its own read and seek functions to what the ffmpeg tool decodes.
#
# usage: jobs.sh LINUX_BUILD WINDOWS_PACKAGE_DIR WINE WORK_DIR WINDOWS_FFMPEG_BIN
set -euo pipefail -o noglob
build=$(realpath "$1") stage=$(realpath "$2") wine=$3 work=$4 ffmpeg_bin=$5
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work"/{in,linux,windows}
work=$(realpath "$work")
M=$build/media W=$work/in
export LC_ALL=C.UTF-8 # Wine reads the command line in the locale's encoding
bash "$here/../fixtures/generate.sh" "$M"
make_input() { ffmpeg -nostdin -v error -y "$@" -fflags +bitexact -flags:a +bitexact; }
make_input -i "$M/sweep.wav" -c:a wavpack "$W/sweep.wv"
make_input -i "$M/sweep.wav" -c:a tta "$W/sweep.tta"
cp "$M/flac16.flac" "$W/ünï cödé ✓.flac"

# name | arguments: $M generated media, $W inputs made here, $O a name in
# the side's own folder; words part at spaces ("\\ " is a space in a word). A row
# whose arguments end in "-" compares standard output; any other compares
# the file its last argument names. Every row but the last must succeed.
# A third column gives the Windows ffmpeg.exe's arguments for the reference
# instead of the Linux build: FFmpeg's float decoders, as Debian builds
# them for Linux and as they are built here, round the last bit of a few
# samples differently (by 6e-8 at most), while flatav on either system
# gives exactly what the ffmpeg tool on the same FFmpeg gives.
rows=$(cat <<'EOF'
info_text        | info $M/tool_tags.flac $M/tool_two_audio.mka
info_json        | info --json $M/tool_tags.m4a $M/tool_71.flac
decode_flac24    | decode $M/flac24.flac -
decode_alac      | decode $M/alac24.m4a -
decode_wav       | decode $M/stereo_s24.wav -
decode_aac       | decode $M/aac51.mp4 -  | -i $M/aac51.mp4 -f f32le -
decode_mp2       | decode $M/mp2.ts -
decode_ac3       | decode $M/ac3_51.ac3 -
decode_opus      | decode $M/opus.opus -  | -i $M/opus.opus -f f32le -
decode_vorbis    | decode $M/vorbis.ogg -
decode_wavpack   | decode $W/sweep.wv -
decode_tta       | decode $W/sweep.tta -
decode_converted | decode --rate=48000 --channels=1 --sample-format=s32 $M/sweep.flac -
decode_to_wav    | decode --duration=0.5 $M/surround51.flac $O.wav
decode_utf8_name | decode $W/ünï\ cödé\ ✓.flac -
transcode_flac   | transcode $M/tool_tags.flac $O.flac
transcode_utf8   | transcode $W/ünï\ cödé\ ✓.flac $O\ ✓.flac
transcode_alac   | transcode --start=0.25 --duration=1 $M/sweep.wav $O.m4a
transcode_aac    | transcode --bitrate=96k $M/sweep.flac $O.m4a
transcode_ac3    | transcode $M/tool_71.flac $O.ac3
transcode_mp2    | transcode $M/sweep.wav $O.mp2
transcode_wv     | transcode --filter=volume=0.5 $M/sweep.ogg $O.wv
transcode_tta    | transcode --rate=22050 $M/sweep.mp3 $O.tta
copy_adts        | copy $M/aac.m4a $O.aac
copy_tags        | copy $M/tags_chapters.mka $O.flac
replaces_with_y  | transcode -y $M/sweep.wav $O.flac
refuses_in_as_out| transcode -y $O.flac $O.flac
EOF
)

trim() { local t=${1#"${1%%[![:space:]]*}"}; echo "${t%"${t##*[![:space:]]}"}"; }

# side DIR linux|windows: runs every row, writing NAME.out (what it made)
# and NAME.status into DIR.
side() {
    local dir=$1 kind=$2 name args ref out
    # Files in the way: one -y replaces, one that must stay as it is.
    cp "$M/flac16.flac" "$dir/replaces_with_y.flac"
    cp "$M/flac16.flac" "$dir/refuses_in_as_out.flac"
    while IFS='|' read -r name args ref; do
        name=$(trim "$name") args=$(trim "$args") ref=$(trim "$ref")
        out=$dir/$name
        local cmd=("$build/tools/flatav")
        if [ "$kind" = windows ]; then
            cmd=("$wine" "$stage/flatav.exe")
        elif [ -n "$ref" ]; then
            cmd=("$wine" "$ffmpeg_bin/ffmpeg.exe" -nostdin -v error) args=$ref
        fi
        local argv=() word
        args=${args//\$M/$M} args=${args//\$W/$W} args=${args//\$O/$out}
        args=${args//\\ /$'\x1f'}
        for word in $args; do argv+=("${word//$'\x1f'/ }"); done
        local status=0
        if [ "${argv[-1]}" = "-" ]; then
            "${cmd[@]}" "${argv[@]}" >"$out.out" 2>"$out.err" || status=$?
        else
            "${cmd[@]}" "${argv[@]}" >/dev/null 2>"$out.err" || status=$?
            cat "${argv[-1]}" >"$out.out" 2>/dev/null || true
        fi
        echo "$status" >"$out.status"
    done <<<"$rows"
}
side "$work/linux" linux
side "$work/windows" windows

# The tool's messages too, each side's folder named alike, lines ending in
# CR LF on Windows as text streams do there (a reference made by ffmpeg.exe
# is not compared).
same_messages() {
    [ -n "$(trim "$3")" ] ||
        cmp -s <(sed "s|$work/linux/|D/|g" "$1") <(sed "s|$work/windows/|D/|g; s/\r$//" "$2")
}

passed=0 failed=0
while IFS='|' read -r name _ ref; do
    name=$(trim "$name")
    l=$work/linux/$name w=$work/windows/$name
    if [ "$(cat "$l.status")" = "$(cat "$w.status")" ] && cmp -s "$l.out" "$w.out" &&
        same_messages "$l.err" "$w.err" "$ref" &&
        [ "$(cat "$l.status")" = "$([ "$name" = refuses_in_as_out ] && echo 1 || echo 0)" ] &&
        [ -s "$l.out" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED $name: exit $(cat "$l.status") / $(cat "$w.status"), output" \
            "$(md5sum <"$l.out" | cut -c1-12) ($(stat -c%s "$l.out") B) /" \
            "$(md5sum <"$w.out" | cut -c1-12) ($(stat -c%s "$w.out") B)"
        sed 's/^/  linux: /' "$l.err" | head -3
        sed 's/^/  windows: /' "$w.err" | head -3
    fi
done <<<"$rows"

# The C host, built here against the package's header and import library.
x86_64-w64-mingw32-gcc -std=c99 -pedantic-errors -Wall -Wextra -Werror \
    -I"$stage" "$here/../c_host/c_host.c" -L"$stage" -lflatav -o "$stage/c_host.exe"
ffmpeg -nostdin -v error -i "$M/flac16.flac" -f s16le - >"$work/c_host.ffmpeg"
if "$wine" "$stage/c_host.exe" "$M/flac16.flac" "$(stat -c%s "$work/c_host.ffmpeg")" \
    "$work/c_host.raw" >/dev/null && cmp -s "$work/c_host.ffmpeg" "$work/c_host.raw"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
    echo "FAILED c_host: its PCM differs from the ffmpeg tool's"
fi
rm -f "$stage/c_host.exe"
echo "windows jobs: $passed passed, $failed failed"
[ "$failed" = 0 ]
