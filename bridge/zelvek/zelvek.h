/*
 * The configuration library zelvek: the functions that the JNI bridge calls.
 *
 * Common rules:
 *  - A configuration is passed as its ConfigRecord, a path vector as its
 *    PathVectorRecord; both come from the library, and null means failure.
 *  - Strings are NUL-terminated native strings (modified UTF-8 as the JVM
 *    hands them out).  A null pointer means "not given".  The library copies
 *    whatever it keeps; it never keeps a caller's string.
 *  - Strings and records returned belong to the library; callers never free
 *    them.  A null string means that there is no value.
 *  - Predicates and edits answer a byte boolean (ZelBool).
 *  - Warnings go to the handler installed with zelSetErrorHandler, and only
 *    from within a call, on the calling thread.
 */
#ifndef ZELVEK_H
#define ZELVEK_H

#include "zelvek_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Called with each warning; severity is the library's, text a native string. */
typedef void (*ZelErrorHandler)(int severity, const char* text);

void zelSetErrorHandler(ZelErrorHandler handler);

/* Opening, saving, closing. */
ConfigRecord* zelOpen(const char* lib, const char* cell, const char* view, const char* mode);
ConfigRecord* zelOpenWithType(const char* lib, const char* cell, const char* view,
                              const char* viewType, const char* mode);
ConfigRecord* zelOpenPartialConfig(const char* path, const char* mode);
ZelBool zelSave(ConfigRecord* config);
ZelBool zelSaveAs(ConfigRecord* config, const char* lib, const char* cell, const char* view);
ZelBool zelClose(ConfigRecord* config);
int zelConfigIsModified(ConfigRecord* config);
int zelConfigIsEditable(ConfigRecord* config);
int zelConfigHasOccRules(ConfigRecord* config);

/* Top cell, defaults, names, revision. */
ZelBool zelSetTopCellViewName(ConfigRecord* config, const char* lib, const char* cell, const char* view);
ZelBool zelSetDefaultViewListString(ConfigRecord* config, const char* viewList);
ZelBool zelSetDefaultLibListString(ConfigRecord* config, const char* libList);
ZelBool zelSetDefaultStopListString(ConfigRecord* config, const char* stopList);
const char* zelGetDefaultViewListString(ConfigRecord* config);
const char* zelGetDefaultLibListString(ConfigRecord* config);
const char* zelGetDefaultStopListString(ConfigRecord* config);
const char* zelGetTopLibName(ConfigRecord* config);
const char* zelGetTopCellName(ConfigRecord* config);
const char* zelGetTopViewName(ConfigRecord* config);
const char* zelGetLibName(ConfigRecord* config);
const char* zelGetCellName(ConfigRecord* config);
const char* zelGetViewName(ConfigRecord* config);
int32_t zelGetRevision(ConfigRecord* config);

/* Cell and instance view rules. */
CellRecord* zelFindCell(ConfigRecord* config, const char* lib, const char* cell);
CellViewRecord* zelFindCellCellView(ConfigRecord* config, CellRecord* cell, const char* view);
InstRuleRecord* zelFindCellInst(ConfigRecord* config, CellRecord* cell, const char* inst);
InstRuleRecord* zelFindCellViewInst(ConfigRecord* config, CellViewRecord* cellView, const char* inst);
const char* zelGetInstViewBinding(InstRuleRecord* rule);
ZelBool zelReplaceCellViewBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view);
ZelBool zelReplaceCellViewList(ConfigRecord* config, const char* lib, const char* cell, const char* viewList);
ZelBool zelDeleteCellViewBinding(ConfigRecord* config, const char* lib, const char* cell);
ZelBool zelDeleteCellViewList(ConfigRecord* config, const char* lib, const char* cell);
ZelBool zelReplaceInstViewBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                                  const char* inst, const char* viewName);
ZelBool zelReplaceInstViewList(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                               const char* inst, const char* viewList);
ZelBool zelDeleteInstViewBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                                 const char* inst);
ZelBool zelDeleteInstViewList(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                              const char* inst);

/* Constants. */
ZelBool zelReplaceConst(ConfigRecord* config, const char* name, const char* value);
ZelBool zelDeleteConst(ConfigRecord* config, const char* name);
const char* zelEvalConstants(ConfigRecord* config, const char* text);
const char* zelResolveConstants(ConfigRecord* config, const char* text);

/* The note. */
ZelBool zelDeleteNote(ConfigRecord* config);
ZelBool zelReplaceNoteLine(ConfigRecord* config, const char* line);
ZelBool zelAddNoteLine(ConfigRecord* config, const char* line);
const char* zelGetNoteString(ConfigRecord* config);

/* Object, occurrence, stop and library-list rules.  An object is
 * (lib, cell, view, inst): an instance of a cell view, or the cell itself when
 * inst is null. */
ZelBool zelSetObjStop(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                      const char* inst, ZelBool value);
ZelBool zelSetObjBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                         const char* inst, const char* bindLib, const char* bindCell, const char* bindView);
ZelBool zelDeleteObjBinding(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                            const char* inst);
ZelBool zelSetObjLibListStr(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                            const char* inst, const char* libList);
ZelBool zelDeleteObjLibList(ConfigRecord* config, const char* lib, const char* cell, const char* view,
                            const char* inst);
