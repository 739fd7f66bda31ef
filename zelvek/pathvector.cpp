/* Path vectors: a stack of levels from the top cell down, over one configuration. */
#include <algorithm>
#include <cstdlib>

#include "vek/text.h"
#include "zelvek/internal.h"

using namespace zel;

namespace zel {

Level::~Level() {
    clearText(entry.libName);
    clearText(entry.cellName);
    clearText(entry.viewName);
    clearText(entry.instName);
    clearText(entry.viewList);
    clearText(entry.libList);
    std::free(spareInst);
}

PathVector::~PathVector() { releaseBindState(bind); }

ContextEntry* currentEntry(PathVectorRecord* rec) {
    if (!rec || rec->depth < 0) return nullptr;
    return rec->contexts[rec->depth];
}

namespace {

// The occurrence list that the level after `e` lies under: e's own list, then
// down through the instance by which the next level is entered.
OccList* occurrenceBelow(Config& cfg, const ContextEntry& e) {
    OccList* occ = e.occurrence ? static_cast<OccList*>(e.occurrence->owner) : nullptr;
    if (!occ || !e.instName) return nullptr;
    cfg.scratchKey.assign(e.instName);
    auto found = occ->byName.find(cfg.scratchKey);
    return found != occ->byName.end() && found->second->linked ? &found->second->below : nullptr;
}

// Points one level's occurrence, cell and cellView at the records in force;
// `occ` is the occurrence list the level lies under.
void refreshLevel(Config& cfg, Level& level, OccList* occ) {
    ContextEntry& e = level.entry;
    e.occurrence = occ ? &occ->rec : nullptr;
    // The rule objects, unless looked up for these names since the last edit.
    if (!level.lookedUp || level.lookedUpAt != cfg.edits) {
        level.libRule = nullptr;
        if (e.libName) {
            cfg.scratchKey.assign(e.libName);
            auto rule = cfg.libRules.find(cfg.scratchKey);
            if (rule != cfg.libRules.end()) level.libRule = rule->second.get();
        }
        for (int i = 0; i < 2; ++i) {
            level.cells[i] = nullptr;
            level.views[i] = nullptr;
            if (!e.cellName || (i == 0 && !e.libName)) continue;
            auto found = cfg.cells.find(scratchCellKey(cfg, i == 0 ? e.libName : nullptr, e.cellName));
            if (found == cfg.cells.end()) continue;
            level.cells[i] = found->second.get();
            if (!e.viewName) continue;
            cfg.scratchKey.assign(e.viewName);
            auto view = level.cells[i]->views.find(cfg.scratchKey);
            if (view != level.cells[i]->views.end()) level.views[i] = view->second.get();
        }
        level.lookedUp = true;
        level.lookedUpAt = cfg.edits;
    }
    // The cell rule of the level's library, or of any library when it names none.
    int own = e.libName ? 0 : 1;
    Cell* cell = level.cells[own] && level.cells[own]->live() ? level.cells[own] : nullptr;
    CellView* view = cell ? level.views[own] : nullptr;
    e.cell = cell ? &cell->rec : nullptr;
    e.cellView = view && view->insts.linkedCount > 0 ? &view->rec : nullptr;
}

}  // namespace

void refreshLevels(PathVector& pv) {
    Config& cfg = *pv.config;
    OccList* occ = &cfg.occRoot;
    for (auto& level : pv.levels) {
        refreshLevel(cfg, *level, occ);
        occ = occurrenceBelow(cfg, level->entry);
    }
}

void refreshDeepest(PathVector& pv) {
    if (pv.levels.empty()) return;
    size_t n = pv.levels.size();
    OccList* occ = n == 1 ? &pv.config->occRoot : occurrenceBelow(*pv.config, pv.levels[n - 2]->entry);
    refreshLevel(*pv.config, *pv.levels.back(), occ);
}

}  // namespace zel

