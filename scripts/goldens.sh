#!/usr/bin/env bash
# Writes the example's golden walks anew (examples/expected, listed in
# examples/expected/goldens.txt) with the walk tool as built now, and the
# picture of the example's --dot walk in docs/.  Read what changed before
# committing it: git diff examples/expected
# Installs what it needs on Debian 12 and builds the tool as scripts/walk.sh does.
# Usage: scripts/goldens.sh
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/deps.sh"
zel_need_packages graphviz

"$repo/scripts/walk.sh" --help >/dev/null  # builds the bridge and the tool in build/plain
dir="$repo/build/plain"
expected="$repo/examples/expected"
while read -r file config options; do
    case "$file" in '' | '#'*) continue ;; esac
    status=0
    # shellcheck disable=SC2086  # the options are words
    java -Djava.library.path="$dir" -jar "$dir/java/zel-walk.jar" --libs "$repo/examples/kwo.lib" \
        --config "$config" $options >"$expected/$file" || status=$?
    want=0
    [[ " $options " == *" --diff "* ]] && want=1
    if [ "$status" -ne "$want" ]; then
        echo "goldens.sh: the walk for $file ended with status $status, not $want" >&2
        exit 1
    fi
done <"$expected/goldens.txt"
dot -Tpng "$expected/config.dot" -o "$repo/docs/walk-example.png"
git -C "$repo" status --short -- examples/expected docs/walk-example.png
