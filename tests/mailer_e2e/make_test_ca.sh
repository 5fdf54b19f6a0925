#!/bin/sh
# Makes a throw-away certificate authority and server certificates in the
# folder $1, for the mailer's TLS tests, with elliptic-curve keys, or RSA
# keys when $2 is "rsa" (wine's certificate checks reject an ECDSA
# signature whose r or s is shorter than the curve, about one in a hundred):
#   ca.crt               the authority the tests trust (SSL_CERT_FILE)
#   server.crt/.key      for localhost and 127.0.0.1, signed by it
#   other.crt/.key       for other.test only, signed by it (wrong host)
#   rogue.crt/.key       for localhost and 127.0.0.1, self-signed (untrusted)
set -eu
cd "$1"
if [ "${2:-ec}" = rsa ]; then
  key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }
else
  key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$1" 2>/dev/null; }
fi
key ca.key
openssl req -x509 -new -key ca.key -days 2 -subj "/CN=Quillmark Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out ca.crt 2>/dev/null
sign() {  # name subject-alt-names
  key "$1.key"
  openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr" 2>/dev/null
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$2" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.crt" 2>/dev/null
}
sign server "DNS:localhost,IP:127.0.0.1"
sign other "DNS:other.test"
key rogue.key
openssl req -x509 -new -key rogue.key -days 2 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -out rogue.crt 2>/dev/null
