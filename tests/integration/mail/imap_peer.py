#!/usr/bin/python3
"""The second client of the IMAP test: Python's imaplib on the same mailbox.

  imap_peer.py seed PORT CA ATTACHMENT   fills INBOX, flags a message and
                                         marks one deleted (not expunged),
                                         makes a folder with a non-ASCII name
  imap_peer.py deliver PORT CA           a new message lands in INBOX
  imap_peer.py check PORT CA             what the project's client did,
                                         seen from here
Every session goes over STARTTLS to 127.0.0.1, trusting CA only.
"""
import email.message
import imaplib
import ssl
import sys
import time

mode, port, ca = sys.argv[1], int(sys.argv[2]), sys.argv[3]


def connect():
    imap = imaplib.IMAP4("127.0.0.1", port)
    imap.starttls(ssl.create_default_context(cafile=ca))
    imap.login("test", "secret")
    return imap


def message(subject, sender, attachment=None):
    m = email.message.EmailMessage()
    m["From"] = sender
    m["Subject"] = subject
    m["Date"] = "Tue, 01 Dec 2026 10:00:00 +0000"
    m.set_content(f"About {subject}.\n")
    if attachment:
        with open(attachment, "rb") as f:
            m.add_attachment(f.read(), maintype="application", subtype="octet-stream",
                             filename="data.bin")
    return m.as_bytes().replace(b"\n", b"\r\n")


def uids(imap, *criteria):
    status, data = imap.uid("SEARCH", "CHARSET", "UTF-8", *criteria)
    assert status == "OK", data
    return data[0].split()


def flags(imap, subject):
    (uid,) = uids(imap, "SUBJECT", f'"{subject}"')
    status, data = imap.uid("FETCH", uid, "(FLAGS)")
    return b" ".join(imaplib.ParseFlags(data[0])).decode()


imap = connect()
if mode == "seed":
    recent = imaplib.Time2Internaldate(time.time())
    for subject, sender, when, flagged in [
        ("old news", "Old <old@example.org>", '"01-Jan-2020 10:00:00 +0000"', "(\\Seen)"),
        ("hello", "Anna <anna@example.org>", recent, None),
        ("Grüße", "Jürgen Groß <jg@example.org>", recent, None),
        ("flagged elsewhere", "Carl <carl@example.org>", recent, "(\\Seen \\Flagged)"),
        ("marked deleted elsewhere", "Dora <dora@example.org>", recent, "(\\Seen)"),
        ("to delete", "Eve <eve@example.org>", recent, None),
        ("to move", "Finn <finn@example.org>", recent, None),
        ("moved by copy", "Gus <gus@example.org>", recent, None),
    ]:
        body = message(subject, sender, sys.argv[4] if sender.startswith("J") else None)
        assert imap.append("INBOX", flagged, when, body)[0] == "OK"
    # Marked by this client, expunged by nobody: a DELMAIL of another
    # message must leave it.
    imap.select("INBOX")
    (uid,) = uids(imap, "SUBJECT", '"marked deleted elsewhere"')
    assert imap.uid("STORE", uid, "+FLAGS", "(\\Deleted)")[0] == "OK"
    assert imap.create("&ZeVnLIqe-")[0] == "OK"  # 日本語
elif mode == "deliver":
    assert imap.append("INBOX", None, None, message("delivered meanwhile", "Hal <h@example.org>"))[0] == "OK"
else:
    imap.select("INBOX")
    assert uids(imap, "SUBJECT", '"marked deleted elsewhere"'), "the other client's message went"
    assert not uids(imap, "SUBJECT", '"to delete"'), "DELMAIL left its message"
    assert not uids(imap, "SUBJECT", '"to move"'), "MOVE left its message"
    assert "\\Seen" in flags(imap, "hello") and "$Done" in flags(imap, "hello"), flags(imap, "hello")
    assert "\\Flagged" not in flags(imap, "flagged elsewhere"), flags(imap, "flagged elsewhere")
    imap.select("Archive")
    assert uids(imap, "SUBJECT", '"to move"'), "the moved message is not in Archive"
    imap.select("&ZeVnLIqe-")
    assert uids(imap, "SUBJECT", '"moved by copy"'), "the message moved by COPY is not there"
    imap.select("Sent")
    assert "\\Seen" in flags(imap, "filed copy"), "APPEND lost its flags"
    status, folders = imap.list()
    assert any(f.endswith(b'"Entw&APw-rfe/&AMk-t&AOk-"') or f.endswith(b" Entw&APw-rfe/&AMk-t&AOk-")
               for f in folders), folders
imap.logout()
