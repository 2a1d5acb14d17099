#!/usr/bin/env bash
# The 64-bit Windows build, cross-compiled with MinGW-w64 and run under Wine.
#
#   windows.sh package  flatav.dll and flatav.exe on a minimal FFmpeg, checked
#                       (exports, imports) and packed into flatav-windows-x64.zip
#   windows.sh test     the package's jobs under Wine against the Linux build,
#                       then the GoogleTest suite under Wine
#
# BUILD is the Linux build tree the jobs compare with; the Windows trees are
# $BUILD-windows (the package) and $BUILD-windows-tests (the suite, built
# with the posix thread model that std::thread needs).
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
mode=${1:?usage: windows.sh package|test}
BUILD=${BUILD:-build}
JOBS=${JOBS:-$(nproc)}
CACHE=${FLATAV_CACHE:-$HOME/.cache/flatav}
package_dir=$BUILD-windows
zip=$package_dir/flatav-windows-x64.zip
export WINEPREFIX=${WINEPREFIX:-$CACHE/wine} WINEDEBUG=-all WINEARCH=win64

bash scripts/install-deps.sh gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64 \
    binutils-mingw-w64-x86-64 nasm dpkg-dev zip unzip cmake ninja-build pkg-config
ffmpeg_prefix=$(JOBS=$JOBS bash scripts/windows-ffmpeg.sh | tail -1)
export PKG_CONFIG_LIBDIR=$ffmpeg_prefix/lib/pkgconfig

# configure_windows DIR THREADS CMAKE_ARGS...
configure_windows() {
    local dir=$1 threads=$2
    shift 2
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
        -DFLATAV_MINGW_THREADS="$threads" -DCMAKE_BUILD_TYPE=Release \
        -DFLATAV_BUILD_BENCH=OFF "$@" >/dev/null
}

# The export table of flatav.dll: exactly the functions the header declares.
check_exports() {
    diff <(grep -oP '^FLATAV_API\s+[^;(]*?\b\K\w+(?=\s*\()' include/flatav.h | sort) \
        <(x86_64-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            grep -oP '^\s+\[\s*\d+\]\s+\K\w+' | sort) ||
        { echo "$1: exports differ from the header (< header, > DLL)" >&2; return 1; }
}

# The import table: flatav's and FFmpeg's DLLs and Windows' own, so that a
# host ships nothing else.
check_imports() {
    local ours bad=0
    ours=$(cd "$ffmpeg_prefix/bin" && ls ./*.dll | sed 's|^\./||'; echo flatav.dll)
    while read -r name; do
        if ! grep -qixF "$name" <<<"$ours" &&
            ! grep -qiE '^(kernel32|msvcrt|user32|advapi32|shell32|ole32|bcrypt|api-ms-win-.*)\.dll$' <<<"$name"; then
            echo "$1 imports $name, which is neither flatav's, FFmpeg's nor Windows' own" >&2
            bad=1
        fi
    done < <(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\tDLL Name: //p')
    return $bad
}

package() {
    configure_windows "$package_dir" win32 -DFLATAV_BUILD_TESTS=OFF
    cmake --build "$package_dir" -j "$JOBS"
    check_exports "$package_dir/flatav.dll"
    check_imports "$package_dir/flatav.dll"
    check_imports "$package_dir/tools/flatav.exe"
    local stage=$package_dir/flatav-windows-x64
    rm -rf "$stage" "$zip"
    mkdir -p "$stage"
    cp "$package_dir"/flatav.dll "$package_dir"/libflatav.dll.a "$package_dir"/flatav.def \
        "$package_dir"/tools/flatav.exe include/flatav.h scripts/windows-readme.txt "$stage"/
    mv "$stage"/windows-readme.txt "$stage"/README.txt
    # An import library in the name Microsoft's linker looks for.
    x86_64-w64-mingw32-dlltool -d "$stage"/flatav.def -D flatav.dll -l "$stage"/flatav.lib
    # FFmpeg's libraries that flatav uses (the rest serve ffmpeg.exe).
    cp "$ffmpeg_prefix"/bin/{avcodec,avformat,avutil,avfilter,swresample}-*.dll "$stage"/
    x86_64-w64-mingw32-strip "$stage"/*.dll "$stage"/flatav.exe
    (cd "$package_dir" && zip -qr "$(basename "$zip")" "$(basename "$stage")")
    echo "$zip: $(unzip -l "$zip" | tail -1 | awk '{print $2}') files," \
        "$(du -k "$zip" | cut -f1) KiB; flatav.dll exports $(x86_64-w64-mingw32-objdump -p \
        "$stage"/flatav.dll | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -cP '^\s+\[\s*\d+\]\s+\w+$')"
}

run_tests() {
    bash scripts/install-deps.sh wine64 googletest
    WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
    [ -d "$WINEPREFIX" ] || "$WINE" wineboot -i >/dev/null 2>&1
    local gtest
    gtest=$(bash scripts/windows-googletest.sh | tail -1)
    local stage=$package_dir/flatav-windows-x64
    [ -f "$stage/flatav.dll" ] || package
    bash tests/windows/jobs.sh "$BUILD" "$stage" "$WINE" "$package_dir/jobs" "$ffmpeg_prefix/bin"

    local suite=$BUILD-windows-tests
    configure_windows "$suite" posix -DFLATAV_BUILD_TESTS=ON -DCMAKE_PREFIX_PATH="$gtest" \
        -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
    cmake --build "$suite" -j "$JOBS" --target flatav_tests
    bash tests/windows/suite.sh "$suite" "$WINE" "$ffmpeg_prefix"
}

case $mode in
package) package ;;
test) run_tests ;;
*) echo "usage: windows.sh package|test" >&2; exit 2 ;;
esac
