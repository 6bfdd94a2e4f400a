#!/usr/bin/python3
"""A server that plays the upgrade to TLS of SMTP (STARTTLS), POP3 (STLS) or
FTP (AUTH TLS) and, in the same packet as its go-ahead, slips in a failure
reply in clear text, as a man in the middle would. A client that kept it
would read it as the answer to its first command over TLS and fail or fall
out of step; a sound client drops it and the dialogue over TLS goes through.

Usage: starttls_injector.py smtp|pop3|ftp PORT_FILE LOG CERT KEY
Writes its loopback port to PORT_FILE; every command it receives goes to LOG
as one line, "tls " before those received over TLS. Serves one connection
after another until it is killed.
"""
import os
import socket
import ssl
import sys

GO_AHEAD = {
    "smtp": ("STARTTLS", b"220 go ahead\r\n554 injected in clear text\r\n"),
    "pop3": ("STLS", b"+OK begin TLS\r\n-ERR injected in clear text\r\n"),
    "ftp": ("AUTH TLS", b"234 go ahead\r\n530 injected in clear text\r\n"),
}
GREETING = {"smtp": b"220 injector ESMTP\r\n", "pop3": b"+OK injector\r\n",
            "ftp": b"220 injector\r\n"}


def reply(proto, secured, command, stream):
    """The answer to one command; None closes the connection."""
    verb = command.split(" ")[0].upper()
    if proto == "smtp":
        if verb == "EHLO":
            return b"250 injector\r\n" if secured else b"250-injector\r\n250 STARTTLS\r\n"
        if verb == "DATA":
            stream.write(b"354 go on\r\n")
            stream.flush()
            while stream.readline() not in (b".\r\n", b""):
                pass
            return b"250 accepted\r\n"
        return {"MAIL": b"250 ok\r\n", "RCPT": b"250 ok\r\n", "RSET": b"250 ok\r\n",
                "QUIT": None}.get(verb, b"500 unexpected\r\n")
    if proto == "pop3":
        if verb == "CAPA":
            return b"+OK\r\nUSER\r\nUIDL\r\n.\r\n" if secured else b"+OK\r\nSTLS\r\nUSER\r\n.\r\n"
        return {"USER": b"+OK\r\n", "PASS": b"+OK logged on\r\n", "STAT": b"+OK 0 0\r\n",
                "LIST": b"+OK\r\n.\r\n", "UIDL": b"+OK\r\n.\r\n",
                "QUIT": None}.get(verb, b"-ERR unexpected\r\n")
    return {"PBSZ": b"200 PBSZ=0\r\n", "PROT": b"200 protected\r\n", "USER": b"331 password\r\n",
            "PASS": b"230 logged on\r\n", "SYST": b"215 UNIX Type: L8\r\n", "TYPE": b"200 ok\r\n",
            "PWD": b'257 "/"\r\n', "NOOP": b"200 ok\r\n", "QUIT": None}.get(verb, b"502 not here\r\n")


def serve(proto, conn, context, log):
    upgrade, go_ahead = GO_AHEAD[proto]
    stream = conn.makefile("rwb", buffering=0)
    stream.write(GREETING[proto])
    secured = False
    while True:
        line = stream.readline()
        if not line:
            return
        command = line.decode("latin-1").rstrip("\r\n")
        log.write(("tls " if secured else "") + command + "\n")
        log.flush()
        if not secured and command.upper() == upgrade:
            stream.write(go_ahead)
            stream = None
            conn = context.wrap_socket(conn, server_side=True)
            stream = conn.makefile("rwb", buffering=0)
            secured = True
            continue
        answer = reply(proto, secured, command, stream)
        if answer is None:
            stream.write(b"221 bye\r\n" if proto != "pop3" else b"+OK bye\r\n")
            return
        stream.write(answer)


def main():
    proto, port_file, log_path, cert, key = sys.argv[1:6]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)
    with open(log_path, "a") as log:
        while True:
            conn, _ = listener.accept()
            try:
                serve(proto, conn, context, log)
            except (OSError, ssl.SSLError) as e:
                log.write("failed: %s\n" % e)
                log.flush()
            finally:
                conn.close()


if __name__ == "__main__":
    main()
