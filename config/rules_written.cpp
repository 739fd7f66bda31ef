// ZelRules: the rules of an open configuration as its file writes them, listed
// and set, and the library definitions, through the same door as every native.
#include <vector>

#include "COM_morvent_zel_ZelRules.h"
#include "door.h"

using door::OnConfig;

namespace {

// The native strings of a native's String and String[] parameters, obtained
// in parameter order (a null String, or a null element, gives a null pointer)
// and released in the same order, exactly those obtained, once, when the
// scope ends.  ok() is false when the JVM could not hand one out: nothing more
// is obtained and the native answers its neutral result.
class ParameterStrings {
public:
    explicit ParameterStrings(JNIEnv* env) : env_(env) {}
    ~ParameterStrings() {
        for (Obtained& o : obtained_) {
            if (o.chars != nullptr) env_->ReleaseStringUTFChars(o.string, o.chars);
            if (o.element && o.string != nullptr) env_->DeleteLocalRef(o.string);
        }
    }
    ParameterStrings(const ParameterStrings&) = delete;
    ParameterStrings& operator=(const ParameterStrings&) = delete;

    bool ok() const { return ok_; }

    // A String parameter: its native string.
    const char* add(jstring string) { return ok_ ? obtain(string, false) : nullptr; }

    // A String[] parameter: its elements' native strings as a list, in
    // `into` (which must outlive the library call); null for a null array.
    const ZelStringList* addArray(jobjectArray array, std::vector<const char*>& into, ZelStringList& list) {
        if (!ok_ || array == nullptr) return nullptr;
        const jsize n = env_->GetArrayLength(array);
        // Each element holds a local reference until the end of the call.
        if (env_->EnsureLocalCapacity(n) != 0) {
            ok_ = false;
            return nullptr;
        }
        into.reserve(static_cast<size_t>(n));
        for (jsize i = 0; i < n && ok_; ++i) {
            auto element = static_cast<jstring>(env_->GetObjectArrayElement(array, i));
            if (env_->ExceptionCheck()) {
                ok_ = false;
                break;
            }
            into.push_back(obtain(element, true));
        }
        list.count = static_cast<int32_t>(into.size());
        list.items = into.data();
        return ok_ ? &list : nullptr;
    }

private:
    struct Obtained {
        jstring string;
        const char* chars;
        bool element;
    };

    const char* obtain(jstring string, bool element) {
        const char* chars = nullptr;
        if (string != nullptr) {
            chars = env_->GetStringUTFChars(string, nullptr);
            if (chars == nullptr) ok_ = false;
        }
        obtained_.push_back(Obtained{string, chars, element});
        return chars;
    }

    JNIEnv* env_;
    bool ok_ = true;
    std::vector<Obtained> obtained_;
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
        ParameterStrings strings(env);
        std::vector<const char*> scopeItems, valueItems;
        ZelStringList scopeList{}, valueList{};
        const char* kindChars = strings.add(kind);
        const ZelStringList* scopeChars = strings.addArray(scope, scopeItems, scopeList);
        const char* propertyChars = strings.add(property);
        const ZelStringList* valueChars = strings.addArray(values, valueItems, valueList);
        if (!strings.ok()) return jboolean{JNI_FALSE};
        warnings.arm(listener);
        const ZelBool done = set ? zelSetRule(record, kindChars, scopeChars, propertyChars, valueChars)
                                 : zelRemoveRule(record, kindChars, scopeChars, propertyChars);
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

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelRules_setRuleComment(JNIEnv* env, jclass, jobject config,
                                                                                   jstring kind, jobjectArray scope,
                                                                                   jstring property, jstring comment,
                                                                                   jobject listener) {
    return door::relayed(env, listener, "setRuleComment", jboolean{JNI_FALSE},
                         [&](WarningScope& warnings, door::Held& held) -> jboolean {
        ConfigRecord* record = OnConfig::hold(held, env, config);
        if (record == nullptr) return jboolean{JNI_FALSE};
        ParameterStrings strings(env);
        std::vector<const char*> scopeItems;
        ZelStringList scopeList{};
        const char* kindChars = strings.add(kind);
        const ZelStringList* scopeChars = strings.addArray(scope, scopeItems, scopeList);
        const char* propertyChars = strings.add(property);
        const char* commentChars = strings.add(comment);
        if (!strings.ok()) return jboolean{JNI_FALSE};
        warnings.arm(listener);
        const ZelBool done = zelSetRuleComment(record, kindChars, scopeChars, propertyChars, commentChars);
        warnings.disarm();
        return toJavaBoolean(done);
    });
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
