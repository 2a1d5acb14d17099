#!/usr/bin/env bash
# Cross-builds a minimal FFmpeg for 64-bit Windows (DLLs and import libraries)
# from Debian's own source package, so that the Windows build of flatav runs
# on the same FFmpeg release as the Linux one.
#
# usage: windows-ffmpeg.sh        prints the install prefix on the last line
#
# Everything is cached under $FLATAV_CACHE (default ~/.cache/flatav): the
# source package, fetched through a private apt configuration (the machine's
# own sources stay as they are), and the build, keyed by the release and by a
# hash of the configure line, so a second run does nothing.
set -euo pipefail

CACHE=${FLATAV_CACHE:-$HOME/.cache/flatav}
JOBS=${JOBS:-$(nproc)}
HOST=x86_64-w64-mingw32
APT_DIR=$CACHE/apt
SRC_DIR=$CACHE/src

log() { echo "windows-ffmpeg: $*" >&2; }

apt_private() {
    apt-get -o Dir::Etc::SourceList="$APT_DIR/etc/sources.list" \
        -o Dir::Etc::SourceParts="$APT_DIR/etc/sources.list.d" \
        -o Dir::State::Lists="$APT_DIR/lists" \
        -o Dir::Cache="$APT_DIR/cache" \
        -o Dir::Etc::Preferences="$APT_DIR/etc/preferences" \
        -o Dir::Etc::PreferencesParts="$APT_DIR/etc/preferences.d" \
        -o APT::Sandbox::User=root "$@"
}

# The source package of the FFmpeg the machine has installed (Debian 12: 5.1.x).
fetch_source() {
    if compgen -G "$SRC_DIR/ffmpeg_*.dsc" >/dev/null; then
        return
    fi
    log "fetching FFmpeg's source package"
    mkdir -p "$APT_DIR"/{lists/partial,cache/archives/partial,etc/sources.list.d,etc/preferences.d} "$SRC_DIR"
    local suite
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    cat >"$APT_DIR/etc/sources.list" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security $suite-security main
EOF
    apt_private update -qq
    (cd "$SRC_DIR" && apt_private source --download-only -qq ffmpeg)
}

# Names listed in a registry file between two comment lines: FFmpeg keeps its
# audio codecs together in allcodecs.c, ahead of subtitles and external ones.
codecs_between() { # file kind first-marker end-marker
    sed -n "\#$3#,\#$4#p" "$1" | sed -n "s/.*ff_\([a-z0-9_]*\)_$2;.*/\1/p"
}

configure_args() {
    local src=$1 decoders encoders filters
    decoders=$(codecs_between "$src/libavcodec/allcodecs.c" decoder '/\* audio codecs \*/' '/\* subtitles \*/')
    encoders=$(codecs_between "$src/libavcodec/allcodecs.c" encoder '/\* audio codecs \*/' '/\* subtitles \*/')
    filters=$(sed -n 's/.*ff_\(af\|asrc\|asink\)_\([a-z0-9_]*\);.*/\2/p' "$src/libavfilter/allfilters.c")
    # amovie reads a file through libavformat, which makes libavfilter link
    # it: the metadata filters write through it too.
    filters="$filters amovie"
    local parsers="aac aac_latm ac3 adx amr cook dca dolby_e flac g723_1 g729 gsm mlp
        mpegaudio opus sbc sipr tak vorbis xma"
    local bsfs="aac_adtstoasc chomp dca_core eac3_core mp3_header_decompress null
        opus_metadata pcm_rechunk truehd_core"
    # ffmpeg.exe and ffprobe.exe (with the pipe protocol for their output)
    # are the Windows build's reference in the tests; the package leaves them out.
    echo --target-os=mingw32 --arch=x86_64 --cross-prefix=$HOST- \
        --enable-shared --disable-static --disable-doc \
        --disable-network --disable-autodetect --disable-everything \
        --disable-ffplay --enable-ffmpeg --enable-ffprobe \
        --enable-avformat --enable-avcodec --enable-avutil --enable-swresample \
        --enable-avfilter --enable-protocol=file --enable-protocol=pipe \
        --enable-demuxers --enable-muxers \
        $(printf -- '--enable-decoder=%s ' $decoders) \
        $(printf -- '--enable-encoder=%s ' $encoders) \
        $(printf -- '--enable-parser=%s ' $parsers) \
        $(printf -- '--enable-bsf=%s ' $bsfs) \
        $(printf -- '--enable-filter=%s ' $filters)
}

fetch_source
dsc=$(ls "$SRC_DIR"/ffmpeg_*.dsc | sort -V | tail -1)
upstream=$(basename "$dsc" .dsc | sed 's/^ffmpeg_//; s/-[^-]*$//')
tree=$CACHE/windows/ffmpeg-$upstream-src
if [ ! -f "$tree/configure" ]; then
    log "unpacking $(basename "$dsc")"
    rm -rf "$tree"
    mkdir -p "$CACHE/windows"
    dpkg-source --no-check -x "$dsc" "$tree" >/dev/null
fi

args=$(configure_args "$tree")
key=$(echo "$args" | sha256sum | cut -c1-12)
prefix=$CACHE/windows/ffmpeg-$upstream-$key
if [ -f "$prefix/.built" ]; then
    echo "$prefix"
    exit 0
fi

log "building FFmpeg $upstream for $HOST into $prefix"
# An interrupted build goes on where it stopped.
build=$prefix.build
rm -rf "$prefix"
mkdir -p "$build"
# shellcheck disable=SC2086
(cd "$build" && "$tree/configure" --prefix="$prefix" $args >configure.log 2>&1) ||
    { tail -30 "$build/configure.log" >&2; exit 1; }
nice make -C "$build" -j"$JOBS" >"$build/make.log" 2>&1 || { tail -30 "$build/make.log" >&2; exit 1; }
make -C "$build" install >>"$build/make.log" 2>&1
rm -rf "$build"
touch "$prefix/.built"
echo "$prefix"
