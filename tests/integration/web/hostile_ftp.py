"""A fake FTP server whose listing names files that lie outside the listed
folder ("../escape", "a/../../deep", "..\\back"), as a hostile server may:
real servers never list such names. It knows PASV only (EPSV is refused, as
old servers do). Serves sessions until it is killed; writes its port to the
file named by its first argument, listens on the second (default 127.0.0.1)."""
import socket
import sys
import threading

FILES = {
    "ok.txt": b"fine\n",
    "../escape": b"outside\n",
    "a/../../deep": b"outside\n",
    "..\\back": b"outside\n",
}
LISTING = "".join(
    "-rw-r--r-- 1 u g %d Jan 15  2003 %s\r\n" % (len(body), name) for name, body in FILES.items()
).encode()


def session(conn):
    data = None
    with conn, conn.makefile("rb") as lines:
        conn.sendall(b"220 fake\r\n")
        for raw in lines:
            verb, _, arg = raw.decode("latin-1").rstrip("\r\n").partition(" ")
            verb = verb.upper()
            reply = "200 ok"
            if verb == "USER":
                reply = "331 password"
            elif verb == "PASS":
                reply = "230 logged on"
            elif verb == "CWD":
                reply = "250 changed"
            elif verb == "SIZE":
                reply = "213 %d" % len(FILES[arg]) if arg in FILES else "550 no such file"
            elif verb == "EPSV":
                reply = "500 EPSV not understood"
            elif verb == "PASV":
                data = socket.create_server((ADDRESS, 0), family=FAMILY)
                port = data.getsockname()[1]
                reply = "227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port >> 8, port & 255)
            elif verb in ("LIST", "RETR") and data is not None:
                if verb == "RETR" and arg not in FILES:
                    reply = "550 no such file"
                else:
                    conn.sendall(b"150 here it comes\r\n")
                    peer, _ = data.accept()
                    peer.sendall(LISTING if verb == "LIST" else FILES[arg])
                    peer.close()
                    data.close()
                    data = None
                    reply = "226 done"
            elif verb == "QUIT":
                conn.sendall(b"221 bye\r\n")
                return
            conn.sendall(reply.encode() + b"\r\n")


ADDRESS = sys.argv[2] if len(sys.argv) > 2 else "127.0.0.1"
FAMILY = socket.AF_INET6 if ":" in ADDRESS else socket.AF_INET


def main():
    server = socket.create_server((ADDRESS, 0), family=FAMILY)
    with open(sys.argv[1], "w") as f:
        f.write(str(server.getsockname()[1]))
    while True:
        conn, _ = server.accept()
        threading.Thread(target=session, args=(conn,), daemon=True).start()


main()
