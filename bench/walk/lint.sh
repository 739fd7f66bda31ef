#!/usr/bin/env bash
# What zel lint costs against a walk: on the walk benchmark's generated design
# (about 1.1 million instances, written to BUILD_DIR/walk-design when it is not
# there), the walk tool's tree to /dev/null and zel lint, each a whole process
# in a 128 MB heap with the JVM options of bin/zel, in alternate runs so that
# both see the same load; the ratio is the median of the rounds' ratios.
# Usage: bench/walk/lint.sh BUILD_DIR [RUNS]     (RUNS rounds, default 3)
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: bench/walk/lint.sh BUILD_DIR [RUNS]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
runs=${2:-3}
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" --target zel_walk_gen zel_walk zelJava_sh -j"$jobs" >"$build/lint-bench.build.log" 2>&1 ||
    { tail -40 "$build/lint-bench.build.log" >&2; echo "lint.sh: building failed (log: $build/lint-bench.build.log)" >&2; exit 1; }
design="$build/walk-design"
if [ ! -f "$design/.complete" ]; then
    rm -rf "$design"
    "$build/bench/walk/zel_walk_gen" "$design"
fi
jvm=(java -Xmx128m -XX:+UseSerialGC -Djava.library.path="$build")
timed() {  # OUT COMMAND...: prints "SECONDS PEAK_KIB CPU_SECONDS"; its output to OUT
    local out=$1 status=0
    shift
    /usr/bin/time -f '%e %M %U %S' -o "$build/lint-bench.time" "$@" >"$out" 2>"$build/lint-bench.err" || status=$?
    # zel lint exits 1 when it finds something: the design's configuration has rules of every kind.
    [ $status -le 1 ] || { cat "$build/lint-bench.err" >&2; echo "lint.sh: '$*' failed" >&2; exit 1; }
    awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$build/lint-bench.time" | tail -1
}
rounds=""
for ((k = 1; k <= runs; ++k)); do
    read -r ws wp wc <<<"$(timed /dev/null "${jvm[@]}" -jar "$build/java/zel-walk.jar" --libs "$design/kwo.lib" --config wdesign/top/config)"
    read -r ls lp lc <<<"$(timed "$build/lint-bench.out" "${jvm[@]}" -cp "$build/java/zel-walk.jar" COM.morvent.zel.walk.Zel \
                        lint wdesign/top/config --libs "$design/kwo.lib")"
    line=$(awk -v k="$k" -v ws="$ws" -v wp="$wp" -v wc="$wc" -v ls="$ls" -v lp="$lp" -v lc="$lc" \
        'BEGIN { printf "Round %d: walk %.1f s (CPU %.1f s), peak RSS %d KiB; lint %.1f s (CPU %.1f s), peak RSS %d KiB; CPU ratio %.2f; ratio %.2f", k, ws, wc, wp, ls, lc, lp, lc / wc, ls / ws }')
    echo "$line"
    rounds+="$line"$'\n'
done
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio=$(sed -n 's/^.*; ratio \([0-9.]*\)$/\1/p' <<<"$rounds" | median)
cpu_ratio=$(sed -n 's/^.*; CPU ratio \([0-9.]*\);.*$/\1/p' <<<"$rounds" | median)
peak=$(sed -n 's/^.*lint [0-9.]* s (CPU [0-9.]* s), peak RSS \([0-9]*\) KiB.*$/\1/p' <<<"$rounds" | sort -n | tail -1)
echo
echo "Summary ($runs rounds, -Xmx128m)"
printf '  lint against the walk: %s elapsed, %s CPU (medians; goal: 1.50 or less)\n' "$ratio" "$cpu_ratio"
printf '  lint peak RSS: %s KiB\n' "$peak"
printf '  what the lint found: %s\n' "$(tail -1 "$build/lint-bench.out")"
