#!/usr/bin/env bash
# zel import and zel export on real designs with the real tools (yosys, iverilog, verilator):
#   picorv32    PicoRV32 imported as rtl and, synthesised by yosys with its hierarchy, as gl: the
#               walk counts what yosys counts; the rtl-bound and gl-bound exports run
#               testbench_ez.v to the trace of the sources; one instance bound to an altered view
#               changes it; verilator --lint-only and yosys hierarchy -check accept the exports
#   names       awkward names (backslash, $, ., [3], /, longer than a file name) through import,
#               walk, lint, a rule and export; a refused name is named by the walk and the lint
#   occurrence  a second view imported beside the first changes nothing of it; yosys's JSON
#               netlist imports as its Verilog does; an occurrence rule binds one of two
#               occurrences otherwise: two parent copies, which simulate as bound
# Usage: netlist_test.sh SECTION SOURCE_DIR SCRATCH ZEL...   (ZEL: the command to run)
set -euo pipefail
section=$1 source=$2 scratch=$3
shift 3
zel=("$@")
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
rm -rf "$scratch" && mkdir -p "$scratch/libs" && cd "$scratch"
simcells=$(dirname "$(command -v yosys)")/../share/yosys/simcells.v
[ -f "$simcells" ] || fail "yosys's simcells.v is not at $simcells"

# libs NAME...: a definitions file with a library folder for each NAME
libs() {
    local lib
    : >kwo.lib
    for lib in "$@"; do
        mkdir -p "libs/$lib"
        echo "DEFINE $lib libs/$lib" >>kwo.lib
    done
}
# copy LIB CELL FROM TO: another configuration, a copy of FROM
copy() {
    mkdir -p "libs/$1/$2/$4"
    cp "libs/$1/$2/$3/config.zel" "libs/$1/$2/$4/config.zel"
}
# sim TRACE FILE...: compiles the files with iverilog and runs them; the trace is what they print
sim() {
    local trace=$1
    shift
    iverilog -o "$trace.vvp" "$@" >"$trace.iverilog.log" 2>&1 || { cat "$trace.iverilog.log"; fail "iverilog $*"; }
    vvp -n "$trace.vvp" >"$trace" || fail "vvp $trace.vvp"
}

