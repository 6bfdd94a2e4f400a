#!/usr/bin/env bash
# Secured downloads of 256 MiB with this project (nethost, to a file) and with
# curl (to a file), both on the system's OpenSSL, against the same servers in
# the same run: HTTPS from nginx and FTPS (AUTH TLS, protected data) from
# vsftpd, certificates made for the run. The two clients take turns going
# first; every file is checked by SHA-256. Prints the median time of each,
# the ratio project/curl (1.0 or less: as fast as curl), the protocol and
# cipher both agreed on, and both peak resident memories.
#   bench/tls_transfer.sh [ROUNDS]     (default 3; SIZE_MIB overrides the size)
source "$(dirname "$0")/lib.sh"
size_mib=${SIZE_MIB:-256}

mkdir -p "$work/nginx" "$work/vsftpd" "$work/out"
stops+=("$servers/nginx.sh stop $work/nginx" "$servers/vsftpd.sh stop $work/vsftpd")
"$servers/tls_certs.sh" "$work/certs"
export TLS_CERTS=$work/certs
"$servers/nginx.sh" start "$work/nginx" >/dev/null
https_port=$(cat "$work/nginx/https.port")
ftp_port=$(FTP_TLS=explicit "$servers/vsftpd.sh" start "$work/vsftpd")
head -c $((size_mib * 1048576)) /dev/urandom >"$work/big.bin"
cp "$work/big.bin" "$work/nginx/www/big.bin"
cp "$work/big.bin" "$work/vsftpd/ftp/big.bin"
chown -R scriptnet "$work/vsftpd/ftp"
expected=$(sha256sum <"$work/big.bin" | cut -d' ' -f1)
ca=$work/certs/ca.pem

lua_https="net.command('TLS','CAFILE','$ca')
assert(net.command('HTTP','DOWNLOAD','https://127.0.0.1:$https_port/big.bin','$work/out/https.bin')==0, net.error())"
lua_ftps="net.command('TLS','CAFILE','$ca') net.command('FTP','SECURE','STARTTLS')
net.command('FTP','USERNAME','scriptnet') net.command('FTP','PASSWORD','scriptnet-pw')
assert(net.command('FTP','LOGON','127.0.0.1:$ftp_port')==0, net.error())
assert(net.command('FTP','DOWNLOAD','big.bin','$work/out/ftps.bin')==0, net.error())
net.command('FTP','LOGOFF')"

https_project() { run https-project "$nethost" -e "$lua_https"; verify "$work/out/https.bin"; }
https_curl() {
  run https-curl curl -sS --cacert "$ca" -o "$work/out/https-curl.bin" "https://127.0.0.1:$https_port/big.bin"
  verify "$work/out/https-curl.bin"
}
ftps_project() { run ftps-project "$nethost" -e "$lua_ftps"; verify "$work/out/ftps.bin"; }
ftps_curl() {
  run ftps-curl curl -sS --ssl-reqd --cacert "$ca" -u scriptnet:scriptnet-pw \
    -o "$work/out/ftps-curl.bin" "ftp://127.0.0.1:$ftp_port/big.bin"
  verify "$work/out/ftps-curl.bin"
}

for round in $(seq "$rounds"); do
  echo "round $round of $rounds" >&2
  in_turns "$round" https_project https_curl
  in_turns "$round" ftps_project ftps_curl
done

agreed=$("$nethost" -v -e "net.command('TLS','CAFILE','$ca') net.command('HTTP','GET','https://127.0.0.1:$https_port/')" 2>&1 \
  | grep -o 'TLSv[0-9.]* [A-Z0-9_-]*' | head -1 || true)
curl_agreed=$(curl -sv --cacert "$ca" -o /dev/null "https://127.0.0.1:$https_port/" 2>&1 \
  | grep -o 'SSL connection using [^ ]* / [A-Z0-9_-]*' | head -1 || true)
printf '\n%s MiB, %s rounds, median wall time; project: %s; curl: %s\n' "$size_mib" "$rounds" \
  "${agreed:-?}" "${curl_agreed:-?}"
report https ftps
