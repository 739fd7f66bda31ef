#!/usr/bin/env bash
# zel as its user runs it, on a copy of the example design: zel lint finds
# each planted rule of tests/zel/planted (each file: '# expect:' lines, then
# rules added to the example's configuration), all of them at once too, and
# nothing but its note on the clean example; zel set changes a binding that
# zel walk then shows, zel get reads it back, zel unset removes it.
# Usage: zel_check.sh SOURCE_DIR SCRATCH ZEL...   (ZEL: the command to run)
set -euo pipefail
source=$1 scratch=$2
shift 2
zel=("$@")
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
cp -r "$source/examples" "$scratch/design"
libs=$scratch/design/kwo.lib
base=$scratch/design/libs/design/chip/config/config.zel
plant() {  # NAME FILE...: the example's configuration plus the rules of FILE..., as design/chip/NAME
    mkdir -p "$scratch/design/libs/design/chip/$1"
    local name=$1
    shift
    cat "$base" "$@" >"$scratch/design/libs/design/chip/$name/config.zel"
}
# expects FILE OUTPUT: every '# expect:' line of FILE is a line of OUTPUT's start
expects() {
    local line
    while IFS= read -r line; do
        grep -qF -- "${line#\# expect: }" <<<"$2" || { echo "$2"; fail "$(basename "$1"): no '${line#\# expect: }'"; }
    done < <(grep '^# expect: ' "$1")
}

out=$("${zel[@]}" lint design/chip/config --libs "$libs") || { echo "$out"; fail "lint of the clean example"; }
grep -q "^design/chip/config: 0 findings, 1 note$" <<<"$out" || { echo "$out"; fail "the clean example"; }

status=0
for file in "$source"/tests/zel/planted/*.zel; do
    name=$(basename "$file" .zel)
    plant "$name" "$file"
    out=$("${zel[@]}" lint "design/chip/$name" --libs "$libs") && status=0 || status=$?
    kinds=$(grep '^# expect: ' "$file" | sed 's/^# expect: \([a-z-]*\):.*/\1/' | sort -u)
    if [ "$kinds" = unbound ]; then want=0; else want=1; fi
    [ $status -eq $want ] || { echo "$out"; fail "$name: lint exited $status, not $want"; }
    expects "$file" "$out"
done
# All at once, but for the stop that cuts the others' instances off.
together=()
for file in "$source"/tests/zel/planted/*.zel; do [ "$(basename "$file")" = below_a_stop.zel ] || together+=("$file"); done
plant all "${together[@]}"
out=$("${zel[@]}" lint design/chip/all --libs "$libs" --json) && status=0 || status=$?
[ $status -eq 1 ] || { echo "$out"; fail "all: lint --json exited $status"; }
text=$("${zel[@]}" lint design/chip/all --libs "$libs") || true
for file in "${together[@]}"; do expects "$file" "$text"; done
echo "lint: every planted rule found"

# A scripted edit: NEG (an inverter) from its layout, seen in the walk; then back.
"${zel[@]}" set design/chip/config inst design alu '*' NEG view-binding layout --libs "$libs" ||
    fail "zel set"
[ "$("${zel[@]}" get design/chip/config inst design alu '*' NEG view-binding --libs "$libs")" = layout ] ||
    fail "zel get after zel set"
out=$("${zel[@]}" walk design/chip/config --libs "$libs")
grep -q -- "- NEG: stdcells/inv/symbol -> stdcells/inv/layout  view: instance rule" <<<"$out" ||
    { echo "$out"; fail "the walk does not show the binding set"; }
"${zel[@]}" unset design/chip/config inst design alu '*' NEG view-binding --libs "$libs" >/dev/null || fail "zel unset"
if "${zel[@]}" get design/chip/config inst design alu '*' NEG view-binding --libs "$libs" 2>/dev/null; then
    fail "zel get after zel unset"
fi
echo "set, get, walk, unset: as expected"

# The completion: each command is offered only the options it takes, and the
# configurations the definitions lead to.
zel() { "${zel[@]}" "$@"; }
. "$source/cmake/zel.bash"
complete_words() {  # WORD...: COMPREPLY for completing the last word
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _zel
    printf '%s\n' "${COMPREPLY[@]}"
}
for command in $(zel help --commands); do
    [ "$command" = help ] && continue
    helptext=$(zel help "$command")
    for option in $(complete_words zel "$command" - | grep -vx -- --help); do
        grep -qF -- "$option" <<<"$helptext" || fail "completion offers $option to zel $command, whose help has no $option"
    done
done
complete_words zel show --libs "$libs" design/chip/c | grep -qx design/chip/config ||
    fail "completion offers no configuration name: $(complete_words zel show --libs "$libs" design/chip/c)"
echo "completion: each command's options, configuration names"
