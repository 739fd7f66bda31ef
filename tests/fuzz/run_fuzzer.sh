#!/usr/bin/env bash
# Runs one fuzz target for a bounded time from its seeds and fails on any
# finding (crash, leak, sanitizer report, timeout, out of memory).
# Usage: run_fuzzer.sh BINARY SECONDS SCRATCH [-libfuzzer_flag=value...] SEED...
#   SEED is a directory of inputs or a single input file.  The seeds are
#   copied into SCRATCH/corpus, which the run grows; the repository is not
#   written.  A file NAME.dict next to this script is the target's dictionary.
#   SCRATCH/summary.txt gets the run's figures, SCRATCH/log the whole
#   output, SCRATCH/findings the inputs that failed.
set -uo pipefail
binary=$1 seconds=$2 scratch=$3
shift 3
name=$(basename "$binary")

rm -rf "$scratch"
mkdir -p "$scratch/corpus" "$scratch/findings"
seeds=0
flags=()
for seed in "$@"; do
    if [ "${seed#-}" != "$seed" ]; then
        flags+=("$seed")
    elif [ -d "$seed" ]; then
        for f in "$seed"/*; do
            [ -f "$f" ] || continue
            cp "$f" "$scratch/corpus/seed-$(basename "$f")"
            seeds=$((seeds + 1))
        done
    elif [ -f "$seed" ]; then
        # Example files share their name: keep them apart by their path.
        cp "$seed" "$scratch/corpus/seed-$(printf '%s' "$seed" | md5sum | cut -c1-12)"
        seeds=$((seeds + 1))
    fi
done

# A dictionary of the target's input language, when there is one.
dict=()
here=$(cd "$(dirname "$0")" && pwd)
[ -f "$here/$name.dict" ] && dict=(-dict="$here/$name.dict")

# The target's own scratch files (api_fuzz's design) go to a directory that
# is removed whatever happens, in memory where possible: the saves flush.
tmp=$(mktemp -d /dev/shm/zel_fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A quarantine of 32 MB rather than 256: freed memory is reused while its
# pages are still mapped, which more than halves the time of an api_fuzz
# program (page faults), and still holds every block an input frees.
TMPDIR="$tmp" UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0:quarantine_size_mb=32 \
    "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
              -print_final_stats=1 "${dict[@]}" "${flags[@]}" -artifact_prefix="$scratch/findings/" "$scratch/corpus" \
              >"$scratch/log" 2>&1
status=$?

done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$scratch/log" | tail -1)
stat() { grep -E "^stat::$1:" "$scratch/log" | tail -1 | awk '{print $2}'; }
findings=$(find "$scratch/findings" -type f | wc -l)
{
    echo "$name: ${done_line:-no DONE line}"
    echo "$name: seeds $seeds, executions $(stat number_of_executed_units), exec/s $(stat average_exec_per_sec)," \
         "new units $(stat new_units_added), corpus $(find "$scratch/corpus" -type f | wc -l) files," \
         "peak RSS $(stat peak_rss_mb) MB, run ${seconds}s, findings $findings"
} | tee "$scratch/summary.txt"

if [ $status -ne 0 ] || [ "$findings" -ne 0 ]; then
    echo "$name: FINDING (exit $status); inputs in $scratch/findings:"
    ls -l "$scratch/findings"
    # The report: the sanitizer's or the target's own, and libFuzzer's verdict.
    grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|INITED|RELOAD)' "$scratch/log" | tail -80
    exit 1
fi
