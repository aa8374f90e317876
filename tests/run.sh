#!/usr/bin/env bash
# Builds everything and runs every test level: host unit tests, fuzzers, the resource checks,
# the include rule of the product folders, and the Wine tests of the real setup.exe on Wine 8
# (Debian 12 root) and Wine 10 (Debian 13 root). Ends with "N passed, M failed, K skipped";
# exits 0 only when nothing failed.
#   tests/run.sh                  everything
#   WINES=trixie tests/run.sh     the Wine level on one root only (bookworm or trixie)
#   ARCHS=x64 tests/run.sh        the Wine level of one architecture only (x64 or x86)
set -u
cd "$(dirname "$0")/.."

passed=0
failed=0
skipped=0
logdir=build/test-logs
mkdir -p "$logdir"

# fail LOG N WHAT: counts a failure, shown as the last N lines of LOG and "FAIL WHAT".
fail() { tail -n "$2" "$1"; echo "FAIL $3"; failed=$((failed + 1)); }

# Adds the counts of a runner's closing "N passed, M failed[, K skipped]" line to the totals.
count_closing_line() {
    local re='^([A-Za-z0-9. -]+: )?([0-9]+) passed, ([0-9]+) failed(, ([0-9]+) skipped)?' line
    line=$(grep -E "$re" "$1" | tail -n 1)
    if [[ $line =~ $re ]]; then
        passed=$((passed + BASH_REMATCH[2]))
        failed=$((failed + BASH_REMATCH[3]))
        skipped=$((skipped + ${BASH_REMATCH[5]:-0}))
    else
        fail "$1" 0 "no result line from $1"
    fi
}

step() { echo; echo "=== $* ==="; }

# The Wine level, once per Debian root and architecture. The x64 setup runs under 64-bit Wine
# everywhere; the x86 setup needs a kernel that runs 32-bit x86 code (the probe), and where
# that is missing its runs are skipped with the probe's reason.
wine_level() {
    local rel label probe arch exe
    local x86_runs=yes
    probe=$(python3 tests/harness.py ia32 2>&1) || x86_runs=no
    for rel in ${WINES:-bookworm trixie}; do
        case $rel in bookworm) label="wine8 (Debian 12)";; trixie) label="wine10 (Debian 13)";; *) label=$rel;; esac
        if ! tests/wine/roots.sh ensure "$rel" > "$logdir/root-$rel.log" 2>&1; then
            fail "$logdir/root-$rel.log" 20 "[$label] the Debian root could not be made"
            continue
        fi
        for arch in ${ARCHS:-x64 x86}; do
            step "wine tests: $label, $arch"
            if [ "$arch" = x86 ] && [ "$x86_runs" = no ]; then
                echo "SKIP [$label x86] the x86 setup's Wine level: $probe; neither 32-bit Wine nor WoW64 can start it here (the x64 setup ran instead)"
                skipped=$((skipped + 1))
                continue
            fi
            exe=out/setup.exe
            [ "$arch" = x64 ] && exe=out/x64/setup.exe
            tests/wine/roots.sh run "$rel" python3 tests/wine/run_wine_tests.py "$exe" --arch "$arch" 2>&1 \
                | tee "$logdir/wine-$rel-$arch.log"
            count_closing_line "$logdir/wine-$rel-$arch.log"
        done
    done
}

# Runs "make TARGET" into the log NAME; a failure is counted and shown.
built() {
    make --no-print-directory "$1" > "$logdir/$2.log" 2>&1 && return 0
    fail "$logdir/$2.log" 40 "$2: make $1 failed"
    return 1
}

# Runs a harness runner (python3 ARGS) into the log NAME, shows its failures and its closing
# line, and counts that line.
runner() {
    local name=$1
    shift
    python3 "$@" > "$logdir/$name.log" 2>&1
    grep -E '^FAIL' "$logdir/$name.log" || true
    tail -n 1 "$logdir/$name.log"
    count_closing_line "$logdir/$name.log"
}

step "host build"
if built host host-build; then
    step "host unit tests"
    ./build/host/tests/host_tests --gtest_brief=1 > "$logdir/host.log" 2>&1
    tail -n 30 "$logdir/host.log"
    p=$(grep -Eo '\[  PASSED  \] [0-9]+' "$logdir/host.log" | grep -Eo '[0-9]+$' || echo 0)
    f=$(grep -Eo '\[  FAILED  \] [0-9]+ test' "$logdir/host.log" | grep -Eo '[0-9]+' || echo 0)
    if ! grep -q 'PASSED' "$logdir/host.log" && [ "${f:-0}" = 0 ]; then f=1; fi
    passed=$((passed + ${p:-0}))
    failed=$((failed + ${f:-0}))
fi

step "fuzzers (short runs on the committed corpus)"
if built fuzz-build fuzz-build; then
    for f in command_line installer_location product_suite message_format; do
        work=$(mktemp -d)
        if build/fuzz/tests/fuzz/fuzz_$f -max_total_time=10 -artifact_prefix="$work/" "$work" \
            tests/fuzz/corpus/$f > "$logdir/fuzz-$f.log" 2>&1; then
            echo "PASS fuzz_$f ($(grep -Eo 'DONE.*cov: [0-9]+' "$logdir/fuzz-$f.log" | tail -n 1))"
            passed=$((passed + 1))
        else
            fail "$logdir/fuzz-$f.log" 20 "fuzz_$f"
        fi
        rm -rf "$work"
    done
fi

step "resource checks"
runner resources tests/res/check_resources.py

step "layer check (no folder circles; the seam includes nothing outside itself)"
runner layers tests/layers/check_layers.py

step "make release (tests/release)"
runner release tests/release/run_release_tests.py

step "windows build"
if built windows windows-build; then
    ls -l out/setup.exe out/x64/setup.exe
    step "resource checks of the linked setup.exe"
    runner resources-exe tests/res/check_resources.py --exe out/setup.exe --x64 out/x64/setup.exe
    wine_level
    step "make try (tests/try)"
    runner try tests/try/run_try_tests.py
fi

echo
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
