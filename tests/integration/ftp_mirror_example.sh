#!/usr/bin/env bash
# The mirror example against a server that lists names leading out of the
# folder: only the plain name arrives, nothing is written outside the target.
source "$(dirname "$0")/web/lib.sh"

/usr/bin/python3 "$source_dir/tests/integration/web/hostile_ftp.py" "$work/port" &
stops+=("kill $!")
wait_until test -s "$work/port"
fail() { echo "FAIL: $*"; cat "$work/out"; exit 1; }
mkdir -p "$work/mirror/target"
timeout 60 "$nethost" "$source_dir/examples/ftp_mirror.lua" "127.0.0.1:$(cat "$work/port")" \
  user pw folder "$work/mirror/target" >"$work/out" || fail "the example failed"
[ "$(cat "$work/mirror/target/ok.txt")" = fine ] || fail "ok.txt was not mirrored"
[ "$(ls -A "$work/mirror/target")" = ok.txt ] || fail "target holds $(ls -A "$work/mirror/target")"
[ "$(ls -A "$work/mirror")" = target ] || fail "written beside the target: $(ls -A "$work/mirror")"
[ ! -e "$work/deep" ] || fail "written above the target"
[ "$(grep -c 'skipped' "$work/out")" = 3 ] || fail "the three names were not reported"
echo "ftp mirror example: ok"
