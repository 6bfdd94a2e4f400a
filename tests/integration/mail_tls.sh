#!/usr/bin/env bash
# Mail over TLS against the real servers, certificates made for this run:
# aiosmtpd requiring STARTTLS before mail and logins, dovecot requiring TLS
# (STLS, and POP3S from the first byte). Clear text is refused by both; a
# message sent through STARTTLS with a login, and one sent over SMTPS (TLS
# from the first byte, stunnel in front of a clear-text aiosmtpd), are read
# back over both kinds of secured POP3.
set -euo pipefail
src=${SCRIPTNET_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${SCRIPTNET_BUILD_DIR:-$src/build}
here=$src/tests/integration/mail
. "$here/servers.sh"
work=$(mktemp -d)
extra_pids=()
trap 'kill "${extra_pids[@]}" 2>/dev/null; stop_mail_servers; rm -rf "$work"' EXIT
"$src/scripts/servers/tls_certs.sh" "$work/certs"
export MAIL_TLS_CERTS=$work/certs
start_mail_servers "$work" mailer mailpass
ports=($(free_port 2))
plain_port=${ports[0]}
smtps_port=${ports[1]}
env -u MAIL_TLS_CERTS /usr/bin/python3 "$src/scripts/servers/aiosmtpd_maildir.py" "$plain_port" \
  "$MAILDIR" "$ENVELOPE_LOG" mailer mailpass >"$work/aiosmtpd-plain.log" 2>&1 &
extra_pids+=($!)
cat >"$work/stunnel.conf" <<EOF
foreground = yes
pid =
[smtps]
accept = 127.0.0.1:$smtps_port
connect = 127.0.0.1:$plain_port
cert = $work/certs/good.pem
key = $work/certs/good.key
EOF
stunnel4 "$work/stunnel.conf" >"$work/stunnel.log" 2>&1 &
extra_pids+=($!)
wait_for_port "$plain_port"
wait_for_port "$smtps_port" || { cat "$work/stunnel.log" >&2; exit 1; }
"$build/nethost" "$here/tls.lua" "$work/certs/ca.pem" "$SMTP_PORT" "$POP3_PORT" "$POP3S_PORT" \
  "$smtps_port"
echo "mail over TLS: ok"
