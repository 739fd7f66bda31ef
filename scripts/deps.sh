# Installs the Debian packages a command needs, when they are missing.
# Sourced by the scripts in this folder.

zel_need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What every build needs: compilers, CMake, a JDK for the Java classes and the
# JNI headers, GoogleTest.
zel_need_build_packages() {
    zel_need_packages cmake make g++ openjdk-17-jdk-headless libgtest-dev googletest
}

# Builds the bridge and the tools jar in build/plain, as scripts/walk.sh and
# scripts/zel.sh run them; messages to standard error and build/plain.*.log.
# Exits with STATUS when configuring or building fails.
# Usage: zel_build_tools REPO SCRIPT-NAME STATUS
zel_build_tools() {
    local repo=$1 name=$2 status=$3
    zel_need_build_packages >&2
    local dir="$repo/build/plain"
    mkdir -p "$repo/build"
    [ -f "$dir/CMakeCache.txt" ] || echo "Configuring $dir" >&2
    cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log" >&2; echo "$name: configuring failed (log: $dir.configure.log)" >&2; exit "$status"; }
    cmake --build "$dir" --target zelJava_sh zel_walk -j"$(nproc 2>/dev/null || echo 2)" >"$dir.walk-build.log" 2>&1 ||
        { grep -E -A5 'error' "$dir.walk-build.log" | head -60 >&2
          echo "$name: building failed (log: $dir.walk-build.log)" >&2; exit "$status"; }
}
