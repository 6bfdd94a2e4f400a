#!/usr/bin/env bash
# nginx on 127.0.0.1 for tests and benchmarks, in a directory of its own:
#   nginx.sh start DIR   serves DIR/www (and again under /slow/ at 4 MiB/s a
#                        connection, for transfers that must last a while),
#                        stores POST bodies sent to /upload in
#                        DIR/bodies, and runs a forward proxy that wants Basic
#                        credentials (PROXY_USER / PROXY_PASS, default
#                        proxyuser / proxypass). Writes DIR/http.port and
#                        DIR/proxy.port and prints "HTTP_PORT PROXY_PORT".
#                        With TLS_CERTS set to a folder made by tls_certs.sh it
#                        also serves DIR/www over HTTPS with good.pem, on two
#                        more ports with wrong.pem and expired.pem (DIR/https.port,
#                        DIR/https-wrong.port, DIR/https-expired.port), and on
#                        one that speaks nothing newer than TLS 1.1
#                        (DIR/https-old.port; OpenSSL's security level 0 for it
#                        alone).
#                        Every server stores what is PUT under /dav/ (and
#                        deletes it with DELETE), and compresses what it serves
#                        from /gz/ for clients that ask for gzip. The access
#                        log names each request's connection.
#   nginx.sh stop DIR    stops it.
# BIND_ADDRESS (default 127.0.0.1, may be ::1) is the address every server
# listens on, beside the one on 127.0.0.2.
set -euo pipefail
source "$(dirname "$0")/../../tests/support/wait.sh"
cmd=${1:?start or stop}
dir=$(cd "${2:?directory}" && pwd)
bind=${BIND_ADDRESS:-127.0.0.1}
host=$bind
case $bind in *:*) host="[$bind]" ;; esac
names="127.0.0.1 localhost"
[ "$bind" = 127.0.0.1 ] || names+=" $host"

# Ports below the ephemeral range, where no outgoing connection takes them.
free_port() {
  /usr/bin/python3 "$(dirname "$0")/../../tests/support/free_port.py" "$bind" "${1:-1}"
}

case $cmd in
start)
  mkdir -p "$dir/www" "$dir/bodies" "$dir/nginx-temp"
  # All at once, so that no two are the same before nginx has bound them.
  ports=($(free_port 6))
  http_port=${ports[0]}
  proxy_port=${ports[1]}
  api_locations="
    location /dav/ { dav_methods PUT DELETE; create_full_put_path on; client_max_body_size 0; }
    location /gz/ { gzip on; gzip_types *; gzip_min_length 0; }"
  tls_servers=""
  if [ -n "${TLS_CERTS:-}" ]; then
    i=2
    for kind in https https-wrong https-expired https-old; do
      port=${ports[i]}
      i=$((i + 1))
      echo "$port" >"$dir/$kind.port"
      cert=good
      [ "$kind" = https-wrong ] && cert=wrong
      [ "$kind" = https-expired ] && cert=expired
      protocols=""
      [ "$kind" = https-old ] && protocols="ssl_protocols TLSv1 TLSv1.1; ssl_ciphers DEFAULT:@SECLEVEL=0;"
      tls_servers+="
  server {
    listen $host:$port ssl;
    $protocols
    ssl_certificate $TLS_CERTS/$cert.pem;
    ssl_certificate_key $TLS_CERTS/$cert.key;
    root $dir/www;
    location = /to-clear { return 302 http://$host:$http_port/page.txt; }$api_locations
  }"
    done
  fi
  user=${PROXY_USER:-proxyuser}
  pass=${PROXY_PASS:-proxypass}
  printf '%s:%s\n' "$user" "$(openssl passwd -apr1 "$pass")" >"$dir/htpasswd"
  # Workers run as the user who starts the server, so they can read the
  # private temporary directory.
  user_line=""
  [ "$(id -u)" -eq 0 ] && user_line="user root root;"
  cat >"$dir/nginx.conf" <<CONF
$user_line
daemon off;
master_process off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/nginx-error.log warn;
events { worker_connections 256; }
http {
  # Which connection served each request: kept connections show as one.
  log_format connections '\$connection \$connection_requests \$server_port "\$request" \$status';
  access_log $dir/nginx-access.log connections;
  client_body_temp_path $dir/nginx-temp/body;
  proxy_temp_path $dir/nginx-temp/proxy;
  fastcgi_temp_path $dir/nginx-temp/fastcgi;
  uwsgi_temp_path $dir/nginx-temp/uwsgi;
  scgi_temp_path $dir/nginx-temp/scgi;
  types { text/html html; text/plain txt; application/octet-stream bin; }
  default_type application/octet-stream;
  sendfile on;
  server {
    listen $host:$http_port;
    server_name $names;
    root $dir/www;
    # Redirects keep what the configuration says, so relative ones reach the client.
    absolute_redirect off;
    location = /upload {
      # The body is kept in a file of its own for the test to compare.
      client_body_in_file_only on;
      client_body_temp_path $dir/bodies;
      client_max_body_size 0;
      proxy_pass_request_body off;
      proxy_set_header Content-Length "";
      proxy_pass http://$host:$http_port/stored;
    }
    location = /stored { return 200 "stored\n"; }
    location /slow/ { alias $dir/www/; limit_rate 4m; }
    location = /moved { return 302 /dest/page.txt; }
    location = /dest/relative { return 302 page.txt; }
    location = /moved-absolute { return 302 http://$host:$http_port/dest/page.txt; }
    location = /host { return 200 "host=\$http_host\n"; }
    # Tells which credentials came along, here and on another host.
    location = /auth { return 200 "authorization=\$http_authorization\n"; }
    location = /to-other-host { return 302 http://127.0.0.2:$http_port/auth; }$api_locations
  }
  server {
    listen 127.0.0.2:$http_port;
    location = /auth { return 200 "authorization=\$http_authorization\n"; }
  }
  # Another site on the same address: a client that sends no Host header lands here.
  server {
    listen $host:$http_port default_server;
    server_name _;
    return 421 "wrong site\n";
  }
  server {
    listen $host:$proxy_port;
    auth_basic "proxy";
    auth_basic_user_file $dir/htpasswd;
    location / {
      proxy_pass http://\$http_host;
      proxy_set_header Host \$http_host;
      proxy_set_header X-Via-Proxy yes;
    }
  }
$tls_servers
}
CONF
  nginx -c "$dir/nginx.conf" -p "$dir" -e "$dir/nginx-error.log" >/dev/null 2>&1 &
  echo $! >"$dir/nginx.run.pid"
  wait_until curl -g -s -o /dev/null "http://$host:$http_port/"
  echo "$http_port" >"$dir/http.port"
  echo "$proxy_port" >"$dir/proxy.port"
  echo "$http_port $proxy_port"
  ;;
stop)
  if [ -f "$dir/nginx.run.pid" ]; then
    kill "$(cat "$dir/nginx.run.pid")" 2>/dev/null || true
    rm -f "$dir/nginx.run.pid"
  fi
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
