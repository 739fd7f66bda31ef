/*
 * Binding and stop evaluation over a path vector.
 *
 * For now no rule takes part: every instance binds to open (no library, cell
 * or view) and no stop rule matches.  The answers are handed out from the
 * path vector's BindState, which keeps them valid until the next call.
 */
#include "zelvek/internal.h"

using namespace zel;

namespace zel {

struct BindState {
    BindInfo info{};                       // used when the caller brings no block of its own
    StopRule stops[1] = {{0, nullptr}};    // the matching stop rules, ended by a null rule
};

void releaseBindState(BindState* state) { delete state; }

}  // namespace zel

namespace {

BindState& stateOf(PathVector& pv) {
    if (!pv.bind) pv.bind = new BindState();
    return *pv.bind;
}

}  // namespace

extern "C" {

int zelBind3(PathVectorRecord* pathVector, const char* inst, const char* masterLib, const char* masterCell,
             const char* masterView, ZelBool checkDesign, ZelBool useOccurrences, ZelBool allowRecent,
             BindingRecord* binding, ResolvedLists** lists, BindInfo** info) {
    (void)inst;
    (void)masterLib;
    (void)masterCell;
    (void)masterView;
    (void)checkDesign;
    (void)useOccurrences;
    (void)allowRecent;
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv) return 0;
    BindState& state = stateOf(*pv);
    if (binding) *binding = BindingRecord{nullptr, nullptr, nullptr};
    if (lists) *lists = nullptr;
    if (info) {
        BindInfo* block = *info ? *info : &state.info;
        *block = BindInfo{};
        *info = block;
    }
    return 0;
}

ZelBool zelIsOpenBinding(BindingRecord* binding) {
    return !binding || !binding->viewName || !*binding->viewName ? 1 : 0;
}

StopRule* zelGetAllMatchingStopRules(PathVectorRecord* pathVector) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv) return nullptr;
    BindState& state = stateOf(*pv);
    state.stops[0] = StopRule{0, nullptr};
    return state.stops;
}

const char* zelGetRawContextInstViewString(PathVectorRecord* pathVector, const char* inst, const char* masterLib,
                                           const char* masterCell, const char* masterView) {
    (void)pathVector, (void)inst, (void)masterLib, (void)masterCell, (void)masterView;
    return nullptr;
}

const char* zelGetContextInstViewString(PathVectorRecord* pathVector, const char* inst, const char* masterLib,
                                        const char* masterCell, const char* masterView) {
    (void)pathVector, (void)inst, (void)masterLib, (void)masterCell, (void)masterView;
    return nullptr;
}

const char* zelGetRawInheritedContextInstViewString(PathVectorRecord* pathVector, const char* inst,
                                                    const char* masterLib, const char* masterCell,
                                                    const char* masterView) {
    (void)pathVector, (void)inst, (void)masterLib, (void)masterCell, (void)masterView;
    return nullptr;
}

const char* zelGetInheritedContextInstViewString(PathVectorRecord* pathVector, const char* inst,
                                                 const char* masterLib, const char* masterCell,
                                                 const char* masterView) {
    (void)pathVector, (void)inst, (void)masterLib, (void)masterCell, (void)masterView;
    return nullptr;
}

const char* zelGetContextUnInheritedInstViewList(PathVectorRecord* pathVector, const char* inst) {
    (void)pathVector, (void)inst;
    return nullptr;
}

const char* zelGetContextUnInheritedInstViewBinding(PathVectorRecord* pathVector, const char* inst) {
    (void)pathVector, (void)inst;
    return nullptr;
}

const char* zelGetContextRawUnInheritedInstViewList(PathVectorRecord* pathVector, const char* inst) {
    (void)pathVector, (void)inst;
    return nullptr;
}

// The view list in effect at a level: what a bind left there, else the
// configuration's default.
const char* zelGetIndexViewList(PathVectorRecord* pathVector, int32_t index) {
    PathVector* pv = pathVectorOf(pathVector);
    if (!pv || index < 0 || index > pathVector->depth) return nullptr;
    const ContextEntry* e = pathVector->contexts[index];
    return e->viewList ? e->viewList : pv->config->rec.defaultViewList;
}

}  // extern "C"
