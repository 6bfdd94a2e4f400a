#!/usr/bin/env bash
# Jobs whose work a peer's input drives must grow with that input, not with
# its square: each job of square_work runs at a size and at four times it
# under callgrind, which counts the instructions spent in the job. Linear
# work gives about four times the count (less, with the fixed part); the
# square would give sixteen. More than eight fails.
#   square_work.sh SQUARE_WORK-PROGRAM
set -euo pipefail
program=$1
# scripts/install-deps.sh installs valgrind for the test command; a machine
# without it skips the check (ctest's SKIP_RETURN_CODE) rather than fails.
if ! command -v valgrind >/dev/null; then
  echo "valgrind not found: skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

count() {
  local out=$work/$1.$2
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect=MeasuredWork \
    "$program" "$1" "$2" >/dev/null 2>"$out.log" || { cat "$out.log"; return 1; }
  sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$out"
}

failed=0
# Sizes that keep each run to a few seconds under callgrind even if the work
# grew with the square again.
for job_size in from:1000 mechanisms:2000 fold:2000 uidl:1000; do
  job=${job_size%%:*}
  size=${job_size#*:}
  small=$(count "$job" "$size")
  large=$(count "$job" $((size * 4)))
  verdict=ok
  if [ $((large)) -gt $((small * 8)) ]; then
    verdict=FAILED
    failed=1
  fi
  echo "$job: $small instructions at $size, $large at $((size * 4)): $verdict"
done
exit $failed
