// A native library that reports another release than the classes, for the
// test that they refuse it.
#include "COM_morvent_zel_ZelLibrary.h"

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelLibrary_libraryVersion(JNIEnv* env, jclass) {
    return env->NewStringUTF("0.0.0-other");
}
