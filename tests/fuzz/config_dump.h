// The rules of a configuration as text, for the fuzz targets to compare a
// configuration with what a save of it reads back as.  It reads the library's
// records, not the writer's output, so a writer that drops a rule cannot hide it.
#ifndef ZEL_TESTS_FUZZ_CONFIG_DUMP_H
#define ZEL_TESTS_FUZZ_CONFIG_DUMP_H

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "zelvek/internal.h"

namespace fuzzdump {

inline std::string field(const char* s) {
    if (!s) return "-";
    std::string out = "\"";
    for (char c : std::string_view(s)) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

inline void addInstRules(std::vector<std::string>& lines, const zel::Cell& cell, const char* view,
                  const zel::InstList& list) {
    size_t linked = 0;
    for (const InstRuleRecord* r = list.head ? *list.head : nullptr; r; r = r->next, ++linked) {
        lines.push_back("inst " + field(cell.rec.libName) + " " + field(cell.rec.cellName) + " " + field(view) + " " +
                        field(r->name) + " view-binding=" + field(r->viewBinding) + " views=" + field(r->viewList) +
                        " libs=" + field(r->firstValue) + " stop=" + std::to_string(r->stop != 0) + " bind=" +
                        field(r->bindLibName) + "/" + field(r->bindCellName) + "/" + field(r->bindViewName));
    }
    if (linked != list.linkedCount) lines.push_back("inst chain of " + field(cell.rec.cellName) + " miscounted");
}

// Depth first, siblings by name, each with its depth: the tree in text that
// grows with the tree (a path per line would grow with its square).
inline void addOccurrences(std::string& out, const OccurrenceRecord& list, size_t depth) {
    std::vector<const OccurrenceInstance*> occs;
    for (const OccurrenceInstance* o = list.instances; o; o = o->next) occs.push_back(o);
    std::sort(occs.begin(), occs.end(), [](const OccurrenceInstance* a, const OccurrenceInstance* b) {
        return std::string_view(a->name) < std::string_view(b->name);
    });
    for (const OccurrenceInstance* o : occs) {
        out += "occurrence " + std::to_string(depth) + " " + field(o->name) + " bind=" + field(o->bindLibName) + "/" +
               field(o->bindCellName) + "/" + field(o->bindViewName) + " stop=" + std::to_string(o->stop != 0) +
               " views=" + field(o->viewList) + "\n";
        if (o->children) addOccurrences(out, *o->children, depth + 1);
    }
}

// Every rule of a configuration, in an order that does not depend on how it
// was built.  Notes and constants keep their order: a save keeps it.
inline std::string dump(const zel::Config& cfg) {
    const ConfigRecord& r = cfg.rec;
    std::string out = "location " + field(r.libName) + " " + field(r.cellName) + " " + field(r.viewName) + "\n" +
                      "revision " + std::to_string(r.revision) + "\n" + "top " + field(r.topLibName) + " " +
                      field(r.topCellName) + " " + field(r.topViewName) + "\n" + "defaults " +
                      field(r.defaultViewList) + " " + field(r.defaultLibList) + " " + field(r.defaultStopList) + "\n" +
                      "note " + field(r.noteText) + "\n";
    for (const ConstantEntry* c = r.constants; c; c = c->next) out += "constant " + field(c->name) + "=" + field(c->value) + "\n";
    std::vector<std::string> lines;
    for (const auto& entry : cfg.libRules) {
        const LibraryRuleRecord& lib = entry.second->rec;
        if (lib.viewList || lib.stopList)
            lines.push_back("library " + field(lib.libName) + " views=" + field(lib.viewList) + " stops=" +
                            field(lib.stopList));
    }
    for (const auto& entry : cfg.cells) {
        const zel::Cell& cell = *entry.second;
        if (cell.holdsCellRule()) {
            const BindingRecord* b = cell.rec.viewBinding;
            lines.push_back("cell " + field(cell.rec.libName) + " " + field(cell.rec.cellName) + " binding=" +
                            (b ? field(b->libName) + "/" + field(b->cellName) + "/" + field(b->viewName) : "-") +
                            " views=" + field(cell.rec.viewList) + " libs=" + field(cell.rec.libList) +
                            " stop=" + std::to_string(cell.rec.stop != 0));
        }
        addInstRules(lines, cell, nullptr, cell.anyView);
        for (const auto& view : cell.views) addInstRules(lines, cell, view.second->rec.viewName, view.second->insts);
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) out += line + "\n";
    addOccurrences(out, cfg.occRoot.rec, 0);
    return out;
}

}  // namespace fuzzdump

#endif
