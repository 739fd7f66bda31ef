// Creating, copying and destroying path vectors, and moving them.
#include "COM_morvent_zel_ZelConfig.h"
#include "COM_morvent_zel_ZelPathVector.h"

#include "cursors.h"
#include "door.h"

using door::OnPathVector;
using door::OnSlot;

namespace {

// A record the library made, or nothing: only a real one uses up a handle.
// One that cannot be registered (no handle left) could never be reached: it
// is given back.
jint registerMade(PathVectorRecord* made, ConfigLock* lock) {
    if (made == nullptr) return 0;
    const jint handle = registerPathVector(made, lock);
    if (handle == 0) zelDestroyPathVector(made);
    return handle;
}

// The cached records describe the context they were found for; a push or a
// pop of a cell makes another context current.
void forgetCachedRecords(PathVectorSlot* slot) {
    slot->cachedCell = nullptr;
    slot->cachedCellView = nullptr;
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelConfig_createNPathVector(JNIEnv* env, jobject self) {
    return door::guarded(jint{0}, [&] {
        door::Held held(env);
        ConfigRecord* config = door::OnConfig::hold(held, env, self);
        // Made over the configuration: guarded by its lock.
        return config != nullptr ? registerMade(zelCreatePathVector(config), held.lock()) : jint{0};
    });
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_ZelPathVector_copy_1n(JNIEnv* env, jobject self) {
    return door::guarded(jint{0}, [&] {
        door::Held held(env);
        PathVectorRecord* pathVector = OnPathVector::hold(held, env, self);
        return pathVector != nullptr ? registerMade(zelCopyPathVector(pathVector), held.lock()) : jint{0};
    });
}

extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelPathVector_destroy(JNIEnv* env, jobject self) {
    door::guarded(door::kVoid, [&] {
        const HandleField field(env, self, kPathVectorHandleField);
        const jint handle = field.read();
        door::Held held(env);
        PathVectorSlot* slot = door::holdPathVector(held, handle);
        PathVectorRecord* pathVector = slot != nullptr ? slot->pathVector : nullptr;
        if (pathVector == nullptr) return door::kVoid;
        forgetCursorsOfPathVector(pathVector);  // it may walk this path vector's context
        zelDestroyPathVector(pathVector);
        unregisterPathVector(handle);
        field.write(0);
        return door::kVoid;
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_pushCell(JNIEnv* env, jobject self,
                                                                                  jstring lib, jstring cell,
                                                                                  jstring view, jstring inst) {
    return door::with<OnSlot>(env, self, jboolean{JNI_FALSE}, {lib, cell, view, inst},
                              [](PathVectorSlot* slot, NativeStrings& s) {
                                  const ZelBool pushed = zelPushCell(slot->pathVector, s[0], s[1], s[2], s[3]);
                                  s.release();
                                  forgetCachedRecords(slot);  // refused or not
                                  return toJavaBoolean(pushed);
                              });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_popCell(JNIEnv* env, jobject self) {
    return door::with<OnSlot>(env, self, jboolean{JNI_FALSE}, {}, [](PathVectorSlot* slot, NativeStrings&) {
        forgetCachedRecords(slot);
        return toJavaBoolean(zelPopCell(slot->pathVector));
    });
}

// pop and popToTop keep the cached records: isSameInstRules after them still
// uses those of the context isAnyInstRules last ran on.
extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_pop(JNIEnv* env, jobject self) {
    return door::boolean<OnPathVector>(env, self, zelPop);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelPathVector_popToTop(JNIEnv* env, jobject self) {
    return door::boolean<OnPathVector>(env, self, zelPopToTop);
}
