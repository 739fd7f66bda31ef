// Writes the walk benchmark's design: three libraries, a hierarchy six levels
// deep with ten instances in every cell view that has any (about 1.1 million
// instance occurrences from a few dozen cell views), and one configuration
// whose rules of every kind are scattered through it.  Deterministic: the same
// seed writes the same files.  --instances N puts N instances in every cell
// view instead of ten: 6 gives about 56,000 occurrences, for the tests.
//
//   zel_walk_gen [--instances N] DIR [SEED]
//
// DIR/kwo.lib defines the libraries; the configuration is wdesign/top/config.
// DIR/.complete is written last, so a half-written design is never taken.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kLevels = 5;        // levels of hierarchical cells below the top
constexpr int kCellsPerLevel = 4;
int instancesPerView = 10;         // instances per cell view (--instances)
constexpr int kLeafCells = 6;

struct Random {
    uint64_t state;
    uint64_t next() {  // splitmix64: small and the same everywhere
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
};

void makeDir(const std::string& path) {
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "zel_walk_gen: cannot make %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
}

void makeDirs(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/') makeDir(path.substr(0, i));
    makeDir(path);
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
        std::fprintf(stderr, "zel_walk_gen: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

std::string cellName(int level, int j) { return "L" + std::to_string(level) + "c" + std::to_string(j); }
std::string leafName(int j) { return "g" + std::to_string(j); }
std::string instName(int i) { return "I" + std::to_string(i); }

// The instances of one cell view at `level` (0: the top): masters one level
// down, placed by their symbol.
std::string designFile(Random& rnd, const std::string& title, int level) {
    std::string text = "# Instances of " + title + "\nzel-instances 1\n";
    for (int i = 0; i < instancesPerView; ++i) {
        std::string master = level < kLevels ? "wdesign " + cellName(level + 1, rnd.below(kCellsPerLevel))
                                             : "wcells " + leafName(rnd.below(kLeafCells));
        text += "inst " + instName(i) + " " + master + " symbol\n";
    }
    return text;
}

// A cell view of the hierarchy, by level: "wdesign L3c1 schematic".
std::string randomCellView(Random& rnd, int level) {
    if (level == 0) return "wdesign top schematic";
    return "wdesign " + cellName(level, rnd.below(kCellsPerLevel)) + " schematic";
}

std::string occurrencePath(Random& rnd, int depth) {
    std::string path;
    for (int d = 0; d < depth; ++d) path += " " + instName(rnd.below(instancesPerView));
    return path;
}

std::string configuration(Random& rnd) {
    std::string c;
    c += "# Configuration of the walk benchmark's design\n";
    c += "zelvek-config 1\nlocation wdesign top config\nrevision 1\ntop wdesign top schematic\n";
    c += "default-views \"$(VL)\"\ndefault-libs \"wdesign wcells\"\ndefault-stops spice\n";
    c += "constant SCH schematic\nconstant VL \"$(SCH) symbol\"\nconstant LEAF \"$(SCH) layout symbol\"\n";
    c += "note \"Generated for the walk benchmark.\"\n";

    // Library rules: view lists (one with a constant) and stop lists.
    c += "library wcells\n  views \"$(LEAF)\"\n  stops layout\n";
    c += "library walt\n  views \"schematic symbol\"\n  stops abstract\n";

    // Cell rules of every kind, on leaves (they prune nothing) and a few
    // hierarchical cells (alternative libraries and bindings at the same level).
    c += "cell * g1\n  view-binding symbol\n";
    c += "cell wcells g2\n  views \"spice symbol\"\n";
    c += "cell * g3\n  stop\n";
    c += "cell wcells g5\n  libs \"wcells walt\"\n";
    c += "cell wdesign L3c1\n  libs \"walt wdesign\"\n";
    c += "cell wdesign L2c2\n  view-binding schematic\n  libs \"walt wdesign\"\n";
    c += "cell wdesign L4c3\n  bind walt L4c1 schematic\n";
    c += "cell * L1c0\n  views \"$(VL)\"\n";
    c += "cell wdesign L5c3\n  views \"schematic symbol\"\n";

    // Instance rules scattered over the cell views.  Stops and open bindings
    // on leaf instances, lists and bindings higher up.
    for (int k = 0; k < 80; ++k) {
        int level = 1 + rnd.below(kLevels);  // the level of the cell view holding the instance
        std::string cv = randomCellView(rnd, level);
        if (rnd.below(4) == 0) cv = cv.substr(0, cv.size() - std::string("schematic").size()) + "*";
        if (rnd.below(6) == 0) cv = "*" + cv.substr(std::string("wdesign").size());
        std::string head = "inst " + cv + " " + instName(rnd.below(instancesPerView)) + "\n";
        bool leaf = level == kLevels;
        switch (rnd.below(6)) {
            case 0: c += head + (leaf ? "  view-binding layout\n" : "  view-binding schematic\n"); break;
            case 1: c += head + "  views \"" + (rnd.below(2) ? "schematic symbol" : "$(VL)") + "\"\n"; break;
            case 2: c += head + "  libs \"" + (rnd.below(2) ? "walt wdesign wcells" : "wdesign wcells") + "\"\n"; break;
            case 3:
                if (leaf) c += head + "  stop\n";
                else c += head + "  views \"$(SCH) symbol\"\n";
                break;
            case 4:
                if (leaf) c += head + "  bind wcells " + leafName(rnd.below(kLeafCells)) + " layout\n";
                else c += head + "  bind walt " + cellName(level + 1, 1) + " schematic\n";
                break;
            default:
                if (leaf) c += head + "  bind \"\" \"\" \"\"\n";
                else c += head + "  libs \"walt wdesign\"\n  views \"schematic symbol\"\n";
        }
    }

    // Occurrence rules along random paths: bindings at the same level, view
    // lists anywhere, stops only where they prune a few instances at most.
    for (int k = 0; k < 120; ++k) {
        int depth = 1 + rnd.below(kLevels + 1);
        std::string head = "occurrence" + occurrencePath(rnd, depth) + "\n";
        switch (rnd.below(4)) {
            case 0:
                if (depth <= kLevels) c += head + "  bind walt " + cellName(depth, 1) + " schematic\n";
                else c += head + "  bind wcells " + leafName(rnd.below(kLeafCells)) + " spice\n";
                break;
            case 1: c += head + "  views \"" + (rnd.below(2) ? "symbol schematic" : "$(VL)") + "\"\n"; break;
            case 2:
                if (depth >= kLevels) c += head + "  stop\n";
                else c += head + "  views \"$(SCH) symbol\"\n";
                break;
            default:
                if (depth == kLevels + 1) c += head + "  bind \"\" \"\" \"\"\n";
                else c += head + "  views \"schematic symbol\"\n";
        }
    }
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--instances") == 0) {
        instancesPerView = std::atoi(argv[2]);
        argc -= 2;
        argv += 2;
    }
    if (argc < 2 || argc > 3 || instancesPerView < 1 || instancesPerView > 10) {
        std::fprintf(stderr, "usage: zel_walk_gen [--instances N] DIR [SEED]   (N from 1 to 10)\n");
        return 2;
    }
    const std::string dir = argv[1];
    Random rnd{argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 20261207u};
    makeDirs(dir);
    writeFile(dir + "/kwo.lib", "# The walk benchmark's design\nDEFINE wdesign wdesign\nDEFINE wcells wcells\n"
                                "DEFINE walt walt\n");

    // The hierarchy: the top, then kCellsPerLevel cells per level, each with
    // a schematic (its instances) and a symbol.
    const std::string design = dir + "/wdesign";
    makeDirs(design + "/top/schematic");
    writeFile(design + "/top/schematic/instances.zel", designFile(rnd, "wdesign/top:schematic", 0));
    for (int level = 1; level <= kLevels; ++level) {
        for (int j = 0; j < kCellsPerLevel; ++j) {
            const std::string cell = design + "/" + cellName(level, j);
            makeDirs(cell + "/schematic");
            makeDirs(cell + "/symbol");
            writeFile(cell + "/schematic/instances.zel",
                      designFile(rnd, "wdesign/" + cellName(level, j) + ":schematic", level));
        }
        // The alternative library holds cell 1 of every level.
        const std::string alt = dir + "/walt/" + cellName(level, 1);
        makeDirs(alt + "/schematic");
        makeDirs(alt + "/symbol");
        writeFile(alt + "/schematic/instances.zel",
                  designFile(rnd, "walt/" + cellName(level, 1) + ":schematic", level));
    }
    // Leaves: no instances; the last two have no schematic.
    for (int j = 0; j < kLeafCells; ++j) {
        const std::string leaf = dir + "/wcells/" + leafName(j);
        for (const char* view : {"symbol", "layout", "spice"}) makeDirs(leaf + "/" + view);
        if (j < 4) makeDirs(leaf + "/schematic");
    }
    makeDirs(design + "/top/config");
    writeFile(design + "/top/config/config.zel", configuration(rnd));
    writeFile(dir + "/.complete", "zel_walk_gen design\n");
    std::printf("zel_walk_gen: design written to %s (configuration wdesign/top/config, %d levels of %d instances)\n",
                dir.c_str(), kLevels + 1, instancesPerView);
    return 0;
}
