/*
 * Binding and stop evaluation over a path vector.  docs/binding.md defines
 * what every answer means; the functions below follow it line by line.
 *
 * Every rule is found by hashed look-up (cell rules by library and cell,
 * instance rules by name, occurrences by name under their parent), and the
 * design's cell views are looked at once per configuration, so a bind costs
 * the same whatever the number of rules.  A path vector's answers live in its
 * BindState until the next call of the same kind on it.
 */
#include <algorithm>
#include <cstring>
#include <optional>

#include "vek/libraries.h"
#include "zelvek/internal.h"

using namespace zel;

namespace zel {

struct BindState {
    BindInfo info{};                          // handed out when the caller brings no block
    std::optional<std::string> lib, cell, view;
    std::vector<std::string> libWords, viewWords;
    std::vector<const char*> libArray, viewArray;
    ResolvedLists lists{};
    // Where the last bind was made, for the level pushed next (listsForPush).
    bool made = false;
    uint64_t levelSerial = 0;
    std::optional<std::string> inst;
    ListSource viewList, libList;
    // The instance's rules the last bind found, and Config::edits then: the
    // level pushed for it takes them for its stop points.
    const InstRuleRecord* insts[4] = {};
    int instCount = 0;
    uint64_t edits = 0;
    // Whether the last bind looked up the instance's occurrence (or the level
    // has no occurrence list), and what it found: the level pushed for it
    // lies under that occurrence.
    bool occKnown = false;
    const OccurrenceInstance* occ = nullptr;
    std::vector<StopRule> stops;
    // Where libWords (the words of a list with words) and viewWords were last
    // assigned from, and Config::wordsGeneration then; null: from no entry.
    const std::vector<std::string>* libFrom = nullptr;
    const std::vector<std::string>* viewFrom = nullptr;
    uint64_t libFromGeneration = 0, viewFromGeneration = 0;
    std::string viewString;                   // answer of the view-string queries
    // The list texts the last bind split, and their words then, while
    // Config::wordsGeneration stands: mostly the same lists again, found
    // without a look-up (a text changed in place moves the generation).
    const char* libText = nullptr;
    const char* viewText = nullptr;
    const std::vector<std::string>* libTextWords = nullptr;
    const std::vector<std::string>* viewTextWords = nullptr;
    uint64_t textsAt = 0;                     // Config::wordsGeneration + 1
    // Copies the request and the decision make (Request::own, Decision::own).
    std::string requestCopies[3], decisionCopies[3];
    // The master whose most recent binding the answer was made, and
    // Config::recentWrites then.
    const Master* recentOf = nullptr;
    uint64_t recentAt = 0;
    // The master cell's entry this path vector last looked up, and its names.
    Master* master = nullptr;
    bool masterHasLib = false;
    std::string masterLib, masterCell;
};

void releaseBindState(BindState* state) { delete state; }

}  // namespace zel

namespace {

using Name = std::optional<std::string>;

constexpr int8_t kDefault = ZEL_RULE_DEFAULT;
constexpr int8_t kLibrary = ZEL_RULE_LIBRARY;
constexpr int8_t kCell = ZEL_RULE_CELL;
constexpr int8_t kInstance = ZEL_RULE_INSTANCE;
constexpr int8_t kOccurrence = ZEL_RULE_OCCURRENCE;

BindState& stateOf(PathVector& pv) {
    if (!pv.bind) pv.bind = new BindState();
    return *pv.bind;
}

Level* currentLevel(PathVector& pv) { return pv.levels.empty() ? nullptr : pv.levels.back().get(); }

Name nameOf(const char* text) {
    if (!text) return std::nullopt;
    // Plain ASCII, as names mostly are, is what norm() would make of it: one
    // pass measures the text and tells that, and the name is built in place.
    size_t size = 0;
    unsigned high = 0;
    for (; text[size]; ++size) high |= static_cast<unsigned char>(text[size]);
    if ((high & 0x80) == 0) return Name(std::in_place, text, size);
    return Name(norm(text));
}

const char* cstr(const Name& name) { return name ? name->c_str() : nullptr; }

// A name where it lies already, as zero-terminated text (the caller's, a
// rule's, a list's word, a copy); null: none.
struct Text {
    const char* data = nullptr;
    size_t size = 0;
    Text() = default;
    Text(const char* d, size_t n) : data(d), size(n) {}
    Text(const std::string& s) : data(s.c_str()), size(s.size()) {}
    Text(const Name& n) : data(n ? n->c_str() : nullptr), size(n ? n->size() : 0) {}
    explicit operator bool() const { return data != nullptr; }
    bool empty() const { return size == 0; }
    std::string_view view() const { return {data, size}; }
};

// to = the bytes, which never lie in to: appended to it emptied, which takes
// none of assign's care for overlapping bytes (a third of its cost here).
void setBytes(std::string& to, const char* data, size_t size) {
    to.clear();
    to.append(data, size);
}

bool sameName(const std::string& s, Text t) {
    return s.size() == t.size && std::memcmp(s.data(), t.data, t.size) == 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !isBlank(text[i])) ++i;
        if (i > start) words.emplace_back(text, start, i - start);
    }
    return words;
}

std::string joinWords(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) {
        if (!out.empty()) out += ' ';
        out += w;
    }
    return out;
}

// A rule's text with its constants expanded.  Text whose constants cannot be
// expanded is taken as empty, with a warning: a reference is never a name.
std::string expanded(const Config& cfg, const char* text, const char* what) {
    if (!text) return std::string();
    // Most names hold no '$' at all: copied once, measured once.
    const size_t size = std::strlen(text);
    if (!std::memchr(text, '$', size)) return std::string(text, size);
    std::string out;
    if (!resolveConstants(cfg, text, out)) {
        warn(std::string(what) + " " + q(text) + " cannot be expanded and is taken as empty");
        out.clear();
    }
    return out;
}

