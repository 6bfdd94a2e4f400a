#!/usr/bin/env bash
# Web API calls with this project (nethost) and with curl against the same
# nginx in the same run, whole processes timed, the two taking turns:
#   api   200 GETs of a 1 KiB JSON file over HTTPS in one script, beside one
#         curl process given the same 200 URLs (both keep their connection);
#         all 200 bodies checked. Both trust the same certificates: the
#         library the system's store and the run's CA (TLS CAFILE), curl a
#         file of the two, so both read the whole store at start.
#   gzip  a 100 MB text file served compressed, REQUEST GET into a file beside
#         curl --compressed; the decoded file checked by SHA-256
#   put   PUT of a 256 MiB file to nginx's DAV module, BODY FILE and REQUEST
#         PUT beside curl -T; the stored file checked by SHA-256
# Prints the median times, the ratio project/curl and both peak memories,
# then the median processor time of each side (user and system): on a busy
# machine the wall time carries nginx's wait for a processor and its disk.
#   bench/webapi.sh [ROUNDS]     (default 3)
source "$(dirname "$0")/lib.sh"

mkdir -p "$work/nginx" "$work/out"
stops+=("$servers/nginx.sh stop $work/nginx")
"$servers/tls_certs.sh" "$work/certs"
TLS_CERTS=$work/certs "$servers/nginx.sh" start "$work/nginx" >/dev/null
http=http://127.0.0.1:$(cat "$work/nginx/http.port")
https=https://127.0.0.1:$(cat "$work/nginx/https.port")
www=$work/nginx/www
ca=$work/certs/ca.pem
cat /etc/ssl/certs/ca-certificates.crt "$ca" >"$work/bundle.pem"
mkdir -p "$www/keep" "$www/gz" "$www/dav"

# 1 KiB of JSON, no line end: one page line, the same bytes curl writes.
python3 -c 'import json; d={"items":[{"id":i,"name":"item %d" % i} for i in range(40)]}; s=json.dumps(d); print(s[:1023] + "}", end="")' >"$www/keep/item.json"
[ "$(stat -c %s "$www/keep/item.json")" -eq 1024 ] || { echo "item.json is not 1 KiB" >&2; exit 1; }
calls=200
item_expected=$(for _ in $(seq $calls); do cat "$www/keep/item.json"; done | sha256sum | cut -d' ' -f1)
seq -f 'line %08g of the text that the benchmark serves compressed, words repeat as in logs' 1 1150000 >"$www/gz/text.txt"
text_expected=$(sha256sum <"$www/gz/text.txt" | cut -d' ' -f1)
head -c $((256 * 1048576)) /dev/urandom >"$work/put.bin"
put_expected=$(sha256sum <"$work/put.bin" | cut -d' ' -f1)
# One curl process, each URL with its own output file.
for i in $(seq $calls); do
  printf 'url = "%s"\noutput = "%s"\n' "$https/keep/item.json" "$work/out/curl/$i.json"
done >"$work/urls.curl"

lua_api="net.command('TLS','CAFILE','$ca')
local out = assert(io.open('$work/out/api.json', 'wb'))
for i = 1, $calls do
  assert(net.command('HTTP','REQUEST','GET','$https/keep/item.json','')==0, net.error())
  out:write((net.func('HTTP')))
end
out:close()"
lua_gzip="assert(net.command('HTTP','REQUEST','GET','$http/gz/text.txt','$work/out/text.txt')==0, net.error())
assert(net.func('HTTP','HEADER','content-encoding')=='gzip', 'not compressed')"
lua_put="net.command('HTTP','BODY','FILE','$work/put.bin')
assert(net.command('HTTP','REQUEST','PUT','$http/dav/put.bin','')==0, net.error())
local status = net.func('HTTP','STATUS') assert(status=='201' or status=='204', status)"

stored() { expected=$put_expected verify "$www/dav/put.bin"; }
api_project() { run api-project "$nethost" -e "$lua_api"; expected=$item_expected verify "$work/out/api.json"; }
api_curl() {
  mkdir -p "$work/out/curl"
  run api-curl curl -sS --cacert "$work/bundle.pem" -K "$work/urls.curl"
  for i in $(seq $calls); do cat "$work/out/curl/$i.json"; done >"$work/out/api-curl.json"
  rm -rf "$work/out/curl"
  expected=$item_expected verify "$work/out/api-curl.json"
}
gzip_project() { run gzip-project "$nethost" -e "$lua_gzip"; expected=$text_expected verify "$work/out/text.txt"; }
gzip_curl() {
  run gzip-curl curl -sS --compressed -o "$work/out/text-curl.txt" "$http/gz/text.txt"
  expected=$text_expected verify "$work/out/text-curl.txt"
}
put_project() { run put-project "$nethost" -e "$lua_put"; stored; }
put_curl() { run put-curl curl -sS -f -T "$work/put.bin" -o /dev/null "$http/dav/put.bin"; stored; }

for round in $(seq "$rounds"); do
  echo "round $round of $rounds" >&2
  in_turns "$round" api_project api_curl
  in_turns "$round" gzip_project gzip_curl
  in_turns "$round" put_project put_curl
done
printf '\n%s rounds, median wall time; api: %s HTTPS GETs of 1 KiB; gzip: %s MB of text; put: 256 MiB\n' \
  "$rounds" "$calls" "$(( $(stat -c %s "$www/gz/text.txt") / 1000000 ))"
report api gzip put
printf '\n%-10s %16s %16s\n' job project-cpu-ms curl-cpu-ms
for job in api gzip put; do
  printf '%-10s %16d %16d\n' "$job" "$(median "$work/$job-project" 3)" "$(median "$work/$job-curl" 3)"
done
