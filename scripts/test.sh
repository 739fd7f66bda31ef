#!/usr/bin/env bash
# Builds and runs every test of the project:
#   plain     the C++ tests and the Java tests (real JVM, -Xcheck:jni)
#   sanitize  the same built with AddressSanitizer and UndefinedBehaviorSanitizer
#   m32       the contract and the C++ tests built 32-bit (-m32), run through qemu
#   fuzz      the library and the bridge built with clang for libFuzzer; each
#             fuzz target runs for a minute from its seeds and fails on any finding
#   nfs       saves on a real NFS mount in a user-mode Linux guest (scripts/nfs_test.sh)
#   windows   zelJava_sh.dll cross-built with mingw-w64 for x86-64 and i686; the
#             C++ tests built for x86-64 Windows and run under Wine; the exports,
#             imports and DllMain of both DLLs checked
#   browser   the hierarchy editor (zel edit) driven in Debian's chromium by
#             puppeteer-core (tests/browser; reuses build/plain)
# Installs what it needs on Debian 12.  Build trees go to build/<suite>.
# Usage: scripts/test.sh [suite...]     (default: all six)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

suites=("$@")
# windows first: the jar of plain carries its DLLs.
[ ${#suites[@]} -gt 0 ] || suites=(windows plain nfs browser sanitize m32 fuzz)

zel_need_build_packages
zel_need_packages junit5 graphviz
for suite in "${suites[@]}"; do
    [ "$suite" = m32 ] && zel_need_packages g++-multilib qemu-user
    # clang and its libFuzzer runtime
    [ "$suite" = fuzz ] && zel_need_packages clang libclang-rt-14-dev
    [ "$suite" = windows ] && zel_need_packages g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64
    if [ "$suite" = browser ]; then
        zel_need_packages chromium
        # Debian's Node.js unless one is installed already.
        command -v npm >/dev/null || zel_need_packages nodejs npm
    fi
done

jobs=$(nproc 2>/dev/null || echo 2)
total_passed=0
total_failed=0
failed_suites=()

run_suite() {
    local suite=$1
    shift
    local dir="build/$suite"
    echo "=== $suite"
    local env=()
    [ "$suite" = fuzz ] && env=(CC=clang CXX=clang++)
    # Wine in a prefix of the build's own, made before the tests start in parallel.
    if [ "$suite" = windows ]; then
        export WINEPREFIX="$PWD/$dir/wine" WINEDEBUG=-all
        mkdir -p "$dir"
        [ -d "$WINEPREFIX" ] || /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
    fi
    env "${env[@]}" cmake -S . -B "$dir" "$@" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j"$jobs" >"$dir.build.log" 2>&1 || { grep -E -A5 'error' "$dir.build.log" | head -80; return 1; }
    local log="$dir/ctest.log"
    local status=0
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 >"$log" 2>&1 || status=$?
    grep -E '^[0-9]+% tests passed|^Errors while running' "$log" || true
    # The fuzzers' figures: executions, coverage, corpus, findings.
    [ "$suite" = fuzz ] && cat "$dir"/tests/fuzz/run/*/summary.txt 2>/dev/null
    [ $status -eq 0 ] || sed -n '/The following tests FAILED/,$p' "$log"
    local line passed failed
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
    if [ -n "$line" ]; then
        failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
        passed=$(( $(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line") - failed ))
        total_passed=$((total_passed + passed))
        total_failed=$((total_failed + failed))
    fi
    return $status
}

# The browser suite counts its own checks: "browser: N passed, M failed".
run_browser() {
    echo "=== browser"
    local log=build/browser.log status=0 line
    tests/browser/run.sh build/plain >"$log" 2>&1 || status=$?
    grep -E '^not ok' -A3 "$log" || true
    line=$(grep -E '^browser: [0-9]+ passed, [0-9]+ failed' "$log" | tail -1 || true)
    if [ -n "$line" ]; then
        echo "$line"
        total_passed=$((total_passed + $(sed -E 's/^browser: ([0-9]+) passed.*/\1/' <<<"$line")))
        total_failed=$((total_failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")))
    else
        tail -20 "$log"
    fi
    return $status
}

mkdir -p build
for suite in "${suites[@]}"; do
    case "$suite" in
        # Its own script, on the plain build; counted from its last line.
        nfs) echo "=== nfs"
             nfs_status=0
             scripts/nfs_test.sh | tee build/nfs.log || nfs_status=$?
             line=$(grep -E '^nfs: [0-9]+ passed, [0-9]+ failed' build/nfs.log | tail -1 || true)
             [ -z "$line" ] || { read -r _ p _ f _ <<<"$line"; total_passed=$((total_passed + p)); total_failed=$((total_failed + f)); }
             [ $nfs_status -eq 0 ] || failed_suites+=(nfs)
             continue ;;
        # The checking builds are compiled unoptimised: they take half the time to build.
        plain) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
               # zel.jar carries the Windows DLLs when this run or an earlier one built them.
               natives=()
               for pair in windows-x86_64=build/windows windows-x86=build/windows-i686; do
                   [ -f "${pair#*=}/zelJava_sh.dll" ] && natives+=("${pair%%=*}=$PWD/${pair#*=}/zelJava_sh.dll")
               done
               args+=("-DZEL_JAR_EXTRA_NATIVES=$(IFS=';'; echo "${natives[*]}")") ;;
        sanitize) args=(-DCMAKE_BUILD_TYPE=Debug -DZEL_SANITIZE=ON) ;;
        m32) args=(-DCMAKE_BUILD_TYPE=Debug -DZEL_M32=ON) ;;
        # Lightly optimised, with line tables only: quick to build, and still
        # many executions a minute and reports with lines.
        fuzz) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only"
                    -DZEL_FUZZ=ON) ;;
        # Built as they ship: the jar carries these DLLs.
        windows) args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw.cmake)
                 run_suite windows-i686 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw.cmake -DZEL_WINDOWS_ARCH=i686 ||
                     failed_suites+=(windows-i686) ;;
        browser) run_browser || failed_suites+=(browser)
                 continue ;;
        *) echo "unknown suite '$suite' (plain, nfs, browser, sanitize, m32, fuzz, windows)" >&2; exit 2 ;;
    esac
    run_suite "$suite" "${args[@]}" || failed_suites+=("$suite")
done

echo
echo "tests: $total_passed passed, $total_failed failed"
if [ ${#failed_suites[@]} -gt 0 ]; then
    echo "failed suites: ${failed_suites[*]}" >&2
    exit 1
fi
