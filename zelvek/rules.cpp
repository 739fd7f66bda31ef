/* Cell, instance and object rules: find, replace, delete. */
#include "vek/text.h"
#include "zelvek/internal.h"

using namespace zel;

namespace {

bool given(const char* name) { return name && *name; }

// The chain an instance rule of (lib, cell, view) belongs to; view null: the
// cell's rules for any view.
InstList& instListFor(Config& cfg, const char* lib, const char* cell, const char* view) {
    std::string libName = norm(lib);
    Cell& c = cellFor(cfg, lib ? &libName : nullptr, norm(cell));
    if (!view) return c.anyView;
    return cellViewFor(c, norm(view)).insts;
}

// The existing rule, without creating one.
InstRule* existingInst(Config& cfg, const char* lib, const char* cell, const char* view, const char* inst) {
    std::string libName = norm(lib);
    auto foundCell = cfg.cells.find(cellKey(lib ? &libName : nullptr, norm(cell)));
    if (foundCell == cfg.cells.end()) return nullptr;
    InstList* list = &foundCell->second->anyView;
    if (view) {
        auto foundView = foundCell->second->views.find(norm(view));
        if (foundView == foundCell->second->views.end()) return nullptr;
        list = &foundView->second->insts;
    }
    auto found = list->byName.find(norm(inst));
    return found == list->byName.end() ? nullptr : found->second.get();
}

Cell* existingCell(Config& cfg, const char* lib, const char* cell) {
    std::string libName = norm(lib);
    auto found = cfg.cells.find(cellKey(lib ? &libName : nullptr, norm(cell)));
    return found == cfg.cells.end() ? nullptr : found->second.get();
}

// Names that select a rule: a cell (and an instance) must be named; a
// library or view, when given, must not be empty.
bool validSubject(const char* lib, const char* cell, const char* view, const char* inst, bool needInst) {
    if (!given(cell)) return false;
    if (lib && !*lib) return false;
    if (view && !*view) return false;
    if (needInst && !given(inst)) return false;
    if (inst && !*inst) return false;
    return true;
}

// Sets one string field of an instance rule; value null clears it.
ZelBool setInstField(ConfigRecord* config, const char* lib, const char* cell, const char* view, const char* inst,
                     const char* InstRuleRecord::*field, const char* value) {
    Config* cfg = configOf(config);
    if (!cfg || !validSubject(lib, cell, view, inst, true)) return 0;
    InstRule& rule = instFor(instListFor(*cfg, lib, cell, view), norm(inst));
    setText(rule.rec.*field, value);
    afterChange(rule);
    edited(*cfg);
    return 1;
}

// Clears one field; false when it held nothing.
ZelBool clearInstField(ConfigRecord* config, const char* lib, const char* cell, const char* view, const char* inst,
                       const char* InstRuleRecord::*field) {
    Config* cfg = configOf(config);
    if (!cfg || !validSubject(lib, cell, view, inst, true)) return 0;
    InstRule* rule = existingInst(*cfg, lib, cell, view, inst);
    if (!rule || !(rule->rec.*field)) return 0;
    clearText(rule->rec.*field);
    afterChange(*rule);
    edited(*cfg);
    return 1;
}

ZelBool setCellField(ConfigRecord* config, const char* lib, const char* cell, const char* CellRecord::*field,
                     const char* value) {
    Config* cfg = configOf(config);
    if (!cfg || !validSubject(lib, cell, nullptr, nullptr, false)) return 0;
    std::string libName = norm(lib);
    Cell& c = cellFor(*cfg, lib ? &libName : nullptr, norm(cell));
    if (field == &CellRecord::libList) {
        setLibList(c, value);
    } else {
        setText(c.rec.*field, value);
    }
    edited(*cfg);
    return 1;
}

ZelBool clearCellField(ConfigRecord* config, const char* lib, const char* cell, const char* CellRecord::*field) {
    Config* cfg = configOf(config);
    if (!cfg || !validSubject(lib, cell, nullptr, nullptr, false)) return 0;
    Cell* c = existingCell(*cfg, lib, cell);
    if (!c || !(c->rec.*field)) return 0;
    if (field == &CellRecord::libList) {
        setLibList(*c, nullptr);
    } else {
        clearText(c->rec.*field);
    }
    edited(*cfg);
    return 1;
}

}  // namespace

