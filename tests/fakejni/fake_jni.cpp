#include "fake_jni.h"

#include "unexpected_functions.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define FAKEJNI_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FAKEJNI_ASAN 1
#endif
#endif
#ifdef FAKEJNI_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace fakejni {

struct Object {
    enum class Kind { Instance, Class, String, Throwable };
    unsigned id;
    Kind kind;
    FakeClass* cls;               // the object's class
    FakeClass* represents = nullptr;  // for Kind::Class: the class it stands for
    std::string utf;              // Kind::String: modified UTF-8 bytes
    std::string message;          // Kind::Throwable
    std::unordered_map<const FakeField*, jint> ints;
};

struct Ref {
    Object* obj;
    bool local;  // false: a test-side ref that outlives native calls
    bool live = true;
    std::size_t frame = 0;
};

namespace {

const char* const kOutOfMemory = "java/lang/OutOfMemoryError";

std::string simpleName(const std::string& name) {
    auto slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Functions the JNI specification allows while an exception is pending.
bool allowedWhilePending(const std::string& fn) {
    static const std::unordered_set<std::string> allowed = {
        "ExceptionOccurred", "ExceptionDescribe", "ExceptionClear", "ExceptionCheck",
        "ReleaseStringChars", "ReleaseStringUTFChars", "ReleaseStringCritical",
        "ReleaseBooleanArrayElements", "ReleaseByteArrayElements", "ReleaseCharArrayElements",
        "ReleaseShortArrayElements", "ReleaseIntArrayElements", "ReleaseLongArrayElements",
        "ReleaseFloatArrayElements", "ReleaseDoubleArrayElements",
        "ReleasePrimitiveArrayCritical", "DeleteLocalRef", "DeleteGlobalRef",
        "DeleteWeakGlobalRef", "MonitorExit", "PushLocalFrame", "PopLocalFrame",
        "DetachCurrentThread"};
    return allowed.count(fn) != 0;
}


// Number of UTF-16 code units; bytes that do not start a valid sequence count as one.
jsize utf16Length(const std::string& s) {
    jsize n = 0;
    for (std::size_t i = 0; i < s.size(); ++n) {
        auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 1;
        i += std::min(len, s.size() - i);
    }
    return n;
}

// Splits "(ILjava/lang/String;[J)V" into parameter descriptors.
bool parseParams(const std::string& sig, std::vector<std::string>& params) {
    if (sig.empty() || sig[0] != '(') return false;
    std::size_t i = 1;
    while (i < sig.size() && sig[i] != ')') {
        std::size_t start = i;
        while (i < sig.size() && sig[i] == '[') ++i;
        if (i >= sig.size()) return false;
        if (sig[i] == 'L') {
            auto semi = sig.find(';', i);
            if (semi == std::string::npos) return false;
            i = semi + 1;
        } else if (std::strchr("ZBCSIJFD", sig[i]) != nullptr && sig[i] != '\0') {
            ++i;
        } else {
            return false;
        }
        params.push_back(sig.substr(start, i - start));
    }
    return i < sig.size();
}

bool isReferenceType(const std::string& desc) { return desc[0] == 'L' || desc[0] == '['; }

std::string jstr(std::size_t n) { return std::to_string(n); }

}  // namespace

// Returns the offset of the first byte that breaks modified UTF-8, or npos.
// Modified UTF-8 has no 4-byte forms (supplementary characters are surrogate
// pairs of 3-byte forms) and encodes U+0000 as C0 80, never as a raw 0 byte.
std::size_t invalidModifiedUtf8At(const std::string& s) {
    auto cont = [&](std::size_t i) {
        return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
    };
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b >= 0x01 && b < 0x80) {
            i += 1;
        } else if ((b & 0xE0) == 0xC0 && cont(i + 1)) {
            i += 2;
        } else if ((b & 0xF0) == 0xE0 && cont(i + 1) && cont(i + 2)) {
            i += 3;
        } else {
            return i;
        }
    }
    return std::string::npos;
}

// ---------------------------------------------------------------- FakeClass

FakeClass& FakeClass::addIntField(const std::string& name, jint initial) {
    if (field(name) != nullptr) throw std::invalid_argument("duplicate field " + name_ + "." + name);
    fields_.push_back(std::unique_ptr<FakeField>(new FakeField{this, name, "I", initial}));
    jvm_.fieldIds_.insert(fields_.back().get());
    return *this;
}

FakeClass& FakeClass::addVoidMethod(const std::string& name, const std::string& signature,
                                    JavaMethod body) {
    std::vector<std::string> params;
    if (!parseParams(signature, params) || signature.compare(signature.size() - 2, 2, ")V") != 0) {
        throw std::invalid_argument("not a void method signature: " + signature);
    }
    if (method(name, signature) != nullptr) {
        throw std::invalid_argument("duplicate method " + name_ + "." + name + signature);
    }
    methods_.push_back(std::unique_ptr<FakeMethod>(
        new FakeMethod{this, name, signature, std::move(params), std::move(body)}));
    jvm_.methodIds_.insert(methods_.back().get());
    return *this;
}

const FakeField* FakeClass::field(const std::string& name) const {
    for (const auto& f : fields_)
        if (f->name == name) return f.get();
    return nullptr;
}

const FakeMethod* FakeClass::method(const std::string& name, const std::string& signature) const {
    for (const auto& m : methods_)
        if (m->name == name && m->signature == signature) return m.get();
    return nullptr;
}

// ---------------------------------------------------------------- JNI functions

