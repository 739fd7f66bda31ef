// The walk benchmark in C++, straight through the configuration library: the
// calls the bridge's natives make for a walk, without JNI.  Per instance: a
// bind, every binding query the walk tool reads, a push into the binding, a
// stop query, the walk below it, a pop.
//
//   zel_walk_cpp --libs FILE [--config LIB/CELL/VIEW] [--runs N]
//
// Prints instances per second (the median of N timed walks after a warm-up
// walk), resident size after the first 10,000 instances of the first walk and
// at its end, and a checksum of every answer seen; bench/walk/WalkBench.java
// prints the same checksum for the same walk through Java.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "vek/libraries.h"
#include "zelvek/vek.h"
#include "zelvek/zelvek.h"

namespace {

// ---- the design's instances, read once per cell view ----------------------

struct Instance {
    std::string name, lib, cell, view;
    bool hasView = true;  // "-": the master names no view
};
using Instances = std::vector<Instance>;

// Bare words only: the generator writes nothing else.
bool readDesignFile(const std::string& path, Instances& out) {
    std::ifstream in(path);
    if (!in) return true;  // no design file: no instances
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string w;
        std::vector<std::string> parts;
        while (words >> w && w[0] != '#') parts.push_back(w);
        if (parts.empty() || parts[0] == "zel-instances") continue;
        if (parts.size() != 5 || parts[0] != "inst") {
            std::fprintf(stderr, "zel_walk_cpp: %s: unexpected line '%s'\n", path.c_str(), line.c_str());
            return false;
        }
        out.push_back({parts[1], parts[2], parts[3], parts[4], parts[4] != "-"});
    }
    return true;
}

struct Design {
    // lib -> cell -> view -> instances (null: not read yet)
    std::unordered_map<std::string, std::unordered_map<std::string, std::unordered_map<std::string,
                                                                                       std::unique_ptr<Instances>>>>
        views;

    const Instances& of(const char* lib, const char* cell, const char* view) {
        std::unique_ptr<Instances>& slot = views[lib][cell][view];
        if (!slot) {
            slot = std::make_unique<Instances>();
            std::string dir;
            if (vek::libraryDirectory(lib, dir) && !readDesignFile(dir + "/" + cell + "/" + view + "/instances.zel",
                                                                   *slot))
                std::exit(1);
        }
        return *slot;
    }
};

// ---- what the walk saw ------------------------------------------------------

constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

struct Checksum {
    uint64_t hash = 0xcbf29ce484222325ULL;
    long instances = 0, open = 0, stopped = 0;
    long stopBits[5] = {};

    void mix(const char* text) {
        if (!text) {
            hash = (hash ^ 0x1ff) * kFnvPrime;
            return;
        }
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
            hash = (hash ^ *p) * kFnvPrime;
        hash = (hash ^ 0x100) * kFnvPrime;
    }
    void mix(long value) { hash = (hash ^ (static_cast<uint64_t>(value) & 0xffffffffULL)) * kFnvPrime; }
    void print() const {
        std::printf("checksum: instances=%ld open=%ld stopped=%ld stopBits=%ld/%ld/%ld/%ld/%ld hash=%016llx\n",
                    instances, open, stopped, stopBits[0], stopBits[1], stopBits[2], stopBits[3], stopBits[4],
                    static_cast<unsigned long long>(hash));
    }
};

// ---- the bridge's readings of a binding, without JNI -------------------------

// The words joined by single blanks, as a copy the caller gives back.
char* joinWords(ZelWords words) {
    if (!words) return nullptr;
    std::string text;
    for (ZelWords w = words; *w; ++w) {
        if (w != words) text += ' ';
        text += *w;
    }
    return kwoCopyString(text.c_str());
}

void mixJoined(Checksum& sum, ZelWords words) {
    char* joined = joinWords(words);
    sum.mix(joined);
    if (joined) kwoFreeString(joined);
}

const char* viewListOf(int code, const void* source) {
    switch (code) {
        case ZEL_RULE_DEFAULT: return static_cast<const ConfigRecord*>(source)->defaultViewList;
        case ZEL_RULE_LIBRARY: return static_cast<const LibraryRuleRecord*>(source)->viewList;
        case ZEL_RULE_CELL: return static_cast<const CellRecord*>(source)->viewList;
        case ZEL_RULE_INSTANCE: return static_cast<const InstRuleRecord*>(source)->viewList;
        case ZEL_RULE_OCCURRENCE: return static_cast<const OccurrenceInstance*>(source)->viewList;
        default: return "";
    }
}

long libListWhy(int code) {
    switch (code) {
        case ZEL_RULE_DEFAULT: return 0;
        case ZEL_RULE_CELL: return 2;
        case ZEL_RULE_INSTANCE: return 1;
        default: return -1;
    }
}

