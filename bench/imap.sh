#!/usr/bin/env bash
# IMAP against dovecot, this project beside its peers, whole processes timed
# with start-up and log-on, the clients taking turns going first:
#  1. GETHEADERS of 2,000 messages of INBOX (From, Subject and Date of each,
#     with flags and size, From and Subject decoded to UTF-8) beside Python's
#     imaplib fetching the same fields in one UID FETCH and decoding the same
#     two with its email package; both print what they decoded, and the two
#     outputs must be the same;
#  2. GETMAIL of a message with a 20 MiB attachment, its attachment saved,
#     beside curl (imap://.../Big;UID=1 to a file, the message as it is) and
#     beside imaplib with email saving the attachment; every saved file is
#     checked by SHA-256, curl's by its size.
# Prints the median of each over the rounds, wall time and processor time
# (user and system; much of the wall time is dovecot's), the ratios (this
# project / peer: below 1 it is faster) and the peak resident memories, then
# the spread of the wall times of each client (fastest, quartiles, slowest).
#   bench/imap.sh [ROUNDS]     (default 3)
source "$(dirname "$0")/lib.sh"
bench=$source_dir/bench
chmod 755 "$work"
port=$(/usr/bin/python3 "$source_dir/tests/support/free_port.py")
box=$work/Maildir
"$servers/dovecot_imap.sh" "$work/dovecot" "$port" test secret "$box" >"$work/dovecot.out" 2>&1 &
stops+=("kill $!")
wait_until port_open 127.0.0.1 "$port"

# 2,000 messages, their senders and subjects partly encoded words; and one
# with the attachment in the folder Big.
head -c 20971520 /dev/urandom >"$work/payload.bin"
expected=$(sha256sum <"$work/payload.bin" | cut -d' ' -f1)
/usr/bin/python3 "$bench/imap_peers.py" fill "$box" "$work/payload.bin"
chmod -R a+rwX "$box"
message_bytes=$(wc -c <"$box/.Big/new/big")
mkdir -p "$work/out"

# Dovecot builds its indexes at the first reading: once, untimed.
"$nethost" "$bench/imap_bench.lua" headers "$work/headers-reference" "$port"
"$nethost" "$bench/imap_bench.lua" get "$work/out/warm.bin" "$port"

same_headers() {
  cmp -s "$work/headers-reference" "$1" || { echo "headers differ: $1" >&2; diff "$work/headers-reference" "$1" | head >&2; exit 1; }
  [ "$(wc -l <"$1")" = 2000 ] || { echo "not 2000 summaries: $1" >&2; exit 1; }
}
headers_project() { run headers-project "$nethost" "$bench/imap_bench.lua" headers "$work/h1" "$port"; same_headers "$work/h1"; }
headers_python() { run headers-python /usr/bin/python3 "$bench/imap_peers.py" headers "$work/h2" "$port"; same_headers "$work/h2"; }
get_project() { run get-project "$nethost" "$bench/imap_bench.lua" get "$work/out/ours.bin" "$port"; verify "$work/out/ours.bin"; }
get_python() { run get-python /usr/bin/python3 "$bench/imap_peers.py" get "$work/out/py.bin" "$port"; verify "$work/out/py.bin"; }
get_curl() {
  run get-curl curl -sS -u test:secret -o "$work/out/curl.eml" "imap://127.0.0.1:$port/Big;UID=1"
  [ "$(wc -c <"$work/out/curl.eml")" = "$message_bytes" ] || { echo "curl fetched $(wc -c <"$work/out/curl.eml") bytes, not $message_bytes" >&2; exit 1; }
  rm -f "$work/out/curl.eml"
}
rotate() { # ROUND JOB...: the jobs in turn, starting at ROUND modulo their count
  local round=$1 k
  shift
  local jobs=("$@")
  for k in $(seq 0 $((${#jobs[@]} - 1))); do "${jobs[$(((round + k) % ${#jobs[@]}))]}"; done
}
for round in $(seq "$rounds"); do
  echo "round $round of $rounds" >&2
  in_turns "$round" headers_project headers_python
  rotate "$round" get_project get_curl get_python
done

line() { # JOB PEER: one row, this project beside the peer
  awk -v j="$1 vs $2" -v p="$(median "$work/$1-project" 1)" -v c="$(median "$work/$1-$2" 1)" \
    -v pc="$(median "$work/$1-project" 3)" -v cc="$(median "$work/$1-$2" 3)" \
    -v r="$(max "$work/$1-project" 2)" -v cr="$(max "$work/$1-$2" 2)" \
    'BEGIN { printf "%-18s %10d %8d %6.2f %10d %8d %6.2f %13.1f %10.1f\n", j, p, c, (c > 0 ? p / c : 0),
             pc, cc, (cc > 0 ? pc / cc : 0), r / 1024, cr / 1024 }'
}
printf '\nIMAP, %s rounds, medians; the message of GETMAIL is %s bytes\n' "$rounds" "$message_bytes"
printf '%-18s %10s %8s %6s %10s %8s %6s %13s %10s\n' job project-ms peer-ms ratio project-cpu peer-cpu ratio project-MiB peer-MiB
line headers python
line get curl
line get python
printf '\nwall ms over the rounds: fastest, first quartile, median, third quartile, slowest\n'
for job in headers-project headers-python get-project get-curl get-python; do
  cut -d' ' -f1 "$work/$job" | sort -n |
    awk -v j="$job" '{ a[NR] = $1 } END { printf "%-16s %6d %6d %6d %6d %6d\n", j, a[1], a[int((NR + 3) / 4)], a[int((NR + 1) / 2)], a[int((3 * NR + 3) / 4)], a[NR] }'
done
