// Named constants: editing, evaluating, and one process-wide enumeration.
#include "COM_morvent_zel_ZelConfig.h"
#include "config_natives.h"
#include "cursors.h"

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_replaceConstant(JNIEnv* env, jobject self,
                                                                                    jstring name, jstring value) {
    return configBoolean(env, self, zelReplaceConst, name, value);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteConstant(JNIEnv* env, jobject self,
                                                                                   jstring name) {
    return configBoolean(env, self, zelDeleteConst, name);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_evalConstants(JNIEnv* env, jobject self,
                                                                                 jstring text) {
    return withConfigStrings(env, self, jstring{nullptr}, {text}, [env](ConfigRecord* config, NativeStrings& strings) {
        const char* evaluated = zelEvalConstants(config, strings[0]);
        strings.release();
        return toJavaString(env, evaluated);
    });
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_resolveConstants(JNIEnv* env, jobject self,
                                                                                    jstring text) {
    return withConfigStrings(env, self, jstring{nullptr}, {text}, [env](ConfigRecord* config, NativeStrings& strings) {
        return toJavaString(env, zelResolveConstants(config, strings[0]));
    });
}

// The cursor remembers whose list it walks, so that closing that
// configuration can empty it (see close).
extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelConfig_enumerateConstants(JNIEnv* env, jobject self) {
    ConfigRecord* config = configFromObject(env, self);
    constantCursor = config != nullptr ? ConstantCursor{config->constants, config} : ConstantCursor{nullptr, nullptr};
}

// The cursor natives do not use their receiver: there is one enumeration in
// the whole process.
extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelConfig_nextConstant(JNIEnv*, jobject) {
    if (constantCursor.entry != nullptr) constantCursor.entry = constantCursor.entry->next;
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_hasMoreConstants(JNIEnv*, jobject) {
    return constantCursor.entry != nullptr ? JNI_TRUE : JNI_FALSE;
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getConstantName(JNIEnv* env, jobject) {
    return constantCursor.entry != nullptr ? toJavaString(env, constantCursor.entry->name) : nullptr;
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getConstantValue(JNIEnv* env, jobject) {
    return constantCursor.entry != nullptr ? toJavaString(env, constantCursor.entry->value) : nullptr;
}