namespace {

PathVector* newPathVector(Config& cfg) {
    auto* pv = new PathVector();
    pv->rec.owner = pv;
    pv->rec.config = &cfg.rec;
    pv->rec.depth = -1;
    pv->config = &cfg;
    pv->listIndex = cfg.pathVectors.size();
    cfg.pathVectors.push_back(pv);
    return pv;
}

void dropLevel(PathVector& pv) {
    pv.rec.contexts[pv.rec.depth] = nullptr;
    pv.spare.push_back(std::move(pv.levels.back()));
    pv.levels.pop_back();
    --pv.rec.depth;
}

// A level to push: a spare one, as new but for the names it still holds.
std::unique_ptr<Level> takeLevel(PathVector& pv) {
    if (pv.spare.empty()) return std::make_unique<Level>();
    std::unique_ptr<Level> level = std::move(pv.spare.back());
    pv.spare.pop_back();
    ContextEntry& e = level->entry;
    clearText(e.instName);
    clearText(e.viewList);
    clearText(e.libList);
    const char* lib = e.libName;
    const char* cell = e.cellName;
    const char* view = e.viewName;
    e = ContextEntry{};
    e.libName = lib;
    e.cellName = cell;
    e.viewName = view;
    level->serial = 0;
    level->enteredAt = 0;
    level->viewList = ListSource{};
    level->libList = ListSource{};
    // cells and views stay with the names: refreshLevel tells whether they hold.
    return level;
}

bool isPlain(const char* text) { return !text || vek::isPlainAscii(text); }

// The level's names, the copies it holds kept when they already read so.
void setNames(Level& level, const char* lib, const char* cell, const char* view) {
    ContextEntry& e = level.entry;
    if (level.plainNames && sameText(e.libName, lib) && sameText(e.cellName, cell) && sameText(e.viewName, view))
        return;
    setText(e.libName, lib);
    setText(e.cellName, cell);
    setText(e.viewName, view);
    level.lookedUp = false;
    level.stopListsAt = 0;
    level.plainNames = isPlain(e.libName) && isPlain(e.cellName) && isPlain(e.viewName);
}

const char* indexed(PathVectorRecord* pathVector, int32_t index, const char* ContextEntry::*field) {
    if (!pathVector || index < 0 || index > pathVector->depth) return nullptr;
    return pathVector->contexts[index]->*field;
}

}  // namespace

extern "C" {

PathVectorRecord* zelCreatePathVector(ConfigRecord* config) {
    Config* cfg = configOf(config);
    if (!cfg || cfg->has(kClosed)) return nullptr;
    return &newPathVector(*cfg)->rec;
}

PathVectorRecord* zelCopyPathVector(PathVectorRecord* pathVector) {
    PathVector* source = pathVectorOf(pathVector);
    if (!source) return nullptr;
    PathVector* copy = newPathVector(*source->config);
    for (auto& level : source->levels) {
        auto twin = std::make_unique<Level>();
        const ContextEntry& from = level->entry;
        ContextEntry& to = twin->entry;
        to.owner = twin.get();
        setText(to.libName, from.libName);
        setText(to.cellName, from.cellName);
        setText(to.viewName, from.viewName);
        setText(to.instName, from.instName);
        setText(to.viewList, from.viewList);
        setText(to.libList, from.libList);
        to.listRules = from.listRules;
        twin->serial = copy->nextSerial++;
        twin->viewList = level->viewList;
        twin->libList = level->libList;
        copy->rec.contexts[copy->levels.size()] = &to;
        copy->levels.push_back(std::move(twin));
    }
    copy->rec.depth = source->rec.depth;
    refreshLevels(*copy);
    return &copy->rec;
}

void zelDestroyPathVector(PathVectorRecord* pathVector) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv) return;
    Config* cfg = pv->config;
    // The last takes its place; the order of the list means nothing.
    auto& list = cfg->pathVectors;
    list[pv->listIndex] = list.back();
    list[pv->listIndex]->listIndex = pv->listIndex;
    list.pop_back();
    delete pv;
    releaseIfUnused(cfg);
}

