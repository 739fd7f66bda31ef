// Creating, copying and destroying path vectors, and moving them.
#include "COM_morvent_zel_ZelConfig.h"
#include "COM_morvent_zel_ZelPathVector.h"

#include "cursors.h"
#include "jni_util.h"
#include "pathvector/support.h"
#include "registry.h"
#include "zelvek/zelvek.h"

using pathvector::callWithStrings;

namespace {

// A record the library made, or nothing: only a real one uses up a handle.
jint registerMade(PathVectorRecord* made) {
    return made != nullptr ? registerPathVector(made) : 0;
}

// The cached records describe the context they were found for; a push or a
// pop of a cell makes another context current.
void forgetCachedRecords(PathVectorSlot* slot) {
    slot->cachedCell = nullptr;
    slot->cachedCellView = nullptr;
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelConfig_createNPathVector(JNIEnv* env, jobject self) {
    ConfigRecord* config = configFromObject(env, self);
    return config != nullptr ? registerMade(zelCreatePathVector(config)) : 0;
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelPathVector_copy_1n(JNIEnv* env, jobject self) {
    PathVectorRecord* pathVector = pathVectorFromObject(env, self);
    return pathVector != nullptr ? registerMade(zelCopyPathVector(pathVector)) : 0;
}

extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelPathVector_destroy(JNIEnv* env, jobject self) {
    const HandleField field(env, self, kPathVectorHandleField);
    const jint handle = field.read();
    PathVectorRecord* pathVector = lookupPathVector(handle);
    if (pathVector == nullptr) return;
    forgetCursorsOfPathVector(pathVector);  // it may walk this path vector's context
    zelDestroyPathVector(pathVector);
    unregisterPathVector(handle);
    field.write(0);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_pushCell(JNIEnv* env, jobject self,
                                                                                  jstring lib, jstring cell,
                                                                                  jstring view, jstring inst) {
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    if (slot == nullptr) return JNI_FALSE;
    auto pushed = callWithStrings(
        env, [slot](auto... strings) { return zelPushCell(slot->pathVector, strings...); }, lib, cell, view, inst);
    if (!pushed) return JNI_FALSE;
    forgetCachedRecords(slot);  // refused or not
    return toJavaBoolean(*pushed);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_popCell(JNIEnv* env, jobject self) {
    PathVectorSlot* slot = pathVectorSlotFromObject(env, self);
    if (slot == nullptr) return JNI_FALSE;
    forgetCachedRecords(slot);
    return toJavaBoolean(zelPopCell(slot->pathVector));
}

// pop and popToTop keep the cached records: isSameInstRules after them still
// uses those of the context isAnyInstRules last ran on.
extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_pop(JNIEnv* env, jobject self) {
    PathVectorRecord* pathVector = pathVectorFromObject(env, self);
    return pathVector != nullptr ? toJavaBoolean(zelPop(pathVector)) : JNI_FALSE;
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_popToTop(JNIEnv* env, jobject self) {
    PathVectorRecord* pathVector = pathVectorFromObject(env, self);
    return pathVector != nullptr ? toJavaBoolean(zelPopToTop(pathVector)) : JNI_FALSE;
}
