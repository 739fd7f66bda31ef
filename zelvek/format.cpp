/*
 * The configuration file format (docs/config-format.md): one statement a
 * line, blocks of indented properties, "quoted" text for any name or value,
 * '-' for "no value", '*' for "any library" or "any view", '#' comments.
 */
#include "zelvek/format.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "vek/text.h"

namespace zel {

namespace {

constexpr int kFormatVersion = 1;
// The first line of every file a save writes; read back, it is not a person's.
constexpr std::string_view kHeaderComment = "# zelvek hierarchy configuration";
// The instances of the deepest path a path vector reaches: one below each of
// its levels.
constexpr size_t kMaxOccurrenceDepth = ZEL_MAX_DEPTH;
// The words of a line that the reader keeps: "occurrence", the deepest path,
// and one more to show where a longer line goes wrong.
constexpr size_t kMaxTokens = kMaxOccurrenceDepth + 2;

// ---- writing ----------------------------------------------------------------

bool isSpecial(uint32_t cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || (cp >= 0xD800 && cp <= 0xDFFF) ||
           cp == 0x2028 || cp == 0x2029 || cp == 0xFEFF;
}

bool isSpaceLike(uint32_t cp) {
    return cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200B) || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

// Whether a name can stand unquoted and read back the same.
bool canBeBare(std::string_view s) {
    if (s.empty() || s[0] == '#' || s == "-" || s == "*") return false;
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if (b <= 0x20 || b == 0x7F || b == '"' || b == '\\') return false;
            ++i;
            continue;
        }
        uint32_t cp = vek::nextCodePoint(s, i);
        if (isSpecial(cp) || isSpaceLike(cp)) return false;
    }
    return true;
}

void appendStandard(std::string& out, std::string_view s) {
    if (vek::isPlainAscii(s)) {
        out.append(s);
        return;
    }
    size_t i = 0;
    while (i < s.size()) vek::appendUtf8(out, vek::nextCodePoint(s, i));
}

void appendQuoted(std::string& out, std::string_view s) {
    out += '"';
    size_t i = 0;
    while (i < s.size()) {
        uint32_t cp = vek::nextCodePoint(s, i);
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (isSpecial(cp)) {
                    char hex[16];
                    std::snprintf(hex, sizeof hex, "\\u{%X}", static_cast<unsigned>(cp));
                    out += hex;
                } else {
                    vek::appendUtf8(out, cp);
                }
        }
    }
    out += '"';
}

// A blank and one token: '-' for no value, the name bare when it can be.
void token(std::string& out, const char* s) {
    out += ' ';
    if (!s) {
        out += '-';
    } else if (canBeBare(s)) {
        appendStandard(out, s);
    } else {
        appendQuoted(out, s);
    }
}

void anyOr(std::string& out, const char* s) {
    if (s) {
        token(out, s);
    } else {
        out += " *";
    }
}

// ---- the lines a configuration is written as ---------------------------------

// One line that the canonical form writes: a statement or a property.
struct Unit {
    RemarkKey key;
    size_t head = 0;        // the unit of its block's statement; its own index for a statement
    int group = 0;          // what kind of statement it is (or lies in), in the canonical order
    std::string text;       // as written, without comment and line end
    // What a listing tells (filled when asked for).
    const char* kind = nullptr;
    const char* property = nullptr;
    std::vector<const char*> scope, values;
    bool rule = false;      // a rule or setting of its own, as opposed to a block's statement or the header
};

enum Group { kHeaderGroup, kLocationGroup, kRevisionGroup, kTopGroup, kDefaultViewsGroup, kDefaultLibsGroup,
             kDefaultStopsGroup, kConstantGroup, kNoteGroup, kLibraryGroup, kCellGroup, kOccurrenceGroup };

bool before(const char* a, const char* b) {
    if (!a || !b) return a == nullptr && b != nullptr;  // "any" first
    return std::strcmp(a, b) < 0;
}

std::vector<const InstRule*> sortedRules(const InstList& list, bool sorted) {
    std::vector<const InstRule*> rules;
    rules.reserve(list.linkedCount);
    for (const InstRuleRecord* r = *list.head; r; r = r->next) rules.push_back(static_cast<const InstRule*>(r->owner));
    if (sorted)
        std::sort(rules.begin(), rules.end(),
              [](const InstRule* a, const InstRule* b) { return std::strcmp(a->rec.name, b->rec.name) < 0; });
    return rules;
}

// The canonical form as units, in its order (docs/config-format.md); in no
// particular order when `sorted` is false (what each line says is the same).
class Units {
public:
    Units(const Config& cfg, intptr_t revision, bool fields, bool sorted = true)
        : cfg_(cfg), fields_(fields), sorted_(sorted) {
        const ConfigRecord& r = cfg.rec;
        statement(&cfg.remarks, kHeaderGroup, nullptr, "zelvek-config " + std::to_string(kFormatVersion), {});
        statement(&r.libName, kLocationGroup, nullptr, words("location", {r.libName, r.cellName, r.viewName}), {});
        statement(&r.revision, kRevisionGroup, nullptr, "revision " + std::to_string(revision), {});
        if (r.topLibName || r.topCellName || r.topViewName) {
            setting(&r.topLibName, kStatementLine, kTopGroup, "top", {}, {r.topLibName, r.topCellName, r.topViewName});
        }
        if (r.defaultViewList) setting(&r.defaultViewList, kStatementLine, kDefaultViewsGroup, "default-views", {}, {r.defaultViewList});
        if (r.defaultLibList) setting(&r.defaultLibList, kStatementLine, kDefaultLibsGroup, "default-libs", {}, {r.defaultLibList});
        if (r.defaultStopList) setting(&r.defaultStopList, kStatementLine, kDefaultStopsGroup, "default-stops", {}, {r.defaultStopList});
        for (const ConstantEntry* c = r.constants; c; c = c->next)
            setting(c->owner, kStatementLine, kConstantGroup, "constant", {c->name}, {c->value});
        for (size_t i = 0; i < cfg.note.size(); ++i)
            setting(&cfg.note, static_cast<int>(i), kNoteGroup, "note", {}, {cfg.note[i].c_str()});

        std::vector<const LibRule*> libs;
        for (const auto& entry : cfg.libRules)
            if (entry.second->rec.viewList || entry.second->rec.stopList) libs.push_back(entry.second.get());
        if (sorted_)
            std::sort(libs.begin(), libs.end(),
                      [](const LibRule* a, const LibRule* b) { return std::strcmp(a->rec.libName, b->rec.libName) < 0; });
        for (const LibRule* lib : libs) {
            const size_t head = statement(lib, kLibraryGroup, "library", words("library", {lib->rec.libName}),
                                          {lib->rec.libName});
            property(head, lib, kViewsLine, "views", {lib->rec.viewList});
            property(head, lib, kStopsLine, "stops", {lib->rec.stopList});
        }

        std::vector<const Cell*> cells;
        cells.reserve(cfg.cells.size());
        for (const auto& entry : cfg.cells)
            if (entry.second->live()) cells.push_back(entry.second.get());
        if (sorted_)
            std::sort(cells.begin(), cells.end(), [](const Cell* a, const Cell* b) {
                if (!sameText(a->rec.libName, b->rec.libName)) return before(a->rec.libName, b->rec.libName);
                return std::strcmp(a->rec.cellName, b->rec.cellName) < 0;
            });
        for (const Cell* cell : cells) addCell(*cell);

        std::vector<const char*> path;
        addOccurrences(cfg.occRoot, path);
    }

