#!/usr/bin/env bash
# Web API calls against real servers on loopback. httpbin behind gunicorn:
# every method, headers echoed, JSON bodies and forms, status codes and the
# answer's headers, gzip and deflate, cookies in a jar that curl reads and
# writes too, each kind of redirect, Basic and bearer credentials, ranges.
# nginx: files PUT and DELETEd through its DAV module, a file served
# compressed, connections kept over TLS counted in its access log, and a
# download broken off by a cutting proxy, then resumed from the same file or
# started again because the file changed.
source "$(dirname "$0")/web/lib.sh"

"$servers/tls_certs.sh" "$work/certs"
TLS_CERTS=$work/certs start nginx "$work/nginx" >/dev/null
start httpbin "$work/httpbin" >/dev/null
www=$work/nginx/www
mkdir -p "$www/gz" "$www/dav" "$www/keep" "$work/out"
seq 1 300000 >"$www/gz/numbers.txt"
printf '{"n":1}\n' >"$www/keep/a.json"
head -c 3000000 /dev/urandom >"$www/mib3.bin"
head -c 5000000 /dev/urandom >"$www/resume.bin"

python3 "$source_dir/tests/integration/peers/cutting_proxy.py" "$work/cut.port" 1000000 &
stops+=("kill $!")
for _ in $(seq 100); do [ -s "$work/cut.port" ] && break; sleep 0.05; done

check webapi_check.lua "$(cat "$work/httpbin/httpbin.port")" "$(cat "$work/nginx/http.port")" \
  "$(cat "$work/nginx/https.port")" "$work/certs/ca.pem" "$www" "$work/out" \
  "$work/nginx/nginx-access.log" "$(cat "$work/cut.port")"
echo "webapi: ok"
