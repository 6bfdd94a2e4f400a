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
# process id. Dovecot's master process needs root (it starts its login
# processes as the unprivileged "dovenull" user); tests run as root. Dovecot
# never reads mail as root, so a root caller's mail is read as "nobody", and
# the Maildir is opened to every user for that.
set -euo pipefail
dir=$1 port=$2 user=$3 password=$4 maildir=$5
mkdir -p "$dir/run" "$dir/state" "$dir/home" "$maildir"/{new,cur,tmp}
# Login processes run as dovenull and must reach the run directory.
chmod 755 "$dir" "$dir/run"
uid=$(id -u) gid=$(id -g)
if [ "$uid" -eq 0 ]; then
  uid=$(id -u nobody) gid=$(id -g nobody)
  chmod 777 "$dir/home" "$maildir" "$maildir"/{new,cur,tmp}
fi
printf '%s:{PLAIN}%s\n' "$user" "$password" >"$dir/passwd"
ssl="ssl = no
disable_plaintext_auth = no"
pop3s_port=0
if [ -n "${MAIL_TLS_CERTS:-}" ]; then
  ssl="ssl = required
ssl_cert = <$MAIL_TLS_CERTS/good.pem
ssl_key = <$MAIL_TLS_CERTS/good.key
disable_plaintext_auth = yes"
  pop3s_port=${POP3S_PORT:?POP3S_PORT}
fi
cat >"$dir/dovecot.conf" <<CONF
protocols = pop3
listen = ${BIND_ADDRESS:-127.0.0.1}
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
$ssl
auth_mechanisms = plain apop
mail_location = maildir:$maildir
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = static
  args = uid=$uid gid=$gid home=$dir/home
}
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
