#!/usr/bin/env python3
"""A CONNECT proxy for the HTTPS tests: connect_proxy.py PORTFILE USER PASS.

Binds a free loopback port (written to PORTFILE), wants Basic credentials in
Proxy-Authorization, opens tunnels to loopback addresses only and relays both
ways until either side closes. Runs until it is killed."""
import base64
import socket
import socketserver
import sys
import threading

PORTFILE, USER, PASSWORD = sys.argv[1], sys.argv[2], sys.argv[3]
EXPECTED = "Basic " + base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    finally:
        try:
            dst.shutdown(socket.SHUT_WR)
        except OSError:
            pass


class Tunnel(socketserver.StreamRequestHandler):
    def handle(self):
        request = self.rfile.readline(65536).decode("latin-1").split()
        headers = {}
        while True:
            line = self.rfile.readline(65536).decode("latin-1").rstrip("\r\n")
            if not line:
                break
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        if len(request) < 2 or request[0] != "CONNECT":
            self.wfile.write(b"HTTP/1.1 405 Only CONNECT\r\n\r\n")
            return
        if headers.get("proxy-authorization") != EXPECTED:
            self.wfile.write(b"HTTP/1.1 407 Credentials wanted\r\n"
                             b"Proxy-Authenticate: Basic realm=\"proxy\"\r\n\r\n")
            return
        host, _, port = request[1].rpartition(":")
        host = host.strip("[]")
        if host not in ("127.0.0.1", "localhost", "::1"):
            self.wfile.write(b"HTTP/1.1 403 Loopback only\r\n\r\n")
            return
        try:
            upstream = socket.create_connection((host, int(port)))
        except OSError:
            self.wfile.write(b"HTTP/1.1 502 Cannot connect\r\n\r\n")
            return
        self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
        self.wfile.flush()
        back = threading.Thread(target=pump, args=(upstream, self.connection), daemon=True)
        back.start()
        pump(self.connection, upstream)
        back.join()
        upstream.close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


with Server(("127.0.0.1", 0), Tunnel) as server:
    with open(PORTFILE + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    import os
    os.rename(PORTFILE + ".tmp", PORTFILE)
    server.serve_forever()