long stopBit(int code) {
    switch (code) {
        case ZEL_RULE_DEFAULT: return ZEL_STOP_DEFAULT;
        case ZEL_RULE_LIBRARY: return ZEL_STOP_LIBRARY;
        case ZEL_RULE_CELL: return ZEL_STOP_CELL;
        case ZEL_RULE_INSTANCE: return ZEL_STOP_INSTANCE;
        case ZEL_RULE_OCCURRENCE: return ZEL_STOP_OCCURRENCE;
        default: return 0;
    }
}

bool flag(const BindInfo& i, uint32_t f) { return (i.flags & f) != 0; }
bool byRule(const BindInfo& i, int code) { return flag(i, ZEL_BIND_BY_RULE) && i.viewBindingRule == code; }
bool altRule(const BindInfo& i, int code) { return flag(i, ZEL_BIND_ALT_RULE) && i.altBindingRule == code; }

// The binding queries the walk tool reads after each bind, in its order.
// Answers whether the instance is bound to open.
bool readBinding(Checksum& sum, BindingRecord& binding, const ResolvedLists* lists, const BindInfo* info) {
    sum.mix(binding.libName);
    sum.mix(binding.cellName);
    sum.mix(binding.viewName);
    bool unbound = zelIsOpenBinding(&binding) != 0;
    sum.mix(unbound ? 1L : 0L);
    if (info && lists) {
        mixJoined(sum, lists->libWords);
    } else {
        sum.mix(nullptr);
    }
    sum.mix(info && info->viewListSource ? viewListOf(info->viewListRule, info->viewListSource) : nullptr);
    if (lists) {
        mixJoined(sum, lists->expandedViewWords);
    } else {
        sum.mix(nullptr);
    }
    sum.mix(info ? libListWhy(info->libListRule) : 0L);
    long flags = 0;
    if (info) {
        const BindInfo& i = *info;
        bool answers[8] = {
            !flag(i, ZEL_BIND_VIEW_MISSING) && i.viewBindingRule == ZEL_RULE_INSTANCE,
            !flag(i, ZEL_BIND_VIEWLIST_INHERIT) && i.viewListRule == ZEL_RULE_INSTANCE,
            i.viewBindingRule == ZEL_RULE_OCCURRENCE || altRule(i, ZEL_RULE_OCCURRENCE),
            flag(i, ZEL_BIND_MOST_RECENT),
            byRule(i, ZEL_RULE_INSTANCE) || altRule(i, ZEL_RULE_INSTANCE),
            byRule(i, ZEL_RULE_CELL),
            flag(i, ZEL_BIND_LIBLIST_INHERIT),
            flag(i, ZEL_BIND_VIEWLIST_INHERIT),
        };
        for (int k = 0; k < 8; ++k)
            if (answers[k]) flags |= 1L << k;
    }
    sum.mix(flags);
    const char* libSet = nullptr;
    if (info && (byRule(*info, ZEL_RULE_CELL) || altRule(*info, ZEL_RULE_CELL))) {
        const auto* cell = static_cast<const CellRecord*>(info->bindingSource);
        if (cell && cell->libListWords) libSet = cell->libListWords[0];
    }
    sum.mix(libSet);
    return unbound;
}

// ---- the walk ------------------------------------------------------------------

long rssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

struct Walk {
    PathVectorRecord* pv;
    Design& design;
    Checksum sum;
    BindingRecord binding{};   // the bridge's block: zelBind3 fills it in place
    BindInfo ownInfo{};
    BindInfo* info = &ownInfo;
    long rssAt10k = -1;

    // Stop query at the current level: what isAtStop and getStopWhy answer.
    bool atStop() {
        const StopRule* stops = zelGetAllMatchingStopRules(pv);
        bool stop = stops && stops[0].rule;
        long why = 0;
        if (stops)
            for (const StopRule* s = stops; s->rule; ++s) why |= stopBit(s->code);
        sum.mix(why);
        if (stop) {
            ++sum.stopped;
            for (int b = 0; b < 5; ++b)
                if (why & (1L << b)) ++sum.stopBits[b];
        }
        return stop;
    }

    void level(const Instances& instances) {
        for (const Instance& inst : instances) {
            ResolvedLists* lists = nullptr;
            zelBind3(pv, inst.name.c_str(), inst.lib.c_str(), inst.cell.c_str(),
                     inst.hasView ? inst.view.c_str() : nullptr, 1, 1, 0, &binding, &lists, &info);
            if (++sum.instances == 10000) rssAt10k = rssKiB();
            if (readBinding(sum, binding, lists, info)) {
                ++sum.open;
                continue;
            }
            // Copies: the next bind reuses the strings of this one.
            std::string lib = binding.libName, cell = binding.cellName, view = binding.viewName;
            if (!zelPushCell(pv, lib.c_str(), cell.c_str(), view.c_str(), inst.name.c_str())) continue;
            if (!atStop()) level(design.of(lib.c_str(), cell.c_str(), view.c_str()));
            zelPopCell(pv);
        }
    }
};

