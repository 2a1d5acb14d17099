#!/usr/bin/env bash
# Runs the GoogleTest suite cross-built for Windows under Wine, less the
# tests skip.txt names (each with its reason), against inputs the Linux
# ffmpeg tool makes. Its own references are the Windows ffmpeg and ffprobe
# built on the same FFmpeg DLLs.
#
# usage: suite.sh SUITE_BUILD WINE FFMPEG_PREFIX
set -euo pipefail
suite=$(realpath "$1") wine=$2 ffmpeg_prefix=$3
here=$(cd "$(dirname "$0")" && pwd)
windows_path() { echo "Z:${1//\//\\}"; }
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
export WINEPATH="$(windows_path "$ffmpeg_prefix/bin");$(windows_path "$runtime");$(windows_path /usr/x86_64-w64-mingw32/lib)"
export LC_ALL=C.UTF-8
bash "$here/../fixtures/generate.sh" "$suite/media"

# skip.txt: "PATTERN  reason" per line, PATTERN a --gtest_filter pattern.
filter=$(sed -n 's/^\([^# ][^ ]*\) .*/\1/p' "$here/skip.txt" | paste -sd:)
echo "skipped under Wine:"
sed -n 's/^\([^# ][^ ]*\) \+\(.*\)/  \1: \2/p' "$here/skip.txt"
report=$suite/windows-suite.json
rm -f "$report"
status=0
(cd "$suite" && "$wine" tests/flatav_tests.exe --gtest_brief=1 --gtest_filter="-$filter" \
    --gtest_output="json:$(windows_path "$report")") || status=$?
[ -f "$report" ] || { echo "the suite did not run (exit $status)"; exit 1; }
read -r tests failures skipped < <(jq -r '[.tests, .failures,
    ([.testsuites[].testsuite[] | select(.result == "SKIPPED")] | length)] | @tsv' "$report")
echo "windows suite: $((tests - failures - skipped)) passed, $failures failed, $skipped skipped"
exit "$status"
