#!/usr/bin/env bash
# Every example of docs/zel.md and docs/edit.md, run as written in a copy of
# the example (examples/, as the install carries it): a command line
# indented four spaces that starts with "zel " or "$ zel ".  None may fail on
# its command line or on what it reads (exit 2, 3, 4); after "$ ", every line
# the docs show below it up to the next blank line or "$ " is a line of its
# output ("..." lines and "# ..." remarks aside).  zel edit must print its
# address; it is then stopped.
# Usage: docs_check.sh SOURCE_DIR SCRATCH ZEL...   (ZEL: the command to run)
set -euo pipefail
source=$1 scratch=$2
shift 2
zel_command=("$@")
rm -rf "$scratch/examples"
cp -r "$source/examples" "$scratch/examples"
cd "$scratch/examples"
zel() { "${zel_command[@]}" "$@"; }
export -f zel 2>/dev/null || true
failed=0 ran=0
run_one() {  # DOC COMMAND EXPECTED
    local doc=$1 command=$2 expected=$3 out status
    ran=$((ran + 1))
    if [[ $command == "zel edit"* ]]; then
        out=$(timeout 20 bash -c "zel() { $(printf '%q ' "${zel_command[@]}") \"\$@\"; }; $command" 2>&1 | head -2 || true)
        grep -q "zel edit: open http://127.0.0.1:" <<<"$out" || { echo "FAILED ($doc): $command"; echo "$out"; failed=$((failed + 1)); }
        return
    fi
    status=0
    out=$(bash -c "zel() { $(printf '%q ' "${zel_command[@]}") \"\$@\"; }; set -o pipefail; $command" 2>&1) || status=$?
    if [ $status -ge 2 ]; then
        echo "FAILED ($doc): $command exited $status"; echo "$out"; failed=$((failed + 1)); return
    fi
    local line
    while IFS= read -r line; do
        [ -z "$line" ] || [[ $line == *"..."* || $line == *"…"* ]] && continue
        grep -qxF -- "$line" <<<"$out" || { echo "FAILED ($doc): $command"; echo "  no line: $line"; echo "$out" | sed 's/^/  | /'; failed=$((failed + 1)); return; }
    done <<<"$expected"
}
for doc in docs/zel.md docs/edit.md; do
    command="" expected="" dollar=0
    while IFS= read -r raw || [ -n "$raw" ]; do
        # A command, not the synopsis (CONFIG, KEY, [FORM]...) nor a line of output ("zel set: ...").
        if [[ ($raw == "    \$ zel "* || $raw == "    zel "*) && ! $raw =~ ^\ {4}(\$\ )?zel\ [a-z-]+: && ! $raw =~ CONFIG|KEY|COMMAND|\[|\ A\ B\  ]]; then
            [ -n "$command" ] && run_one "$doc" "$command" "$expected"
            line=${raw#    }
            dollar=0
            [[ $line == "\$ "* ]] && { dollar=1; line=${line#\$ }; }
            command=${line%%  #*}   # a remark after two spaces and '#'
            expected=""
        elif [ -n "$command" ] && [ $dollar = 1 ] && [[ $raw == "    "* ]]; then
            expected+="${raw#    }"$'\n'
        elif [ -n "$command" ]; then
            run_one "$doc" "$command" "$expected"
            command="" expected=""
        fi
    done <"$source/$doc"
    [ -n "$command" ] && run_one "$doc" "$command" "$expected"
done
echo "docs: $ran examples run, $failed failed"
[ $failed -eq 0 ]
