/*
 * Rules as written: every rule and setting of a configuration listed in the
 * order of its file, and any of them set or removed by the name the file
 * gives it (kind, scope, property), library rules and occurrence view lists
 * included.  The library definitions are answered here too, so that a tool
 * needs no reader of its own for either file.
 */
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vek/libraries.h"
#include "zelvek/format.h"
#include "zelvek/internal.h"

using namespace zel;

namespace {

const char* const kKinds = "top, default-views, default-libs, default-stops, constant, note, library, cell, inst or occurrence";

struct Names {
    std::vector<std::string> text;
    std::vector<bool> any;   // null in the list: '*'
    size_t size() const { return text.size(); }
    const std::string* orAny(size_t i) const { return any[i] ? nullptr : &text[i]; }
};

Names namesOf(const ZelStringList* list) {
    Names n;
    const int32_t count = list ? list->count : 0;
    for (int32_t i = 0; i < count; ++i) {
        const char* s = list->items ? list->items[i] : nullptr;
        n.text.push_back(s ? norm(s) : std::string());
        n.any.push_back(s == nullptr);
    }
    return n;
}

const char* valueAt(const ZelStringList* list, int32_t i) {
    return list && list->items && i < list->count ? list->items[i] : nullptr;
}

int32_t countOf(const ZelStringList* list) { return list ? list->count : 0; }

std::string named(const char* kind, const Names& scope, const char* property) {
    std::string text = kind ? kind : "(no kind)";
    for (size_t i = 0; i < scope.size(); ++i) text += scope.any[i] ? " *" : " " + q(scope.text[i]);
    if (property) text += std::string(" ") + property;
    return text;
}

// What a kind of block takes: its scope (how many names, which may be '*')
// and its properties with the number of values of each.
struct Property {
    const char* name;
    int values;
};
struct BlockKind {
    const char* kind;
    int minScope, maxScope;
    std::vector<size_t> anyAllowed;
    std::vector<Property> properties;
};

const std::vector<BlockKind>& blockKinds() {
    static const std::vector<BlockKind> kinds = {
        {"library", 1, 1, {}, {{"views", 1}, {"stops", 1}}},
        {"cell", 2, 2, {0}, {{"view-binding", 1}, {"bind", 3}, {"views", 1}, {"libs", 1}, {"stop", 0}}},
        {"inst", 4, 4, {0, 2}, {{"view-binding", 1}, {"views", 1}, {"libs", 1}, {"stop", 0}, {"bind", 3}}},
        {"occurrence", 1, ZEL_MAX_DEPTH, {}, {{"bind", 3}, {"stop", 0}, {"views", 1}}},
    };
    return kinds;
}

const BlockKind* blockKind(const char* kind) {
    for (const BlockKind& k : blockKinds())
        if (kind && std::strcmp(kind, k.kind) == 0) return &k;
    return nullptr;
}

// Checks the names of a block rule; warns and answers false when they name none.
bool scopeFits(const BlockKind& k, const char* kind, const Names& scope, const char* property, bool removing) {
    const std::string what = named(kind, scope, property);
    if (static_cast<int>(scope.size()) < k.minScope || static_cast<int>(scope.size()) > k.maxScope) {
        warn(what + ": a " + std::string(kind) + " rule is named by " +
             (k.minScope == k.maxScope ? std::to_string(k.minScope) : "1 to " + std::to_string(k.maxScope)) +
             " names, not " + std::to_string(scope.size()));
        return false;
    }
    for (size_t i = 0; i < scope.size(); ++i) {
        const bool anyOk = std::find(k.anyAllowed.begin(), k.anyAllowed.end(), i) != k.anyAllowed.end();
        if (scope.any[i] && !anyOk) {
            warn(what + ": name " + std::to_string(i + 1) + " of a " + kind + " rule cannot be '*'");
            return false;
        }
        if (!scope.any[i] && scope.text[i].empty()) {
            warn(what + ": name " + std::to_string(i + 1) + " is empty");
            return false;
        }
    }
    if (!property) {
        if (removing) return true;
        warn(what + ": name the property to set");
        return false;
    }
    for (const Property& p : k.properties)
        if (std::strcmp(p.name, property) == 0) return true;
    std::string known;
    for (const Property& p : k.properties) known += (known.empty() ? "" : ", ") + std::string(p.name);
    warn(what + ": " + q(property) + " is no property of a " + kind + " rule; it takes " + known);
    return false;
}

int valuesOf(const BlockKind& k, const char* property) {
    for (const Property& p : k.properties)
        if (std::strcmp(p.name, property) == 0) return p.values;
    return 0;
}

// The existing occurrence at path, or null.
Occ* findOcc(Config& cfg, const Names& path) {
    OccList* list = &cfg.occRoot;
    Occ* occ = nullptr;
    for (const std::string& name : path.text) {
        auto found = list->byName.find(name);
        if (found == list->byName.end()) return nullptr;
        occ = found->second.get();
        list = &occ->below;
    }
    return occ;
}

Occ& occAt(Config& cfg, const Names& path) {
    OccList* list = &cfg.occRoot;
    Occ* occ = nullptr;
    for (const std::string& name : path.text) {
        occ = &occFor(cfg, *list, name);
        linkOcc(*occ);
        list = &occ->below;
    }
    return *occ;
}

InstRule* findInst(Config& cfg, const Names& s) {
    auto foundCell = cfg.cells.find(cellKey(s.orAny(0), s.text[1]));
    if (foundCell == cfg.cells.end()) return nullptr;
    Cell* cell = foundCell->second.get();
    InstList* list = &cell->anyView;
    if (!s.any[2]) {
        auto view = cell->views.find(s.text[2]);
        if (view == cell->views.end()) return nullptr;
        list = &view->second->insts;
    }
    auto found = list->byName.find(s.text[3]);
    return found == list->byName.end() ? nullptr : found->second.get();
}

Cell* existingCell(Config& cfg, const Names& s) {
    auto found = cfg.cells.find(cellKey(s.orAny(0), s.text[1]));
    return found == cfg.cells.end() ? nullptr : found->second.get();
}

// Sets (values given) or clears (null) one property of a block; the answer
// tells whether it held anything before.
bool changeBlock(Config& cfg, const char* kind, const Names& s, const char* property, const ZelStringList* values,
                 bool set) {
    auto v = [&](int32_t i) { return set ? valueAt(values, i) : nullptr; };
    auto is = [&](const char* name) { return std::strcmp(property, name) == 0; };
    bool held = false;
    auto field = [&](const char*& f, const char* value) {
        held = held || f != nullptr;
        setText(f, value);
    };
    if (std::strcmp(kind, "library") == 0) {
        if (!set && cfg.libRules.find(s.text[0]) == cfg.libRules.end()) return false;
        LibRule& lib = libRuleFor(cfg, s.text[0]);
        field(is("views") ? lib.rec.viewList : lib.rec.stopList, v(0));
    } else if (std::strcmp(kind, "cell") == 0) {
        Cell* existing = existingCell(cfg, s);
        if (!set && !existing) return false;
        Cell& c = existing ? *existing : cellFor(cfg, s.orAny(0), s.text[1]);
        if (is("view-binding") || is("bind")) {
            held = c.binding.libName || c.binding.cellName || c.binding.viewName;
            if (is("bind")) {
                setCellBinding(c, v(0), v(1), v(2));
            } else {
                setCellBinding(c, nullptr, nullptr, v(0));
            }
        } else if (is("views")) {
            field(c.rec.viewList, v(0));
        } else if (is("libs")) {
            held = c.rec.libList != nullptr;
            setLibList(c, v(0));
        } else {
            held = c.rec.stop != 0;
            c.rec.stop = set ? 1 : 0;
        }
        afterChange(c);
    } else if (std::strcmp(kind, "inst") == 0) {
        InstRule* existing = findInst(cfg, s);
        if (!set && !existing) return false;
        InstRule* rule = existing;
        if (!rule) {
            Cell& c = cellFor(cfg, s.orAny(0), s.text[1]);
            rule = &instFor(s.any[2] ? c.anyView : cellViewFor(c, s.text[2]).insts, s.text[3]);
        }
        InstRuleRecord& r = rule->rec;
        if (is("view-binding")) {
            field(r.viewBinding, v(0));
        } else if (is("views")) {
            field(r.viewList, v(0));
        } else if (is("libs")) {
            field(r.firstValue, v(0));
        } else if (is("stop")) {
            held = r.stop != 0;
            r.stop = set ? 1 : 0;
        } else {
            held = r.bindLibName || r.bindCellName || r.bindViewName;
            setText(r.bindLibName, v(0));
            setText(r.bindCellName, v(1));
            setText(r.bindViewName, v(2));
        }
        afterChange(*rule);
    } else {
        Occ* existing = findOcc(cfg, s);
        if (!set && !existing) return false;
        Occ& occ = existing ? *existing : occAt(cfg, s);
        OccurrenceInstance& r = occ.rec;
        if (is("bind")) {
            held = r.bindLibName || r.bindCellName || r.bindViewName;
            setText(r.bindLibName, v(0));
            setText(r.bindCellName, v(1));
            setText(r.bindViewName, v(2));
        } else if (is("stop")) {
            held = r.stop != 0;
            r.stop = set ? 1 : 0;
        } else {
            field(r.viewList, v(0));
        }
        afterChange(occ);
    }
    return held;
}

bool isSetting(const char* kind) {
    for (const char* k : {"top", "default-views", "default-libs", "default-stops", "constant", "note"})
        if (std::strcmp(kind, k) == 0) return true;
    return false;
}

const char*& defaultList(Config& cfg, const char* kind) {
    if (std::strcmp(kind, "default-views") == 0) return cfg.rec.defaultViewList;
    if (std::strcmp(kind, "default-libs") == 0) return cfg.rec.defaultLibList;
    return cfg.rec.defaultStopList;
}

// One setting: set (values given) or removed.  False when refused, or when
// there was nothing to remove.
ZelBool changeSetting(Config& cfg, const char* kind, const Names& scope, const ZelStringList* values, bool set) {
    const std::string what = named(kind, scope, nullptr);
    const bool constant = std::strcmp(kind, "constant") == 0;
    if (scope.size() != (constant ? 1u : 0u) || (constant && (scope.any[0] || scope.text[0].empty()))) {
        warn(what + ": " + (constant ? "a constant is named by its name alone" : std::string(kind) + " takes no name"));
        return 0;
    }
    const int32_t n = countOf(values);
    if (std::strcmp(kind, "note") == 0) {
        if (!set) {
            if (cfg.note.empty()) return 0;
            clearNote(cfg);
        } else {
            clearNote(cfg);
            for (int32_t i = 0; i < n; ++i) appendNoteLine(cfg, norm(valueAt(values, i) ? valueAt(values, i) : ""));
        }
    } else if (std::strcmp(kind, "top") == 0) {
        if (set && n != 3) {
            warn(what + " takes 3 values (library, cell, view), not " + std::to_string(n));
            return 0;
        }
        if (!set && !cfg.rec.topLibName && !cfg.rec.topCellName && !cfg.rec.topViewName) return 0;
        setText(cfg.rec.topLibName, set ? valueAt(values, 0) : nullptr);
        setText(cfg.rec.topCellName, set ? valueAt(values, 1) : nullptr);
        setText(cfg.rec.topViewName, set ? valueAt(values, 2) : nullptr);
    } else {
        if (set && n != 1) {
            warn(what + " takes 1 value, not " + std::to_string(n));
            return 0;
        }
        if (constant) {
            const std::string& name = scope.text[0];
            auto found = cfg.constants.find(name);
            const bool had = found != cfg.constants.end() && found->second->linked;
            if (!set && !had) return 0;
            defineConstant(cfg, name, set ? valueAt(values, 0) : nullptr);
        } else {
            const char*& field = defaultList(cfg, kind);
            if (!set && !field) return 0;
            setText(field, set ? valueAt(values, 0) : nullptr);
        }
    }
    editedSettings(cfg);
    return 1;
}

ZelBool change(ConfigRecord* config, const char* kind, const ZelStringList* scopeList, const char* property,
               const ZelStringList* values, bool set) {
    Config* cfg = configOf(config);
    if (!cfg) return 0;
    const Names scope = namesOf(scopeList);
    if (!kind || (!isSetting(kind) && !blockKind(kind))) {
        warn(named(kind, scope, property) + ": unknown kind of rule; expected " + kKinds);
        return 0;
    }
    if (isSetting(kind)) {
        if (property) {
            warn(named(kind, scope, property) + ": " + kind + " is a setting and has no properties");
            return 0;
        }
        return changeSetting(*cfg, kind, scope, values, set);
    }
    const BlockKind& k = *blockKind(kind);
    if (!scopeFits(k, kind, scope, property, !set)) return 0;
    if (set) {
        const int wanted = valuesOf(k, property);
        if (countOf(values) != wanted) {
            warn(named(kind, scope, property) + " takes " + std::to_string(wanted) + " value" +
                 (wanted == 1 ? "" : "s") + ", not " + std::to_string(countOf(values)));
            return 0;
        }
        changeBlock(*cfg, kind, scope, property, values, true);
        edited(*cfg);
        return 1;
    }
    bool held = false;
    if (property) {
        held = changeBlock(*cfg, kind, scope, property, nullptr, false);
    } else {
        for (const Property& p : k.properties) held = changeBlock(*cfg, kind, scope, p.name, nullptr, false) || held;
    }
    if (held) edited(*cfg);
    return held ? 1 : 0;
}

ZelStringList* newList(const std::vector<std::string>& items) {
    // One block: the list, the pointers, then the texts.
    size_t bytes = sizeof(ZelStringList) + items.size() * sizeof(const char*);
    for (const std::string& s : items) bytes += s.size() + 1;
    char* block = static_cast<char*>(std::malloc(bytes));
    if (!block) return nullptr;
    auto* list = reinterpret_cast<ZelStringList*>(block);
    auto** pointers = reinterpret_cast<const char**>(block + sizeof(ZelStringList));
    char* text = block + sizeof(ZelStringList) + items.size() * sizeof(const char*);
    for (size_t i = 0; i < items.size(); ++i) {
        std::memcpy(text, items[i].c_str(), items[i].size() + 1);
        pointers[i] = text;
        text += items[i].size() + 1;
    }
    list->count = static_cast<int32_t>(items.size());
    list->items = pointers;
    return list;
}

}  // namespace