// The words of a rule's list with its constants expanded, kept per text while
// the configuration is not edited; null, with resolveConstants' warning, when
// the constants cannot be expanded (such a text is tried afresh every time).
const std::vector<std::string>* expandedWords(Config& cfg, const char* text) {
    static const std::vector<std::string> none;
    if (!text) return &none;
    auto found = cfg.wordsOf.find(text);
    // Texts and words never hold a zero byte: strcmp needs no length first.
    if (found != cfg.wordsOf.end() && std::strcmp(found->second.text.c_str(), text) == 0)
        return &found->second.words;
    std::string out;
    if (!resolveConstants(cfg, text, out)) return nullptr;
    Config::Words& entry = cfg.wordsOf[text];
    if (!entry.text.empty()) ++cfg.wordsGeneration;  // another text at a freed one's address
    entry.text = text;
    entry.words = splitWords(out);
    return &entry.words;
}

// expandedWords of a list whose constants must expand: otherwise it is taken
// as empty, with a warning, as expanded() does.
const std::vector<std::string>& listWords(Config& cfg, const char* text, const char* what, bool* expandedAll = nullptr) {
    static const std::vector<std::string> none;
    const std::vector<std::string>* words = expandedWords(cfg, text);
    if (words) return *words;
    warn(std::string(what) + " " + q(text) + " cannot be expanded and is taken as empty");
    if (expandedAll) *expandedAll = false;
    return none;
}

// ---- lists in effect --------------------------------------------------------

// The list a source designates, read from its record now: each code keeps its
// list where the bridge reads it.
const char* viewListText(const ListSource& s) {
    if (!s.source) return nullptr;
    switch (s.code) {
        case kDefault: return static_cast<const ConfigRecord*>(s.source)->defaultViewList;
        case kLibrary: return static_cast<const LibraryRuleRecord*>(s.source)->viewList;
        case kCell: return static_cast<const CellRecord*>(s.source)->viewList;
        case kInstance: return static_cast<const InstRuleRecord*>(s.source)->viewList;
        case kOccurrence: return static_cast<const OccurrenceInstance*>(s.source)->viewList;
        default: return nullptr;
    }
}

const char* libListText(const ListSource& s) {
    if (!s.source) return nullptr;
    switch (s.code) {
        case kDefault: return static_cast<const ConfigRecord*>(s.source)->defaultLibList;
        case kCell: return static_cast<const CellRecord*>(s.source)->libList;
        case kInstance: return static_cast<const InstRuleRecord*>(s.source)->firstValue;
        default: return nullptr;
    }
}

// ---- the rules that apply ----------------------------------------------------

bool given(const char* text) { return text && *text; }

bool hasObjectBinding(const char* lib, const char* cell, const char* view) { return lib || cell || view; }

// Every rule that may take part in binding one instance of the current level.
struct Rules {
    Config* cfg = nullptr;
    Level* level = nullptr;                 // the current level, or null
    bool useOccurrences = false;
    // The instance's rules, most specific first: (library, view), (library,
    // any view), (any library, view), (any library, any view).
    const InstRuleRecord* insts[4] = {};
    int instCount = 0;
    const OccurrenceInstance* occ = nullptr;
    // The master's cell rules: library-qualified first, then any library.
    const CellRecord* cells[2] = {};
    int cellCount = 0;
    const LibraryRuleRecord* libRule = nullptr;
    // The master cell's entry (null without a master cell).
    Master* master = nullptr;

    const InstRuleRecord* inst(const char* InstRuleRecord::*field) const {
        for (int i = 0; i < instCount; ++i)
            if (insts[i]->*field) return insts[i];
        return nullptr;
    }
    const InstRuleRecord* instBinding() const {
        for (int i = 0; i < instCount; ++i)
            if (hasObjectBinding(insts[i]->bindLibName, insts[i]->bindCellName, insts[i]->bindViewName))
                return insts[i];
        return nullptr;
    }
    const CellRecord* cell(const char* CellRecord::*field) const {
        for (int i = 0; i < cellCount; ++i)
            if (cells[i]->*field) return cells[i];
        return nullptr;
    }
    const CellRecord* cellBinding() const {
        for (int i = 0; i < cellCount; ++i)
            if (cells[i]->viewBinding) return cells[i];
        return nullptr;
    }
    bool occBinding() const {
        return occ && hasObjectBinding(occ->bindLibName, occ->bindCellName, occ->bindViewName);
    }
};

void addInst(const InstList& list, const std::string& inst, Rules& r) {
    auto found = list.byName.find(inst);
    if (found != list.byName.end() && found->second->linked) r.insts[r.instCount++] = &found->second->rec;
}

// The rules of instance `inst` inside the cell view of `level`: its library's
// cell, then any library's; in each the view's rules, then any view's.
void findInstRules(const Level& level, const std::string& inst, Rules& r) {
    for (int i = 0; i < 2; ++i) {
        const Cell* c = level.cells[i];
        if (!c) continue;
        if (level.views[i]) addInst(level.views[i]->insts, inst, r);
        addInst(c->anyView, inst, r);
    }
}

// A master cell's entry with its look-ups made again when an edit came since
// they were last made.
Master& refreshed(Config& cfg, Master& m, Text lib, Text cell) {
    if (m.lookedUpAt == cfg.edits + 1) return m;
    m.cellCount = 0;
    if (lib) {
        auto found = cfg.cells.find(cellKeyIn(cfg.masterKey, lib.data, cell.view()));
        if (found != cfg.cells.end()) m.cells[m.cellCount++] = &found->second->rec;
    }
    auto found = cfg.cells.find(scratchCellKey(cfg, nullptr, cell.view()));
    if (found != cfg.cells.end()) m.cells[m.cellCount++] = &found->second->rec;
    m.libRule = nullptr;
    if (lib) {
        auto rule = cfg.libRules.find(cfg.scratchKey.assign(lib.data, lib.size));
        if (rule != cfg.libRules.end()) m.libRule = &rule->second->rec;
    }
    m.lookedUpAt = cfg.edits + 1;
    return m;
}

