#!/usr/bin/env bash
# The walk benchmark: generates the design into BUILD_DIR/walk-design when it
# is not there, walks it in C++ straight through the library and in Java
# through the bridge, and prints both figures, their ratio and the resident-
# size checks.  Then the tools as a user runs them, in a 128 MB heap, each
# rate from the process's start to its end: `zel walk summary` (the walk
# without printing it) against the C++ walk, and the walk tool (zel-walk.jar)
# printing the tree to /dev/null against the Java walk; their peak resident
# sizes.
# BUILD_DIR is a configured build tree of this repository (a RelWithDebInfo or
# Release one for figures that mean anything).
# Usage: bench/walk/run.sh BUILD_DIR [RUNS]     (RUNS timed walks each, default 3)
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: bench/walk/run.sh BUILD_DIR [RUNS]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
runs=${2:-3}
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" --target zel_walk_gen zel_walk_cpp zel_walk_bench zel_walk zelJava_sh -j"$jobs" \
    >"$build/walk-bench.build.log" 2>&1 ||
    { tail -40 "$build/walk-bench.build.log" >&2; echo "run.sh: building failed (log: $build/walk-bench.build.log)" >&2; exit 1; }

design="$build/walk-design"
if [ ! -f "$design/.complete" ]; then
    rm -rf "$design"
    "$build/bench/walk/zel_walk_gen" "$design"
fi

# A fixed heap, touched at start: the resident size then shows what the walk
# itself keeps (native memory, classes, compiled code), not how far the
# collector let the heap grow before its first collections.
java_flags=(-Xms64m -Xmx64m -XX:+AlwaysPreTouch -XX:+UseSerialGC)

cpp=$("$build/bench/walk/zel_walk_cpp" --libs "$design/kwo.lib" --runs "$runs")
echo "$cpp"
java=$(java "${java_flags[@]}" -Djava.library.path="$build" -jar "$build/java/zel-walk-bench.jar" \
    --libs "$design/kwo.lib" --runs "$runs")
echo "$java"

# The tools as a user runs them: the whole process, JVM start and design
# files included, in a 128 MB heap with the JVM options bin/zel gives them.
# Each rate is taken beside a walk's in alternate runs (one tool run, then one
# walk timed after its warm-up walk), so that both see the same load on a
# shared machine; a ratio is the median of the rounds' ratios.  `zel walk
# summary` is the walk without printing it, beside the C++ walk; the tree to
# /dev/null is beside the Java walk, and again with --progress, for what
# showing the progress costs.
instances=$(sed -n 's/^checksum: instances=\([0-9]*\) .*$/\1/p' <<<"$java")
tool_flags=(-Xmx128m -XX:+UseSerialGC -Djava.library.path="$build")
timed() {  # COMMAND...: prints "SECONDS PEAK_KIB"
    /usr/bin/time -f '%e %M' -o "$build/walk-tool.time" "$@" >"$build/walk-tool.out" 2>"$build/walk-tool.err" ||
        { cat "$build/walk-tool.err" >&2; echo "run.sh: $* failed" >&2; exit 1; }
    tail -1 "$build/walk-tool.time"
}
tool() {  # OPTION...: the tree to /dev/null
    timed java "${tool_flags[@]}" -jar "$build/java/zel-walk.jar" --libs "$design/kwo.lib" --config wdesign/top/config "$@"
}
summary() {
    timed java "${tool_flags[@]}" -cp "$build/java/zel-walk.jar" COM.morvent.zel.walk.Zel walk summary \
        wdesign/top/config --libs "$design/kwo.lib"
}
java_rate_once() {
    java "${java_flags[@]}" -Djava.library.path="$build" -jar "$build/java/zel-walk-bench.jar" \
        --libs "$design/kwo.lib" --runs 1 | sed -n 's/^Java walk: [0-9]* instances, \([0-9]*\) instances\/s.*$/\1/p'
}
cpp_rate_once() {
    "$build/bench/walk/zel_walk_cpp" --libs "$design/kwo.lib" --runs 1 |
        sed -n 's/^C++ walk: [0-9]* instances, \([0-9]*\) instances\/s.*$/\1/p'
}
rounds=""
for ((k = 1; k <= runs; ++k)); do
    t=$(summary) || exit 1
    read -r sseconds speak <<<"$t"
    sum_instances=$(sed -n 's/^\([0-9,]*\) instances, .*$/\1/p' "$build/walk-tool.out" | tr -d ,)
    if [ "$sum_instances" != "$instances" ]; then
        echo "run.sh: zel walk summary counted ${sum_instances:-nothing}, the Java walk $instances instances" >&2
        exit 1
    fi
    cr=$(cpp_rate_once)
    line=$(awk -v i="$instances" -v s="$sseconds" -v p="$speak" -v c="$cr" -v k="$k" \
        'BEGIN { printf "zel walk summary, round %d: %.0f instances/s (%.2f s), peak RSS %d KiB; C++ walk beside it: %d instances/s; summary ratio %.2f", k, i / s, s, p, c, i / s / c }')
    echo "$line"
    rounds+="$line"$'\n'
    t=$(tool) || exit 1
    read -r seconds peak <<<"$t"
    t=$(tool --progress) || exit 1
    read -r pseconds ppeak <<<"$t"
    jr=$(java_rate_once)
    line=$(awk -v i="$instances" -v s="$seconds" -v p="$peak" -v j="$jr" -v k="$k" -v ps="$pseconds" \
        'BEGIN { printf "Tool tree, round %d: %.0f instances/s (%.1f s), peak RSS %d KiB; with --progress %.0f instances/s (%+.1f%%); Java walk beside them: %d instances/s; ratio %.2f", k, i / s, s, p, i / ps, 100 * (s / ps - 1), j, i / s / j }')
    echo "$line"
    rounds+="$line"$'\n'
