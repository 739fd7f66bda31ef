// Opening, saving and closing a configuration, and three questions about it.
#include "COM_morvent_zel_ZelConfig.h"
#include "cursors.h"
#include "door.h"
#include "init.h"

using door::OnConfig;

namespace {

constexpr const char kNotInitialized[] =
    "ZelConfig.init has not been called: call it once, before the first open, with the library definitions "
    "file (or null to search for kwo.lib); without it no library is defined";

constexpr const char kNoHandleLeft[] =
    "no configuration handle is left in this process: every handle has been handed out once; "
    "start a new process to open more configurations";

// The three opens: the receiver's id is written, never read.  Its field ID is
// looked up before any string is converted, so that writing it later needs no
// lookup after the library call.
template <typename... Chars, typename... Strings>
jboolean openInto(JNIEnv* env, jobject self, jobject listener, const char* native, ConfigRecord* (*open)(Chars...),
                  Strings... params) {
    static_assert(sizeof...(Chars) == sizeof...(Strings), "one String for each string of the open function");
    return door::relayed(env, listener, native, jboolean{JNI_FALSE}, [&](WarningScope& warnings,
                                                                          door::Held&) -> jboolean {
        HandleField id(env, self, kConfigHandleField);
        // A class without the field (renamed by a shrinker): its error is
        // pending, so no JNI call may follow, and nothing could hold the handle.
        if (!id.ok()) return jboolean{JNI_FALSE};
        NativeStrings strings(env, {params...});
        // Out of memory, with an exception pending: no JNI call may follow, so id
        // is left as it is; Java sees the exception.
        if (!strings.ok()) return jboolean{JNI_FALSE};
        warnings.arm(listener);
        ConfigRecord* config = door::applyStrings(open, strings, std::index_sequence_for<Strings...>{});
        warnings.disarm();
        strings.release();
        if (config == nullptr && !isLibraryInitialized()) door::tellListener(warnings, listener, kNotInitialized);
        // A failed open forgets whatever the object held; that configuration stays registered.
        const jint handle = config != nullptr ? registerConfig(config) : 0;
        id.write(handle);
        if (config != nullptr && handle == 0) {
            // Nothing could ever reach the record: give it back.
            zelClose(config);
            door::tellListener(warnings, listener, kNoHandleLeft);
        }
        return handle != 0 ? JNI_TRUE : JNI_FALSE;
    });
}

// save and saveAs: the warnings of the library call go to listener.
template <typename... Chars, typename... Strings>
jboolean saveWith(JNIEnv* env, jobject self, jobject listener, const char* native,
                  ZelBool (*save)(ConfigRecord*, Chars...), Strings... params) {
    static_assert(sizeof...(Chars) == sizeof...(Strings), "one String for each string of the library function");
    return door::relayed(env, listener, native, jboolean{JNI_FALSE}, [&](WarningScope& warnings,
                                                                          door::Held& held) -> jboolean {
        ConfigRecord* config = OnConfig::hold(held, env, self);
        if (config == nullptr) return jboolean{JNI_FALSE};
        NativeStrings strings(env, {params...});
        if (!strings.ok()) return jboolean{JNI_FALSE};
        warnings.arm(listener);
        const ZelBool saved = door::applyStrings(save, strings, std::index_sequence_for<Strings...>{}, config);
        warnings.disarm();
        return toJavaBoolean(saved);
    });
}

}  // namespace

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_open(JNIEnv* env, jobject self, jstring lib,
                                                                         jstring cell, jstring view, jstring mode,
                                                                         jobject listener) {
    return openInto(env, self, listener, "open", zelOpen, lib, cell, view, mode);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_openWithType(JNIEnv* env, jobject self,
                                                                                 jstring lib, jstring cell,
                                                                                 jstring view, jstring viewType,
                                                                                 jstring mode, jobject listener) {
    return openInto(env, self, listener, "openWithType", zelOpenWithType, lib, cell, view, viewType, mode);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_openPartial(JNIEnv* env, jobject self,
                                                                                jstring path, jstring mode,
                                                                                jobject listener) {
    return openInto(env, self, listener, "openPartial", zelOpenPartialConfig, path, mode);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_save(JNIEnv* env, jobject self,
                                                                         jobject listener) {
    return saveWith(env, self, listener, "save", zelSave);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_saveAs(JNIEnv* env, jobject self, jstring lib,
                                                                           jstring cell, jstring view,
                                                                           jobject listener) {
    return saveWith(env, self, listener, "saveAs", zelSaveAs, lib, cell, view);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_close(JNIEnv* env, jobject self) {
    return door::guarded(jboolean{JNI_FALSE}, [&] {
        const jint handle = readHandleField(env, self, kConfigHandleField);
        door::Held held(env);
        ConfigHandleEntry* entry = door::holdConfig(held, handle);
        if (entry == nullptr || zelClose(entry->config) == 0) return jboolean{JNI_FALSE};
        ConfigRecord* config = entry->config;
        // The library has released the record: nothing may keep pointing into it.
        forgetCursorsOfConfig(config);
        unregisterConfig(handle);
        return jboolean{JNI_TRUE};
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_isModified(JNIEnv* env, jobject self) {
    return door::boolean<OnConfig>(env, self, zelConfigIsModified);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_isEditable(JNIEnv* env, jobject self) {
    return door::boolean<OnConfig>(env, self, zelConfigIsEditable);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_isContainingOccur(JNIEnv* env, jobject self) {
    return door::boolean<OnConfig>(env, self, zelConfigHasOccRules);
}
