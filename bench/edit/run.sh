#!/usr/bin/env bash
# The editor benchmark: `zel edit` in a 256 MB heap on the walk benchmark's
# design of a million instances, and on a design with a row of 1,000
# instances, driven in Debian's chromium.  Prints the median of RUNS for:
# the page ready (from the navigation to the top level's rows shown), opening
# a row of 1,000 instances (click to the 1,000th row shown), and the server's
# peak resident size; and on the big design a search, "Changes" without and
# with an edit (a rule changed, no binding: both whole walks), and the longest
# wait of a row's instances and of the state, asked every 100 ms while
# "Changes" and while the lint run.  The load (uptime) is printed before and after.
# BUILD_DIR is a configured build tree of this repository (RelWithDebInfo).
# Usage: bench/edit/run.sh BUILD_DIR [RUNS]     (default 5)
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: bench/edit/run.sh BUILD_DIR [RUNS]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
runs=${2:-5}
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" --target zel zel_walk zelJava_sh zel_walk_gen -j"$jobs" >"$build/edit-bench.build.log" 2>&1 ||
    { tail -40 "$build/edit-bench.build.log" >&2; echo "run.sh: building failed" >&2; exit 1; }

big="$build/walk-design"
if [ ! -f "$big/.complete" ]; then
    rm -rf "$big"
    "$build/bench/walk/zel_walk_gen" "$big"
fi

# The wide design: a top cell with one instance, ROW, whose schematic holds
# 1,000 instances of the big design's cells (not walked below: lazily).
wide="$build/edit-wide-design"
if [ ! -f "$wide/.complete" ]; then
    rm -rf "$wide"
    mkdir -p "$wide/wwide/top/schematic" "$wide/wwide/row/schematic" "$wide/wwide/row/symbol" "$wide/wwide/top/config"
    printf 'INCLUDE %s\nDEFINE wwide wwide\n' "$big/kwo.lib" >"$wide/kwo.lib"
    printf 'zel-instances 1\ninst ROW wwide row symbol\n' >"$wide/wwide/top/schematic/instances.zel"
    { echo "zel-instances 1"
      for ((i = 0; i < 1000; ++i)); do echo "inst I$i wdesign L1c$((i % 4)) symbol"; done
    } >"$wide/wwide/row/schematic/instances.zel"
    cat >"$wide/wwide/top/config/config.zel" <<'CONFIG'
zelvek-config 1
location wwide top config
revision 1
top wwide top schematic
default-views "schematic symbol"
default-libs "wwide wdesign wcells"
default-stops spice
CONFIG
    touch "$wide/.complete"
fi

node_dir=$("$repo/tests/browser/npm.sh" "$build")
echo "before: $(uptime)"
NODE_PATH="$node_dir/node_modules" node "$here/bench.js" "$build/java" "$build" "$big" "$wide" "$runs"
echo "after: $(uptime)"
