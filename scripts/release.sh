#!/usr/bin/env bash
# make release TABLES=file CERT=chain.pem KEY=key.pem [KEY_PASS=...] [TIMESTAMP_URL=...]
#
# Builds setup.exe from the tables file TABLES (in build/release-NAME-HASH, one build
# directory per tables file), signs it with osslsigncode (SHA-256; the description is the
# first product's name and expected version, the URL the scheme and host of the first
# download address), timestamps it when TIMESTAMP_URL is given (RFC 3161), verifies the
# signature on this machine and puts it into out/release/setup.exe (OUT=dir elsewhere).
#
# CERT: PEM, the code-signing certificate first, then its intermediates, optionally the
# root. KEY: its private key in PEM, encrypted when KEY_PASS is given.
#
# Every failure is one message naming the file at fault, and nothing is left in the output
# directory but what was there before: the signed file is written beside it under a
# temporary name and moved into place only after it has verified.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT_DIR=${OUT:-$ROOT/out/release}

die() { printf 'release: %s\n' "$*" >&2; exit 1; }

# The certificates of a PEM file, one per file: PREFIX-0.pem, PREFIX-1.pem, ...
split_pem() { # file prefix
    awk -v prefix="$2" '
        /-----BEGIN CERTIFICATE-----/ { inside = 1; file = sprintf("%s-%d.pem", prefix, n++) }
        inside { print > file }
        /-----END CERTIFICATE-----/ { inside = 0; close(file) }' "$1"
}

