#!/usr/bin/env bash
# The Debian roots the Wine tests and the demo run Wine in: Debian 12 (bookworm) for Wine 8,
# Debian 13 (trixie) for Wine 10. The host's own Wine and trust store are never used.
#
#   roots.sh ensure RELEASE        make build/roots/RELEASE when it is missing or broken
#   roots.sh version RELEASE       print the Wine version the root holds
#   roots.sh run RELEASE CMD...    run CMD on the host in a private mount namespace in which
#                                  the root has /proc, /sys, /dev, /dev/shm, /tmp and this
#                                  checkout mounted; Wine is then started with
#                                  `chroot build/roots/RELEASE wine ...` (KAVRIN_WINE_ROOT).
#
# The mounts live only in that namespace: they are gone when CMD and everything it started
# have ended, however the run ends, and the host never sees them.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
roots=${KAVRIN_ROOTS_DIR:-$top/build/roots}

die() { echo "roots.sh: $*" >&2; exit 1; }

# The Debian registry this machine's apt uses (deb822 or one-line sources).
mirror() {
    local m
    m=$(sed -nE 's/^URIs:[[:space:]]*([^[:space:]]+\/debian)\/?$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
    [ -n "$m" ] || m=$(sed -nE 's/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+\/debian)\/?[[:space:]].*/\2/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
    [ -n "$m" ] || die "no Debian registry found in /etc/apt"
    echo "$m"
}

# A root is whole when its making finished and dpkg has Wine's packages configured. Wine itself is
# not started here: on a machine that cannot run 32-bit code (ia32_probe) it never starts.
healthy() {
    [ -f "$1/.kavrin-root-ready" ] && [ -x "$1/usr/lib/wine/wine" ] || return 1
    local p
    for p in wine wine32:i386 wine64 ca-certificates; do
        chroot "$1" dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
    done
}

# Mounts what Wine needs; only ever called inside a private mount namespace.
mount_all() {
    local r=$1
    mount -t proc proc "$r/proc"
    mount --rbind /sys "$r/sys"
    mount --rbind /dev "$r/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$r/dev/shm"
    mount --bind /tmp "$r/tmp"
    mkdir -p "$r$top"
    mount --bind "$top" "$r$top"
}

# The Wine version a root holds, from its package (Debian 12: 8.0, Debian 13: 10.0).
wine_version() {
    chroot "$1" dpkg-query -W -f='${Version}\n' wine 2>/dev/null | sed -E 's/^([0-9]+\.[0-9]+).*/\1/'
}

ensure() {
    local rel=$1 r=$roots/$1 m attempt
    healthy "$r" && return 0
    command -v debootstrap >/dev/null || die "debootstrap is missing (scripts/install-deps.sh installs it)"
    echo "making the $rel root in $r"
    rm -rf "$r.new"
    mkdir -p "$roots"
    m=$(mirror)
    for attempt in 1 2 3; do
        debootstrap --variant=minbase "$rel" "$r.new" "$m" >"$roots/$rel-debootstrap.log" 2>&1 && break
        echo "debootstrap $rel failed (attempt $attempt), see $roots/$rel-debootstrap.log"
        rm -rf "$r.new"
        [ "$attempt" = 3 ] && die "could not make the $rel root"
        sleep $((attempt * 10))
    done
    # Without /etc/hosts, localhost does not resolve inside the root.
    printf '127.0.0.1 localhost\n::1 localhost ip6-localhost\n' >"$r.new/etc/hosts"
    cp /etc/resolv.conf "$r.new/etc/resolv.conf" 2>/dev/null || true
    unshare --mount --propagation private bash -c '
        set -e
        r=$1
        mount -t proc proc "$r/proc"; mount --rbind /dev "$r/dev"; mount --rbind /sys "$r/sys"
        export DEBIAN_FRONTEND=noninteractive
        chroot "$r" dpkg --add-architecture i386
        for attempt in 1 2 3; do
            chroot "$r" apt-get update -q && chroot "$r" apt-get install -y -q \
                --no-install-recommends wine wine32:i386 wine64 ca-certificates && exit 0
            sleep $((attempt * 10))
        done
        exit 1' _ "$r.new" >"$roots/$rel-packages.log" 2>&1 \
        || { rm -rf "$r.new"; die "installing Wine into the $rel root failed, see $roots/$rel-packages.log"; }
    chroot "$r.new" apt-get clean >/dev/null 2>&1 || true
    touch "$r.new/.kavrin-root-ready"
    rm -rf "$r"
    mv "$r.new" "$r"
    healthy "$r" || die "the $rel root is incomplete after making it"
    echo "$rel root ready: $(wine_version "$r")"
}

case "${1:-}" in
ensure)
    [ $# -eq 2 ] || die "usage: roots.sh ensure RELEASE"
    ensure "$2"
    ;;
version)
    [ $# -eq 2 ] || die "usage: roots.sh version RELEASE"
    healthy "$roots/$2" || die "no $2 root"
    wine_version "$roots/$2"
    ;;
run)
    [ $# -ge 3 ] || die "usage: roots.sh run RELEASE CMD..."
    rel=$2; shift 2
    ensure "$rel" || exit 1
    KAVRIN_WINE_VERSION=$(wine_version "$roots/$rel")
    export KAVRIN_WINE_ROOT=$roots/$rel KAVRIN_WINE_RELEASE=$rel KAVRIN_WINE_VERSION
    export PATH=$top/tests/wine/bin:$PATH
    # shellcheck disable=SC2016
    exec unshare --mount --propagation private bash -c '
        set -e
        '"$(declare -f mount_all)"'
        top=$1; shift
        mount_all "$KAVRIN_WINE_ROOT"
        exec "$@"' _ "$top" "$@"
    ;;
*)
    die "usage: roots.sh ensure|run RELEASE ..."
    ;;
esac
