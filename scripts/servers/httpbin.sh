#!/usr/bin/env bash
# httpbin (Debian's python3-httpbin) behind gunicorn on 127.0.0.1, for tests
# and benchmarks of web API calls: every method, headers and bodies echoed as
# JSON, any status, gzip and deflate, cookies, redirects, ranges and auth.
#   httpbin.sh start DIR  writes DIR/httpbin.port and prints the port.
#   httpbin.sh stop DIR
set -euo pipefail
cmd=${1:?start or stop}
dir=$(cd "${2:?directory}" && pwd)

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

case $cmd in
start)
  port=$(free_port)
  # Debian's gunicorn runs on the system Python, where python3-httpbin is.
  /usr/bin/python3 -m gunicorn --bind "127.0.0.1:$port" --workers 2 --pid "$dir/gunicorn.pid" \
    --chdir "$dir" httpbin:app >"$dir/httpbin.log" 2>&1 &
  echo $! >"$dir/httpbin.run.pid"
  for _ in $(seq 200); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/get" 2>/dev/null; then break; fi
    sleep 0.05
  done
  echo "$port" >"$dir/httpbin.port"
  echo "$port"
  ;;
stop)
  if [ -f "$dir/httpbin.run.pid" ]; then
    # gunicorn's master stops its workers on TERM.
    kill "$(cat "$dir/httpbin.run.pid")" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$(cat "$dir/httpbin.run.pid")" 2>/dev/null || break; sleep 0.05; done
    rm -f "$dir/httpbin.run.pid"
  fi
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