ZelBool zelPushCell(PathVectorRecord* pathVector, const char* lib, const char* cell, const char* view,
                    const char* inst) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv || !cell || !*cell) return 0;
    if (pv->rec.depth + 1 >= ZEL_MAX_DEPTH) {
        // The record holds that many levels; a deeper design is walked no further.
        warn("cannot enter " + q(cell) + ": a path vector holds at most " + std::to_string(ZEL_MAX_DEPTH) +
             " levels; the hierarchy is deeper than that, or it instantiates itself");
        return 0;
    }
    std::unique_ptr<Level> level = takeLevel(*pv);
    level->serial = pv->nextSerial++;
    // Before the instance name is set: the lists come from the level as it was bound.
    OccList* below = nullptr;
    const bool knowBelow = listsForPush(*pv, inst, lib, cell, *level, below);
    if (ContextEntry* current = currentEntry(pathVector)) {
        Level& above = *pv->levels.back();
        if (!current->instName) {
            current->instName = above.spareInst;  // rewritten in place when it fits
            above.spareInst = nullptr;
        }
        setText(current->instName, inst);
    }
    ContextEntry& e = level->entry;
    e.owner = level.get();
    setNames(*level, lib, cell, view);
    pv->rec.contexts[pv->levels.size()] = &e;
    pv->levels.push_back(std::move(level));
    ++pv->rec.depth;
    // The levels above are as every edit left them; only the new one, and the
    // occurrence the instance name just set leads to, need looking up (the
    // latter mostly known already from the bind of that instance).
    if (knowBelow)
        refreshLevel(*pv->config, *pv->levels.back(), below);
    else
        refreshDeepest(*pv);
    return 1;
}

ZelBool zelPopCell(PathVectorRecord* pathVector) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv || pv->rec.depth < 0) return 0;
    dropLevel(*pv);
    if (ContextEntry* current = currentEntry(pathVector)) {
        // Kept for the next push, the entry reading null meanwhile.
        Level& level = *pv->levels.back();
        std::free(level.spareInst);
        level.spareInst = const_cast<char*>(current->instName);
        current->instName = nullptr;
    }
    return 1;
}

ZelBool zelPop(PathVectorRecord* pathVector) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv || pv->rec.depth < 0) return 0;
    dropLevel(*pv);
    return 1;
}

ZelBool zelPopToTop(PathVectorRecord* pathVector) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv || pv->rec.depth < 0) return 0;
    while (pv->rec.depth > 0) dropLevel(*pv);
    return 1;
}

const char* zelGetContextLibName(PathVectorRecord* pathVector) {
    ContextEntry* e = currentEntry(pathVector);
    return e ? e->libName : nullptr;
}

const char* zelGetContextCellName(PathVectorRecord* pathVector) {
    ContextEntry* e = currentEntry(pathVector);
    return e ? e->cellName : nullptr;
}

const char* zelGetContextViewName(PathVectorRecord* pathVector) {
    ContextEntry* e = currentEntry(pathVector);
    return e ? e->viewName : nullptr;
}

const char* zelGetIndexLibName(PathVectorRecord* pathVector, int32_t index) {
    return indexed(pathVector, index, &ContextEntry::libName);
}

const char* zelGetIndexCellName(PathVectorRecord* pathVector, int32_t index) {
    return indexed(pathVector, index, &ContextEntry::cellName);
}

const char* zelGetIndexViewName(PathVectorRecord* pathVector, int32_t index) {
    return indexed(pathVector, index, &ContextEntry::viewName);
}

int32_t zelGetContextVectorIndex(PathVectorRecord* pathVector) { return pathVector ? pathVector->depth : -1; }

}  // extern "C"
