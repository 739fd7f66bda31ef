// Binding the current instance, and the queries about the last binding.  Only
// bind (and isUnbound) call the library; the rest read what bind left in the
// slot.
#include "COM_morvent_zel_ZelPathVector.h"

#include <cstdint>
#include <cstdlib>

#include "door.h"
#include "pathvector/support.h"

using door::OnSlot;
using pathvector::answer;
using pathvector::findRuleSource;
using pathvector::javaWordList;
using pathvector::RuleSource;
using pathvector::altRuleIs;
using pathvector::chosenByRule;
using pathvector::flagSet;

namespace {

// body(slot) on the receiver's slot; neutral when it names no path vector.
template <typename Result, typename Body>
Result onSlot(JNIEnv* env, jobject self, Result neutral, Body&& body) {
    return door::with<OnSlot>(env, self, neutral, {}, [&](PathVectorSlot* slot, NativeStrings&) { return body(*slot); });
}

// body(info) on the BindInfo of the receiver's last bind; neutral when the
// receiver names no path vector or there is no binding information.
template <typename Result, typename Body>
Result onBindInfo(JNIEnv* env, jobject self, Result neutral, Body&& body) {
    return onSlot(env, self, neutral, [&](const PathVectorSlot& slot) {
        return slot.bindInfo != nullptr ? body(*slot.bindInfo) : neutral;
    });
}

jboolean bindPredicate(JNIEnv* env, jobject self, bool (*holds)(const BindInfo&)) {
    return onBindInfo(env, self, jboolean{JNI_FALSE}, [holds](const BindInfo& info) { return answer(holds(info)); });
}

jstring boundName(JNIEnv* env, jobject self, const char* BindingRecord::*name) {
    return onSlot(env, self, jstring{nullptr}, [env, name](const PathVectorSlot& slot) {
        return slot.binding != nullptr ? toJavaString(env, slot.binding->*name) : nullptr;
    });
}

// After a bind that failed half-way nothing of it may be read: the queries
// answer as before the first bind.
void forgetBinding(PathVectorSlot& slot) {
    *slot.binding = BindingRecord{};
    *slot.ownBindInfo = BindInfo{};
    slot.bindInfo = slot.ownBindInfo;
    slot.resolvedLists = nullptr;
}

}  // namespace

extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelPathVector_bind(JNIEnv* env, jobject self, jstring inst,
                                                                          jstring masterLib, jstring masterCell,
                                                                          jstring masterView, jboolean checkDesign,
                                                                          jboolean useOccurrences,
                                                                          jboolean allowRecent, jobject listener) {
    door::relayed(env, listener, "bind", door::kVoid, [&](WarningScope& warnings, door::Held& held) {
        PathVectorSlot* slot = door::OnSlot::hold(held, env, self);
        if (slot == nullptr) return door::kVoid;
        warnings.arm(listener);
        NativeStrings strings(env, {inst, masterLib, masterCell, masterView});
        if (!strings.ok()) return door::kVoid;
        ResolvedLists* lists = nullptr;
        try {
            zelBind3(slot->pathVector, strings[0], strings[1], strings[2], strings[3], toLibraryBoolean(checkDesign),
                     toLibraryBoolean(useOccurrences), toLibraryBoolean(allowRecent), slot->binding, &lists,
                     &slot->bindInfo);
        } catch (...) {
            forgetBinding(*slot);
            throw;
        }
        warnings.disarm();
        slot->resolvedLists = lists;
        return door::kVoid;  // the library copied what it keeps; the strings are given back here
    });
}

extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelPathVector_resetCurrentBinding(JNIEnv* env, jobject self) {
    onSlot(env, self, door::kVoid, [](PathVectorSlot& slot) {
        // Taken cleared, as at registration: the getters then see no binding.
        auto* fresh = static_cast<BindingRecord*>(std::calloc(1, sizeof(BindingRecord)));
        if (fresh == nullptr) throw std::bad_alloc();  // the old block stays, and with it the last binding
        std::free(slot.binding);
        slot.binding = fresh;
        return door::kVoid;
    });
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
    return onSlot(env, self, jstring{nullptr}, [env](const PathVectorSlot& slot) {
        if (slot.bindInfo == nullptr || slot.resolvedLists == nullptr) return jstring{nullptr};
        return javaWordList(env, slot.resolvedLists->libWords);
    });
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getCurrentExpandedViewList(JNIEnv* env,
                                                                                                   jobject self) {
    return onSlot(env, self, jstring{nullptr}, [env](const PathVectorSlot& slot) {
        return slot.resolvedLists != nullptr ? javaWordList(env, slot.resolvedLists->expandedViewWords) : nullptr;
    });
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getCurrentViewList(JNIEnv* env,
                                                                                           jobject self) {
    return onBindInfo(env, self, jstring{nullptr}, [env](const BindInfo& info) -> jstring {
        if (info.viewListSource == nullptr) return nullptr;
        const RuleSource* source = findRuleSource(info.viewListRule);
        // A source of another kind has a list but no text of its own to show.
        static const char kNoText[] = "";
        return toJavaString(env, source != nullptr ? source->viewListOf(info.viewListSource) : kNoText);
    });
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelPathVector_getLibListBindWhy(JNIEnv* env, jobject self) {
    // With no binding information the default list is what a bind would use.
    return onBindInfo(env, self, jint{pathvector::kLibListDefault}, [](const BindInfo& info) -> jint {
        const RuleSource* source = findRuleSource(info.libListRule);
        return source != nullptr ? source->libListWhy : pathvector::kLibListOther;
    });
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
    return onBindInfo(env, self, jstring{nullptr}, [env](const BindInfo& info) -> jstring {
        // Whichever of the two rules named the cell binding, its record is bindingSource.
        if (!(chosenByRule(info, ZEL_RULE_CELL) || altRuleIs(info, ZEL_RULE_CELL))) return nullptr;
        const auto* cell = static_cast<const CellRecord*>(info.bindingSource);
        if (cell == nullptr || cell->libListWords == nullptr) return nullptr;
        return toJavaString(env, cell->libListWords[0]);
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isUnbound(JNIEnv* env, jobject self) {
    return onSlot(env, self, jboolean{JNI_FALSE}, [](const PathVectorSlot& slot) {
        return slot.binding != nullptr ? toJavaBoolean(zelIsOpenBinding(slot.binding)) : jboolean{JNI_FALSE};
    });
}
