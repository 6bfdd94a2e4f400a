#!/usr/bin/env bash
# Background jobs against real servers on loopback: every subcommand that
# can run as a job (HTTP against nginx, FTP against vsftpd, SMTP against
# aiosmtpd, POP3 against dovecot) leaves after JOB TAKE what the blocking
# command leaves; SEND sends the message as composed at the start; nethost
# ends cleanly with four jobs running, leaving no file; and
# examples/background_download.lua runs.
source "$(dirname "$0")/web/lib.sh"

start nginx "$work/nginx" >/dev/null
www=$work/nginx/www
mkdir -p "$work/out" "$work/vsftpd/ftp/folder"
printf 'first line\r\nsecond line\n\nlast line' >"$www/page.txt"
head -c 1048576 /dev/urandom >"$www/mib.bin"
head -c 6291456 /dev/urandom >"$www/big.bin"
printf 'abc' >"$work/vsftpd/ftp/folder/a.txt"
printf 'spaced' >"$work/vsftpd/ftp/folder/name with spaces.txt"
mkdir -p "$work/vsftpd/ftp/folder/sub"
start vsftpd "$work/vsftpd" >/dev/null
chown -R scriptnet "$work/vsftpd/ftp"
check jobs_check.lua "$(cat "$work/nginx/http.port")" "$www" "$work/out" "$work/nginx/bodies" \
  "127.0.0.1:$(cat "$work/vsftpd/ftp.port")" "$work/vsftpd/ftp" scriptnet scriptnet-pw

source "$source_dir/tests/integration/mail/servers.sh"
stops+=(stop_mail_servers)
mkdir -p "$work/mail"
start_mail_servers "$work/mail"
head -c 300000 /dev/urandom >"$work/mail/attachment.bin"
"$nethost" "$source_dir/tests/integration/mail/jobs.lua" "$SMTP_PORT" "$POP3_PORT" "$work/mail"
cmp -s "$work/mail/attachment.bin" "$work/mail/got.bin" || { echo "the attachment came back different"; exit 1; }

# The end of the script with four jobs running: they are cancelled, the
# process ends at once and cleanly, and none leaves a file.
mkdir -p "$work/left"
http=http://127.0.0.1:$(cat "$work/nginx/http.port")
timeout 20 "$nethost" -e "for k = 1, 4 do assert(net.job('HTTP', 'DOWNLOAD', '$http/slow/big.bin', '$work/left/' .. k)) end
net.wait(0.3)"
[ -z "$(ls -A "$work/left")" ] || { echo "files left by jobs running at the end:"; ls -la "$work/left"; exit 1; }

# The example: three downloads with a line each, the second cancelled half
# way, while the chat answers.
for n in 1 2 3; do head -c 16777216 /dev/urandom >"$www/part$n.bin"; done
mkdir -p "$work/example"
"$nethost" "$source_dir/examples/background_download.lua" "$http/slow/part1.bin" "$http/slow/part2.bin" \
  "$http/slow/part3.bin" "$work/example" >"$work/example.txt"
cat "$work/example.txt"
cmp -s "$www/part1.bin" "$work/example/part1.bin" && cmp -s "$www/part3.bin" "$work/example/part3.bin" ||
  { echo "example: a download differs"; exit 1; }
[ ! -e "$work/example/part2.bin" ] || { echo "example: the cancelled download left its file"; exit 1; }
grep -q "^download 2: cancelled after" "$work/example.txt" || { echo "example: no cancel shown"; exit 1; }
last=$(grep "^chat:" "$work/example.txt" | tail -1)
[[ $last =~ ^chat:\ ([0-9]+)\ of\ ([0-9]+) ]] && [ "${BASH_REMATCH[1]}" -ge $((${BASH_REMATCH[2]} - 1)) ] &&
  [ "${BASH_REMATCH[2]}" -gt 1 ] || { echo "example: the chat did not keep answering: $last"; exit 1; }
echo "jobs: ok"