// The path vector's last master cell is mostly the next one's too (siblings
// of one cell): found again without building its key; entries stay while the
// configuration is open.
Master& masterOf(Config& cfg, Text lib, Text cell, BindState* st) {
    const bool again = st && st->master && st->masterHasLib == bool(lib) &&
                       (!lib || sameName(st->masterLib, lib)) && sameName(st->masterCell, cell);
    if (!again) {
        const std::string& key = cellKeyIn(cfg.masterKey, lib.data, cell.view());
        auto at = cfg.masters.find(key);
        if (at == cfg.masters.end()) at = cfg.masters.emplace(key, Master()).first;
        if (st) {
            st->master = &at->second;
            st->masterHasLib = bool(lib);
            if (lib) setBytes(st->masterLib, lib.data, lib.size);
            setBytes(st->masterCell, cell.data, cell.size);
        } else {
            return refreshed(cfg, at->second, lib, cell);
        }
    }
    return refreshed(cfg, *st->master, lib, cell);
}

Rules gather(PathVector& pv, const Name& inst, Text masterLib, Text masterCell, bool useOccurrences) {
    Rules r;
    Config& cfg = *pv.config;
    r.cfg = &cfg;
    r.level = currentLevel(pv);
    r.useOccurrences = useOccurrences;
    if (r.level && inst && !inst->empty()) {
        findInstRules(*r.level, *inst, r);
        const OccurrenceRecord* here = r.level->entry.occurrence;
        if (useOccurrences && here) {
            const OccList& list = *static_cast<const OccList*>(here->owner);
            auto found = list.byName.find(*inst);
            if (found != list.byName.end() && found->second->linked) r.occ = &found->second->rec;
        }
    }
    if (masterCell && !masterCell.empty()) {
        Master& m = masterOf(cfg, masterLib, masterCell, pv.bind);
        std::copy(m.cells, m.cells + m.cellCount, r.cells);
        r.cellCount = m.cellCount;
        r.libRule = m.libRule;
        r.master = &m;
    } else if (masterLib) {
        auto found = cfg.libRules.find(cfg.scratchKey.assign(masterLib.data, masterLib.size));
        if (found != cfg.libRules.end()) r.libRule = &found->second->rec;
    }
    return r;
}

// The library list in effect for the instance.
ListSource libListSource(const Rules& r) {
    if (const InstRuleRecord* i = r.inst(&InstRuleRecord::firstValue)) return {kInstance, i, false};
    if (const CellRecord* c = r.cell(&CellRecord::libList)) return {kCell, c, false};
    if (r.level) {
        const ListSource& up = r.level->libList;
        bool passesDown =
            up.code == kInstance || up.code == kCell || (up.code == kOccurrence && r.useOccurrences);
        if (passesDown && libListText(up)) return {up.code, up.source, true};
    }
    return {kDefault, &r.cfg->rec, false};
}

// The view list in effect for the instance.
ListSource viewListSource(const Rules& r) {
    if (r.occ && r.occ->viewList) return {kOccurrence, r.occ, false};
    if (const InstRuleRecord* i = r.inst(&InstRuleRecord::viewList)) return {kInstance, i, false};
    if (const CellRecord* c = r.cell(&CellRecord::viewList)) return {kCell, c, false};
    if (r.libRule && r.libRule->viewList) return {kLibrary, r.libRule, false};
    if (r.level) {
        const ListSource& up = r.level->viewList;
        bool passesDown = up.code == kInstance || (up.code == kOccurrence && r.useOccurrences);
        if (passesDown && viewListText(up)) return {up.code, up.source, true};
    }
    return {kDefault, &r.cfg->rec, false};
}

// ---- the design ----------------------------------------------------------------

// Whether the design holds lib.cell (view null) or lib.cell:view; each answer
// is looked up once while the configuration is open.
bool inDesign(Config& cfg, std::string_view lib, std::string_view cell, const std::string_view* view) {
    // Sized once and filled, in a buffer that stays from one look-up to the next.
    std::string& key = cfg.scratchKey;
    key.resize(1 + lib.size() + 1 + cell.size() + (view ? 1 + view->size() : 0));
    char* out = &key[0];
    *out++ = view ? 'V' : 'C';
    out = std::copy(lib.begin(), lib.end(), out);
    *out++ = '\0';
    out = std::copy(cell.begin(), cell.end(), out);
    if (view) {
        *out++ = '\0';
        std::copy(view->begin(), view->end(), out);
    }
    auto found = cfg.designSeen.find(key);
    if (found != cfg.designSeen.end()) return found->second;
    bool exists = view ? vek::cellViewExists(lib, cell, *view) : vek::cellExists(lib, cell);
    if (!exists) {
        // A name no directory can hold is never found: say so, once per look-up, rather than
        // let it pass for a cell view that is missing.
        const std::string_view names[3] = {lib, cell, view ? *view : std::string_view()};
        const char* roles[3] = {"library", "cell", "view"};
        for (int i = 0; i < (view ? 3 : 2); ++i) {
            std::string why;
            if (!vek::isPathComponent(std::string(names[i]).c_str(), &why)) {
                warn(std::string(roles[i]) + " name " + q(names[i]) + " refused: " + why +
                     "; no cell view of that name can be in the design (zel import escapes such names)");
                break;
            }
        }
    }
    cfg.designSeen.emplace(key, exists);
    return exists;
}

