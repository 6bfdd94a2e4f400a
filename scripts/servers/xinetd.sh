#!/usr/bin/env bash
# xinetd's internal RFC 868 time service (stream) on 127.0.0.1.
#   xinetd.sh start DIR  writes DIR/time.port and prints the port.
#   xinetd.sh stop DIR
# BIND_ADDRESS (default 127.0.0.1, may be ::1) is the address it listens on.
set -euo pipefail
source "$(dirname "$0")/../../tests/support/wait.sh"
cmd=${1:?start or stop}
dir=$(cd "${2:?directory}" && pwd)
bind=${BIND_ADDRESS:-127.0.0.1}

# Ports below the ephemeral range, where no outgoing connection takes them.
free_port() {
  /usr/bin/python3 "$(dirname "$0")/../../tests/support/free_port.py" "$bind" "${1:-1}"
}

case $cmd in
start)
  port=$(free_port)
  # An internal service is found by its name; UNLISTED lets it take any port.
  cat >"$dir/xinetd.conf" <<CONF
defaults
{
  instances = 20
}
service time
{
  type = INTERNAL UNLISTED
  id = time-stream
  socket_type = stream
  protocol = tcp
  wait = no
  user = $(id -un)
  bind = $bind
  port = $port
}
CONF
  xinetd -filelog "$dir/xinetd.log" -dontfork -f "$dir/xinetd.conf" -pidfile "$dir/xinetd.pid" >"$dir/xinetd.out" 2>&1 &
  echo $! >"$dir/xinetd.run.pid"
  wait_until port_open "$bind" "$port"
  echo "$port" >"$dir/time.port"
  echo "$port"
  ;;
stop)
  if [ -f "$dir/xinetd.run.pid" ]; then
    kill "$(cat "$dir/xinetd.run.pid")" 2>/dev/null || true
    rm -f "$dir/xinetd.run.pid"
  fi
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