extern "C" {

CellRecord* zelFindCell(ConfigRecord* config, const char* lib, const char* cell) {
    Config* cfg = configOf(config);
    if (!cfg || !cell) return nullptr;
    Cell* c = nullptr;
    // Names as the bridge hands them back from records are plain ASCII most
    // often: those need no normalised copies.
    // The cell's name measured once, for the test and the key alike.
    const std::string_view cellName(cell);
    if ((!lib || vek::isPlainAscii(lib)) && vek::isPlainAscii(cellName)) {
        c = findCellNamed(*cfg, lib, cellName);
    } else {
        std::string libName = norm(lib);
        c = findCell(*cfg, lib ? &libName : nullptr, norm(cell));
    }
    return c ? &c->rec : nullptr;
}

CellViewRecord* zelFindCellCellView(ConfigRecord* config, CellRecord* cell, const char* view) {
    if (!configOf(config) || !cell || !view) return nullptr;
    Cell* c = static_cast<Cell*>(cell->owner);
    auto found = c->views.find(norm(view));
    if (found == c->views.end() || found->second->insts.linkedCount == 0) return nullptr;
    return &found->second->rec;
}

InstRuleRecord* zelFindCellInst(ConfigRecord* config, CellRecord* cell, const char* inst) {
    if (!configOf(config) || !cell || !inst) return nullptr;
    Cell* c = static_cast<Cell*>(cell->owner);
    auto found = c->anyView.byName.find(norm(inst));
    if (found == c->anyView.byName.end() || !found->second->linked) return nullptr;
    return &found->second->rec;
}

InstRuleRecord* zelFindCellViewInst(ConfigRecord* config, CellViewRecord* cellView, const char* inst) {
    if (!configOf(config) || !cellView || !inst) return nullptr;
    CellView* v = static_cast<CellView*>(cellView->owner);
    auto found = v->insts.byName.find(norm(inst));
    if (found == v->insts.byName.end() || !found->second->linked) return nullptr;
    return &found->second->rec;
}

const char* zelGetInstViewBinding(InstRuleRecord* rule) { return rule ? rule->viewBinding : nullptr; }

ZelBool zelReplaceCellViewBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view) {
    Config* cfg = configOf(config);
    if (!cfg || !validSubject(lib, cell, nullptr, nullptr, false)) return 0;
    std::string libName = norm(lib);
    Cell& c = cellFor(*cfg, lib ? &libName : nullptr, norm(cell));
    setCellBinding(c, nullptr, nullptr, view);
    edited(*cfg);
    return 1;
}

ZelBool zelReplaceCellViewList(ConfigRecord* config, const char* lib, const char* cell, const char* viewList) {
    return setCellField(config, lib, cell, &CellRecord::viewList, viewList);
}

ZelBool zelDeleteCellViewBinding(ConfigRecord* config, const char* lib, const char* cell) {
    Config* cfg = configOf(config);
    if (!cfg || !validSubject(lib, cell, nullptr, nullptr, false)) return 0;
    Cell* c = existingCell(*cfg, lib, cell);
    if (!c || !c->rec.viewBinding) return 0;
    setCellBinding(*c, nullptr, nullptr, nullptr);
    edited(*cfg);
    return 1;
}

ZelBool zelDeleteCellViewList(ConfigRecord* config, const char* lib, const char* cell) {
    return clearCellField(config, lib, cell, &CellRecord::viewList);
}