// inDesign for a view of the master cell m was looked up for, answered from
// the short list of the libraries and views asked of that cell so far: the
// few a cell is bound in, told apart by their lengths mostly, where the
// design's table needs its key built and compared.
bool viewInDesign(Config& cfg, Master& m, std::string_view lib, std::string_view cell, std::string_view view) {
    for (const Master::Seen& e : m.seen)
        if (e.lib.size() == lib.size() && e.view.size() == view.size() &&
            std::memcmp(e.lib.data(), lib.data(), lib.size()) == 0 &&
            std::memcmp(e.view.data(), view.data(), view.size()) == 0)
            return e.exists;
    const bool exists = inDesign(cfg, lib, cell, &view);
    m.seen.push_back({std::string(lib), std::string(view), exists});
    return exists;
}

// ---- deciding the binding ------------------------------------------------------

// A name of the request as nameOf() makes it: the caller's text itself where
// that is plain ASCII and not the last bind's binding, else a copy in own.
// (A word of the last bind's lists is copied when the words are rewritten:
// keptApart.)
Text requestName(const BindState* st, const char* text, std::string& own) {
    if (!text) return Text();
    size_t size = 0;
    unsigned high = 0;
    for (; text[size]; ++size) high |= static_cast<unsigned char>(text[size]);
    if ((high & 0x80) != 0)
        own = norm(text);
    else if (st && (text == cstr(st->lib) || text == cstr(st->cell) || text == cstr(st->view)))
        own.assign(text, size);
    else
        return Text(text, size);
    return Text(own);
}

struct Request {
    Text lib, cell, view;     // the caller's text, or a copy in own
    std::string* own;         // three buffers that stay from one bind to the next
    bool checkDesign = false, useOccurrences = false, allowRecent = false;

    // Before words are rewritten: a name that is one of them is copied.
    void keptApart(const std::vector<std::string>& words) {
        Text* names[3] = {&lib, &cell, &view};
        for (int i = 0; i < 3; ++i)
            for (const std::string& w : words)
                if (names[i]->data == w.c_str()) {
                    own[i] = w;
                    *names[i] = Text(own[i]);
                    break;
                }
    }
};

// The libraries searched for the master cell.
struct Search {
    std::vector<std::string> libs;
    size_t fromRule = 0;   // the first fromRule of them come from the list's rule
};

// to = from, where to mostly holds the same words already (the last bind's):
// only the words that differ are copied.
void assignWords(std::vector<std::string>& to, const std::vector<std::string>& from) {
    if (to.size() > from.size()) to.resize(from.size());
    for (size_t i = 0; i < to.size(); ++i)
        if (to[i] != from[i]) to[i] = from[i];
    to.insert(to.end(), from.begin() + static_cast<std::ptrdiff_t>(to.size()), from.end());
}

void addOnce(std::vector<std::string>& libs, std::string_view lib) {
    if (!lib.empty() && std::find(libs.begin(), libs.end(), lib) == libs.end()) libs.emplace_back(lib);
}

// A list with words restricts the search to them, in order; with none (no
// list, or an empty one): the master's library, then the current level's.
// s.libs is assigned, not built anew: its strings keep their buffers.
void searchOf(const std::vector<std::string>& listWords, const Request& req, const Level* level, Search& s) {
    assignWords(s.libs, listWords);
    s.fromRule = listWords.size();
    if (!listWords.empty()) return;
    if (req.lib) addOnce(s.libs, req.lib.view());
    if (level && level->entry.libName) addOnce(s.libs, level->entry.libName);
}

// to = t, where to mostly holds the same name already (the last bind's);
// true when it did not.
bool put(Name& to, Text t) {
    if (!t) {
        if (!to) return false;
        to.reset();
    } else if (!to) {
        to.emplace(t.data, t.size);
    } else if (!sameName(*to, t)) {
        setBytes(*to, t.data, t.size);
    } else {
        return false;
    }
    return true;
}

struct Decision {
    Text lib, cell, view;
    // Names whose constants were expanded (lib, cell, view): three buffers
    // that stay from one bind to the next.
    std::string* own;
    int8_t rule = 0, alt = 0;
    uint32_t flags = 0;
    const void* source = nullptr;
};

// The library a binding rule's view is taken from: without checkDesign the
// first searched; with it the first that holds the cell view, else the first
// that holds the cell, else the first (the view is then missing).
std::optional<size_t> pickLibrary(Config& cfg, Master& m, const Search& s, std::string_view cell,
                                  std::string_view view, bool check, bool& missing) {
    if (s.libs.empty()) return std::nullopt;
    if (!check) return 0;
    for (size_t i = 0; i < s.libs.size(); ++i)
        if (viewInDesign(cfg, m, s.libs[i], cell, view)) return i;
    missing = true;
    for (size_t i = 0; i < s.libs.size(); ++i)
        if (inDesign(cfg, s.libs[i], cell, nullptr)) return i;
    return 0;
}

class Binder {
public:
    Binder(Config& cfg, const Request& req, const Rules& r, const ListSource& libSrc, const Search& search,
           const ListSource& viewSrc, const std::vector<std::string>& views, Decision& d)
        : cfg_(cfg), q_(req), r_(r), libSrc_(libSrc), search_(search), viewSrc_(viewSrc), views_(views), d_(d) {}

