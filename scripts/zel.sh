#!/usr/bin/env bash
# zel from a checkout: builds the bridge and the tools in build/plain (only
# those targets; installs what it needs on Debian 12) and runs zel with the
# example's libraries as the default --libs.  Build messages go to standard
# error and to build/plain.*.log, so standard output is zel's alone.
# Usage: scripts/zel.sh COMMAND [ARGUMENTS]      (scripts/zel.sh help)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/deps.sh"

zel_build_tools "$repo" zel.sh 127
dir="$repo/build/plain"

# No cd: --libs FILE is taken relative to the caller's directory.
exec java -XX:+UseSerialGC --enable-native-access=ALL-UNNAMED -Dzel.examples="$repo/examples" \
    -cp "$dir/java/zel-walk.jar" COM.morvent.zel.walk.Zel "$@"
