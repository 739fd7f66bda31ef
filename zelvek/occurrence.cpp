/* Occurrence rules: rules for one path of instance names from the top cell. */
#include "zelvek/internal.h"

using namespace zel;

namespace {

Occ* occOf(OccurrenceInstance* occurrence) {
    return occurrence ? static_cast<Occ*>(occurrence->owner) : nullptr;
}

}  // namespace

extern "C" {

int zelConfigHasOccRules(ConfigRecord* config) {
    Config* cfg = configOf(config);
    return cfg && cfg->occRules > 0 ? 1 : 0;
}

OccurrenceInstance* zelGetContextOccInst(PathVectorRecord* pathVector, const char* inst) {
    ContextEntry* entry = currentEntry(pathVector);
    if (!entry || !entry->occurrence || !inst) return nullptr;
    OccList* list = static_cast<OccList*>(entry->occurrence->owner);
    auto found = list->byName.find(norm(inst));
    if (found == list->byName.end() || !found->second->linked) return nullptr;
    return &found->second->rec;
}

// An occurrence is named by its chain of instance names alone; the cell view
// that holds the instance (lib, cell, view) follows from the chain.
OccurrenceInstance* zelFindOrCreateOccInst(ConfigRecord* config, OccurrenceInstance* parent, const char* lib,
                                           const char* cell, const char* view, const char* inst) {
    (void)lib;
    (void)cell;
    (void)view;
    Config* cfg = configOf(config);
    if (!cfg || !inst || !*inst) return nullptr;
    Occ* above = occOf(parent);
    if (above && above->config != cfg) return nullptr;
    OccList& list = above ? above->below : cfg->occRoot;
    Occ& occ = occFor(*cfg, list, norm(inst));
    if (!occ.linked) {
        linkOcc(occ);
        edited(*cfg);
    }
    return &occ.rec;
}

ZelBool zelReplaceOccInstStop(OccurrenceInstance* occurrence, ZelBool value) {
    Occ* occ = occOf(occurrence);
    if (!occ) return 0;
    occ->rec.stop = value ? 1 : 0;
    afterChange(*occ);
    edited(*occ->config);
    return 1;
}

ZelBool zelReplaceOccInstBinding(OccurrenceInstance* occurrence, const char* lib, const char* cell,
                                 const char* view) {
    Occ* occ = occOf(occurrence);
    if (!occ) return 0;
    setText(occ->rec.bindLibName, lib);
    setText(occ->rec.bindCellName, cell);
    setText(occ->rec.bindViewName, view);
    afterChange(*occ);
    edited(*occ->config);
    return 1;
}

ZelBool zelDeleteOccInstBinding(OccurrenceInstance* occurrence) {
    Occ* occ = occOf(occurrence);
    if (!occ || !(occ->rec.bindLibName || occ->rec.bindCellName || occ->rec.bindViewName)) return 0;
    clearText(occ->rec.bindLibName);
    clearText(occ->rec.bindCellName);
    clearText(occ->rec.bindViewName);
    afterChange(*occ);
    edited(*occ->config);
    return 1;
}

}  // extern "C"
