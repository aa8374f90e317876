#!/usr/bin/env bash
# make release TABLES=file CERT=chain.pem KEY=key.pem [ARCH=x86|x64] [KEY_PASS=...] [TIMESTAMP_URL=...]
#
# Builds setup.exe from the tables file TABLES for each architecture of ARCH (default both:
# x86 and x64; in build/release-NAME-HASH-ARCH, one build directory per tables file and
# architecture), signs each with osslsigncode (SHA-256; the description is the first
# product's name and expected version, the URL the scheme and host of the first download
# address), timestamps it when TIMESTAMP_URL is given (RFC 3161), verifies the signature on
# this machine and puts it into out/release/ (OUT=dir elsewhere): the x86 build as setup.exe,
# the x64 build as x64/setup.exe.
#
# CERT: PEM, the code-signing certificate first, then its intermediates, optionally the
# root. KEY: its private key in PEM, encrypted when KEY_PASS is given.
#
# Every failure is one message naming the file at fault, and nothing is left in the output
# directory but what was there before: each signed file is written beside it under a
# temporary name, and they are all moved into place only after every one has verified.
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

[ $# -eq 3 ] || die "usage: make release TABLES=file CERT=chain.pem KEY=key.pem [ARCH=x86|x64] [KEY_PASS=...] [TIMESTAMP_URL=...]"
tables=$1 cert=$2 key=$3
[ -n "$tables" ] || die "no tables file (TABLES=file; the built-in one is app/setup_tables.cpp)"
[ -n "$cert" ] || die "no certificate (CERT=chain.pem)"
[ -n "$key" ] || die "no private key (KEY=key.pem)"
archs=()
for a in ${ARCH:-x86 x64}; do
    case $a in
    x86 | x64) [[ " ${archs[*]-} " == *" $a "* ]] || archs+=("$a") ;;
    *) die "ARCH=$a: the architectures are x86 and x64 (default: both)" ;;
    esac