struct FakeJvm::Impl {
    static FakeJvm& of(JNIEnv* env) {
        return *static_cast<FakeJvm*>(env->functions->reserved0);
    }

    // Records the call and checks the calling context. Returns the index of
    // the record, or npos when Java code (a method body) is making the call.
    static std::size_t enter(FakeJvm& jvm, const char* fn, std::vector<std::string> args) {
        if (jvm.inJava()) return npos;
        jvm.calls_.push_back(JniCall{fn, std::move(args), ""});
        if (!jvm.inNative()) {
            jvm.misuse(std::string(fn) + ": called outside callNative");
        } else if (jvm.pending_ != nullptr && !allowedWhilePending(fn)) {
            jvm.misuse(std::string(fn) + ": called with an exception pending (" +
                       jvm.pending_->cls->name() + ")");
        }
        return jvm.calls_.size() - 1;
    }

    static void result(FakeJvm& jvm, std::size_t call, std::string text) {
        if (call != npos) jvm.calls_[call].result = std::move(text);
    }

    static void unexpected(JNIEnv* env, const char* fn) {
        FakeJvm& jvm = of(env);
        if (!jvm.inJava()) jvm.calls_.push_back(JniCall{fn, {}, ""});
        jvm.misuse(std::string("unexpected JNI function ") + fn);
    }

    // Resolves a handle passed to `fn`. Unknown handles resolve to nullptr;
    // deleted ones still resolve (the misuse is recorded) so the test goes on.
    static Object* resolve(FakeJvm& jvm, const char* fn, jobject obj, const char* what) {
        if (obj == nullptr) {
            jvm.misuse(std::string(fn) + ": " + what + " is null");
            return nullptr;
        }
        Ref* ref = jvm.refOf(obj);
        if (ref == nullptr) {
            jvm.misuse(std::string(fn) + ": " + what + " is not a reference of this JVM");
            return nullptr;
        }
        if (!ref->live) {
            jvm.misuse(std::string(fn) + ": " + what + " is a deleted local reference (" +
                       jvm.describe(obj) + ")");
        }
        return ref->obj;
    }

    // The arguments of a record, moved in: an initializer list would copy
    // them, and strings can be long.
    template <typename... S>
    static std::vector<std::string> argList(S&&... s) {
        std::vector<std::string> v;
        v.reserve(sizeof...(s));
        (v.push_back(std::forward<S>(s)), ...);
        return v;
    }

    static std::string stringArg(const FakeJvm& jvm, jstring str) {
        if (str == nullptr) return "<null>";
        Ref* ref = jvm.refOf(str);
        if (ref != nullptr && ref->obj->kind == Object::Kind::String) return ref->obj->utf;
        return jvm.describe(str);
    }

    static std::string classArg(const FakeJvm& jvm, jclass cls) {
        Ref* ref = jvm.refOf(cls);
        if (ref != nullptr && ref->obj->kind == Object::Kind::Class) return ref->obj->represents->name();
        return jvm.describe(cls);
    }

    static const FakeField* fieldOf(FakeJvm& jvm, jfieldID id) {
        return jvm.fieldIds_.count(id) ? reinterpret_cast<const FakeField*>(id) : nullptr;
    }

    static const FakeMethod* methodOf(FakeJvm& jvm, jmethodID id) {
        return jvm.methodIds_.count(id) ? reinterpret_cast<const FakeMethod*>(id) : nullptr;
    }

    // ---- exceptions

