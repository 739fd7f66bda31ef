#!/usr/bin/env bash
# The NFS suite: a real NFS mount on any Debian 12 machine, without a kernel
# NFS of its own.  Boots Debian's user-mode Linux kernel with the host's files
# as its root; inside, tests/nfs/guest.sh serves a tmpfs over NFS on the
# guest's loopback, mounts it as five hosts (NFSv3, NFSv4.2, a nolock mount)
# and runs two writers, a reader and the library's save tests there.
# Uses the plain build (build/plain); prints "nfs: N passed, N failed".
# Usage: scripts/nfs_test.sh [edits per writer, default 150]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
zel_need_build_packages
zel_need_packages user-mode-linux nfs-kernel-server kmod iproute2
edits=${1:-150}

build=build/plain
if [ ! -f "$build/CMakeCache.txt" ]; then
    mkdir -p build
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build.configure.log" 2>&1 ||
        { cat "$build.configure.log"; exit 1; }
fi
cmake --build "$build" --target zelvek_tests nfs_client uml_xstate -j"$(nproc 2>/dev/null || echo 2)" >"$build.nfs.log" 2>&1 ||
    { grep -E -A5 'error' "$build.nfs.log" | head -40; exit 1; }

out=$PWD/build/nfs
rm -rf "$out"
mkdir -p "$out"
start=$(date +%s)
status=0
# Unknown name=value words of the command line reach the guest's init as its
# environment.  uml_xstate lets the kernel set its processes' registers on
# hosts with more of them than it knows (tests/nfs/uml_xstate.c).  Under 5
# minutes in all, whatever hangs.
timeout 280 env LD_PRELOAD="$PWD/$build/tests/libuml_xstate.so" linux.uml mem=1G root=/dev/root rootfstype=hostfs rw \
    init="$PWD/tests/nfs/guest.sh" \
    zelnfs_out="$out" zelnfs_bin="$PWD/$build/tests" zelnfs_edits="$edits" con=null con0=null,fd:1 \
    </dev/null >"$out/console.log" 2>&1 || status=$?
echo "guest ran $(($(date +%s) - start)) s (exit $status)"

touch "$out/results"
if ! grep -q '^BOOTED' "$out/results"; then
    echo "nfs: the user-mode Linux guest did not boot; its console:" >&2
    tail -40 "$out/console.log" >&2
    echo "nfs: 0 passed, 1 failed"
    exit 1
fi
grep -E '^(BOOTED|MOUNTED|FIGURES|ROUND)' "$out/results" || true
passed=$(grep -c '^PASS' "$out/results" || true)
failed=$(grep -c '^FAIL' "$out/results" || true)
if ! grep -q '^DONE' "$out/results"; then
    echo "FAIL the guest ended before its last test (timeout or crash); see $out/console.log" >&2
    failed=$((failed + 1))
fi
grep '^FAIL' "$out/results" >&2 || true
[ "$failed" -eq 0 ] || echo "details: $out/guest.log" >&2
echo "nfs: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
