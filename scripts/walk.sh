#!/usr/bin/env bash
# The walk tool: opens a configuration and prints the design hierarchy it
# describes.  With no arguments it walks the example design in examples/.
# Installs what it needs on Debian 12 and builds the bridge and the tool in
# build/plain (only those targets).  Build messages go to standard error and
# to build/plain.*.log, so standard output is the walk alone.
# Usage: scripts/walk.sh [FORM] [--depth N] [--progress] [--config LIB/CELL/VIEW] [--libs FILE]
#        scripts/walk.sh --help
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/deps.sh"

zel_need_build_packages >&2

dir="$repo/build/plain"
mkdir -p "$repo/build"
jobs=$(nproc 2>/dev/null || echo 2)
if [ ! -f "$dir/CMakeCache.txt" ]; then
    echo "Configuring $dir" >&2
fi
cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log" >&2; echo "walk.sh: configuring failed (log: $dir.configure.log)" >&2; exit 1; }
cmake --build "$dir" --target zelJava_sh zel_walk -j"$jobs" >"$dir.walk-build.log" 2>&1 ||
    { grep -E -A5 'error' "$dir.walk-build.log" | head -60 >&2
      echo "walk.sh: building failed (log: $dir.walk-build.log)" >&2; exit 1; }

# No cd: --libs FILE is taken relative to the caller's directory.
# One thread walks, and most of its time goes to the natives: the serial collector
# and the quick compiler alone (no C2, whose compiling would cost more than it
# wins back in one walk) cost it least, and keep its resident size small.
exec java -XX:+UseSerialGC -XX:TieredStopAtLevel=1 -Dzel.examples="$repo/examples" -jar "$dir/java/zel-walk.jar" "$@"