done
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
summary_rate=$(sed -n 's/^zel walk summary, round [0-9]*: \([0-9]*\) instances.*$/\1/p' <<<"$rounds" | median)
summary_ratio=$(sed -n 's/^.*; summary ratio \([0-9.]*\)$/\1/p' <<<"$rounds" | median)
summary_peak=$(sed -n 's/^zel walk summary.*peak RSS \([0-9]*\) KiB.*$/\1/p' <<<"$rounds" | sort -n | tail -1)
tool_rate=$(sed -n 's/^Tool tree, round [0-9]*: \([0-9]*\) instances.*$/\1/p' <<<"$rounds" | median)
tool_ratio=$(sed -n 's/^.*; ratio \([0-9.]*\)$/\1/p' <<<"$rounds" | median)
tool_peak=$(sed -n 's/^Tool tree.*peak RSS \([0-9]*\) KiB.*$/\1/p' <<<"$rounds" | sort -n | tail -1)
progress_cost=$(sed -n 's/^.*with --progress [0-9]* instances\/s (\([-+0-9.]*\)%).*$/\1/p' <<<"$rounds" | median)
t=$(tool --full) || exit 1
read -r seconds peak <<<"$t"
awk -v i="$instances" -v s="$seconds" -v p="$peak" \
    'BEGIN { printf "Tool tree --full, 1 run: %.0f instances/s (%.1f s), peak RSS %d KiB\n", i / s, s, p }'

rate() { sed -n 's/^.* walk: [0-9]* instances, \([0-9]*\) instances\/s.*$/\1/p' <<<"$1"; }
flat() { sed -n 's/^.* RSS: .*(\([0-9.]*\)).*$/\1/p' <<<"$1"; }
sum() { grep '^checksum:' <<<"$1"; }
cpp_rate=$(rate "$cpp")
java_rate=$(rate "$java")
echo
echo "Summary (medians of $runs timed walks after a warm-up walk each)"
printf '  Java walk: %s instances/s (goal: 500000 or more)\n' "$java_rate"
printf '  C++ walk:  %s instances/s\n' "$cpp_rate"
awk -v c="$cpp_rate" -v j="$java_rate" 'BEGIN { printf "  ratio Java/C++: %.2f (goal: 0.50 or more)\n", j / c }'
printf '  zel walk summary: %s instances/s, the whole process; against the C++ walk beside it: %s (median of %d rounds; goal: 0.50 or more)\n' \
    "$summary_rate" "$summary_ratio" "$runs"
printf '  zel walk summary peak RSS: %s KiB (-Xmx128m)\n' "$summary_peak"
printf '  Tool tree:  %s instances/s; against the Java walk beside it: %s (median of %d rounds; goal: 0.80 or more)\n' \
    "$tool_rate" "$tool_ratio" "$runs"
printf '  Tool peak RSS: %s KiB (-Xmx128m)\n' "$tool_peak"
printf '  Tool tree with --progress (to a file): %s%% against the run before it (median of %d rounds; goal: within 1%%)\n' \
    "$progress_cost" "$runs"
for side in C++ Java; do
    if [ "$side" = C++ ]; then f=$(flat "$cpp"); else f=$(flat "$java"); fi
    awk -v s="$side" -v f="$f" 'BEGIN { printf "  %s RSS end/after 10,000: %s (%s)\n", s, f, (f <= 1.10 && f >= 0.90) ? "flat, within 10%" : "NOT flat" }'
done
if [ "$(sum "$cpp")" = "$(sum "$java")" ]; then
    echo "  same walk: the checksums agree"
else
    echo "  the checksums differ: the two walks did not see the same answers" >&2
    exit 1
fi
