#!/usr/bin/env bash
# Real messages written by common mail programs (multipart with preambles,
# nested parts, quoted-printable with soft breaks, folded headers) are put
# into a Maildir, read through dovecot with the POP3 family, and every part
# the library saves is compared with what Python's email package extracts.
set -euo pipefail
src=${SCRIPTNET_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${SCRIPTNET_BUILD_DIR:-$src/build}
here=$src/tests/integration/mail
corpus=$src/tests/integration/mail/corpus
. "$here/servers.sh"
work=$(mktemp -d)
trap 'stop_mail_servers; rm -rf "$work"' EXIT
start_mail_servers "$work"

# Every corpus message but msg_15, whose inner multipart reuses the outer
# boundary: no reading of that is right, and the two parsers guess
# differently at what it means.
files=()
for name in cpython-test_email-msg_02.txt cpython-test_email-msg_07.txt \
  cpython-test_email-msg_10.txt cpython-test_email-msg_22.txt cpython-test_email-msg_26.txt \
  cpython-test_email-msg_45.txt cpython-test_email-msg_47.txt poco-Net-fuzzing-seed-Mail-0002.eml \
  poco-Net-fuzzing-seed-Mail-0004.eml; do
  files+=("$corpus/$name")
done
# Dovecot numbers new messages in the order of the time in their names.
t=1000000000
for f in "${files[@]}"; do
  t=$((t + 1))
  tr -d '\r' <"$f" >"$MAILDIR/new/$t.M1P1.corpus"
  chmod 666 "$MAILDIR/new/$t.M1P1.corpus"
done

mkdir "$work/parts"
"$build/nethost" "$here/save_parts.lua" "$POP3_PORT" "$work/parts"
/usr/bin/python3 "$here/compare_parts.py" "$work/parts" "${files[@]}"
