// The marshalling rules every native follows, in one place: handle fields read
// anew on every call, native strings obtained and released in parameter order,
// results copied with NewStringUTF.
#ifndef ZEL_BRIDGE_JNI_UTIL_H
#define ZEL_BRIDGE_JNI_UTIL_H

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

constexpr const char* kConfigHandleField = "id";
constexpr const char* kPathVectorHandleField = "pathvector";

// The int handle field of one object: GetObjectClass and GetFieldID(name, "I")
// at construction, anew on every call (IDs are never cached).
class HandleField {
public:
    HandleField(JNIEnv* env, jobject object, const char* name)
        : env_(env), object_(object), field_(env->GetFieldID(env->GetObjectClass(object), name, "I")) {}
    // False when the class lacks the field: the JVM's error is then pending.
    bool ok() const { return field_ != nullptr; }
    // GetIntField; 0 when the class lacks the field (the JVM's exception then
    // stays pending, which Java sees on return; the handle names nothing).
    jint read() const { return field_ != nullptr ? env_->GetIntField(object_, field_) : 0; }
    void write(jint value) const;  // SetIntField

private:
    JNIEnv* env_;
    jobject object_;
    jfieldID field_;
};

inline jint readHandleField(JNIEnv* env, jobject object, const char* name) {
    return HandleField(env, object, name).read();
}

// The native strings of a native's String parameters, obtained in parameter
// order (a null String gives a null pointer) and released in parameter order,
// exactly those obtained, exactly once: at release() or when the scope ends.
//
// When the JVM cannot hand out a string (it is out of memory and has an
// exception pending), nothing further is obtained and ok() is false: the native
// must return its neutral result without calling the library.
class NativeStrings {
public:
    static constexpr std::size_t kMaxStrings = 8;

    // Inline, and nothing filled in beforehand: most natives have no String
    // parameter and pay nothing here.
    NativeStrings(JNIEnv* env, std::initializer_list<jstring> params) : env_(env) {
        if (params.size() != 0) obtain(params);
    }
    ~NativeStrings() {
        if (count_ != 0) release();
    }
    NativeStrings(const NativeStrings&) = delete;
    NativeStrings& operator=(const NativeStrings&) = delete;

    bool ok() const { return ok_; }
    const char* operator[](std::size_t i) const { return native_[i]; }
    void release();

private:
    void obtain(std::initializer_list<jstring> params);

    JNIEnv* env_;
    std::size_t count_ = 0;  // the first count_ of each array are set
    bool ok_ = true;
    jstring java_[kMaxStrings];
    const char* native_[kMaxStrings];
};

// A Java copy of a library string; null stays null, "" stays "".
jstring toJavaString(JNIEnv* env, const char* text);

// The library's byte boolean, or the low byte of a wider result, unchanged.
inline jboolean toJavaBoolean(std::intmax_t result) {
    return static_cast<jboolean>(static_cast<std::uint8_t>(result));
}

// A boolean parameter reaches the library as its low byte.
inline std::uint8_t toLibraryBoolean(jboolean value) {
    return static_cast<std::uint8_t>(value);
}

#endif
