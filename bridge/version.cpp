// The release of the native library, for the Java classes to compare with
// their own: a jar and a library of different releases refuse to run together.
// It touches no state of the bridge, so it takes no lock.
#include <jni.h>

#include "COM_morvent_zel_ZelLibrary.h"

#ifndef ZEL_VERSION
#error "ZEL_VERSION is set by the build from the project's version"
#endif

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelLibrary_libraryVersion(JNIEnv* env, jclass) {
    return env->NewStringUTF(ZEL_VERSION);
}
