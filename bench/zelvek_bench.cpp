// Time to open and to save configurations of 10,000 and 100,000 rules, the
// cost of a note line at the start of a note and at its 10,000th line, and
// binds per second over configurations of 10 and 100,000 rules.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "zelvek/vek.h"
#include "zelvek/zelvek.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A configuration of `rules` rules: a quarter cell rules, half instance
// rules over a few hundred cells, a quarter occurrence rules three deep.
void fill(ConfigRecord* cfg, int rules) {
    zelSetTopCellViewName(cfg, "lib", "top", "schematic");
    zelSetDefaultViewListString(cfg, "schematic symbol layout");
    OccurrenceInstance* parent = nullptr;
    for (int k = 0; k < rules; ++k) {
        std::string n = std::to_string(k);
        switch (k % 4) {
            case 0: zelReplaceCellViewList(cfg, "lib", ("cell" + n).c_str(), "gate schematic"); break;
            case 1:
            case 2:
                zelReplaceInstViewBinding(cfg, "lib", ("c" + std::to_string(k % 500)).c_str(), "schematic",
                                          ("I" + n).c_str(), "symbol");
                break;
            default: {
                if (k % 12 == 3) parent = zelFindOrCreateOccInst(cfg, nullptr, "lib", "top", "schematic", ("T" + n).c_str());
                OccurrenceInstance* mid = zelFindOrCreateOccInst(cfg, parent, "lib", "a", "schematic", "M");
                OccurrenceInstance* leaf = zelFindOrCreateOccInst(cfg, mid, "lib", "b", "schematic", ("L" + n).c_str());
                zelReplaceOccInstBinding(leaf, "lib", "inv", "layout");
            }
        }
    }
}

void measure(int rules, const char* root) {
    ConfigRecord* cfg = zelOpen("lib", "top", ("bench" + std::to_string(rules)).c_str(), "w");
    if (!cfg) {
        std::fprintf(stderr, "cannot start a configuration\n");
        std::exit(1);
    }
    fill(cfg, rules);
    auto start = std::chrono::steady_clock::now();
    if (!zelSave(cfg)) std::exit(1);
    double firstSave = secondsSince(start);
    zelClose(cfg);

    start = std::chrono::steady_clock::now();
    cfg = zelOpen("lib", "top", ("bench" + std::to_string(rules)).c_str(), "a");
    double open = secondsSince(start);
    if (!cfg) std::exit(1);
    zelReplaceConst(cfg, "EDIT", "1");
    start = std::chrono::steady_clock::now();
    if (!zelSave(cfg)) std::exit(1);
    double save = secondsSince(start);
    zelClose(cfg);

    std::string file = std::string(root) + "/lib/top/bench" + std::to_string(rules) + "/config.zel";
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    std::printf("%7d rules  %6.1f MB  open %.3f s  save %.3f s  (first save %.3f s)\n", rules,
                static_cast<double>(in.tellg()) / 1e6, open, save, firstSave);
}

