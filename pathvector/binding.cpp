// Binding the current instance, and the queries about the last binding.  Only
// bind (and isUnbound) call the library; the rest read what bind left in the
// slot.
#include "COM_morvent_zel_ZelPathVector.h"

#include <cstdint>
#include <cstdlib>

#include "jni_util.h"
#include "pathvector/support.h"
#include "registry.h"
#include "relay.h"
#include "zelvek/zelvek.h"

using pathvector::answer;
using pathvector::findRuleSource;
using pathvector::javaWordList;
using pathvector::RuleSource;

namespace {

// The BindInfo of the receiver's last bind; null when the receiver names no
// path vector or there is no binding information.
const BindInfo* bindInfoOf(JNIEnv* env, jobject self) {
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    return slot != nullptr ? slot->bindInfo : nullptr;
}

bool flagSet(const BindInfo& info, std::uint32_t flag) {
    return (info.flags & flag) != 0;
}

// A binding rule of that kind chose the view.
bool chosenByRule(const BindInfo& info, int code) {
    return flagSet(info, ZEL_BIND_BY_RULE) && info.viewBindingRule == code;
}

// The second binding rule counts only when the library flagged it.
bool altRuleIs(const BindInfo& info, int code) {
    return flagSet(info, ZEL_BIND_ALT_RULE) && info.altBindingRule == code;
}

jboolean bindPredicate(JNIEnv* env, jobject self, bool (*holds)(const BindInfo&)) {
    const BindInfo* info = bindInfoOf(env, self);
    return answer(info != nullptr && holds(*info));
}

jstring boundName(JNIEnv* env, jobject self, const char* BindingRecord::*name) {
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    if (slot == nullptr || slot->binding == nullptr) return nullptr;
    return toJavaString(env, slot->binding->*name);
}

}  // namespace

extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelPathVector_bind(JNIEnv* env, jobject self, jstring inst,
                                                                          jstring masterLib, jstring masterCell,
                                                                          jstring masterView, jboolean checkDesign,
                                                                          jboolean useOccurrences,
                                                                          jboolean allowRecent, jobject listener) {
    WarningScope warnings(env);  // first: what the relay set aside is thrown once bind is done
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    if (slot == nullptr) return;
    warnings.arm(listener);
    NativeStrings strings(env, {inst, masterLib, masterCell, masterView});
    if (!strings.ok()) {
        warnings.disarm();
        return;
    }
    ResolvedLists* lists = nullptr;
    zelBind3(slot->pathVector, strings[0], strings[1], strings[2], strings[3], toLibraryBoolean(checkDesign),
             toLibraryBoolean(useOccurrences), toLibraryBoolean(allowRecent), slot->binding, &lists,
             &slot->bindInfo);
    warnings.disarm();
    slot->resolvedLists = lists;
    strings.release();  // the library copied what it keeps
}

extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelPathVector_resetCurrentBinding(JNIEnv* env, jobject self) {
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    if (slot == nullptr) return;
    std::free(slot->binding);
    // Taken cleared, as at registration: the getters then see no binding.
    slot->binding = static_cast<BindingRecord*>(std::calloc(1, sizeof(BindingRecord)));
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getCurrentLibBinding(JNIEnv* env,
                                                                                             jobject self) {
    return boundName(env, self, &BindingRecord::libName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getCurrentCellBinding(JNIEnv* env,
                                                                                              jobject self) {
    return boundName(env, self, &BindingRecord::cellName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getCurrentViewBinding(JNIEnv* env,
                                                                                              jobject self) {
    return boundName(env, self, &BindingRecord::viewName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getCurrentLibList(JNIEnv* env, jobject self) {
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    if (slot == nullptr || slot->bindInfo == nullptr || slot->resolvedLists == nullptr) return nullptr;
    return javaWordList(env, slot->resolvedLists->libWords);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getCurrentExpandedViewList(JNIEnv* env,
                                                                                                   jobject self) {
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    if (slot == nullptr || slot->resolvedLists == nullptr) return nullptr;
    return javaWordList(env, slot->resolvedLists->expandedViewWords);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getCurrentViewList(JNIEnv* env,
                                                                                           jobject self) {
    const BindInfo* info = bindInfoOf(env, self);
    if (info == nullptr || info->viewListSource == nullptr) return nullptr;
    const RuleSource* source = findRuleSource(info->viewListRule);
    // A source of another kind has a list but no text of its own to show.
    static const char kNoText[] = "";
    return toJavaString(env, source != nullptr ? source->viewListOf(info->viewListSource) : kNoText);
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelPathVector_getLibListBindWhy(JNIEnv* env, jobject self) {
    const BindInfo* info = bindInfoOf(env, self);
    if (info == nullptr) return pathvector::kLibListDefault;
    const RuleSource* source = findRuleSource(info->libListRule);
    return source != nullptr ? source->libListWhy : pathvector::kLibListOther;
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isCurrentViewSet(JNIEnv* env, jobject self) {
    return bindPredicate(env, self, [](const BindInfo& info) {
        return !flagSet(info, ZEL_BIND_VIEW_MISSING) && info.viewBindingRule == ZEL_RULE_INSTANCE;
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isCurrentViewListSet(JNIEnv* env,
                                                                                              jobject self) {
    return bindPredicate(env, self, [](const BindInfo& info) {
        return !flagSet(info, ZEL_BIND_VIEWLIST_INHERIT) && info.viewListRule == ZEL_RULE_INSTANCE;
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isCurrentOccurBinding(JNIEnv* env,
                                                                                               jobject self) {
    return bindPredicate(env, self, [](const BindInfo& info) {
        return info.viewBindingRule == ZEL_RULE_OCCURRENCE || altRuleIs(info, ZEL_RULE_OCCURRENCE);
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isCurrentViewMRU(JNIEnv* env, jobject self) {
    return bindPredicate(env, self, [](const BindInfo& info) { return flagSet(info, ZEL_BIND_MOST_RECENT); });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isInstViewBindingUsed(JNIEnv* env,
                                                                                               jobject self) {
    return bindPredicate(env, self, [](const BindInfo& info) {
        return chosenByRule(info, ZEL_RULE_INSTANCE) || altRuleIs(info, ZEL_RULE_INSTANCE);
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isCellViewBindingUsed(JNIEnv* env,
                                                                                               jobject self) {
    return bindPredicate(env, self, [](const BindInfo& info) { return chosenByRule(info, ZEL_RULE_CELL); });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isLibListInherited(JNIEnv* env,
                                                                                            jobject self) {
    return bindPredicate(env, self, [](const BindInfo& info) { return flagSet(info, ZEL_BIND_LIBLIST_INHERIT); });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isViewListInherited(JNIEnv* env,
                                                                                             jobject self) {
    return bindPredicate(env, self, [](const BindInfo& info) { return flagSet(info, ZEL_BIND_VIEWLIST_INHERIT); });
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getLibSetOnCellBinding(JNIEnv* env,
                                                                                               jobject self) {
    const BindInfo* info = bindInfoOf(env, self);
    // Whichever of the two rules named the cell binding, its record is bindingSource.
    if (info == nullptr || !(chosenByRule(*info, ZEL_RULE_CELL) || altRuleIs(*info, ZEL_RULE_CELL))) return nullptr;
    const auto* cell = static_cast<const CellRecord*>(info->bindingSource);
    if (cell == nullptr || cell->libListWords == nullptr) return nullptr;
    return toJavaString(env, cell->libListWords[0]);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isUnbound(JNIEnv* env, jobject self) {
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    if (slot == nullptr || slot->binding == nullptr) return JNI_FALSE;
    return toJavaBoolean(zelIsOpenBinding(slot->binding));
}
