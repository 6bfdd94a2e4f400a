#!/usr/bin/env bash
# The IMAP family against dovecot, with Python's imaplib as a second client
# on the same mailbox: TLS required (STARTTLS, and IMAPS), certificates made
# for this run. imap_peer.py seeds the mailbox and marks a message deleted
# without expunging it; imap.lua reads, searches, flags, moves (with MOVE,
# and by COPY where dovecot plays a server without it), deletes, files, makes
# folders and waits for mail; the peer then checks what it did, and the
# saved attachment is compared with the file the peer attached.
set -euo pipefail
src=${SCRIPTNET_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${SCRIPTNET_BUILD_DIR:-$src/build}
here=$src/tests/integration/mail
. "$here/servers.sh"
work=$(mktemp -d)
imap_pid=""
trap '[ -n "$imap_pid" ] && kill "$imap_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"
"$src/scripts/servers/tls_certs.sh" "$work/certs"
ports=($(free_port 2))
port=${ports[0]} IMAPS_PORT=${ports[1]}
MAIL_TLS_CERTS=$work/certs IMAPS_PORT=$IMAPS_PORT "$src/scripts/servers/dovecot_imap.sh" \
  "$work/dovecot" "$port" test secret "$work/Maildir" >"$work/dovecot.out" 2>&1 &
imap_pid=$!
wait_for_port "$port" || { cat "$work/dovecot.out" "$work/dovecot/dovecot.log" >&2; exit 1; }
wait_for_port "$IMAPS_PORT"

head -c 150000 /dev/urandom >"$work/data.bin"
peer=(/usr/bin/python3 "$here/imap_peer.py")
"${peer[@]}" seed "$port" "$work/certs/ca.pem" "$work/data.bin"
"$build/nethost" "$here/imap.lua" "$work/certs/ca.pem" "$port" "$IMAPS_PORT" "$work" \
  "${peer[*]} deliver $port $work/certs/ca.pem"
cmp "$work/data.bin" "$work/saved.bin"
"${peer[@]}" check "$port" "$work/certs/ca.pem"
echo "imap: ok"
