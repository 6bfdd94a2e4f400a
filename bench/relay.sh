#!/usr/bin/env bash
# Relay benchmark: the SOCKET server in relay mode (nethost running
# bench/relay_server.lua) against a reference relay written with Python's
# asyncio, in the same run, under the same load: ALL to 10 clients, then ID
# between 10 pairs, 1 million delivered messages in all (change with
# RELAY_MESSAGES). Prints messages per second for both, the ratio, and the
# SOCKET server's CPU use while idle.
#
#   bench/relay.sh [BUILD_DIR]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${SCRIPTNET_BUILD_DIR:-$src/build}}
messages=${RELAY_MESSAGES:-1000000}
driver=$build/bench/relay_bench
[ -x "$driver" ] || { echo "build first: $driver is missing" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
freeport() { /usr/bin/python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }
wait_listening() { for _ in $(seq 200); do grep -q listening "$1" 2>/dev/null && return 0; sleep 0.05; done; echo "server did not start" >&2; exit 1; }
# CPU ticks (user + system) a process has used so far.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

port=$(freeport)
"$build/nethost" "$src/bench/relay_server.lua" "$port" 600 >"$work/scriptnet.out" &
server=$!
pids+=($server)
wait_listening "$work/scriptnet.out"
timeout 300 "$driver" "$port" "$messages" >"$work/scriptnet.txt"

# Idle: the server listening, nothing to do.
hz=$(getconf CLK_TCK)
before=$(ticks "$server")
sleep 3
after=$(ticks "$server")

aport=$(freeport)
/usr/bin/python3 "$src/bench/relay_asyncio.py" "$aport" >"$work/asyncio.out" &
pids+=($!)
wait_listening "$work/asyncio.out"
timeout 600 "$driver" "$aport" "$messages" >"$work/asyncio.txt"

rate() { awk -v k="$2" '$1 == k {print $4}' "$1"; }
printf '%-22s %14s %14s %8s\n' "route" "SOCKET msg/s" "asyncio msg/s" "ratio"
for k in all id total; do
  s=$(rate "$work/scriptnet.txt" $k)
  a=$(rate "$work/asyncio.txt" $k)
  label=$k
  [ $k = all ] && label="ALL to 10 clients"
  [ $k = id ] && label="ID between 10 pairs"
  [ $k = total ] && label="all $messages messages"
  printf '%-22s %14s %14s %8s\n' "$label" "$s" "$a" "$(awk -v s="$s" -v a="$a" 'BEGIN{printf "%.1fx", s/a}')"
done
awk -v t=$((after - before)) -v hz="$hz" 'BEGIN{printf "SOCKET server idle: %d CPU ticks in 3 s (%.2f%% of one core)\n", t, 100*t/hz/3}'
