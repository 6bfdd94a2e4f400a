#!/usr/bin/env bash
# A real web server runs the example CGI form handler through nethost; a real
# headless browser fills in the form and sends it by GET and by POST, and the
# page the script wrote back must hold exactly what was typed. curl checks
# the raw bytes of the same CGI's responses.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=${SCRIPTNET_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
build=${SCRIPTNET_BUILD_DIR:-$src/build}
source "$src/tests/support/wait.sh"
for tool in lighttpd /usr/bin/chromium curl /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "cgi_browser: $tool is not installed (scripts/install-deps.sh foundation)"; exit 1; }
done

work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

port=$(/usr/bin/python3 "$src/tests/support/free_port.py")
mkdir "$work/www"
cp "$src/examples/cgi_form.lua" "$work/www/form.lua"
cat >"$work/lighttpd.conf" <<EOF
server.document-root = "$work/www"
server.bind = "127.0.0.1"
server.port = $port
server.modules = ("mod_cgi")
cgi.assign = (".lua" => "$build/nethost")
server.errorlog = "$work/error.log"
EOF
# Runs as the current user; the test command runs as root, which lighttpd accepts.
lighttpd -D -f "$work/lighttpd.conf" &
server_pid=$!
url="http://127.0.0.1:$port/form.lua"
wait_until curl -s -o /dev/null "$url"

fail() { echo "cgi_browser: $*"; [ -f "$work/error.log" ] && tail -20 "$work/error.log"; exit 1; }

# Raw bytes: status, header and a body whose lines end in CR LF.
curl -s -i --max-time 20 --data-binary 'name=a+b%2Bc&comment=%3Cb%3E+%2525&long=' "$url" >"$work/post.raw"
curl -s -i --max-time 20 "$url?name=%41+b&comment=x%2By" >"$work/get.raw"
curl -s -i --max-time 20 -X PUT "$url" >"$work/put.raw"
/usr/bin/python3 - "$work" <<'EOF' || fail "raw responses differ"
import sys
work = sys.argv[1]
def split(name):
    raw = open(f"{work}/{name}.raw", "rb").read()
    head, _, body = raw.partition(b"\r\n\r\n")
    return head.split(b"\r\n"), body
def page(method, name, comment, long):
    lines = [b"<!DOCTYPE html>",
             b'<html><head><meta charset="utf-8"><title>Received</title></head><body>',
             b'<p id="method">' + method + b"</p>",
             b'<p id="name">' + name + b"</p>",
             b'<p id="comment">' + comment + b"</p>",
             b'<p id="long">' + long + b"</p>",
             b"</body></html>"]
    return b"".join(l + b"\r\n" for l in lines)
ok = True
for name, status, body in [
        ("post", b"HTTP/1.1 200 OK", page(b"POST", b"a b+c", b"&lt;b&gt; %25", b"")),
        ("get", b"HTTP/1.1 200 OK", page(b"GET", b"A b", b"x+y", b"")),
        ("put", b"HTTP/1.1 400 Bad Request",
         b"<!DOCTYPE html><title>Bad request</title><p>Request not understood (code 207).</p>\r\n")]:
    head, got = split(name)
    if head[0] != status or b"Content-Type: text/html; charset=utf-8" not in head or got != body:
        print(f"{name}: {head!r}\n{got!r}\nwant {body!r}")
        ok = False
sys.exit(0 if ok else 1)
EOF

# The browser: fills both forms by typing, sends them, reads the page back.
/usr/bin/python3 - "$url" <<'EOF' || fail "browser round trip failed"
import json, os, select, shutil, signal, subprocess, sys, tempfile, time

class Browser:
    """Headless Chromium driven over its DevTools pipe (fd 3 in, fd 4 out)."""
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="cgi-browser-")
        r_cmd, w_cmd = os.pipe()
        r_ev, w_ev = os.pipe()
        def child():
            a, b = os.dup(r_cmd), os.dup(w_ev)
            os.dup2(a, 3)
            os.dup2(b, 4)
        self.proc = subprocess.Popen(
            ["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--disable-dev-shm-usage", "--user-data-dir=" + self.profile,
             "--remote-debugging-pipe", "about:blank"],
            pass_fds=(3, 4), preexec_fn=child, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(r_cmd)
        os.close(w_ev)
        self.w, self.r = w_cmd, r_ev
        self.buf, self.next_id, self.events = b"", 0, []

    def read(self, deadline):
        while b"\0" not in self.buf:
            left = deadline - time.time()
            if left <= 0:
                raise TimeoutError("the browser did not answer in time")
            if select.select([self.r], [], [], left)[0]:
                chunk = os.read(self.r, 1 << 16)
                if not chunk:
                    raise RuntimeError("the browser closed its pipe")
                self.buf += chunk
        msg, self.buf = self.buf.split(b"\0", 1)
        return json.loads(msg)

    def send(self, method, params=None, session=None, timeout=30):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            msg["sessionId"] = session
        os.write(self.w, json.dumps(msg).encode() + b"\0")
        deadline = time.time() + timeout
        while True:
            m = self.read(deadline)
            if m.get("id") == self.next_id:
                if "error" in m:
                    raise RuntimeError(f"{method}: {m['error']}")
                return m["result"]
            self.events.append(m)

    def wait_event(self, method, session, timeout=30):
        deadline = time.time() + timeout
        while True:
            for i, e in enumerate(self.events):
                if e.get("method") == method and e.get("sessionId") == session:
                    return self.events.pop(i)
            self.events.append(self.read(deadline))

    def close(self):
        try:
            self.proc.terminate()
            self.proc.wait(10)
        except Exception:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.profile, ignore_errors=True)

signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
url = sys.argv[1]
values = {
    "name": "J\u00f6rg M\u00fcller + Co",
    "comment": "50%25 off & 100% sure; a+b=c %41 <i>",
    "long": ("Lorem ipsum+dolor%20sit & amet=1; \u00e9t\u00e9 " * 40)[:1500],
}
assert len(values["long"]) > 1000
browser = Browser()
failed = False
try:
    target = browser.send("Target.createTarget", {"url": "about:blank"})
    s = browser.send("Target.attachToTarget", {"targetId": target["targetId"], "flatten": True})["sessionId"]
    browser.send("Page.enable", session=s)

    def js(expression):
        r = browser.send("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session=s)
        return r["result"].get("value")

    for method in ("get", "post"):
        browser.send("Page.navigate", {"url": url}, session=s)
        browser.wait_event("Page.loadEventFired", s)
        if js("document.title") != "Form":
            raise RuntimeError("the form page did not come: " + str(js("document.body.innerText")))
        for name, value in values.items():
            js(f"document.getElementById('{method}-{name}').focus()")
            browser.send("Input.insertText", {"text": value}, session=s)
        js(f"document.getElementById('{method}-send').click()")
        browser.wait_event("Page.loadEventFired", s)
        got = {name: js(f"document.getElementById('{name}').textContent") for name in values}
        got_method = js("document.getElementById('method').textContent")
        where = js("location.href")
        if got_method != method.upper() or got != values:
            print(f"{method}: page {where} shows {got_method} {got!r}, want {values!r}")
            failed = True
        elif method == "get" and "?" not in where:
            print(f"get: the form was not sent in the address: {where}")
            failed = True
        else:
            print(f"browser {method.upper()}: ok ({sum(len(v) for v in values.values())} characters round trip)")
finally:
    browser.close()
sys.exit(1 if failed else 0)
EOF
echo "cgi_browser: ok"
