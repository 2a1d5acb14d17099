#!/usr/bin/env bash
# Runs the whole suite in a gcov build (FLATAV_COVERAGE=ON) and writes the
# line and branch coverage of src/ and tools/ to BUILD/coverage.txt: per file,
# per directory, then the totals.
# Usage: coverage.sh BUILD [JOBS]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: coverage.sh BUILD [JOBS]}" && pwd)
jobs=${2:-$(nproc)}

# Counts from an earlier run would add up with this one's.
find "$build" -name '*.gcda' -delete
# A failing test still leaves its counts: report them, then fail.
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?

gcovr --root "$root" --object-directory "$build" \
  --filter "$root/src/" --filter "$root/tools/" --json "$build/coverage.json"
report="$build/coverage.txt"
{
  gcovr --add-tracefile "$build/coverage.json" --root "$root" --txt -
  echo
  gcovr --add-tracefile "$build/coverage.json" --root "$root" --branches --txt -
  echo
  python3 - "$build/coverage.json" <<'PY'
import json, os, sys
from collections import defaultdict

# Directory -> [lines, lines run, branches, branches taken].
totals = defaultdict(lambda: [0, 0, 0, 0])
for entry in json.load(open(sys.argv[1]))["files"]:
    path = entry["file"]
    keys = (os.path.dirname(path) + "/", "all of " + path.split("/")[0] + "/")
    for line in entry["lines"]:
        if line["gcovr/noncode"] or line["gcovr/excluded"]:
            continue
        branches = line["branches"]
        for key in keys:
            t = totals[key]
            t[0] += 1
            t[1] += line["count"] > 0
            t[2] += len(branches)
            t[3] += sum(b["count"] > 0 for b in branches)

def percent(part, whole):
    return f"{100.0 * part / whole:.1f}%" if whole else "-"

print(f"{'Directory':<18}{'Lines':>7}{'Exec':>7}{'Cover':>8}"
      f"{'Branches':>10}{'Taken':>7}{'Cover':>8}")
for key in sorted(totals, key=lambda k: (k.startswith("all of "), k)):
    n, run, b, taken = totals[key]
    print(f"{key:<18}{n:>7}{run:>7}{percent(run, n):>8}"
          f"{b:>10}{taken:>7}{percent(taken, b):>8}")
PY
  echo
  echo "Summary (src/ and tools/):"
  # A file of its own: gcovr 5.2, run as root, replaces a --txt /dev/null
  # with a regular file.
  gcovr --add-tracefile "$build/coverage.json" --root "$root" --print-summary \
    --txt "$build/gcovr-summary.txt"
} > "$report"
sed -n '/^Directory /,$p' "$report"
echo "Report: $report"
exit "$status"
