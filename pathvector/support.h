// What the path-vector natives share: marshalling of their string parameters,
// the current context of a path vector, word lists, and the one table that
// says what each rule-source code means to the bridge.
#ifndef ZEL_PATHVECTOR_SUPPORT_H
#define ZEL_PATHVECTOR_SUPPORT_H

#include <jni.h>

#include <optional>
#include <type_traits>
#include <utility>

#include "jni_util.h"
#include "registry.h"
#include "zelvek/zelvek.h"

namespace pathvector {

template <typename Param>
using NativeOf = const char*;

template <typename Call, std::size_t... I>
auto applyStrings(Call& call, const NativeStrings& strings, std::index_sequence<I...>) {
    return call(strings[I]...);
}

// Hands `call` the native strings of `params` in parameter order (a null
// String as a null pointer) and releases them right after it, whatever it
// returned.  Empty when the JVM could not hand out a string: `call` is then
// not made and what was obtained is already given back.
template <typename Call, typename... Params>
std::optional<std::invoke_result_t<Call&, NativeOf<Params>...>> callWithStrings(JNIEnv* env, Call call,
                                                                               Params... params) {
    NativeStrings strings(env, {params...});
    if (!strings.ok()) return std::nullopt;
    auto result = applyStrings(call, strings, std::index_sequence_for<Params...>{});
    strings.release();
    return result;
}

// One library query on the receiver's path-vector record, the record first and
// the native strings of `params` after it; null when the receiver names no
// path vector or a string could not be obtained.
template <typename Query, typename... Params>
jstring queryString(JNIEnv* env, jobject self, Query query, Params... params) {
    PathVectorRecord* pathVector = pathVectorFromObject(env, self);
    if (pathVector == nullptr) return nullptr;
    auto text = callWithStrings(
        env, [&](NativeOf<Params>... strings) { return query(pathVector, strings...); }, params...);
    return text ? toJavaString(env, *text) : nullptr;
}

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

}  // namespace pathvector

#endif
