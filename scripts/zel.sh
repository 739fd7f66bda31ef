#!/usr/bin/env bash
# zel from a checkout: builds the bridge and the tools in build/plain (only
# those targets; installs what it needs on Debian 12) and runs zel with the
# example's libraries as the default --libs.  Build messages go to standard
# error and to build/plain.*.log, so standard output is zel's alone.
# Usage: scripts/zel.sh COMMAND [ARGUMENTS]      (scripts/zel.sh help)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/deps.sh"

zel_need_build_packages >&2

dir="$repo/build/plain"
mkdir -p "$repo/build"
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log" >&2; echo "zel.sh: configuring failed (log: $dir.configure.log)" >&2; exit 127; }
cmake --build "$dir" --target zelJava_sh zel_walk -j"$jobs" >"$dir.walk-build.log" 2>&1 ||
    { grep -E -A5 'error' "$dir.walk-build.log" | head -60 >&2
      echo "zel.sh: building failed (log: $dir.walk-build.log)" >&2; exit 127; }

# No cd: --libs FILE is taken relative to the caller's directory.
exec java -XX:+UseSerialGC -XX:TieredStopAtLevel=1 -Dzel.examples="$repo/examples" \
    -cp "$dir/java/zel-walk.jar" COM.morvent.zel.walk.Zel "$@"
