#!/bin/sh
# Makes the certificates the test update server can present, in DIR:
#   ca.pem / ca.key                        the test CA (the updater's PelorinCert.pem)
#   server.pem / server.key                localhost and 127.0.0.1, signed by the test CA
#   foreign-ca.pem / foreign-ca.key        a second CA that no bundle holds
#   foreign-server.pem / foreign-server.key  localhost, signed by the foreign CA
#   wronghost-server.pem / wronghost-server.key  wrong.example only, signed by the test CA
# EC P-256 keys keep it fast. Existing files are kept, so a second run does
# nothing; delete DIR to start over.
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 DIR" >&2
    exit 2
fi
dir=$1
mkdir -p "$dir"
cd "$dir"
days=3650

newkey() {
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null
}

# ca NAME SUBJECT
ca() {
    [ -s "$1.pem" ] && [ -s "$1.key" ] && return 0
    newkey "$1"
    openssl req -x509 -new -key "$1.key" -subj "$2" -days "$days" -sha256 \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -out "$1.pem.tmp"
    mv "$1.pem.tmp" "$1.pem"
}

# leaf NAME CA SUBJECT SUBJECT_ALT_NAMES
leaf() {
    [ -s "$1.pem" ] && [ -s "$1.key" ] && return 0
    newkey "$1"
    openssl req -new -key "$1.key" -subj "$3" -out "$1.csr"
    printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
        "extendedKeyUsage=serverAuth" "subjectAltName=$4" \
        "subjectKeyIdentifier=hash" "authorityKeyIdentifier=keyid,issuer" > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" \
        -set_serial "0x$(openssl rand -hex 8)" -days "$days" -sha256 -extfile "$1.ext" \
        -out "$1.pem.tmp" 2>/dev/null
    mv "$1.pem.tmp" "$1.pem"
    rm -f "$1.csr" "$1.ext"
}

ca ca "/O=Pelorin Test/CN=Pelorin Test CA"
ca foreign-ca "/O=Unrelated Test/CN=Unrelated Test CA"
leaf server ca "/O=Pelorin Test/CN=localhost" "DNS:localhost,IP:127.0.0.1"
leaf foreign-server foreign-ca "/O=Unrelated Test/CN=localhost" "DNS:localhost,IP:127.0.0.1"
leaf wronghost-server ca "/O=Pelorin Test/CN=wrong.example" "DNS:wrong.example"
