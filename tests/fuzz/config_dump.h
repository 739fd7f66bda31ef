// The rules of a configuration as text, for the fuzz targets to compare a
// configuration with what a save of it reads back as.  It reads the library's
// records, not the writer's output, so a writer that drops a rule cannot hide it.
#ifndef ZEL_TESTS_FUZZ_CONFIG_DUMP_H
#define ZEL_TESTS_FUZZ_CONFIG_DUMP_H

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "zelvek/internal.h"

namespace fuzzdump {

inline std::string field(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

inline std::string field(const char* s) { return s ? field(std::string_view(s)) : "-"; }

// The comments kept with the lines of `at` that a save writes: `lines` pairs
// each line with whether it is there.
inline std::string remarks(const zel::Config& cfg, const void* at, std::initializer_list<std::pair<int, bool>> lines) {
    std::string out;
    for (const auto& [line, there] : lines) {
        auto found = cfg.remarks.find(zel::RemarkKey{at, line});
        if (there && found != cfg.remarks.end())
            out += " #" + std::to_string(line) + "=" + field(std::string_view(found->second.before)) + "/" +
                   field(std::string_view(found->second.after));
    }
    return out;
}

inline void addInstRules(const zel::Config& cfg, std::vector<std::string>& lines, const zel::Cell& cell, const char* view,
                  const zel::InstList& list) {
    size_t linked = 0;
    for (const InstRuleRecord* r = list.head ? *list.head : nullptr; r; r = r->next, ++linked) {
        const bool bound = r->bindLibName || r->bindCellName || r->bindViewName;
        lines.push_back("inst " + field(cell.rec.libName) + " " + field(cell.rec.cellName) + " " + field(view) + " " +
                        field(r->name) + " view-binding=" + field(r->viewBinding) + " views=" + field(r->viewList) +
                        " libs=" + field(r->firstValue) + " stop=" + std::to_string(r->stop != 0) + " bind=" +
                        field(r->bindLibName) + "/" + field(r->bindCellName) + "/" + field(r->bindViewName) +
                        remarks(cfg, r->owner,
                                {{zel::kStatementLine, true}, {zel::kViewBindingLine, r->viewBinding != nullptr},
                                 {zel::kViewsLine, r->viewList != nullptr}, {zel::kLibsLine, r->firstValue != nullptr},
                                 {zel::kStopLine, r->stop != 0}, {zel::kBindLine, bound}}));
    }
    if (linked != list.linkedCount) lines.push_back("inst chain of " + field(cell.rec.cellName) + " miscounted");
}

// Depth first, siblings by name, each with its depth: the tree in text that
// grows with the tree (a path per line would grow with its square).
inline void addOccurrences(const zel::Config& cfg, std::string& out, const OccurrenceRecord& list, size_t depth) {
    std::vector<const OccurrenceInstance*> occs;
    for (const OccurrenceInstance* o = list.instances; o; o = o->next) occs.push_back(o);
    std::sort(occs.begin(), occs.end(), [](const OccurrenceInstance* a, const OccurrenceInstance* b) {
        return std::string_view(a->name) < std::string_view(b->name);
    });
    for (const OccurrenceInstance* o : occs) {
        out += "occurrence " + std::to_string(depth) + " " + field(o->name) + " bind=" + field(o->bindLibName) + "/" +
               field(o->bindCellName) + "/" + field(o->bindViewName) + " stop=" + std::to_string(o->stop != 0) +
               " views=" + field(o->viewList) +
               remarks(cfg, o->owner,
                       {{zel::kStatementLine, true},
                        {zel::kBindLine, o->bindLibName || o->bindCellName || o->bindViewName},
                        {zel::kStopLine, o->stop != 0}, {zel::kViewsLine, o->viewList != nullptr}}) +
               "\n";
        if (o->children) addOccurrences(cfg, out, *o->children, depth + 1);
    }
}

// Every rule of a configuration, with the comments kept beside it, in an order
// that does not depend on how it was built.  Notes and constants keep their
// order: a save keeps it.
inline std::string dump(const zel::Config& cfg) {
    const ConfigRecord& r = cfg.rec;
    const bool top = r.topLibName || r.topCellName || r.topViewName;
    std::string out = "header" + remarks(cfg, &cfg.remarks, {{zel::kStatementLine, true}}) + "\n" + "location " +
                      field(r.libName) + " " + field(r.cellName) + " " + field(r.viewName) +
                      remarks(cfg, &r.libName, {{zel::kStatementLine, true}}) + "\n" + "revision " +
                      std::to_string(r.revision) + remarks(cfg, &r.revision, {{zel::kStatementLine, true}}) + "\n" +
                      "top " + field(r.topLibName) + " " + field(r.topCellName) + " " + field(r.topViewName) +
                      remarks(cfg, &r.topLibName, {{zel::kStatementLine, top}}) + "\n" + "defaults " +
                      field(r.defaultViewList) + " " + field(r.defaultLibList) + " " + field(r.defaultStopList) +
                      remarks(cfg, &r.defaultViewList, {{zel::kStatementLine, r.defaultViewList != nullptr}}) +
                      remarks(cfg, &r.defaultLibList, {{zel::kStatementLine, r.defaultLibList != nullptr}}) +
                      remarks(cfg, &r.defaultStopList, {{zel::kStatementLine, r.defaultStopList != nullptr}}) + "\n" +
                      "note " + field(r.noteText);
    for (size_t i = 0; i < cfg.note.size(); ++i) out += remarks(cfg, &cfg.note, {{static_cast<int>(i), true}});
    out += "\n";
    for (const ConstantEntry* c = r.constants; c; c = c->next)
        out += "constant " + field(c->name) + "=" + field(c->value) +
               remarks(cfg, c->owner, {{zel::kStatementLine, true}}) + "\n";
    std::vector<std::string> lines;
    for (const auto& entry : cfg.libRules) {
        const LibraryRuleRecord& lib = entry.second->rec;
        if (lib.viewList || lib.stopList)
            lines.push_back("library " + field(lib.libName) + " views=" + field(lib.viewList) + " stops=" +
                            field(lib.stopList) +
                            remarks(cfg, lib.owner,
                                    {{zel::kStatementLine, true}, {zel::kViewsLine, lib.viewList != nullptr},
                                     {zel::kStopsLine, lib.stopList != nullptr}}));
    }
    for (const auto& entry : cfg.cells) {
        const zel::Cell& cell = *entry.second;
        if (cell.holdsCellRule()) {
            const BindingRecord* b = cell.rec.viewBinding;
            lines.push_back("cell " + field(cell.rec.libName) + " " + field(cell.rec.cellName) + " binding=" +
                            (b ? field(b->libName) + "/" + field(b->cellName) + "/" + field(b->viewName) : "-") +
                            " views=" + field(cell.rec.viewList) + " libs=" + field(cell.rec.libList) +
                            " stop=" + std::to_string(cell.rec.stop != 0) +
                            remarks(cfg, &cell,
                                    {{zel::kStatementLine, true}, {zel::kViewBindingLine, b != nullptr},
                                     {zel::kViewsLine, cell.rec.viewList != nullptr},
                                     {zel::kLibsLine, cell.rec.libList != nullptr}, {zel::kStopLine, cell.rec.stop != 0}}));
        }
        addInstRules(cfg, lines, cell, nullptr, cell.anyView);
        for (const auto& view : cell.views)
            addInstRules(cfg, lines, cell, view.second->rec.viewName, view.second->insts);
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) out += line + "\n";
    addOccurrences(cfg, out, cfg.occRoot.rec, 0);
    out += "end " + field(std::string_view(cfg.endRemark)) + "\n";
    return out;
}

}  // namespace fuzzdump

#endif
