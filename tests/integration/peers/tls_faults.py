#!/usr/bin/python3
"""An HTTPS server whose answers end without the TLS close, as a connection
cut by an attacker or a broken middlebox ends: the status line, a header
without Content-Length and part of the body, then the connection closed
(GET /cut) or reset (GET /cut-reset) with no close_notify. A HEAD is answered
in order. A client must not take such a body for the whole answer.

Usage: tls_faults.py PORT_FILE CERT KEY
Writes its loopback port to PORT_FILE and serves one connection after
another, each on a thread of its own, until it is killed.
"""
import os
import socket
import ssl
import struct
import sys
import threading

HEADER = b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"
PART = b"first line\r\nsecond li"


def serve(raw, context):
    raw.settimeout(10)
    raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    try:
        conn = context.wrap_socket(raw, server_side=True)
        request = b""
        while b"\r\n\r\n" not in request:
            got = conn.recv(4096)
            if not got:
                return
            request += got
        method, path = request.split(b" ")[:2]
        if method == b"HEAD":
            conn.sendall(HEADER)
            conn.unwrap()
            raw.close()
            return
        conn.sendall(HEADER + PART)
        if path == b"/cut-reset":
            raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        # Closing the SSL socket sends no close_notify.
        conn.close()
    except (OSError, ssl.SSLError):
        raw.close()


def main():
    port_file, cert, key = sys.argv[1:4]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)
    while True:
        raw, _ = listener.accept()
        threading.Thread(target=serve, args=(raw, context), daemon=True).start()


if __name__ == "__main__":
    main()