ZelBool zelReplaceCellLibList(ConfigRecord* config, const char* cell, const char* libList);
ZelBool zelDeleteCellLibList(ConfigRecord* config, const char* lib, const char* cell);
OccurrenceInstance* zelGetContextOccInst(PathVectorRecord* pathVector, const char* inst);
OccurrenceInstance* zelFindOrCreateOccInst(ConfigRecord* config, OccurrenceInstance* parent, const char* lib,
                                           const char* cell, const char* view, const char* inst);
ZelBool zelReplaceOccInstStop(OccurrenceInstance* occurrence, ZelBool value);
ZelBool zelReplaceOccInstBinding(OccurrenceInstance* occurrence, const char* lib, const char* cell,
                                 const char* view);
ZelBool zelDeleteOccInstBinding(OccurrenceInstance* occurrence);

/* Path vectors. */
PathVectorRecord* zelCreatePathVector(ConfigRecord* config);
PathVectorRecord* zelCopyPathVector(PathVectorRecord* pathVector);
void zelDestroyPathVector(PathVectorRecord* pathVector);
ZelBool zelPushCell(PathVectorRecord* pathVector, const char* lib, const char* cell, const char* view,
                    const char* inst);
ZelBool zelPopCell(PathVectorRecord* pathVector);
ZelBool zelPop(PathVectorRecord* pathVector);
ZelBool zelPopToTop(PathVectorRecord* pathVector);

/* Context queries. */
const char* zelGetRawContextInstViewString(PathVectorRecord* pathVector, const char* inst, const char* masterLib,
                                           const char* masterCell, const char* masterView);
const char* zelGetContextInstViewString(PathVectorRecord* pathVector, const char* inst, const char* masterLib,
                                        const char* masterCell, const char* masterView);
const char* zelGetRawInheritedContextInstViewString(PathVectorRecord* pathVector, const char* inst,
                                                    const char* masterLib, const char* masterCell,
                                                    const char* masterView);
const char* zelGetInheritedContextInstViewString(PathVectorRecord* pathVector, const char* inst,
                                                 const char* masterLib, const char* masterCell,
                                                 const char* masterView);
const char* zelGetContextUnInheritedInstViewList(PathVectorRecord* pathVector, const char* inst);
const char* zelGetContextUnInheritedInstViewBinding(PathVectorRecord* pathVector, const char* inst);
const char* zelGetContextRawUnInheritedInstViewList(PathVectorRecord* pathVector, const char* inst);
const char* zelGetContextLibName(PathVectorRecord* pathVector);
const char* zelGetContextCellName(PathVectorRecord* pathVector);
const char* zelGetContextViewName(PathVectorRecord* pathVector);
const char* zelGetIndexLibName(PathVectorRecord* pathVector, int32_t index);
const char* zelGetIndexCellName(PathVectorRecord* pathVector, int32_t index);
const char* zelGetIndexViewName(PathVectorRecord* pathVector, int32_t index);
const char* zelGetIndexViewList(PathVectorRecord* pathVector, int32_t index);
int32_t zelGetContextVectorIndex(PathVectorRecord* pathVector);

/* Binding and stops.  zelBind3 fills *binding in place, returns the resolved
 * lists through *lists and the BindInfo through *info (filling **info in place
 * when *info is not null).  Everything it hands out stays valid until the next
 * bind on the same path vector. */
int zelBind3(PathVectorRecord* pathVector, const char* inst, const char* masterLib, const char* masterCell,
             const char* masterView, ZelBool checkDesign, ZelBool useOccurrences, ZelBool allowRecent,
             BindingRecord* binding, ResolvedLists** lists, BindInfo** info);
ZelBool zelIsOpenBinding(BindingRecord* binding);
/* Valid until the next call for the same path vector. */
StopRule* zelGetAllMatchingStopRules(PathVectorRecord* pathVector);

/* Rules as written.  A rule is named by its kind (top, default-views,
 * default-libs, default-stops, constant, note, library, cell, inst,
 * occurrence), its scope (the names after the keyword; a null name is '*')
 * and, inside a block, its property (views, stops, view-binding, bind, libs,
 * stop).  zelListRules gives every rule and setting in the order of the file
 * a save writes, each as: kind, property (null for a setting), the line it
 * came from ("0": not from the file), its comment (null: none), the number of
 * scope names, the names, the number of values, the values (null: '-').
 * Valid until the next listing of the same configuration. */
const ZelStringList* zelListRules(ConfigRecord* config);
/* Sets one rule to values (a null value: '-'); the note takes its lines. */
ZelBool zelSetRule(ConfigRecord* config, const char* kind, const ZelStringList* scope, const char* property,
                   const ZelStringList* values);
/* Removes one rule; property null removes every rule of a block.  False when
 * nothing was set. */
ZelBool zelRemoveRule(ConfigRecord* config, const char* kind, const ZelStringList* scope, const char* property);
/* Gives a block rule the comment a save writes with it (lines, '\n' between,
 * each from its '#'): above its block when the file does not hold the block
 * yet, else above its line.  False when the rule is not set, or its line
 * already has what the file or an earlier call gave it. */
ZelBool zelSetRuleComment(ConfigRecord* config, const char* kind, const ZelStringList* scope, const char* property,
                          const char* comment);
/* The libraries of the library definitions, as name and folder pairs, sorted
 * by name (which); or the problems met reading the definitions, each a
 * warning's text.  Both belong to the caller: give them back with
 * zelFreeStringList. */
ZelStringList* zelListLibraries(int32_t which);
void zelFreeStringList(ZelStringList* list);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZELVEK_H */
