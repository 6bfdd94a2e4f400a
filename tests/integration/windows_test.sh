#!/usr/bin/env bash
# The 64-bit Windows DLL under Wine against the same loopback servers (nginx
# over HTTP and HTTPS, httpbin behind gunicorn, vsftpd in clear text and with
# explicit TLS, aiosmtpd, dovecot over POP3 and over IMAP with STARTTLS and
# IMAPS, xinetd), run as a CGI request, with a network drive: one transcript
# script run through nethost (Linux) and through a Windows host with its own
# message loop (tests/windows/transcript_host.cpp); a script must see the
# same codes, texts and events on both, and write the same bytes to standard
# output. Needs the windows-x64
# build (cmake --preset windows-x64), which scripts/test.sh makes.
source "$(dirname "$0")/web/lib.sh"
win=${SCRIPTNET_WINDOWS_BUILD_DIR:-$source_dir/build/windows-x64}
if [ ! -f "$win/scriptnet.dll" ] || [ ! -f "$win/tests/transcript_host.exe" ] || ! command -v wine >/dev/null; then
  echo "windows: the windows-x64 build or Wine is missing" >&2
  exit 1
fi
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-scriptnet} WINEDEBUG=-all

TLS_KEYS=rsa "$servers/tls_certs.sh" "$work/certs"
mkdir -p "$work/certs/trusted" "$work/certs/no-certificates"
cp "$work/certs/ca.pem" "$work/certs/trusted/company-ca.pem"
echo "not a certificate" | tee "$work/certs/trusted/README" >"$work/certs/no-certificates/README"
TLS_CERTS=$work/certs start nginx "$work/nginx" >/dev/null
www=$work/nginx/www
printf 'first line\r\nsecond line\n\nlast line' >"$www/page.txt"
head -c 1048576 /dev/urandom >"$www/mib.bin"
mkdir -p "$www/keep" "$www/dav"
printf '{"n":1}\n' >"$www/keep/a.json"
head -c 3000000 /dev/urandom >"$www/resume.bin"
start httpbin "$work/httpbin" >/dev/null
python3 "$source_dir/tests/integration/peers/cutting_proxy.py" "$work/cut.port" 1000000 &
stops+=("kill $!")
for _ in $(seq 100); do [ -s "$work/cut.port" ] && break; sleep 0.05; done
# Served at 4 MiB/s: a job that is still running when it is closed.
head -c 33554432 /dev/urandom >"$www/slow.bin"
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
ports=($(free_port 4))
python3 "$source_dir/tests/integration/peers/tls_faults.py" "$work/faults.port" \
  "$work/certs/good.pem" "$work/certs/good.key" &
stops+=("kill $!")
wait_until test -s "$work/faults.port"
# IMAP: a mailbox of its own, made anew before each run (so both runs see the
# same UIDs), holding one message with an attachment.
imap_port=${ports[2]} imaps_port=${ports[3]}
imap_box=$work/imap/Maildir
MAIL_TLS_CERTS=$work/certs IMAPS_PORT=$imaps_port "$servers/dovecot_imap.sh" "$work/imap" \
  "$imap_port" test secret "$imap_box" >"$work/imap.out" 2>&1 &
imap_pid=$!
stops+=("kill $imap_pid")
wait_for_port "$imap_port"
printf '%s\r\n' 'From: =?UTF-8?Q?J=C3=BCrgen?= <j@example.org>' 'Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=' \
  'Date: Tue, 01 Dec 2026 10:00:00 +0000' 'Content-Type: multipart/mixed; boundary="b"' '' '--b' \
  'Content-Type: text/plain' '' 'Hello.' '--b' 'Content-Type: application/octet-stream' \
  'Content-Disposition: attachment; filename="data.bin"' 'Content-Transfer-Encoding: base64' '' \
  'AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=' '--b--' >"$work/imap.eml"