ZelBool zelReplaceInstViewBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                                  const char* inst, const char* viewName) {
    return setInstField(config, lib, cell, view, inst, &InstRuleRecord::viewBinding, viewName);
}

ZelBool zelReplaceInstViewList(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                               const char* inst, const char* viewList) {
    return setInstField(config, lib, cell, view, inst, &InstRuleRecord::viewList, viewList);
}

ZelBool zelDeleteInstViewBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                                 const char* inst) {
    return clearInstField(config, lib, cell, view, inst, &InstRuleRecord::viewBinding);
}

ZelBool zelDeleteInstViewList(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                              const char* inst) {
    return clearInstField(config, lib, cell, view, inst, &InstRuleRecord::viewList);
}

ZelBool zelSetObjStop(ConfigRecord* config, const char* lib, const char* cell, const char* view, const char* inst,
                      ZelBool value) {
    Config* cfg = configOf(config);
    if (!cfg || !validSubject(lib, cell, view, inst, false)) return 0;
    if (!inst) {
        std::string libName = norm(lib);
        Cell& c = cellFor(*cfg, lib ? &libName : nullptr, norm(cell));
        c.rec.stop = value ? 1 : 0;
    } else {
        InstRule& rule = instFor(instListFor(*cfg, lib, cell, view), norm(inst));
        rule.rec.stop = value ? 1 : 0;
        afterChange(rule);
    }
    edited(*cfg);
    return 1;
}

ZelBool zelSetObjBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view, const char* inst,
                         const char* bindLib, const char* bindCell, const char* bindView) {
    Config* cfg = configOf(config);
    if (!cfg || !validSubject(lib, cell, view, inst, false)) return 0;
    if (!inst) {
        std::string libName = norm(lib);
        setCellBinding(cellFor(*cfg, lib ? &libName : nullptr, norm(cell)), bindLib, bindCell, bindView);
    } else {
        InstRule& rule = instFor(instListFor(*cfg, lib, cell, view), norm(inst));
        setText(rule.rec.bindLibName, bindLib);
        setText(rule.rec.bindCellName, bindCell);
        setText(rule.rec.bindViewName, bindView);
        afterChange(rule);
    }
    edited(*cfg);
    return 1;
}

ZelBool zelDeleteObjBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                            const char* inst) {
    Config* cfg = configOf(config);
    if (!cfg || !validSubject(lib, cell, view, inst, false)) return 0;
    if (!inst) {
        Cell* c = existingCell(*cfg, lib, cell);
        if (!c || !c->rec.viewBinding) return 0;
        setCellBinding(*c, nullptr, nullptr, nullptr);
    } else {
        InstRule* rule = existingInst(*cfg, lib, cell, view, inst);
        if (!rule || !(rule->rec.bindLibName || rule->rec.bindCellName || rule->rec.bindViewName)) return 0;
        clearText(rule->rec.bindLibName);
        clearText(rule->rec.bindCellName);
        clearText(rule->rec.bindViewName);
        afterChange(*rule);
    }
    edited(*cfg);
    return 1;
}

ZelBool zelSetObjLibListStr(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                            const char* inst, const char* libList) {
    if (!inst) return setCellField(config, lib, cell, &CellRecord::libList, libList);
    return setInstField(config, lib, cell, view, inst, &InstRuleRecord::firstValue, libList);
}

ZelBool zelDeleteObjLibList(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                            const char* inst) {
    if (!inst) return clearCellField(config, lib, cell, &CellRecord::libList);
    return clearInstField(config, lib, cell, view, inst, &InstRuleRecord::firstValue);
}

ZelBool zelReplaceCellLibList(ConfigRecord* config, const char* cell, const char* libList) {
    return setCellField(config, nullptr, cell, &CellRecord::libList, libList);
}

ZelBool zelDeleteCellLibList(ConfigRecord* config, const char* lib, const char* cell) {
    return clearCellField(config, lib, cell, &CellRecord::libList);
}

}  // extern "C"
