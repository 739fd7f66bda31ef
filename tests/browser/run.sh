#!/usr/bin/env bash
# The browser suite: builds the jars and the bridge in BUILD_DIR, installs
# puppeteer-core from the pinned package-lock.json (nothing else is fetched:
# the browser is Debian's chromium), and drives the hierarchy editor on a
# scratch copy of the example.  Prints "browser: N passed, M failed".
# With --shots DIR it also writes the screenshots of docs/edit.md to DIR.
# Usage: tests/browser/run.sh BUILD_DIR [--shots DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$1
shift
shots=""
[ "${1:-}" = --shots ] && shots=$(mkdir -p "$2" && cd "$2" && pwd)
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }
cmake --build "$build" --target zel zel_walk zelJava_sh -j"$jobs" >"$build/build.log" 2>&1 ||
    { grep -E -A5 'error' "$build/build.log" | head -60; exit 1; }

node_dir=$("$here/npm.sh" "$build")
scratch="$build/browser-scratch"
rm -rf "$scratch"
cp -r "$repo/examples" "$scratch"
NODE_PATH="$node_dir/node_modules" SHOTS="$shots" \
    node "$here/edit.test.js" "$build/java" "$build" "$scratch"
