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

zel_build_tools "$repo" walk.sh 1
dir="$repo/build/plain"

# No cd: --libs FILE is taken relative to the caller's directory.
# One thread walks, and most of its time goes to the natives: the serial collector
# and the quick compiler alone (no C2, whose compiling would cost more than it
# wins back in one walk) cost it least, and keep its resident size small.
exec java -XX:+UseSerialGC -XX:TieredStopAtLevel=1 -Dzel.examples="$repo/examples" -jar "$dir/java/zel-walk.jar" "$@"