    static jint JNICALL Throw(JNIEnv* env, jthrowable obj) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "Throw", {jvm.describe(obj)});
        Object* o = resolve(jvm, "Throw", obj, "throwable");
        if (o == nullptr) return JNI_ERR;
        if (o->kind != Object::Kind::Throwable) {
            jvm.misuse("Throw: " + jvm.describe(obj) + " is not a throwable");
            return JNI_ERR;
        }
        jvm.setPending(o);
        result(jvm, call, "0");
        return JNI_OK;
    }

    static jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "ExceptionOccurred", {});
        if (jvm.pending_ == nullptr) {
            result(jvm, call, "null");
            return nullptr;
        }
        jobject ref = jvm.newLocalRef(jvm.pending_, "ExceptionOccurred");
        result(jvm, call, jvm.describe(ref));
        return static_cast<jthrowable>(ref);
    }

    static void JNICALL ExceptionClear(JNIEnv* env) {
        FakeJvm& jvm = of(env);
        enter(jvm, "ExceptionClear", {jvm.pending_ ? jvm.pending_->cls->name() : "none"});
        jvm.pending_ = nullptr;
    }

    static jboolean JNICALL ExceptionCheck(JNIEnv* env) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "ExceptionCheck", {});
        result(jvm, call, jvm.pending_ ? "true" : "false");
        return jvm.pending_ ? JNI_TRUE : JNI_FALSE;
    }

    // ---- references

    static void JNICALL DeleteLocalRef(JNIEnv* env, jobject obj) {
        FakeJvm& jvm = of(env);
        enter(jvm, "DeleteLocalRef", {jvm.describe(obj)});
        if (obj == nullptr) return;  // allowed, does nothing
        Ref* ref = jvm.refOf(obj);
        if (ref == nullptr) {
            jvm.misuse("DeleteLocalRef: not a reference of this JVM");
            return;
        }
        if (!ref->live) {
            jvm.misuse("DeleteLocalRef: reference is not live (" + jvm.describe(obj) + ")");
            return;
        }
        if (jvm.inJava() || !jvm.inNative()) {
            return;  // Java code or test code: nothing to account for
        }
        const NativeCall& nc = jvm.nativeCalls_.back();
        if (!ref->local) {
            // An argument (or other test-side object): a local ref from the
            // native's view. It is revived when the native call returns.
            ref->live = false;
            jvm.nativeCalls_.back().deletedArgs.push_back(ref);
            return;
        }
        if (ref->frame < nc.firstFrame) {
            jvm.misuse("DeleteLocalRef: local reference of an enclosing native call (" +
                       jvm.describe(obj) + ")");
            return;
        }
        ref->live = false;
        --jvm.frames_[ref->frame].live;
    }

    static jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "IsSameObject", {jvm.describe(a), jvm.describe(b)});
        Object* oa = a ? resolve(jvm, "IsSameObject", a, "first reference") : nullptr;
        Object* ob = b ? resolve(jvm, "IsSameObject", b, "second reference") : nullptr;
        bool same = oa == ob && (a == nullptr) == (b == nullptr);
        result(jvm, call, same ? "true" : "false");
        return same ? JNI_TRUE : JNI_FALSE;
    }

    static jint JNICALL PushLocalFrame(JNIEnv* env, jint capacity) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "PushLocalFrame", {std::to_string(capacity)});
        if (capacity < 0) {
            jvm.misuse("PushLocalFrame: negative capacity " + std::to_string(capacity));
            result(jvm, call, "-1");
            return JNI_ERR;
        }
        if (!jvm.inNative() || jvm.inJava()) {
            result(jvm, call, "-1");
            return JNI_ERR;
        }
        Frame frame;
        frame.capacity = static_cast<std::size_t>(capacity);
        frame.pushed = true;
        jvm.frames_.push_back(std::move(frame));
        result(jvm, call, "0");
        return JNI_OK;
    }

    static jobject JNICALL PopLocalFrame(JNIEnv* env, jobject keep) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "PopLocalFrame", {jvm.describe(keep)});
        if (!jvm.inNative() || jvm.inJava() || !jvm.frames_.back().pushed) {
            jvm.misuse("PopLocalFrame: no frame pushed by PushLocalFrame");
            result(jvm, call, "null");
            return nullptr;
        }
        Object* o = keep ? resolve(jvm, "PopLocalFrame", keep, "result") : nullptr;
        jvm.popFrame();
        jobject ref = o ? jvm.newLocalRef(o, "PopLocalFrame") : nullptr;
        result(jvm, call, jvm.describe(ref));
        return ref;
    }

    static jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint capacity) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "EnsureLocalCapacity", {std::to_string(capacity)});
        if (capacity < 0) {
            jvm.misuse("EnsureLocalCapacity: negative capacity " + std::to_string(capacity));
            result(jvm, call, "-1");
            return JNI_ERR;
        }
        if (jvm.inNative() && !jvm.inJava()) {
            Frame& frame = jvm.frames_.back();
            frame.capacity = std::max(frame.capacity, frame.live + static_cast<std::size_t>(capacity));
        }
        result(jvm, call, "0");
        return JNI_OK;
    }

    // ---- classes, fields, methods

    static jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "GetObjectClass", {jvm.describe(obj)});
        Object* o = resolve(jvm, "GetObjectClass", obj, "object");
        if (o == nullptr) {
            result(jvm, call, "null");
            return nullptr;
        }
        jobject ref = jvm.newLocalRef(o->cls->object_, "GetObjectClass");
        result(jvm, call, jvm.describe(ref));
        return static_cast<jclass>(ref);
    }

    static FakeClass* classOf(FakeJvm& jvm, const char* fn, jclass cls) {
        Object* o = resolve(jvm, fn, cls, "class");
        if (o == nullptr) return nullptr;
        if (o->kind != Object::Kind::Class) {
            jvm.misuse(std::string(fn) + ": " + jvm.describe(cls) + " is not a class");
            return nullptr;
        }
        return o->represents;
    }

    static jfieldID JNICALL GetFieldID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
        FakeJvm& jvm = of(env);
        std::string n = name ? name : "<null>";
        std::string s = sig ? sig : "<null>";
        std::size_t call = enter(jvm, "GetFieldID", {classArg(jvm, cls), n, s});
        FakeClass* c = classOf(jvm, "GetFieldID", cls);
        if (c == nullptr) {
            result(jvm, call, "null");
            return nullptr;
        }
        const FakeField* f = c->field(n);
        if (f == nullptr || f->signature != s) {
            // A real JVM throws; for this bridge a missing field is always a bug.
            if (!c->fieldsRenamed) jvm.misuse("GetFieldID: no field " + c->name() + "." + n + " with signature " + s);
            jvm.throwNew("java/lang/NoSuchFieldError", n);
            result(jvm, call, "null");
            return nullptr;
        }
        result(jvm, call, simpleName(c->name()) + "." + n);
        return reinterpret_cast<jfieldID>(const_cast<FakeField*>(f));
    }

    // Checks the object/field pair of Get/SetIntField; returns the object or nullptr.
    static Object* fieldTarget(FakeJvm& jvm, const char* fn, jobject obj, const FakeField* f) {
        Object* o = resolve(jvm, fn, obj, "object");
        if (o == nullptr) return nullptr;
        if (f == nullptr) {
            jvm.misuse(std::string(fn) + ": invalid field ID");
            return nullptr;
        }
        if (o->cls != f->owner) {
            jvm.misuse(std::string(fn) + ": field " + f->owner->name() + "." + f->name +
                       " used on " + jvm.describe(obj));
            return nullptr;
        }
        return o;
    }

    static std::string fieldName(const FakeField* f) { return f ? f->name : "invalid field ID"; }

    static jint JNICALL GetIntField(JNIEnv* env, jobject obj, jfieldID id) {
        FakeJvm& jvm = of(env);
        const FakeField* f = fieldOf(jvm, id);
        std::size_t call = enter(jvm, "GetIntField", {jvm.describe(obj), fieldName(f)});
        Object* o = fieldTarget(jvm, "GetIntField", obj, f);
        jint value = 0;
        if (o != nullptr) {
            auto it = o->ints.find(f);
            value = it == o->ints.end() ? f->initial : it->second;
        }
        result(jvm, call, std::to_string(value));
        return value;
    }

    static void JNICALL SetIntField(JNIEnv* env, jobject obj, jfieldID id, jint value) {
        FakeJvm& jvm = of(env);
        const FakeField* f = fieldOf(jvm, id);
        enter(jvm, "SetIntField", {jvm.describe(obj), fieldName(f), std::to_string(value)});
        Object* o = fieldTarget(jvm, "SetIntField", obj, f);
        if (o != nullptr) o->ints[f] = value;
    }

    static jmethodID JNICALL GetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
        FakeJvm& jvm = of(env);
        std::string n = name ? name : "<null>";
        std::string s = sig ? sig : "<null>";
        std::size_t call = enter(jvm, "GetMethodID", {classArg(jvm, cls), n, s});
        FakeClass* c = classOf(jvm, "GetMethodID", cls);
        const FakeMethod* m = c ? c->method(n, s) : nullptr;
        if (m == nullptr) {
            if (c != nullptr) jvm.throwNew("java/lang/NoSuchMethodError", n);
            result(jvm, call, "null");
            return nullptr;
        }
        result(jvm, call, n);
        return reinterpret_cast<jmethodID>(const_cast<FakeMethod*>(m));
    }

    static std::string formatValue(const FakeJvm& jvm, const std::string& desc, const jvalue& v) {
        switch (desc[0]) {
            case 'Z': return v.z ? "true" : "false";
            case 'B': return std::to_string(v.b);
            case 'C': return std::to_string(v.c);
            case 'S': return std::to_string(v.s);
            case 'I': return std::to_string(v.i);
            case 'J': return std::to_string(v.j);
            case 'F': return std::to_string(v.f);
            case 'D': return std::to_string(v.d);
            default:
                if (desc == "Ljava/lang/String;") return stringArg(jvm, static_cast<jstring>(v.l));
                return jvm.describe(v.l);
        }
    }

    // Common part of CallVoidMethod/V/A: exactly one of `va` and `array` is set.
    static void callVoid(JNIEnv* env, jobject obj, jmethodID id, va_list* va, const jvalue* array) {
        FakeJvm& jvm = of(env);
        const FakeMethod* m = methodOf(jvm, id);
        std::vector<jvalue> values;
        std::vector<std::string> args{jvm.describe(obj)};
        if (m != nullptr) {
            args.push_back(m->name);
            args.push_back(m->signature);
            for (std::size_t i = 0; i < m->params.size(); ++i) {
                jvalue v;
                std::memset(&v, 0, sizeof v);
                if (array != nullptr) {
                    v = array[i];
                } else {
                    // Variadic arguments arrive with default promotions.
                    switch (m->params[i][0]) {
                        case 'Z': v.z = static_cast<jboolean>(va_arg(*va, int)); break;
                        case 'B': v.b = static_cast<jbyte>(va_arg(*va, int)); break;
                        case 'C': v.c = static_cast<jchar>(va_arg(*va, int)); break;
                        case 'S': v.s = static_cast<jshort>(va_arg(*va, int)); break;
                        case 'I': v.i = va_arg(*va, jint); break;
                        case 'J': v.j = va_arg(*va, jlong); break;
                        case 'F': v.f = static_cast<jfloat>(va_arg(*va, double)); break;
                        case 'D': v.d = va_arg(*va, double); break;
                        default: v.l = va_arg(*va, jobject); break;
                    }
                }
                values.push_back(v);
                args.push_back(formatValue(jvm, m->params[i], v));
            }
        } else {
            args.push_back("invalid method ID");
        }
        enter(jvm, "CallVoidMethod", std::move(args));
        if (m == nullptr) {
            jvm.misuse("CallVoidMethod: invalid method ID");
            return;
        }
        Object* o = resolve(jvm, "CallVoidMethod", obj, "receiver");
        if (o == nullptr) return;
        if (o->cls != m->owner) {
            jvm.misuse("CallVoidMethod: method " + m->owner->name() + "." + m->name +
                       " called on " + jvm.describe(obj));
            return;
        }
        for (std::size_t i = 0; i < m->params.size(); ++i) {
            if (isReferenceType(m->params[i]) && values[i].l != nullptr) {
                std::string what = "argument " + std::to_string(i + 1);
                resolve(jvm, "CallVoidMethod", values[i].l, what.c_str());
            }
        }
        if (!m->body) return;
        ++jvm.javaDepth_;
        try {
            m->body(env, obj, values.empty() ? nullptr : values.data());
        } catch (...) {
            --jvm.javaDepth_;
            throw;
        }
        --jvm.javaDepth_;
    }

    static void JNICALL CallVoidMethod(JNIEnv* env, jobject obj, jmethodID id, ...) {
        va_list va;
        va_start(va, id);
        callVoid(env, obj, id, &va, nullptr);
        va_end(va);
    }

    static void JNICALL CallVoidMethodV(JNIEnv* env, jobject obj, jmethodID id, va_list args) {
        va_list va;
        va_copy(va, args);
        callVoid(env, obj, id, &va, nullptr);
        va_end(va);
    }

    static void JNICALL CallVoidMethodA(JNIEnv* env, jobject obj, jmethodID id, const jvalue* args) {
        static const jvalue none{};
        callVoid(env, obj, id, nullptr, args != nullptr ? args : &none);
    }

    // ---- strings

    static Object* stringOf(FakeJvm& jvm, const char* fn, jstring str) {
        Object* o = resolve(jvm, fn, str, "string");
        if (o != nullptr && o->kind != Object::Kind::String) {
            jvm.misuse(std::string(fn) + ": " + jvm.describe(str) + " is not a string");
            return nullptr;
        }
        return o;
    }

    static jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "NewStringUTF", {utf ? utf : "<null>"});
        if (jvm.failNewStringIn_ != 0 && --jvm.failNewStringIn_ == 0) {
            jvm.throwNew(kOutOfMemory, "injected by failNewStringUTFAt");
            result(jvm, call, "null (injected OutOfMemoryError)");
            return nullptr;
        }
        if (utf == nullptr) {
            jvm.misuse("NewStringUTF: null argument");
            result(jvm, call, "null");
            return nullptr;
        }
        std::string bytes(utf);
        std::size_t bad = invalidModifiedUtf8At(bytes);
        if (jvm.strictUtf8_ && bad != std::string::npos) {
            std::ostringstream msg;
            msg << "NewStringUTF: not modified UTF-8 (byte 0x" << std::hex
                << static_cast<unsigned>(static_cast<unsigned char>(bytes[bad])) << std::dec
                << " at offset " << bad << ")";
            jvm.misuse(msg.str());
        }
        Object* o = jvm.newObjectOf(jvm.stringClass_);
        o->utf = std::move(bytes);
        jobject ref = jvm.newLocalRef(o, "NewStringUTF");
        result(jvm, call, jvm.describe(ref));
        return static_cast<jstring>(ref);
    }

    static jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring str) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "GetStringUTFLength", argList(stringArg(jvm, str)));
        Object* o = stringOf(jvm, "GetStringUTFLength", str);
        jsize n = o ? static_cast<jsize>(o->utf.size()) : 0;
        result(jvm, call, std::to_string(n));
        return n;
    }

    static jsize JNICALL GetStringLength(JNIEnv* env, jstring str) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "GetStringLength", argList(stringArg(jvm, str)));
        Object* o = stringOf(jvm, "GetStringLength", str);
        jsize n = o ? utf16Length(o->utf) : 0;
        result(jvm, call, std::to_string(n));
        return n;
    }

    static const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy) {
        FakeJvm& jvm = of(env);
        std::size_t call = enter(jvm, "GetStringUTFChars", argList(stringArg(jvm, str)));
        if (jvm.failUtfCharsIn_ != 0 && --jvm.failUtfCharsIn_ == 0) {
            jvm.throwNew(kOutOfMemory, "injected by failStringUTFCharsAt");
            result(jvm, call, "null (injected OutOfMemoryError)");
            return nullptr;
        }
        Object* o = stringOf(jvm, "GetStringUTFChars", str);
        if (o == nullptr) {
            result(jvm, call, "null");
            return nullptr;
        }
        Obtained ob;
        ob.size = o->utf.size();
        ob.chars.reset(new char[ob.size + 1]);
        std::memcpy(ob.chars.get(), o->utf.c_str(), ob.size + 1);
        ob.source = str;
        ob.object = o;
        ob.seq = static_cast<unsigned>(jvm.obtained_.size() + 1);
        ob.callSerial = jvm.inNative() ? jvm.nativeCalls_.back().serial : 0;
        const char* chars = ob.chars.get();
        jvm.obtainedIndex_[chars] = jvm.obtained_.size();
        jvm.obtained_.push_back(std::move(ob));
        if (isCopy != nullptr) *isCopy = JNI_TRUE;
        result(jvm, call, "#" + std::to_string(jvm.obtained_.back().seq));
        return chars;
    }

    static void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) {
        FakeJvm& jvm = of(env);
        auto it = jvm.obtainedIndex_.find(chars);
        Obtained* ob = it == jvm.obtainedIndex_.end() ? nullptr : &jvm.obtained_[it->second];
        enter(jvm, "ReleaseStringUTFChars",
              argList(stringArg(jvm, str), ob ? "#" + std::to_string(ob->seq) : "unknown pointer"));
        if (ob == nullptr) {
            jvm.misuse("ReleaseStringUTFChars: pointer was not obtained from GetStringUTFChars");
            return;
        }
        // Built only for a misuse: strings can be long, and most calls are right.
        auto label = [ob] { return "\"" + ob->value() + "\" (#" + std::to_string(ob->seq) + ")"; };
        if (ob->released) {
            jvm.misuse("ReleaseStringUTFChars: released twice: " + label());
            return;
        }
        Object* o = stringOf(jvm, "ReleaseStringUTFChars", str);
        if (o != nullptr && o != ob->object) {
            jvm.misuse("ReleaseStringUTFChars: " + label() + " released with another string (" +
                       jvm.describe(str) + ")");
        }
        ob->released = true;
        jvm.releaseOrder_.push_back(it->second);
        // Kept allocated so pointers stay comparable, but unusable: poisoned
        // bytes for plain builds, an ASan report for sanitized ones.
        std::memset(ob->chars.get(), 0xDD, ob->size);
#ifdef FAKEJNI_ASAN
        ASAN_POISON_MEMORY_REGION(ob->chars.get(), ob->size + 1);
#endif
    }
};

