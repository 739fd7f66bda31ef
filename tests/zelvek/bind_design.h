// A small design on disk for the binding and stop tests, configurations
// written as files, and the answers of a bind read the way the bridge reads
// them.
#ifndef ZELVEK_TEST_BIND_DESIGN_H
#define ZELVEK_TEST_BIND_DESIGN_H

#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"

namespace zeltest {

// Three libraries:
//   lib:   top/schematic  adder/schematic,symbol  buf/schematic,symbol
//          inv/schematic,symbol  nand2/symbol  reg/schematic
//   other: buf/schematic,symbol  inv/symbol,layout  nand2/schematic,symbol,layout
//   alt:   nand2/schematic  adder/symbol,layout
class DesignTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        const char* views[] = {
            "lib/top/schematic",   "lib/adder/schematic",   "lib/adder/symbol",     "lib/buf/schematic",
            "lib/buf/symbol",      "lib/inv/schematic",     "lib/inv/symbol",       "lib/nand2/symbol",
            "lib/reg/schematic",   "other/buf/schematic",   "other/buf/symbol",     "other/inv/symbol",
            "other/inv/layout",    "other/nand2/schematic", "other/nand2/symbol",   "other/nand2/layout",
            "alt/nand2/schematic", "alt/adder/symbol",      "alt/adder/layout",
        };
        for (const char* v : views) std::filesystem::create_directories(root + "/libs/" + v);
        writeFile(root + "/kwo.lib", "DEFINE lib libs/lib\nDEFINE other libs/other\nDEFINE alt libs/alt\n");
        int32_t state = 0;
        vekInitialize((root + "/kwo.lib").c_str(), nullptr, &state);
        warnings().clear();
    }

    void TearDown() override {
        for (PathVectorRecord* p : pathVectors_) zelDestroyPathVector(p);
        LibraryTest::TearDown();
    }

    // A configuration of lib.top:<view> holding `body` after its header.
    ConfigRecord* configWith(const std::string& body, const char* view = "config") {
        writeFile(configFile("lib", "top", view),
                  "zelvek-config 1\nlocation lib top " + std::string(view) + "\ntop lib top schematic\n" + body);
        return openConfig("lib", "top", view, "r");
    }

    PathVectorRecord* pathVector(ConfigRecord* c) {
        PathVectorRecord* p = zelCreatePathVector(c);
        if (p) pathVectors_.push_back(p);
        return p;
    }

private:
    std::vector<PathVectorRecord*> pathVectors_;
};

inline std::string joined(ZelWords words) {
    if (!words) return "(null)";
    std::string out;
    for (ZelWords w = words; *w; ++w) out += (w == words ? "" : " ") + std::string(*w);
    return out;
}

// The view list of a binding, read from viewListSource by its code.
inline std::string viewListRead(const BindInfo& info) {
    if (!info.viewListSource) return "(no source)";
    const void* s = info.viewListSource;
    switch (info.viewListRule) {
        case ZEL_RULE_DEFAULT: return str(static_cast<const ConfigRecord*>(s)->defaultViewList);
        case ZEL_RULE_LIBRARY: return str(static_cast<const LibraryRuleRecord*>(s)->viewList);
        case ZEL_RULE_CELL: return str(static_cast<const CellRecord*>(s)->viewList);
        case ZEL_RULE_INSTANCE: return str(static_cast<const InstRuleRecord*>(s)->viewList);
        case ZEL_RULE_OCCURRENCE: return str(static_cast<const OccurrenceInstance*>(s)->viewList);
        default: return "(code " + std::to_string(info.viewListRule) + ")";
    }
}

// The library set on a cell binding: the first word of the library list of
// bindingSource, when a cell rule chose the view or the library.
inline std::string libSetOnCell(const BindInfo& info) {
    bool byCell = (info.flags & ZEL_BIND_BY_RULE) && info.viewBindingRule == ZEL_RULE_CELL;
    bool altCell = (info.flags & ZEL_BIND_ALT_RULE) && info.altBindingRule == ZEL_RULE_CELL;
    if (!byCell && !altCell) return "(none)";
    const CellRecord* c = static_cast<const CellRecord*>(info.bindingSource);
    if (!c || !c->libListWords) return "(null)";
    return str(c->libListWords[0]);
}

// One bind, everything it answered.
struct Bound {
    std::string binding;        // lib.cell:view, or "open"
    int libRule, viewRule, bindRule, altRule;
    uint32_t flags;
    std::string libList, viewList;  // ResolvedLists, joined
    std::string viewListFromSource, libOnCell;
    BindInfo info;
    BindingRecord record;
    ResolvedLists* lists;
};

struct BindArgs {
    const char* inst;
    const char* lib;
    const char* cell;
    const char* view;
    bool checkDesign = true;
    bool useOccurrences = true;
    bool allowRecent = false;
};

inline Bound bindNow(PathVectorRecord* pv, const BindArgs& a) {
    Bound b{};
    b.record = BindingRecord{"stale", "stale", "stale"};
    BindInfo* info = &b.info;
    b.lists = nullptr;
    zelBind3(pv, a.inst, a.lib, a.cell, a.view, a.checkDesign, a.useOccurrences, a.allowRecent, &b.record, &b.lists,
             &info);
    b.binding = zelIsOpenBinding(&b.record)
                    ? "open"
                    : str(b.record.libName) + "." + str(b.record.cellName) + ":" + str(b.record.viewName);
    b.libRule = b.info.libListRule;
    b.viewRule = b.info.viewListRule;
    b.bindRule = b.info.viewBindingRule;
    b.altRule = b.info.altBindingRule;
    b.flags = b.info.flags;
    b.libList = b.lists ? joined(b.lists->libWords) : "(no lists)";
    b.viewList = b.lists ? joined(b.lists->expandedViewWords) : "(no lists)";
    b.viewListFromSource = viewListRead(b.info);
    b.libOnCell = libSetOnCell(b.info);
    return b;
}

}  // namespace zeltest

#endif  // ZELVEK_TEST_BIND_DESIGN_H
