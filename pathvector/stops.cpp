// Stop queries: whether the walk stops at the current position, and which
// kinds of rule made the last such query stop.
#include "COM_morvent_zel_ZelPathVector.h"

#include "door.h"
#include "pathvector/support.h"

using pathvector::answer;
using pathvector::findRuleSource;
using pathvector::RuleSource;

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isAtStop(JNIEnv* env, jobject self) {
    return door::with<door::OnSlot>(env, self, jboolean{JNI_FALSE}, {}, [](PathVectorSlot* slot, NativeStrings&) {
        // Kept, null included: getStopWhy answers for this position.
        slot->stopRules = zelGetAllMatchingStopRules(slot->pathVector);
        return answer(slot->stopRules != nullptr && slot->stopRules[0].rule != nullptr);
    });
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelPathVector_getStopWhy(JNIEnv* env, jobject self) {
    return door::with<door::OnSlot>(env, self, jint{0}, {}, [](PathVectorSlot* slot, NativeStrings&) {
        jint reasons = 0;
        if (slot->stopRules == nullptr) return reasons;
        for (const StopRule* stop = slot->stopRules; stop->rule != nullptr; ++stop) {
            const RuleSource* source = findRuleSource(stop->code);
            if (source != nullptr) reasons |= source->stopBit;
        }
        return reasons;
    });
}
