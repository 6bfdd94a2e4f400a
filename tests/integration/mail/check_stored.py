#!/usr/bin/python3
"""Checks the messages as the SMTP server stored them.

Usage: check_stored.py MAILDIR ENVELOPE_LOG WORKDIR
"""
import email
import email.policy
import hashlib
import json
import mailbox
import sys

maildir, log_path, work = sys.argv[1:4]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


box = mailbox.Maildir(maildir, create=False)
raw = {key: box.get_bytes(key) for key in box.keys()}
messages = {key: email.message_from_bytes(data) for key, data in raw.items()}
decoded = {key: email.message_from_bytes(data, policy=email.policy.default) for key, data in raw.items()}
by_subject = {str(msg["Subject"]): key for key, msg in decoded.items()}
intl_subject = ("Grüße aus Köln — 日本語のテキスト, a subject long enough to be folded 😀")
check(set(by_subject) == {"round trip", "small one", "small two", intl_subject},
      f"subjects {sorted(by_subject)}")

ids = [msg["Message-ID"] for msg in messages.values()]
check(len(set(ids)) == len(ids) == 4, f"message ids not unique: {ids}")
boundaries = [msg.get_boundary() for msg in messages.values()]
check(len(set(boundaries)) == 4, f"boundaries not unique: {boundaries}")

# The international message: only ASCII on the wire, short lines, and the
# texts as sent once decoded.
if intl_subject in by_subject:
    key = by_subject[intl_subject]
    msg = decoded[key]
    check(raw[key].isascii(), "8-bit bytes in the international message")
    longest = max(len(line) for line in raw[key].split(b"\n"))
    check(longest <= 78, f"international: a stored line of {longest} characters")
    sender = msg["From"].addresses[0]
    check((sender.display_name, sender.addr_spec) == ("Jörg Müller", "sender@example.org"),
          f"international sender {sender}")
    to = msg["To"].addresses[0]
    check((to.display_name, to.addr_spec) == ("Zoë Åström", "to1@example.org"), f"international recipient {to}")
    parts = [p for p in msg.walk() if not p.is_multipart()]
    check(len(parts) == 2 and parts[0].get_filename() == "résumé 日本 naïve.txt",
          f"international file name {[p.get_filename() for p in parts]}")
    check(parts[0].get_payload(decode=True) == "Grüße\r\n".encode(), "international attachment")

envelopes = {}
with open(log_path, encoding="utf-8") as log:
    for line in log:
        record = json.loads(line)
        envelopes[record["key"]] = record

key = by_subject["round trip"]
msg = messages[key]
env = envelopes[key]
check(env["from"] == "sender@example.org", f"envelope sender {env['from']}")
check(sorted(env["rcpt"]) == sorted(["to1@example.org", "to2@example.org", "cc@example.org",
                                      "hidden-bcc@example.org"]), f"envelope recipients {env['rcpt']}")
check(b"hidden-bcc" not in raw[key], "the BCC address is in the text")
check(len(msg.get_all("MIME-Version", [])) == 1, "MIME-Version count")
check(len(msg.get_all("Content-Type", [])) == 1, "Content-Type count")
check(msg.get_content_type() == "multipart/mixed", "not multipart/mixed")
check(msg.get_all("To") == ["To One <to1@example.org>, to2@example.org"], f"To {msg.get_all('To')}")
check(msg.get_all("CC") == ["cc@example.org"], "CC")

parts = [p for p in msg.walk() if not p.is_multipart()]
names = ["att0.bin", "att1.bin", "att1m.bin", "att20m.bin"]
check(len(parts) == 5, f"{len(parts)} parts")
for part, name in zip(parts, names):
    with open(f"{work}/{name}", "rb") as f:
        want = hashlib.sha256(f.read()).hexdigest()
    got = hashlib.sha256(part.get_payload(decode=True) or b"").hexdigest()
    check(got == want, f"{name} as stored differs")
    check(part.get_filename() == name, f"file name {part.get_filename()}")
text = parts[-1].get_payload(decode=True)
with open(f"{work}/body.txt", "rb") as f:
    want_body = f.read().replace(b"\r\n", b"\n")
check(text == want_body, f"body as stored differs: {text[:300]!r}")
longest = max(len(line) for line in raw[key].split(b"\n"))
check(longest <= 78, f"a stored line of {longest} characters")

for small in ("small one", "small two"):
    env = envelopes[by_subject[small]]
    check(sorted(env["rcpt"]) == sorted(["to1@example.org", "to2@example.org", "cc@example.org"]),
          f"{small}: recipients {env['rcpt']}")
    m = messages[by_subject[small]]
    check(len(m.get_all("MIME-Version", [])) == 1, f"{small}: MIME-Version count")
    body = [p for p in m.walk() if not p.is_multipart()]
    check(len(body) == 1 and body[0].get_payload(decode=True) == b"small\n", f"{small}: parts")

if failures:
    print("stored messages: FAILED", *failures, sep="\n  ")
    sys.exit(1)
print("stored messages: ok")
