// zelbenchfloor: the JNI work that a native of the bridge cannot avoid, and
// nothing else.  Each native here does exactly the JNI calls of one kind of
// bridge native (handle field read anew, strings obtained and released, a
// result copied) so that the bench can show how far the bridge lies above
// them.  The natives are static and take the bridge's own ZelConfig or
// ZelPathVector object: the handle read mirrors the bridge's, on the same
// class (class, field ID and value on every call, nothing cached).
#include <jni.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "COM_morvent_zel_bench_FloorConfig.h"
#include "COM_morvent_zel_bench_FloorPathVector.h"

namespace {

// As the bridge reads a receiver's handle: no IDs kept between calls.
jint readHandle(JNIEnv* env, jobject object, const char* name) {
    jfieldID field = env->GetFieldID(env->GetObjectClass(object), name, "I");
    return field != nullptr ? env->GetIntField(object, field) : 0;
}

jint configHandle(JNIEnv* env, jobject self) {
    return readHandle(env, self, "id");
}

jint pathVectorHandle(JNIEnv* env, jobject self) {
    return readHandle(env, self, "pathvector");
}

// One String parameter as the bridge converts it: obtained, then released.
class Native {
public:
    Native(JNIEnv* env, jstring text)
        : env_(env), text_(text), chars_(text != nullptr ? env->GetStringUTFChars(text, nullptr) : nullptr) {}
    ~Native() {
        if (chars_ != nullptr) env_->ReleaseStringUTFChars(text_, chars_);
    }
    Native(const Native&) = delete;
    Native& operator=(const Native&) = delete;
    // The first byte, so the conversion cannot be dropped as unused.
    jint first() const { return chars_ != nullptr ? static_cast<unsigned char>(chars_[0]) : 0; }

private:
    JNIEnv* env_;
    jstring text_;
    const char* chars_;
};

// The String result of a getter: 8 characters, or as many as the answer
// the floor stands for (up to 63), since NewStringUTF's cost grows with it.
jstring result(JNIEnv* env, jint length = 8) {
    static const char kText[] = "design stdcells devices schematic symbol layout spice behaviora";
    char text[sizeof kText];
    const std::size_t n = length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof kText - 1);
    std::memcpy(text, kText, n);
    text[n] = '\0';
    return env->NewStringUTF(text);
}

// What bind does for its warning listener before the library call: the
// listener's processWarning looked up anew.
jint lookUpListener(JNIEnv* env, jobject listener) {
    if (listener == nullptr) return 0;
    jclass cls = env->GetObjectClass(listener);
    if (cls == nullptr) return 0;
    jmethodID method = env->GetMethodID(cls, "processWarning", "(Ljava/lang/String;)V");
    env->DeleteLocalRef(cls);
    return method != nullptr ? 1 : 0;
}

jint fourStrings(JNIEnv* env, jstring a, jstring b, jstring c, jstring d) {
    Native na(env, a), nb(env, b), nc(env, c), nd(env, d);
    return na.first() + nb.first() + nc.first() + nd.first();
}

}  // namespace

// ---- the bare operations ----------------------------------------------------

extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_bench_FloorConfig_empty(JNIEnv*, jclass, jobject) {}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_bench_FloorConfig_handle(JNIEnv* env, jclass, jobject self) {
    return configHandle(env, self);
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_bench_FloorConfig_stringResult(JNIEnv* env, jclass, jobject) {
    return result(env);
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_bench_FloorConfig_oneString(JNIEnv* env, jclass, jobject,
                                                                                  jstring a) {
    Native na(env, a);
    return na.first();
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_bench_FloorConfig_threeStrings(JNIEnv* env, jclass, jobject,
                                                                                     jstring a, jstring b,
                                                                                     jstring c) {
    Native na(env, a), nb(env, b), nc(env, c);
    return na.first() + nb.first() + nc.first();
}

extern "C" JNIEXPORT jint JNICALL Java_COM_morvent_zel_bench_FloorConfig_listener(JNIEnv* env, jclass, jobject,
                                                                                 jobject listener) {
    return lookUpListener(env, listener);
}

// ---- the floors of the bridge's kinds of native -------------------------------

// A configuration getter: handle, String result.
extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_bench_FloorConfig_getter(JNIEnv* env, jclass, jobject self,
                                                                             jint length) {
    return configHandle(env, self) != 0 ? result(env, length) : nullptr;
}

// A setter with three Strings: handle, three Strings, boolean result.
extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_bench_FloorConfig_setter3(JNIEnv* env, jclass, jobject self,
                                                                                    jstring a, jstring b,
                                                                                    jstring c) {
    if (configHandle(env, self) == 0) return JNI_FALSE;
    Native na(env, a), nb(env, b), nc(env, c);
    return na.first() + nb.first() + nc.first() != 0 ? JNI_TRUE : JNI_FALSE;
}

// A path-vector query without String arguments (popCell, the boolean and int
// binding queries, isAnyInstRules, isAtStop, getStopWhy).
extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_bench_FloorPathVector_query(JNIEnv* env, jclass, jobject self) {
    return pathVectorHandle(env, self) != 0 ? JNI_TRUE : JNI_FALSE;
}

// A path-vector query with a String result (the String binding queries).
extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_bench_FloorPathVector_stringQuery(JNIEnv* env, jclass,
                                                                                           jobject self, jint length) {
    return pathVectorHandle(env, self) != 0 ? result(env, length) : nullptr;
}

// pushCell: handle, four Strings.
extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_bench_FloorPathVector_push(JNIEnv* env, jclass, jobject self,
                                                                                     jstring lib, jstring cell,
                                                                                     jstring view, jstring inst) {
    if (pathVectorHandle(env, self) == 0) return JNI_FALSE;
    return fourStrings(env, lib, cell, view, inst) != 0 ? JNI_TRUE : JNI_FALSE;
}

// isSameInstRules: handle, four Strings among its booleans.
extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_bench_FloorPathVector_sameInstRules(
    JNIEnv* env, jclass, jobject self, jstring inst, jboolean, jstring libList, jboolean, jstring viewBinding, jboolean,
    jstring viewList, jboolean) {
    if (pathVectorHandle(env, self) == 0) return JNI_FALSE;
    return fourStrings(env, inst, libList, viewBinding, viewList) != 0 ? JNI_TRUE : JNI_FALSE;
}

// bind: handle, the listener's method, four Strings.
extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_bench_FloorPathVector_bind(
    JNIEnv* env, jclass, jobject self, jstring inst, jstring lib, jstring cell, jstring view, jboolean, jboolean, jboolean,
    jobject listener) {
    if (pathVectorHandle(env, self) == 0) return;
    lookUpListener(env, listener);
    fourStrings(env, inst, lib, cell, view);
}
