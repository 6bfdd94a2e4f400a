#!/usr/bin/env bash
# What Wine costs: the 64-bit DLL under Wine (loaded by the Windows test host,
# tests/windows/transcript_host.cpp) beside the Linux build (nethost), in the
# same run, in turns, first one then the other:
#   - an HTTP download of 256 MiB from nginx to a file (SIZE_MIB), each side
#     timed as a whole process, start-up included, the file checked by
#     SHA-256; median of ROUNDS;
#   - the relay of bench/relay.sh: the SOCKET server in relay mode under the
#     same load driver (bench/relay_bench.cpp), RELAY_MESSAGES delivered
#     messages (default 200000), messages per second as the driver counts
#     them; median of ROUNDS.
# Prints both figures and the ratio Wine/Linux.
#
#   bench/wine.sh [ROUNDS]      (default 3)
# Needs the Linux build (build/) and the windows-x64 one (build/windows-x64).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${SCRIPTNET_BUILD_DIR:-$src/build}
win=${SCRIPTNET_WINDOWS_BUILD_DIR:-$src/build/windows-x64}
servers=$src/scripts/servers
rounds=${1:-3}
size_mib=${SIZE_MIB:-256}
messages=${RELAY_MESSAGES:-200000}
for f in "$build/nethost" "$build/bench/relay_bench" "$win/scriptnet.dll" "$win/tests/transcript_host.exe"; do
  [ -e "$f" ] || { echo "build first: $f is missing" >&2; exit 1; }
done
command -v wine >/dev/null || { echo "wine is missing (scripts/install-deps.sh windows)" >&2; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-scriptnet} WINEDEBUG=-all

work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  wait 2>/dev/null || true
  "$servers/nginx.sh" stop "$work/nginx" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/nginx" "$work/out"
http_port=$("$servers/nginx.sh" start "$work/nginx" | cut -d' ' -f1)
head -c $((size_mib * 1048576)) /dev/urandom >"$work/nginx/www/big.bin"
expected=$(sha256sum <"$work/nginx/www/big.bin" | cut -d' ' -f1)
url=http://127.0.0.1:$http_port/big.bin
# Wine starts its own services for a prefix it has not run in a while: once
# before anything is timed.
: >"$work/empty.txt"
# (Wine's own messages go to wine.err, shown when a run fails.)
wine "$win/tests/transcript_host.exe" "$win/scriptnet.dll" "$work/empty.txt" >/dev/null 2>>"$work/wine.err"
printf 'command\tHTTP\tDOWNLOAD\t%s\t%s\n' "$url" "$work/out/wine.bin" >"$work/download.txt"

now_ns() { date +%s%N; }
verify() { # FILE: the whole file arrived unchanged
  [ "$(sha256sum <"$1" | cut -d' ' -f1)" = "$expected" ] || { echo "corrupt download: $1" >&2; exit 1; }
  rm -f "$1"
}
download() { # linux|wine: appends the milliseconds of one download to $work/http-SIDE
  local start end
  start=$(now_ns)
  if [ "$1" = linux ]; then
    "$build/nethost" -e "assert(net.command('HTTP','DOWNLOAD','$url','$work/out/linux.bin')==0, net.error())"
  else
    wine "$win/tests/transcript_host.exe" "$win/scriptnet.dll" "$work/download.txt" >"$work/wine.out" 2>>"$work/wine.err"
  fi
  end=$(now_ns)
  if [ "$1" = wine ]; then
    grep -q "^command HTTP DOWNLOAD .* = 0" "$work/wine.out" || { cat "$work/wine.out" "$work/wine.err" >&2; exit 1; }
  fi
  verify "$work/out/$1.bin"
  echo $(((end - start) / 1000000)) >>"$work/http-$1"
}

freeport() { /usr/bin/python3 "$src/tests/support/free_port.py"; }
relay() { # linux|wine: appends "all id total" messages per second to $work/relay-SIDE
  local port
  port=$(freeport)
  if [ "$1" = linux ]; then
    "$build/nethost" "$src/bench/relay_server.lua" "$port" 600 >"$work/server.out" &
  else
    printf 'command\tSOCKET\tPORT\t%s\ncommand\tSOCKET\tSERVER\nserve\t600\n' "$port" >"$work/relay.txt"
    wine "$win/tests/transcript_host.exe" "$win/scriptnet.dll" "$work/relay.txt" >"$work/server.out" 2>>"$work/wine.err" &
  fi
  server=$!
  for _ in $(seq 400); do
    grep -Eq "^listening|SOCKET SERVER = 0" "$work/server.out" 2>/dev/null && break
    sleep 0.05
  done
  timeout 600 "$build/bench/relay_bench" "$port" "$messages" >"$work/relay.out" ||
    { cat "$work/server.out" "$work/wine.err" >&2; exit 1; }
  kill "$server"
  wait "$server" 2>/dev/null || true
  server=
  awk '{r[$1] = $4} END {print r["all"], r["id"], r["total"]}' "$work/relay.out" >>"$work/relay-$1"
}

for round in $(seq "$rounds"); do
  order="linux wine"
  [ $((round % 2)) = 0 ] && order="wine linux"
  echo "round $round of $rounds ($order)" >&2
  for side in $order; do download "$side"; done
  for side in $order; do relay "$side"; done
done

median() { # FILE COLUMN
  cut -d' ' -f"$2" "$1" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
row() { # LABEL LINUX WINE
  awk -v l="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%-30s %12s %12s %8.2f\n", l, a, b, (a > 0 ? b / a : 0) }'
}
printf '\n%s rounds, medians\n' "$rounds"
printf '%-30s %12s %12s %8s\n' job Linux Wine Wine/Linux
row "HTTP download $size_mib MiB (ms)" "$(median "$work/http-linux" 1)" "$(median "$work/http-wine" 1)"
col=1
for k in "relay ALL to 10 clients" "relay ID between 10 pairs" "relay all $messages (msg/s)"; do
  row "$k" "$(median "$work/relay-linux" $col)" "$(median "$work/relay-wine" $col)"
  col=$((col + 1))
done
