#!/usr/bin/env bash
# Installs the host's Debian packages for the build and the tests: the mingw-w64 i686 and x86_64 cross
# compiler, the MSI and signing tools, Xvfb, debootstrap and the host test tools. Wine is not
# among them: the tests and the demo run it inside Debian roots of their own
# (tests/wine/roots.sh). Works on Debian 12 and Debian 13; does nothing when everything is
# already there, so `make test` can call it every time.
set -u

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

need_pkgs=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wixl msitools osslsigncode openssl
    xvfb xauth xdotool imagemagick cmake ninja-build g++ libgtest-dev googletest clang
    python3 curl debootstrap ca-certificates)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# clang's sanitizer and fuzzer runtime is named after clang's major version (14 on Debian 12,
# 19 on Debian 13): take the one of the clang that is installed, or that apt would install.
clang_major() {
    local v
    v=$(clang --version 2>/dev/null | sed -nE 's/.*clang version ([0-9]+).*/\1/p' | head -n 1)
    [ -n "$v" ] || v=$(apt-cache depends clang 2>/dev/null | sed -nE 's/.*Depends: clang-([0-9]+)$/\1/p' | head -n 1)
    echo "$v"
}

missing() {
    local p out=()
    for p in "${need_pkgs[@]}" ${rt_pkg:+"$rt_pkg"}; do installed "$p" || out+=("$p"); done
    echo "${out[@]}"
}

apt_update() {
    local attempt
    # A mirror in the middle of a sync can fail one index; try a few times.
    for attempt in 1 2 3 4 5; do
        $SUDO apt-get update -q && return 0
        echo "apt-get update failed (attempt $attempt), retrying"
        sleep $((attempt * 5))
    done
    return 0
}

rt_pkg=""
major=$(clang_major)
[ -n "$major" ] && rt_pkg="libclang-rt-$major-dev"
todo=$(missing)
[ -z "$todo" ] && exit 0

apt_update
if [ -z "$rt_pkg" ]; then
    major=$(clang_major)
    [ -n "$major" ] || { echo "cannot tell which clang this release has"; exit 1; }
    rt_pkg="libclang-rt-$major-dev"
fi
todo=$(missing)
echo "installing: $todo"
release=$(. /etc/os-release 2>/dev/null; echo "${VERSION_CODENAME:-}")
for attempt in 1 2 3; do
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -q --no-install-recommends $todo && exit 0
    # A mirror mid-sync can offer a security update for one package and not its dependency;
    # the release's own versions always agree.
    if [ -n "$release" ]; then
        # shellcheck disable=SC2086
        $SUDO apt-get install -y -q --no-install-recommends -t "$release" $todo && exit 0
    fi
    sleep $((attempt * 10))
    apt_update
done
exit 1
