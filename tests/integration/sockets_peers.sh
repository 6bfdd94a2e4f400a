#!/usr/bin/env bash
# Real peers against the SOCKET service: Python sockets and socat as clients
# of the relay server, socat and a Python server for the service's client.
source "$(dirname "$0")/web/lib.sh"
src=$source_dir build=$build_dir
peers=$src/tests/integration/peers
freeport() { /usr/bin/python3 "$src/tests/support/free_port.py" 127.0.0.1 "${1:-1}"; }

echo_port=$(freeport)
socat TCP-LISTEN:"$echo_port",bind=127.0.0.1,reuseaddr,fork EXEC:cat &
stops+=("kill $!")
wait_until port_open 127.0.0.1 "$echo_port"

# The same checks with host events and with queued records read by EVENT.
for mode in events queue; do
  ports=($(freeport 2))
  port=${ports[0]}
  py_port=${ports[1]}
  log=$work/events-$mode.log
  "$build/nethost" "$peers/reflector.lua" "$port" "$log" 60 "$mode" &
  stops+=("kill $!")
  wait_until grep -q LISTENING "$log"
  echo "== $mode"
  timeout 120 /usr/bin/python3 "$peers/relay_peers.py" "$build/nethost" "$peers" "$port" "$log" "$echo_port" "$py_port" "$mode"
done

# Out of descriptors: reported, a pause instead of a busy retry, and the
# waiting clients taken as descriptors come free.
port=$(freeport)
log=$work/events-fds.log
(ulimit -n 20 && exec "$build/nethost" "$peers/reflector.lua" "$port" "$log" 60) &
stops+=("kill $!")
wait_until grep -q LISTENING "$log"
timeout 60 /usr/bin/python3 "$peers/descriptors.py" "$port" "$log"
