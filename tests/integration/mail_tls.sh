#!/usr/bin/env bash
# Mail over TLS against the real servers, certificates made for this run:
# aiosmtpd requiring STARTTLS before mail and logins, dovecot requiring TLS
# (STLS, and POP3S from the first byte). Clear text is refused by both; a
# message sent through STARTTLS with a login is read back over both kinds of
# secured POP3.
set -euo pipefail
src=${SCRIPTNET_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${SCRIPTNET_BUILD_DIR:-$src/build}
here=$src/tests/integration/mail
. "$here/servers.sh"
work=$(mktemp -d)
trap 'stop_mail_servers; rm -rf "$work"' EXIT
"$src/scripts/servers/tls_certs.sh" "$work/certs"
export MAIL_TLS_CERTS=$work/certs
start_mail_servers "$work" mailer mailpass
"$build/nethost" "$here/tls.lua" "$work/certs/ca.pem" "$SMTP_PORT" "$POP3_PORT" "$POP3S_PORT"
echo "mail over TLS: ok"
