#!/usr/bin/env bash
# Memory of the SOCKET relay server (nethost running bench/relay_server.lua)
# when 40 clients connect and never read while one more sends ALL messages
# of 1 KiB (64 MiB in all, at most 60 s; change with RELAY_MEMORY_MIB):
# every message is queued for every client, so what the server holds is
# bounded only by its output caps. Prints the server's resident memory at
# rest and its peak (VmHWM) after the load.
#
#   bench/relay_memory.sh [BUILD_DIR]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${SCRIPTNET_BUILD_DIR:-$src/build}}
mib=${RELAY_MEMORY_MIB:-64}
work=$(mktemp -d)
port=$(/usr/bin/python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])')
"$build/nethost" "$src/bench/relay_server.lua" "$port" 600 >"$work/server.out" &
server=$!
trap 'kill $server 2>/dev/null; wait; rm -rf "$work"' EXIT
for _ in $(seq 200); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.05; done

timeout 120 /usr/bin/python3 - "$port" "$server" "$mib" <<'PY'
import select, socket, sys, time

port, pid, mib = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])


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


sleepers = [connect(4096) for _ in range(40)]
sender = connect()
sender.setblocking(False)
time.sleep(0.5)
rest = status("VmRSS")
stream = (b"ALL|" + b"x" * 1018 + b"\r\n") * 256
total, sent, offset = mib << 20, 0, 0
end = time.time() + 60
while sent < total and time.time() < end:
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
print("sent %d MiB of ALL messages to 40 clients that never read" % (sent >> 20))
print("server resident memory: %d MiB at rest, %d MiB peak" % (rest, status("VmHWM")))
PY
