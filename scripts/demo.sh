#!/usr/bin/env bash
# make demo: an install run of setup.exe under Wine that downloads "Quorvex Lumora 5.1"
# over HTTPS from a server on this machine, verifies its signature and installs it.
#
# Installs what it needs (scripts/install-deps.sh), builds setup.exe (make windows), then,
# in build/demo:
#   pki/          the tests' throw-away CA (tests/wine/pki.sh), a SHA-256 code-signing
#                 certificate issued by it and a server certificate for localhost
#   serve/        Lumora.Win32.msi built with wixl (padded, so that the transfer takes a few
#                 seconds) and signed by the demo publisher
#   run/          a setup.exe built with a download address on https://localhost:PORT,
#                 signed by the same publisher, with no package beside it
#   prefix/       a fresh 32-bit Wine prefix that trusts the demo CA, virtual desktop on
#   screenshots/  the progress window during the download
# It then serves the package with tests/wine/https_server.py (slowed down), runs the setup
# under the Wine of a Debian root (tests/wine/roots.sh: Wine 8 of Debian 12, or Wine 10 of
# Debian 13 with DEMO_WINE=trixie; inside xvfb-run when there is no DISPLAY), takes screenshots while the
# package downloads, and prints the exit status, the installed files and the product's
# state. The server and the prefix's wineserver are stopped on every way out.
#
#   scripts/demo.sh            everything
#   DEMO_PORT=N scripts/demo.sh  another port (default 47901, or a free one)
#   DEMO_WINE=trixie scripts/demo.sh  Wine 10 instead of Wine 8
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SELF=$ROOT/scripts/$(basename "${BASH_SOURCE[0]}")
DEMO=$ROOT/build/demo
PREFIX=$DEMO/prefix
TITLE="Windows Installer Installation Wrapper"
PRODUCT_CODE="{5B0C1B44-2F1E-4C8A-9E51-1D4A0B7C5101}"
PAD_MIB=4          # package size: about 4 MiB ...
DELAY_MS=80        # ... sent 64 KiB at a time with this pause: about 5 s
RUN_TIMEOUT_MS=180000