    std::vector<Unit> all;

private:
    // A keyword and names, as a line writes them ('-' for null).
    static std::string words(const char* keyword, std::initializer_list<const char*> names) {
        std::string text = keyword;
        for (const char* name : names) token(text, name);
        return text;
    }

    size_t statement(const void* at, int group, const char* kind, std::string text, std::vector<const char*> scope) {
        Unit u;
        u.key = RemarkKey{at, kStatementLine};
        u.head = all.size();
        u.group = group;
        u.text = std::move(text);
        if (fields_) {
            u.kind = kind;
            u.scope = std::move(scope);
        }
        all.push_back(std::move(u));
        return all.size() - 1;
    }

    void setting(const void* at, int line, int group, const char* kind, std::vector<const char*> scope,
                 std::vector<const char*> values) {
        Unit u;
        u.key = RemarkKey{at, line};
        u.head = all.size();
        u.group = group;
        u.text = kind;
        for (const char* name : scope) token(u.text, name);
        for (const char* value : values) token(u.text, value);
        u.rule = true;
        if (fields_) {
            u.kind = kind;
            u.scope = std::move(scope);
            u.values = std::move(values);
        }
        all.push_back(std::move(u));
    }

    // A property line "  NAME VALUES..."; one null value: not written.
    void property(size_t head, const void* at, int line, const char* name, std::vector<const char*> values,
                  bool flag = false) {
        if (!flag && values.size() == 1 && values[0] == nullptr) return;
        Unit u;
        u.key = RemarkKey{at, line};
        u.head = head;
        u.group = all[head].group;
        u.text = "  ";
        u.text += name;
        for (const char* value : values) token(u.text, value);
        u.rule = true;
        if (fields_) {
            u.kind = all[head].kind;
            u.property = name;
            u.scope = all[head].scope;
            u.values = std::move(values);
        }
        all.push_back(std::move(u));
    }

    void addInstRules(const Cell& cell, const char* view, const InstList& list) {
        for (const InstRule* rule : sortedRules(list, sorted_)) {
            const InstRuleRecord& r = rule->rec;
            std::string text = "inst";
            anyOr(text, cell.rec.libName);
            token(text, cell.rec.cellName);
            anyOr(text, view);
            token(text, r.name);
            const size_t head = statement(rule, kCellGroup, "inst", std::move(text),
                                          {cell.rec.libName, cell.rec.cellName, view, r.name});
            property(head, rule, kViewBindingLine, "view-binding", {r.viewBinding});
            property(head, rule, kViewsLine, "views", {r.viewList});
            property(head, rule, kLibsLine, "libs", {r.firstValue});
            if (r.stop) property(head, rule, kStopLine, "stop", {}, true);
            if (r.bindLibName || r.bindCellName || r.bindViewName)
                property(head, rule, kBindLine, "bind", {r.bindLibName, r.bindCellName, r.bindViewName}, true);
        }
    }

    void addCell(const Cell& cell) {
        const CellRecord& r = cell.rec;
        if (cell.holdsCellRule()) {
            std::string text = "cell";
            anyOr(text, r.libName);
            token(text, r.cellName);
            const size_t head = statement(&cell, kCellGroup, "cell", std::move(text), {r.libName, r.cellName});
            const BindingRecord& b = cell.binding;
            if (b.libName || b.cellName) {
                property(head, &cell, kViewBindingLine, "bind", {b.libName, b.cellName, b.viewName}, true);
            } else {
                property(head, &cell, kViewBindingLine, "view-binding", {b.viewName});
            }
            property(head, &cell, kViewsLine, "views", {r.viewList});
            property(head, &cell, kLibsLine, "libs", {r.libList});
            if (r.stop) property(head, &cell, kStopLine, "stop", {}, true);
        }
        if (cell.anyView.linkedCount) addInstRules(cell, nullptr, cell.anyView);
        std::vector<const CellView*> views;
        for (const auto& entry : cell.views)
            if (entry.second->insts.linkedCount) views.push_back(entry.second.get());
        if (sorted_)
            std::sort(views.begin(), views.end(), [](const CellView* a, const CellView* b) {
                return std::strcmp(a->rec.viewName, b->rec.viewName) < 0;
            });
        for (const CellView* v : views) addInstRules(cell, v->rec.viewName, v->insts);
    }

    void addOccurrences(const OccList& list, std::vector<const char*>& path) {
        std::vector<const Occ*> occs;
        for (const OccurrenceInstance* oi = list.rec.instances; oi; oi = oi->next)
            occs.push_back(static_cast<const Occ*>(oi->owner));
        if (sorted_)
            std::sort(occs.begin(), occs.end(),
                      [](const Occ* a, const Occ* b) { return std::strcmp(a->rec.name, b->rec.name) < 0; });
        for (const Occ* occ : occs) {
            path.push_back(occ->rec.name);
            const OccurrenceInstance& r = occ->rec;
            // A node that holds nothing is implied by the paths below it; one
            // that a comment heads is written for the comment's sake.
            const bool commented = !cfg_.remarks.empty() && cfg_.remarks.count(RemarkKey{occ, kStatementLine});
            if (occ->holdsRule() || !occ->below.rec.instances || commented) {
                std::string text = "occurrence";
                for (const char* name : path) token(text, name);
                const size_t head = statement(occ, kOccurrenceGroup, "occurrence", std::move(text), path);
                if (r.bindLibName || r.bindCellName || r.bindViewName)
                    property(head, occ, kBindLine, "bind", {r.bindLibName, r.bindCellName, r.bindViewName}, true);
                if (r.stop) property(head, occ, kStopLine, "stop", {}, true);
                property(head, occ, kViewsLine, "views", {r.viewList});
            }
            addOccurrences(occ->below, path);
            path.pop_back();
        }
    }

