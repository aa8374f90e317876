#!/usr/bin/env bash
# Makes the throw-away code-signing PKI of the Wine tests in DIR: NAME.pem and NAME.key for each
# certificate below, and NAME-chain.pem (the certificate, then its CA) for each issued one.
#
# Neither Wine 8 nor Wine 10 checks the chain of a leaf issued with SHA-2: such a leaf comes
# back trusted under any root. Both do check SHA-1-issued leaves, so leaf1 and leaf2 are the
# ones that show the platform telling a trusted root from an untrusted one.
#
# Sign with: osslsigncode sign -certs DIR/leaf-chain.pem -key DIR/leaf.key -h sha256 \
#                -n NAME -in IN -out OUT
set -euo pipefail

dir=${1:?usage: pki.sh DIR}
mkdir -p "$dir"
cd "$dir"

cat > openssl.cnf <<'EOF'
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, DNS:127.0.0.1, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

make_ca() { # name subject
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -config openssl.cnf \
        -extensions ca_ext -subj "$2" -keyout "$1.key" -out "$1.pem" 2>/dev/null
}

make_leaf() { # name ca subject serial digest [extensions]: the request goes straight to the CA
    openssl req -new -newkey rsa:2048 -nodes -config openssl.cnf -subj "$3" -keyout "$1.key" 2>/dev/null \
        | openssl x509 -req "-$5" -days 30 -CA "$2.pem" -CAkey "$2.key" -set_serial "$4" \
            -extfile openssl.cnf -extensions "${6:-leaf_ext}" -out "$1.pem" 2>/dev/null
    cat "$1.pem" "$2.pem" > "$1-chain.pem"
}

make_ca ca "/CN=Quorvex Test Root CA/O=Quorvex Test"  # trusted by the test prefix
make_leaf leaf ca "/CN=Quorvex Test Publisher/O=Quorvex Test" 4097 sha256  # as vendors sign today
make_leaf leaf3 ca "/CN=Quorvex Third Publisher/O=Quorvex Test" 4098 sha256
make_leaf leaf1 ca "/CN=Quorvex SHA-1 Publisher/O=Quorvex Test" 4099 sha1
make_leaf server ca "/CN=localhost" 24577 sha256 server_ext  # TLS certificate of the local HTTPS server
make_ca ca2 "/CN=Untrusted Test Root CA/O=Elsewhere Test"  # never trusted
make_leaf leaf2 ca2 "/CN=Other Test Publisher/O=Elsewhere Test" 8193 sha1
