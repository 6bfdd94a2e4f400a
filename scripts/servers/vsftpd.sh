#!/usr/bin/env bash
# vsftpd on loopback for tests and benchmarks. Needs root (it checks
# passwords through PAM and changes to the logged-on user), which the tests
# have.
#   vsftpd.sh start DIR  serves DIR/ftp as the home of the local test user
#                        (FTP_USER / FTP_PASS, default scriptnet / scriptnet-pw,
#                        created when missing), passive data ports 40100 to
#                        40199. Writes DIR/ftp.port and prints the port.
#                        FTP_TLS=explicit (AUTH TLS) or implicit (TLS from the
#                        first byte), with TLS_CERTS a folder of tls_certs.sh:
#                        TLS is required for logons and data, with session reuse
#                        (FTP_TLS_REUSE=NO: without).
#   vsftpd.sh stop DIR
# BIND_ADDRESS (default 127.0.0.1, may be ::1) is the address it listens on.
set -euo pipefail
source "$(dirname "$0")/../../tests/support/wait.sh"
cmd=${1:?start or stop}
dir=$(cd "${2:?directory}" && pwd)
user=${FTP_USER:-scriptnet}
pass=${FTP_PASS:-scriptnet-pw}
bind=${BIND_ADDRESS:-127.0.0.1}

# Ports below the ephemeral range, where no outgoing connection takes them.
free_port() {
  /usr/bin/python3 "$(dirname "$0")/../../tests/support/free_port.py" "$bind" "${1:-1}"
}

case $cmd in
start)
  # vsftpd enters the home directory before local_root, so it must exist.
  home=/var/tmp/$user-home
  mkdir -p "$home"
  if ! id "$user" >/dev/null 2>&1; then
    useradd --no-create-home --home-dir "$home" --shell /bin/sh "$user"
  fi
  usermod --home "$home" "$user" >/dev/null 2>&1 || true
  chown "$user" "$home"
  echo "$user:$pass" | chpasswd
  mkdir -p "$dir/ftp" /var/run/vsftpd/empty
  # The user reaches its folder through the private temporary directories
  # above it: let it pass through them (only that).
  chmod 755 "$dir"
  up=$(dirname "$dir")
  while [ "$up" != / ]; do
    [ -O "$up" ] && chmod o+x "$up"
    up=$(dirname "$up")
  done
  chown -R "$user" "$dir/ftp"
  port=$(free_port)
  case $bind in
  *:*) listen="listen=NO
listen_ipv6=YES
listen_address6=$bind" ;;
  *) listen="listen=YES
listen_ipv6=NO
listen_address=$bind" ;;
  esac
  cat >"$dir/vsftpd.conf" <<CONF
$listen
listen_port=$port
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$dir/ftp
chroot_local_user=NO
pasv_enable=YES
pasv_min_port=40100
pasv_max_port=40199
port_enable=YES
connect_from_port_20=NO
pam_service_name=vsftpd
secure_chroot_dir=/var/run/vsftpd/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
vsftpd_log_file=$dir/vsftpd.log
dual_log_enable=NO
use_localtime=NO
idle_session_timeout=120
data_connection_timeout=120
CONF
  if [ -n "${FTP_TLS:-}" ]; then
    cat >>"$dir/vsftpd.conf" <<CONF
ssl_enable=YES
rsa_cert_file=$TLS_CERTS/good.pem
rsa_private_key_file=$TLS_CERTS/good.key
force_local_logins_ssl=YES
force_local_data_ssl=YES
require_ssl_reuse=${FTP_TLS_REUSE:-YES}
ssl_ciphers=HIGH
CONF
    [ "$FTP_TLS" = implicit ] && echo "implicit_ssl=YES" >>"$dir/vsftpd.conf"
  fi
  vsftpd "$dir/vsftpd.conf" >"$dir/vsftpd.out" 2>&1 &
  echo $! >"$dir/vsftpd.run.pid"
  wait_until port_open "$bind" "$port"
  echo "$port" >"$dir/ftp.port"
  echo "$port"
  ;;
stop)
  if [ -f "$dir/vsftpd.run.pid" ]; then
    # vsftpd forks a process per session; they end with the listener's group.
    pid=$(cat "$dir/vsftpd.run.pid")
    pkill -P "$pid" 2>/dev/null || true
    kill "$pid" 2>/dev/null || true
    rm -f "$dir/vsftpd.run.pid"
  fi
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