    const Config& cfg_;
    bool fields_;
    bool sorted_;
};

// What a line says, in a word: equal texts give equal hashes; never 0.
uint64_t said(std::string_view text) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h != 0 ? h : 1;
}

// One step of writing: comment lines kept, a line of the file kept or made
// anew, or a unit that the file did not hold.
struct Step {
    enum Kind { Comments, Kept, Changed, Added } kind = Comments;
    std::string comments;   // Comments: whole lines, each ended by '\n'
    size_t line = 0;        // Kept, Changed: the line of the layout
    bool last = false;      // holds the last line of the layout
    long unit = -1;         // Kept (or -1: a line of no unit now), Changed, Added
};

// The lines that go before text a person wrote: blank ones at its start stay
// when the comment goes.
std::string leadingBlanks(const std::string& comments) {
    size_t end = 0;
    while (end < comments.size()) {
        const size_t eol = comments.find('\n', end);
        if (eol == std::string::npos) break;
        std::string_view line(comments.data() + end, eol - end);
        if (line.find_first_not_of(" \t\r") != std::string_view::npos) break;
        end = eol + 1;
    }
    return comments.substr(0, end);
}

// The order in which a save writes the units: the lines of the file as they
// were, those of rules that changed made anew, those of rules gone left out
// with their comments, and new units where a person would put them: after the
// last of their kind that sorts before them (so a sorted file stays sorted),
// else before the first of their kind, a property in its block.
std::vector<Step> plan(const Config& cfg, const std::vector<Unit>& units) {
    std::vector<Step> steps;
    const Layout& layout = cfg.layout;
    if (!layout.known) {
        for (size_t i = 0; i < units.size(); ++i) {
            Step s;
            s.kind = Step::Added;
            s.unit = static_cast<long>(i);
            steps.push_back(s);
        }
        return steps;
    }
    std::unordered_map<RemarkKey, size_t, RemarkKeyHash> byKey;
    byKey.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) byKey.emplace(units[i].key, i);
    std::unordered_map<RemarkKey, size_t, RemarkKeyHash> lastLine;
    for (size_t i = 0; i < layout.lines.size(); ++i)
        if (layout.lines[i].key.at) lastLine[layout.lines[i].key] = i;

    std::vector<bool> placed(units.size(), false);
    std::vector<Step> kept;  // the file's lines, then the new units go in among them
    std::string pending;
    for (size_t i = 0; i < layout.lines.size(); ++i) {
        const LayoutLine& l = layout.lines[i];
        std::string_view raw(layout.text.data() + l.offset, l.length);
        if (!l.key.at) {
            pending.append(raw);
            pending += '\n';
            continue;
        }
        auto found = byKey.find(l.key);
        const long unit = found != byKey.end() ? static_cast<long>(found->second) : -1;
        const uint64_t now = unit >= 0 ? said(units[unit].text) : 0;
        Step s;
        s.line = i;
        s.unit = unit;
        if (now == l.said) {
            s.kind = Step::Kept;
        } else if (unit < 0) {
            pending = leadingBlanks(pending);  // a rule gone takes its comment with it
            continue;
        } else if (lastLine[l.key] != i) {
            continue;  // said again below: the last line takes the new value
        } else if (units[unit].group == kNoteGroup) {
            // Note lines are known by their place: another text is another line.
            pending = leadingBlanks(pending);
            continue;
        } else {
            s.kind = Step::Changed;
        }
        if (unit >= 0) placed[unit] = true;
        if (!pending.empty()) {
            Step c;
            c.comments.swap(pending);
            kept.push_back(std::move(c));
        }
        kept.push_back(std::move(s));
    }

    // Where the new units go: after (or before) the step of a unit placed.
    struct Anchor {
        size_t unit, step;
    };
    std::vector<std::vector<Anchor>> ofGroup(kOccurrenceGroup + 1);
    std::unordered_map<size_t, std::vector<Anchor>> ofBlock;
    std::vector<size_t> blockEnd(kept.size());
    for (size_t k = kept.size(); k-- > 0;) {
        const Step& s = kept[k];
        blockEnd[k] = k;
        if (s.kind == Step::Comments || s.unit < 0) continue;
        const Unit& u = units[s.unit];
        ofBlock[u.head].push_back(Anchor{static_cast<size_t>(s.unit), k});
        if (u.head == static_cast<size_t>(s.unit)) {
            ofGroup[u.group].push_back(Anchor{static_cast<size_t>(s.unit), k});
            // The block runs on over its properties (and comments among them).
            size_t end = k;
            for (size_t j = k + 1; j < kept.size(); ++j) {
                if (kept[j].kind == Step::Comments) continue;
                if (kept[j].unit < 0 || units[kept[j].unit].head != static_cast<size_t>(s.unit) ||
                    units[kept[j].unit].head == static_cast<size_t>(kept[j].unit))
                    break;
                end = j;
            }
            blockEnd[k] = end;
        }
    }
    auto byUnit = [](const Anchor& a, const Anchor& b) { return a.unit < b.unit; };
    for (auto& g : ofGroup) std::sort(g.begin(), g.end(), byUnit);
    for (auto& b : ofBlock) std::sort(b.second.begin(), b.second.end(), byUnit);
    std::vector<Anchor> allStatements;
    for (const auto& g : ofGroup) allStatements.insert(allStatements.end(), g.begin(), g.end());
    std::sort(allStatements.begin(), allStatements.end(), byUnit);

    // The new units before and after each step; those of a new block follow its statement.
    std::vector<std::vector<size_t>> beforeStep(kept.size()), afterStep(kept.size()), propsAfter(kept.size());
    std::vector<size_t> first;  // before everything (no anchor at all)
    std::unordered_map<size_t, std::vector<size_t>> newBlock;
    auto lastBelow = [](const std::vector<Anchor>& v, size_t unit) -> const Anchor* {
        auto it = std::lower_bound(v.begin(), v.end(), Anchor{unit, 0},
                                   [](const Anchor& a, const Anchor& b) { return a.unit < b.unit; });
        return it == v.begin() ? nullptr : &*(it - 1);
    };
    auto firstAbove = [](const std::vector<Anchor>& v, size_t unit) -> const Anchor* {
        auto it = std::upper_bound(v.begin(), v.end(), Anchor{unit, 0},
                                   [](const Anchor& a, const Anchor& b) { return a.unit < b.unit; });
        return it == v.end() ? nullptr : &*it;
    };
    for (size_t i = 0; i < units.size(); ++i) {
        if (placed[i]) continue;
        const Unit& u = units[i];
        if (u.head != i) {
            auto block = ofBlock.find(u.head);
            if (block == ofBlock.end()) {
                newBlock[u.head].push_back(i);
            } else if (const Anchor* a = lastBelow(block->second, i)) {
                propsAfter[a->step].push_back(i);
            } else {
                beforeStep[firstAbove(block->second, i)->step].push_back(i);
            }
            continue;
        }
        if (const Anchor* a = lastBelow(ofGroup[u.group], i)) {
            afterStep[blockEnd[a->step]].push_back(i);
        } else if (const Anchor* b = firstAbove(ofGroup[u.group], i)) {
            size_t at = b->step;
            if (at > 0 && kept[at - 1].kind == Step::Comments) --at;  // before the comment that heads it
            beforeStep[at].push_back(i);
        } else if (const Anchor* c = lastBelow(allStatements, i)) {
            afterStep[blockEnd[c->step]].push_back(i);
        } else {
            first.push_back(i);
        }
    }

    auto add = [&](size_t unit) {
        Step s;
        s.kind = Step::Added;
        s.unit = static_cast<long>(unit);
        steps.push_back(s);
        auto block = newBlock.find(unit);
        if (block == newBlock.end()) return;
        for (size_t p : block->second) {
            Step ps;
            ps.kind = Step::Added;
            ps.unit = static_cast<long>(p);
            steps.push_back(ps);
        }
    };
    for (size_t u : first) add(u);
    for (size_t k = 0; k < kept.size(); ++k) {
        for (size_t u : beforeStep[k]) add(u);
        steps.push_back(std::move(kept[k]));
        for (size_t u : propsAfter[k]) add(u);
        for (size_t u : afterStep[k]) add(u);
    }
    if (!pending.empty()) {
        Step c;
        c.comments.swap(pending);
        c.last = true;
        steps.push_back(std::move(c));
    } else if (!steps.empty() && steps.back().kind == Step::Kept && steps.back().line + 1 == layout.lines.size()) {
        steps.back().last = true;
    }
    return steps;
}

