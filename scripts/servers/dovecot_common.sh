# What the POP3 and the IMAP dovecot of the tests share (sourced, not run).
#
# Dovecot's master process needs root (it starts its login processes as the
# unprivileged "dovenull" user); tests run as root. Dovecot never reads mail
# as root, so a root caller's mail is read as "nobody", and the Maildir is
# opened to every user for that.

# dovecot_prepare DIR USER PASSWORD MAILDIR: the folders, the password file,
# and the uid and gid the mail is read as (in dovecot_uid and dovecot_gid).
dovecot_prepare() {
  local dir=$1 user=$2 password=$3 maildir=$4
  mkdir -p "$dir/run" "$dir/state" "$dir/home" "$maildir"/{new,cur,tmp}
  # Login processes run as dovenull and must reach the run directory.
  chmod 755 "$dir" "$dir/run"
  dovecot_uid=$(id -u) dovecot_gid=$(id -g)
  if [ "$dovecot_uid" -eq 0 ]; then
    dovecot_uid=$(id -u nobody) dovecot_gid=$(id -g nobody)
    chmod 777 "$dir/home" "$maildir" "$maildir"/{new,cur,tmp}
  fi
  printf '%s:{PLAIN}%s\n' "$user" "$password" >"$dir/passwd"
}

# dovecot_common_settings DIR MAILDIR: the lines of dovecot.conf for where
# it keeps its files, TLS (required with MAIL_TLS_CERTS, else off), the
# mail and the user.
dovecot_common_settings() {
  local dir=$1 maildir=$2
  if [ -n "${MAIL_TLS_CERTS:-}" ]; then
    printf '%s\n' "ssl = required" "ssl_cert = <$MAIL_TLS_CERTS/good.pem" \
      "ssl_key = <$MAIL_TLS_CERTS/good.key" "disable_plaintext_auth = yes"
  else
    printf '%s\n' "ssl = no" "disable_plaintext_auth = no"
  fi
  cat <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
mail_location = maildir:$maildir
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = static
  args = uid=$dovecot_uid gid=$dovecot_gid home=$dir/home
}
CONF
}
