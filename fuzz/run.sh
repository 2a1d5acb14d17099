#!/usr/bin/env bash
# Runs every fuzz target of BUILD_DIR for SECONDS each, one after the other,
# from its seeds (made by make_seeds.sh), the corpus earlier runs kept in
# BUILD_DIR/fuzz-corpus/<target> and the inputs of regressions/<target>. A
# finding is written to BUILD_DIR/fuzz-findings/<target>/ and makes the
# script fail once every target has run.
# Usage: run.sh BUILD_DIR SECONDS [TARGET...]
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: run.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:?usage: run.sh BUILD_DIR SECONDS [TARGET...]}
shift 2
targets=("$@")
[ ${#targets[@]} -eq 0 ] &&
  targets=(decoder_fuzz buffer_decode_fuzz mem_decode_fuzz filter_fuzz resample_fuzz)

bash "$here/make_seeds.sh" "$build" || exit 1

# Largest input per target: the seeds are cut to fit.
declare -A max_len=(
  [decoder_fuzz]=65536 [buffer_decode_fuzz]=65536 [mem_decode_fuzz]=65536
  [filter_fuzz]=70000 [resample_fuzz]=70000
)

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$here/../scripts/lsan.supp

# The targets run in an empty directory: a file name that FFmpeg makes up
# from fuzzed bytes finds nothing there.
work=$build/fuzz-work
rm -rf "$work" && mkdir -p "$work"
build=$(cd "$build" && pwd)

failed=()
for target in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$target
  findings=$build/fuzz-findings/$target
  mkdir -p "$corpus" "$findings"
  log=$build/fuzz-$target.log
  echo "== $target: ${seconds}s (log: $log)"
  # -timeout: one input that runs this long is a finding (a hang);
  # -rss_limit_mb / -malloc_limit_mb: the memory one input may take.
  # The committed inputs of the target, where it has any.
  regressions=()
  [ -d "$here/regressions/$target" ] && regressions=("$here/regressions/$target")
  (cd "$work" && exec "$build/fuzz/$target" "$corpus" "$build/fuzz-seeds/$target" \
    "${regressions[@]}" \
    -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -malloc_limit_mb=512 \
    -max_len="${max_len[$target]}" -artifact_prefix="$findings/" \
    -print_final_stats=1) > "$log" 2>&1
  status=$?
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "$log" |
    sed 's/^/   /'
  if [ $status -ne 0 ]; then
    echo "   FINDING (exit $status):"
    grep -E 'ERROR|SUMMARY|runtime error|fuzz:|Test unit written' "$log" | head -n 8 |
      sed 's/^/   /'
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Findings in: ${failed[*]}" >&2
  exit 1
fi
echo "No findings."