// Writes the steps of plan(): the text, the layout of that text and the
// remarks written.
std::string writeSteps(const Config& cfg, const std::vector<Unit>& units, const std::vector<Step>& steps,
                       Layout* next, std::vector<RemarkKey>* used) {
    const Layout& layout = cfg.layout;
    std::string text;
    text.reserve(layout.known ? layout.text.size() + 256 : 64 * (units.size() + 16));
    // A file written with "\r\n" gets them on its new lines too.
    const bool crlf = layout.known && !layout.lines.empty() && layout.lines[0].length > 0 &&
                      layout.text[layout.lines[0].offset + layout.lines[0].length - 1] == '\r';
    Layout made;
    made.known = true;
    auto line = [&](std::string_view content, size_t afterAt, RemarkKey key, uint64_t hash) {
        LayoutLine l;
        l.offset = text.size();
        l.length = static_cast<uint32_t>(content.size());
        l.afterAt = static_cast<uint32_t>(afterAt);
        l.key = key;
        l.said = hash;
        text.append(content);
        text += '\n';
        if (next) made.lines.push_back(l);
    };
    auto comments = [&](std::string_view lines) {
        while (!lines.empty()) {
            const size_t eol = lines.find('\n');
            const std::string_view one = lines.substr(0, eol);
            line(one, one.size(), RemarkKey{}, 0);
            lines.remove_prefix(eol == std::string_view::npos ? lines.size() : eol + 1);
        }
    };
    if (!layout.known) comments(kHeaderComment);
    std::string made_line;
    bool endsWithLastLine = false;
    for (const Step& s : steps) {
        endsWithLastLine = s.last;
        if (s.kind == Step::Comments) {
            comments(s.comments);
            continue;
        }
        const Unit* u = s.unit >= 0 ? &units[s.unit] : nullptr;
        if (u && used) used->push_back(u->key);
        if (s.kind == Step::Kept) {
            const LayoutLine& l = layout.lines[s.line];
            line(std::string_view(layout.text.data() + l.offset, l.length), l.afterAt, l.key, l.said);
            continue;
        }
        if (s.kind == Step::Changed) {
            const LayoutLine& l = layout.lines[s.line];
            made_line = u->text;
            made_line.append(layout.text, l.offset + l.afterAt, l.length - l.afterAt);
            line(made_line, u->text.size(), u->key, said(u->text));
            continue;
        }
        // Added: with the comments a person wrote for it, if any are known.
        const Remark* r = nullptr;
        if (!cfg.remarks.empty()) {
            auto found = cfg.remarks.find(u->key);
            if (found != cfg.remarks.end()) r = &found->second;
        }
        if (r) comments(r->before);
        made_line = u->text;
        if (r) made_line += r->after;
        if (crlf) made_line += '\r';
        line(made_line, u->text.size(), u->key, said(u->text));
    }
    if (!layout.known) comments(cfg.endRemark);
    if (endsWithLastLine && !layout.finalNewline) text.pop_back();
    if (next) {
        made.finalNewline = !(endsWithLastLine && !layout.finalNewline);
        made.text = text;
        if (!made.finalNewline) made.text += '\n';
        *next = std::move(made);
    }
    return text;
}

// The comment lines of a run of lines, without the blank ones.
void appendComments(std::string& to, std::string_view lines) {
    while (!lines.empty()) {
        const size_t eol = lines.find('\n');
        std::string_view one = lines.substr(0, eol);
        lines.remove_prefix(eol == std::string_view::npos ? lines.size() : eol + 1);
        while (!one.empty() && (one.back() == '\r' || one.back() == ' ' || one.back() == '\t')) one.remove_suffix(1);
        const size_t start = one.find_first_not_of(" \t");
        if (start == std::string_view::npos) continue;
        if (!to.empty()) to += '\n';
        to.append(one.substr(start));
    }
}

// After a read: what each line of the file says, to tell later which of them
// still say it.
void stampLayout(Config& cfg) {
    Units units(cfg, cfg.rec.revision, false, false);
    std::unordered_map<RemarkKey, uint64_t, RemarkKeyHash> now;
    now.reserve(units.all.size());
    for (const Unit& u : units.all) now.emplace(u.key, said(u.text));
    for (LayoutLine& l : cfg.layout.lines) {
        if (!l.key.at) continue;
        auto found = now.find(l.key);
        l.said = found != now.end() ? found->second : 0;
    }
    cfg.layout.known = true;
}

// ---- reading ----------------------------------------------------------------

struct Token {
    enum Kind { Word, None, Any } kind = Word;
    std::string text;
    int column = 0;
};

int columnOf(std::string_view line, size_t offset) {
    int column = 1;
    for (size_t i = 0; i < offset && i < line.size(); ++i)
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++column;
    return column;
}

