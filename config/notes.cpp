// The configuration's note.
#include "COM_morvent_zel_ZelConfig.h"
#include "door.h"

using door::OnConfig;

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteNote(JNIEnv* env, jobject self) {
    return door::boolean<OnConfig>(env, self, zelDeleteNote);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_replaceNoteLine(JNIEnv* env, jobject self,
                                                                                    jstring line) {
    return door::boolean<OnConfig>(env, self, zelReplaceNoteLine, line);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_addNoteLine(JNIEnv* env, jobject self,
                                                                                jstring line) {
    return door::boolean<OnConfig>(env, self, zelAddNoteLine, line);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getNoteString(JNIEnv* env, jobject self) {
    return door::string<OnConfig>(env, self, zelGetNoteString);
}
