#!/usr/bin/env bash
# FTP against vsftpd (root: it checks passwords through PAM and changes to
# the test user) and pyftpdlib, both on loopback: logon, listings, round
# trips compared by SHA-256, the folder and file commands, refusals.
source "$(dirname "$0")/web/lib.sh"

prepare() { # folder to serve
  local ftp=$1/ftp
  mkdir -p "$ftp/folder/sub" "$ftp/folder/other dir"
  printf 'abc' >"$ftp/folder/a.txt"
  printf 'spaced' >"$ftp/folder/name with spaces.txt"
  ln -s a.txt "$ftp/folder/link"
  : >"$ftp/empty.bin"
  head -c 1 /dev/urandom >"$ftp/one.bin"
  head -c 1048576 /dev/urandom >"$ftp/mib.bin"
  head -c 67108864 /dev/urandom >"$ftp/big.bin"
}

mkdir -p "$work/local"
head -c 3000000 /dev/urandom >"$work/local/upload.bin"

for server in vsftpd pyftpdlib; do
  dir=$work/$server
  mkdir -p "$dir"
  prepare "$dir"
  start "$server" "$dir" >/dev/null
  port=$(cat "$dir/ftp.port")
  [ "$server" = vsftpd ] && chown -R scriptnet "$dir/ftp"
  mkdir -p "$work/out-$server"
  check ftp_check.lua "127.0.0.1:$port" "$dir/ftp" "$work/out-$server" "$work/local" \
    scriptnet scriptnet-pw "$server"
done
echo "ftp: ok"
