#!/usr/bin/env bash
# Secured downloads of 256 MiB with this project (nethost, to a file) and with
# curl (to a file), both on the system's OpenSSL, against the same servers in
# the same run: HTTPS from nginx and FTPS (AUTH TLS, protected data) from
# vsftpd, certificates made for the run. The two clients take turns going
# first; every file is checked by SHA-256. Prints the median time of each,
# the ratio project/curl (1.0 or less: as fast as curl), the protocol and
# cipher both agreed on, and the project's peak resident memory.
#   bench/tls_transfer.sh [ROUNDS]     (default 3; SIZE_MIB overrides the size)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${SCRIPTNET_BUILD_DIR:-$source_dir/build}
nethost=$build_dir/nethost
servers=$source_dir/scripts/servers
rounds=${1:-3}
size_mib=${SIZE_MIB:-256}
[ -x "$nethost" ] || { echo "build first: $nethost is missing" >&2; exit 1; }

work=$(mktemp -d)
cleanup() {
  "$servers/nginx.sh" stop "$work/nginx" >/dev/null 2>&1 || true
  "$servers/vsftpd.sh" stop "$work/vsftpd" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/nginx" "$work/vsftpd" "$work/out"
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

now_ns() { date +%s%N; }
run() { # NAME COMMAND...: appends "milliseconds peak-kib" of one run to $work/NAME
  local name=$1 start end
  shift
  start=$(now_ns)
  /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null
  end=$(now_ns)
  echo "$(( (end - start) / 1000000 )) $(cat "$work/rss")" >>"$work/$name"
}
verify() {
  [ "$(sha256sum <"$1" | cut -d' ' -f1)" = "$expected" ] || { echo "corrupt transfer: $1" >&2; exit 1; }
  rm -f "$1"
}

lua_https="net.command('TLS','CAFILE','$ca')
assert(net.command('HTTP','DOWNLOAD','https://127.0.0.1:$https_port/big.bin','$work/out/https.bin')==0, net.error())"
lua_ftps="net.command('TLS','CAFILE','$ca') net.command('FTP','SECURE','STARTTLS')
net.command('FTP','USERNAME','scriptnet') net.command('FTP','PASSWORD','scriptnet-pw')
assert(net.command('FTP','LOGON','127.0.0.1:$ftp_port')==0, net.error())
assert(net.command('FTP','DOWNLOAD','big.bin','$work/out/ftps.bin')==0, net.error())
net.command('FTP','LOGOFF')"

project_https() { run https-project "$nethost" -e "$lua_https"; verify "$work/out/https.bin"; }
curl_https() {
  run https-curl curl -sS --cacert "$ca" -o "$work/out/https-curl.bin" "https://127.0.0.1:$https_port/big.bin"
  verify "$work/out/https-curl.bin"
}
project_ftps() { run ftps-project "$nethost" -e "$lua_ftps"; verify "$work/out/ftps.bin"; }
curl_ftps() {
  run ftps-curl curl -sS --ssl-reqd --cacert "$ca" -u scriptnet:scriptnet-pw \
    -o "$work/out/ftps-curl.bin" "ftp://127.0.0.1:$ftp_port/big.bin"
  verify "$work/out/ftps-curl.bin"
}

for round in $(seq "$rounds"); do
  echo "round $round of $rounds" >&2
  if [ $((round % 2)) -eq 1 ]; then
    project_https; curl_https; project_ftps; curl_ftps
  else
    curl_https; project_https; curl_ftps; project_ftps
  fi
done

agreed=$("$nethost" -v -e "net.command('TLS','CAFILE','$ca') net.command('HTTP','GET','https://127.0.0.1:$https_port/')" 2>&1 \
  | grep -o 'TLSv[0-9.]* [A-Z0-9_-]*' | head -1 || true)
curl_agreed=$(curl -sv --cacert "$ca" -o /dev/null "https://127.0.0.1:$https_port/" 2>&1 \
  | grep -o 'SSL connection using [^ ]* / [A-Z0-9_-]*' | head -1 || true)
median() { cut -d' ' -f"$2" "$1" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
max() { cut -d' ' -f"$2" "$1" | sort -n | tail -1; }

printf '\n%s MiB, %s rounds, median wall time; project: %s; curl: %s\n' "$size_mib" "$rounds" \
  "${agreed:-?}" "${curl_agreed:-?}"
printf '%-8s %12s %12s %8s %18s %15s\n' job project-ms curl-ms ratio project-peak-MiB curl-peak-MiB
for job in https ftps; do
  p=$(median "$work/$job-project" 1)
  c=$(median "$work/$job-curl" 1)
  rss=$(max "$work/$job-project" 2)
  crss=$(max "$work/$job-curl" 2)
  awk -v j="$job" -v p="$p" -v c="$c" -v r="$rss" -v cr="$crss" \
    'BEGIN { printf "%-8s %12d %12d %8.2f %18.1f %15.1f\n", j, p, c, (c > 0 ? p / c : 0), r / 1024, cr / 1024 }'
done
