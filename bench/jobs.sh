#!/usr/bin/env bash
# Background jobs, three figures against nginx on loopback:
#  1. eight HTTPS downloads of 32 MiB at once: one nethost script with JOB
#     MAX 8 beside curl --parallel --parallel-max 8 on the same eight URLs,
#     whole processes timed, the two taking turns, every file checked by
#     SHA-256; the ratio project/curl (1.0 or less: as fast as curl);
#  2. the host stays responsive: a host loop calling ProcessMessages(10)
#     (bench/jobs_loop_bench) records the gaps between its turns while four
#     jobs download 256 MiB each, beside the same loop with no job: median,
#     99th percentile and largest gap;
#  3. the relay of bench/relay.sh (bench/relay_bench against the SOCKET
#     server of bench/relay_server.lua) with four downloads of 256 MiB going
#     on in the server's background, again and again, beside the same relay
#     without them: messages per second.
#   bench/jobs.sh [ROUNDS]     (default 3; SIZE_MIB and BIG_MIB override 32 and 256,
#                               RELAY_MESSAGES the relay's 1 million messages)
source "$(dirname "$0")/lib.sh"
size_mib=${SIZE_MIB:-32}
big_mib=${BIG_MIB:-256}
messages=${RELAY_MESSAGES:-1000000}
for tool in jobs_loop_bench relay_bench; do
  [ -x "$build_dir/bench/$tool" ] || { echo "build first: $build_dir/bench/$tool is missing" >&2; exit 1; }
done

mkdir -p "$work/nginx" "$work/out"
stops+=("$servers/nginx.sh stop $work/nginx")
"$servers/tls_certs.sh" "$work/certs"
TLS_CERTS=$work/certs "$servers/nginx.sh" start "$work/nginx" >/dev/null
http_port=$(cat "$work/nginx/http.port")
https_port=$(cat "$work/nginx/https.port")
ca=$work/certs/ca.pem
www=$work/nginx/www

# 1. Eight downloads at once.
declare -a sums
urls=()
for i in $(seq 8); do
  head -c $((size_mib * 1048576)) /dev/urandom >"$www/part$i.bin"
  sums[$i]=$(sha256sum <"$www/part$i.bin" | cut -d' ' -f1)
  urls+=("https://127.0.0.1:$https_port/part$i.bin")
done
lua_eight="net.command('TLS','CAFILE','$ca') net.command('JOB','MAX','8')
local ids = {}
for i = 1, 8 do
  ids[i] = assert(net.job('HTTP','DOWNLOAD','https://127.0.0.1:$https_port/part'..i..'.bin','$work/out/p'..i..'.bin'))
end
for i = 1, 8 do
  local status = net.func('JOB','WAIT',ids[i],'600000')
  assert(status:match('^DONE'), status)
end"
check_eight() { # PREFIX: every file as it is on the server
  local i
  for i in $(seq 8); do
    [ "$(sha256sum <"$work/out/$1$i.bin" | cut -d' ' -f1)" = "${sums[$i]}" ] ||
      { echo "corrupt transfer: $1$i.bin" >&2; exit 1; }
    rm -f "$work/out/$1$i.bin"
  done
}
eight_project() { run eight-project "$nethost" -e "$lua_eight"; check_eight p; }
eight_curl() {
  local args=() i
  for i in $(seq 8); do args+=(-o "$work/out/c$i.bin" "${urls[$((i - 1))]}"); done
  # --parallel draws its meter on standard error even with -s.
  run eight-curl curl -sS --no-progress-meter --parallel --parallel-max 8 --cacert "$ca" "${args[@]}"
  check_eight c
}
for round in $(seq "$rounds"); do
  echo "eight downloads: round $round of $rounds" >&2
  in_turns "$round" eight_project eight_curl
done
rm -f "$www"/part*.bin

# 2. The host loop, with four downloads and without.
big=()
for i in $(seq 4); do
  head -c $((big_mib * 1048576)) /dev/urandom >"$www/big$i.bin"
  big+=("http://127.0.0.1:$http_port/big$i.bin" "$work/out/big$i.bin")
done
echo "host loop: four downloads of $big_mib MiB" >&2
start=$(now_ns)
"$build_dir/bench/jobs_loop_bench" 0 "${big[@]}" >"$work/loop-jobs.txt"
seconds=$(( ($(now_ns) - start + 999999999) / 1000000000 ))
for i in $(seq 4); do cmp -s "$www/big$i.bin" "$work/out/big$i.bin" || { echo "corrupt transfer: big$i.bin" >&2; exit 1; }; done
rm -f "$work"/out/big*.bin
echo "host loop: alone for $seconds s" >&2
"$build_dir/bench/jobs_loop_bench" "$seconds" >"$work/loop-alone.txt"

# 3. The relay, with four downloads going on in the server's background.
relay() { # NAME [URL FILE...]: messages per second of the relay
  local port out=$work/relay-$1 server
  port=$(/usr/bin/python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])')
  shift
  "$nethost" "$source_dir/bench/relay_server.lua" "$port" 900 jobs "$@" >"$out.server" &
  server=$!
  for _ in $(seq 200); do grep -q listening "$out.server" 2>/dev/null && break; sleep 0.05; done
  timeout 600 "$build_dir/bench/relay_bench" "$port" "$messages" >"$out.txt"
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  awk '$1 == "total" {print $4}' "$out.txt"
}
echo "relay: alone, then with four downloads" >&2
alone=$(relay alone)
busy=$(relay busy "${big[@]}")

printf '\n1. eight HTTPS downloads of %s MiB at once, %s rounds, median wall time\n' "$size_mib" "$rounds"
report eight
printf '\n2. a host loop of ProcessMessages(10), gaps between turns in ms\n'
printf '%-28s %8s %8s %8s %8s\n' loop turns median p99 max
awk '{printf "%-28s %8s %8s %8s %8s\n", "four jobs of '"$big_mib"' MiB", $2, $4, $6, $8}' "$work/loop-jobs.txt"
awk '{printf "%-28s %8s %8s %8s %8s\n", "no job", $2, $4, $6, $8}' "$work/loop-alone.txt"
printf '\n3. the relay of bench/relay.sh (%s messages), messages per second\n' "$messages"
printf '%-28s %12s\n' "alone" "$alone" "with four downloads" "$busy"
awk -v a="$alone" -v b="$busy" 'BEGIN { printf "%-28s %12.2f\n", "ratio with/alone", (a > 0 ? b / a : 0) }'
