#!/usr/bin/env bash
# A message with To, CC, BCC, awkward body lines and attachments of 0 bytes,
# 1 byte, 1 MiB and 20 MiB goes through real servers (aiosmtpd into a
# Maildir, dovecot reading it out over POP3) and must come back exactly; so
# must the names, subject and file name of a message beyond ASCII.
set -euo pipefail
src=${SCRIPTNET_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${SCRIPTNET_BUILD_DIR:-$src/build}
here=$src/tests/integration/mail
. "$here/servers.sh"
work=$(mktemp -d)
trap 'stop_mail_servers; rm -rf "$work"' EXIT
start_mail_servers "$work"

: >"$work/att0.bin"
head -c 1 /dev/urandom >"$work/att1.bin"
head -c 1048576 /dev/urandom >"$work/att1m.bin"
head -c 20971520 /dev/urandom >"$work/att20m.bin"
# The international message's attachment (its name as in international.lua).
intl_file="résumé 日本 naïve.txt"
printf 'Gr\xc3\xbc\xc3\x9fe\r\n' >"$work/$intl_file"

"$build/nethost" "$here/send.lua" "$SMTP_PORT" "$work"
/usr/bin/python3 "$here/check_stored.py" "$MAILDIR" "$ENVELOPE_LOG" "$work"
"$build/nethost" "$here/read.lua" "$POP3_PORT" "$work"

status=0
for name in att0.bin att1.bin att1m.bin att20m.bin; do
  want=$(sha256sum <"$work/$name")
  got=$(sha256sum <"$work/got_$name")
  if [ "$want" != "$got" ]; then
    echo "attachment $name came back different" >&2
    status=1
  fi
done
if ! cmp -s "$work/$intl_file" "$work/got_$intl_file"; then
  echo "the attachment with an international name came back different" >&2
  status=1
fi
if ! cmp -s "$work/body.txt" "$work/got_body.txt"; then
  echo "the body text came back different:" >&2
  diff <(od -c "$work/body.txt") <(od -c "$work/got_body.txt") | head -20 >&2
  status=1
fi
# DELMAIL and LOGOFF removed the message from the Maildir itself.
left=$( (grep -l "^Subject: round trip" "$MAILDIR"/new/* "$MAILDIR"/cur/* 2>/dev/null || true) | wc -l)
if [ "$left" -ne 0 ]; then
  echo "the deleted message is still in the Maildir" >&2
  status=1
fi
[ "$status" -eq 0 ] && echo "mail round trip: ok"
exit "$status"
