// Time to open and to save configurations of 10,000 and 100,000 rules.
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
    std::string cleanup = std::string("rm -rf '") + root + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
