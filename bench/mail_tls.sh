#!/usr/bin/env bash
# SEND of a message with a 20 MiB attachment through STARTTLS with a login
# (AUTH PLAIN over TLS) to aiosmtpd, by this project and by curl, both on the
# system's OpenSSL, certificates made for the run. Each side is timed as a
# whole process and they take turns going first; every stored message is
# parsed and its attachment compared with the file sent. Prints the median
# of MAIL_BENCH_RUNS runs (3 by default), the ratio and both peak memories.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${SCRIPTNET_BUILD_DIR:-$src/build}
export SCRIPTNET_SOURCE_DIR=$src
. "$src/tests/integration/mail/servers.sh"
work=$(mktemp -d)
trap 'stop_mail_servers; rm -rf "$work"' EXIT
"$src/scripts/servers/tls_certs.sh" "$work/certs"
export MAIL_TLS_CERTS=$work/certs
start_mail_servers "$work" mailer mailpass
runs=${MAIL_BENCH_RUNS:-3}
ca=$work/certs/ca.pem
head -c 20971520 /dev/urandom >"$work/payload.bin"

cat >"$work/send.lua" <<EOF
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
EOF

# curl sends exactly the message this project composes, as the server stored it.
rm -f "$MAILDIR"/new/*
"$build/nethost" "$work/send.lua"
sed 's/$/\r/' "$MAILDIR"/new/* >"$work/message.eml"

verify() { # the stored message's attachment is the file sent
  /usr/bin/python3 - "$MAILDIR" "$work/payload.bin" <<'EOF'
import email, glob, sys
stored = glob.glob(sys.argv[1] + "/new/*")
assert len(stored) == 1, stored
with open(stored[0], "rb") as f:
    msg = email.message_from_binary_file(f)
parts = [p.get_payload(decode=True) for p in msg.walk() if p.get_filename()]
assert parts == [open(sys.argv[2], "rb").read()], "attachment differs"
EOF
  rm -f "$MAILDIR"/new/*
}
now_ns() { date +%s%N; }
run() { # NAME COMMAND...: appends "milliseconds peak-kib" of one run to $work/NAME
  local name=$1 start end
  shift
  rm -f "$MAILDIR"/new/*
  start=$(now_ns)
  /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null
  end=$(now_ns)
  echo "$(( (end - start) / 1000000 )) $(cat "$work/rss")" >>"$work/$name"
  verify
}
ours() { run ours "$build/nethost" "$work/send.lua"; }
theirs() {
  run curl curl -sS --ssl-reqd --cacert "$ca" --login-options AUTH=PLAIN -u mailer:mailpass \
    "smtp://127.0.0.1:$SMTP_PORT" --mail-from bench@example.org --mail-rcpt bench@example.org \
    -T "$work/message.eml"
}
ours >/dev/null; : >"$work/ours"
for round in $(seq "$runs"); do
  echo "round $round of $runs" >&2
  if [ $((round % 2)) -eq 1 ]; then ours; theirs; else theirs; ours; fi
done

median() { cut -d' ' -f"$2" "$1" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
max() { cut -d' ' -f"$2" "$1" | sort -n | tail -1; }
p=$(median "$work/ours" 1) c=$(median "$work/curl" 1)
printf '\nSEND through STARTTLS with AUTH PLAIN, message of %s bytes, median of %s runs\n' \
  "$(wc -c <"$work/message.eml")" "$runs"
awk -v p="$p" -v c="$c" -v r="$(max "$work/ours" 2)" -v cr="$(max "$work/curl" 2)" \
  'BEGIN { printf "scriptnet %d ms   curl %d ms   ratio %.2f   peak RSS scriptnet %.1f MiB, curl %.1f MiB\n", p, c, p / c, r / 1024, cr / 1024 }'
