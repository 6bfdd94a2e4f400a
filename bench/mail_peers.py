#!/usr/bin/python3
"""Benchmark peers from Python's standard library.

  mail_peers.py send SMTP_PORT MESSAGE_FILE   smtplib sends the message
  mail_peers.py get POP3_PORT NUMBER          poplib retrieves it, email parses it
Prints the seconds taken.
"""
import email
import poplib
import smtplib
import sys
import time

mode = sys.argv[1]
port = int(sys.argv[2])
t0 = time.perf_counter()
if mode == "send":
    with open(sys.argv[3], "rb") as f:
        data = f.read()
    with smtplib.SMTP("127.0.0.1", port) as smtp:
        smtp.sendmail("bench@example.org", ["bench@example.org"], data)
else:
    pop = poplib.POP3("127.0.0.1", port)
    pop.user("test")
    pop.pass_("secret")
    _, lines, _ = pop.retr(int(sys.argv[3]))
    pop.quit()
    msg = email.message_from_bytes(b"\r\n".join(lines))
    for part in msg.walk():
        if not part.is_multipart():
            part.get_payload(decode=True)
print(f"{time.perf_counter() - t0:.3f}")
