// What the path-vector natives share: the current context of a path vector,
// word lists, and the one table that says what each rule-source code means to
// the bridge.
#ifndef ZEL_PATHVECTOR_SUPPORT_H
#define ZEL_PATHVECTOR_SUPPORT_H

#include <jni.h>

#include <cstdint>

#include "jni_util.h"
#include "registry.h"
#include "zelvek/zelvek.h"

namespace pathvector {

// A predicate the bridge computes itself answers exactly 1 or 0.
inline jboolean answer(bool value) {
    return value ? JNI_TRUE : JNI_FALSE;
}

// The entry at the path vector's depth, or null when it has no current level.
ContextEntry* currentContext(const PathVectorRecord* pathVector);

// The words of a word array separated by single blanks, as a kwoCopyString
// copy (give it back with kwoFreeString); null for a null array.  Any length is
// joined whole.
char* joinWords(ZelWords words);
// joinWords handed to Java; the copy is given back once Java has its own.
jstring javaWordList(JNIEnv* env, ZelWords words);

// getLibListBindWhy's answers.
enum LibListWhy : jint { kLibListOther = -1, kLibListDefault = 0, kLibListInstance = 1, kLibListCell = 2 };

// Everything the bridge makes of one rule-source code.
struct RuleSource {
    int code;
    LibListWhy libListWhy;
    const char* (*viewListOf)(const void* viewListSource);  // the source record's view-list field
    jint stopBit;
};

// The entry of a code, or null for a code that names no rule source (bytes of
// 0x80 and above read as negative and name none).
const RuleSource* findRuleSource(int code);

// A flag of the last bind's answer.
inline bool flagSet(const BindInfo& info, std::uint32_t flag) {
    return (info.flags & flag) != 0;
}

// A binding rule of that kind chose the view.
inline bool chosenByRule(const BindInfo& info, int code) {
    return flagSet(info, ZEL_BIND_BY_RULE) && info.viewBindingRule == code;
}

// The second binding rule counts only when the library flagged it.
inline bool altRuleIs(const BindInfo& info, int code) {
    return flagSet(info, ZEL_BIND_ALT_RULE) && info.altBindingRule == code;
}

}  // namespace pathvector

#endif
