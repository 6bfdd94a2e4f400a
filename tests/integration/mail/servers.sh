# Shared by the mail integration tests and benchmarks (sourced, not run):
# starts aiosmtpd delivering into a Maildir and dovecot serving that Maildir
# over POP3 to the user "test" (password "secret"), both on free loopback
# ports, and stops them again.
#
#   start_mail_servers DIR [SMTP_USER SMTP_PASSWORD]
#                            sets SMTP_PORT, POP3_PORT, MAILDIR, ENVELOPE_LOG;
#                            with a user, the SMTP server requires a login
#   stop_mail_servers        stops both (safe to call more than once)

mail_src=${SCRIPTNET_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}
smtp_pid="" pop3_pid=""

# BIND_ADDRESS (default 127.0.0.1, may be ::1): the servers' address.
# Ports below the ephemeral range, where no outgoing connection takes them.
free_port() {
  /usr/bin/python3 "$mail_src/tests/support/free_port.py" "${BIND_ADDRESS:-127.0.0.1}" "${1:-1}"
}

source "$mail_src/tests/support/wait.sh"
wait_for_port() {
  wait_until port_open "${BIND_ADDRESS:-127.0.0.1}" "$1"
}

start_mail_servers() {
  local dir=$1
  shift
  chmod 755 "$dir"
  MAILDIR=$dir/Maildir
  ENVELOPE_LOG=$dir/envelopes.jsonl
  mkdir -p "$MAILDIR"/{new,cur,tmp}
  : >"$ENVELOPE_LOG"
  local ports
  ports=($(free_port 3))
  SMTP_PORT=${ports[0]}
  POP3_PORT=${ports[1]}
  POP3S_PORT=${ports[2]}
  export POP3S_PORT
  /usr/bin/python3 "$mail_src/scripts/servers/aiosmtpd_maildir.py" "$SMTP_PORT" "$MAILDIR" \
    "$ENVELOPE_LOG" "$@" >"$dir/aiosmtpd.log" 2>&1 &
  smtp_pid=$!
  "$mail_src/scripts/servers/dovecot_pop3.sh" "$dir/dovecot" "$POP3_PORT" test secret "$MAILDIR" \
    >"$dir/dovecot.out" 2>&1 &
  pop3_pid=$!
  wait_for_port "$SMTP_PORT" || { cat "$dir/aiosmtpd.log" >&2; return 1; }
  wait_for_port "$POP3_PORT" || { cat "$dir/dovecot.out" "$dir/dovecot/dovecot.log" >&2; return 1; }
  export SMTP_PORT POP3_PORT MAILDIR ENVELOPE_LOG
}

stop_mail_servers() {
  local pid
  for pid in $smtp_pid $pop3_pid; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in $smtp_pid $pop3_pid; do
    wait "$pid" 2>/dev/null || true
  done
  smtp_pid="" pop3_pid=""
}
