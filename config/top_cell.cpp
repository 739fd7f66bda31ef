// The configuration-wide settings: top cell, default lists, the
// configuration's own names and its revision.
#include "COM_morvent_zel_ZelConfig.h"
#include "config_natives.h"

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setTopCellViewName(JNIEnv* env, jobject self,
                                                                                       jstring lib, jstring cell,
                                                                                       jstring view) {
    return configBoolean(env, self, zelSetTopCellViewName, lib, cell, view);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setDefaultViewListString(JNIEnv* env,
                                                                                             jobject self,
                                                                                             jstring viewList) {
    return configBoolean(env, self, zelSetDefaultViewListString, viewList);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setDefaultLibListString(JNIEnv* env,
                                                                                            jobject self,
                                                                                            jstring libList) {
    return configBoolean(env, self, zelSetDefaultLibListString, libList);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setDefaultStopListString(JNIEnv* env,
                                                                                             jobject self,
                                                                                             jstring stopList) {
    return configBoolean(env, self, zelSetDefaultStopListString, stopList);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getDefaultViewListString(JNIEnv* env,
                                                                                            jobject self) {
    return configString(env, self, zelGetDefaultViewListString);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getDefaultLibListString(JNIEnv* env,
                                                                                           jobject self) {
    return configString(env, self, zelGetDefaultLibListString);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getDefaultStopListString(JNIEnv* env,
                                                                                            jobject self) {
    return configString(env, self, zelGetDefaultStopListString);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getTopLibName(JNIEnv* env, jobject self) {
    return configString(env, self, zelGetTopLibName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getTopCellName(JNIEnv* env, jobject self) {
    return configString(env, self, zelGetTopCellName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getTopViewName(JNIEnv* env, jobject self) {
    return configString(env, self, zelGetTopViewName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getLibName(JNIEnv* env, jobject self) {
    return configString(env, self, zelGetLibName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getCellName(JNIEnv* env, jobject self) {
    return configString(env, self, zelGetCellName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getViewName(JNIEnv* env, jobject self) {
    return configString(env, self, zelGetViewName);
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelConfig_getRevision(JNIEnv* env, jobject self) {
    ConfigRecord* config = configFromObject(env, self);
    return config != nullptr ? zelGetRevision(config) : 0;
}
