// Whether the instance rules that apply to an instance of the current context
// are exactly the ones the caller describes.
#include "COM_morvent_zel_ZelPathVector.h"

#include <cstring>

#include "door.h"
#include "pathvector/support.h"

using pathvector::answer;
using pathvector::currentContext;

namespace {

// Places in the candidate list; a value is taken from the first candidate
// that has it.
enum Candidate { kContextCellView, kCachedCellView, kContextCell, kCachedCell, kCandidates };

struct Candidates {
    InstRuleRecord* rules[kCandidates];
    int count;
};

InstRuleRecord* findInCellView(ConfigRecord* config, CellViewRecord* cellView, const char* inst) {
    return cellView != nullptr ? zelFindCellViewInst(config, cellView, inst) : nullptr;
}

InstRuleRecord* findInCell(ConfigRecord* config, CellRecord* cell, const char* inst) {
    return cell != nullptr ? zelFindCellInst(config, cell, inst) : nullptr;
}

// The library is asked in this order, which is not the order of the list.
Candidates findCandidates(const PathVectorSlot& slot, const ContextEntry& entry, const char* inst) {
    ConfigRecord* config = slot.pathVector->config;
    InstRuleRecord* found[kCandidates] = {};
    found[kContextCellView] = findInCellView(config, entry.cellView, inst);
    found[kContextCell] = findInCell(config, entry.cell, inst);
    found[kCachedCellView] = findInCellView(config, slot.cachedCellView, inst);
    found[kCachedCell] = findInCell(config, slot.cachedCell, inst);
    Candidates candidates = {{}, 0};
    for (InstRuleRecord* rule : found)
        if (rule != nullptr) candidates.rules[candidates.count++] = rule;
    return candidates;
}

const char* firstValueOf(InstRuleRecord* rule) {
    return rule->firstValue;
}

const char* viewListOf(InstRuleRecord* rule) {
    return rule->viewList;
}

// One of the three values: whether the caller expects it, the text it
// expects, and how a candidate yields it.
struct ExpectedValue {
    jboolean expected;
    const char* text;
    const char* (*valueOf)(InstRuleRecord*);
};

// Candidates after the first that yields the value are not asked.
const char* firstValue(const Candidates& candidates, const char* (*valueOf)(InstRuleRecord*)) {
    for (int i = 0; i < candidates.count; ++i)
        if (const char* value = valueOf(candidates.rules[i])) return value;
    return nullptr;
}

// Expected: present and equal to a given text; not expected: absent.
bool matches(const ExpectedValue& want, const char* value) {
    if (!want.expected) return value == nullptr;
    return value != nullptr && want.text != nullptr && std::strcmp(value, want.text) == 0;
}

bool isOccurrenceInstance(const ContextEntry& entry, const char* inst) {
    if (entry.occurrence == nullptr || inst == nullptr) return false;
    for (const OccurrenceInstance* o = entry.occurrence->instances; o != nullptr; o = o->next)
        if (std::strcmp(o->name, inst) == 0) return true;
    return false;
}

bool sameInstRules(const PathVectorSlot& slot, const char* inst, const ExpectedValue (&wanted)[3],
                   jboolean occurrenceOverride) {
    const ContextEntry* entry = currentContext(slot.pathVector);
    if (entry == nullptr || occurrenceOverride) return false;
    // An instance on an occurrence path has rules of its own there.
    if (isOccurrenceInstance(*entry, inst)) return false;
    const Candidates candidates = findCandidates(slot, *entry, inst);
    for (const ExpectedValue& want : wanted)
        if (!matches(want, firstValue(candidates, want.valueOf))) return false;
    return true;
}

}  // namespace

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_isSameInstRules(
    JNIEnv* env, jobject self, jstring inst, jboolean expectLibList, jstring libList, jboolean expectViewBinding,
    jstring viewBinding, jboolean expectViewList, jstring viewList, jboolean occurrenceOverride) {
    return door::with<door::OnSlot>(
        env, self, jboolean{JNI_FALSE}, {inst, libList, viewBinding, viewList},
        [&](PathVectorSlot* slot, NativeStrings& s) {
            const ExpectedValue wanted[3] = {{expectLibList, s[1], firstValueOf},
                                             {expectViewBinding, s[2], zelGetInstViewBinding},
                                             {expectViewList, s[3], viewListOf}};
            const bool same = sameInstRules(*slot, s[0], wanted, occurrenceOverride);
            s.release();
            return answer(same);
        });
}
