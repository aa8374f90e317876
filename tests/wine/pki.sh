#!/usr/bin/env bash
# Makes the throw-away code-signing PKI of the Wine tests in DIR:
#   ca.pem/ca.key        "Test Root CA", which the test prefix trusts (ca.reg imports it)
#   leaf.pem/leaf.key    code-signing certificate issued by it ("Test Publisher")
#   leaf-chain.pem       leaf + CA, to embed with osslsigncode -certs
#   leaf3.pem/leaf3.key  a second code-signing certificate of the same CA ("Third Publisher")
#   leaf3-chain.pem      leaf3 + CA
#   ca2.pem/ca2.key      "Untrusted Root CA", never imported
#   leaf2.pem/leaf2.key  code-signing certificate issued by it ("Other Publisher")
#   leaf2-chain.pem      leaf2 + CA2
#   ca.reg               registry file putting ca.pem into HKLM Root of a Wine prefix
#
# Leaf certificates are issued with SHA-1: Wine 8 accepts SHA-256 leaves without checking
# their chain at all, which would hide the difference between the two CAs.
#
# Sign with: osslsigncode sign -certs DIR/leaf-chain.pem -key DIR/leaf.key -h sha256 \
#                -n NAME -in IN -out OUT
set -euo pipefail

dir=${1:?usage: pki.sh DIR}
mkdir -p "$dir"
cd "$dir"

cat > openssl.cnf <<'EOF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
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
EOF

make_ca() { # name subject
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -config openssl.cnf \
        -extensions ca_ext -subj "$2" -keyout "$1.key" -out "$1.pem" 2>/dev/null
}

make_leaf() { # name ca subject serial
    openssl req -new -newkey rsa:2048 -nodes -config openssl.cnf -subj "$3" \
        -keyout "$1.key" -out "$1.csr" 2>/dev/null
    openssl x509 -req -sha1 -days 30 -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" \
        -set_serial "$4" -extfile openssl.cnf -extensions leaf_ext -out "$1.pem" 2>/dev/null
    cat "$1.pem" "$2.pem" > "$1-chain.pem"
    rm -f "$1.csr"
}

make_ca ca "/CN=Quorvex Test Root CA/O=Quorvex Test"
make_leaf leaf ca "/CN=Quorvex Test Publisher/O=Quorvex Test" 4097
make_leaf leaf3 ca "/CN=Quorvex Third Publisher/O=Quorvex Test" 4098
make_ca ca2 "/CN=Untrusted Test Root CA/O=Elsewhere Test"
make_leaf leaf2 ca2 "/CN=Other Test Publisher/O=Elsewhere Test" 8193

# Registry blob of a certificate in a system store: the little-endian 32-bit words
# 0x20 (property: encoded certificate), 1, length of the DER, then the DER itself.
openssl x509 -in ca.pem -outform DER -out ca.der
thumb=$(openssl x509 -in ca.pem -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' | tr a-f A-F)
len=$(stat -c %s ca.der)
le32() { printf '%02x,%02x,%02x,%02x' $(( $1 & 255 )) $(( ($1 >> 8) & 255 )) \
    $(( ($1 >> 16) & 255 )) $(( ($1 >> 24) & 255 )); }
{
    echo 'REGEDIT4'
    echo
    echo "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb]"
    printf '"Blob"=hex:%s,%s,%s,\\\n  ' "$(le32 32)" "$(le32 1)" "$(le32 "$len")"
    od -An -v -tx1 ca.der | tr -s ' \n' '\n\n' | sed '/^$/d' \
        | awk 'NR > 1 { printf ","; if ((NR - 1) % 24 == 0) printf "\\\n  " } { printf "%s", $1 } END { print "" }'
    echo
} > ca.reg
echo "$thumb" > ca.thumbprint