const char* describe(const Token& t) {
    switch (t.kind) {
        case Token::None: return "'-'";
        case Token::Any: return "'*'";
        default: return nullptr;
    }
}

class Reader {
public:
    Reader(Config& cfg, std::string& error) : cfg_(cfg), error_(error) {}

    // The text of a file, in pieces cut anywhere.  A line is worked on once
    // it is whole; only that line is held besides what is kept.
    bool feed(std::string_view piece) {
        while (!piece.empty()) {
            const size_t end = piece.find('\n');
            if (end == std::string_view::npos) {
                carry_.append(piece);
                return true;
            }
            if (carry_.empty()) {
                if (!take(piece.substr(0, end))) return false;
            } else {
                carry_.append(piece.substr(0, end));
                if (!take(carry_)) return false;
                carry_.clear();
            }
            piece.remove_prefix(end + 1);
        }
        return true;
    }

    bool finish() {
        if (!carry_.empty()) {
            cfg_.layout.finalNewline = false;
            if (!take(carry_)) return false;
        }
        if (!headerSeen_) {
            lineNo_ = 1;
            line_ = {};
            return fail(1, "expected 'zelvek-config " + std::to_string(kFormatVersion) +
                               "' as the first statement; this is not a configuration file");
        }
        if (pendingComment_) cfg_.endRemark = pending_;
        return true;
    }

private:
    bool take(std::string_view line) {
        // Every line is kept as it was written, for a save to write again.
        Layout& layout = cfg_.layout;
        LayoutLine kept;
        kept.offset = layout.text.size();
        kept.length = static_cast<uint32_t>(line.size());
        kept.afterAt = kept.length;
        layout.text.append(line);
        layout.text += '\n';
        layout.lines.push_back(kept);
        line_ = std::string_view(layout.text.data() + kept.offset, kept.length);
        if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
        ++lineNo_;
        if (lineNo_ == 1) {
            if (line_.substr(0, 3) == "\xEF\xBB\xBF") line_.remove_prefix(3);
            if (line_ == kHeaderComment) return true;  // a save's own first line, not a person's
        }
        return readLine();
    }

    // A line of no statement: a comment line is kept with the blank lines
    // around it for the statement or property that follows.
    void keepCommentLine() {
        if (commentAt_ == std::string_view::npos) {
            pending_ += '\n';
            return;
        }
        pending_ += withoutReturns(line_);
        pending_ += '\n';
        pendingComment_ = true;
    }

    // The line just read takes the comment lines above it and the comment
    // at its own end.
    void keepRemarks() {
        const bool trailing = commentAt_ != std::string_view::npos;
        // A line written twice is saved once, with its last value: the comment
        // at the end of the last one goes with it.
        auto known = cfg_.remarks.find(mark_);
        if (pendingComment_ || trailing || known != cfg_.remarks.end()) {
            Remark& r = known != cfg_.remarks.end() ? known->second : cfg_.remarks[mark_];
            if (pendingComment_) r.before += pending_;
            r.after = trailing ? std::string(withoutReturns(line_.substr(lastEnd_))) : std::string();
            // The last of a repeated line said nothing: no remark is left,
            // as none would be read back.
            if (r.before.empty() && r.after.empty()) cfg_.remarks.erase(mark_);
        }
        pending_.clear();
        pendingComment_ = false;
    }

    // A line read back loses one '\r' at its end: written without them, the
    // text reads back the same.
    static std::string_view withoutReturns(std::string_view text) {
        while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        return text;
    }

    bool fail(int column, const std::string& what) {
        error_ = std::to_string(lineNo_) + ":" + std::to_string(column) + ": " + what;
        return false;
    }

    int endColumn() const { return columnOf(line_, line_.size()); }

    // Token objects are reused from line to line so their text keeps its room.
    Token& nextToken() {
        if (count_ == pool_.size()) pool_.emplace_back();
        Token& t = pool_[count_++];
        t.kind = Token::Word;
        t.text.clear();
        return t;
    }

    bool tokenize() {
        count_ = 0;
        commentAt_ = std::string_view::npos;
        lastEnd_ = 0;
        size_t i = 0;
        const size_t n = line_.size();
        // Columns are counted on from the previous token: counting each from
        // the start of the line made a long line of many words quadratic.
        size_t counted = 0;
        int column = 1;
        while (i < n) {
            char c = line_[i];
            if (c == ' ' || c == '\t') {
                ++i;
                continue;
            }
            if (c == '#') {
                commentAt_ = i;
                break;
            }
            // No statement takes more words than an occurrence: the words past
            // those are not stored, so a line of millions of words costs its
            // bytes alone.  The one past the limit says where the line went wrong.
            if (count_ == kMaxTokens) break;
            Token& t = nextToken();
            for (; counted < i; ++counted)
                if ((static_cast<unsigned char>(line_[counted]) & 0xC0) != 0x80) ++column;
            t.column = column;
            if (c == '"') {
                if (!quoted(i, t)) return false;
            } else {
                size_t start = i;
                while (i < n && line_[i] != ' ' && line_[i] != '\t') {
                    if (line_[i] == '"')
                        return fail(columnOf(line_, i), "a quote inside a name; put the whole name in quotes");
                    ++i;
                }
                std::string_view bare = line_.substr(start, i - start);
                if (bare == "-") {
                    t.kind = Token::None;
                } else if (bare == "*") {
                    t.kind = Token::Any;
                } else if (vek::isPlainAscii(bare)) {
                    t.text.assign(bare);
                } else {
                    t.text = vek::toModifiedUtf8(bare);
                }
            }
            lastEnd_ = i;
        }
        tokens_ = Tokens{pool_.data(), count_};
        return true;
    }