log() { printf '\n== %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

# Z: path of a Unix path, computed by hand (winepath would start a wineserver).
zpath() { printf 'Z:%s' "$(readlink -f "$1" | tr / '\\')"; }

wine_env() {
    export WINEPREFIX=$PREFIX WINEARCH=win32 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export LC_ALL=C.UTF-8
}

# Ends what this demo started: its HTTPS server (by the pid it recorded, when that process
# is still the server) and the wineserver of its own prefix.
cleanup() {
    local pid
    if [ -f "$DEMO/server.pid" ]; then
        pid=$(cat "$DEMO/server.pid")
        if [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] \
            && tr '\0' ' ' < "/proc/$pid/cmdline" | grep -q https_server.py; then
            kill "$pid" 2>/dev/null || true
            for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
            kill -9 "$pid" 2>/dev/null || true
        fi
        rm -f "$DEMO/server.pid"
    fi
    if [ -d "$PREFIX" ]; then
        WINEPREFIX=$PREFIX timeout 30 wineserver -k 2>/dev/null || true
        WINEPREFIX=$PREFIX timeout 30 wineserver -w 2>/dev/null || true
    fi
}

# --- on the host ----------------------------------------------------------------------------

make_pki() {
    bash "$ROOT/tests/wine/pki.sh" "$DEMO/pki" > /dev/null
}

sign() { # in out
    rm -f "$2"
    osslsigncode sign -certs "$DEMO/pki/leaf-chain.pem" -key "$DEMO/pki/leaf.key" -h sha256 \
        -n "Quorvex Lumora 5.1" -in "$1" -out "$2" > /dev/null
    osslsigncode verify -CAfile "$DEMO/pki/ca.pem" -in "$2" > /dev/null \
        || die "the signature of $2 does not verify"
}

choose_port() {
    python3 - "${DEMO_PORT:-47901}" <<'EOF'
import socket, sys
want = int(sys.argv[1])
s = socket.socket()
try:
    s.bind(("127.0.0.1", want))
except OSError:
    s.close()
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
EOF
}

build_setup() { # port
    local port=$1
    # The row of the download tests: the built-in Lumora row, addresses on the local server.
    PYTHONPATH=$ROOT/tests/wine python3 - "$port" > "$DEMO/variant.path" <<'EOF'
import sys
import cases_download
import variants
tables = cases_download.tables(int(sys.argv[1]), 200)
print(variants.build_variants({"demo": tables})["demo"])
EOF
    mkdir -p "$DEMO/run"
    sign "$(cat "$DEMO/variant.path")" "$DEMO/run/setup.exe"
}

build_package() {
    local src=$DEMO/msi-src
    mkdir -p "$src" "$DEMO/serve"
    printf 'Quorvex Lumora 5.1\n' > "$src/lumora.txt"
    head -c $((PAD_MIB << 20)) /dev/urandom > "$src/lumora.dat"  # random: no compression
    # The package source of the download tests, with the padding file added.
    PYTHONPATH=$ROOT/tests/wine python3 - "$PRODUCT_CODE" > "$src/lumora.wxs" <<'EOF'
import sys
import cases_download
sys.stdout.write(cases_download.wxs(sys.argv[1], "{7A1E2B3C-4D5E-4F60-8172-93A4B5C6D701}", "5.1",
                                    "lumora.txt", "lumora.dat"))
EOF
    (cd "$src" && wixl -o Lumora.Win32.msi lumora.wxs)
    sign "$src/Lumora.Win32.msi" "$DEMO/serve/Lumora.Win32.msi"
}

build_helpers() {
    mkdir -p "$DEMO/bin"
    local cc=(i686-w64-mingw32-gcc -municode -O2 -s -Wall)
    "${cc[@]}" -o "$DEMO/bin/runexit.exe" "$ROOT/tests/wine/runexit.c" -luser32
    "${cc[@]}" -o "$DEMO/bin/dlgprobe.exe" "$ROOT/tests/wine/dlgprobe.c" -luser32
    "${cc[@]}" -o "$DEMO/bin/msistate.exe" "$ROOT/tests/wine/msistate.c" -lmsi
}

prepare() {
    log "installing what the build needs (scripts/install-deps.sh)"
    "$ROOT/scripts/install-deps.sh"
    log "building setup.exe (make windows)"
    make -C "$ROOT" --no-print-directory windows
    cleanup  # what an earlier, interrupted demo may have left
    rm -rf "$DEMO"
    mkdir -p "$DEMO"
    local port
    port=$(choose_port)
    echo "$port" > "$DEMO/port"
    log "demo CA, code-signing and server certificates (build/demo/pki)"
    make_pki
    log "setup.exe with the download address https://localhost:$port/prenos/?verzija=5.1&paket="
    build_setup "$port"
    log "Lumora.Win32.msi, about $PAD_MIB MiB, signed by the demo publisher"
    build_package
    build_helpers
}

# --- under Wine, with a display -------------------------------------------------------------

start_server() {
    local port=$1
    rm -f "$DEMO/server.port" "$DEMO/requests.log"
    python3 "$ROOT/tests/wine/https_server.py" --dir "$DEMO/serve" --cert "$DEMO/pki/server.pem" \
        --key "$DEMO/pki/server.key" --port "$port" --port-file "$DEMO/server.port" \
        --log "$DEMO/requests.log" --delay-ms "$DELAY_MS" --lifetime 600 \
        > "$DEMO/server.out" 2>&1 &
    echo $! > "$DEMO/server.pid"
    for _ in $(seq 100); do [ -f "$DEMO/server.port" ] && return 0; sleep 0.1; done
    cat "$DEMO/server.out" >&2
    die "the HTTPS server did not start on port $port"
}

make_prefix() {
    # Wine 10 trusts roots from the system store of its Debian root, read when the prefix is
    # made; Wine 8 from the prefix's registry.
    if [ "${KAVRIN_WINE_VERSION%%.*}" -ge 10 ]; then
        mkdir -p "$KAVRIN_WINE_ROOT/usr/local/share/ca-certificates"
        cp "$DEMO/pki/ca.pem" "$KAVRIN_WINE_ROOT/usr/local/share/ca-certificates/kavrin-test-ca.crt"
        chroot "$KAVRIN_WINE_ROOT" update-ca-certificates --fresh > /dev/null
    fi
    wineboot -i > "$DEMO/wineboot.log" 2>&1
    wineserver -w
    if [ "${KAVRIN_WINE_VERSION%%.*}" -lt 10 ]; then
        wine reg import "$(zpath "$DEMO/pki/ca.reg")" > /dev/null 2>&1
    fi
    # Wine's virtual desktop, so that screenshots show the window captions.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f > /dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f > /dev/null 2>&1
}

run_setup() {
    local shots=$DEMO/screenshots cmd=$DEMO/run.cmd title_hex n=0 state
    mkdir -p "$shots"
    title_hex=$(printf '%s' "$TITLE" | od -An -tx1 | tr -d ' \n')
    printf '"%s"' "$(zpath "$DEMO/run/setup.exe")" > "$cmd"
    wine "$DEMO/bin/runexit.exe" "$(zpath "$cmd")" "$RUN_TIMEOUT_MS" > "$DEMO/run.out" 2>&1 &
    local run_pid=$!
    # Screenshots while the package is on its way: once the server has the request, every
    # second while the progress window is up and the bar is not full.
    for _ in $(seq 600); do
        [ -s "$DEMO/requests.log" ] && break
        kill -0 "$run_pid" 2>/dev/null || break
        sleep 0.1
    done
    while kill -0 "$run_pid" 2>/dev/null && [ "$n" -lt 8 ]; do
        state=$(wine "$DEMO/bin/dlgprobe.exe" progress "$title_hex" 2>/dev/null || true)
        if ! printf '%s' "$state" | python3 -c '
import json, sys
s = json.load(sys.stdin)
sys.exit(0 if s.get("found") and s["visible"] and 0 < s["pos"] < s["high"] else 1)' 2>/dev/null; then
            # Not (or no longer) downloading: before the first piece, wait; after it, done.
            [ "$n" -gt 0 ] && break
            sleep 0.2
            continue
        fi
        n=$((n + 1))
        import -display "$DISPLAY" -window root "$shots/progress-$n.png"
        printf '%s' "$state" | python3 -c '
import json, sys
s = json.load(sys.stdin)
print("screenshot %s: %s | %s | %d of %d bytes (%d%%)" % (sys.argv[1], s["title"], s["status"],
      s["pos"], s["high"], 100 * s["pos"] // max(s["high"], 1)))' "$n"
        sleep 1
    done
    wait "$run_pid" || true
}

report() {
    local line code files state
    log "result"
    line=$(tr -d '\r' < "$DEMO/run.out" | grep -m1 '^exit=' || true)
    [ -n "$line" ] || { cat "$DEMO/run.out"; die "no exit status from the run"; }
    code=$(printf '%s' "$line" | sed 's/^exit=\(0x[0-9A-Fa-f]*\).*/\1/')
    echo "exit status of setup.exe: $code ($((code)))"
    echo "requests the server saw:"
    sed 's/^/  /' "$DEMO/requests.log" 2>/dev/null || echo "  none"
    files="$PREFIX/drive_c/Program Files/Quorvex/Lumora"
    echo "installed files (C:\\Program Files\\Quorvex\\Lumora):"
    if [ -d "$files" ]; then
        (cd "$files" && find . -type f -printf '  %P  %s bytes\n' | sort)
    else
        echo "  none"
    fi
    state=$(wine "$DEMO/bin/msistate.exe" "$PRODUCT_CODE" 2>/dev/null | tr -d '\r')
    echo "product state (MsiQueryProductState, 5 = installed; then the install source):"
    echo "  $state"
    echo "screenshots: $DEMO/screenshots"
    ls "$DEMO/screenshots" | sed 's/^/  /'
    [ "$((code))" -eq 0 ] && printf '%s' "$state" | grep -q " 5 "
}

wine_part() {
    # (Under xvfb-run this part may start with SIGINT ignored; an interrupted step then
    # fails, and the EXIT trap still cleans up.)
    trap cleanup EXIT
    trap 'exit 130' INT TERM HUP
    wine_env
    local port
    port=$(cat "$DEMO/port")
    log "HTTPS server on https://localhost:$port (tests/wine/https_server.py, $DELAY_MS ms per 64 KiB)"
    start_server "$port"
    log "Wine prefix trusting the demo CA (build/demo/prefix)"
    make_prefix
    log "running setup.exe (no package beside it: it downloads one)"
    run_setup
    report
}

case "${1:-}" in
    --wine-part)
        wine_part
        ;;
    "")
        trap cleanup EXIT
        trap 'exit 130' INT TERM HUP
        prepare
        gcc -O1 -o "$DEMO/ia32_probe" "$ROOT/tests/wine/ia32_probe.c"
        if ! probe=$("$DEMO/ia32_probe"); then
            die "setup.exe, its signed package and the HTTPS server's certificate are ready in
build/demo, but Wine cannot start setup.exe on this machine: $probe.
Both 32-bit Wine and Wine's WoW64 mode need the kernel to run 32-bit x86 code; run make demo
on a machine whose kernel does."
        fi
        log "Debian root with Wine (tests/wine/roots.sh, ${DEMO_WINE:-bookworm})"
        "$ROOT/tests/wine/roots.sh" ensure "${DEMO_WINE:-bookworm}"
        if [ -n "${DISPLAY:-}" ]; then
            "$ROOT/tests/wine/roots.sh" run "${DEMO_WINE:-bookworm}" "$SELF" --wine-part
        else
            command -v xvfb-run > /dev/null || die "no DISPLAY and no xvfb-run"
            "$ROOT/tests/wine/roots.sh" run "${DEMO_WINE:-bookworm}" \
                xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$SELF" --wine-part
        fi
        ;;
    *)
        echo "usage: scripts/demo.sh" >&2
        exit 2
        ;;
esac