struct Result {
    Checksum sum;
    double seconds = 0;
    long rssAt10k = -1, rssEnd = -1;
};

Result walkOnce(ConfigRecord* config, Design& design) {
    Result r;
    auto start = std::chrono::steady_clock::now();
    PathVectorRecord* pv = zelCreatePathVector(config);
    if (!pv) {
        std::fprintf(stderr, "zel_walk_cpp: no path vector over the configuration\n");
        std::exit(1);
    }
    Walk w{pv, design, {}, {}, {}, nullptr, -1};
    w.info = &w.ownInfo;
    const char* lib = zelGetTopLibName(config);
    const char* cell = zelGetTopCellName(config);
    const char* view = zelGetTopViewName(config);
    std::string topLib = lib ? lib : "", topCell = cell ? cell : "", topView = view ? view : "";
    if (!zelPushCell(pv, topLib.c_str(), topCell.c_str(), topView.c_str(), nullptr)) {
        std::fprintf(stderr, "zel_walk_cpp: the top cell was refused\n");
        std::exit(1);
    }
    if (!w.atStop()) w.level(design.of(topLib.c_str(), topCell.c_str(), topView.c_str()));
    zelDestroyPathVector(pv);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.sum = w.sum;
    r.rssAt10k = w.rssAt10k;
    r.rssEnd = rssKiB();
    return r;
}

long warnings = 0;

void countWarning(int, const char* text) {
    if (warnings++ < 5) std::fprintf(stderr, "zel_walk_cpp: warning: %s\n", text);
}

}  // namespace

int main(int argc, char** argv) {
    std::string libs, configName = "wdesign/top/config";
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--libs" && i + 1 < argc) {
            libs = argv[++i];
        } else if (a == "--config" && i + 1 < argc) {
            configName = argv[++i];
        } else if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: zel_walk_cpp --libs FILE [--config LIB/CELL/VIEW] [--runs N]\n");
            return 2;
        }
    }
    size_t s1 = configName.find('/'), s2 = configName.find('/', s1 + 1);
    if (libs.empty() || s1 == std::string::npos || s2 == std::string::npos) {
        std::fprintf(stderr, "usage: zel_walk_cpp --libs FILE [--config LIB/CELL/VIEW] [--runs N]\n");
        return 2;
    }
    zelSetErrorHandler(countWarning);
    int32_t mipState = 0, vekState = 0;
    mipInitialize(&mipState);
    vekInitialize(libs.c_str(), nullptr, &vekState);
    ConfigRecord* config = zelOpen(configName.substr(0, s1).c_str(), configName.substr(s1 + 1, s2 - s1 - 1).c_str(),
                                   configName.substr(s2 + 1).c_str(), "r");
    if (!config) {
        std::fprintf(stderr, "zel_walk_cpp: configuration %s does not open\n", configName.c_str());
        return 1;
    }
    Design design;
    Result first = walkOnce(config, design);  // warm-up: reads the design files
    std::vector<double> rates;
    Result last = first;
    for (int k = 0; k < runs; ++k) {
        last = walkOnce(config, design);
        if (last.sum.hash != first.sum.hash || last.sum.instances != first.sum.instances) {
            std::fprintf(stderr, "zel_walk_cpp: run %d saw another walk\n", k + 1);
            return 1;
        }
        rates.push_back(static_cast<double>(last.sum.instances) / last.seconds);
    }
    std::sort(rates.begin(), rates.end());
    double median = rates[rates.size() / 2];
    if (rates.size() % 2 == 0) median = (rates[rates.size() / 2 - 1] + median) / 2;
    std::printf("C++ walk: %ld instances, %.0f instances/s (median of %d runs; min %.0f, max %.0f)\n",
                first.sum.instances, median, runs, rates.front(), rates.back());
    std::printf("C++ RSS: %ld KiB after 10,000 instances, %ld KiB at the end of the first walk (%.3f), "
                "%ld KiB after %d more\n",
                first.rssAt10k, first.rssEnd, static_cast<double>(first.rssEnd) / static_cast<double>(first.rssAt10k),
                last.rssEnd, runs);
    first.sum.print();
    if (warnings) std::printf("warnings: %ld\n", warnings);
    zelClose(config);
    return 0;
}
