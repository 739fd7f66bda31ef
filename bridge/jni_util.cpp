#include "jni_util.h"

#include <cstdlib>

HandleField::HandleField(JNIEnv* env, jobject object, const char* name)
    : env_(env), object_(object), field_(env->GetFieldID(env->GetObjectClass(object), name, "I")) {}

jint HandleField::read() const {
    // A class without the field leaves the JVM's exception pending, which Java
    // sees on return; the handle then names nothing.
    return field_ != nullptr ? env_->GetIntField(object_, field_) : 0;
}

void HandleField::write(jint value) const {
    if (field_ != nullptr) env_->SetIntField(object_, field_, value);
}

NativeStrings::NativeStrings(JNIEnv* env, std::initializer_list<jstring> params) : env_(env) {
    if (params.size() > kMaxStrings) std::abort();  // a native with more strings needs a larger kMaxStrings
    for (jstring param : params) {
        java_[count_] = param;
        if (param != nullptr) {
            native_[count_] = env->GetStringUTFChars(param, nullptr);
            if (native_[count_] == nullptr) {
                ok_ = false;
                break;
            }
        }
        ++count_;
    }
}

void NativeStrings::release() {
    for (std::size_t i = 0; i < count_; ++i) {
        if (native_[i] != nullptr) env_->ReleaseStringUTFChars(java_[i], native_[i]);
        native_[i] = nullptr;
    }
    count_ = 0;
}

jstring toJavaString(JNIEnv* env, const char* text) {
    return text != nullptr ? env->NewStringUTF(text) : nullptr;
}
