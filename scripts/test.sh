#!/usr/bin/env bash
# Builds and runs every test of the project:
#   plain     the C++ tests and the Java tests (real JVM, -Xcheck:jni); zel import and
#             zel export on PicoRV32 with yosys, iverilog and verilator
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
#   arm64     the library and the C++ tests built for ARM64 Linux (clang), the
#             tests run under qemu-aarch64; zel.jar of plain carries this library
#   oldlinux  the Java tests on Debian 11 (debootstrap root with its own JDKs,
#             kept in ~/.cache/zel) against zel.jar of plain as shipped: on
#             OpenJDK 11 the library's tests, on 17 all of them
#   newjvm    the same on Debian 13's OpenJDK 21 and 25 (a root of its own);
#             on 25 the zel launcher must print no warning
# Installs what it needs on Debian 12.  Build trees go to build/<suite>.
# Usage: scripts/test.sh [suite...]     (default: all ten)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

suites=("$@")
# windows and arm64 first: the jar of plain carries their libraries; nfs,
# browser and oldlinux use the build of plain.
[ ${#suites[@]} -gt 0 ] || suites=(windows arm64 plain nfs browser oldlinux newjvm sanitize m32 fuzz)

zel_need_build_packages
zel_need_packages junit5 graphviz
for suite in "${suites[@]}"; do
    # zel import and zel export, checked on real designs (tests/netlist)
    [ "$suite" = plain ] && zel_need_packages yosys iverilog verilator
    [ "$suite" = m32 ] && zel_need_packages g++-multilib qemu-user
    # clang and its libFuzzer runtime
    [ "$suite" = fuzz ] && zel_need_packages clang libclang-rt-14-dev
    [ "$suite" = windows ] && zel_need_packages g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64
    if [ "$suite" = browser ]; then
        zel_need_packages chromium
        # Debian's Node.js unless one is installed already.
        command -v npm >/dev/null || zel_need_packages nodejs npm
    fi
    # clang with Debian's ARM64 sysroot: its aarch64 GCC would remove g++-multilib.
    [ "$suite" = arm64 ] && zel_need_packages clang qemu-user binutils-aarch64-linux-gnu libc6-dev-arm64-cross \
        libstdc++-12-dev-arm64-cross libgcc-12-dev-arm64-cross
    [ "$suite" = oldlinux ] || [ "$suite" = newjvm ] && zel_need_packages debootstrap
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
    # Under qemu the executables run whole: say which tests they skipped, and why.
    [ "$suite" = arm64 ] && awk '/: Skipped$/ { getline why } /^\[  SKIPPED \] [^ ]+ \(/ { print "  skipped " $4 ": " why }
        /^\[  PASSED  \] [0-9]+ test/ { n += $4 } END { print "  " n " C++ tests passed under qemu-aarch64" }' "$dir/Testing/Temporary/LastTest.log"
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

# A suite that runs as its own script and closes with "SUITE: N passed, M failed".
run_counted() {
    local suite=$1
    shift
    echo "=== $suite"
    local log=build/$suite.out status=0 line
    "$@" >"$log" 2>&1 || status=$?
    line=$(grep -E "^$suite: [0-9]+ passed, [0-9]+ failed" "$log" | tail -1 || true)
    if [ -n "$line" ]; then
        read -r _ p _ f _ <<<"$line"
        total_passed=$((total_passed + p))
        total_failed=$((total_failed + f))
    fi
    # The whole log when it failed; its figures and the closing line when it passed.
    if [ $status -ne 0 ]; then tail -40 "$log"; else grep -E "^(FIGURES|ROUND|guest ran|  )|^$suite: " "$log" || true; fi
    return $status
}

# The jars of plain (built if need be), tested in the root of Debian release $1.
run_oldlinux() {
    local release=$1
    shift
    { [ -f build/plain/CMakeCache.txt ] || cmake -S . -B build/plain "$@" >build/plain.configure.log; } &&
        cmake --build build/plain -j"$jobs" --target zel zel_walk zel_tests >build/plain.build.log &&
        scripts/oldlinux.sh build/plain "$release"
}

mkdir -p build
for suite in "${suites[@]}"; do
    case "$suite" in
        # Scripts of their own on the plain build.
        nfs) run_counted nfs scripts/nfs_test.sh || failed_suites+=(nfs)
             continue ;;
        browser) run_counted browser tests/browser/run.sh build/plain || failed_suites+=(browser)
                 continue ;;
        # The checking builds are compiled unoptimised: they take half the time to build.
        plain|oldlinux|newjvm) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
               # zel.jar carries the Windows DLLs and the ARM64 library when this run or an earlier one built them.
               natives=()
               for pair in windows-x86_64=build/windows/zelJava_sh.dll windows-x86=build/windows-i686/zelJava_sh.dll \
                           linux-aarch64=build/arm64/libzelJava_sh.so.1; do
                   [ -f "${pair#*=}" ] && natives+=("${pair%%=*}=$(realpath "${pair#*=}")")
               done
               args+=("-DZEL_JAR_EXTRA_NATIVES=$(IFS=';'; echo "${natives[*]}")")
               # oldlinux, newjvm: the jars of plain (built if need be), tested on Debian 11 and 13.
               if [ "$suite" = oldlinux ]; then
                   run_counted oldlinux run_oldlinux debian11 "${args[@]}" || failed_suites+=(oldlinux)
                   continue
               fi
               if [ "$suite" = newjvm ]; then
                   run_counted newjvm run_oldlinux debian13 "${args[@]}" || failed_suites+=(newjvm)
                   continue
               fi ;;
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
        # Lean: lightly optimised, no debugging information (the jar carries this library).
        arm64) args=(-DCMAKE_TOOLCHAIN_FILE=cmake/aarch64.cmake -DCMAKE_BUILD_TYPE=Release
                     "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O1 -DNDEBUG") ;;
        *) echo "unknown suite '$suite' (plain, nfs, browser, oldlinux, newjvm, sanitize, m32, fuzz, windows, arm64)" >&2; exit 2 ;;
    esac
    run_suite "$suite" "${args[@]}" || failed_suites+=("$suite")
done

echo
echo "tests: $total_passed passed, $total_failed failed"
if [ ${#failed_suites[@]} -gt 0 ]; then
    echo "failed suites: ${failed_suites[*]}" >&2
    exit 1
fi