// ---------------------------------------------------------------- table

namespace {

enum UnexpectedIndex {
#define FAKEJNI_ENUM(name) kUnexpected_##name,
    FAKEJNI_UNEXPECTED_FUNCTIONS(FAKEJNI_ENUM)
#undef FAKEJNI_ENUM
    kUnexpectedCount
};

const char* const kUnexpectedNames[] = {
#define FAKEJNI_NAME(name) #name,
    FAKEJNI_UNEXPECTED_FUNCTIONS(FAKEJNI_NAME)
#undef FAKEJNI_NAME
};

// A stub with exactly the entry's signature, so no call goes through a
// mismatched function pointer type.
template <typename Sig>
struct Unexpected;

template <typename R, typename... A>
struct Unexpected<R(JNICALL*)(JNIEnv*, A...)> {
    template <int I>
    static R JNICALL fn(JNIEnv* env, A...) {
        FakeJvm::Impl::unexpected(env, kUnexpectedNames[I]);
        return R();
    }
};

template <typename R, typename... A>
struct Unexpected<R(JNICALL*)(JNIEnv*, A..., ...)> {
    template <int I>
    static R JNICALL fn(JNIEnv* env, A..., ...) {
        FakeJvm::Impl::unexpected(env, kUnexpectedNames[I]);
        return R();
    }
};

constexpr int kImplementedCount = 22;
constexpr int kReservedCount = 4;
static_assert(sizeof(JNINativeInterface_) ==
                  (kReservedCount + kImplementedCount + kUnexpectedCount) * sizeof(void*),
              "every JNINativeInterface_ entry must be implemented or listed as unexpected");

}  // namespace