    // Fills the Decision handed in, which starts empty: its names point at
    // where they lie, to be copied into the answer once.
    void decide() {
        if (r_.occBinding()) {
            objectBinding(r_.occ->bindLibName, r_.occ->bindCellName, r_.occ->bindViewName, kOccurrence, r_.occ);
        } else if (const InstRuleRecord* ob = r_.instBinding()) {
            objectBinding(ob->bindLibName, ob->bindCellName, ob->bindViewName, kInstance, ob);
        } else if (const InstRuleRecord* vb = r_.inst(&InstRuleRecord::viewBinding)) {
            viewBinding(vb->viewBinding, kInstance, vb, search_);
        } else if (const CellRecord* c = r_.cellBinding()) {
            cellBinding(*c);
        } else if (!fromViewList() && q_.allowRecent) {
            fromRecent();  // when that finds nothing either, the instance stays open
        }
    }

private:
    // An object or occurrence binding: the names as the rule gives them, a
    // name it leaves out being the master's; three empty names: open.
    void objectBinding(const char* lib, const char* cell, const char* view, int8_t code, const void* source) {
        d_.rule = code;
        d_.flags |= ZEL_BIND_BY_RULE;
        d_.source = source;
        // Expanded where the decision keeps them.
        if (lib) d_.lib = expandInto(lib, "the library of a binding", d_.own[0]);
        if (cell) d_.cell = expandInto(cell, "the cell of a binding", d_.own[1]);
        if (view) d_.view = expandInto(view, "the view of a binding", d_.own[2]);
        if ((!lib || d_.lib.empty()) && (!cell || d_.cell.empty()) && (!view || d_.view.empty())) {
            d_.lib = d_.cell = d_.view = Text();  // bound to open on purpose
            return;
        }
        if (!lib) d_.lib = q_.lib;
        if (!cell) d_.cell = q_.cell;
        if (!view) d_.view = q_.view;
        if (q_.checkDesign && d_.lib && d_.cell && d_.view && !d_.view.empty()) {
            const std::string_view v = d_.view.view();
            // Mostly the master cell itself, whose entry knows its views.
            const bool exists = d_.cell.view() == q_.cell.view()
                                    ? viewInDesign(cfg_, *r_.master, d_.lib.view(), q_.cell.view(), v)
                                    : inDesign(cfg_, d_.lib.view(), d_.cell.view(), &v);
            if (!exists) d_.flags |= ZEL_BIND_VIEW_MISSING;
        }
    }

    // The text with its constants expanded, as expanded() makes it: the
    // text itself when it holds none, else the expansion, kept in own.
    Text expandInto(const char* text, const char* what, std::string& own) {
        const size_t size = std::strlen(text);
        if (!std::memchr(text, '$', size)) return Text(text, size);
        own = expanded(cfg_, text, what);
        return Text(own);
    }

    // A view binding (instance or cell rule): the view as given, in a library
    // of `search`.
    void viewBinding(const char* viewText, int8_t code, const void* source, const Search& search) {
        d_.rule = code;
        d_.flags |= ZEL_BIND_BY_RULE;
        d_.source = source;
        std::string& view = d_.own[2];
        view = expanded(cfg_, viewText, "the view binding");
        if (view.empty()) return;  // an empty view binding leaves the instance open
        d_.cell = q_.cell;
        d_.view = Text(view);
        bool missing = false;
        std::optional<size_t> at = pickLibrary(cfg_, *r_.master, search, q_.cell.view(), view, q_.checkDesign, missing);
        if (!at) {
            if (q_.checkDesign) d_.flags |= ZEL_BIND_VIEW_MISSING;
            return;
        }
        if (missing) d_.flags |= ZEL_BIND_VIEW_MISSING;
        if (&search != &search_) {
            // The cell rule's own list, gone with the rule's search: the
            // library is kept, and it is the rule's too.
            d_.own[0] = search.libs[*at];
            d_.lib = Text(d_.own[0]);
            return;
        }
        d_.lib = search.libs[*at];
        // The library came from another rule's list than the view.
        bool listChose = libSrc_.code != kDefault && *at < search.fromRule;
        if (listChose && (libSrc_.code != code || libSrc_.inherited)) {
            d_.alt = libSrc_.code;
            d_.flags |= ZEL_BIND_ALT_RULE;
            if (libSrc_.code == kCell) d_.source = libSrc_.source;  // where the library set on it is read
        }
    }

    void cellBinding(const CellRecord& c) {
        const BindingRecord& b = *c.viewBinding;
        if (b.libName || b.cellName) {
            objectBinding(b.libName, b.cellName, b.viewName, kCell, &c);
            return;
        }
        if (const CellRecord* own = r_.cell(&CellRecord::libList)) {
            const std::vector<std::string>& words = listWords(cfg_, own->libList, "the library list");
            if (!words.empty()) {
                Search ownSearch;
                searchOf(words, q_, r_.level, ownSearch);
                viewBinding(b.viewName, kCell, own, ownSearch);
                return;
            }
        }
        viewBinding(b.viewName, kCell, &c, search_);
    }

    // The first view of the list that the design holds, the libraries searched
    // in order for each; without checkDesign the first view and library.
    bool fromViewList() {
        if (views_.empty() || search_.libs.empty()) return false;
        size_t lib = 0, view = 0;
        bool found = !q_.checkDesign;
        for (size_t v = 0; !found && v < views_.size(); ++v) {
            for (size_t l = 0; !found && l < search_.libs.size(); ++l) {
                if (viewInDesign(cfg_, *r_.master, search_.libs[l], q_.cell.view(), views_[v])) {
                    found = true;
                    lib = l;
                    view = v;
                }
            }
        }
        if (!found) return false;
        d_.lib = search_.libs[lib];
        d_.cell = q_.cell;
        d_.view = views_[view];
        d_.rule = viewSrc_.code;
        d_.source = viewSrc_.source;
        return true;
    }

    void fromRecent() {
        const RecentBinding& last = r_.master->recent;
        if (last.view.empty()) return;
        const std::string_view view = last.view;
        if (q_.checkDesign && !inDesign(cfg_, last.lib, last.cell, &view)) return;
        d_.lib = last.lib;
        d_.cell = last.cell;
        d_.view = last.view;
        d_.flags |= ZEL_BIND_MOST_RECENT;
    }

    Config& cfg_;
    const Request& q_;
    const Rules& r_;
    const ListSource& libSrc_;
    const Search& search_;
    const ListSource& viewSrc_;
    const std::vector<std::string>& views_;
    Decision& d_;
};

