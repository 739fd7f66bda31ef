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
# costs it least.  Both compilers, as bin/zel runs it (cmake/zel.in says why).
exec java -XX:+UseSerialGC -Dzel.examples="$repo/examples" -jar "$dir/java/zel-walk.jar" "$@"
