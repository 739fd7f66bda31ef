#!/usr/bin/env bash
# zel import and zel export on a large design made of PicoRV32: the core synthesised by yosys
# (tests/netlist/picorv32), COPIES modules of it made unique (picorv32_0, ...: as a gate-level
# flow leaves them) and a top with INSTANCES cores over them.  Prints the time and the peak
# resident size of: zel import verilog (yosys included), zel import json of the same netlist
# (yosys's JSON and Verilog, no yosys), the walk's count, zel export verilog.
# Usage: bench/netlist/run.sh BUILD_DIR [COPIES [INSTANCES]]
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(cd "$1" && pwd) copies=${2:-20} instances=${3:-100}
work=$dir/netlist-bench
rm -rf "$work" && mkdir -p "$work/libs/big" "$work/libs/bigjson" "$work/libs/cells" && cd "$work"
zel=(java -XX:+UseSerialGC -Djava.library.path="$dir" -cp "$dir/java/zel.jar:$dir/java/zel-walk.jar"
     COM.morvent.zel.walk.Zel)
printf 'DEFINE big libs/big\nDEFINE bigjson libs/bigjson\nDEFINE cells libs/cells\n' >kwo.lib
measure() {  # LABEL COMMAND...: one line, the seconds and the peak resident size
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o time.txt "$@" >out.txt 2>err.txt || { cat err.txt out.txt; exit 1; }
    read -r seconds kb <time.txt
    printf '  %-44s %7.1f s %7d MB\n' "$label" "$seconds" $((kb / 1024))
}
yosys -q -p "read_verilog $repo/tests/netlist/picorv32/picorv32.v; synth -top picorv32; rename -enumerate;
             write_verilog -noattr -noexpr core.v"
{
    for ((i = 0; i < copies; ++i)); do sed "s/^module picorv32(/module picorv32_$i(/" core.v; done
    echo "module chip;"
    for ((i = 0; i < instances; ++i)); do echo "  picorv32_$((i % copies)) core_$i ();"; done
    echo "endmodule"
} >design.v
cells=$(( $(grep -c '^  \\\$' core.v) * instances + instances ))
echo "design: $copies unique copies of the gate-level PicoRV32 ($(grep -c '^  \\\$' core.v) gates each)," \
     "$instances cores in the top: $cells instances; $(( $(wc -c <design.v) / 1048576 )) MB of Verilog"
# The import's own yosys script, alone: most of the import's time and memory.
cat >import.ys <<'YS'
read_verilog design.v
hierarchy -top chip
proc
rename -enumerate
write_json yosys_alone.json
write_verilog -noattr yosys_alone_expr.v
write_verilog -noattr -noexpr yosys_alone_noexpr.v
YS
measure "yosys alone, the script zel import runs" yosys -q -s import.ys
rm -f yosys_alone*
measure "zel import verilog (yosys included)" "${zel[@]}" import verilog --lib big --view gl --top chip --libs kwo.lib design.v
yosys -q -p "read_verilog design.v; hierarchy -top chip; rename -enumerate; write_json design.json;
             write_verilog -noattr -noexpr design_yosys.v"
echo "  (yosys's JSON of it: $(( $(wc -c <design.json) / 1048576 )) MB)"
measure "zel import json (no yosys)" "${zel[@]}" import json --lib bigjson --view gl --top chip --verilog design_yosys.v \
    --libs kwo.lib design.json
measure "zel walk summary" "${zel[@]}" walk summary big/chip/config --libs kwo.lib
grep -q "^$cells instances" <(tr -d , <out.txt) || { cat out.txt; echo "the walk does not count $cells instances" >&2; exit 1; }
measure "zel export verilog" "${zel[@]}" export verilog big/chip/config -o export.v --libs kwo.lib
echo "  (the export: $(( $(wc -c <export.v) / 1048576 )) MB, $(grep -c '^module' export.v) modules)"