    bool quoted(size_t& i, Token& t) {
        const size_t n = line_.size();
        ++i;
        size_t chunk = i;
        auto flush = [&](size_t upTo) {
            std::string_view raw = line_.substr(chunk, upTo - chunk);
            if (vek::isPlainAscii(raw)) {
                t.text.append(raw);
            } else {
                t.text += vek::toModifiedUtf8(raw);
            }
        };
        while (i < n) {
            char c = line_[i];
            if (c == '"') {
                flush(i);
                ++i;
                if (i < n && line_[i] != ' ' && line_[i] != '\t')
                    return fail(columnOf(line_, i), "expected a blank after the closing quote");
                return true;
            }
            if (c != '\\') {
                ++i;
                continue;
            }
            flush(i);
            size_t at = i;
            if (i + 1 >= n) break;
            char e = line_[i + 1];
            i += 2;
            switch (e) {
                case '"': t.text += '"'; break;
                case '\\': t.text += '\\'; break;
                case 'n': t.text += '\n'; break;
                case 't': t.text += '\t'; break;
                case 'r': t.text += '\r'; break;
                case 'u': {
                    size_t close = line_.find('}', i);
                    if (i >= n || line_[i] != '{' || close == std::string_view::npos || close == i + 1 ||
                        close - i - 1 > 6)
                        return fail(columnOf(line_, at), "expected \\u{HEX} with 1 to 6 hexadecimal digits");
                    uint32_t cp = 0;
                    for (size_t k = i + 1; k < close; ++k) {
                        char h = line_[k];
                        int digit = (h >= '0' && h <= '9')   ? h - '0'
                                    : (h >= 'a' && h <= 'f') ? h - 'a' + 10
                                    : (h >= 'A' && h <= 'F') ? h - 'A' + 10
                                                             : -1;
                        if (digit < 0)
                            return fail(columnOf(line_, at), "expected \\u{HEX} with 1 to 6 hexadecimal digits");
                        cp = cp * 16 + static_cast<uint32_t>(digit);
                    }
                    if (cp > 0x10FFFF) return fail(columnOf(line_, at), "\\u{...} beyond U+10FFFF");
                    vek::appendModifiedUtf8(t.text, cp);
                    i = close + 1;
                    break;
                }
                default:
                    return fail(columnOf(line_, at),
                                "unknown escape; use \\\" \\\\ \\n \\t \\r or \\u{HEX} inside quotes");
            }
            chunk = i;
        }
        return fail(t.column, "unterminated quoted text; end it with \"");
    }

    // The token at index k as a name; `what` says what was expected there.
    bool word(size_t k, const char* what, bool allowEmpty = false) {
        if (k >= tokens_.size()) return fail(endColumn(), std::string("expected ") + what);
        const Token& t = tokens_[k];
        if (t.kind != Token::Word)
            return fail(t.column, std::string("expected ") + what + ", not " + describe(t));
        if (!allowEmpty && t.text.empty()) return fail(t.column, std::string("expected ") + what + ", not an empty name");
        return true;
    }

    bool wordOrNone(size_t k, const char* what) {
        if (k >= tokens_.size()) return fail(endColumn(), std::string("expected ") + what + " or '-'");
        const Token& t = tokens_[k];
        if (t.kind == Token::Any) return fail(t.column, std::string("expected ") + what + " or '-', not '*'");
        return true;
    }

    bool wordOrAny(size_t k, const char* what) {
        if (k < tokens_.size() && tokens_[k].kind == Token::Any) return true;
        return word(k, (std::string(what) + " or '*'").c_str());
    }

    bool end(size_t count, const char* after) {
        if (tokens_.size() <= count) return true;
        return fail(tokens_[count].column, std::string("unexpected text after ") + after + "; the line ends there");
    }

    const char* value(size_t k) const { return tokens_[k].kind == Token::Word ? tokens_[k].text.c_str() : nullptr; }
    const std::string* nameOrAny(size_t k) const {
        return tokens_[k].kind == Token::Word ? &tokens_[k].text : nullptr;
    }

    bool readLine() {
        if (!tokenize()) return false;
        if (tokens_.empty()) {
            keepCommentLine();
            return true;
        }
        bool indented = line_[0] == ' ' || line_[0] == '\t';
        bool ok;
        if (!headerSeen_) {
            ok = readHeader(indented);
        } else if (indented) {
            ok = readProperty();
        } else {
            block_ = Block::None;
            ok = readStatement();
        }
        if (ok) {
            keepRemarks();
            LayoutLine& kept = cfg_.layout.lines.back();
            const size_t shift = static_cast<size_t>(line_.data() - (cfg_.layout.text.data() + kept.offset));
            kept.key = mark_;
            kept.afterAt = static_cast<uint32_t>(shift + (commentAt_ != std::string_view::npos ? lastEnd_ : line_.size()));
        }
        return ok;
    }

    bool readHeader(bool indented) {
        const std::string expected = "zelvek-config";
        if (indented || tokens_[0].kind != Token::Word || tokens_[0].text != expected)
            return fail(tokens_[0].column, "expected 'zelvek-config " + std::to_string(kFormatVersion) +
                                               "' as the first statement; this is not a configuration file");
        if (!word(1, "the format version")) return false;
        if (tokens_[1].text != std::to_string(kFormatVersion))
            return fail(tokens_[1].column, "format version " + q(tokens_[1].text) +
                                               " is not one this library reads (it reads " +
                                               std::to_string(kFormatVersion) + "); use a newer library");
        headerSeen_ = true;
        mark_ = RemarkKey{&cfg_.remarks, kStatementLine};
        return end(2, "the format version");
    }

