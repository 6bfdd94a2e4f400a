#!/usr/bin/env python3
"""A forward proxy that breaks answers off: cutting_proxy.py PORTFILE CUT.

Binds a free loopback port (written to PORTFILE). Each plain HTTP request
("GET http://127.0.0.1:PORT/path HTTP/1.0") goes on to its loopback server;
the answer comes back, but at most CUT bytes of it, then the connection is
closed: a download broken in the middle of its body, as a real server never
breaks one. Runs until it is killed."""
import os
import socket
import socketserver
import sys
from urllib.parse import urlsplit

PORTFILE, CUT = sys.argv[1], int(sys.argv[2])


class Cutter(socketserver.StreamRequestHandler):
    def handle(self):
        method, target, version = self.rfile.readline(65536).decode("latin-1").split()
        header = b""
        while True:
            line = self.rfile.readline(65536)
            header += line
            if line in (b"\r\n", b"\n", b""):
                break
        url = urlsplit(target)
        if url.hostname not in ("127.0.0.1", "localhost", "::1"):
            self.wfile.write(b"HTTP/1.0 403 Loopback only\r\n\r\n")
            return
        path = url.path + ("?" + url.query if url.query else "")
        with socket.create_connection((url.hostname, url.port or 80)) as origin:
            origin.sendall(f"{method} {path or '/'} {version}\r\n".encode("latin-1") + header)
            left = CUT
            while left > 0:
                data = origin.recv(min(65536, left))
                if not data:
                    break
                self.wfile.write(data)
                left -= len(data)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


with Server(("127.0.0.1", 0), Cutter) as server:
    with open(PORTFILE + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(PORTFILE + ".tmp", PORTFILE)
    server.serve_forever()
