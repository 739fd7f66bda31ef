#!/usr/bin/env bash
# Installs puppeteer-core from the pinned package-lock.json into BUILD_DIR/node
# (npm ci, from its cache under ~/.cache/zel when it can; no browser is
# downloaded) unless it is there already; prints that directory.
# Usage: tests/browser/npm.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
node_dir="$1/node"
mkdir -p "$node_dir"
if ! cmp -s "$here/package-lock.json" "$node_dir/package-lock.json" || [ ! -d "$node_dir/node_modules/puppeteer-core" ]; then
    cp "$here/package.json" "$here/package-lock.json" "$node_dir/"
    (cd "$node_dir" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --cache "${HOME:-$1}/.cache/zel/npm" >npm.log 2>&1) ||
        { cat "$node_dir/npm.log" >&2; exit 1; }
fi
echo "$(cd "$node_dir" && pwd)"
