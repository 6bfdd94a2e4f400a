#!/usr/bin/env bash
# TLS against real servers on loopback with certificates made for this run.
# HTTPS against nginx: pages and downloads compared by SHA-256, a CONNECT
# tunnel through a proxy that wants credentials, and every refusal (untrusted
# issuer, wrong name, expired, a redirect to clear text, a server of TLS 1.1
# at most) with VERIFY off accepting the certificates; answers that end
# without the TLS close (tls_faults.py) refused. FTPS against vsftpd requiring TLS and session reuse,
# explicit (AUTH TLS) and implicit, both ways, passive and listing.
source "$(dirname "$0")/web/lib.sh"

"$servers/tls_certs.sh" "$work/certs"
# A folder of trusted certificates not named by their subject's hash, beside
# a file that is none; and a folder with no certificate at all.
mkdir -p "$work/certs/trusted" "$work/certs/no-certificates"
cp "$work/certs/ca.pem" "$work/certs/trusted/company-ca.pem"
echo "not a certificate" | tee "$work/certs/trusted/README" >"$work/certs/no-certificates/README"
TLS_CERTS=$work/certs start nginx "$work/nginx" >/dev/null
www=$work/nginx/www
mkdir -p "$work/out"
printf 'first line\r\nsecond line\n' >"$www/page.txt"
head -c 3000000 /dev/urandom >"$www/big.bin"

python3 "$source_dir/tests/integration/peers/connect_proxy.py" "$work/connect.port" tunneluser tunnelpass &
stops+=("kill $!")
python3 "$source_dir/tests/integration/peers/tls_faults.py" "$work/faults.port" \
  "$work/certs/good.pem" "$work/certs/good.key" &
stops+=("kill $!")
wait_until test -s "$work/connect.port"
wait_until test -s "$work/faults.port"

check tls_check.lua "$work/certs" "$www" "$work/out" "$(cat "$work/nginx/https.port")" \
  "$(cat "$work/nginx/https-wrong.port")" "$(cat "$work/nginx/https-expired.port")" \
  "$(cat "$work/connect.port")" "$(cat "$work/nginx/https-old.port")" "$(cat "$work/faults.port")"

for mode in explicit implicit; do
  mkdir -p "$work/ftps-$mode"
  FTP_TLS=$mode TLS_CERTS=$work/certs start vsftpd "$work/ftps-$mode" >/dev/null
  head -c 2000000 /dev/urandom >"$work/ftps-$mode/ftp/down.bin"
  chown -R "${FTP_USER:-scriptnet}" "$work/ftps-$mode/ftp"
done
check ftps_check.lua "$work/certs" "$work/out" \
  "127.0.0.1:$(cat "$work/ftps-explicit/ftp.port")" "$work/ftps-explicit/ftp" \
  "127.0.0.1:$(cat "$work/ftps-implicit/ftp.port")" "$work/ftps-implicit/ftp" \
  "${FTP_USER:-scriptnet}" "${FTP_PASS:-scriptnet-pw}"

# Clear text slipped in behind the go-ahead for TLS is never read as a reply.
for proto in smtp pop3 ftp; do
  python3 "$source_dir/tests/integration/peers/starttls_injector.py" "$proto" \
    "$work/$proto-injector.port" "$work/$proto-injector.log" "$work/certs/good.pem" "$work/certs/good.key" &
  stops+=("kill $!")
done
for proto in smtp pop3 ftp; do
  wait_until test -s "$work/$proto-injector.port"
done
check starttls_injection.lua "$work/certs/ca.pem" "$(cat "$work/smtp-injector.port")" \
  "$(cat "$work/pop3-injector.port")" "$(cat "$work/ftp-injector.port")"
# The first command over TLS is the one that comes after the upgrade.
for first in "smtp EHLO" "pop3 CAPA" "ftp USER"; do
  set -- $first
  grep -m1 '^tls ' "$work/$1-injector.log" | grep -q "^tls $2" ||
    { echo "$1: first command over TLS is not $2" >&2; cat "$work/$1-injector.log" >&2; exit 1; }
done
echo "tls: ok"
