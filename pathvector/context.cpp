// Context queries: the library answers, the bridge only passes the path
// vector and the strings through.
#include "COM_morvent_zel_ZelPathVector.h"

#include "door.h"

using door::OnPathVector;

namespace {

// The index goes to the library unchecked; the library judges its range.
jstring indexString(JNIEnv* env, jobject self, const char* (*query)(PathVectorRecord*, int32_t), jint index) {
    return door::with<OnPathVector>(env, self, jstring{nullptr}, {}, [=](PathVectorRecord* pathVector, NativeStrings&) {
        return toJavaString(env, query(pathVector, index));
    });
}

}  // namespace

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getRawContextInstViewString(
    JNIEnv* env, jobject self, jstring inst, jstring lib, jstring cell, jstring view) {
    return door::string<OnPathVector>(env, self, zelGetRawContextInstViewString, inst, lib, cell, view);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getContextInstViewString(
    JNIEnv* env, jobject self, jstring inst, jstring lib, jstring cell, jstring view) {
    return door::string<OnPathVector>(env, self, zelGetContextInstViewString, inst, lib, cell, view);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getRawInheritedContextInstViewString(
    JNIEnv* env, jobject self, jstring inst, jstring lib, jstring cell, jstring view) {
    return door::string<OnPathVector>(env, self, zelGetRawInheritedContextInstViewString, inst, lib, cell, view);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getInheritedContextInstViewString(
    JNIEnv* env, jobject self, jstring inst, jstring lib, jstring cell, jstring view) {
    return door::string<OnPathVector>(env, self, zelGetInheritedContextInstViewString, inst, lib, cell, view);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getContextUnInheritedInstViewList(
    JNIEnv* env, jobject self, jstring inst) {
    return door::string<OnPathVector>(env, self, zelGetContextUnInheritedInstViewList, inst);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getContextUnInheritedInstViewBinding(
    JNIEnv* env, jobject self, jstring inst) {
    return door::string<OnPathVector>(env, self, zelGetContextUnInheritedInstViewBinding, inst);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getContextRawUnInheritedInstViewList(
    JNIEnv* env, jobject self, jstring inst) {
    return door::string<OnPathVector>(env, self, zelGetContextRawUnInheritedInstViewList, inst);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getContextLibName(JNIEnv* env, jobject self) {
    return door::string<OnPathVector>(env, self, zelGetContextLibName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getContextCellName(JNIEnv* env,
                                                                                           jobject self) {
    return door::string<OnPathVector>(env, self, zelGetContextCellName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getContextViewName(JNIEnv* env,
                                                                                           jobject self) {
    return door::string<OnPathVector>(env, self, zelGetContextViewName);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getIndexLibName(JNIEnv* env, jobject self,
                                                                                        jint index) {
    return indexString(env, self, zelGetIndexLibName, index);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getIndexCellName(JNIEnv* env, jobject self,
                                                                                         jint index) {
    return indexString(env, self, zelGetIndexCellName, index);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getIndexViewName(JNIEnv* env, jobject self,
                                                                                         jint index) {
    return indexString(env, self, zelGetIndexViewName, index);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelPathVector_getIndexViewList(JNIEnv* env, jobject self,
                                                                                         jint index) {
    return indexString(env, self, zelGetIndexViewList, index);
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelPathVector_getContextVectorIndex(JNIEnv* env,
                                                                                           jobject self) {
    return door::with<OnPathVector>(env, self, jint{0}, {}, [](PathVectorRecord* pathVector, NativeStrings&) {
        return jint{zelGetContextVectorIndex(pathVector)};
    });
}
