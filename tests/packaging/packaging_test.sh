#!/usr/bin/env bash
# zel.jar as a user gets it.  Each case compiles examples/java/FirstSteps.java
# (it opens, edits, saves and reopens a configuration and binds an instance)
# against the jar of that case and runs it:
#   alone     the jar copied alone into an empty folder; the build and source
#             trees hidden (private mount namespace), no LD_LIBRARY_PATH and no
#             java.library.path: it loads the copy it carries (and README.md
#             shows this program)
#   install   cmake --install into a scratch prefix: the program against the
#             installed jar and library, and the zel-walk and zel launchers
#   deb       the .deb from cpack, unpacked into a scratch root: its library
#             lies in a folder of the JVM's default java.library.path; its zel
#             lints planted rules and makes a scripted edit
#   mismatch  a native library of another version is refused, with both versions
#   platform  an unknown platform is refused, with every place tried
#   loaders   the jar in two class loaders of one JVM: each loads a file of its own
#   noexec    a temporary folder mounted noexec: the copy goes to the user's
#             cache folder; with both noexec, the error names each place once
#   users     two users share one -Dzel.library.extract folder (needs root)
# Usage: packaging_test.sh CASE BUILD_DIR SOURCE_DIR JAR VERSION OTHER_VERSION_LIB
set -euo pipefail
case=$1 build=$2 source=$3 jar=$4 version=$5 other=$6
unset LD_LIBRARY_PATH
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zel-$case.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
java=(java -Xcheck:jni)

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# FirstSteps compiled against jar $1, into $scratch/prog.
compile() {
    javac --release 17 -d "$scratch/prog" -cp "$1" "$source/examples/java/FirstSteps.java"
}

# Runs "$@" (FirstSteps), checks what it prints, and that the native library
# came from a file matching the pattern $expect.
expect=""
check_first_steps() {
    local out
    out=$("$@" 2>&1) || { echo "$out"; fail "FirstSteps exited with an error"; }
    echo "$out"
    grep -qx "revision 1, default views: schematic symbol" <<<"$out" || fail "the saved configuration did not reopen"
    grep -qx "I1 (mylib/inv) binds to view symbol by its cell rule" <<<"$out" || fail "the bind did not answer"
    local lib
    lib=$(sed -n "s/^zelJava_sh $version, native library //p" <<<"$out")
    # shellcheck disable=SC2053
    [[ $lib == $expect ]] || fail "the native library came from '$lib', not from $expect"
}

# A native library that needs nothing but the C and C++ runtimes (the dynamic
# loader included: thread-local storage is found through it).
check_self_contained() {
    local lib=$1
    if readelf -d "$lib" | grep -E 'RUNPATH|RPATH'; then fail "$lib has a run path"; fi
    local needed
    needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    for n in $needed; do
        [[ $n =~ ^(lib(c|m|stdc\+\+|gcc_s|pthread|dl)|ld-linux(-x86-64)?)\.so\.[0-9]+$ ]] || fail "$lib needs $n"
    done
    if ldd "$lib" | grep -F -e "not found" -e "$build" -e "$source"; then fail "ldd $lib"; fi
}

case "$case" in
alone)
    # The README shows the program this case runs.
    sed -n '/^```java$/,/^```$/p' "$source/README.md" | sed '1d;$d' | diff - "$source/examples/java/FirstSteps.java" ||
        fail "README.md shows another program than examples/java/FirstSteps.java"
    mkdir "$scratch/alone" "$scratch/tmp"
    cp "$jar" "$scratch/alone/zel.jar"
    compile "$scratch/alone/zel.jar"
    cp -r "$scratch/prog/." "$scratch/alone/"
    (cd "$scratch/tmp" && jar xf "$scratch/alone/zel.jar" COM/morvent/zel/native/linux-x86_64/libzelJava_sh.so)
    check_self_contained "$scratch/tmp/COM/morvent/zel/native/linux-x86_64/libzelJava_sh.so"
    rm -r "$scratch/tmp/COM"
    cd "$scratch/alone"
    run=("${java[@]}" -Djava.io.tmpdir="$scratch/tmp" -cp zel.jar:. FirstSteps work)
    expect="$scratch/tmp/zelJava_sh-$version-*-libzelJava_sh.so"
    if unshare -rm true 2>/dev/null; then
        # The build tree first: it may lie inside the source tree.
        check_first_steps unshare -rm bash -c '
            mount -t tmpfs none "$1" && mount -t tmpfs none "$2" || exit 1
            [ ! -e "$1/CMakeCache.txt" ] || { echo "the build tree is still in reach"; exit 1; }
            shift 2; exec "$@"' _ "$build" "$source" "${run[@]}"
    else
        echo "note: no private mount namespace here (unshare -rm is refused): the build tree stays in reach"
        check_first_steps "${run[@]}"
    fi
    [ -z "$(ls -A "$scratch/tmp")" ] || fail "the temporary copy of the library was left behind: $(ls "$scratch/tmp")"
    ;;
