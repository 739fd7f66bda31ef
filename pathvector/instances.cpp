// The instances of the current context: enumerating those with rules in its
// cell view, whether any instance rule applies (caching the context's cell and
// cell-view records for isSameInstRules), and occurrence-path membership.
#include "COM_morvent_zel_ZelPathVector.h"

#include "cursors.h"
#include "jni_util.h"
#include "pathvector/support.h"
#include "registry.h"
#include "zelvek/zelvek.h"

using pathvector::answer;
using pathvector::callWithStrings;
using pathvector::currentContext;

namespace {

bool hasInstRules(const CellRecord* cell) {
    return cell != nullptr && cell->instRules != nullptr;
}

bool hasInstRules(const CellViewRecord* cellView) {
    return cellView != nullptr && cellView->instRules != nullptr;
}

// The first instance rule of the current context's cell view, or null.
InstRuleRecord* firstContextInstRule(const PathVectorRecord* pathVector) {
    if (pathVector == nullptr) return nullptr;
    const ContextEntry* entry = currentContext(pathVector);
    if (entry == nullptr || entry->cellView == nullptr) return nullptr;
    return entry->cellView->instRules;
}

}  // namespace

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_enumerateContextInstances(JNIEnv* env,
                                                                                                   jobject self) {
    PathVectorRecord* pathVector = pathVectorFromObject(env, self);
    InstRuleRecord* first = firstContextInstRule(pathVector);
    // Every start ends the enumeration in progress, a failed one too.
    instanceCursor = first != nullptr ? InstanceCursor{first, pathVector} : InstanceCursor{nullptr, nullptr};
    return answer(first != nullptr);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getContextNextInstance(JNIEnv* env,
                                                                                               jobject /*self*/) {
    InstRuleRecord* rule = instanceCursor.rule;
    if (rule == nullptr) return nullptr;
    instanceCursor.rule = rule->next;
    // A rule without a name still moves the cursor on.
    return toJavaString(env, rule->name);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isAnyInstRules(JNIEnv* env, jobject self) {
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    if (slot == nullptr) return JNI_FALSE;
    const ContextEntry* entry = currentContext(slot->pathVector);
    if (entry == nullptr) return JNI_FALSE;
    ConfigRecord* config = slot->pathVector->config;
    bool any = hasInstRules(entry->cellView) || hasInstRules(entry->cell);
    // Looked up and cached whatever the context's own records answered.
    slot->cachedCell = zelFindCell(config, nullptr, entry->cellName);
    if (slot->cachedCell == nullptr) return answer(any);
    any = any || hasInstRules(slot->cachedCell);
    slot->cachedCellView = zelFindCellCellView(config, slot->cachedCell, entry->viewName);
    return answer(any || hasInstRules(slot->cachedCellView));
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isPartOfOccurPath(JNIEnv* env, jobject self,
                                                                                           jstring inst) {
    PathVectorRecord* pathVector = pathVectorFromObject(env, self);
    if (pathVector == nullptr) return JNI_FALSE;
    auto occurrence = callWithStrings(
        env, [pathVector](const char* name) { return zelGetContextOccInst(pathVector, name); }, inst);
    return answer(occurrence && *occurrence != nullptr);
}
