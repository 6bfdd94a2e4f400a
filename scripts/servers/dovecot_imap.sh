#!/usr/bin/env bash
# Starts dovecot as an IMAP server on a loopback port for tests and
# benchmarks, serving one Maildir (with Sent, Drafts, Trash, Junk and Archive
# folders marked for their special use) to one user with a plain-text
# password.
#
#   dovecot_imap.sh DIR PORT USER PASSWORD MAILDIR
#
# It listens on 127.0.0.1 and on 127.0.0.2, where it plays an older server:
# after the log-on it offers no MOVE, ESEARCH or LITERAL+ (UIDPLUS stays), so
# the clients' fall-backs meet a real server too.
# With MAIL_TLS_CERTS (a folder made by tls_certs.sh) TLS is required:
# STARTTLS on PORT, and IMAPS on IMAPS_PORT (127.0.0.1 only).
#
# Everything dovecot writes (configuration, sockets, state, log) stays in
# DIR. Runs in the foreground until killed, so the caller can stop it by its
# process id. See dovecot_common.sh for why it runs as root.
set -euo pipefail
dir=$1 port=$2 user=$3 password=$4 maildir=$5
. "$(dirname "$0")/dovecot_common.sh"
dovecot_prepare "$dir" "$user" "$password" "$maildir"
imaps_port=0
[ -n "${MAIL_TLS_CERTS:-}" ] && imaps_port=${IMAPS_PORT:?IMAPS_PORT}
cat >"$dir/dovecot.conf" <<CONF
protocols = imap
listen = 127.0.0.1, 127.0.0.2
$(dovecot_common_settings "$dir" "$maildir")
auth_mechanisms = plain login
mail_max_userip_connections = 100
namespace inbox {
  inbox = yes
  separator = /
  mailbox Sent {
    special_use = \\Sent
    auto = create
  }
  mailbox Drafts {
    special_use = \\Drafts
    auto = create
  }
  mailbox Trash {
    special_use = \\Trash
    auto = create
  }
  mailbox Junk {
    special_use = \\Junk
    auto = create
  }
  mailbox Archive {
    special_use = \\Archive
    auto = create
  }
}
local 127.0.0.2 {
  protocol imap {
    imap_capability = IMAP4rev1 SASL-IR IDLE UIDPLUS NAMESPACE CHILDREN UNSELECT SPECIAL-USE
  }
}
service imap-login {
  inet_listener imap {
    port = $port
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $imaps_port
  }
}
service pop3-login {
  inet_listener pop3 {
    port = 0
  }
  inet_listener pop3s {
    port = 0
  }
}
CONF
exec /usr/sbin/dovecot -F -c "$dir/dovecot.conf"
