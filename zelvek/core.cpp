/* Strings, warnings and the rule objects shared by every part of the library. */
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "vek/platform.h"
#include "vek/text.h"
#include "zelvek/internal.h"

namespace {

// Set by every call that relays warnings, from any thread: atomic, so that
// threads relaying at once each read a whole pointer.
std::atomic<ZelErrorHandler> errorHandler{nullptr};

char* copyOf(std::string_view text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    // As every other allocation: an open that runs out of memory refuses the
    // file (config.cpp); elsewhere nothing sensible is left to do.
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

}  // namespace

extern "C" void zelSetErrorHandler(ZelErrorHandler handler) { errorHandler.store(handler, std::memory_order_release); }

namespace zel {

std::string norm(const char* text) { return text ? vek::toModifiedUtf8(text) : std::string(); }

void replaceText(const char*& field, const char* value) {
    char* old = const_cast<char*>(field);
    if (!value) {
        field = nullptr;
        std::free(old);
        return;
    }
    // Measured and checked in one pass: plain ASCII is already as norm()
    // would make it.
    const char* end = value;
    while (*end != '\0' && static_cast<unsigned char>(*end) < 0x80) ++end;
    if (*end != '\0') {
        field = copyOf(norm(value));
        std::free(old);
        return;
    }
    const size_t size = static_cast<size_t>(end - value);
    // The name goes into the field's block when it fits there, as it mostly
    // does (a setter tends to go back and forth between a few short names,
    // and a short name's block holds more than it asked for), unless the
    // value lies in that block.
    if (old) {
        const size_t capacity = vek::os::blockSize(old);
        if (reinterpret_cast<uintptr_t>(value) - reinterpret_cast<uintptr_t>(old) >= capacity) {
            char* block = size < capacity ? old : static_cast<char*>(std::realloc(old, size + 1));
            if (!block) throw std::bad_alloc();  // the field still holds the old text
            std::memcpy(block, value, size + 1);
            field = block;
            return;
        }
    }
    field = copyOf(std::string_view(value, size));
    std::free(old);
}

void setText(const char*& field, const std::string& value) {
    char* old = const_cast<char*>(field);
    field = copyOf(value);
    std::free(old);
}

void clearText(const char*& field) {
    std::free(const_cast<char*>(field));
    field = nullptr;
}

bool samePlainText(const char* field, const char* value) {
    if (!field || !value) return false;
    for (;; ++field, ++value) {
        const auto c = static_cast<unsigned char>(*value);
        if (c != static_cast<unsigned char>(*field) || c >= 0x80) return false;
        if (c == 0) return true;
    }
}

bool sameText(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return std::strcmp(a, b) == 0;
}

void warn(const std::string& text, int severity) {
    const ZelErrorHandler handler = errorHandler.load(std::memory_order_acquire);
    if (!handler) return;
    // Whatever went into the text, the handler gets valid modified UTF-8.
    std::string safe = vek::toModifiedUtf8(text);
    handler(severity, safe.c_str());
}

std::string q(std::string_view name) { return "'" + vek::toModifiedUtf8(name) + "'"; }
std::string q(const char* name) { return name ? q(std::string_view(name)) : std::string("(none)"); }

// ---- destructors ------------------------------------------------------------

InstRule::~InstRule() {
    clearText(rec.name);
    clearText(rec.viewBinding);
    clearText(rec.firstValue);
    clearText(rec.viewList);
    clearText(rec.bindLibName);
    clearText(rec.bindCellName);
    clearText(rec.bindViewName);
}

bool InstRule::holdsRule() const {
    return rec.viewBinding || rec.firstValue || rec.viewList || rec.stop || rec.bindLibName || rec.bindCellName ||
           rec.bindViewName;
}

CellView::~CellView() { clearText(rec.viewName); }

Cell::~Cell() {
    clearText(rec.libName);
    clearText(rec.cellName);
    clearText(rec.libList);
    clearText(rec.viewList);
    clearText(binding.libName);
    clearText(binding.cellName);
    clearText(binding.viewName);
}

bool Cell::holdsCellRule() const {
    return rec.libList || rec.viewList || rec.stop || rec.viewBinding;
}

LibRule::~LibRule() {
    clearText(rec.libName);
    clearText(rec.stopList);
    clearText(rec.viewList);
}

Constant::~Constant() {
    clearText(rec.name);
    clearText(rec.value);
}

Occ::~Occ() {
    clearText(rec.name);
    clearText(rec.bindLibName);
    clearText(rec.bindCellName);
    clearText(rec.bindViewName);
    clearText(rec.viewList);
}

bool Occ::holdsRule() const {
    return rec.bindLibName || rec.bindCellName || rec.bindViewName || rec.stop || rec.viewList;
}

Config::Config() {
    rec.owner = this;
    occRoot.rec.owner = &occRoot;
}

Config::~Config() {
    clearText(rec.libName);
    clearText(rec.cellName);
    clearText(rec.viewName);
    clearText(rec.topLibName);
    clearText(rec.topCellName);
    clearText(rec.topViewName);
    clearText(rec.defaultLibList);
    clearText(rec.defaultStopList);
    clearText(rec.defaultViewList);
    clearText(rec.filePath);
}

// ---- cells and instance rules ----------------------------------------------

namespace {

// Modified UTF-8 never holds a zero byte, so one can separate the parts.
// Sized once and filled: the key's buffer, kept from one look-up to the
// next, is not grown piece by piece.
void buildCellKey(std::string& key, const char* lib, std::string_view cell) {
    const size_t libSize = lib ? std::strlen(lib) : 0;
    const size_t head = lib ? libSize + 1 : 0;
    key.resize(head + 1 + cell.size());
    char* out = &key[0];
    if (lib) {
        out[0] = 'L';
        std::memcpy(out + 1, lib, libSize);
    }
    out[head] = '\0';
    if (!cell.empty()) std::memcpy(out + head + 1, cell.data(), cell.size());
}

}  // namespace

std::string cellKey(const std::string* lib, const std::string& cell) {
    std::string key;
    buildCellKey(key, lib ? lib->c_str() : nullptr, cell);
    return key;
}

std::string cellLookupKey(const char* lib, std::string_view cell) {
    std::string key;
    buildCellKey(key, lib, cell);
    return key;
}

const std::string& cellKeyIn(std::string& key, const char* lib, std::string_view cell) {
    buildCellKey(key, lib, cell);
    return key;
}

const std::string& scratchCellKey(Config& cfg, const char* lib, std::string_view cell) {
    buildCellKey(cfg.scratchKey, lib, cell);
    return cfg.scratchKey;
}

Cell* findCellNamed(Config& cfg, const char* lib, std::string_view cell) {
    auto found = cfg.cells.find(scratchCellKey(cfg, lib, cell));
    if (found == cfg.cells.end() || !found->second->live()) return nullptr;
    return found->second.get();
}

Cell* findCell(Config& cfg, const std::string* lib, const std::string& cell) {
    return findCellNamed(cfg, lib ? lib->c_str() : nullptr, cell);
}

Cell& cellFor(Config& cfg, const std::string* lib, const std::string& cellName) {
    auto& slot = cfg.cells[cellKey(lib, cellName)];
    if (!slot) {
        slot = std::make_unique<Cell>();
        Cell& cell = *slot;
        cell.config = &cfg;
        cell.rec.owner = &cell;
        if (lib) setText(cell.rec.libName, *lib);
        setText(cell.rec.cellName, cellName);
        cell.anyView.head = &cell.rec.instRules;
        cell.anyView.cell = &cell;
    }
    return *slot;
}

CellView& cellViewFor(Cell& cell, const std::string& view) {
    auto& slot = cell.views[view];
    if (!slot) {
        slot = std::make_unique<CellView>();
        slot->rec.owner = slot.get();
        setText(slot->rec.viewName, view);
        slot->insts.head = &slot->rec.instRules;
        slot->insts.cell = &cell;
        slot->insts.ofView = true;
    }
    return *slot;
}

InstRule& instFor(InstList& list, const std::string& inst) {
    auto& slot = list.byName[inst];
    if (!slot) {
        slot = std::make_unique<InstRule>();
        slot->rec.owner = slot.get();
        slot->list = &list;
        setText(slot->rec.name, inst);
    }
    return *slot;
}

void afterChange(InstRule& rule) {
    InstList& list = *rule.list;
    bool holds = rule.holdsRule();
    if (holds == rule.linked) return;
    if (holds) {  // append: chains keep the order in which rules came
        rule.rec.next = nullptr;
        rule.prev = list.tail;
        if (list.tail) {
            list.tail->rec.next = &rule.rec;
        } else {
            *list.head = &rule.rec;
        }
        list.tail = &rule;
        ++list.linkedCount;
    } else {
        // The record keeps its next pointer: a cursor standing on it walks on.
        InstRule* next = rule.rec.next ? static_cast<InstRule*>(rule.rec.next->owner) : nullptr;
        if (rule.prev) {
            rule.prev->rec.next = rule.rec.next;
        } else {
            *list.head = rule.rec.next;
        }
        if (next) {
            next->prev = rule.prev;
        } else {
            list.tail = rule.prev;
        }
        rule.prev = nullptr;
        --list.linkedCount;
    }
    rule.linked = holds;
    if (list.ofView && list.linkedCount == (holds ? 1u : 0u)) {
        list.cell->liveViews += holds ? 1 : static_cast<size_t>(-1);
    }
}

void afterChange(Cell& cell) {
    bool bound = cell.binding.libName || cell.binding.cellName || cell.binding.viewName;
    cell.rec.viewBinding = bound ? &cell.binding : nullptr;
}

void setLibList(Cell& cell, const char* libList) {
    setText(cell.rec.libList, libList);
    cell.words.clear();
    cell.wordText.clear();
    if (!cell.rec.libList) {
        cell.rec.libListWords = nullptr;
        return;
    }
    // Split first, then point: the text must not move once pointers are taken.
    const char* p = cell.rec.libList;
    std::vector<size_t> starts;
    while (*p) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
        if (!*p) break;
        starts.push_back(cell.wordText.size());
        while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') cell.wordText += *p++;
        cell.wordText += '\0';
    }
    for (size_t start : starts) cell.words.push_back(cell.wordText.c_str() + start);
    cell.words.push_back(nullptr);
    cell.rec.libListWords = cell.words.data();
}

void setCellBinding(Cell& cell, const char* lib, const char* cellName, const char* view) {
    setText(cell.binding.libName, lib);
    setText(cell.binding.cellName, cellName);
    setText(cell.binding.viewName, view);
    afterChange(cell);
}

LibRule& libRuleFor(Config& cfg, const std::string& lib) {
    auto& slot = cfg.libRules[lib];
    if (!slot) {
        slot = std::make_unique<LibRule>();
        slot->rec.owner = slot.get();
        setText(slot->rec.libName, lib);
    }
    return *slot;
}

// ---- constants and the note ------------------------------------------------

void defineConstant(Config& cfg, const std::string& name, const char* value) {
    auto& slot = cfg.constants[name];
    if (!slot) {
        slot = std::make_unique<Constant>();
        slot->rec.owner = slot.get();
        setText(slot->rec.name, name);
    }
    Constant& c = *slot;
    if (value) {
        setText(c.rec.value, value);
        if (!c.linked) {
            c.rec.next = nullptr;
            c.prev = cfg.constantTail;
            if (cfg.constantTail) {
                cfg.constantTail->rec.next = &c.rec;
            } else {
                cfg.rec.constants = &c.rec;
            }
            cfg.constantTail = &c;
            c.linked = true;
        }
    } else if (c.linked) {
        clearText(c.rec.value);
        Constant* next = c.rec.next ? static_cast<Constant*>(c.rec.next->owner) : nullptr;
        if (c.prev) {
            c.prev->rec.next = c.rec.next;
        } else {
            cfg.rec.constants = c.rec.next;
        }
        if (next) {
            next->prev = c.prev;
        } else {
            cfg.constantTail = c.prev;
        }
        c.prev = nullptr;
        c.linked = false;
    }
}

void appendNoteLine(Config& cfg, std::string line) {
    if (!cfg.note.empty()) cfg.noteText += '\n';
    cfg.noteText += line;
    cfg.note.push_back(std::move(line));
    cfg.rec.noteText = cfg.noteText.c_str();
}

void dropLastNoteLine(Config& cfg) {
    if (cfg.note.empty()) return;
    const size_t last = cfg.note.back().size() + (cfg.note.size() > 1 ? 1 : 0);
    cfg.noteText.resize(cfg.noteText.size() - last);
    cfg.note.pop_back();
    // Its comment goes with it, not to the line added in its place.
    cfg.remarks.erase(RemarkKey{&cfg.note, static_cast<int>(cfg.note.size())});
    cfg.rec.noteText = cfg.note.empty() ? nullptr : cfg.noteText.c_str();
}

void clearNote(Config& cfg) {
    for (size_t i = 0; i < cfg.note.size(); ++i) cfg.remarks.erase(RemarkKey{&cfg.note, static_cast<int>(i)});
    cfg.note.clear();
    cfg.noteText.clear();
    cfg.rec.noteText = nullptr;
}

// ---- occurrences ----------------------------------------------------------

Occ& occFor(Config& cfg, OccList& list, const std::string& name) {
    auto& slot = list.byName[name];
    if (!slot) {
        slot = std::make_unique<Occ>();
        Occ& occ = *slot;
        occ.config = &cfg;
        occ.list = &list;
        occ.rec.owner = &occ;
        occ.below.node = &occ;
        occ.below.rec.owner = &occ.below;
        occ.rec.children = &occ.below.rec;
        setText(occ.rec.name, name);
    }
    return *slot;
}

void linkOcc(Occ& occ) {
    if (occ.linked) return;
    if (occ.list->node) linkOcc(*occ.list->node);
    OccList& list = *occ.list;
    occ.rec.next = nullptr;
    occ.prev = list.tail;
    if (list.tail) {
        list.tail->rec.next = &occ.rec;
    } else {
        list.rec.instances = &occ.rec;
    }
    list.tail = &occ;
    occ.linked = true;
}

void afterChange(Occ& occ) {
    bool holds = occ.holdsRule();
    if (holds != occ.counted) {
        occ.config->occRules += holds ? 1 : static_cast<size_t>(-1);
        occ.counted = holds;
    }
    if (holds) {
        linkOcc(occ);
        return;
    }
    // An occurrence that holds nothing and leads to nothing goes out of the
    // tree, and so may the occurrences above it.
    if (!occ.linked || occ.below.rec.instances) return;
    OccList& list = *occ.list;
    Occ* next = occ.rec.next ? static_cast<Occ*>(occ.rec.next->owner) : nullptr;
    if (occ.prev) {
        occ.prev->rec.next = occ.rec.next;
    } else {
        list.rec.instances = occ.rec.next;
    }
    if (next) {
        next->prev = occ.prev;
    } else {
        list.tail = occ.prev;
    }
    occ.prev = nullptr;
    occ.linked = false;
    if (list.node) afterChange(*list.node);
}

// ---- edits and lifetime ----------------------------------------------------

void edited(Config& cfg) {
    editedSettings(cfg);
    ++cfg.edits;
    for (PathVector* pv : cfg.pathVectors) refreshLevels(*pv);
}

// Settings change no record a level points at, but constants change what a
// list expands to.
void editedSettings(Config& cfg) {
    cfg.set(kModified, true);
    // clear() sweeps every bucket even when nothing is kept.
    if (!cfg.wordsOf.empty()) cfg.wordsOf.clear();
    ++cfg.wordsGeneration;
}

void releaseIfUnused(Config* cfg) {
    if (cfg && cfg->has(kClosed) && cfg->pathVectors.empty()) delete cfg;
}

}  // namespace zel
