#!/usr/bin/env bash
# Runs the Java tests on Debian 11 (glibc 2.31, its own OpenJDK 17) against
# zel.jar as shipped: the library is the one the jar carries, extracted by the
# loader, not the build tree's.  The Debian 11 root is made once with
# debootstrap and kept under ~/.cache/zel.  Needs root (chroot, mounts).
# Usage: scripts/oldlinux.sh BUILD-DIR    (a plain build with its Java tests)
set -euo pipefail
build=$(realpath "$1")
cd "$(dirname "$0")/.."
cache=${XDG_CACHE_HOME:-$HOME/.cache}/zel
[ "$(id -u)" -eq 0 ] || exec sudo XDG_CACHE_HOME="${cache%/zel}" "$PWD/scripts/oldlinux.sh" "$build"
# The recipe of the root: a change to it makes a new one.
recipe="bullseye minbase openjdk-17-jre-headless"
root=$cache/debian11-$(md5sum <<<"$recipe" | cut -c1-8)

if [ ! -f "$root/.made" ]; then
    # Roots of earlier recipes go.
    rm -rf "$cache"/debian11-*
    mkdir -p "$cache"
    echo "making the Debian 11 root in $root (once)"
    start=$SECONDS
    debootstrap --variant=minbase --include=openjdk-17-jre-headless bullseye "$root.part" \
        >"$root.log" 2>&1 || { tail -20 "$root.log"; exit 1; }
    rm -rf "$root.part"/var/cache/apt/archives/*.deb
    echo "$recipe" >"$root.part/.made"
    mv "$root.part" "$root"
    echo "made in $((SECONDS - start)) s"
fi

junit=$(ls /usr/share/java/junit-platform-console-standalone*.jar | head -1)
jars=("$build/java/zel.jar" "$build/java/zel-walk.jar" "$build/java/test/zel-tests.jar")
for f in "${jars[@]}"; do [ -f "$f" ] || { echo "missing $f: build $build first" >&2; exit 1; }; done
# Test classes named FreshProcess* each need a JVM of their own (as in java/test).
fresh=$(jar tf "${jars[2]}" | sed -n 's|^\(.*/FreshProcess[^$/]*\)\.class$|\1|p' | tr / . | tr '\n' ' ')

# In a mount namespace of its own: the mounts go when the run ends.
inner=$(cat <<'INNER'
set -euo pipefail
root=$1 src=$2 junit=$3 zel=$4 walk=$5 tests=$6 fresh=$7
mount --rbind /dev "$root/dev"
mkdir -p "$root/zel" && mount -t tmpfs tmpfs "$root/zel"
# The jars as shipped, copied in: nothing of the build tree is reachable.
cp "$junit" "$root/zel/junit.jar"; cp "$zel" "$walk" "$tests" "$root/zel/"
# The example design, and the test data beside it that some tests reach from there.
mkdir -p "$root/zel/src" && cp -r "$src/examples" "$src/tests" "$root/zel/src/"
mkdir -p "$root/zel/tmp"
log=$src/build/oldlinux.log
: >"$log"
# Each run's summary; its whole output when it fails.  A warning of
# -Xcheck:jni fails the run, although the JVM exits 0 for it.
passed=0 failed=0
run() {
    local label=$1 out status=0
    shift
    out=$(chroot "$root" env -i PATH=/usr/bin:/bin HOME=/zel ZEL_EXAMPLES=/zel/src/examples \
        java -Xcheck:jni -Djava.io.tmpdir=/zel/tmp -jar /zel/junit.jar --disable-banner --details=tree \
        --fail-if-no-tests --class-path /zel/zel.jar:/zel/zel-walk.jar:/zel/zel-tests.jar "$@" 2>&1) || status=1
    echo "$out" >>"$log"
    grep -qE 'WARNING in native method|FATAL ERROR in native method|JNI local refs' <<<"$out" && status=1
    local ok bad
    ok=$(sed -nE 's/.*\[ *([0-9]+) tests successful.*/\1/p' <<<"$out")
    bad=$(sed -nE 's/.*\[ *([0-9]+) tests failed.*/\1/p' <<<"$out")
    passed=$((passed + ${ok:-0})) failed=$((failed + ${bad:-0}))
    echo "  $label: ${ok:-0} passed, ${bad:-0} failed"
    [ $status -eq 0 ] || echo "$out"
    return $status
}
echo "on $(chroot "$root" /usr/bin/ldd --version | sed -n 1p), $(chroot "$root" java -version 2>&1 | sed -n 1p)"
status=0
run "all but FreshProcess*" --scan-class-path /zel/zel-tests.jar --exclude-classname '^.*\.FreshProcess.*$' || status=1
for c in $fresh; do
    run "${c#COM.morvent.zel.}" --select-class "$c" || status=1
done
echo "oldlinux: $passed passed, $failed failed"
exit $status
INNER
)
exec unshare --mount --pid --fork --mount-proc="$root/proc" bash -c "$inner" oldlinux "$root" "$PWD" "$junit" "${jars[@]}" "$fresh" </dev/null
