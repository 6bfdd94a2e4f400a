#!/usr/bin/env bash
# Memory of the SOCKET relay server (nethost running bench/relay_server.lua)
# under two loads, each against a fresh server:
#  - 40 clients connect and never read while one more sends ALL messages of
#    1 KiB (64 MiB in all, at most 60 s; change with RELAY_MEMORY_MIB):
#    every message is queued for every client, so what the server holds is
#    bounded only by its output caps;
#  - the server queues its events as records and the script never polls
#    them while one client sends SERVER messages of 1 KiB for 8 s: what the
#    server holds is bounded only by the cap of the event queue.
# Prints the server's resident memory at rest and its peak (VmHWM).
#
#   bench/relay_memory.sh [BUILD_DIR]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${SCRIPTNET_BUILD_DIR:-$src/build}}
mib=${RELAY_MEMORY_MIB:-64}
work=$(mktemp -d)
server=
trap 'kill $server 2>/dev/null; wait; rm -rf "$work"' EXIT

measure() { # MODE: sleepers or queue
  local port
  port=$(/usr/bin/python3 "$src/tests/support/free_port.py")
  "$build/nethost" "$src/bench/relay_server.lua" "$port" 600 "$1" >"$work/server.out" &
  server=$!
  for _ in $(seq 200); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.05; done
  timeout 120 /usr/bin/python3 - "$port" "$server" "$mib" "$1" <<'PY'
import select, socket, sys, time

port, pid, mib, mode = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]


def status(field):
    for line in open("/proc/%s/status" % pid):
        if line.startswith(field + ":"):
            return int(line.split()[1]) // 1024
    return 0


def connect(rcvbuf=None):
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.connect(("127.0.0.1", port))
    return s


sleepers = [connect(4096) for _ in range(40 if mode == "sleepers" else 0)]
sender = connect()
sender.setblocking(False)
time.sleep(0.5)
rest = status("VmRSS")
route = b"ALL|" if mode == "sleepers" else b"SERVER|"
stream = (route + b"x" * (1022 - len(route)) + b"\r\n") * 256
total, sent, offset = mib << 20, 0, 0
end = time.time() + (60 if mode == "sleepers" else 8)
while (sent < total or mode == "queue") and time.time() < end:
    readable, writable, _ = select.select([sender], [sender], [], 0.1)
    if readable:
        try:
            if not sender.recv(1 << 20):
                break
        except BlockingIOError:
            pass
    if writable:
        try:
            n = sender.send(stream[offset:])
        except BlockingIOError:
            continue
        sent += n
        offset = (offset + n) % len(stream)
time.sleep(2)
if mode == "sleepers":
    print("sent %d MiB of ALL messages to 40 clients that never read" % (sent >> 20))
else:
    print("sent %d MiB of SERVER messages in 8 s to a script that never polls" % (sent >> 20))
print("server resident memory: %d MiB at rest, %d MiB peak" % (rest, status("VmHWM")))
PY
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
}

measure sleepers
measure queue