install)
    cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
    lib=$(find "$scratch/prefix" -name libzelJava_sh.so)
    [ -n "$lib" ] || fail "no libzelJava_sh.so installed"
    check_self_contained "$lib"
    compile "$scratch/prefix/share/java/zel.jar"
    expect=$lib
    check_first_steps "${java[@]}" -Djava.library.path="$(dirname "$lib")" \
        -cp "$scratch/prefix/share/java/zel.jar:$scratch/prog" FirstSteps "$scratch/work"
    out=$("$scratch/prefix/bin/zel-walk" --libs "$source/examples/kwo.lib" --depth 1) ||
        { echo "$out"; fail "zel-walk failed"; }
    grep -qx "Configuration design/chip/config, revision 1" <<<"$out" || { echo "$out"; fail "zel-walk printed no walk"; }
    out=$("$scratch/prefix/bin/zel" walk summary design/chip/config --libs "$source/examples/kwo.lib") ||
        { echo "$out"; fail "zel walk failed"; }
    grep -qx "Configuration design/chip/config, revision 1" <<<"$out" || { echo "$out"; fail "zel walk printed no walk"; }
    ;;
deb)
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
        { cat "$scratch/cpack.log"; fail "cpack"; }
    deb=$(ls "$scratch"/pkg/*.deb)
    dpkg-deb -x "$deb" "$scratch/root"
    # Where this JVM looks by default, moved under the scratch root.
    echo 'class P { public static void main(String[] a) { System.out.print(System.getProperty("java.library.path")); } }' \
        >"$scratch/P.java"
    default=$(java "$scratch/P.java")
    rooted=$(tr ':' '\n' <<<"$default" | sed "s|^|$scratch/root|" | paste -sd:)
    lib=$(find "$scratch/root" -name 'libzelJava_sh.so*')
    [ "$(wc -l <<<"$lib")" -eq 1 ] || fail "not one native library in the .deb: $lib"
    check_self_contained "$lib"
    compile "$scratch/root/usr/share/java/zel.jar"
    expect=$lib
    check_first_steps "${java[@]}" -Djava.library.path="$rooted" \
        -cp "$scratch/root/usr/share/java/zel.jar:$scratch/prog" FirstSteps "$scratch/work"
    [ -x "$scratch/root/usr/bin/zel-walk" ] || fail "no zel-walk in the .deb"
    # zel from the package: its completion, its versions, then the lint of the
    # planted rules and a scripted edit (tests/zel/zel_check.sh).
    [ -f "$scratch/root/usr/share/bash-completion/completions/zel" ] || fail "no bash completion of zel in the .deb"
    out=$("$scratch/root/usr/bin/zel" --version) || { echo "$out"; fail "zel --version"; }
    grep -qx "zel $version" <<<"$out" && grep -q "^native library $version " <<<"$out" ||
        { echo "$out"; fail "zel --version does not name both versions"; }
    "$source/tests/zel/zel_check.sh" "$source" "$scratch" "$scratch/root/usr/bin/zel" || fail "zel from the .deb"
    # Every example of the docs, on the example design the package carries.
    "$source/tests/zel/docs_check.sh" "$scratch/root/usr/share/doc/zeljava-sh" "$scratch" "$scratch/root/usr/bin/zel" ||
        fail "the docs' examples on the .deb's example"
    ;;
mismatch|platform)
    compile "$jar"
    mkdir "$scratch/empty"
    if [ "$case" = mismatch ]; then
        run=("${java[@]}" -Dzel.library.path="$other")
        expected=("zelJava_sh: the native library $other (from -Dzel.library.path) is version 0.0.0-other, but the Java classes are version $version")
    else
        run=("${java[@]}" -Dos.arch=sparcv9 -Djava.library.path="$scratch/empty")
        expected=('zelJava_sh: no native library for this platform (os.name "Linux", os.arch "sparcv9"). Tried:'
                  "  $scratch/empty/libzelJava_sh.so: not there"
                  "  $jar: holds no library for this platform (it holds: "
                  "Give the library of zelJava_sh $version (libzelJava_sh.so) with -Dzel.library.path=FILE_OR_FOLDER.")
    fi
    if out=$("${run[@]}" -cp "$jar:$scratch/prog" FirstSteps "$scratch/work" 2>&1); then
        echo "$out"
        fail "FirstSteps ran"
    fi
    echo "$out"
    for line in "${expected[@]}"; do
        grep -qF -- "$line" <<<"$out" || fail "missing: $line"
    done
    [ ! -e "$scratch/work/mylib/top" ] || fail "FirstSteps wrote a configuration"
    ;;
loaders|noexec|users)
    javac --release 17 -d "$scratch/prog" "$source/tests/packaging/LoaderProbe.java"
    cp "$jar" "$scratch/zel.jar"
    mkdir -m 1777 "$scratch/tmp" "$scratch/x"
    platform=linux-$(uname -m)
    # probe N [java options...]: N class loaders; their lines, or the error.
    probe() {
        local n=$1
        shift
        "${java[@]}" -Djava.io.tmpdir="$scratch/tmp" "$@" -cp "$scratch/prog" LoaderProbe "$scratch/zel.jar" "$n" 2>&1
    }
    # Exactly the lines given, in order, each of one loader.
    expect_loaded() {
        local out=$1
        shift
        echo "$out"
        local i=1
        for lib in "$@"; do
            # shellcheck disable=SC2053
            [[ $(sed -n "${i}p" <<<"$out") == "loader $i: $version "$lib ]] || fail "loader $i did not load $lib"
            i=$((i + 1))
        done
        [ "$(wc -l <<<"$out")" -eq $# ] || fail "more output than expected"
    }
    user=$(id -un)
    shared="$scratch/x/zelJava_sh-$version-$platform"
    if [ "$case" = loaders ]; then
        expect_loaded "$(probe 2)" "$scratch/tmp/zelJava_sh-$version-*" "$scratch/tmp/zelJava_sh-$version-*"
        expect_loaded "$(probe 2 -Dzel.library.extract="$scratch/x")" "$shared-$user/libzelJava_sh.so" \
            "$shared-$user/zelJava_sh-*-libzelJava_sh.so"
        expect_loaded "$(probe 2 -Djava.library.path="$build")" "$build/libzelJava_sh.so" "$scratch/tmp/zelJava_sh-$version-*"
    elif [ "$case" = noexec ]; then
        unshare -rm true 2>/dev/null || { echo "no private mount namespace here (unshare -rm is refused)"; exit 77; }
        cache="$scratch/cache/zel/zelJava_sh-$version-$platform"
        expect_loaded "$(XDG_CACHE_HOME="$scratch/cache" unshare -rm bash -c 'mount -t tmpfs -o noexec none "$1" && shift && "$@"' \
            _ "$scratch/tmp" "${java[@]}" -Djava.io.tmpdir="$scratch/tmp" -cp "$scratch/prog" LoaderProbe "$scratch/zel.jar" 1)" \
            "$cache/libzelJava_sh.so"
        for extract in "" "$scratch/x"; do
            out=$(XDG_CACHE_HOME="$scratch/cache" unshare -rm bash -c 'for d in "$1" "$2" "$3"; do mount -t tmpfs -o noexec none "$d" || exit 1; done
                  shift 3 && "$@"' _ "$scratch/tmp" "$scratch/cache" "$scratch/x" "${java[@]}" -Djava.io.tmpdir="$scratch/tmp" \
                  ${extract:+-Dzel.library.extract="$extract"} -cp "$scratch/prog" LoaderProbe "$scratch/zel.jar" 1 2>&1) &&
                fail "loaded from a noexec folder: $out"
            echo "$out"
            if [ -z "$extract" ]; then
                places=("copied to $scratch/tmp/zelJava_sh-$version-" "copied to $cache/libzelJava_sh.so: ")
                grep -qF -- "-Dzel.library.extract=FOLDER" <<<"$out" || fail "no word of -Dzel.library.extract"
            else
                places=("copied to $shared-")
                ! grep -qF -- "-Dzel.library.extract=FOLDER" <<<"$out" || fail "suggests -Dzel.library.extract, which is set"
            fi
            for place in "${places[@]}"; do
                [ "$(grep -cF -- "$place" <<<"$out")" -eq 1 ] || fail "not named once: $place"
            done
            [ "$(grep -c 'copied to' <<<"$out")" -eq ${#places[@]} ] || fail "other copies named than ${places[*]}"
            grep -q 'failed to map segment' <<<"$out" || fail "the reason of the system is not given"
        done
    else
        [ "$(id -u)" -eq 0 ] || { echo "two users need root (setpriv)"; exit 77; }
        chmod 755 "$scratch" "$scratch/prog"
        for as in daemon nobody daemon; do
            expect_loaded "$(setpriv --reuid="$as" --regid="$(id -g "$as")" --clear-groups env HOME=/nonexistent \
                "${java[@]}" -Djava.io.tmpdir="$scratch/tmp" -Dzel.library.extract="$scratch/x" -cp "$scratch/prog" \
                LoaderProbe "$scratch/zel.jar" 1)" "$shared-$as/libzelJava_sh.so"
            [ "$(stat -c '%U %a' "$shared-$as")" = "$as 700" ] || fail "$shared-$as is not $as's alone"
        done
    fi
    ;;
*)
    fail "unknown case '$case'"
    ;;
esac
echo "passed: $case"
