"""Real peers against the SOCKET service: Python sockets and socat connect
to the relay server (reflector.lua in nethost); the service's own client
connects to a socat echo server and to a Python server. Exits non-zero on
the first failed check."""
import os
import socket
import subprocess
import sys
import time

NETHOST, HERE, PORT, LOG, ECHO_PORT, PY_PORT = sys.argv[1:7]
# "events": the server script gets host events; "queue": it reads records.
QUEUED = len(sys.argv) > 7 and sys.argv[7] == "queue"
PORT, ECHO_PORT, PY_PORT = int(PORT), int(ECHO_PORT), int(PY_PORT)


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


def check(cond, msg):
    if not cond:
        fail(msg)


def log_lines():
    with open(LOG) as f:
        return [line.rstrip("\n") for line in f]


def wait_log(pred, timeout=30):
    end = time.time() + timeout
    while time.time() < end:
        lines = log_lines()
        if pred(lines):
            return lines
        time.sleep(0.02)
    fail("log never matched; log is:\n" + "\n".join(log_lines()))


class Peer:
    def __init__(self):
        self.s = socket.create_connection(("127.0.0.1", PORT), timeout=30)
        self.buf = b""
        self.port = self.s.getsockname()[1]
        line = self.line()
        check(line.startswith("id:"), "expected an id line, got %r" % line)
        self.id = line[3:]

    def send(self, data):
        self.s.sendall(data.encode() if isinstance(data, str) else data)

    def line(self):
        while b"\r\n" not in self.buf:
            chunk = self.s.recv(65536)
            if not chunk:
                fail("connection closed while waiting for a line")
            self.buf += chunk
        line, self.buf = self.buf.split(b"\r\n", 1)
        return line.decode()

    def closed(self):
        self.s.settimeout(5)
        try:
            while True:
                chunk = self.s.recv(65536)
                if not chunk:
                    return True
        except (ConnectionResetError, socket.timeout):
            return True


