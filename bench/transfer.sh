#!/usr/bin/env bash
# Transfers of 256 MiB with this project (nethost, to a file) and with curl
# (to a file), against the same servers in the same run: an HTTP download
# from nginx, an FTP download from vsftpd and an FTP upload to it. Prints
# the median time of each over several rounds, the ratio project/curl (1.0
# or less: as fast as curl) and the project's peak resident memory.
#   bench/transfer.sh [ROUNDS]     (default 3; SIZE_MIB overrides the size)
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
http_port=$("$servers/nginx.sh" start "$work/nginx" | cut -d' ' -f1)
# vsftpd needs root: it checks passwords through PAM and changes user.
ftp_port=$("$servers/vsftpd.sh" start "$work/vsftpd")
head -c $((size_mib * 1048576)) /dev/urandom >"$work/big.bin"
cp "$work/big.bin" "$work/nginx/www/big.bin"
cp "$work/big.bin" "$work/vsftpd/ftp/big.bin"
chown -R scriptnet "$work/vsftpd/ftp"
expected=$(sha256sum <"$work/big.bin" | cut -d' ' -f1)
ftp_user=scriptnet ftp_pass=scriptnet-pw

now_ns() { date +%s%N; }

# run NAME COMMAND...: appends "seconds peak-kib" of one run to $work/NAME.
run() {
  local name=$1
  shift
  local start end
  start=$(now_ns)
  /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null
  end=$(now_ns)
  echo "$(( (end - start) / 1000000 )) $(cat "$work/rss")" >>"$work/$name"
}

verify() { # file
  [ "$(sha256sum <"$1" | cut -d' ' -f1)" = "$expected" ] || { echo "corrupt transfer: $1" >&2; exit 1; }
  rm -f "$1"
}

lua_http="assert(net.command('HTTP','DOWNLOAD','http://127.0.0.1:$http_port/big.bin','$work/out/http.bin')==0, net.error())"
lua_ftp_get="net.command('FTP','USERNAME','$ftp_user') net.command('FTP','PASSWORD','$ftp_pass')
assert(net.command('FTP','LOGON','127.0.0.1:$ftp_port')==0, net.error())
assert(net.command('FTP','DOWNLOAD','big.bin','$work/out/ftp.bin')==0, net.error())
net.command('FTP','LOGOFF')"
lua_ftp_put="net.command('FTP','USERNAME','$ftp_user') net.command('FTP','PASSWORD','$ftp_pass')
assert(net.command('FTP','LOGON','127.0.0.1:$ftp_port')==0, net.error())
assert(net.command('FTP','UPLOAD','$work/big.bin','up-project.bin')==0, net.error())
net.command('FTP','LOGOFF')"

for round in $(seq "$rounds"); do
  echo "round $round of $rounds" >&2
  run http-project "$nethost" -e "$lua_http"
  verify "$work/out/http.bin"
  run http-curl curl -sS -o "$work/out/http-curl.bin" "http://127.0.0.1:$http_port/big.bin"
  verify "$work/out/http-curl.bin"

  run ftp-get-project "$nethost" -e "$lua_ftp_get"
  verify "$work/out/ftp.bin"
  run ftp-get-curl curl -sS -u "$ftp_user:$ftp_pass" -o "$work/out/ftp-curl.bin" \
    "ftp://127.0.0.1:$ftp_port/big.bin"
  verify "$work/out/ftp-curl.bin"

  run ftp-put-project "$nethost" -e "$lua_ftp_put"
  verify "$work/vsftpd/ftp/up-project.bin"
  run ftp-put-curl curl -sS -u "$ftp_user:$ftp_pass" -T "$work/big.bin" \
    "ftp://127.0.0.1:$ftp_port/up-curl.bin"
  verify "$work/vsftpd/ftp/up-curl.bin"
done

median() { # file column
  cut -d' ' -f"$2" "$1" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
max() { cut -d' ' -f"$2" "$1" | sort -n | tail -1; }

printf '\n%s MiB, %s rounds, median wall time\n' "$size_mib" "$rounds"
printf '%-14s %12s %12s %8s %18s\n' job project-ms curl-ms ratio project-peak-MiB
for job in http ftp-get ftp-put; do
  p=$(median "$work/$job-project" 1)
  c=$(median "$work/$job-curl" 1)
  rss=$(max "$work/$job-project" 2)
  awk -v j="$job" -v p="$p" -v c="$c" -v r="$rss" \
    'BEGIN { printf "%-14s %12d %12d %8.2f %18.1f\n", j, p, c, (c > 0 ? p / c : 0), r / 1024 }'
done
