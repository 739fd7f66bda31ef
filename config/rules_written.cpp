// ZelRules: the rules of an open configuration as its file writes them, listed
// and set, and the library definitions, through the same door as every native.
#include <vector>

#include "COM_morvent_zel_ZelRules.h"
#include "door.h"

using door::OnConfig;

namespace {

// The native strings of a String[] parameter: each element obtained in order
// (a null element gives a null pointer) and released exactly once when the
// scope ends.  ok() is false when the JVM could not hand one out; a null array
// gives no list at all.
class NativeStringArray {
public:
    NativeStringArray(JNIEnv* env, jobjectArray array) : env_(env) {
        if (array == nullptr) return;
        const jsize n = env->GetArrayLength(array);
        // Each element holds a local reference until the end of the call.
        if (env->EnsureLocalCapacity(n) != 0) {
            ok_ = false;
            return;
        }
        refs_.reserve(static_cast<size_t>(n));
        chars_.reserve(static_cast<size_t>(n));
        for (jsize i = 0; i < n; ++i) {
            auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
            if (env->ExceptionCheck()) {
                ok_ = false;
                return;
            }
            const char* chars = nullptr;
            if (element != nullptr) {
                chars = env->GetStringUTFChars(element, nullptr);
                if (chars == nullptr) {
                    env->DeleteLocalRef(element);
                    ok_ = false;
                    return;
                }
            }
            refs_.push_back(element);
            chars_.push_back(chars);
        }
        list_.count = static_cast<int32_t>(chars_.size());
        list_.items = chars_.data();
        given_ = true;
    }
    ~NativeStringArray() {
        for (size_t i = 0; i < refs_.size(); ++i) {
            if (chars_[i] != nullptr) env_->ReleaseStringUTFChars(refs_[i], chars_[i]);
            if (refs_[i] != nullptr) env_->DeleteLocalRef(refs_[i]);
        }
    }
    NativeStringArray(const NativeStringArray&) = delete;
    NativeStringArray& operator=(const NativeStringArray&) = delete;

    bool ok() const { return ok_; }
    const ZelStringList* list() const { return given_ ? &list_ : nullptr; }

private:
    JNIEnv* env_;
    bool ok_ = true;
    bool given_ = false;
    std::vector<jstring> refs_;
    std::vector<const char*> chars_;
    ZelStringList list_{};
};

// A Java String[] of a library list (null items stay null); null when the JVM
// could not make it, with its exception pending.
jobjectArray toJavaArray(JNIEnv* env, const ZelStringList* list) {
    const jsize n = list != nullptr ? list->count : 0;
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) return nullptr;
    jobjectArray out = env->NewObjectArray(n, stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    if (out == nullptr) return nullptr;
    for (jsize i = 0; i < n; ++i) {
        const char* item = list->items[i];
        if (item == nullptr) continue;
        jstring s = toJavaString(env, item);
        if (s == nullptr) {
            env->DeleteLocalRef(out);
            return nullptr;
        }
        env->SetObjectArrayElement(out, i, s);
        env->DeleteLocalRef(s);
    }
    return out;
}

// setRule and removeRule: the strings in parameter order, the library call
// relaying its warnings to listener.
jboolean change(JNIEnv* env, const char* native, jobject config, jstring kind, jobjectArray scope, jstring property,
                jobjectArray values, bool set, jobject listener) {
    return door::relayed(env, listener, native, jboolean{JNI_FALSE},
                         [&](WarningScope& warnings, door::Held& held) -> jboolean {
        ConfigRecord* record = OnConfig::hold(held, env, config);
        if (record == nullptr) return jboolean{JNI_FALSE};
        NativeStrings kindChars(env, {kind});
        if (!kindChars.ok()) return jboolean{JNI_FALSE};
        NativeStringArray scopeChars(env, scope);
        if (!scopeChars.ok()) return jboolean{JNI_FALSE};
        NativeStrings propertyChars(env, {property});
        if (!propertyChars.ok()) return jboolean{JNI_FALSE};
        NativeStringArray valueChars(env, values);
        if (!valueChars.ok()) return jboolean{JNI_FALSE};
        warnings.arm(listener);
        const ZelBool done = set ? zelSetRule(record, kindChars[0], scopeChars.list(), propertyChars[0],
                                              valueChars.list())
                                 : zelRemoveRule(record, kindChars[0], scopeChars.list(), propertyChars[0]);
        warnings.disarm();
        return toJavaBoolean(done);
    });
}

}  // namespace

extern "C" JNIEXPORT jobjectArray JNICALL Java_COM_morvent_zel_ZelRules_listRules(JNIEnv* env, jclass,
                                                                                  jobject config) {
    // The listing belongs to the configuration: it is copied out with the lock held.
    return door::with<OnConfig>(env, config, jobjectArray{nullptr}, {},
                                [env](ConfigRecord* record, NativeStrings&) -> jobjectArray {
        return toJavaArray(env, zelListRules(record));
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelRules_setRule(JNIEnv* env, jclass, jobject config,
                                                                            jstring kind, jobjectArray scope,
                                                                            jstring property, jobjectArray values,
                                                                            jobject listener) {
    return change(env, "setRule", config, kind, scope, property, values, true, listener);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelRules_removeRule(JNIEnv* env, jclass, jobject config,
                                                                               jstring kind, jobjectArray scope,
                                                                               jstring property, jobject listener) {
    return change(env, "removeRule", config, kind, scope, property, nullptr, false, listener);
}

extern "C" JNIEXPORT jobjectArray JNICALL Java_COM_morvent_zel_ZelRules_listLibraries(JNIEnv* env, jclass,
                                                                                      jint which) {
    // The definitions are the process's, guarded by the layer's own lock: no
    // configuration lock is taken.
    return door::guarded(jobjectArray{nullptr}, [&]() -> jobjectArray {
        ZelStringList* list = zelListLibraries(which);
        if (list == nullptr) return nullptr;
        struct Freed {
            ZelStringList* list;
            ~Freed() { zelFreeStringList(list); }
        } freed{list};
        return toJavaArray(env, list);
    });
}
