#!/usr/bin/env bash
# Load on the relay server: 200 concurrent clients, 500 messages each,
# routed by id; checks delivery, order and descriptors after CLOSE. The
# server polls queued event records, the other way of reporting.
source "$(dirname "$0")/web/lib.sh"
src=$source_dir build=$build_dir
peers=$src/tests/integration/peers
port=$(/usr/bin/python3 "$src/tests/support/free_port.py")
log=$work/events.log
# 200 clients need more descriptors than some defaults allow.
ulimit -n 4096 2>/dev/null || true
"$build/nethost" "$peers/reflector.lua" "$port" "$log" 120 queue &
stops+=("kill $!")
wait_until grep -q LISTENING "$log"
timeout 150 /usr/bin/python3 "$peers/load.py" "$port" "$log" 200 500
