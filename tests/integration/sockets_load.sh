#!/usr/bin/env bash
# Load on the relay server: 200 concurrent clients, 500 messages each,
# routed by id; checks delivery, order and descriptors after CLOSE. The
# server polls queued event records, the other way of reporting.
set -euo pipefail
src=${SCRIPTNET_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${SCRIPTNET_BUILD_DIR:-$src/build}
peers=$src/tests/integration/peers
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
port=$(/usr/bin/python3 "$src/tests/support/free_port.py")
log=$work/events.log
# 200 clients need more descriptors than some defaults allow.
ulimit -n 4096 2>/dev/null || true
"$build/nethost" "$peers/reflector.lua" "$port" "$log" 120 queue &
pids+=($!)
for _ in $(seq 100); do grep -q LISTENING "$log" 2>/dev/null && break; sleep 0.05; done
timeout 150 /usr/bin/python3 "$peers/load.py" "$port" "$log" 200 500
