#!/usr/bin/env bash
# Regenerates the test certificates in this folder (EC P-256, valid for 100 years
# except expired.pem, which lapsed on 2 January 2020).
#   ca.pem                  the test CA the tests trust
#   server.pem/.key         localhost and 127.0.0.1, signed by the CA
#   wronghost.pem/.key      wrong.example, signed by the CA
#   expired.pem/.key        localhost, signed by the CA, expired
#   selfsigned.pem/.key     localhost, signed by itself (not trusted)
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$1" 2>/dev/null; }
key ca.key
openssl req -x509 -new -key ca.key -days 36500 -subj "/CN=Tidemarsh Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" -out ca.pem
sign() { # name cn san serial
    key "$1.key"
    openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr"
    printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -set_serial "$4" -days 36500 \
        -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
sign server localhost "DNS:localhost,IP:127.0.0.1" 1001
sign wronghost wrong.example "DNS:wrong.example" 1002
# OpenSSL 3.0's x509 cannot back-date; "openssl ca" takes explicit dates.
key expired.key
openssl req -new -key expired.key -subj "/CN=localhost" -out expired.csr
mkdir db && touch db/index.txt && echo 1003 > db/serial
cat > ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
dir = .
database = db/index.txt
serial = db/serial
new_certs_dir = db
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any
x509_extensions = ext
[any]
commonName = supplied
[ext]
subjectAltName = DNS:localhost,IP:127.0.0.1
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
CNF
openssl ca -batch -config ca.cnf -in expired.csr -startdate 20200101000000Z -enddate 20200102000000Z \
    -out expired.pem -notext 2>/dev/null
key selfsigned.key
openssl req -x509 -new -key selfsigned.key -days 36500 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -out selfsigned.pem
cp ca.pem server.pem server.key wronghost.pem wronghost.key expired.pem expired.key \
    selfsigned.pem selfsigned.key "$out/"
