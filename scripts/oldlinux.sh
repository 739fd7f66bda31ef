#!/usr/bin/env bash
# Runs the Java tests on other Debian releases and their JVMs against zel.jar
# as shipped: the library is the one the jar carries, extracted by the loader,
# not the build tree's.
#   debian11  glibc 2.31: OpenJDK 11 (the library's tests, compiled for 8)
#             and OpenJDK 17 (every Java test)
#   debian13  OpenJDK 21 and 25 (every Java test); on 25 the zel launcher
#             must print no warning about native access
# Each root is made once with debootstrap and kept under ~/.cache/zel.  Needs
# root (chroot, mounts).
# Usage: scripts/oldlinux.sh BUILD-DIR [debian11|debian13]   (default debian11;
#        BUILD-DIR is a plain build with its Java tests)
#        scripts/oldlinux.sh --make-root debian11|debian13
set -euo pipefail
if [ "${1:-}" = --make-root ]; then build=""; release=${2:?which root}; else build=$(realpath "$1"); release=${2:-debian11}; fi
cd "$(dirname "$0")/.."
cache=${XDG_CACHE_HOME:-$HOME/.cache}/zel
[ "$(id -u)" -eq 0 ] || exec sudo XDG_CACHE_HOME="${cache%/zel}" "$PWD/scripts/oldlinux.sh" "$@"
# The recipe of each root: a change to it makes a new one.  jvms: the JVMs the
# tests run on, as java-<N>; a JVM marked with :lib runs only the library's
# tests (the tools need 17).
case "$release" in
    debian11) recipe="bullseye minbase openjdk-11-jre-headless openjdk-17-jre-headless"
              jvms="11:lib 17" suite=oldlinux ;;
    debian13) recipe="trixie minbase openjdk-21-jre-headless openjdk-25-jre-headless"
              jvms="21 25" suite=newjvm ;;
    *) echo "unknown root '$release' (debian11, debian13)" >&2; exit 2 ;;
esac
root=$cache/$release-$(md5sum <<<"$recipe" | cut -c1-8)

if [ ! -f "$root/.made" ]; then
    # Roots of earlier recipes go.
    rm -rf "$cache/$release"-*
    mkdir -p "$cache"
    echo "making the $release root in $root (once)"
    start=$SECONDS
    read -r codename variant packages <<<"$recipe"
    debootstrap --variant="$variant" --include="${packages// /,}" "$codename" "$root.part" \
        >"$root.log" 2>&1 || { tail -20 "$root.log"; exit 1; }
    rm -rf "$root.part"/var/cache/apt/archives/*.deb
    echo "$recipe" >"$root.part/.made"
    mv "$root.part" "$root"
    echo "made in $((SECONDS - start)) s"
fi
[ -n "$build" ] || exit 0

junit=$(ls /usr/share/java/junit-platform-console-standalone*.jar | head -1)
jars=("$build/java/zel.jar" "$build/java/zel-walk.jar" "$build/java/test/zel-tests.jar"
      "$build/java/test/zel-lib-tests.jar")
for f in "${jars[@]}"; do [ -f "$f" ] || { echo "missing $f: build $build first" >&2; exit 1; }; done
# Test classes named FreshProcess* each need a JVM of their own (as in java/test).
fresh() { jar tf "$1" | sed -n 's|^\(.*/FreshProcess[^$/]*\)\.class$|\1|p' | tr / . | tr '\n' ' '; }
fresh_lib=$(fresh "${jars[3]}")
fresh_all="$fresh_lib $(fresh "${jars[2]}")"

# In a mount namespace of its own: the mounts go when the run ends.
inner=$(cat <<'INNER'
set -euo pipefail
root=$1 src=$2 junit=$3 zel=$4 walk=$5 tests=$6 libtests=$7 jvms=$8 fresh_lib=$9 fresh_all=${10} release=${11} suite=${12}
mount --rbind /dev "$root/dev"
mkdir -p "$root/zel" && mount -t tmpfs tmpfs "$root/zel"
# The jars as shipped, copied in: nothing of the build tree is reachable.
cp "$junit" "$root/zel/junit.jar"; cp "$zel" "$walk" "$tests" "$libtests" "$root/zel/"
# The example design, and the test data beside it that some tests reach from there.
mkdir -p "$root/zel/src" && cp -r "$src/examples" "$src/tests" "$root/zel/src/"
mkdir -p "$root/zel/tmp"
log=$src/build/oldlinux-$release.log
: >"$log"
passed=0 failed=0
# One JUnit run on JVM $java with class path $cp; its summary, and its whole
# output when it fails.  A warning of -Xcheck:jni fails the run, although the
# JVM exits 0 for it.
run() {
    local label=$1 java=$2 cp=$3 out status=0
    shift 3
    out=$(chroot "$root" env -i PATH=/usr/bin:/bin HOME=/zel ZEL_EXAMPLES=/zel/src/examples \
        "$java" -Xcheck:jni -Djava.io.tmpdir=/zel/tmp -jar /zel/junit.jar --disable-banner --details=tree \
        --fail-if-no-tests --class-path "$cp" "$@" 2>&1) || status=1
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
echo "on $(chroot "$root" /usr/bin/ldd --version | sed -n 1p)"
status=0
for jvm in $jvms; do
    n=${jvm%%:*}
    java=/usr/lib/jvm/java-$n-openjdk-amd64/bin/java
    echo "  $(chroot "$root" "$java" -version 2>&1 | sed -n 1p)"
    if [ "$jvm" != "${jvm%:lib}" ]; then
        cp=/zel/zel.jar:/zel/zel-lib-tests.jar scan=/zel/zel-lib-tests.jar fresh=$fresh_lib
    else
        cp=/zel/zel.jar:/zel/zel-walk.jar:/zel/zel-lib-tests.jar:/zel/zel-tests.jar
        scan=/zel/zel-lib-tests.jar:/zel/zel-tests.jar fresh=$fresh_all
    fi
    run "java $n, all but FreshProcess*" "$java" "$cp" --scan-class-path "$scan" --exclude-classname '^.*\.FreshProcess.*$' || status=1
    for c in $fresh; do
        run "java $n, ${c#COM.morvent.zel.}" "$java" "$cp" --select-class "$c" || status=1
    done
    # From 22 on a JVM warns when a library is loaded without native access
    # granted: the zel launcher grants it, so zel prints nothing but its answer.
    if [ "$n" -ge 22 ]; then
        sed "s|@ZEL_WALK_FROM_BIN@|.|" "$src/cmake/zel.in" >"$root/zel/zel" && chmod +x "$root/zel/zel"
        out=$(chroot "$root" env -i PATH=/usr/lib/jvm/java-$n-openjdk-amd64/bin:/usr/bin:/bin HOME=/zel \
              /zel/zel walk --libs /zel/src/examples/kwo.lib design/chip/config 2>&1 >/dev/null) || { echo "$out"; out="zel walk failed"; }
        if [ -z "$out" ]; then
            passed=$((passed + 1)); echo "  java $n, zel prints no warning: passed"
        else
            failed=$((failed + 1)) status=1; echo "  java $n, zel prints no warning: FAILED"; echo "$out"
        fi
    fi
done
echo "$suite: $passed passed, $failed failed"
exit $status
INNER
)
exec unshare --mount --pid --fork --mount-proc="$root/proc" bash -c "$inner" oldlinux "$root" "$PWD" "$junit" \
    "${jars[@]}" "$jvms" "$fresh_lib" "$fresh_all" "$release" "$suite" </dev/null
