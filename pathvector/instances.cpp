// The instances of the current context: enumerating those with rules in its
// cell view, whether any instance rule applies (caching the context's cell and
// cell-view records for isSameInstRules), and occurrence-path membership.
#include "COM_morvent_zel_ZelPathVector.h"

#include "cursors.h"
#include "door.h"
#include "pathvector/support.h"

using pathvector::answer;
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
    return door::guarded(jboolean{JNI_FALSE}, [&] {
        door::Held held(env);
        PathVectorRecord* pathVector = door::OnPathVector::hold(held, env, self);
        InstRuleRecord* first = firstContextInstRule(pathVector);
        // Every start ends the enumeration in progress, a failed one too.
        std::lock_guard<std::mutex> guard(cursorMutex);
        instanceCursor = first != nullptr ? InstanceCursor{first, pathVector, held.lock()}
                                          : InstanceCursor{nullptr, nullptr, nullptr};
        return answer(first != nullptr);
    });
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getContextNextInstance(JNIEnv* env,
                                                                                               jobject /*self*/) {
    return door::guarded(jstring{nullptr}, [env]() -> jstring {
        door::Held held(env);
        InstRuleRecord* rule = nullptr;
        if (!withCursor(held, instanceCursor, [&](InstanceCursor& cursor) {
                rule = cursor.rule;
                if (rule != nullptr) cursor.rule = rule->next;
            }))
            return nullptr;
        if (rule == nullptr) return nullptr;
        // A rule without a name still moves the cursor on.
        return toJavaString(env, rule->name);
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isAnyInstRules(JNIEnv* env, jobject self) {
    return door::with<door::OnSlot>(env, self, jboolean{JNI_FALSE}, {}, [](PathVectorSlot* slot, NativeStrings&) {
        const ContextEntry* entry = currentContext(slot->pathVector);
        if (entry == nullptr) return jboolean{JNI_FALSE};
        ConfigRecord* config = slot->pathVector->config;
        bool any = hasInstRules(entry->cellView) || hasInstRules(entry->cell);
        // Looked up and cached whatever the context's own records answered.
        // Both records are replaced, so that none is left from another context.
        slot->cachedCell = zelFindCell(config, nullptr, entry->cellName);
        slot->cachedCellView = nullptr;
        if (slot->cachedCell == nullptr) return answer(any);
        any = any || hasInstRules(slot->cachedCell);
        slot->cachedCellView = zelFindCellCellView(config, slot->cachedCell, entry->viewName);
        return answer(any || hasInstRules(slot->cachedCellView));
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isPartOfOccurPath(JNIEnv* env, jobject self,
                                                                                           jstring inst) {
    return door::with<door::OnPathVector>(env, self, jboolean{JNI_FALSE}, {inst},
                                          [](PathVectorRecord* pathVector, NativeStrings& s) {
                                              const bool part = zelGetContextOccInst(pathVector, s[0]) != nullptr;
                                              s.release();
                                              return answer(part);
                                          });
}
