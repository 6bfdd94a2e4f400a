#!/usr/bin/env bash
# Transfers of 256 MiB with this project (nethost, to a file) and with curl
# (to a file), against the same servers in the same run: an HTTP download
# from nginx, an FTP download from vsftpd and an FTP upload to it. The two
# clients take turns going first; every file is checked by SHA-256. Prints
# the median time of each over several rounds, the ratio project/curl (1.0
# or less: as fast as curl) and both peak resident memories.
#   bench/transfer.sh [ROUNDS]     (default 3; SIZE_MIB overrides the size)
source "$(dirname "$0")/lib.sh"
size_mib=${SIZE_MIB:-256}

mkdir -p "$work/nginx" "$work/vsftpd" "$work/out"
stops+=("$servers/nginx.sh stop $work/nginx" "$servers/vsftpd.sh stop $work/vsftpd")
http_port=$("$servers/nginx.sh" start "$work/nginx" | cut -d' ' -f1)
# vsftpd needs root: it checks passwords through PAM and changes user.
ftp_port=$("$servers/vsftpd.sh" start "$work/vsftpd")
head -c $((size_mib * 1048576)) /dev/urandom >"$work/big.bin"
cp "$work/big.bin" "$work/nginx/www/big.bin"
cp "$work/big.bin" "$work/vsftpd/ftp/big.bin"
chown -R scriptnet "$work/vsftpd/ftp"
expected=$(sha256sum <"$work/big.bin" | cut -d' ' -f1)
ftp_user=scriptnet ftp_pass=scriptnet-pw

lua_http="assert(net.command('HTTP','DOWNLOAD','http://127.0.0.1:$http_port/big.bin','$work/out/http.bin')==0, net.error())"
lua_ftp_get="net.command('FTP','USERNAME','$ftp_user') net.command('FTP','PASSWORD','$ftp_pass')
assert(net.command('FTP','LOGON','127.0.0.1:$ftp_port')==0, net.error())
assert(net.command('FTP','DOWNLOAD','big.bin','$work/out/ftp.bin')==0, net.error())
net.command('FTP','LOGOFF')"
lua_ftp_put="net.command('FTP','USERNAME','$ftp_user') net.command('FTP','PASSWORD','$ftp_pass')
assert(net.command('FTP','LOGON','127.0.0.1:$ftp_port')==0, net.error())
assert(net.command('FTP','UPLOAD','$work/big.bin','up-project.bin')==0, net.error())
net.command('FTP','LOGOFF')"

http_project() { run http-project "$nethost" -e "$lua_http"; verify "$work/out/http.bin"; }
http_curl() {
  run http-curl curl -sS -o "$work/out/http-curl.bin" "http://127.0.0.1:$http_port/big.bin"
  verify "$work/out/http-curl.bin"
}
ftp_get_project() { run ftp-get-project "$nethost" -e "$lua_ftp_get"; verify "$work/out/ftp.bin"; }
ftp_get_curl() {
  run ftp-get-curl curl -sS -u "$ftp_user:$ftp_pass" -o "$work/out/ftp-curl.bin" \
    "ftp://127.0.0.1:$ftp_port/big.bin"
  verify "$work/out/ftp-curl.bin"
}
ftp_put_project() { run ftp-put-project "$nethost" -e "$lua_ftp_put"; verify "$work/vsftpd/ftp/up-project.bin"; }
ftp_put_curl() {
  run ftp-put-curl curl -sS -u "$ftp_user:$ftp_pass" -T "$work/big.bin" "ftp://127.0.0.1:$ftp_port/up-curl.bin"
  verify "$work/vsftpd/ftp/up-curl.bin"
}

for round in $(seq "$rounds"); do
  echo "round $round of $rounds" >&2
  in_turns "$round" http_project http_curl
  in_turns "$round" ftp_get_project ftp_get_curl
  in_turns "$round" ftp_put_project ftp_put_curl
done

printf '\n%s MiB, %s rounds, median wall time\n' "$size_mib" "$rounds"
report http ftp-get ftp-put
