#!/usr/bin/env bash
# The benchmarks: builds an optimised tree in build/bench (RelWithDebInfo,
# only the targets the benchmarks need) and runs each benchmark in turn,
# printing its tables.  Installs what it needs on Debian 12.  The figures are
# medians; on a shared machine they still move by some per cent between runs.
# Usage: scripts/bench.sh
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/deps.sh"

zel_need_build_packages
zel_need_packages time  # /usr/bin/time: the walk tool's peak resident size

dir="$repo/build/bench"
mkdir -p "$repo/build"
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log" >&2; echo "bench.sh: configuring failed (log: $dir.configure.log)" >&2; exit 1; }

# Each benchmark: its build targets, then the command that runs it.
natives_targets=(zelJava_sh zelbenchfloor zel_natives_bench)
natives() {
    java -Djava.library.path="$dir:$dir/bench/natives" \
        -cp "$dir/java/zel.jar:$dir/bench/natives/zel-natives-bench.jar" \
        COM.morvent.zel.bench.NativesBench --examples "$repo/examples"
}

build() {
    cmake --build "$dir" --target "$@" -j"$jobs" >"$dir.build.log" 2>&1 ||
        { grep -E -A5 'error' "$dir.build.log" | head -60 >&2
          echo "bench.sh: building failed (log: $dir.build.log)" >&2; exit 1; }
}

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores;" \
     "$(java -version 2>&1 | head -1)"
# One line per benchmark: a title, its targets, its command.
run() {
    local title=$1 cmd=$2
    shift 2
    echo
    echo "=== $title"
    build "$@"
    "$cmd"
}
run "natives: ns per call against the JNI floor" natives "${natives_targets[@]}"

# The two-thread table again, the classes in a class-data archive: JNI's
# GetFieldID takes a reference on the symbol of the field's name, which two
# threads take turns at unless the symbol is archived (docs/performance.md).
archived() {
    local jsa="$dir/natives.jsa" cp="$dir/java/zel.jar:$dir/bench/natives/zel-natives-bench.jar"
    java -XX:ArchiveClassesAtExit="$jsa" -Djava.library.path="$dir:$dir/bench/natives" -cp "$cp" \
        COM.morvent.zel.bench.NativesBench --examples "$repo/examples" --contention-only --runs 1 \
        >"$dir/natives.jsa.log" 2>&1 || { cat "$dir/natives.jsa.log" >&2; return 1; }
    java -XX:SharedArchiveFile="$jsa" -Djava.library.path="$dir:$dir/bench/natives" -cp "$cp" \
        COM.morvent.zel.bench.NativesBench --examples "$repo/examples" --contention-only
}
run "natives: the two-thread table with the classes archived (-XX:SharedArchiveFile)" archived "${natives_targets[@]}"

door() { "$dir/tests/zel_door_bench"; }
run "door: the handle look-up and the configuration lock alone, without a JVM" door zel_door_bench

walk_targets=(zel_walk_gen zel_walk_cpp zel_walk_bench zel_walk zelJava_sh)
walk() { "$repo/bench/walk/run.sh" "$dir" 3; }
run "walk: a million instances, Java through the bridge, C++ through the library, and the walk tool" walk "${walk_targets[@]}"
lint() { "$repo/bench/walk/lint.sh" "$dir" 3; }
run "lint: zel lint against the walk tool, on the same design" lint zel_walk_gen zel_walk zelJava_sh
edit() {
    zel_need_packages chromium
    command -v npm >/dev/null || zel_need_packages nodejs npm
    "$repo/bench/edit/run.sh" "$dir" 5
}
run "edit: zel edit in chromium, the page on a million instances and a row of 1,000" edit zel_walk_gen zel_walk zelJava_sh
netlist() {
    zel_need_packages yosys
    "$repo/bench/netlist/run.sh" "$dir" 20 100
}
run "netlist: zel import and zel export of 800,000 instances of gate-level PicoRV32" netlist zel_walk zelJava_sh