done
[ ${#archs[@]} -gt 0 ] || die "ARCH is empty: give x86, x64 or both"
declare -A toolchain=([x86]=mingw-i686.cmake [x64]=mingw-x86_64.cmake)
declare -A dest=([x86]=$OUT_DIR/setup.exe [x64]=$OUT_DIR/x64/setup.exe)
declare -A usage=([x86]="x86, runs on every Windows" [x64]="x64, for Windows without WOW64")

work=$(mktemp -d "${TMPDIR:-/tmp}/kavrin-release.XXXXXX")
partials=() made=()
cleanup() {
    rm -rf "$work"
    local f
    for f in ${partials[@]+"${partials[@]}"}; do rm -f "$f"; done
    local i
    for ((i = ${#made[@]} - 1; i >= 0; i--)); do rmdir "${made[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Makes a directory with its missing parents, each remembered so that a failure removes them.
make_dir() {
    local d=$1 missing=()
    while [ ! -d "$d" ]; do missing=("$d" "${missing[@]}"); d=$(dirname "$d"); done
    mkdir -p "$1" || die "$1: cannot be made"
    made+=("${missing[@]}")
}

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

# --- the tables and the builds ----------------------------------------------------------------

python3 "$ROOT/scripts/tables.py" signing "$tables" > "$work/signing" 2> "$work/tables.err" \
    || { cat "$work/tables.err" >&2; die "$tables: the tables file does not compile"; }
description=$(sed -n 1p "$work/signing")
url=$(sed -n 2p "$work/signing")

name=$(basename "$tables" .cpp | sed 's/[^A-Za-z0-9_.-]/_/g')
build_base=$ROOT/build/release-$name-$(printf '%s' "$tables" | sha256sum | cut -c1-8)
for a in "${archs[@]}"; do
    build=$build_base-$a
    echo "release: building the $a setup.exe from $tables in ${build#"$ROOT"/}"
    if ! { cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/${toolchain[$a]}" \
            -DCMAKE_BUILD_TYPE=MinSizeRel -DKAVRIN_TABLES="$tables" \
            && cmake --build "$build"; } > "$work/build-$a.log" 2>&1; then
        grep -E 'error|Error' "$work/build-$a.log" | head -n 20 >&2 || tail -n 20 "$work/build-$a.log" >&2
        die "$tables: the $a setup.exe does not build with this tables file (log above)"
    fi
done

# --- signing and verifying each, then all into place -------------------------------------------

# Verifies the signed file $1; sets how (which check was made) and stamp (the time stamp).
# With the chain's own root (its last certificate, when self-signed): the full check.
# Without one: the system's roots; failing those, at least a signature whose digest matches
# the file and whose signer is the certificate of CERT.
verify_signed() {
    local file=$1 last=$work/cert-$((count - 1)).pem f found="" want current computed
    if [ "$(openssl x509 -in "$last" -noout -subject)" = "$(openssl x509 -in "$last" -noout -issuer | sed 's/^issuer/subject/')" ] \
        && osslsigncode verify -CAfile "$last" -in "$file" > "$work/verify.log" 2>&1; then
        how="chain verified up to its root $(openssl x509 -in "$last" -noout -subject -nameopt oneline | sed 's/^subject= *//')"
    elif [ -r /etc/ssl/certs/ca-certificates.crt ] \
        && osslsigncode verify -CAfile /etc/ssl/certs/ca-certificates.crt -in "$file" > "$work/verify.log" 2>&1; then
        how="chain verified up to a root of this system"
    else
        osslsigncode verify -in "$file" > "$work/verify.log" 2>&1 || true
        current=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.log" | head -n 1)
        computed=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.log" | head -n 1)
        [ -n "$current" ] && [ "$current" = "$computed" ] \
            || { cat "$work/verify.log" >&2; die "the signature made with $cert does not verify"; }
        rm -f "$work"/sig.pem "$work"/sig-*.pem  # osslsigncode writes new files only
        osslsigncode extract-signature -pem -in "$file" -out "$work/sig.pem" > /dev/null 2>&1 \
            && openssl pkcs7 -in "$work/sig.pem" -print_certs -out "$work/sig-certs.pem" 2>/dev/null \
            || die "no signature could be read back from the signed file"
        split_pem "$work/sig-certs.pem" "$work/sig"
        want=$(openssl x509 -in "$work/cert-0.pem" -noout -fingerprint -sha256)
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
}

make_dir "$OUT_DIR"
declare -A signed report
for a in "${archs[@]}"; do
    partial=$(mktemp "$OUT_DIR/.setup-$a.exe.XXXXXX")
    partials+=("$partial")
    rm -f "$partial"  # osslsigncode writes a new file
    args=(sign -certs "$cert" -key "$key" "${readpass[@]}" -h sha256)
    [ -z "$description" ] || args+=(-n "$description")
    [ -z "$url" ] || args+=(-i "$url")
    [ -z "${TIMESTAMP_URL:-}" ] || args+=(-ts "$TIMESTAMP_URL")
    if ! osslsigncode "${args[@]}" -in "$build_base-$a/setup.exe" -out "$partial" > "$work/sign.log" 2>&1; then
        cat "$work/sign.log" >&2
        [ -z "${TIMESTAMP_URL:-}" ] || die "signing the $a setup.exe with $cert failed (is the time-stamp server $TIMESTAMP_URL reachable?)"
        die "signing the $a setup.exe with $cert failed"
    fi
    verify_signed "$partial"
    signed[$a]=$partial
    report[$a]="  time stamp   $stamp
  signature    $how"
done

# Every file has verified: into place, after making the directories they go to.
for a in "${archs[@]}"; do make_dir "$(dirname "${dest[$a]}")"; done
for a in "${archs[@]}"; do
    mv -f "${signed[$a]}" "${dest[$a]}"
done
partials=() made=()
for a in "${archs[@]}"; do
    final=${dest[$a]}
    echo "release: $final"
    echo "  build        ${usage[$a]}"
    echo "  tables       $tables"
    echo "  signer       $subject"
    echo "  description  ${description:-(none)}"
    echo "  URL          ${url:-(none)}"
    echo "${report[$a]}"
    echo "  size         $(stat -c %s "$final") bytes"
    echo "  SHA-256      $(sha256sum "$final" | cut -d' ' -f1)"
done
