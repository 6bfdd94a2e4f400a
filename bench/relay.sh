#!/usr/bin/env bash
# Relay benchmark: the SOCKET server in relay mode (nethost running
# bench/relay_server.lua) against a reference relay written with Python's
# asyncio, in the same run, under the same load: ALL to 10 clients, then ID
# between 10 pairs, 1 million delivered messages in all (change with
# RELAY_MESSAGES); then ALL to 200 clients, as many deliveries again. Prints
# messages per second for both, the ratio, the CPU time each server used
# under each load (steadier than rates on a shared machine), and the SOCKET
# server's CPU use while idle. The sides take turns, RELAY_ROUNDS rounds
# (default 1), and the figures are medians.
#
# With RELAY_BASE set to another build folder, that build's server runs as a
# third side (its nethost and library; the load driver is this build's), so
# two versions are compared in one run.
#
#   bench/relay.sh [BUILD_DIR]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${SCRIPTNET_BUILD_DIR:-$src/build}}
base=${RELAY_BASE:-}
messages=${RELAY_MESSAGES:-1000000}
rounds=${RELAY_ROUNDS:-1}
driver=$build/bench/relay_bench
[ -x "$driver" ] || { echo "build first: $driver is missing" >&2; exit 1; }
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
freeport() { /usr/bin/python3 "$src/tests/support/free_port.py"; }
wait_listening() { for _ in $(seq 200); do grep -q listening "$1" 2>/dev/null && return 0; sleep 0.05; done; echo "server did not start" >&2; exit 1; }
# CPU ticks (user + system) a process has used so far, and its CPU time in ms.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
cpu_ms() { awk '{printf "%d", $1 / 1000000}' "/proc/$1/schedstat"; }
hz=$(getconf CLK_TCK)

# side NAME: one round of NAME's server under both loads; appends
# "all id total all200" messages per second and the server's CPU ms under
# each load to $work/NAME.
side() {
  local port
  port=$(freeport)
  case $1 in
  scriptnet) "$build/nethost" "$src/bench/relay_server.lua" "$port" 600 >"$work/server.out" & ;;
  base) "$base/nethost" "$src/bench/relay_server.lua" "$port" 600 >"$work/server.out" & ;;
  asyncio) /usr/bin/python3 "$src/bench/relay_asyncio.py" "$port" >"$work/server.out" & ;;
  esac
  server=$!
  wait_listening "$work/server.out"
  local c0 c1 c2
  c0=$(cpu_ms "$server")
  timeout 600 "$driver" "$port" "$messages" >"$work/load.txt"
  c1=$(cpu_ms "$server")
  timeout 600 "$driver" "$port" "$messages" 200 0 >>"$work/load.txt"
  c2=$(cpu_ms "$server")
  if [ "$1" = scriptnet ] && [ ! -e "$work/idle" ]; then
    # Idle: the server listening, nothing to do.
    local before after
    before=$(ticks "$server")
    sleep 3
    after=$(ticks "$server")
    echo $((after - before)) >"$work/idle"
  fi
  kill "$server"
  wait "$server" 2>/dev/null || true
  server=
  awk -v c1=$((c1 - c0)) -v c2=$((c2 - c1)) '$1 == "all" {a[++n] = $4} $1 == "id" {i = $4} $1 == "total" {t = $4}
       END {print a[1], i, t, a[2], c1, c2}' "$work/load.txt" >>"$work/$1"
}

sides=(scriptnet asyncio)
[ -n "$base" ] && sides+=(base)
for ((r = 1; r <= rounds; r++)); do
  # Each round starts with the next side.
  n=${#sides[@]}
  for ((k = 0; k < n; k++)); do side "${sides[$(((r - 1 + k) % n))]}"; done
done

median() { cut -d' ' -f"$2" "$1" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
header="$(printf '%-24s %14s %14s %8s' route "SOCKET msg/s" "asyncio msg/s" ratio)"
[ -n "$base" ] && header+="$(printf ' %14s %8s' "base msg/s" "vs base")"
echo "$header"
labels=("ALL to 10 clients" "ID between 10 pairs" "all $messages messages" "ALL to 200 clients")
for f in 1 2 3 4; do
  s=$(median "$work/scriptnet" $f)
  a=$(median "$work/asyncio" $f)
  line="$(printf '%-24s %14s %14s %8s' "${labels[$((f - 1))]}" "$s" "$a" "$(awk -v s="$s" -v a="$a" 'BEGIN{printf "%.1fx", s/a}')")"
  if [ -n "$base" ]; then
    b=$(median "$work/base" $f)
    line+="$(printf ' %14s %8s' "$b" "$(awk -v s="$s" -v b="$b" 'BEGIN{printf "%.2fx", s/b}')")"
  fi
  echo "$line"
done
header="$(printf '%-24s %14s %14s' "server CPU ms" SOCKET asyncio)"
[ -n "$base" ] && header+="$(printf ' %14s' base)"
echo "$header"
labels=("ALL 10, then ID 10 pairs" "ALL to 200 clients")
for f in 5 6; do
  line="$(printf '%-24s %14s %14s' "${labels[$((f - 5))]}" "$(median "$work/scriptnet" $f)" "$(median "$work/asyncio" $f)")"
  [ -n "$base" ] && line+="$(printf ' %14s' "$(median "$work/base" $f)")"
  echo "$line"
done
awk -v t="$(cat "$work/idle")" -v hz="$hz" 'BEGIN{printf "SOCKET server idle: %d CPU ticks in 3 s (%.2f%% of one core)\n", t, 100*t/hz/3}'