void setWords(std::vector<std::string>& words, std::vector<const char*>& array) {
    // Mostly the array still points at these very strings (the last bind's
    // words, kept in place): then it stands as it is.
    bool same = array.size() == words.size() + 1;
    for (size_t i = 0; same && i < words.size(); ++i) same = array[i] == words[i].c_str();
    if (same) return;
    array.clear();
    for (const std::string& w : words) array.push_back(w.c_str());
    array.push_back(nullptr);
}

// ---- the view-string queries -------------------------------------------------------

// The view a binding rule gives, as written: three empty names give "" (open),
// a view it leaves out is the master's.
const char* objectView(const char* lib, const char* cell, const char* view, const Name& masterView) {
    if (!given(lib) && !given(cell) && !given(view)) return view ? view : "";
    return view ? view : cstr(masterView);
}

enum class Scope { Instance, Inherited };

const char* viewString(PathVectorRecord* pathVector, const char* inst, const char* masterLib, const char* masterCell,
                       const char* masterView, Scope scope, bool raw) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv) return nullptr;
    Name view = nameOf(masterView);
    Rules r = gather(*pv, nameOf(inst), Text(nameOf(masterLib)), Text(nameOf(masterCell)), true);
    const char* text = nullptr;
    bool list = false;
    if (r.occBinding()) {
        text = objectView(r.occ->bindLibName, r.occ->bindCellName, r.occ->bindViewName, view);
    } else if (const InstRuleRecord* i = r.instBinding()) {
        text = objectView(i->bindLibName, i->bindCellName, i->bindViewName, view);
    } else if (const InstRuleRecord* vb = r.inst(&InstRuleRecord::viewBinding)) {
        text = vb->viewBinding;
    } else if (const CellRecord* c = scope == Scope::Inherited ? r.cellBinding() : nullptr) {
        const BindingRecord& b = *c->viewBinding;
        text = b.libName || b.cellName ? objectView(b.libName, b.cellName, b.viewName, view) : b.viewName;
    } else if (scope == Scope::Inherited) {
        text = viewListText(viewListSource(r));
        list = true;
    } else {
        const InstRuleRecord* il = r.inst(&InstRuleRecord::viewList);
        text = r.occ && r.occ->viewList ? r.occ->viewList : il ? il->viewList : nullptr;
        list = true;
    }
    if (!text) return nullptr;
    BindState& st = stateOf(*pv);
    if (raw) {
        st.viewString = text;
    } else {
        std::string out;
        if (!resolveConstants(*pv->config, text, out)) return nullptr;
        st.viewString = list ? joinWords(splitWords(out)) : out;
    }
    return st.viewString.c_str();
}

// The instance's own rule (no occurrence, cell or inherited rule).
const char* ownInstString(PathVectorRecord* pathVector, const char* inst, const char* InstRuleRecord::*field,
                          bool raw) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv) return nullptr;
    Rules r = gather(*pv, nameOf(inst), Text(), Text(), false);
    const InstRuleRecord* rule = r.inst(field);
    if (!rule) return nullptr;
    BindState& st = stateOf(*pv);
    if (raw) {
        st.viewString = rule->*field;
        return st.viewString.c_str();
    }
    std::string out;
    if (!resolveConstants(*pv->config, rule->*field, out)) return nullptr;
    st.viewString = field == &InstRuleRecord::viewList ? joinWords(splitWords(out)) : out;
    return st.viewString.c_str();
}

void enterBy(Level& level, const InstRuleRecord* const* insts, int count, uint64_t edits) {
    std::copy(insts, insts + count, level.enteredBy);
    level.enteredByCount = count;
    level.enteredAt = edits + 1;
}

// ok turns false when the list's constants cannot be expanded (a warning each time).
bool listHolds(Config& cfg, const char* list, const char* word, bool& ok) {
    if (!list || !word) return false;
    const std::vector<std::string>* words = expandedWords(cfg, list);
    if (!words) {
        ok = false;
        return false;
    }
    // Measured once: most words then differ by their length alone.
    const size_t size = std::strlen(word);
    for (const std::string& w : *words)
        if (w.size() == size && std::memcmp(w.data(), word, size) == 0) return true;
    return false;
}

}  // namespace

namespace zel {

namespace {

// The occurrence list under the instance whose occurrence is occ (null: none).
OccList* listBelow(const OccurrenceInstance* occ) {
    return occ ? &static_cast<Occ*>(occ->owner)->below : nullptr;
}

}  // namespace

bool listsForPush(PathVector& pv, const char* inst, const char* lib, const char* cell, Level& level,
                  OccList*& below) {
    bool knowBelow = false;
    Config& cfg = *pv.config;
    Level* current = currentLevel(pv);
    if (!current) {
        // The top: the configuration's defaults.
        level.viewList = {kDefault, &cfg.rec, false};
        level.libList = {kDefault, &cfg.rec, false};
    } else {
        const BindState* st = pv.bind;
        // The instance as the last bind named it: mostly the same plain text,
        // told without a copy.
        bool bound = st && st->made && st->levelSerial == current->serial &&
                     ((st->inst && samePlainText(st->inst->c_str(), inst)) || st->inst == nameOf(inst));
        // The instance's rules, found for the lists, serve the stop points
        // of the new level (a name found for nothing is looked up then).
        if (bound) {
            level.viewList = st->viewList;
            level.libList = st->libList;
            if (inst && *inst) enterBy(level, st->insts, st->instCount, st->edits);
            if (st->occKnown && st->edits == cfg.edits) {
                below = listBelow(st->occ);
                knowBelow = true;
            }
        } else {
            // Pushed without a bind of that instance: the pushed cell stands
            // for the master, and occurrence rules take part.
            Rules r = gather(pv, nameOf(inst), Text(nameOf(lib)), Text(nameOf(cell)), true);
            level.viewList = viewListSource(r);
            level.libList = libListSource(r);
            if (inst && *inst) enterBy(level, r.insts, r.instCount, cfg.edits);
            if ((inst && *inst) || !current->entry.occurrence) {
                below = listBelow(r.occ);
                knowBelow = true;
            }
        }
    }
    // The library's own note of where the level's lists come from.
    level.entry.listRules = static_cast<intptr_t>(static_cast<uint8_t>(level.viewList.code)) |
                            static_cast<intptr_t>(static_cast<uint8_t>(level.libList.code)) << 8 |
                            (level.viewList.inherited ? 0x10000 : 0) | (level.libList.inherited ? 0x20000 : 0);
    return knowBelow;
}

}  // namespace zel

