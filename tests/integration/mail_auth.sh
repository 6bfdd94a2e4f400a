#!/usr/bin/env bash
# Logins against real servers on loopback: aiosmtpd requiring a login
# (CRAM-MD5, PLAIN and LOGIN over clear text), dovecot with USER/PASS, APOP
# and PLAIN. The unique ids POP3 UIDL gives must be the ones Python's poplib
# reads from the same server, and every message must have been stored for
# the user who logged on.
set -euo pipefail
src=${SCRIPTNET_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${SCRIPTNET_BUILD_DIR:-$src/build}
here=$src/tests/integration/mail
. "$here/servers.sh"
work=$(mktemp -d)
trap 'stop_mail_servers; rm -rf "$work"' EXIT
start_mail_servers "$work" test secret

"$build/nethost" "$here/auth.lua" "$SMTP_PORT" "$POP3_PORT" "$work/ids.txt"

/usr/bin/python3 - "$POP3_PORT" "$work/ids.txt" "$ENVELOPE_LOG" <<'PY'
import json, poplib, sys
port, ids_path, log_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
failures = []
pop = poplib.POP3("127.0.0.1", port)
pop.user("test")
pop.pass_("secret")
want = [line.split()[1].decode() for line in pop.uidl()[1]]
pop.quit()
got = open(ids_path).read().split()
if got != want:
    failures.append(f"unique ids {got}, the server's {want}")
logins = [json.loads(line)["login"] for line in open(log_path)]
if logins != ["test"] * 4:
    failures.append(f"stored for the logins {logins}")
for failure in failures:
    print(failure, file=sys.stderr)
sys.exit(1 if failures else 0)
PY
echo "mail logins: ok"
