#!/usr/bin/env bash
# Throwaway certificates for the TLS tests, made fresh in DIR:
#   ca.pem ca.key              a certificate authority of the test run
#   good.pem good.key          127.0.0.1, 127.0.0.2 (a second server address),
#                              ::1 and localhost, signed by the CA
#   wrong.pem wrong.key        a valid certificate for another name only
#   expired.pem expired.key    the right names, but it expired in 2020
# Nothing here is trusted by the system: tests name ca.pem with TLS CAFILE.
# The keys are P-256 ones; TLS_KEYS=rsa makes RSA ones instead, for Wine,
# whose certificate chain engine cannot check ECDSA signatures.
set -euo pipefail
dir=${1:?directory}
mkdir -p "$dir"
cd "$dir"
[ -f ca.pem ] && [ -f expired.pem ] && exit 0
newkey=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1)
[ "${TLS_KEYS:-}" = rsa ] && newkey=(-newkey rsa:2048)

openssl req -x509 "${newkey[@]}" -nodes -keyout ca.key -out ca.pem -days 30 \
  -subj "/CN=scriptnet test CA" 2>/dev/null

sign() { # name subject-alt-names [ca options...]
  local name=$1 san=$2
  shift 2
  openssl req "${newkey[@]}" -nodes -keyout "$name.key" -out "$name.csr" \
    -subj "/CN=$name" 2>/dev/null
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\n' "$san" >"$name.ext"
  "$@" -extfile "$name.ext" -in "$name.csr" -out "$name.pem" 2>/dev/null
}

here="IP:127.0.0.1,IP:127.0.0.2,IP:::1,DNS:localhost"
sign good "$here" openssl x509 -req -CA ca.pem -CAkey ca.key -CAcreateserial -days 30
sign wrong "DNS:wrong.example" openssl x509 -req -CA ca.pem -CAkey ca.key -CAcreateserial -days 30

# A certificate that has run out needs dates in the past, which only the
# CA command sets.
mkdir -p ca.db
: >ca.db/index.txt
echo 01 >ca.db/serial
cat >ca.cnf <<CNF
[ca]
default_ca = test
[test]
dir = $PWD/ca.db
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
CNF
sign expired "$here" openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key \
  -startdate 20200101000000Z -enddate 20200102000000Z -notext
rm -f ./*.csr ./*.ext
