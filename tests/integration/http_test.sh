#!/usr/bin/env bash
# HTTP against nginx on loopback: pages read line by line, binary downloads
# of 0 bytes to 64 MiB compared by SHA-256, a POST stored by the server and
# compared byte for byte, redirects, virtual hosts, the forward proxy with
# Basic credentials, credentials kept from another host, and the cap on a
# page held in memory.
source "$(dirname "$0")/web/lib.sh"

start nginx "$work/nginx" >/dev/null
www=$work/nginx/www
mkdir -p "$www/dest" "$work/out"
printf 'first line\r\nsecond line\n\nlast line' >"$www/page.txt"
printf 'the destination\n' >"$www/dest/page.txt"
: >"$www/empty.bin"
head -c 1 /dev/urandom >"$www/one.bin"
head -c 1048576 /dev/urandom >"$www/mib.bin"
head -c 67108864 /dev/urandom >"$www/big.bin"
# Sparse: larger than a page may be, without taking the disk.
truncate -s 300M "$www/huge.bin"

check http_check.lua "$(cat "$work/nginx/http.port")" "$(cat "$work/nginx/proxy.port")" \
  "$www" "$work/out" "$work/nginx/bodies"
echo "http: ok"
