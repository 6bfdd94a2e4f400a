#!/usr/bin/python3
"""An SMTP server for tests and benchmarks: aiosmtpd on a loopback port that
delivers every accepted message into a Maildir and records each envelope
(sender, recipients, Maildir key) as one JSON line in a log.

Usage: aiosmtpd_maildir.py PORT MAILDIR ENVELOPE_LOG [USER PASSWORD]
With USER and PASSWORD, a login is required before MAIL FROM (CRAM-MD5,
PLAIN and LOGIN, offered over clear text too) and the log line names the
user who logged on.
With MAIL_TLS_CERTS naming a folder made by tls_certs.sh in the environment,
the server offers STARTTLS with good.pem and requires it before mail and
logins.
Prints "ready" on standard output once it accepts connections; runs until
it is sent SIGTERM or SIGINT.
"""
import hmac
import json
import mailbox
import os
import signal
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, AuthResult, LoginPassword


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
            login = session.login_data
            with open(self.log_path, "a", encoding="utf-8") as log:
                log.write(json.dumps({"from": envelope.mail_from,
                                      "rcpt": list(envelope.rcpt_tos),
                                      "key": key,
                                      "login": login.decode() if login else None}) + "\n")
        return "250 Message accepted for delivery"


class LoginHandler(MaildirHandler):
    """Adds CRAM-MD5, which aiosmtpd does not have, beside its PLAIN and LOGIN."""

    def __init__(self, maildir, log_path, user, password):
        super().__init__(maildir, log_path)
        self.user, self.password = user.encode(), password.encode()

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
              and auth_data.password == self.password)
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    async def auth_CRAM__MD5(self, server, args):
        challenge = f"<{os.getpid()}.{time.time_ns()}@127.0.0.1>".encode()
        response = await server.challenge_auth(challenge)
        if response is MISSING:
            return AuthResult(success=False, handled=True)
        user, _, digest = response.partition(b" ")
        want = hmac.new(self.password, challenge, "md5").hexdigest().encode()
        ok = user == self.user and hmac.compare_digest(digest, want)
        return AuthResult(success=ok, handled=False,
                          auth_data=LoginPassword(user, b"") if ok else None)


def main():
    port, maildir, log_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    login = {}
    if len(sys.argv) > 5:
        handler = LoginHandler(maildir, log_path, sys.argv[4], sys.argv[5])
        login = dict(authenticator=handler.authenticate, auth_required=True,
                     auth_require_tls=False)
    else:
        handler = MaildirHandler(maildir, log_path)
    certs = os.environ.get("MAIL_TLS_CERTS")
    if certs:
        import ssl
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(os.path.join(certs, "good.pem"), os.path.join(certs, "good.key"))
        login.update(tls_context=context, require_starttls=True)
        if "auth_require_tls" in login:
            login["auth_require_tls"] = True
    # BIND_ADDRESS (default 127.0.0.1, may be ::1) is the address it listens on.
    controller = Controller(handler, hostname=os.environ.get("BIND_ADDRESS", "127.0.0.1"),
                            port=port, data_size_limit=256 * 1024 * 1024,
                            decode_data=False, **login)
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