// ---------------------------------------------------------------- FakeJvm

FakeJvm::FakeJvm() {
    std::memset(&table_, 0, sizeof table_);
    table_.reserved0 = this;
#define FAKEJNI_SET(name) \
    table_.name = &Unexpected<decltype(JNINativeInterface_::name)>::template fn<kUnexpected_##name>;
    FAKEJNI_UNEXPECTED_FUNCTIONS(FAKEJNI_SET)
#undef FAKEJNI_SET
    table_.GetObjectClass = &Impl::GetObjectClass;
    table_.GetFieldID = &Impl::GetFieldID;
    table_.GetIntField = &Impl::GetIntField;
    table_.SetIntField = &Impl::SetIntField;
    table_.GetMethodID = &Impl::GetMethodID;
    table_.CallVoidMethod = &Impl::CallVoidMethod;
    table_.CallVoidMethodV = &Impl::CallVoidMethodV;
    table_.CallVoidMethodA = &Impl::CallVoidMethodA;
    table_.GetStringUTFChars = &Impl::GetStringUTFChars;
    table_.ReleaseStringUTFChars = &Impl::ReleaseStringUTFChars;
    table_.NewStringUTF = &Impl::NewStringUTF;
    table_.ExceptionCheck = &Impl::ExceptionCheck;
    table_.ExceptionOccurred = &Impl::ExceptionOccurred;
    table_.ExceptionClear = &Impl::ExceptionClear;
    table_.Throw = &Impl::Throw;
    table_.DeleteLocalRef = &Impl::DeleteLocalRef;
    table_.PushLocalFrame = &Impl::PushLocalFrame;
    table_.PopLocalFrame = &Impl::PopLocalFrame;
    table_.EnsureLocalCapacity = &Impl::EnsureLocalCapacity;
    table_.IsSameObject = &Impl::IsSameObject;
    table_.GetStringUTFLength = &Impl::GetStringUTFLength;
    table_.GetStringLength = &Impl::GetStringLength;
    env_.functions = &table_;

    defineClass("java/lang/Class");
    stringClass_ = defineClass("java/lang/String");
}

