#!/usr/bin/env bash
# SEND of a message with a 20 MiB attachment through STARTTLS with a login
# (AUTH PLAIN over TLS) to aiosmtpd, by this project and by curl, both on the
# system's OpenSSL, certificates made for the run. Each side is timed as a
# whole process and they take turns going first; every stored message is
# parsed and its attachment compared with the file sent. Prints the median
# time, the ratio and both peak memories.
#   bench/mail_tls.sh [ROUNDS]     (default 3)
source "$(dirname "$0")/lib.sh"
export SCRIPTNET_SOURCE_DIR=$source_dir
. "$source_dir/tests/integration/mail/servers.sh"
stops+=(stop_mail_servers)
"$servers/tls_certs.sh" "$work/certs"
export MAIL_TLS_CERTS=$work/certs
start_mail_servers "$work" mailer mailpass
ca=$work/certs/ca.pem
head -c 20971520 /dev/urandom >"$work/payload.bin"

cat >"$work/send.lua" <<LUA
net.command("TLS", "CAFILE", "$ca")
net.command("SMTP", "SECURE", "STARTTLS")
net.command("SMTP", "USERNAME", "mailer")
net.command("SMTP", "PASSWORD", "mailpass")
net.command("SMTP", "AUTH", "PLAIN")
net.command("SMTP", "RECIPIENTS", "ADD", "bench@example.org")
net.command("SMTP", "FROM", "bench@example.org")
net.command("SMTP", "SUBJECT", "benchmark")
net.command("SMTP", "MESSAGE", "ADD", "A message with a large attachment.")
net.command("SMTP", "ATTACHMENT", "ADD", "$work/payload.bin")
assert(net.command("SMTP", "SEND", "127.0.0.1:$SMTP_PORT") == 0, net.error())
LUA

# curl sends exactly the message this project composes, as the server stored it.
rm -f "$MAILDIR"/new/*
"$nethost" "$work/send.lua"
sed 's/$/\r/' "$MAILDIR"/new/* >"$work/message.eml"

stored_attachment_is_payload() {
  /usr/bin/python3 - "$MAILDIR" "$work/payload.bin" <<'PY'
import email, glob, sys
stored = glob.glob(sys.argv[1] + "/new/*")
assert len(stored) == 1, stored
with open(stored[0], "rb") as f:
    msg = email.message_from_binary_file(f)
parts = [p.get_payload(decode=True) for p in msg.walk() if p.get_filename()]
assert parts == [open(sys.argv[2], "rb").read()], "attachment differs"
PY
  rm -f "$MAILDIR"/new/*
}
send_project() {
  rm -f "$MAILDIR"/new/*
  run send-project "$nethost" "$work/send.lua"
  stored_attachment_is_payload
}
send_curl() {
  rm -f "$MAILDIR"/new/*
  run send-curl curl -sS --ssl-reqd --cacert "$ca" --login-options AUTH=PLAIN -u mailer:mailpass \
    "smtp://127.0.0.1:$SMTP_PORT" --mail-from bench@example.org --mail-rcpt bench@example.org \
    -T "$work/message.eml"
  stored_attachment_is_payload
}
for round in $(seq "$rounds"); do
  echo "round $round of $rounds" >&2
  in_turns "$round" send_project send_curl
done

printf '\nSEND through STARTTLS with AUTH PLAIN, message of %s bytes, median of %s rounds\n' \
  "$(wc -c <"$work/message.eml")" "$rounds"
report send