picorv32() {
    local design=$source/tests/netlist/picorv32
    libs cpu cells
    "${zel[@]}" import verilog --lib cpu --view rtl --top picorv32 --libs kwo.lib "$design/picorv32.v" ||
        fail "import of the rtl"
    # Synthesised by yosys with its hierarchy kept, counted by yosys.
    yosys -q -p "read_verilog $design/picorv32.v; synth -top picorv32; rename -enumerate;
                 write_verilog -noattr -noexpr gl.v; tee -q -o stat.txt stat -top picorv32" || fail "synthesis"
    local counted
    counted=$(grep -E '^ +Number of cells: +[0-9]+' stat.txt | tail -1 | awk '{print $4}')
    "${zel[@]}" import verilog --lib cpu --view gl --top picorv32 --config glconfig --libs kwo.lib gl.v ||
        fail "import of the gl"
    [ -f libs/cells/'$_MUX_'/cell/module.zel ] || fail "no leaf cell \$_MUX_"
    local walked
    walked=$("${zel[@]}" walk summary cpu/picorv32/glconfig --libs kwo.lib | sed -n 's/^\([0-9,]*\) instances.*/\1/p' | tr -d ,)
    [ -n "$counted" ] && [ "$walked" = "$counted" ] || fail "the walk counts $walked instances, yosys $counted"
    echo "picorv32: gl walk $walked instances = yosys's count"
    # (Its default view list decides nothing: every instance is a leaf cell, listed by a library rule.)
    "${zel[@]}" lint cpu/picorv32/glconfig --ignore never-applied --libs kwo.lib >lint.txt ||
        { cat lint.txt; fail "lint of the gl configuration"; }

    "${zel[@]}" export verilog cpu/picorv32/config -o rtl.v --libs kwo.lib || fail "export of rtl"
    "${zel[@]}" export verilog cpu/picorv32/glconfig -o gl_export.v --libs kwo.lib || fail "export of gl"
    sim source.trace "$design/testbench_ez.v" "$design/picorv32.v"
    sim rtl.trace "$design/testbench_ez.v" rtl.v
    sim gl.trace "$design/testbench_ez.v" gl_export.v "$simcells"
    [ "$(grep -c ifetch source.trace)" -gt 100 ] || fail "the sources' trace has too few fetches"
    cmp source.trace rtl.trace || fail "the rtl export runs otherwise than the sources"
    cmp source.trace gl.trace || fail "the gl export runs otherwise than the sources"
    echo "picorv32: rtl and gl exports run to the sources' trace ($(wc -l <gl.trace) lines)"

    # The flip-flop that drives mem_valid, bound to a view that never sets it.
    local inst type ports
    read -r type inst < <(awk '/^  [^ .]/ { type = $1; name = $2 } /\.Q\(mem_valid\)/ { print type, name; exit }' \
                              libs/cpu/picorv32/gl/module.v)
    [ -n "$inst" ] || fail "no flip-flop drives mem_valid"
    type=${type#\\}
    ports=$(awk -v n="$inst" '$2 == n { on = 1; next } on && /^  \);/ { exit } on { sub(/^ *\./, ""); sub(/\(.*/, ""); print }' \
                libs/cpu/picorv32/gl/module.v | paste -sd, -)
    mkdir -p "libs/cells/$type/bad"
    printf 'zel-module 1\nmodule "%s"\nverilog module.v\n' "$type" >"libs/cells/$type/bad/module.zel"
    printf 'module \\%s (%s);\n  input %s;\n  output Q;\n  assign Q = 1'"'"'b0;\nendmodule\n' \
           "$type" "$ports" "$(tr , '\n' <<<"$ports" | grep -vx Q | paste -sd, -)" >"libs/cells/$type/bad/module.v"
    copy cpu picorv32 glconfig badconfig
    "${zel[@]}" set cpu/picorv32/badconfig inst cpu picorv32 gl "$inst" view-binding bad --libs kwo.lib >/dev/null
    "${zel[@]}" export verilog cpu/picorv32/badconfig -o bad.v --libs kwo.lib || fail "export of the altered binding"
    grep -qF "\\${type}__bad " bad.v || fail "the altered view's module is not renamed ${type}__bad"
    sim bad.trace "$design/testbench_ez.v" bad.v "$simcells"
    if cmp -s gl.trace bad.trace; then fail "binding $inst to the altered view changed nothing"; fi
    echo "picorv32: $inst bound to the altered view: the trace differs"
    if "${zel[@]}" export filelist cpu/picorv32/badconfig --libs kwo.lib >/dev/null 2>filelist.err; then
        fail "a file list of a binding the files cannot express"
    fi
    [ "$("${zel[@]}" export filelist cpu/picorv32/config --libs kwo.lib)" = "$PWD/libs/cpu/picorv32/rtl/module.v" ] ||
        fail "the rtl file list"
    "${zel[@]}" export config cpu/picorv32/badconfig --libs kwo.lib >config.v
    grep -qF "design cpu__gl.picorv32;" config.v && grep -qF "picorv32.$inst use cells__bad.\\$type ;" config.v ||
        fail "the config block"

    verilator --lint-only -Wno-fatal -Wno-lint -Wno-style --top-module picorv32 rtl.v >verilator.log 2>&1 ||
        { cat verilator.log; fail "verilator on the rtl export"; }
    verilator --lint-only -Wno-fatal -Wno-lint -Wno-style --top-module picorv32 bad.v "$simcells" >verilator.log 2>&1 ||
        { cat verilator.log; fail "verilator on the gl export"; }
    yosys -q -p "read_verilog rtl.v; hierarchy -check -top picorv32" >yosys.log 2>&1 || fail "yosys hierarchy -check on the rtl export"
    yosys -q -p "read_verilog -lib +/simcells.v; read_verilog bad.v; hierarchy -check -top picorv32" ||
        fail "yosys hierarchy -check on the gl export"
    echo "picorv32: verilator --lint-only and yosys hierarchy -check accept the exports"
}

names() {
    libs names cells
    local long
    long=$(printf 'L%.0s' $(seq 1 300))
    cat >names.v <<EOF
module \\a\\b (input i, output o); assign o = ~i; endmodule
module \\p/q (input i, output o); assign o = i; endmodule
module \\m.n[3] (input i, output o); assign o = ~i; endmodule
module \\\$odd\$name (input i, output o); assign o = i; endmodule
module $long (input i, output o); assign o = ~i; endmodule
module top(input i, output [4:0] o);
  \\a\\b \\u/x (.i(i), .o(o[0]));
  \\p/q \\gen.blk[3] (.i(i), .o(o[1]));
  \\m.n[3] \\c\\d (.i(i), .o(o[2]));
  \\\$odd\$name \\\$i\$1 (.i(i), .o(o[3]));
  $long \\x[3] (.i(i), .o(o[4]));
endmodule
EOF
    # Without yosys: a message that says how to install it.
    local status=0
    PATH=/nonexistent "${zel[@]}" import verilog --lib names --view rtl --libs kwo.lib names.v 2>noyosys.err || status=$?
    [ $status = 3 ] && grep -qF "apt-get install yosys" noyosys.err || { cat noyosys.err; fail "import without yosys"; }
    "${zel[@]}" import verilog --lib names --view rtl --top top --libs kwo.lib names.v || fail "import"
    # Each module's cell, and the name its module file gives back.
    local cell module
    while read -r cell module; do
        [ -d "libs/names/$cell/rtl" ] || fail "no cell $cell for module $module"
        grep -qxF "module $module" "libs/names/$cell/rtl/module.zel" || fail "$cell: module is not $module"
    done <<EOF
a%5Cb "a\\\\b"
p%2Fq p/q
m.n[3] m.n[3]
\$odd\$name \$odd\$name
EOF
    ls libs/names | grep -qx "L\{183\}~[0-9a-f]\{16\}" || fail "the long name's cell"
    local walk
    walk=$("${zel[@]}" walk names/top/config --libs kwo.lib 2>walk.err)
    [ ! -s walk.err ] || { cat walk.err; fail "warnings of the walk"; }
    [ "$(grep -c -- '-> names/' <<<"$walk")" = 5 ] || { echo "$walk"; fail "the walk binds five instances"; }
    "${zel[@]}" walk jsonl names/top/config --libs kwo.lib | grep -qF '"path": "u\\/x"' ||
        fail "the JSON path of u/x"
    # A rule on an awkward instance name applies, and the lint says so.
    "${zel[@]}" set names/top/config inst names top rtl 'u/x' stop --libs kwo.lib >/dev/null
    "${zel[@]}" walk names/top/config --libs kwo.lib | grep -qF 'u/x: names/a%5Cb/- -> names/a%5Cb/rtl  stop: instance rule' ||
        fail "the rule on u/x"
    "${zel[@]}" lint names/top/config --libs kwo.lib >lint.txt || { cat lint.txt; fail "lint"; }
    "${zel[@]}" export verilog names/top/config -o names_export.v --libs kwo.lib || fail "export"
    cat >tb.v <<'EOF'
module tb; reg i; wire [4:0] o; top t(.i(i), .o(o));
  initial begin i = 0; #1 $display("o=%b", o); i = 1; #1 $display("o=%b", o); end
endmodule
EOF
    sim names.trace tb.v names_export.v
    [ "$(cat names.trace)" = $'o=10101\no=01010' ] || { cat names.trace; fail "the export runs otherwise"; }
    echo "names: imported, walked, linted, ruled and exported"

    # A module with two parameter sets: two cells named after it, each with its parameters.
    cat >param.v <<'EOF'
module sub #(parameter W = 1) (output [3:0] v); assign v = W; endmodule
module ptop(output [3:0] a, output [3:0] b); sub #(.W(2)) s2(.v(a)); sub #(.W(3)) s3(.v(b)); endmodule
EOF
    "${zel[@]}" import verilog --lib names --view rtl --top ptop --libs kwo.lib param.v >/dev/null || fail "import of ptop"
    [ "$(ls libs/names | grep -c '^sub@[0-9a-f]\{8\}$')" = 2 ] || { ls libs/names; fail "not two cells of sub"; }
    [ "$(cat libs/names/sub@*/rtl/module.zel | grep -c '^base sub$')" = 2 ] &&
        [ "$(cat libs/names/sub@*/rtl/module.zel | grep -c '^parameter W ')" = 2 ] || fail "sub's base and parameters"
    "${zel[@]}" export verilog names/ptop/config -o param_export.v --libs kwo.lib 2>/dev/null || fail "export of ptop"
    echo 'module tb; wire [3:0] a, b; ptop t(.a(a), .b(b)); initial #1 $display("a=%0d b=%0d", a, b); endmodule' >ptb.v
    sim param.trace ptb.v param_export.v
    [ "$(cat param.trace)" = "a=2 b=3" ] || { cat param.trace; fail "the parameterised cells simulate otherwise"; }

    # A cell name no folder can hold, written by hand: the walk and the lint name it.
    mkdir -p libs/names/hand/rtl
    printf 'zel-instances 1\ninst u names "a\\\\b" -\n' >libs/names/hand/rtl/instances.zel
    copy names top config hand
    "${zel[@]}" set names/top/hand top names hand rtl --libs kwo.lib >/dev/null
    "${zel[@]}" walk names/top/hand --libs kwo.lib 2>&1 >/dev/null | grep -qF "cell name 'a\\b' refused" ||
        fail "the walk does not name the refused cell"
    printf 'cell names "a\\\\b"\n  stop\n' >>libs/names/top/hand/config.zel
    "${zel[@]}" lint names/top/hand --libs kwo.lib >lint.txt 2>&1 && fail "lint passes a refused name"
    grep -qF 'cell name a\b is refused' lint.txt || { cat lint.txt; fail "the lint does not name the refused cell"; }
    echo "names: a refused name is named by the walk and the lint"
}

occurrence() {
    libs demo cells
    cat >demo.v <<'EOF'
module val(output [1:0] v); assign v = 2'd1; endmodule
module mid(output [1:0] v); val u(.v(v)); endmodule
module top(output [1:0] v1, output [1:0] v2); mid m1(.v(v1)); mid m2(.v(v2)); endmodule
EOF
    # The second view as a flow that makes names unique leaves it: paired with its cell by --cell.
    echo "module val_1803(output [1:0] v); assign v = 2'd2; endmodule" >two.v
    "${zel[@]}" import verilog --lib demo --view rtl --top top --libs kwo.lib demo.v >/dev/null || fail "import"
    local before
    before=$(cat libs/demo/*/rtl/* | md5sum)
    "${zel[@]}" import verilog --lib demo --view two --cell val_1803=val --libs kwo.lib two.v >/dev/null ||
        fail "import of view two"
    [ "$(cat libs/demo/*/rtl/* | md5sum)" = "$before" ] || fail "importing view two changed the rtl views"
    # The same design as yosys's JSON netlist with its Verilog: the same views.
    yosys -q -p "read_verilog demo.v; hierarchy -top top; proc; rename -enumerate; write_json demo.json;
                 write_verilog -noattr demo_yosys.v" || fail "yosys's JSON"
    "${zel[@]}" import json --lib demo --view json --verilog demo_yosys.v --libs kwo.lib demo.json >/dev/null ||
        fail "import json"
    local cell
    for cell in top mid val; do
        cmp <(grep -v '^#' "libs/demo/$cell/rtl/instances.zel") <(grep -v '^#' "libs/demo/$cell/json/instances.zel") &&
            cmp "libs/demo/$cell/rtl/module.v" "libs/demo/$cell/json/module.v" || fail "import json of $cell"
    done
    "${zel[@]}" set demo/top/config occurrence m2 u bind demo val two --libs kwo.lib >/dev/null
    "${zel[@]}" export verilog demo/top/config -o occ.v --libs kwo.lib || fail "export"
    [ "$(grep -c '^module mid__rtl' occ.v)" = 2 ] && grep -q '^module val_1803(' occ.v || { cat occ.v; fail "not two copies of mid"; }
    cat >tb.v <<'EOF'
module tb; wire [1:0] v1, v2; top t(.v1(v1), .v2(v2)); initial #1 $display("u1=%0d u2=%0d", v1, v2); endmodule
EOF
    sim occ.trace tb.v occ.v
    [ "$(cat occ.trace)" = "u1=1 u2=2" ] || { cat occ.trace; fail "the export simulates otherwise than bound"; }
    # Bound to open: an error naming the instance, or a stub with its ports.
    copy demo top config open
    "${zel[@]}" set demo/top/open occurrence m1 u bind '' '' '' --libs kwo.lib >/dev/null
    "${zel[@]}" export verilog demo/top/open -o open.v --libs kwo.lib 2>open.err && fail "an instance bound to open exported"
    grep -qF "instance m1/u: is bound to open" open.err || { cat open.err; fail "the error does not name m1/u"; }
    "${zel[@]}" export verilog demo/top/open -o open.v --stub-missing --libs kwo.lib 2>/dev/null || fail "--stub-missing"
    sim open.trace tb.v open.v
    [ "$(cat open.trace)" = "u1=z u2=2" ] || { cat open.trace; fail "the stub simulates otherwise"; }
    # Another view order that binds alike: a difference of lists, not of bindings.
    copy demo top config order
    "${zel[@]}" set demo/top/order default-views "rtl two" --libs kwo.lib >/dev/null
    "${zel[@]}" diff demo/top/config demo/top/order --libs kwo.lib >/dev/null && fail "diff of two view orders"
    "${zel[@]}" diff demo/top/config demo/top/order --bindings --libs kwo.lib >/dev/null || fail "diff --bindings of two view orders"
    # The two configurations differ in one binding; only it is a difference of bindings.
    local diff status=0
    diff=$("${zel[@]}" diff demo/top/config demo/top/open --bindings --libs kwo.lib) || status=$?
    [ $status = 1 ] && [ "$(grep -c '^m' <<<"$diff")" = 1 ] && grep -qx 'm1/u' <<<"$diff" || { echo "$diff"; fail "diff --bindings"; }
    echo "occurrence: two parent copies, simulated as bound: $(cat occ.trace)"
}

"$section"
echo "$section: passed"