FakeJvm::~FakeJvm() {
#ifdef FAKEJNI_ASAN
    for (auto& ob : obtained_) ASAN_UNPOISON_MEMORY_REGION(ob.chars.get(), ob.size + 1);
#endif
}

FakeClass* FakeJvm::defineClass(const std::string& name) {
    if (classByName_.count(name)) throw std::invalid_argument("class defined twice: " + name);
    classes_.push_back(std::unique_ptr<FakeClass>(new FakeClass(*this, name)));
    FakeClass* cls = classes_.back().get();
    classByName_[name] = cls;
    FakeClass* classClass = classes_.front().get();  // java/lang/Class, defined first
    cls->object_ = newObjectOf(classClass);
    cls->object_->kind = Object::Kind::Class;
    cls->object_->represents = cls;
    cls->ref_ = static_cast<jclass>(newRef(cls->object_, RefKind::Test));
    return cls;
}

FakeClass* FakeJvm::findClass(const std::string& name) const {
    auto it = classByName_.find(name);
    return it == classByName_.end() ? nullptr : it->second;
}

FakeClass* FakeJvm::findOrDefineThrowable(const std::string& name) {
    FakeClass* cls = findClass(name);
    if (cls == nullptr) cls = defineClass(name);
    cls->throwable_ = true;
    return cls;
}

