#!/usr/bin/env bash
# The 64-bit Windows DLL under Wine against the same loopback servers (nginx
# over HTTP and HTTPS, vsftpd in clear text and with explicit TLS, aiosmtpd,
# dovecot, xinetd): one
# transcript script run through nethost (Linux) and through a Windows host
# with its own message loop (tests/windows/transcript_host.cpp); a script
# must see the same codes, texts and events on both. Needs the windows-x64
# build (cmake --preset windows-x64), which scripts/test.sh makes.
source "$(dirname "$0")/web/lib.sh"
win=${SCRIPTNET_WINDOWS_BUILD_DIR:-$source_dir/build/windows-x64}
if [ ! -f "$win/scriptnet.dll" ] || [ ! -f "$win/tests/transcript_host.exe" ] || ! command -v wine >/dev/null; then
  echo "windows: the windows-x64 build or Wine is missing" >&2
  exit 1
fi
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-scriptnet} WINEDEBUG=-all

TLS_KEYS=rsa "$servers/tls_certs.sh" "$work/certs"
TLS_CERTS=$work/certs start nginx "$work/nginx" >/dev/null
www=$work/nginx/www
printf 'first line\r\nsecond line\n\nlast line' >"$www/page.txt"
head -c 1048576 /dev/urandom >"$www/mib.bin"
mkdir -p "$work/vsftpd/ftp/folder/sub"
printf 'abc' >"$work/vsftpd/ftp/folder/a.txt"
printf 'spaced' >"$work/vsftpd/ftp/folder/name with spaces.txt"
start vsftpd "$work/vsftpd" >/dev/null
chown -R scriptnet "$work/vsftpd/ftp"
mkdir -p "$work/vsftpd-tls/ftp/folder"
cp "$work/vsftpd/ftp/folder/"*.txt "$work/vsftpd-tls/ftp/folder/"
# Without session reuse: Schannel resumes a session for the same credentials
# and target name, which is how the DLL meets vsftpd's require_ssl_reuse on
# Windows, but Wine's Schannel resumes none (its GnuTLS glue never hands a
# session's data or ticket to the next handshake; wine_limits.exe PORT shows
# it against nginx, which resumes OpenSSL's), so vsftpd would refuse every
# data connection under Wine.
FTP_TLS=explicit FTP_TLS_REUSE=NO TLS_CERTS=$work/certs start vsftpd "$work/vsftpd-tls" >/dev/null
chown -R scriptnet "$work/vsftpd-tls/ftp"
start xinetd "$work/xinetd" >/dev/null
source "$source_dir/tests/integration/mail/servers.sh"
stops+=(stop_mail_servers)
mkdir -p "$work/mail"
start_mail_servers "$work/mail"
free_port() { /usr/bin/python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }
python3 "$source_dir/tests/integration/peers/tls_faults.py" "$work/faults.port" \
  "$work/certs/good.pem" "$work/certs/good.key" &
stops+=("kill $!")
for _ in $(seq 100); do [ -s "$work/faults.port" ] && break; sleep 0.05; done

out=$work/out
sed -e "s|@HTTP@|$(cat "$work/nginx/http.port")|g" -e "s|@FTP@|$(cat "$work/vsftpd/ftp.port")|g" \
  -e "s|@FTPS@|$(cat "$work/vsftpd-tls/ftp.port")|g" -e "s|@TIME@|$(cat "$work/xinetd/time.port")|g" -e "s|@SOCK@|$(free_port)|g" \
  -e "s|@CLOSED@|$(free_port)|g" -e "s|@OUT@|$out|g" -e "s|@CERTS@|$work/certs|g" \
  -e "s|@HTTPS@|$(cat "$work/nginx/https.port")|g" -e "s|@WRONG@|$(cat "$work/nginx/https-wrong.port")|g" \
  -e "s|@EXPIRED@|$(cat "$work/nginx/https-expired.port")|g" \
  -e "s|@OLD@|$(cat "$work/nginx/https-old.port")|g" -e "s|@FAULTS@|$(cat "$work/faults.port")|g" \
  -e "s|@SMTP@|$SMTP_PORT|g" -e "s|@POP3@|$POP3_PORT|g" \
  "$source_dir/tests/windows/end_to_end.txt" >"$work/script.txt"

run() { # HOST: the transcript of one run, from a clean output folder
  rm -rf "$out" "$work/nginx/bodies"/* 2>/dev/null || true
  mkdir -p "$out"
  if [ "$1" = linux ]; then
    "$nethost" "$source_dir/tests/windows/transcript.lua" "$work/script.txt"
  else
    timeout 300 wine "$win/tests/transcript_host.exe" "$win/scriptnet.dll" "$work/script.txt" | tr -d '\r'
  fi >"$work/$1.txt"
  # What came back over FTPS is what went up, not only as long.
  if cmp -s "$www/mib.bin" "$out/ftps.bin"; then echo "ftps.bin the same"; else echo "ftps.bin differs"; fi >>"$work/$1.txt"
}
run linux
run windows
if ! diff -u "$work/linux.txt" "$work/windows.txt"; then
  echo "windows: the DLL under Wine showed the script something else" >&2
  exit 1
fi
echo "windows: $(wc -l <"$work/linux.txt") steps the same under Wine"
