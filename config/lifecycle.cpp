// Opening, saving and closing a configuration, and three questions about it.
#include "COM_morvent_zel_ZelConfig.h"
#include "config_natives.h"
#include "cursors.h"

namespace {

// The three opens: the receiver's id is written, never read.  Its field ID is
// looked up before any string is converted, so that writing it later needs no
// lookup after the library call.
template <typename... Chars, typename... Strings>
jboolean openInto(JNIEnv* env, jobject self, jobject listener, ConfigRecord* (*open)(Chars...),
                  Strings... params) {
    static_assert(sizeof...(Chars) == sizeof...(Strings), "one String for each string of the open function");
    WarningScope warnings(env);
    HandleField id(env, self, kConfigHandleField);
    NativeStrings strings(env, {params...});
    // Out of memory, with an exception pending: no JNI call may follow, so id
    // is left as it is; Java sees the exception.
    if (!strings.ok()) return JNI_FALSE;
    warnings.arm(listener);
    ConfigRecord* config = applyStrings(open, strings, std::index_sequence_for<Strings...>{});
    warnings.disarm();
    strings.release();
    // A failed open forgets whatever the object held; that configuration stays registered.
    id.write(config != nullptr ? registerConfig(config) : 0);
    return config != nullptr ? JNI_TRUE : JNI_FALSE;
}

}  // namespace

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_open(JNIEnv* env, jobject self, jstring lib,
                                                                         jstring cell, jstring view, jstring mode,
                                                                         jobject listener) {
    return openInto(env, self, listener, zelOpen, lib, cell, view, mode);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_openWithType(JNIEnv* env, jobject self,
                                                                                 jstring lib, jstring cell,
                                                                                 jstring view, jstring viewType,
                                                                                 jstring mode, jobject listener) {
    return openInto(env, self, listener, zelOpenWithType, lib, cell, view, viewType, mode);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_openPartial(JNIEnv* env, jobject self,
                                                                                jstring path, jstring mode,
                                                                                jobject listener) {
    return openInto(env, self, listener, zelOpenPartialConfig, path, mode);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_save(JNIEnv* env, jobject self,
                                                                         jobject listener) {
    return relayedConfigBoolean(env, self, listener, zelSave);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_saveAs(JNIEnv* env, jobject self, jstring lib,
                                                                           jstring cell, jstring view,
                                                                           jobject listener) {
    return relayedConfigBoolean(env, self, listener, zelSaveAs, lib, cell, view);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_close(JNIEnv* env, jobject self) {
    jint handle = readHandleField(env, self, kConfigHandleField);
    ConfigRecord* config = lookupConfig(handle);
    if (config == nullptr || zelClose(config) == 0) return JNI_FALSE;
    // The library has released the record: nothing may keep pointing into it.
    forgetCursorsOfConfig(config);
    unregisterConfig(handle);
    return JNI_TRUE;
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_isModified(JNIEnv* env, jobject self) {
    return configBoolean(env, self, zelConfigIsModified);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_isEditable(JNIEnv* env, jobject self) {
    return configBoolean(env, self, zelConfigIsEditable);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_isContainingOccur(JNIEnv* env, jobject self) {
    return configBoolean(env, self, zelConfigHasOccRules);
}