Object* FakeJvm::newObjectOf(FakeClass* cls) {
    auto obj = std::make_unique<Object>();
    obj->id = static_cast<unsigned>(objects_.size() + 1);
    obj->cls = cls;
    obj->kind = cls == stringClass_ ? Object::Kind::String
                : cls->throwable_   ? Object::Kind::Throwable
                                    : Object::Kind::Instance;
    objects_.push_back(std::move(obj));
    return objects_.back().get();
}

jobject FakeJvm::newObject(FakeClass* cls) {
    if (cls == nullptr) throw std::invalid_argument("newObject: null class");
    return newRef(newObjectOf(cls), RefKind::Test);
}

jstring FakeJvm::newString(const std::string& mutf8) {
    Object* o = newObjectOf(stringClass_);
    o->utf = mutf8;
    return static_cast<jstring>(newRef(o, RefKind::Test));
}

jthrowable FakeJvm::newThrowable(const std::string& className, const std::string& message) {
    Object* o = newObjectOf(findOrDefineThrowable(className));
    o->message = message;
    return static_cast<jthrowable>(newRef(o, RefKind::Test));
}

jobject FakeJvm::newRef(Object* obj, RefKind kind) {
    refs_.push_back(std::make_unique<Ref>(Ref{obj, kind == RefKind::Local}));
    Ref* ref = refs_.back().get();
    refIndex_[ref] = ref;
    return reinterpret_cast<jobject>(ref);
}

jobject FakeJvm::newLocalRef(Object* obj, const char* fn) {
    if (!inNative() || inJava()) return newRef(obj, RefKind::Test);
    jobject handle = newRef(obj, RefKind::Local);
    Ref* ref = refs_.back().get();
    ref->frame = frames_.size() - 1;
    frames_[ref->frame].refs.push_back(ref);
    Frame& frame = frames_[ref->frame];
    ++frame.live;
    if (frame.live > frame.capacity && !frame.overflowReported) {
        frame.overflowReported = true;
        misuse(std::string(fn) + ": local reference overflow: " + jstr(frame.live) +
               " live local refs in a frame with capacity " + jstr(frame.capacity));
    }
    peakLocalRefs_ = std::max(peakLocalRefs_, liveLocalRefs());
    return handle;
}

Ref* FakeJvm::refOf(jobject obj) const {
    auto it = refIndex_.find(obj);
    return it == refIndex_.end() ? nullptr : it->second;
}

Object* FakeJvm::testResolve(jobject obj) const {
    Ref* ref = refOf(obj);
    if (ref == nullptr) throw std::invalid_argument("not a reference of this FakeJvm");
    return ref->obj;
}

jint FakeJvm::intField(jobject obj, const std::string& field) const {
    Object* o = testResolve(obj);
    const FakeField* f = o->cls->field(field);
    if (f == nullptr) throw std::invalid_argument("no int field " + o->cls->name() + "." + field);
    auto it = o->ints.find(f);
    return it == o->ints.end() ? f->initial : it->second;
}

void FakeJvm::setIntField(jobject obj, const std::string& field, jint value) {
    Object* o = testResolve(obj);
    const FakeField* f = o->cls->field(field);
    if (f == nullptr) throw std::invalid_argument("no int field " + o->cls->name() + "." + field);
    o->ints[f] = value;
}

std::string FakeJvm::stringValue(jstring str) const {
    Object* o = testResolve(str);
    if (o->kind != Object::Kind::String) throw std::invalid_argument("not a string: " + describe(str));
    return o->utf;
}

std::string FakeJvm::className(jobject obj) const {
    return obj == nullptr ? std::string() : testResolve(obj)->cls->name();
}

bool FakeJvm::sameObject(jobject a, jobject b) const {
    Object* oa = a ? testResolve(a) : nullptr;
    Object* ob = b ? testResolve(b) : nullptr;
    return oa == ob;
}

std::string FakeJvm::describe(jobject obj) const {
    if (obj == nullptr) return "null";
    Ref* ref = refOf(obj);
    if (ref == nullptr) return "invalid reference";
    const Object* o = ref->obj;
    std::string text;
    switch (o->kind) {
        case Object::Kind::Class: text = "class " + o->represents->name(); break;
        case Object::Kind::String: text = "\"" + o->utf + "\""; break;
        case Object::Kind::Throwable: text = o->cls->name() + "#" + std::to_string(o->id); break;
        case Object::Kind::Instance:
            text = simpleName(o->cls->name()) + "#" + std::to_string(o->id);
            break;
    }
    return ref->live ? text : text + " (deleted)";
}

void FakeJvm::misuse(const std::string& text) { misuses_.push_back(text); }

void FakeJvm::setPending(Object* throwable) { pending_ = throwable; }

void FakeJvm::throwNew(const std::string& className, const std::string& message) {
    Object* o = newObjectOf(findOrDefineThrowable(className));
    o->message = message;
    setPending(o);
}

std::string FakeJvm::pendingException() const {
    return pending_ ? pending_->cls->name() : std::string();
}

std::size_t FakeJvm::liveLocalRefs() const {
    if (!inNative()) return 0;
    std::size_t live = 0;
    for (std::size_t i = nativeCalls_.back().firstFrame; i < frames_.size(); ++i) live += frames_[i].live;
    return live;
}

void FakeJvm::popFrame() {
    for (Ref* ref : frames_.back().refs) ref->live = false;
    frames_.pop_back();
}

