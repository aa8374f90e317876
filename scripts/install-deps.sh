#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need: the mingw-w64 i686 cross
# compiler, 32-bit Wine, the MSI and signing tools, Xvfb and the host test tools.
# Does nothing when everything is already there, so `make test` can call it every time.
set -u

need_pkgs=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 wine64 wixl msitools
    osslsigncode openssl xvfb xauth xdotool imagemagick cmake ninja-build g++ libgtest-dev
    googletest clang libclang-rt-14-dev python3 curl)

missing=()
for p in "${need_pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync can fail one index; try a few times before going on
# with whatever lists were fetched.
for attempt in 1 2 3 4 5; do
    if $SUDO apt-get update -q; then break; fi
    echo "apt-get update failed (attempt $attempt), retrying"
    sleep $((attempt * 5))
done
# When a mirror is mid-sync, the i386 index of the security suite can be missing while the
# amd64 one is newer; multi-arch libraries then disagree on versions. Falling back to the
# release's own versions (-t bookworm) keeps both architectures on one version.
release=$(. /etc/os-release 2>/dev/null; echo "${VERSION_CODENAME:-bookworm}")
for attempt in 1 2 3; do
    if $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; then exit 0; fi
    echo "apt-get install failed (attempt $attempt), retrying against the $release release"
    if $SUDO apt-get install -y -q --no-install-recommends -t "$release" "${missing[@]}"; then exit 0; fi
    sleep $((attempt * 10))
    $SUDO apt-get update -q || true
done
exit 1