    bool readStatement() {
        const Token& first = tokens_[0];
        const std::string& kw = first.text;
        if (first.kind != Token::Word) return fail(first.column, "expected a statement, not " + std::string(describe(first)));
        ConfigRecord& r = cfg_.rec;
        if (kw == "location" || kw == "top") {
            if (!wordOrNone(1, "a library name") || !wordOrNone(2, "a cell name") || !wordOrNone(3, "a view name") ||
                !end(4, "the view name"))
                return false;
            bool top = kw == "top";
            mark_ = RemarkKey{top ? &r.topLibName : &r.libName, kStatementLine};
            setText(top ? r.topLibName : r.libName, value(1));
            setText(top ? r.topCellName : r.cellName, value(2));
            setText(top ? r.topViewName : r.viewName, value(3));
            return true;
        }
        if (kw == "revision") {
            if (!word(1, "a revision number")) return false;
            const std::string& digits = tokens_[1].text;
            if (digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos ||
                std::stoll(digits) > INT32_MAX)
                return fail(tokens_[1].column, "expected a revision number from 0 to 2147483647");
            r.revision = static_cast<intptr_t>(std::stoll(digits));
            mark_ = RemarkKey{&r.revision, kStatementLine};
            return end(2, "the revision");
        }
        if (kw == "default-views" || kw == "default-libs" || kw == "default-stops") {
            if (!wordOrNone(1, "a list in quotes") || !end(2, "the list")) return false;
            const char*& field = kw == "default-views" ? r.defaultViewList
                                 : kw == "default-libs" ? r.defaultLibList
                                                        : r.defaultStopList;
            setText(field, value(1));
            mark_ = RemarkKey{&field, kStatementLine};
            return true;
        }
        if (kw == "constant") {
            if (!word(1, "a constant name") || !word(2, "the constant's value", true) || !end(3, "the value"))
                return false;
            defineConstant(cfg_, tokens_[1].text, tokens_[2].text.c_str());
            mark_ = RemarkKey{cfg_.constants.find(tokens_[1].text)->second.get(), kStatementLine};
            return true;
        }
        if (kw == "note") {
            if (!word(1, "a note line", true) || !end(2, "the note line")) return false;
            mark_ = RemarkKey{&cfg_.note, static_cast<int>(cfg_.note.size())};
            appendNoteLine(cfg_, tokens_[1].text);
            return true;
        }
        if (kw == "library") {
            if (!word(1, "a library name") || !end(2, "the library name")) return false;
            lib_ = &libRuleFor(cfg_, tokens_[1].text);
            mark_ = RemarkKey{lib_, kStatementLine};
            block_ = Block::Library;
            return true;
        }
        if (kw == "cell") {
            if (!wordOrAny(1, "a library name") || !word(2, "a cell name") || !end(3, "the cell name")) return false;
            cell_ = &cellFor(cfg_, nameOrAny(1), tokens_[2].text);
            mark_ = RemarkKey{cell_, kStatementLine};
            block_ = Block::Cell;
            return true;
        }
        if (kw == "inst") {
            if (!wordOrAny(1, "a library name") || !word(2, "a cell name") || !wordOrAny(3, "a view name") ||
                !word(4, "an instance name") || !end(5, "the instance name"))
                return false;
            // Rules of one cell come together in a file: reuse the last look-ups.
            const std::string* lib = nameOrAny(1);
            const std::string& cellName = tokens_[2].text;
            if (!lastCell_ || !sameText(lastCell_->rec.libName, lib ? lib->c_str() : nullptr) ||
                cellName != lastCell_->rec.cellName) {
                lastCell_ = &cellFor(cfg_, lib, cellName);
                lastView_ = nullptr;
            }
            InstList* list = &lastCell_->anyView;
            if (tokens_[3].kind != Token::Any) {
                if (!lastView_ || tokens_[3].text != lastView_->rec.viewName)
                    lastView_ = &cellViewFor(*lastCell_, tokens_[3].text);
                list = &lastView_->insts;
            }
            inst_ = &instFor(*list, tokens_[4].text);
            mark_ = RemarkKey{inst_, kStatementLine};
            block_ = Block::Inst;
            return true;
        }
        if (kw == "occurrence") {
            if (!word(1, "the first instance name of the occurrence")) return false;
            // No walk goes deeper than a path vector; the writer and the
            // occurrences' own clean-up recurse once a level.
            if (tokens_.size() - 1 > kMaxOccurrenceDepth)
                return fail(tokens_[kMaxOccurrenceDepth + 1].column,
                            "an occurrence path of more than " + std::to_string(kMaxOccurrenceDepth) +
                                " instances; no walk of the hierarchy goes that deep");
            OccList* list = &cfg_.occRoot;
            Occ* occ = nullptr;
            for (size_t k = 1; k < tokens_.size(); ++k) {
                if (!word(k, "an instance name")) return false;
                occ = &occFor(cfg_, *list, tokens_[k].text);
                linkOcc(*occ);
                list = &occ->below;
            }
            occ_ = occ;
            mark_ = RemarkKey{occ_, kStatementLine};
            block_ = Block::Occurrence;
            return true;
        }
        return fail(first.column, "unknown statement " + q(kw) +
                                      "; expected location, revision, top, default-views, default-libs, "
                                      "default-stops, constant, note, library, cell, inst or occurrence");
    }

    bool readProperty() {
        const Token& first = tokens_[0];
        if (block_ == Block::None)
            return fail(first.column, "an indented property outside a block; start it with library, cell, inst or "
                                      "occurrence, or remove the indentation");
        const std::string& kw = first.text;
        bool known = first.kind == Token::Word;
        auto one = [&](const char*& field) {
            if (!wordOrNone(1, "a value") || !end(2, "the value")) return false;
            setText(field, value(1));
            return true;
        };
        auto bind = [&](const char*& lib, const char*& cell, const char*& view) {
            if (!wordOrNone(1, "a library name") || !wordOrNone(2, "a cell name") || !wordOrNone(3, "a view name") ||
                !end(4, "the view name"))
                return false;
            setText(lib, value(1));
            setText(cell, value(2));
            setText(view, value(3));
            return true;
        };
        mark_ = RemarkKey{propertyOwner(), propertyLine(kw)};
        switch (block_) {
            case Block::Library:
                if (known && kw == "views") return one(lib_->rec.viewList);
                if (known && kw == "stops") return one(lib_->rec.stopList);
                return unknownProperty("a library", "views or stops");
            case Block::Cell: {
                Cell& c = *cell_;
                bool ok = true;
                if (known && kw == "view-binding") {
                    if (!wordOrNone(1, "a view name") || !end(2, "the view name")) return false;
                    setCellBinding(c, nullptr, nullptr, value(1));
                } else if (known && kw == "bind") {
                    ok = bind(c.binding.libName, c.binding.cellName, c.binding.viewName);
                    afterChange(c);
                } else if (known && kw == "views") {
                    ok = one(c.rec.viewList);
                } else if (known && kw == "libs") {
                    if (!wordOrNone(1, "a library list") || !end(2, "the list")) return false;
                    setLibList(c, value(1));
                } else if (known && kw == "stop") {
                    if (!end(1, "stop")) return false;
                    c.rec.stop = 1;
                } else {
                    return unknownProperty("a cell", "view-binding, bind, views, libs or stop");
                }
                return ok;
            }
            case Block::Inst: {
                InstRuleRecord& r = inst_->rec;
                bool ok;
                if (known && kw == "view-binding") {
                    ok = one(r.viewBinding);
                } else if (known && kw == "views") {
                    ok = one(r.viewList);
                } else if (known && kw == "libs") {
                    ok = one(r.firstValue);
                } else if (known && kw == "stop") {
                    ok = end(1, "stop");
                    r.stop = 1;
                } else if (known && kw == "bind") {
                    ok = bind(r.bindLibName, r.bindCellName, r.bindViewName);
                } else {
                    return unknownProperty("an inst", "view-binding, views, libs, stop or bind");
                }
                afterChange(*inst_);
                return ok;
            }
            case Block::Occurrence: {
                OccurrenceInstance& r = occ_->rec;
                bool ok;
                if (known && kw == "bind") {
                    ok = bind(r.bindLibName, r.bindCellName, r.bindViewName);
                } else if (known && kw == "stop") {
                    ok = end(1, "stop");
                    r.stop = 1;
                } else if (known && kw == "views") {
                    ok = one(r.viewList);
                } else {
                    return unknownProperty("an occurrence", "bind, stop or views");
                }
                afterChange(*occ_);
                return ok;
            }
            case Block::None: break;
        }
        return false;
    }