void FakeJvm::beginNative() {
    NativeCall nc;
    nc.firstFrame = frames_.size();
    nc.serial = ++nativeSerial_;
    nc.savedJavaDepth = javaDepth_;
    nc.firstObtained = obtained_.size();
    nc.savedPeak = peakLocalRefs_;
    nativeCalls_.push_back(std::move(nc));
    frames_.push_back(Frame{});
    javaDepth_ = 0;
    peakLocalRefs_ = 0;
    thrownClass_.clear();
    thrownMessage_.clear();
    thrownObject_ = nullptr;
}

jobject FakeJvm::keepReturned(jobject returned) {
    if (returned == nullptr) return nullptr;
    Ref* ref = refOf(returned);
    if (ref == nullptr) {
        misuse("native returned a reference not of this JVM");
        return nullptr;
    }
    if (!ref->live) misuse("native returned a deleted local reference (" + describe(returned) + ")");
    return newRef(ref->obj, RefKind::Test);
}

void FakeJvm::endNative() {
    NativeCall nc = std::move(nativeCalls_.back());
    for (std::size_t i = nc.firstObtained; i < obtained_.size(); ++i) {
        const Obtained& ob = obtained_[i];
        if (ob.callSerial == nc.serial && !ob.released) {
            misuse("string obtained and not released: \"" + ob.value() + "\" (#" + jstr(ob.seq) + ")");
        }
    }
    std::size_t unpopped = frames_.size() - nc.firstFrame - 1;
    if (unpopped != 0) {
        misuse("native returned with " + jstr(unpopped) + " local frame(s) pushed and not popped");
    }
    if (pending_ != nullptr) {
        thrownClass_ = pending_->cls->name();
        thrownMessage_ = pending_->message;
        thrownObject_ = static_cast<jthrowable>(newRef(pending_, RefKind::Test));
    }
    while (frames_.size() > nc.firstFrame) popFrame();
    for (Ref* ref : nc.deletedArgs) ref->live = true;
    nativeCalls_.pop_back();
    javaDepth_ = nc.savedJavaDepth;
    if (inNative()) {
        // Returning into Java code that called the native: the exception
        // propagates there, so it stays pending.
        peakLocalRefs_ = nc.savedPeak;
    } else {
        pending_ = nullptr;
    }
}

void FakeJvm::escapedCppException() {
    misuse("C++ exception escaped the native method");
    endNative();
}

// ---------------------------------------------------------------- queries

bool FakeJvm::isObtained(const char* chars) const { return obtainedIndex_.count(chars) != 0; }

jstring FakeJvm::sourceOf(const char* chars) const {
    auto it = obtainedIndex_.find(chars);
    return it == obtainedIndex_.end() ? nullptr : obtained_[it->second].source;
}

bool FakeJvm::isReleased(const char* chars) const {
    auto it = obtainedIndex_.find(chars);
    return it != obtainedIndex_.end() && obtained_[it->second].released;
}

const std::string& FakeJvm::Obtained::value() const {
    return object->utf;
}

void FakeJvm::forgetStrings() {
    if (inNative()) {
        misuse("forgetStrings called during a native call");
        return;
    }
#ifdef FAKEJNI_ASAN
    for (const Obtained& ob : obtained_) ASAN_UNPOISON_MEMORY_REGION(ob.chars.get(), ob.size + 1);
#endif
    obtained_.clear();
    obtainedIndex_.clear();
    releaseOrder_.clear();
}

std::vector<std::string> FakeJvm::releasedStrings() const {
    std::vector<std::string> values;
    for (std::size_t i : releaseOrder_) values.push_back(obtained_[i].value());
    return values;
}

std::size_t FakeJvm::unreleasedStrings() const {
    return static_cast<std::size_t>(std::count_if(obtained_.begin(), obtained_.end(),
                                                  [](const Obtained& ob) { return !ob.released; }));
}

std::size_t FakeJvm::callCount(const std::string& function) const {
    return static_cast<std::size_t>(std::count_if(
        calls_.begin(), calls_.end(), [&](const JniCall& c) { return c.function == function; }));
}

std::size_t FakeJvm::firstCall(const std::string& function, std::size_t from) const {
    for (std::size_t i = from; i < calls_.size(); ++i)
        if (calls_[i].function == function) return i;
    return npos;
}

std::size_t FakeJvm::lastCall(const std::string& function) const {
    for (std::size_t i = calls_.size(); i-- > 0;)
        if (calls_[i].function == function) return i;
    return npos;
}

std::vector<JniCall> FakeJvm::callsOf(const std::string& function) const {
    std::vector<JniCall> out;
    for (const auto& c : calls_)
        if (c.function == function) out.push_back(c);
    return out;
}

std::string FakeJvm::formatCalls() const {
    std::string out;
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        const JniCall& c = calls_[i];
        out += "  " + std::to_string(i) + ": " + c.function + "(";
        for (std::size_t a = 0; a < c.args.size(); ++a) out += (a ? ", " : "") + c.args[a];
        out += ")";
        if (!c.result.empty()) out += " -> " + c.result;
        out += "\n";
    }
    return out;
}

std::vector<std::string> FakeJvm::takeMisuses() {
    std::vector<std::string> taken;
    taken.swap(misuses_);
    return taken;
}

bool FakeJvm::takeMisuse(const std::string& fragment) {
    auto it = std::find_if(misuses_.begin(), misuses_.end(), [&](const std::string& m) {
        return m.find(fragment) != std::string::npos;
    });
    if (it == misuses_.end()) return false;
    misuses_.erase(it);
    return true;
}

std::string FakeJvm::formatMisuses() const {
    std::string out;
    for (const auto& m : misuses_) out += "  " + m + "\n";
    return out;
}

}  // namespace fakejni
