// Named constants: editing, evaluating, and one process-wide enumeration.
#include "COM_morvent_zel_ZelConfig.h"
#include "cursors.h"
#include "door.h"

using door::OnConfig;

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_replaceConstant(JNIEnv* env, jobject self,
                                                                                    jstring name, jstring value) {
    return door::boolean<OnConfig>(env, self, zelReplaceConst, name, value);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteConstant(JNIEnv* env, jobject self,
                                                                                   jstring name) {
    return door::boolean<OnConfig>(env, self, zelDeleteConst, name);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_evalConstants(JNIEnv* env, jobject self,
                                                                                 jstring text) {
    return door::string<OnConfig>(env, self, zelEvalConstants, text);
}

// The text is given back after its result is copied.
extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_resolveConstants(JNIEnv* env, jobject self,
                                                                                    jstring text) {
    return door::with<OnConfig>(env, self, jstring{nullptr}, {text}, [env](ConfigRecord* config, NativeStrings& s) {
        return toJavaString(env, zelResolveConstants(config, s[0]));
    });
}

// The cursor remembers whose list it walks, so that closing that
// configuration can empty it (see close).  A receiver that names nothing
// ends the enumeration in progress.
extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelConfig_enumerateConstants(JNIEnv* env, jobject self) {
    door::guarded(door::kVoid, [&] {
        door::Held held(env);
        ConfigRecord* config = OnConfig::hold(held, env, self);
        std::lock_guard<std::mutex> guard(cursorMutex);
        constantCursor = config != nullptr ? ConstantCursor{config->constants, config, held.lock()}
                                           : ConstantCursor{nullptr, nullptr, nullptr};
        return door::kVoid;
    });
}

namespace {

// body(cursor) on the constant cursor, the list it walks locked; neutral
// when that lock could not be had.
template <typename Result, typename Body>
Result onConstantCursor(JNIEnv* env, Result neutral, Body body) {
    return door::guarded(neutral, [&]() -> Result {
        door::Held held(env);
        Result result = neutral;
        if (!withCursor(held, constantCursor, [&](ConstantCursor& cursor) { result = body(cursor); })) return neutral;
        return result;
    });
}

// A name or value of the constant the cursor stands on, copied for Java with
// the list still locked.
jstring constantText(JNIEnv* env, const char* ConstantEntry::*field) {
    return door::guarded(jstring{nullptr}, [&]() -> jstring {
        door::Held held(env);
        const char* text = nullptr;
        bool any = false;
        if (!withCursor(held, constantCursor, [&](ConstantCursor& cursor) {
                any = cursor.entry != nullptr;
                if (any) text = cursor.entry->*field;
            }))
            return nullptr;
        return any ? toJavaString(env, text) : nullptr;
    });
}

}  // namespace

// The cursor natives do not use their receiver: there is one enumeration in
// the whole process.
extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelConfig_nextConstant(JNIEnv* env, jobject) {
    onConstantCursor(env, door::kVoid, [](ConstantCursor& cursor) {
        if (cursor.entry != nullptr) cursor.entry = cursor.entry->next;
        return door::kVoid;
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_hasMoreConstants(JNIEnv* env, jobject) {
    return onConstantCursor(env, jboolean{JNI_FALSE},
                            [](ConstantCursor& cursor) { return jboolean{cursor.entry != nullptr}; });
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getConstantName(JNIEnv* env, jobject) {
    return constantText(env, &ConstantEntry::name);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getConstantValue(JNIEnv* env, jobject) {
    return constantText(env, &ConstantEntry::value);
}
