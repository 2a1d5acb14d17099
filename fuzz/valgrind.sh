#!/usr/bin/env bash
# Replays what fuzzing kept (the seeds, the corpus and the findings of
# FUZZ_DIR, and the inputs of regressions/) through the plain <target>_replay
# programs of BUILD_DIR under valgrind. ASan, in the fuzz build, sees only
# the code it compiled; valgrind also sees a write past a buffer inside
# FFmpeg's own code, which corrupts the heap and shows up in the fuzz build,
# if at all, much later and elsewhere. Usage: valgrind.sh BUILD_DIR FUZZ_DIR [TARGET...]
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: valgrind.sh BUILD_DIR FUZZ_DIR [TARGET...]}
fuzz=${2:?usage: valgrind.sh BUILD_DIR FUZZ_DIR [TARGET...]}
shift 2
build=$(cd "$build" && pwd)
fuzz=$(cd "$fuzz" && pwd)
targets=("$@")
[ ${#targets[@]} -eq 0 ] &&
  targets=(decoder_fuzz buffer_decode_fuzz mem_decode_fuzz filter_fuzz resample_fuzz)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for target in "${targets[@]}"; do
  inputs=()
  for dir in "$fuzz"/fuzz-{seeds,corpus,findings}/"$target" "$here/regressions/$target"; do
    [ -d "$dir" ] && while IFS= read -r -d '' f; do inputs+=("$f"); done \
      < <(find "$dir" -type f -print0)
  done
  log=$fuzz/valgrind-$target.log
  echo "== $target: ${#inputs[@]} inputs (log: $log)"
  [ ${#inputs[@]} -eq 0 ] && continue
  # Leaks are the fuzz build's to find (LeakSanitizer); here only errors.
  (cd "$work" && valgrind -q --error-exitcode=99 --leak-check=no \
    "$build/fuzz/${target}_replay" "${inputs[@]}") > "$log" 2>&1
  status=$?
  if [ $status -ne 0 ]; then
    echo "   FINDING (exit $status), after:"
    grep '^input ' "$log" | tail -n 1 | sed 's/^/   /'
    grep -m 4 -E 'Invalid|uninitialised|Process terminating' "$log" | sed 's/^/   /'
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Findings in: ${failed[*]}" >&2
  exit 1
fi
echo "No findings."