// Binds per second with `extra` rules besides the few that the bound
// instances meet, over a design of ten cells with two views each.
double bindRate(int extra) {
    std::string view = "bind" + std::to_string(extra);
    ConfigRecord* cfg = zelOpen("lib", "top", view.c_str(), "w");
    if (!cfg) std::exit(1);
    zelSetTopCellViewName(cfg, "lib", "top", "schematic");
    zelSetDefaultViewListString(cfg, "layout schematic symbol");
    zelSetDefaultLibListString(cfg, "lib");
    // The rules the walk meets: an instance list that comes down, view
    // bindings, a cell rule, an occurrence binding.
    zelReplaceInstViewList(cfg, "lib", "top", "schematic", "A", "symbol schematic");
    zelReplaceInstViewBinding(cfg, "lib", "c1", "schematic", "I1", "schematic");
    zelReplaceCellViewList(cfg, "lib", "c2", "schematic");
    zelSetObjBinding(cfg, "lib", "c1", "schematic", "I4", "lib", "c5", "schematic");
    OccurrenceInstance* a = zelFindOrCreateOccInst(cfg, nullptr, "lib", "top", "schematic", "A");
    zelReplaceOccInstBinding(zelFindOrCreateOccInst(cfg, a, "lib", "c1", "schematic", "I3"), "lib", "c3", "symbol");
    for (int k = 0; k < extra - 5; ++k) {
        std::string n = std::to_string(k);
        switch (k % 3) {
            case 0: zelReplaceCellViewList(cfg, "lib", ("x" + n).c_str(), "symbol"); break;
            case 1: zelReplaceInstViewBinding(cfg, "lib", "c1", "schematic", ("J" + n).c_str(), "symbol"); break;
            default:
                zelReplaceOccInstBinding(zelFindOrCreateOccInst(cfg, a, "lib", "c1", "schematic", ("K" + n).c_str()),
                                         "lib", "c4", "symbol");
        }
    }
    PathVectorRecord* pv = zelCreatePathVector(cfg);
    zelPushCell(pv, "lib", "top", "schematic", nullptr);
    BindingRecord binding{};
    ResolvedLists* lists = nullptr;
    BindInfo block{};
    BindInfo* info = &block;
    zelBind3(pv, "A", "lib", "c1", "symbol", 1, 1, 0, &binding, &lists, &info);
    zelPushCell(pv, "lib", "c1", "schematic", "A");
    const char* insts[] = {"I0", "I1", "I2", "I3", "I4", "I5", "I6", "I7"};
    const char* cells[] = {"c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7"};
    const int binds = 400000;
    int bound = 0;
    auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < binds; ++k) {
        zelBind3(pv, insts[k % 8], "lib", cells[k % 8], "symbol", 1, 1, 0, &binding, &lists, &info);
        bound += binding.viewName ? 1 : 0;
    }
    double seconds = secondsSince(start);
    if (bound != binds) {
        std::fprintf(stderr, "some instances did not bind\n");
        std::exit(1);
    }
    zelDestroyPathVector(pv);
    zelClose(cfg);
    return binds / seconds;
}

// µs per addNoteLine over the first hundred lines of a note and over the
// hundred up to its 10,000th, and the whole 10,000.
void noteCost() {
    ConfigRecord* cfg = zelOpen("lib", "top", "note", "w");
    if (!cfg) std::exit(1);
    const std::string line(60, 'n');
    auto hundred = [&] {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 100; ++i) zelAddNoteLine(cfg, line.c_str());
        return secondsSince(start) / 100 * 1e6;
    };
    auto start = std::chrono::steady_clock::now();
    double first = hundred();
    for (int i = 100; i < 9900; ++i) zelAddNoteLine(cfg, line.c_str());
    double last = hundred();
    double all = secondsSince(start);
    std::printf("zelvek addNoteLine of 60 characters (goal: the 10,000th line costs what the first does)\n");
    std::printf("  lines 1-100: %.3f us/line   lines 9,901-10,000: %.3f us/line   10,000 lines: %.3f s\n", first, last,
                all);
    zelClose(cfg);
}

}  // namespace

int main() {
    char root[] = "/tmp/zelvek_bench_XXXXXX";
    if (!mkdtemp(root)) return 1;
    std::string libDir = std::string(root) + "/lib";
    std::string defs = std::string(root) + "/kwo.lib";
    std::ofstream(defs) << "DEFINE lib lib\n";
    if (mkdir(libDir.c_str(), 0777) != 0) return 1;
    int32_t state = 0;
    vekInitialize(defs.c_str(), nullptr, &state);
    std::printf("zelvek open/save of one configuration (goal: under 0.5 s each way at 100,000 rules)\n");
    measure(10000, root);
    measure(100000, root);
    for (int c = 0; c < 8; ++c) {
        for (const char* v : {"schematic", "symbol"}) {
            std::string dir = libDir + "/c" + std::to_string(c);
            mkdir(dir.c_str(), 0777);
            mkdir((dir + "/" + v).c_str(), 0777);
        }
    }
    noteCost();
    std::printf("zelvek bind of one instance (goal: the same rate whatever the number of rules)\n");
    double small = bindRate(10);
    double large = bindRate(100000);
    std::printf("%7d rules  %10.0f binds/s\n", 10, small);
    std::printf("%7d rules  %10.0f binds/s  (%.2f of the rate at 10 rules)\n", 100000, large, large / small);
    std::string cleanup = std::string("rm -rf '") + root + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