const ZelStringList* zelListRules(ConfigRecord* config) {
    Config* cfg = configOf(config);
    if (!cfg) return nullptr;
    listRules(*cfg);
    return &cfg->listing->list;
}

ZelBool zelSetRule(ConfigRecord* config, const char* kind, const ZelStringList* scope, const char* property,
                   const ZelStringList* values) {
    return change(config, kind, scope, property, values, true);
}

ZelBool zelRemoveRule(ConfigRecord* config, const char* kind, const ZelStringList* scope, const char* property) {
    return change(config, kind, scope, property, nullptr, false);
}

ZelBool zelSetRuleComment(ConfigRecord* config, const char* kind, const ZelStringList* scopeList, const char* property,
                          const char* comment) {
    Config* cfg = configOf(config);
    if (!cfg || !kind || !property || !comment || !*comment) return 0;
    const BlockKind* k = blockKind(kind);
    const Names s = namesOf(scopeList);
    if (!k || !scopeFits(*k, kind, s, property, false)) return 0;
    const void* owner = nullptr;
    const std::string block = kind;
    if (block == "library") {
        auto found = cfg->libRules.find(s.text[0]);
        if (found != cfg->libRules.end()) owner = found->second.get();
    } else if (block == "cell") {
        owner = existingCell(*cfg, s);
    } else if (block == "inst") {
        owner = findInst(*cfg, s);
    } else {
        owner = findOcc(*cfg, s);
    }
    if (!owner) return 0;
    const std::string p = property;
    const int line = p == "views" ? kViewsLine : p == "libs" ? kLibsLine : p == "stop" ? kStopLine
                   : p == "stops" ? kStopsLine : p == "view-binding" || block == "cell" ? kViewBindingLine : kBindLine;
    // A line of the file, or one that has its remark, keeps what it has.
    auto known = [&](const RemarkKey& key) {
        if (cfg->remarks.count(key)) return true;
        for (const LayoutLine& l : cfg->layout.lines)
            if (l.key == key) return true;
        return false;
    };
    const RemarkKey statement{owner, kStatementLine}, own{owner, line};
    if (known(own)) return 0;
    // A block new to the file gets the comment above it, as it was read.
    const RemarkKey at = known(statement) ? own : statement;
    std::string before;
    for (size_t i = 0; i <= std::strlen(comment);) {
        const char* start = comment + i;
        const size_t n = std::strcspn(start, "\n");
        if (n > 0) before += (start[0] == '#' ? "" : "# ") + std::string(start, n) + "\n";
        i += n + 1;
    }
    cfg->remarks[at].before = before;
    return 1;
}

ZelStringList* zelListLibraries(int32_t which) {
    return newList(which == 0 ? vek::libraryListing() : vek::definitionProblems());
}

void zelFreeStringList(ZelStringList* list) {
    std::free(list);
}