new_mailbox() {
  rm -rf "$imap_box"
  mkdir -p "$imap_box"/{new,cur,tmp}
  # dovecot reads mail as "nobody" (dovecot_common.sh).
  chmod 777 "$imap_box" "$imap_box"/{new,cur,tmp}
  cp "$work/imap.eml" "$imap_box/new/1.transcript"
  chmod 666 "$imap_box/new/1.transcript"
}

out=$work/out
sed -e "s|@HTTP@|$(cat "$work/nginx/http.port")|g" -e "s|@FTP@|$(cat "$work/vsftpd/ftp.port")|g" \
  -e "s|@FTPS@|$(cat "$work/vsftpd-tls/ftp.port")|g" -e "s|@TIME@|$(cat "$work/xinetd/time.port")|g" -e "s|@SOCK@|${ports[0]}|g" \
  -e "s|@CLOSED@|${ports[1]}|g" -e "s|@OUT@|$out|g" -e "s|@CERTS@|$work/certs|g" \
  -e "s|@HTTPS@|$(cat "$work/nginx/https.port")|g" -e "s|@WRONG@|$(cat "$work/nginx/https-wrong.port")|g" \
  -e "s|@EXPIRED@|$(cat "$work/nginx/https-expired.port")|g" \
  -e "s|@OLD@|$(cat "$work/nginx/https-old.port")|g" -e "s|@FAULTS@|$(cat "$work/faults.port")|g" \
  -e "s|@SMTP@|$SMTP_PORT|g" -e "s|@POP3@|$POP3_PORT|g" -e "s|@IMAP@|$imap_port|g" \
  -e "s|@IMAPS@|$imaps_port|g" \
  -e "s|@BIN@|$(cat "$work/httpbin/httpbin.port")|g" -e "s|@CUT@|$(cat "$work/cut.port")|g" \
  "$source_dir/tests/windows/end_to_end.txt" >"$work/script.txt"

# The run is a CGI request too: a POST whose body ends its lines with CR LF
# on standard input; standard output holds what the script writes there.
printf 'a\r\nb\r\n' >"$work/body"
run() { # HOST: the transcript of one run, from a clean output folder
  rm -rf "$out" "$work/nginx/bodies"/* 2>/dev/null || true
  mkdir -p "$out"
  new_mailbox
  local logged
  logged=$(wc -l <"$work/nginx/nginx-access.log")
  if [ "$1" = linux ]; then
    REQUEST_METHOD=POST CONTENT_LENGTH=6 \
      "$nethost" "$source_dir/tests/windows/transcript.lua" "$work/script.txt" "$work/$1.txt"
  else
    REQUEST_METHOD=POST CONTENT_LENGTH=6 timeout 300 \
      wine "$win/tests/transcript_host.exe" "$win/scriptnet.dll" "$work/script.txt" "$work/$1.txt"
  fi <"$work/body" >"$work/$1.stdout"
  # What came back over FTPS is what went up, not only as long.
  if cmp -s "$www/mib.bin" "$out/ftps.bin"; then echo "ftps.bin the same"; else echo "ftps.bin differs"; fi >>"$work/$1.txt"
  if cmp -s "$www/resume.bin" "$out/resume.bin"; then echo "resume.bin the same"; else echo "resume.bin differs"; fi >>"$work/$1.txt"
  # The HTTPS requests of the run went over one kept connection.
  echo "kept: $(tail -n +$((logged + 1)) "$work/nginx/nginx-access.log" | awk '$4 == "\"GET" && $5 == "/keep/a.json" {print $1}' | sort -u | wc -l) connection(s)" >>"$work/$1.txt"
}
run linux
run windows
if ! diff -u "$work/linux.txt" "$work/windows.txt"; then
  echo "windows: the DLL under Wine showed the script something else" >&2
  exit 1
fi
printf 'written|as is\r\n' >"$work/expected.stdout"
for host in linux windows; do
  if ! cmp "$work/expected.stdout" "$work/$host.stdout"; then
    echo "windows: standard output of the $host run is not what CGI WRITE wrote:" >&2
    od -c "$work/$host.stdout" | head >&2
    exit 1
  fi
done
echo "windows: $(wc -l <"$work/linux.txt") steps the same under Wine"
