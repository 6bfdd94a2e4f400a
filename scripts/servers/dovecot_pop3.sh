#!/usr/bin/env bash
# Starts dovecot as a POP3 server on a loopback port for tests and
# benchmarks, serving one Maildir to one user with a plain-text password.
# USER and PASS, PLAIN and APOP are accepted (APOP is why the password is
# kept as it is: the server needs it to compute the digest).
#
#   dovecot_pop3.sh DIR PORT USER PASSWORD MAILDIR
#
# BIND_ADDRESS (default 127.0.0.1, may be ::1) is the address it listens on.
# With MAIL_TLS_CERTS (a folder made by tls_certs.sh) TLS is required: STLS
# on PORT, and POP3S on POP3S_PORT.
#
# Everything dovecot writes (configuration, sockets, state, log) stays in
# DIR. Runs in the foreground until killed, so the caller can stop it by its
# process id. See dovecot_common.sh for why it runs as root.
set -euo pipefail
dir=$1 port=$2 user=$3 password=$4 maildir=$5
. "$(dirname "$0")/dovecot_common.sh"
dovecot_prepare "$dir" "$user" "$password" "$maildir"
pop3s_port=0
[ -n "${MAIL_TLS_CERTS:-}" ] && pop3s_port=${POP3S_PORT:?POP3S_PORT}
cat >"$dir/dovecot.conf" <<CONF
protocols = pop3
listen = ${BIND_ADDRESS:-127.0.0.1}
$(dovecot_common_settings "$dir" "$maildir")
auth_mechanisms = plain apop
pop3_uidl_format = %08Xu%08Xv
service pop3-login {
  inet_listener pop3 {
    address = ${BIND_ADDRESS:-127.0.0.1}
    port = $port
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
service pop3-login {
  inet_listener pop3s {
    address = ${BIND_ADDRESS:-127.0.0.1}
    port = $pop3s_port
  }
}
CONF
exec /usr/sbin/dovecot -F -c "$dir/dovecot.conf"
