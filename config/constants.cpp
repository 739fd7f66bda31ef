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
        ConfigRecord* config = configFromObject(env, self);
        constantCursor =
            config != nullptr ? ConstantCursor{config->constants, config} : ConstantCursor{nullptr, nullptr};
        return door::kVoid;
    });
}

// The cursor natives do not use their receiver: there is one enumeration in
// the whole process.
extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelConfig_nextConstant(JNIEnv*, jobject) {
    door::guarded(door::kVoid, [] {
        if (constantCursor.entry != nullptr) constantCursor.entry = constantCursor.entry->next;
        return door::kVoid;
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_hasMoreConstants(JNIEnv*, jobject) {
    return door::guarded(jboolean{JNI_FALSE}, [] { return jboolean{constantCursor.entry != nullptr}; });
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getConstantName(JNIEnv* env, jobject) {
    return door::guarded(jstring{nullptr}, [env] {
        return constantCursor.entry != nullptr ? toJavaString(env, constantCursor.entry->name) : nullptr;
    });
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getConstantValue(JNIEnv* env, jobject) {
    return door::guarded(jstring{nullptr}, [env] {
        return constantCursor.entry != nullptr ? toJavaString(env, constantCursor.entry->value) : nullptr;
    });
}
