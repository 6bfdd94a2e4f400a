#!/usr/bin/env bash
# IPv6 on ::1: nginx, vsftpd (listen_ipv6), aiosmtpd, dovecot and xinetd's
# time service through every family; FTP's dialogue shows EPSV, EPRT in active
# mode and PASV after a server refuses EPSV; the SOCKET relay takes an IPv4
# and an IPv6 client on one port and names each in its own notation.
source "$(dirname "$0")/web/lib.sh"
source "$source_dir/tests/integration/mail/servers.sh"
export BIND_ADDRESS=::1
peers=$source_dir/tests/integration/peers
fail() { echo "FAIL: $*"; exit 1; }

start nginx "$work/nginx" >/dev/null
echo "a page over IPv6" >"$work/nginx/www/page.txt"
mkdir -p "$work/vsftpd"
start vsftpd "$work/vsftpd" >/dev/null
start xinetd "$work/xinetd" >/dev/null
stops+=(stop_mail_servers)
mkdir -p "$work/mail"
start_mail_servers "$work/mail"
head -c 300000 /dev/urandom >"$work/upload.bin"

"$nethost" -v "$source_dir/tests/integration/web/ipv6_check.lua" "$(cat "$work/nginx/http.port")" \
  "$(cat "$work/vsftpd/ftp.port")" "$work/vsftpd/ftp" "$work" "$SMTP_PORT" "$POP3_PORT" \
  "$(cat "$work/xinetd/time.port")" 2>"$work/trace" || { cat "$work/trace"; fail "checks"; }
for line in "> EPSV" "< 229 " "> EPRT |2|::1|" "< 200 EPRT command successful"; do
  grep -qF -- "$line" "$work/trace" || fail "the FTP dialogue lacks: $line"
done
grep -qF "> PASV" "$work/trace" && fail "PASV asked of a server that takes EPSV"

# A server that knows PASV only.
/usr/bin/python3 "$source_dir/tests/integration/web/hostile_ftp.py" "$work/fake.port" ::1 &
stops+=("kill $!")
wait_until test -s "$work/fake.port"
"$nethost" -v -e "assert(net.command('FTP', 'LOGON', '[::1]:$(cat "$work/fake.port")') == 0)
  assert(net.command('FTP', 'DOWNLOAD', 'ok.txt', '$work/ok.txt') == 0, net.error())
  assert(net.command('FTP', 'DOWNLOAD', 'ok.txt', '$work/ok2.txt') == 0, net.error())" \
  2>"$work/fallback" || { cat "$work/fallback"; fail "PASV fall-back"; }
[ "$(grep -c '^> EPSV' "$work/fallback")" = 1 ] && [ "$(grep -c '^> PASV' "$work/fallback")" = 2 ] ||
  { cat "$work/fallback"; fail "EPSV once, then PASV for the logon"; }
[ "$(cat "$work/ok2.txt")" = fine ] || fail "the file through PASV"

# The relay: one IPv4 and one IPv6 client of the same server.
port=$(/usr/bin/python3 "$source_dir/tests/support/free_port.py" ::1)
"$nethost" "$peers/reflector.lua" "$port" "$work/relay.log" 30 &
stops+=("kill $!")
wait_until grep -q LISTENING "$work/relay.log"
timeout 20 "$nethost" "$peers/client.lua" 127.0.0.1 "$port" auto 1 "SERVER|from four" >"$work/c4" &
timeout 20 "$nethost" "$peers/client.lua" ::1 "$port" auto 1 "SERVER|from six" >"$work/c6"
wait $!
for who in "127.0.0.1|.*from four" "::1|.*from six"; do
  grep -q "^NETWORK|$who" "$work/relay.log" || { cat "$work/relay.log"; fail "relay: $who"; }
done
grep -q "^ACCEPT|127\.0\.0\.1|" "$work/relay.log" && grep -q "^ACCEPT|::1|" "$work/relay.log" ||
  { cat "$work/relay.log"; fail "peer addresses"; }
grep -q "^CONNECT|::1|$port|" "$work/c6" && grep -q "^NETWORK|::1|$port|id:" "$work/c6" ||
  { cat "$work/c6"; fail "the IPv6 client"; }
echo "ipv6: ok"
