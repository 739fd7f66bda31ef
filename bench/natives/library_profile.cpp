// The library's share of the natives the bench times, without a JVM: each
// operation repeated in a loop over the example design, standing where the
// natives bench stands (FA1 of ALU0's adder).  Run under
// valgrind --tool=callgrind to see where the instructions go; the counts do
// not depend on the machine's load.
// Usage: zel_library_profile EXAMPLES_DIR OPERATION [COUNT]
//   OPERATION: setter, pushpop, bind, bindlib, stops, anyinst, listcopy
//   (listcopy: the copy getCurrentLibList must hand over, kwoCopyString of
//   the joined list and its release)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zelvek/vek.h"
#include "zelvek/zelvek.h"

namespace {

int noCallback(void*) { return 0; }

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "zel_library_profile: %s\n", what);
    std::exit(1);
}

struct Bound {
    BindingRecord binding{};
    BindInfo info{};
    BindInfo* infoField = &info;
    ResolvedLists* lists = nullptr;
};

void bind(PathVectorRecord* pv, Bound& b, const char* inst, const char* lib, const char* cell, const char* view) {
    zelBind3(pv, inst, lib, cell, view, 1, 1, 0, &b.binding, &b.lists, &b.infoField);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) fail("usage: zel_library_profile EXAMPLES_DIR OPERATION [COUNT]");
    const std::string defs = std::string(argv[1]) + "/kwo.lib";
    const std::string op = argv[2];
    const long count = argc > 3 ? std::atol(argv[3]) : 10000;
    int32_t state = 0;
    mipInitialize(&state);
    vekInitialize(defs.c_str(), noCallback, &state);
    ConfigRecord* config = zelOpen("design", "chip", "config", "a");
    if (config == nullptr) fail("cannot open design/chip/config");
    PathVectorRecord* pv = zelCreatePathVector(config);
    Bound b;
    zelPushCell(pv, "design", "chip", "schematic", nullptr);
    const char* path[][4] = {{"CORE", "design", "core", "symbol"},
                             {"ALU0", "design", "alu", "symbol"},
                             {"ADD", "design", "adder", "symbol"},
                             {"FA1", "design", "fulladder", "symbol"}};
    for (const auto& inst : path) {
        bind(pv, b, inst[0], inst[1], inst[2], inst[3]);
        const std::string lib = b.binding.libName, cell = b.binding.cellName, view = b.binding.viewName;
        if (!zelPushCell(pv, lib.c_str(), cell.c_str(), view.c_str(), inst[0])) fail("cannot descend");
    }
    // As a walk pushes: right after binding the instance it descends into.
    if (op == "pushpop") bind(pv, b, "G1", "stdcells", "nand2", "symbol");
    const char* const ops[] = {"setter", "pushpop", "bind", "bindlib", "stops", "anyinst", "listcopy"};
    int which = -1;
    for (int k = 0; k < 7; ++k)
        if (op == ops[k]) which = k;
    if (which < 0) fail("unknown operation");
    long sink = 0;
    for (long i = 0; i < count; ++i) {
        switch (which) {
            case 0: sink += zelSetTopCellViewName(config, "design", "chip", (i & 1) != 0 ? "schematic" : "symbol"); break;
            case 1:
                sink += zelPushCell(pv, "stdcells", "nand2", "symbol", "G1");
                sink += zelPopCell(pv);
                break;
            case 2:
                bind(pv, b, "G0", "stdcells", "nand2", "symbol");
                sink += b.binding.viewName != nullptr;
                break;
            case 3:
                bind(pv, b, "G1", "stdcells", "nand2", "symbol");
                sink += b.binding.viewName != nullptr;
                break;
            case 4: sink += zelGetAllMatchingStopRules(pv) != nullptr; break;
            case 6: {
                char* copy = kwoCopyString("design stdcells devices");
                sink += copy[0];
                kwoFreeString(copy);
                break;
            }
            default: {
                CellRecord* cell = zelFindCell(config, nullptr, "fulladder");
                sink += cell != nullptr && zelFindCellCellView(config, cell, "schematic") != nullptr;
            }
        }
    }
    std::printf("%s x %ld: %ld\n", op.c_str(), count, sink);
    return 0;
}