class SocatPeer(Peer):
    """A peer made of socat: what we write to its stdin goes to the server,
    what the server sends comes out of its stdout."""

    def __init__(self):
        self.p = subprocess.Popen(["socat", "-", "TCP:127.0.0.1:%d" % PORT],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.buf = b""
        line = self.line()
        check(line.startswith("id:"), "socat: expected an id line, got %r" % line)
        self.id = line[3:]

    def send(self, data):
        self.p.stdin.write(data.encode())
        self.p.stdin.flush()

    def line(self):
        while b"\r\n" not in self.buf:
            chunk = os.read(self.p.stdout.fileno(), 65536)
            if not chunk:
                fail("socat closed while waiting for a line")
            self.buf += chunk
        line, self.buf = self.buf.split(b"\r\n", 1)
        return line.decode()

    def stop(self):
        self.p.stdin.close()
        self.p.wait(timeout=5)


# --- peers of the relay server
a, b = Peer(), Peer()
c = SocatPeer()
lines = wait_log(lambda l: sum(x.startswith("ACCEPT|") for x in l) == 3)
accepts = [x for x in lines if x.startswith("ACCEPT|")]
check(accepts[0] == "ACCEPT|127.0.0.1|%d|%s" % (a.port, a.id), "ACCEPT record of a: " + accepts[0])
check(accepts[1] == "ACCEPT|127.0.0.1|%d|%s" % (b.port, b.id), "ACCEPT record of b: " + accepts[1])

a.send("ALL|hello all\r\n")
for p, name in ((a, "a"), (b, "b"), (c, "socat")):
    got = p.line()
    check(got == "hello all", "ALL to %s: %r" % (name, got))
wait_log(lambda l: "NETWORK|127.0.0.1|%d|%s|hello all" % (a.port, a.id) in l)

# Framing: one message split over writes, two joined in one write.
a.send("ID|%s;pa" % b.id)
time.sleep(0.1)
a.send("rt one\r\nID|%s;part two|with;separators\r\n" % b.id)
check(b.line() == "part one", "split message")
check(b.line() == "part two|with;separators", "joined message")
# Byte by byte from socat.
for ch in "ID|%s;trickle\r\n" % a.id:
    c.send(ch)
check(a.line() == "trickle", "message sent byte by byte")

c.send("ADDR|127.0.0.1;local ones\r\nADDR|10.9.9.9;nobody\r\n")
for p in (a, b, c):
    check(p.line() == "local ones", "ADDR route")

b.send("SERVER|x|y\r\nFOO|bar\r\n")
# An unrouted message is reported whole as a host event; its queued record
# keeps the text after the first "|".
unrouted = "bar" if QUEUED else "FOO|bar"
wait_log(lambda l: "NETWORK|127.0.0.1|%d|%s|x|y" % (b.port, b.id) in l
         and "NETWORK|127.0.0.1|%d|%s|%s" % (b.port, b.id, unrouted) in l)

b.send("SERVER|cmd:STATUS\r\n")
check(b.line() == "status:listening|3|%d" % PORT, "STATUS, CLIENTS and PORT")

# An id that is not a connection: nothing written, ERROR reported.
a.send("ID|99999;lost\r\n")
wait_log(lambda l: "ERROR|Socket operation on nonsocket" in l)

# CLOSECADDR with several connections from one address: all go, in order.
d = Peer()
a.send("SERVER|cmd:CLOSECADDR 127.0.0.1\r\n")
lines = wait_log(lambda l: sum(x.startswith("CLOSEC|") for x in l) == 4)
closes = [x.split("|")[3] for x in lines if x.startswith("CLOSEC|")]
check(closes == [a.id, b.id, c.id, d.id], "CLOSECADDR order: %r" % closes)
for p in (a, b, d):
    check(p.closed(), "connection closed by CLOSECADDR")
c.stop()

# Peers that misbehave: reset, half-close, vanish, 2 MiB without a line end.
r, h, v, big = Peer(), Peer(), Peer(), Peer()
r.s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
r.s.close()
h.send("SERVER|last words\r\n")
h.s.shutdown(socket.SHUT_WR)
v.s.close()
try:
    big.send(b"z" * (2 << 20))
except (BrokenPipeError, ConnectionResetError, socket.timeout):
    pass
lines = wait_log(lambda l: all(("CLOSEC|127.0.0.1|%d|%s" % (p.port, p.id)) in l for p in (r, h, v, big)))
check("NETWORK|127.0.0.1|%d|%s|last words" % (h.port, h.id) in lines, "half-close keeps the last words")
check("ERROR|Message too long" in lines, "2 MiB without a line end is an ERROR")
check(h.closed(), "half-closed peer is closed by the server")
e = Peer()
e.send("SERVER|cmd:STATUS\r\n")
check(e.line() == "status:listening|1|%d" % PORT, "server healthy after the faults")

# Peers that send once and reset while ALL messages flow: each failed send
# is one ERROR at most, then the connection is closed and dropped.
mark = len(log_lines())
resetters = [Peer() for _ in range(50)]
for p in resetters:
    p.send("ALL|from %s\r\n" % p.id)
    p.s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    p.s.close()
e.send("".join("ALL|n%d\r\n" % i for i in range(200)))
while e.line() != "n199":
    pass
lines = wait_log(lambda l: all(("CLOSEC|127.0.0.1|%d|%s" % (p.port, p.id)) in l[mark:] for p in resetters))
errors = [x for x in lines[mark:] if x.startswith("ERROR|")]
check(len(errors) <= len(resetters), "%d ERRORs for %d reset peers" % (len(errors), len(resetters)))
e.send("SERVER|cmd:STATUS\r\n")
while True:
    got = e.line()
    if got.startswith("status:"):
        break
check(got == "status:listening|1|%d" % PORT, "reset peers dropped: %r" % got)
e.send("SERVER|cmd:QUIT\r\n")
wait_log(lambda l: "END" in l)

# --- the service's client against a socat echo server (raw mode)
out = subprocess.run([NETHOST, os.path.join(HERE, "client.lua"), "127.0.0.1", str(ECHO_PORT), "raw",
                      "1", "ping"], capture_output=True, text=True, timeout=30).stdout.splitlines()
check(out[0] == "CONNECT|127.0.0.1|%d|open" % ECHO_PORT, "CONNECT to socat: %r" % out)
check("NETWORK|127.0.0.1|%d|ping" % ECHO_PORT in out, "echo from socat: %r" % out)
check(out[-1] == "STATUS|connected", "still connected: %r" % out)

# --- the service's client against a Python server (relay framing)
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", PY_PORT))
srv.listen(1)
proc = subprocess.Popen([NETHOST, os.path.join(HERE, "client.lua"), "127.0.0.1", str(PY_PORT), "auto",
                         "3", "hi there"], stdout=subprocess.PIPE, text=True)
conn, _ = srv.accept()
conn.settimeout(30)
got = b""
while b"\r\n" not in got:
    got += conn.recv(100)
check(got == b"SERVER|hi there\r\n", "client sent %r" % got)
conn.sendall(b"one\r\ntw")
time.sleep(0.1)
conn.sendall(b"o\r\nthree\r\nunfinished")
time.sleep(0.1)
conn.close()
srv.close()
out = proc.communicate(timeout=30)[0].splitlines()
datas = [x.split("|", 3)[3] for x in out if x.startswith("NETWORK|")]
check(datas == ["one", "two", "three"], "client framing: %r" % out)
check(any(x.startswith("CLOSEC|127.0.0.1|%d" % PY_PORT) for x in out), "client CLOSEC: %r" % out)
check(out[-1] == "STATUS|closed", "client closed after the server left: %r" % out)

# --- refused connect and port in use
out = subprocess.run([NETHOST, os.path.join(HERE, "client.lua"), "127.0.0.1", str(PY_PORT), "auto", "1"],
                     capture_output=True, text=True, timeout=30).stdout.splitlines()
check(out[0] == "ERROR|Connection refused", "refused: %r" % out)
check(out[-1] == "STATUS|open", "refused connect leaves open: %r" % out)
busy = subprocess.run([NETHOST, "-e", """
net.command("SOCKET", "PORT", "%d")
net.command("SOCKET", "TOQEVENTS", "")
net.command("SOCKET", "SERVER")
print(net.func("SOCKET", "STATUS"), net.func("SOCKET", "EVENT"), net.func("SOCKET", "ERROR"))
""" % ECHO_PORT], capture_output=True, text=True, timeout=30).stdout.split("\t")
check(busy[0] == "closed" and busy[1] == "ERROR" and busy[2].strip() == "Address already in use",
      "port in use: %r" % busy)
print("relay peers: ok")
