#!/usr/bin/env bash
# HTTPS against nginx on loopback with certificates made for this run:
# pages and downloads compared by SHA-256, a CONNECT tunnel through a proxy
# that wants credentials, and every refusal (untrusted issuer, wrong name,
# expired, a redirect to clear text) with VERIFY off accepting them.
source "$(dirname "$0")/web/lib.sh"

"$servers/tls_certs.sh" "$work/certs"
TLS_CERTS=$work/certs start nginx "$work/nginx" >/dev/null
www=$work/nginx/www
mkdir -p "$work/out"
printf 'first line\r\nsecond line\n' >"$www/page.txt"
head -c 3000000 /dev/urandom >"$www/big.bin"

python3 "$source_dir/tests/integration/peers/connect_proxy.py" "$work/connect.port" tunneluser tunnelpass &
proxy_pid=$!
stops+=("kill $proxy_pid")
for _ in $(seq 100); do [ -s "$work/connect.port" ] && break; sleep 0.05; done

check tls_check.lua "$work/certs" "$www" "$work/out" "$(cat "$work/nginx/https.port")" \
  "$(cat "$work/nginx/https-wrong.port")" "$(cat "$work/nginx/https-expired.port")" \
  "$(cat "$work/connect.port")"
echo "tls: ok"