extern "C" {

int zelBind3(PathVectorRecord* pathVector, const char* inst, const char* masterLib, const char* masterCell,
             const char* masterView, ZelBool checkDesign, ZelBool useOccurrences, ZelBool allowRecent,
             BindingRecord* binding, ResolvedLists** lists, BindInfo** info) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv) return 0;
    Config& cfg = *pv->config;
    BindState& st = stateOf(*pv);
    // A caller may hand back strings of the last bind, which this one
    // rewrites: those are copied first.
    Request req{};
    req.own = st.requestCopies;
    // The instance's name goes where the last bind's was, mostly that name
    // again (it is read as the last bind's only once this one is made).
    put(st.inst, requestName(&st, inst, req.own[0]));
    const Name& instName = st.inst;
    req.lib = requestName(&st, masterLib, req.own[0]);
    req.cell = requestName(&st, masterCell, req.own[1]);
    req.view = requestName(&st, masterView, req.own[2]);
    if (req.lib && req.lib.empty()) req.lib = Text();
    req.checkDesign = checkDesign != 0;
    req.useOccurrences = useOccurrences != 0;
    req.allowRecent = allowRecent != 0;

    Rules r = gather(*pv, instName, req.lib, req.cell, req.useOccurrences);
    ListSource libSrc = libListSource(r);
    ListSource viewSrc = viewListSource(r);
    const char* libText = libListText(libSrc);
    const char* viewText = viewListText(viewSrc);
    // The words go where the last bind's were, reusing their buffers.
    Search search;
    // Mostly the lists of the last bind again: their words are then in place.
    const bool textsKept = st.textsAt == cfg.wordsGeneration + 1;
    bool expandedAll = true;  // else a list warned, and warns again next time
    const std::vector<std::string>& libWords = textsKept && st.libText == libText
                                                   ? *st.libTextWords
                                                   : listWords(cfg, libText, "the library list", &expandedAll);
    const bool libsInPlace = !libWords.empty() && st.libFrom == &libWords &&
                             st.libFromGeneration == cfg.wordsGeneration;
    st.libFrom = nullptr;  // until the words are back in st.libWords
    search.libs.swap(st.libWords);
    if (libsInPlace) {
        search.fromRule = libWords.size();
    } else {
        req.keptApart(search.libs);
        searchOf(libWords, req, r.level, search);
    }
    const std::vector<std::string>& viewWords = textsKept && st.viewText == viewText
                                                    ? *st.viewTextWords
                                                    : listWords(cfg, viewText, "the view list", &expandedAll);
    const bool viewsInPlace = st.viewFrom == &viewWords && st.viewFromGeneration == cfg.wordsGeneration;
    if (!viewsInPlace) {
        req.keptApart(st.viewWords);
        st.viewFrom = nullptr;
        assignWords(st.viewWords, viewWords);
        st.viewFrom = &viewWords;
        st.viewFromGeneration = cfg.wordsGeneration;
    }
    const std::vector<std::string>& views = st.viewWords;

    Decision d{};
    d.own = st.decisionCopies;
    if (req.cell && !req.cell.empty()) {
        Binder(cfg, req, r, libSrc, search, viewSrc, views, d).decide();
    } else {
        warn("no master cell given for instance " + q(cstr(instName)) + "; it is left open");
    }
    // In place, and only what differs: mostly the same binding again.  The
    // request's names are copies, so none of these lies in the answer.
    // All three are put, whichever changed.
    const bool libChanged = put(st.lib, d.lib), cellChanged = put(st.cell, d.cell);
    const bool changed = put(st.view, d.view) || libChanged || cellChanged;
    if (d.lib && d.cell && d.view && !d.view.empty() && !(d.flags & ZEL_BIND_VIEW_MISSING) &&
        (changed || st.recentOf != r.master || st.recentAt != cfg.recentWrites)) {
        // The master's most recent binding is the answer: unless this path
        // vector last made it so, and neither the answer nor any recent
        // binding of the configuration changed since.
        RecentBinding& last = r.master->recent;
        if (last.lib != *st.lib || last.cell != *st.cell || last.view != *st.view) {
            last.lib = *st.lib;
            last.cell = *st.cell;
            last.view = *st.view;
            ++cfg.recentWrites;
        }
        st.recentOf = r.master;
        st.recentAt = cfg.recentWrites;
    }

    st.libWords.swap(search.libs);
    if (!libWords.empty()) {
        st.libFrom = &libWords;
        st.libFromGeneration = cfg.wordsGeneration;
    }
    // Words left in place since the last bind: their arrays stand.
    if (!libsInPlace) setWords(st.libWords, st.libArray);
    if (!viewsInPlace) setWords(st.viewWords, st.viewArray);
    st.textsAt = expandedAll ? cfg.wordsGeneration + 1 : 0;
    st.libText = libText;
    st.viewText = viewText;
    st.libTextWords = &libWords;
    st.viewTextWords = &viewWords;
    st.lists.libWords = st.libArray.data();
    st.lists.expandedViewWords = viewText ? st.viewArray.data() : nullptr;
    st.made = true;
    st.levelSerial = r.level ? r.level->serial : 0;
    st.viewList = viewSrc;
    st.libList = libSrc;
    std::copy(r.insts, r.insts + r.instCount, st.insts);
    st.instCount = r.instCount;
    st.edits = cfg.edits;
    st.occKnown = r.level && ((st.inst && !st.inst->empty() && req.useOccurrences) || !r.level->entry.occurrence);
    st.occ = r.occ;

    if (binding) *binding = BindingRecord{cstr(st.lib), cstr(st.cell), cstr(st.view)};
    if (lists) *lists = &st.lists;
    if (info) {
        BindInfo* block = *info ? *info : &st.info;
        *block = BindInfo{};
        block->viewListSource = viewSrc.source;
        block->bindingSource = d.source;
        block->libListRule = static_cast<uint8_t>(libSrc.code);
        block->viewListRule = viewSrc.code;
        block->viewBindingRule = d.rule;
        block->altBindingRule = d.alt;
        block->flags = d.flags;
        if (libSrc.inherited) block->flags |= ZEL_BIND_LIBLIST_INHERIT;
        if (viewSrc.inherited) block->flags |= ZEL_BIND_VIEWLIST_INHERIT;
        *info = block;
    }
    return 1;
}