[ $# -eq 3 ] || die "usage: make release TABLES=file CERT=chain.pem KEY=key.pem [KEY_PASS=...] [TIMESTAMP_URL=...]"
tables=$1 cert=$2 key=$3
[ -n "$tables" ] || die "no tables file (TABLES=file; the built-in one is app/setup_tables.cpp)"
[ -n "$cert" ] || die "no certificate (CERT=chain.pem)"
[ -n "$key" ] || die "no private key (KEY=key.pem)"

work=$(mktemp -d "${TMPDIR:-/tmp}/kavrin-release.XXXXXX")
partial=""
cleanup() {
    rm -rf "$work"
    [ -z "$partial" ] || rm -f "$partial"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# --- the certificate and the key -------------------------------------------------------------

for f in "$tables" "$cert" "$key"; do
    [ -e "$f" ] || die "$f: no such file"
    [ -f "$f" ] && [ -r "$f" ] || die "$f: cannot be read"
done
tables=$(readlink -f "$tables") cert=$(readlink -f "$cert") key=$(readlink -f "$key")

# The chain, one certificate per file: cert-0.pem is the signer.
split_pem "$cert" "$work/cert"
[ -f "$work/cert-0.pem" ] && openssl x509 -in "$work/cert-0.pem" -noout 2>/dev/null \
    || die "$cert: holds no PEM certificate"
count=$(find "$work" -name 'cert-*.pem' | wc -l)
for i in $(seq 0 $((count - 1))); do
    openssl x509 -in "$work/cert-$i.pem" -noout 2>/dev/null \
        || die "$cert: certificate $((i + 1)) of the chain cannot be read"
done
subject=$(openssl x509 -in "$work/cert-0.pem" -noout -subject -nameopt oneline | sed 's/^subject= *//')
openssl x509 -in "$work/cert-0.pem" -noout -checkend 0 > /dev/null \
    || die "$cert: the certificate of $subject has expired"

# The pass phrase goes to openssl and osslsigncode in a file only this user can read.
passin=(-passin pass:) readpass=()
if [ -n "${KEY_PASS:-}" ]; then
    ( umask 077; printf '%s' "$KEY_PASS" > "$work/pass" )
    passin=(-passin "file:$work/pass") readpass=(-readpass "$work/pass")
fi
openssl pkey -in "$key" "${passin[@]}" -pubout -out "$work/key.pub" < /dev/null 2>/dev/null \
    || { [ -n "${KEY_PASS:-}" ] && die "$key: not a private key, or KEY_PASS is not its pass phrase"; \
         die "$key: not a private key, or it is encrypted (give KEY_PASS)"; }
openssl x509 -in "$work/cert-0.pem" -noout -pubkey > "$work/cert.pub"
cmp -s "$work/key.pub" "$work/cert.pub" \
    || die "$key: is not the private key of the certificate in $cert ($subject)"

# --- the tables and the build ------------------------------------------------------------------

python3 "$ROOT/scripts/tables.py" signing "$tables" > "$work/signing" 2> "$work/tables.err" \
    || { cat "$work/tables.err" >&2; die "$tables: the tables file does not compile"; }
description=$(sed -n 1p "$work/signing")
url=$(sed -n 2p "$work/signing")

name=$(basename "$tables" .cpp | sed 's/[^A-Za-z0-9_.-]/_/g')
build=$ROOT/build/release-$name-$(printf '%s' "$tables" | sha256sum | cut -c1-8)
echo "release: building setup.exe from $tables in ${build#"$ROOT"/}"
if ! { cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DKAVRIN_TABLES="$tables" \
        && cmake --build "$build"; } > "$work/build.log" 2>&1; then
    grep -E 'error|Error' "$work/build.log" | head -n 20 >&2 || tail -n 20 "$work/build.log" >&2
    die "$tables: setup.exe does not build with this tables file (log above)"
fi

# --- signing, verifying, and into place ----------------------------------------------------------

mkdir -p "$OUT_DIR"
partial=$(mktemp "$OUT_DIR/.setup.exe.XXXXXX")
rm -f "$partial"  # osslsigncode writes a new file
args=(sign -certs "$cert" -key "$key" "${readpass[@]}" -h sha256)
[ -z "$description" ] || args+=(-n "$description")
[ -z "$url" ] || args+=(-i "$url")
[ -z "${TIMESTAMP_URL:-}" ] || args+=(-ts "$TIMESTAMP_URL")
if ! osslsigncode "${args[@]}" -in "$build/setup.exe" -out "$partial" > "$work/sign.log" 2>&1; then
    cat "$work/sign.log" >&2
    [ -z "${TIMESTAMP_URL:-}" ] || die "signing with $cert failed (is the time-stamp server $TIMESTAMP_URL reachable?)"
    die "signing with $cert failed"
fi

# With the chain's own root (its last certificate, when self-signed): the full check.
# Without one: the system's roots; failing those, at least a signature whose digest matches
# the file and whose signer is the certificate of CERT.
last=$work/cert-$((count - 1)).pem
how=""
if [ "$(openssl x509 -in "$last" -noout -subject)" = "$(openssl x509 -in "$last" -noout -issuer | sed 's/^issuer/subject/')" ] \
    && osslsigncode verify -CAfile "$last" -in "$partial" > "$work/verify.log" 2>&1; then
    how="chain verified up to its root $(openssl x509 -in "$last" -noout -subject -nameopt oneline | sed 's/^subject= *//')"
elif [ -r /etc/ssl/certs/ca-certificates.crt ] \
    && osslsigncode verify -CAfile /etc/ssl/certs/ca-certificates.crt -in "$partial" > "$work/verify.log" 2>&1; then
    how="chain verified up to a root of this system"
else
    osslsigncode verify -in "$partial" > "$work/verify.log" 2>&1 || true
    current=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.log" | head -n 1)
    computed=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.log" | head -n 1)
    [ -n "$current" ] && [ "$current" = "$computed" ] \
        || { cat "$work/verify.log" >&2; die "the signature made with $cert does not verify"; }
    osslsigncode extract-signature -pem -in "$partial" -out "$work/sig.pem" > /dev/null 2>&1 \
        && openssl pkcs7 -in "$work/sig.pem" -print_certs -out "$work/sig-certs.pem" 2>/dev/null \
        || die "no signature could be read back from the signed file"
    split_pem "$work/sig-certs.pem" "$work/sig"
    want=$(openssl x509 -in "$work/cert-0.pem" -noout -fingerprint -sha256)
    found=""
    for f in "$work"/sig-*.pem; do
        [ "$(openssl x509 -in "$f" -noout -fingerprint -sha256)" = "$want" ] && found=1
    done
    [ -n "$found" ] || die "the signature of the signed file is not by the certificate in $cert"
    how="digest and signer checked; the chain was not (no root for it in $cert or on this system)"
fi
stamp="(none)"
if [ -n "${TIMESTAMP_URL:-}" ]; then
    stamp=$(sed -n 's/^[[:space:]]*Timestamp time: *//p' "$work/verify.log" | head -n 1)
    [ -n "$stamp" ] || die "the signature carries no time stamp from $TIMESTAMP_URL"
    if grep -q 'Timestamp Server Signature verification: ok' "$work/verify.log"; then
        stamp="$stamp from $TIMESTAMP_URL, its chain verified"
    else
        stamp="$stamp from $TIMESTAMP_URL (its chain was not verified: no root for it on this system)"
    fi
fi

mv -f "$partial" "$OUT_DIR/setup.exe"
partial=""
final=$OUT_DIR/setup.exe
echo "release: $final"
echo "  tables       $tables"
echo "  signer       $subject"
echo "  description  ${description:-(none)}"
echo "  URL          ${url:-(none)}"
echo "  time stamp   $stamp"
echo "  signature    $how"
echo "  size         $(stat -c %s "$final") bytes"
echo "  SHA-256      $(sha256sum "$final" | cut -d' ' -f1)"
