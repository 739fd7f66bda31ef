// The configuration's note.
#include "COM_morvent_zel_ZelConfig.h"
#include "config_natives.h"

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteNote(JNIEnv* env, jobject self) {
    return configBoolean(env, self, zelDeleteNote);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_replaceNoteLine(JNIEnv* env, jobject self,
                                                                                    jstring line) {
    return configBoolean(env, self, zelReplaceNoteLine, line);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_addNoteLine(JNIEnv* env, jobject self,
                                                                                jstring line) {
    return configBoolean(env, self, zelAddNoteLine, line);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getNoteString(JNIEnv* env, jobject self) {
    return configString(env, self, zelGetNoteString);
}
