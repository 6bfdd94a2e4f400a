#!/usr/bin/python3
"""An SMTP server for tests and benchmarks: aiosmtpd on a loopback port that
delivers every accepted message into a Maildir and records each envelope
(sender, recipients, Maildir key) as one JSON line in a log.

Usage: aiosmtpd_maildir.py PORT MAILDIR ENVELOPE_LOG
Prints "ready" on standard output once it accepts connections; runs until
it is sent SIGTERM or SIGINT.
"""
import json
import mailbox
import os
import signal
import sys
import threading

from aiosmtpd.controller import Controller


class MaildirHandler:
    def __init__(self, maildir, log_path):
        self.box = mailbox.Maildir(maildir, create=True)
        self.log_path = log_path
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        # Maildir files hold LF line ends; the POP3 server puts CR LF back.
        data = envelope.original_content or envelope.content
        data = data.replace(b"\r\n", b"\n")
        with self.lock:
            key = self.box.add(data)
            os.chmod(os.path.join(self.box._path, self.box._lookup(key)), 0o666)
            with open(self.log_path, "a", encoding="utf-8") as log:
                log.write(json.dumps({"from": envelope.mail_from,
                                      "rcpt": list(envelope.rcpt_tos),
                                      "key": key}) + "\n")
        return "250 Message accepted for delivery"


def main():
    port, maildir, log_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    controller = Controller(MaildirHandler(maildir, log_path), hostname="127.0.0.1",
                            port=port, data_size_limit=256 * 1024 * 1024,
                            decode_data=False)
    # Messages must stay readable and removable by the POP3 server, which
    # may read the Maildir as another user.
    os.umask(0)
    controller.start()
    print("ready", flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()
