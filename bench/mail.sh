#!/usr/bin/env bash
# SEND of a message with a 20 MiB attachment and GETMAIL of that message,
# by this project, by curl and by Python's smtplib/poplib (plus email
# parsing), against the same aiosmtpd and dovecot in one run; SEND also to
# postfix's smtp-sink, a C server that takes the message as fast as it comes
# (started here on a free loopback port). Prints the median of
# MAIL_BENCH_RUNS timed runs of each (3 by default, each after an untimed
# one), the ratios, and the project's peak memory. Every client is timed as a
# whole process, start-up included.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${SCRIPTNET_BUILD_DIR:-$src/build}
export SCRIPTNET_SOURCE_DIR=$src
. "$src/tests/integration/mail/servers.sh"
work=$(mktemp -d)
sink_pid=""
trap 'stop_mail_servers; [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null; rm -rf "$work"' EXIT
start_mail_servers "$work"
runs=${MAIL_BENCH_RUNS:-3}
SINK_PORT=$(free_port)
# smtp-sink gives up root itself, to the user named.
/usr/sbin/smtp-sink -u nobody "127.0.0.1:$SINK_PORT" 64 &
sink_pid=$!
wait_for_port "$SINK_PORT"

head -c 20971520 /dev/urandom >"$work/payload.bin"

now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
clear_mailbox() { rm -f "$MAILDIR"/new/* "$MAILDIR"/cur/*; }
# After a SEND to aiosmtpd: one message arrived, of the reference's size
# give or take its own Date and Message-ID (smtp-sink keeps nothing).
check_stored() {
  [ "$send_port" = "$SMTP_PORT" ] || return 0
  local files=("$MAILDIR"/new/*) want got
  want=$(tr -d '\r' <"$work/message.eml" | wc -c)
  got=$(wc -c <"${files[0]}")
  [ "${#files[@]}" = 1 ] && [ $((got - want)) -le 100 ] && [ $((want - got)) -le 100 ] ||
    { echo "SEND stored ${#files[@]} message(s), $got bytes, not $want" >&2; exit 1; }
}

# The peers send exactly the message this project composes, as the SMTP
# server stored it, so every client moves the same bytes and lines.
rm -f "$MAILDIR"/new/*
"$build/nethost" "$src/bench/mail_send.lua" send "$SMTP_PORT" "$work/payload.bin" >/dev/null
sed 's/$/\r/' "$MAILDIR"/new/* >"$work/message.eml"

# Each round runs the three clients in a rotated order, each once untimed
# and then timed: a client that runs right after another that has just freed
# hundreds of megabytes (Python's) pays for the system taking that memory
# back, and the untimed run absorbs it.
warming=0
rotate() { # ROUND JOB... : runs the jobs starting at ROUND modulo their count
  local round=$1; shift
  local jobs=("$@") k job
  for k in $(seq 0 $((${#jobs[@]} - 1))); do
    job=${jobs[$(((round + k) % ${#jobs[@]}))]}
    warming=1; "$job"
    warming=0; "$job"
  done
}
keep() { # LIST VALUE: adds VALUE to the array LIST unless this run is untimed
  [ "$warming" = 1 ] && return 0
  local -n list=$1
  list+=("$2")
}

ours_send=() curl_send=() py_send=() peak_send=0
# The SEND rounds run against send_port, keeping times in the lists named
# by the prefix: "" for aiosmtpd, "sink_" for smtp-sink.
send_port=$SMTP_PORT prefix=""
sink_ours_send=() sink_curl_send=() sink_py_send=()
send_ours() {
  clear_mailbox
  local t0; t0=$(now)
  read -r kb < <("$build/nethost" "$src/bench/mail_send.lua" send "$send_port" "$work/payload.bin")
  keep "${prefix}ours_send" "$(echo "$(now) - $t0" | bc)"
  check_stored
  [ "$kb" -gt "$peak_send" ] && peak_send=$kb
  return 0
}
send_curl() {
  clear_mailbox
  local t0; t0=$(now)
  curl -sS "smtp://127.0.0.1:$send_port" --mail-from bench@example.org \
    --mail-rcpt bench@example.org -T "$work/message.eml"
  keep "${prefix}curl_send" "$(echo "$(now) - $t0" | bc)"
  check_stored
}
send_python() {
  clear_mailbox
  local t0; t0=$(now)
  /usr/bin/python3 "$src/bench/mail_peers.py" send "$send_port" "$work/message.eml" >/dev/null
  keep "${prefix}py_send" "$(echo "$(now) - $t0" | bc)"
  check_stored
}
for round in $(seq "$runs"); do
  rotate "$round" send_ours send_curl send_python
done
send_port=$SINK_PORT prefix=sink_
for round in $(seq "$runs"); do
  rotate "$round" send_ours send_curl send_python
done

# One message of the project's own making stays for the retrievals.
clear_mailbox
"$build/nethost" "$src/bench/mail_send.lua" send "$SMTP_PORT" "$work/payload.bin" >/dev/null
ours_get=() curl_get=() py_get=() peak_get=0
get_ours() {
  local t0; t0=$(now)
  read -r kb < <("$build/nethost" "$src/bench/mail_send.lua" get "$POP3_PORT" 1)
  keep ours_get "$(echo "$(now) - $t0" | bc)"
  [ "$kb" -gt "$peak_get" ] && peak_get=$kb
  return 0
}
get_curl() {
  local t0; t0=$(now)
  curl -sS "pop3://127.0.0.1:$POP3_PORT/1" -u test:secret -o /dev/null
  keep curl_get "$(echo "$(now) - $t0" | bc)"
}
get_python() {
  local t0; t0=$(now)
  /usr/bin/python3 "$src/bench/mail_peers.py" get "$POP3_PORT" 1 >/dev/null
  keep py_get "$(echo "$(now) - $t0" | bc)"
}
for round in $(seq "$runs"); do
  rotate "$round" get_ours get_curl get_python
done

m() { printf '%s\n' "$@" | median; }
os=$(m "${ours_send[@]}") cs=$(m "${curl_send[@]}") ps=$(m "${py_send[@]}")
og=$(m "${ours_get[@]}") cg=$(m "${curl_get[@]}") pg=$(m "${py_get[@]}")
ks=$(m "${sink_ours_send[@]}") kc=$(m "${sink_curl_send[@]}") kp=$(m "${sink_py_send[@]}")
ratio() { echo "scale=2; $1 / $2" | bc; }
echo "mail benchmark: 20 MiB attachment, message of $(wc -c <"$work/message.eml") bytes, median of $runs runs"
printf 'SEND     scriptnet %6.3f s   curl %6.3f s   python smtplib %6.3f s\n' "$os" "$cs" "$ps"
printf '         scriptnet/curl %s   scriptnet/python %s\n' "$(ratio "$os" "$cs")" "$(ratio "$os" "$ps")"
printf 'SEND to smtp-sink  scriptnet %6.3f s   curl %6.3f s   python smtplib %6.3f s\n' "$ks" "$kc" "$kp"
printf '         scriptnet/curl %s   scriptnet/python %s\n' "$(ratio "$ks" "$kc")" "$(ratio "$ks" "$kp")"
printf 'GETMAIL  scriptnet %6.3f s   curl %6.3f s   python poplib+email %6.3f s\n' "$og" "$cg" "$pg"
printf '         scriptnet/curl %s   scriptnet/python %s\n' "$(ratio "$og" "$cg")" "$(ratio "$og" "$pg")"
echo "scriptnet peak resident memory: SEND $((peak_send / 1024)) MiB, GETMAIL $((peak_get / 1024)) MiB"
