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
# Wall time and processor time (user and system) of each: on a busy machine
# the wall time holds the waits for a processor, of the servers' as well.
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
# timed LIST COMMAND...: runs COMMAND with its output in $work/out and keeps
# "wall-seconds cpu-seconds" in LIST
timed() {
  local list=$1
  shift
  /usr/bin/python3 "$src/bench/rusage.py" "$work/cost" "$@" >"$work/out"
  keep "$list" "$(cut -d' ' -f1,2 "$work/cost")"
}

ours_send=() curl_send=() py_send=() peak_send=0
# The SEND rounds run against send_port, keeping times in the lists named
# by the prefix: "" for aiosmtpd, "sink_" for smtp-sink.
send_port=$SMTP_PORT prefix=""
sink_ours_send=() sink_curl_send=() sink_py_send=()
send_ours() {
  clear_mailbox
  timed "${prefix}ours_send" "$build/nethost" "$src/bench/mail_send.lua" send "$send_port" "$work/payload.bin"
  read -r kb <"$work/out"
  check_stored
  [ "$kb" -gt "$peak_send" ] && peak_send=$kb
  return 0
}
send_curl() {
  clear_mailbox
  timed "${prefix}curl_send" curl -sS "smtp://127.0.0.1:$send_port" --mail-from bench@example.org \
    --mail-rcpt bench@example.org -T "$work/message.eml"
  check_stored
}
send_python() {
  clear_mailbox
  timed "${prefix}py_send" /usr/bin/python3 "$src/bench/mail_peers.py" send "$send_port" "$work/message.eml"
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
  local parts
  timed ours_get "$build/nethost" "$src/bench/mail_send.lua" get "$POP3_PORT" 1
  read -r kb parts <"$work/out"
  [ "$parts" -ge 2 ] || { echo "GETMAIL split the message into $parts part(s)" >&2; exit 1; }
  [ "$kb" -gt "$peak_get" ] && peak_get=$kb
  return 0
}
# curl's untimed run writes the message to a file that must be the stored
# one; its timed run writes to /dev/null, as nethost keeps the message in
# memory (curl's own byte count of a POP3 retrieval is not the message's).
get_curl() {
  local out=/dev/null
  [ "$warming" = 1 ] && out=$work/curl.eml
  timed curl_get curl -sS "pop3://127.0.0.1:$POP3_PORT/1" -u test:secret -o "$out"
  if [ "$warming" = 1 ]; then
    cmp -s "$out" "$work/retrieved.eml" || { echo "curl retrieved another message ($(wc -c <"$out") bytes)" >&2; exit 1; }
    rm -f "$out"
  fi
  return 0
}
get_python() {
  timed py_get /usr/bin/python3 "$src/bench/mail_peers.py" get "$POP3_PORT" 1
}
for round in $(seq "$runs"); do
  rotate "$round" get_ours get_curl get_python
done

# The split on its own, on the same message, in one process, with the heap
# in huge pages as nethost has it.
read -r take_in_ms split_ms take_in_cpu_ms split_cpu_ms < <(GLIBC_TUNABLES=glibc.malloc.hugetlb=1 \
  "$build/bench/mail_split_bench" "$work/retrieved.eml" "$work/payload.bin" "$runs")

# m FIELD VALUE...: the median of field 1 (wall) or 2 (processor) of the values
m() { local f=$1; shift; printf '%s\n' "$@" | cut -d' ' -f"$f" | median; }
# spread FIELD VALUE...: fastest-slowest of that field
spread() {
  local f=$1; shift
  printf '%s\n' "$@" | cut -d' ' -f"$f" | sort -n |
    awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.3f-%.3f", lo, hi }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
line() { # LABEL OURS-LIST CURL-LIST PYTHON-LIST (names of arrays)
  local -n o=$2 c=$3 p=$4
  local f kind om cm pm
  for f in 1 2; do
    kind=wall; [ "$f" = 2 ] && kind=cpu
    om=$(m "$f" "${o[@]}") cm=$(m "$f" "${c[@]}") pm=$(m "$f" "${p[@]}")
    printf '%-18s %-4s scriptnet %6.3f s (%s)  curl %6.3f s (%s)  python %6.3f s (%s)  /curl %s  /python %s\n' \
      "$1" "$kind" "$om" "$(spread "$f" "${o[@]}")" "$cm" "$(spread "$f" "${c[@]}")" \
      "$pm" "$(spread "$f" "${p[@]}")" "$(ratio "$om" "$cm")" "$(ratio "$om" "$pm")"
  done
}
echo "mail benchmark: 20 MiB attachment, message of $(wc -c <"$work/message.eml") bytes;" \
  "median (fastest-slowest) of $runs runs; every client moves the same bytes"
line "SEND to aiosmtpd" ours_send curl_send py_send
line "SEND to smtp-sink" sink_ours_send sink_curl_send sink_py_send
line "GETMAIL" ours_get curl_get py_get
printf 'the split on its own (in process, median of %s): wall %s ms, cpu %s ms; taking the %s lines in: wall %s ms, cpu %s ms\n' \
  "$runs" "$split_ms" "$split_cpu_ms" "$(wc -l <"$work/retrieved.eml")" "$take_in_ms" "$take_in_cpu_ms"
for f in 1 2; do
  kind=wall split=$split_ms
  [ "$f" = 2 ] && kind=cpu split=$split_cpu_ms
  without=$(echo "$(m "$f" "${ours_get[@]}") - $split / 1000" | bc -l)
  printf 'GETMAIL less the split, %-4s %6.3f s  /curl (retrieve only) %s\n' "$kind" "$without" \
    "$(ratio "$without" "$(m "$f" "${curl_get[@]}")")"
done
echo "scriptnet peak resident memory: SEND $((peak_send / 1024)) MiB, GETMAIL $((peak_get / 1024)) MiB"