ZelBool zelIsOpenBinding(BindingRecord* binding) {
    return !binding || !binding->viewName || !*binding->viewName ? 1 : 0;
}

StopRule* zelGetAllMatchingStopRules(PathVectorRecord* pathVector) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv) return nullptr;
    BindState& st = stateOf(*pv);
    st.stops.clear();
    Config& cfg = *pv->config;
    if (Level* level = currentLevel(*pv)) {
        const ContextEntry& e = level->entry;
        // The current view in the default stop list, and in the stop list of
        // the current library's library rule (the level looked it up with its
        // cells).  Kept with the level unless a list warned.
        if (level->stopListsAt != cfg.wordsGeneration + 1) {
            bool ok = true;
            level->inDefaultStops = listHolds(cfg, cfg.rec.defaultStopList, e.viewName, ok);
            level->inLibraryStops = level->libRule && listHolds(cfg, level->libRule->rec.stopList, e.viewName, ok);
            level->stopListsAt = ok ? cfg.wordsGeneration + 1 : 0;
        }
        if (level->inDefaultStops) st.stops.push_back({kDefault, &cfg.rec});
        if (level->inLibraryStops) st.stops.push_back({kLibrary, &level->libRule->rec});
        // A stop point on the current cell: its library's rule and the rule
        // for any library.
        for (const Cell* c : level->cells)
            if (c && c->rec.stop) st.stops.push_back({kCell, &c->rec});
        // A stop point on the instance through which this level was entered.
        // Its rules are looked up once per level and edit: neither the
        // instance nor the level above change while this level stands.
        size_t depth = pv->levels.size() - 1;
        if (depth > 0 && level->enteredAt != cfg.edits + 1) {
            const Level& aboveLevel = *pv->levels[depth - 1];
            const ContextEntry& above = aboveLevel.entry;
            Rules r;
            if (above.instName) findInstRules(aboveLevel, above.instName, r);
            enterBy(*level, r.insts, r.instCount, cfg.edits);
        }
        for (int i = 0; depth > 0 && i < level->enteredByCount; ++i)
            if (level->enteredBy[i]->stop) st.stops.push_back({kInstance, level->enteredBy[i]});
        // A stop point on the occurrence of this path.
        if (e.occurrence) {
            const Occ* occ = static_cast<const OccList*>(e.occurrence->owner)->node;
            if (occ && occ->linked && occ->rec.stop) st.stops.push_back({kOccurrence, &occ->rec});
        }
    }
    st.stops.push_back({0, nullptr});
    return st.stops.data();
}

const char* zelGetRawContextInstViewString(PathVectorRecord* pathVector, const char* inst, const char* masterLib,
                                           const char* masterCell, const char* masterView) {
    return viewString(pathVector, inst, masterLib, masterCell, masterView, Scope::Instance, true);
}

const char* zelGetContextInstViewString(PathVectorRecord* pathVector, const char* inst, const char* masterLib,
                                        const char* masterCell, const char* masterView) {
    return viewString(pathVector, inst, masterLib, masterCell, masterView, Scope::Instance, false);
}

const char* zelGetRawInheritedContextInstViewString(PathVectorRecord* pathVector, const char* inst,
                                                    const char* masterLib, const char* masterCell,
                                                    const char* masterView) {
    return viewString(pathVector, inst, masterLib, masterCell, masterView, Scope::Inherited, true);
}

const char* zelGetInheritedContextInstViewString(PathVectorRecord* pathVector, const char* inst,
                                                 const char* masterLib, const char* masterCell,
                                                 const char* masterView) {
    return viewString(pathVector, inst, masterLib, masterCell, masterView, Scope::Inherited, false);
}

const char* zelGetContextUnInheritedInstViewList(PathVectorRecord* pathVector, const char* inst) {
    return ownInstString(pathVector, inst, &InstRuleRecord::viewList, false);
}

const char* zelGetContextUnInheritedInstViewBinding(PathVectorRecord* pathVector, const char* inst) {
    return ownInstString(pathVector, inst, &InstRuleRecord::viewBinding, false);
}

const char* zelGetContextRawUnInheritedInstViewList(PathVectorRecord* pathVector, const char* inst) {
    return ownInstString(pathVector, inst, &InstRuleRecord::viewList, true);
}

// The view list in effect at a level, as its rule holds it now; the default
// view list where the level has none.
const char* zelGetIndexViewList(PathVectorRecord* pathVector, int32_t index) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv || index < 0 || index > pathVector->depth) return nullptr;
    const char* text = viewListText(pv->levels[static_cast<size_t>(index)]->viewList);
    return text ? text : pv->config->rec.defaultViewList;
}

}  // extern "C"
