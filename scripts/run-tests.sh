#!/usr/bin/env bash
# Builds everything and runs every test level: host unit tests, the resource checks, and
# the Wine tests of the real setup.exe. Ends with "N passed, M failed"; exits 0 only when
# nothing failed.
set -u
cd "$(dirname "$0")/.."

passed=0
failed=0
logdir=build/test-logs
mkdir -p "$logdir"

# Adds the counts of a runner's closing "N passed, M failed" line to the totals.
count_closing_line() {
    local line
    line=$(grep -E '^([A-Za-z]+: )?[0-9]+ passed, [0-9]+ failed' "$1" | tail -n 1)
    if [ -z "$line" ]; then
        echo "no result line from $1"
        failed=$((failed + 1))
        return
    fi
    local p f
    p=$(echo "$line" | sed -E 's/^([A-Za-z]+: )?([0-9]+) passed.*/\2/')
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) failed.*/\1/')
    passed=$((passed + p))
    failed=$((failed + f))
}

step() { echo; echo "=== $* ==="; }

step "host build"
if ! make --no-print-directory host > "$logdir/host-build.log" 2>&1; then
    tail -n 40 "$logdir/host-build.log"
    echo "host build failed"
    failed=$((failed + 1))
else
    step "host unit tests"
    ./build/host/tests/host_tests --gtest_brief=1 > "$logdir/host.log" 2>&1
    cat "$logdir/host.log" | tail -n 30
    p=$(grep -Eo '\[  PASSED  \] [0-9]+' "$logdir/host.log" | grep -Eo '[0-9]+$' || echo 0)
    f=$(grep -Eo '\[  FAILED  \] [0-9]+ test' "$logdir/host.log" | grep -Eo '[0-9]+' || echo 0)
    if ! grep -q 'PASSED' "$logdir/host.log" && [ "${f:-0}" = 0 ]; then f=1; fi
    passed=$((passed + ${p:-0}))
    failed=$((failed + ${f:-0}))
fi

step "fuzzers (short runs on the committed corpus)"
if ! make --no-print-directory fuzz-build > "$logdir/fuzz-build.log" 2>&1; then
    tail -n 30 "$logdir/fuzz-build.log"
    echo "fuzz build failed"
    failed=$((failed + 1))
else
    for f in command_line installer_location product_suite message_format; do
        work=$(mktemp -d)
        if build/fuzz/tests/fuzz/fuzz_$f -max_total_time=10 -artifact_prefix="$work/" "$work" \
            tests/fuzz/corpus/$f > "$logdir/fuzz-$f.log" 2>&1; then
            echo "PASS fuzz_$f ($(grep -Eo 'DONE.*cov: [0-9]+' "$logdir/fuzz-$f.log" | tail -n 1))"
            passed=$((passed + 1))
        else
            echo "FAIL fuzz_$f"
            tail -n 20 "$logdir/fuzz-$f.log"
            failed=$((failed + 1))
        fi
        rm -rf "$work"
    done
fi

step "resource checks"
python3 tests/res/check_resources.py > "$logdir/resources.log" 2>&1
tail -n 5 "$logdir/resources.log"
count_closing_line "$logdir/resources.log"

step "make release (tests/release)"
python3 tests/release/run_release_tests.py > "$logdir/release.log" 2>&1
grep -E '^(PASS|FAIL)' "$logdir/release.log" | grep -v '^PASS' || true
tail -n 1 "$logdir/release.log"
count_closing_line "$logdir/release.log"

step "windows build"
if ! make --no-print-directory windows > "$logdir/windows-build.log" 2>&1; then
    tail -n 40 "$logdir/windows-build.log"
    echo "windows build failed"
    failed=$((failed + 1))
else
    ls -l out/setup.exe
    step "wine tests"
    python3 tests/wine/run_wine_tests.py out/setup.exe 2>&1 | tee "$logdir/wine.log"
    count_closing_line "$logdir/wine.log"
    step "make try (tests/try)"
    python3 tests/try/run_try_tests.py > "$logdir/try.log" 2>&1
    grep -E '^(PASS|FAIL)' "$logdir/try.log" || tail -n 20 "$logdir/try.log"
    count_closing_line "$logdir/try.log"
fi

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
