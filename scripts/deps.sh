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
