#!/usr/bin/env bash
# Cross-builds GoogleTest for 64-bit Windows from Debian's googletest source
# package (/usr/src/googletest), with the posix thread model, into the cache.
# Prints the install prefix on the last line.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${FLATAV_CACHE:-$HOME/.cache/flatav}
version=$(dpkg-query -W -f='${Version}' googletest)
prefix=$CACHE/windows/googletest-$version
if [ ! -f "$prefix/.built" ]; then
    build=$prefix.build
    rm -rf "$build" "$prefix"
    cmake -S /usr/src/googletest -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" -DFLATAV_MINGW_THREADS=posix \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    nice cmake --build "$build" -j "${JOBS:-$(nproc)}" >/dev/null
    cmake --install "$build" >/dev/null
    rm -rf "$build"
    touch "$prefix/.built"
fi
echo "$prefix"
