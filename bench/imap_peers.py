#!/usr/bin/python3
"""The Python side of bench/imap.sh, and the mailbox it reads.

  imap_peers.py fill MAILDIR PAYLOAD   2,000 messages into INBOX, and one
                                       with PAYLOAD attached into Big
  imap_peers.py headers FILE PORT      what imap_bench.lua headers does
  imap_peers.py get FILE PORT          what imap_bench.lua get does
"""
import base64
import email
import email.header
import imaplib
import os
import re
import sys

mode = sys.argv[1]


def decoded(value):
    return str(email.header.make_header(email.header.decode_header(value)))


def unfolded(header, name):
    """A field of a header block, folded lines joined, as the project reads it."""
    value, inside = "", False
    for line in header.decode("latin-1").split("\r\n"):
        if line[:1] in (" ", "\t"):
            value += line if inside else ""
        else:
            inside = line.lower().startswith(name + ":")
            value = line[len(name) + 1:] if inside else value
    return value.strip().encode("latin-1").decode("utf-8", "replace")


if mode == "fill":
    box, payload = sys.argv[2], sys.argv[3]
    os.makedirs(f"{box}/new", exist_ok=True)
    for n in range(1, 2001):
        if n % 2:
            sender = f"=?UTF-8?B?{base64.b64encode(f'Jürgen Groß {n}'.encode()).decode()}?= <j{n}@example.org>"
            subject = f"=?ISO-8859-1?Q?Gr=FC=DFe_Nummer_{n}?="
        else:
            sender, subject = f"Anna {n} <anna{n}@example.org>", f"Plain subject {n}"
        text = (f"From: {sender}\r\nTo: test@example.org\r\nSubject: {subject}\r\n"
                f"Date: Tue, 01 Dec 2026 10:{n % 60:02d}:00 +0000\r\nMessage-ID: <{n}@example.org>\r\n"
                f"\r\nMessage number {n}.\r\n")
        with open(f"{box}/new/{n:05d}.bench", "w", newline="") as f:
            f.write(text)
    os.makedirs(f"{box}/.Big/new", exist_ok=True)
    with open(payload, "rb") as f:
        data = base64.encodebytes(f.read()).replace(b"\n", b"\r\n")
    with open(f"{box}/.Big/new/big", "wb") as f:
        f.write(b"From: Bench <bench@example.org>\r\nSubject: large\r\nMIME-Version: 1.0\r\n"
                b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                b"Content-Type: text/plain\r\n\r\nA message with a large attachment.\r\n--b\r\n"
                b"Content-Type: application/octet-stream\r\n"
                b"Content-Disposition: attachment; filename=\"payload.bin\"\r\n"
                b"Content-Transfer-Encoding: base64\r\n\r\n" + data + b"--b--\r\n")
    sys.exit(0)

out, port = sys.argv[2], int(sys.argv[3])
imap = imaplib.IMAP4("127.0.0.1", port)
imap.login("test", "secret")
if mode == "headers":
    imap.select("INBOX")
    status, data = imap.uid("FETCH", "1:2000",
                            "(UID FLAGS RFC822.SIZE BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE)])")
    with open(out, "w") as f:
        for item in data:
            if not isinstance(item, tuple):
                continue
            uid = re.search(rb"UID (\d+)", item[0]).group(1).decode()
            size = re.search(rb"RFC822.SIZE (\d+)", item[0]).group(1).decode()
            header = item[1]
            f.write("\t".join([uid, decoded(unfolded(header, "from")), decoded(unfolded(header, "subject")),
                               unfolded(header, "date"), size]) + "\n")
else:
    imap.select("Big")
    status, data = imap.uid("FETCH", "1", "(BODY.PEEK[])")
    message = email.message_from_bytes(data[0][1])
    for part in message.walk():
        if part.get_filename() == "payload.bin":
            with open(out, "wb") as f:
                f.write(part.get_payload(decode=True))
imap.logout()
