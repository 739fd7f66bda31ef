// The configuration-wide settings: top cell, default lists, the
// configuration's own names and its revision.
#include "COM_morvent_zel_ZelConfig.h"
#include "door.h"

using door::OnConfig;

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setTopCellViewName(JNIEnv* env, jobject self,
                                                                                       jstring lib, jstring cell,
                                                                                       jstring view) {
    return door::boolean<OnConfig>(env, self, zelSetTopCellViewName, lib, cell, view);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setDefaultViewListString(JNIEnv* env,
                                                                                             jobject self,
                                                                                             jstring viewList) {
    return door::boolean<OnConfig>(env, self, zelSetDefaultViewListString, viewList);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setDefaultLibListString(JNIEnv* env,
                                                                                            jobject self,
                                                                                            jstring libList) {
    return door::boolean<OnConfig>(env, self, zelSetDefaultLibListString, libList);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setDefaultStopListString(JNIEnv* env,
                                                                                             jobject self,
                                                                                             jstring stopList) {
    return door::boolean<OnConfig>(env, self, zelSetDefaultStopListString, stopList);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getDefaultViewListString(JNIEnv* env,
                                                                                            jobject self) {
    return door::string<OnConfig>(env, self, zelGetDefaultViewListString);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getDefaultLibListString(JNIEnv* env,
                                                                                           jobject self) {
    return door::string<OnConfig>(env, self, zelGetDefaultLibListString);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getDefaultStopListString(JNIEnv* env,
                                                                                            jobject self) {
    return door::string<OnConfig>(env, self, zelGetDefaultStopListString);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getTopLibName(JNIEnv* env, jobject self) {
    return door::string<OnConfig>(env, self, zelGetTopLibName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getTopCellName(JNIEnv* env, jobject self) {
    return door::string<OnConfig>(env, self, zelGetTopCellName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getTopViewName(JNIEnv* env, jobject self) {
    return door::string<OnConfig>(env, self, zelGetTopViewName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getLibName(JNIEnv* env, jobject self) {
    return door::string<OnConfig>(env, self, zelGetLibName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getCellName(JNIEnv* env, jobject self) {
    return door::string<OnConfig>(env, self, zelGetCellName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getViewName(JNIEnv* env, jobject self) {
    return door::string<OnConfig>(env, self, zelGetViewName);
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelConfig_getRevision(JNIEnv* env, jobject self) {
    return door::with<OnConfig>(env, self, jint{0}, {}, [](ConfigRecord* config, NativeStrings&) {
        return jint{zelGetRevision(config)};
    });
}
