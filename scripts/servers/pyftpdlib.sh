#!/usr/bin/env bash
# pyftpdlib (Debian's python3-pyftpdlib) on 127.0.0.1, as the current user.
#   pyftpdlib.sh start DIR  serves DIR/ftp with write access for FTP_USER /
#                           FTP_PASS (default scriptnet / scriptnet-pw),
#                           passive data ports 40200 to 40299. Writes
#                           DIR/ftp.port and prints the port.
#   pyftpdlib.sh stop DIR
set -euo pipefail
source "$(dirname "$0")/../../tests/support/wait.sh"
cmd=${1:?start or stop}
dir=$(cd "${2:?directory}" && pwd)
user=${FTP_USER:-scriptnet}
pass=${FTP_PASS:-scriptnet-pw}

# Ports below the ephemeral range, where no outgoing connection takes them.
free_port() {
  /usr/bin/python3 "$(dirname "$0")/../../tests/support/free_port.py" 127.0.0.1
}

case $cmd in
start)
  mkdir -p "$dir/ftp"
  port=$(free_port)
  /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -w -d "$dir/ftp" -u "$user" -P "$pass" \
    -r 40200-40299 >"$dir/pyftpdlib.log" 2>&1 &
  echo $! >"$dir/pyftpdlib.run.pid"
  wait_until port_open 127.0.0.1 "$port"
  echo "$port" >"$dir/ftp.port"
  echo "$port"
  ;;
stop)
  if [ -f "$dir/pyftpdlib.run.pid" ]; then
    kill "$(cat "$dir/pyftpdlib.run.pid")" 2>/dev/null || true
    rm -f "$dir/pyftpdlib.run.pid"
  fi
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
