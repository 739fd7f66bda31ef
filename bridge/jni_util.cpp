#include "jni_util.h"

#include <cstdlib>

void HandleField::write(jint value) const {
    if (field_ != nullptr) env_->SetIntField(object_, field_, value);
}

void NativeStrings::obtain(std::initializer_list<jstring> params) {
    if (params.size() > kMaxStrings) std::abort();  // a native with more strings needs a larger kMaxStrings
    for (jstring param : params) {
        java_[count_] = param;
        native_[count_] = nullptr;
        if (param != nullptr) {
            native_[count_] = env_->GetStringUTFChars(param, nullptr);
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