    const void* propertyOwner() const {
        switch (block_) {
            case Block::Library: return lib_;
            case Block::Cell: return cell_;
            case Block::Inst: return inst_;
            case Block::Occurrence: return occ_;
            case Block::None: break;
        }
        return nullptr;
    }

    // A cell holds a view binding or an object binding, never both: one line.
    int propertyLine(const std::string& kw) const {
        if (kw == "views") return kViewsLine;
        if (kw == "libs") return kLibsLine;
        if (kw == "stop") return kStopLine;
        if (kw == "stops") return kStopsLine;
        if (kw == "view-binding") return kViewBindingLine;
        return block_ == Block::Cell ? kViewBindingLine : kBindLine;
    }

    bool unknownProperty(const char* block, const char* expected) {
        const Token& t = tokens_[0];
        std::string shown = t.kind == Token::Word ? q(t.text) : describe(t);
        return fail(t.column, "unknown property " + shown + " in " + block + " block; expected " + expected);
    }

    enum class Block { None, Library, Cell, Inst, Occurrence };

    Config& cfg_;
    std::string& error_;
    std::string_view line_;
    int lineNo_ = 0;
    bool headerSeen_ = false;
    // The tokens of the current line: a view of the first count_ of pool_.
    struct Tokens {
        Token* first = nullptr;
        size_t n = 0;
        size_t size() const { return n; }
        bool empty() const { return n == 0; }
        Token& operator[](size_t k) const { return first[k]; }
    };
    std::vector<Token> pool_;
    size_t count_ = 0;
    Tokens tokens_;
    Block block_ = Block::None;
    LibRule* lib_ = nullptr;
    Cell* cell_ = nullptr;
    InstRule* inst_ = nullptr;
    Occ* occ_ = nullptr;
    Cell* lastCell_ = nullptr;
    CellView* lastView_ = nullptr;
    std::string carry_;                // the start of a line cut between two pieces
    // Comments: where the line's comment starts (npos: none), where its last
    // word ends, the line the remarks go with, and the lines held for the
    // next statement.
    size_t commentAt_ = std::string_view::npos;
    size_t lastEnd_ = 0;
    RemarkKey mark_;
    std::string pending_;
    bool pendingComment_ = false;
};

}  // namespace

std::string writeConfig(const Config& cfg, intptr_t revision, std::vector<RemarkKey>* used, Layout* layout) {
    Units units(cfg, revision, false);
    return writeSteps(cfg, units.all, plan(cfg, units.all), layout, used);
}

void keepLayout(Config& cfg, Layout&& layout) {
    cfg.layout = std::move(layout);
}

void listRules(Config& cfg) {
    Units units(cfg, cfg.rec.revision, true);
    const std::vector<Step> steps = plan(cfg, units.all);
    auto listing = std::make_unique<Listing>();
    std::vector<std::string>& texts = listing->texts;
    // Indexes into texts, or -1 for null: texts may move while it grows.
    std::vector<long> items;
    auto item = [&](const char* s) {
        if (!s) {
            items.push_back(-1);
            return;
        }
        texts.emplace_back(s);
        items.push_back(static_cast<long>(texts.size() - 1));
    };
    auto itemText = [&](std::string s) {
        texts.push_back(std::move(s));
        items.push_back(static_cast<long>(texts.size() - 1));
    };
    // A rule written twice in the file is listed once, where it is written last
    // (that line decides).
    std::vector<size_t> lastStep(units.all.size(), 0);
    for (size_t k = 0; k < steps.size(); ++k)
        if (steps[k].kind != Step::Comments && steps[k].unit >= 0) lastStep[steps[k].unit] = k;
    std::string comment;       // of the lines above the next rule
    std::string headComment;   // of the statement of the block under way
    for (size_t k = 0; k < steps.size(); ++k) {
        const Step& s = steps[k];
        if (s.kind == Step::Comments) {
            appendComments(comment, s.comments);
            continue;
        }
        const Unit* u = s.unit >= 0 ? &units.all[s.unit] : nullptr;
        std::string own = comment;
        comment.clear();
        if (s.kind == Step::Kept || s.kind == Step::Changed) {
            const LayoutLine& l = cfg.layout.lines[s.line];
            appendComments(own, std::string_view(cfg.layout.text.data() + l.offset + l.afterAt, l.length - l.afterAt));
        } else if (u && !cfg.remarks.empty()) {
            auto found = cfg.remarks.find(u->key);
            if (found != cfg.remarks.end()) {
                appendComments(own, found->second.before);
                appendComments(own, found->second.after);
            }
        }
        if (!u || !u->rule) {
            headComment = std::move(own);
            continue;
        }
        if (lastStep[s.unit] != k) continue;
        if (u->property) {
            // The comment above a block goes with the first of its rules.
            if (!headComment.empty()) own = headComment + (own.empty() ? "" : "\n" + own);
            headComment.clear();
        }
        item(u->kind);
        item(u->property);
        itemText(std::to_string(s.kind == Step::Added ? 0 : s.line + 1));
        if (own.empty()) {
            item(nullptr);
        } else {
            itemText(std::move(own));
        }
        itemText(std::to_string(u->scope.size()));
        for (const char* name : u->scope) item(name);
        itemText(std::to_string(u->values.size()));
        for (const char* value : u->values) item(value);
    }
    listing->items.reserve(items.size());
    for (long i : items) listing->items.push_back(i < 0 ? nullptr : texts[i].c_str());
    listing->list.count = static_cast<int32_t>(listing->items.size());
    listing->list.items = listing->items.data();
    cfg.listing = std::move(listing);
}

void keepRemarksOf(Config& cfg, const std::vector<RemarkKey>& written) {
    if (written.size() == cfg.remarks.size()) return;
    std::unordered_map<RemarkKey, Remark, RemarkKeyHash> kept;
    for (const RemarkKey& key : written) {
        auto found = cfg.remarks.find(key);
        if (found != cfg.remarks.end()) kept.emplace(key, std::move(found->second));
    }
    cfg.remarks.swap(kept);
}

bool readConfig(Config& cfg, std::string_view text, std::string& error) {
    // A cell block takes two lines at least: room for that many avoids rehashing.
    cfg.cells.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) / 4);
    Reader reader(cfg, error);
    if (!reader.feed(text) || !reader.finish()) return false;
    stampLayout(cfg);
    return true;
}

bool readConfig(Config& cfg, const std::function<bool(std::string_view&)>& next, std::string& error) {
    Reader reader(cfg, error);
    std::string_view piece;
    while (next(piece)) {
        if (piece.empty()) {
            if (!reader.finish()) return false;
            stampLayout(cfg);
            return true;
        }
        if (!reader.feed(piece)) return false;
    }
    return false;
}

}  // namespace zel
