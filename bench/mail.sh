#!/usr/bin/env bash
# SEND of a message with a 20 MiB attachment and GETMAIL of that message,
# by this project, by curl and by Python's smtplib/poplib (plus email
# parsing), against the same aiosmtpd and dovecot in one run; SEND also to
# postfix's smtp-sink, a C server that takes the message as fast as it comes
# (started here on a free loopback port). Every client moves the same bytes:
# curl and Python send the very message this project composed, as the server
# stored it. Every client is timed as a whole process, start-up included, in
# MAIL_BENCH_RUNS rounds (3 by default) whose order turns each round, each
# timed run after an untimed one. Prints the median and the spread (fastest
# to slowest) of each, the ratios, the project's peak memory, and the cost of
# GETMAIL's split into parts measured on its own (bench/mail_split_bench):
# curl only retrieves, so GETMAIL less the split is the part that compares.
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
sed 's/$/\r/' "$MAILDIR"/new/* >"$work/retrieved.eml"
get_ours() {
  local t0 parts; t0=$(now)
  read -r kb parts < <("$build/nethost" "$src/bench/mail_send.lua" get "$POP3_PORT" 1)
  keep ours_get "$(echo "$(now) - $t0" | bc)"
  [ "$parts" -ge 2 ] || { echo "GETMAIL split the message into $parts part(s)" >&2; exit 1; }
  [ "$kb" -gt "$peak_get" ] && peak_get=$kb
  return 0
}
# curl's untimed run writes the message to a file that must be the stored
# one; its timed run writes to /dev/null, as nethost keeps the message in
# memory (curl's own byte count of a POP3 retrieval is not the message's).
get_curl() {
  local t0 out=/dev/null; t0=$(now)
  [ "$warming" = 1 ] && out=$work/curl.eml
  curl -sS "pop3://127.0.0.1:$POP3_PORT/1" -u test:secret -o "$out"
  keep curl_get "$(echo "$(now) - $t0" | bc)"
  if [ "$warming" = 1 ]; then
    cmp -s "$out" "$work/retrieved.eml" || { echo "curl retrieved another message ($(wc -c <"$out") bytes)" >&2; exit 1; }
    rm -f "$out"
  fi
  return 0
}
get_python() {
  local t0; t0=$(now)
  /usr/bin/python3 "$src/bench/mail_peers.py" get "$POP3_PORT" 1 >/dev/null
  keep py_get "$(echo "$(now) - $t0" | bc)"
}
for round in $(seq "$runs"); do
  rotate "$round" get_ours get_curl get_python
done

# The split on its own, on the same message, in one process.
read -r take_in_ms split_ms < <("$build/bench/mail_split_bench" "$work/retrieved.eml" "$work/payload.bin" "$runs")

m() { printf '%s\n' "$@" | median; }
# spread VALUE...: fastest-slowest
spread() { printf '%s\n' "$@" | sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.3f-%.3f", lo, hi }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
line() { # LABEL OURS-LIST CURL-LIST PYTHON-LIST (names of arrays)
  local -n o=$2 c=$3 p=$4
  local om cm pm
  om=$(m "${o[@]}") cm=$(m "${c[@]}") pm=$(m "${p[@]}")
  printf '%-18s scriptnet %6.3f s (%s)   curl %6.3f s (%s)   python %6.3f s (%s)\n' "$1" \
    "$om" "$(spread "${o[@]}")" "$cm" "$(spread "${c[@]}")" "$pm" "$(spread "${p[@]}")"
  printf '%-18s scriptnet/curl %s   scriptnet/python %s\n' "" "$(ratio "$om" "$cm")" "$(ratio "$om" "$pm")"
}
echo "mail benchmark: 20 MiB attachment, message of $(wc -c <"$work/message.eml") bytes;" \
  "median (fastest-slowest) of $runs runs; every client sends the same bytes"
line "SEND to aiosmtpd" ours_send curl_send py_send
line "SEND to smtp-sink" sink_ours_send sink_curl_send sink_py_send
line "GETMAIL" ours_get curl_get py_get
og=$(m "${ours_get[@]}") cg=$(m "${curl_get[@]}")
without=$(echo "$og - $split_ms / 1000" | bc -l)
printf 'GETMAIL split on its own (in process, median of %s): %s ms; taking the %s lines in: %s ms\n' \
  "$runs" "$split_ms" "$(wc -l <"$work/retrieved.eml")" "$take_in_ms"
printf 'GETMAIL less the split %6.3f s: /curl (retrieve only) %s\n' "$without" "$(ratio "$without" "$cg")"
echo "scriptnet peak resident memory: SEND $((peak_send / 1024)) MiB, GETMAIL $((peak_get / 1024)) MiB"
