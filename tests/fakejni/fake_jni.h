// A fake JNIEnv for unit-testing JNI natives without a JVM.
//
// The natives under test are called directly with `jvm.env()` inside
// `jvm.callNative(...)`. The fake models the parts of the JNI contract that a
// bridge can get wrong: pending exceptions, local reference lifetime and
// capacity, the pairing of GetStringUTFChars/ReleaseStringUTFChars, and the
// use of field/method IDs on the right objects. Every violation is recorded as
// a "misuse" (a readable string) instead of crashing, and every JNI call is
// recorded so a test can assert the exact sequence.
//
// Only the functions a bridge of this kind needs are implemented; every other
// table entry records "unexpected JNI function <name>".
//
// Not thread-safe: natives under test must run on the calling thread.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace fakejni {

class FakeClass;
class FakeJvm;
struct Object;
struct Ref;

// The offset of the first byte that breaks modified UTF-8 (what a JVM takes
// in NewStringUTF), or std::string::npos when there is none.
std::size_t invalidModifiedUtf8At(const std::string& s);

// Java-side body of a method: `args` holds one jvalue per parameter of the
// method's signature. It runs as Java code: the JNI calls it makes through
// `env` (typically env->Throw) are neither recorded nor checked.
using JavaMethod = std::function<void(JNIEnv* env, jobject self, const jvalue* args)>;

struct FakeField {
    FakeClass* owner;
    std::string name;
    std::string signature;  // always "I" for now
    jint initial;
};

struct FakeMethod {
    FakeClass* owner;
    std::string name;
    std::string signature;            // e.g. "(Ljava/lang/String;I)V"
    std::vector<std::string> params;  // one type descriptor per parameter
    JavaMethod body;                  // may be empty: the method does nothing
};

class FakeClass {
public:
    const std::string& name() const { return name_; }
    // A test-side reference to the class object, e.g. the receiver of a static native.
    jclass ref() const { return ref_; }

    FakeClass& addIntField(const std::string& name, jint initial = 0);
    // A class whose fields were renamed (by a shrinker): GetFieldID on it
    // throws NoSuchFieldError as a JVM does, and that is no misuse of JNI.
    bool fieldsRenamed = false;
    // Only void methods; the signature must end in ")V".
    FakeClass& addVoidMethod(const std::string& name, const std::string& signature,
                             JavaMethod body = {});

    const FakeField* field(const std::string& name) const;
    const FakeMethod* method(const std::string& name, const std::string& signature) const;

private:
    friend class FakeJvm;
    FakeClass(FakeJvm& jvm, std::string name) : jvm_(jvm), name_(std::move(name)) {}

    FakeJvm& jvm_;
    std::string name_;
    bool throwable_ = false;
    Object* object_ = nullptr;  // the java.lang.Class instance
    jclass ref_ = nullptr;
    std::vector<std::unique_ptr<FakeField>> fields_;
    std::vector<std::unique_ptr<FakeMethod>> methods_;
};

// One recorded JNI call. CallVoidMethod, CallVoidMethodV and CallVoidMethodA
// are all recorded as "CallVoidMethod" (the C++ env->CallVoidMethod wrapper
// forwards to the V form anyway).
//
// args are readable: class names, field/method names and signatures, string
// contents (raw, for jstring parameters and String method arguments), numbers,
// and object descriptions such as "ZelConfig#3" (class simple name + object
// number), "class COM/morvent/zel/ZelConfig", "\"text\"" (a string passed
// where any object is accepted), "java/lang/RuntimeException#7", "null".
// Native strings are described by their obtain number: "#2".
struct JniCall {
    std::string function;
    std::vector<std::string> args;
    std::string result;  // "" for void functions
};

class FakeJvm {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    // The number of local references JNI guarantees without EnsureLocalCapacity.
    static constexpr std::size_t kDefaultLocalCapacity = 16;

    FakeJvm();
    ~FakeJvm();
    FakeJvm(const FakeJvm&) = delete;
    FakeJvm& operator=(const FakeJvm&) = delete;

    JNIEnv* env() { return &env_; }

    // ---- classes and objects (test side; nothing here is recorded) ----
    FakeClass* defineClass(const std::string& name);   // throws on a duplicate name
    FakeClass* findClass(const std::string& name) const;  // nullptr if undefined
    jobject newObject(FakeClass* cls);
    jint intField(jobject obj, const std::string& field) const;
    void setIntField(jobject obj, const std::string& field, jint value);
    // Strings hold modified UTF-8 bytes as given.
    jstring newString(const std::string& mutf8);
    std::string stringValue(jstring str) const;
    jthrowable newThrowable(const std::string& className, const std::string& message = "");
    std::string className(jobject obj) const;  // "" for null
    bool sameObject(jobject a, jobject b) const;
    // How recorded calls show the object, e.g. "ZelConfig#3".
    std::string describe(jobject obj) const;
    // References created here (and a native's returned object) stay valid
    // across native calls. A native may DeleteLocalRef one (it is an argument,
    // so a local ref from its point of view); it is then dead until that call ends.

    // ---- native call boundary ----
    // Runs `native` as the JVM would run a native method: in a fresh local
    // frame. At return it checks that every native string obtained during the
    // call was released and every pushed local frame popped, records the
    // exception that Java would see (thrownToJava) and clears it, and drops the
    // frame's local refs. A returned object is turned into a test-side ref.
    // JNI calls made through env() outside callNative are misuses. Called from
    // a Java method body (a nested native), a pending exception propagates to
    // the enclosing native instead of being cleared.
    template <typename F>
    auto callNative(F&& native) -> decltype(native());

    // Class name of the exception pending when the last native call returned, or "".
    const std::string& thrownToJava() const { return thrownClass_; }
    const std::string& thrownMessage() const { return thrownMessage_; }
    jthrowable thrownObject() const { return thrownObject_; }  // test-side ref or null

    // Currently pending exception (e.g. inside a Java method body).
    std::string pendingException() const;

    // ---- fault injection ----
    // The n-th call (1-based, counting from now) of the function returns NULL
    // with java/lang/OutOfMemoryError pending. 0 disables.
    void failStringUTFCharsAt(unsigned n) { failUtfCharsIn_ = n; }
    void failNewStringUTFAt(unsigned n) { failNewStringIn_ = n; }
    // NewStringUTF with bytes that are not modified UTF-8 is a misuse (on by default).
    void setStrictModifiedUtf8(bool strict) { strictUtf8_ = strict; }

    // ---- native strings ----
    bool isObtained(const char* chars) const;   // handed out by GetStringUTFChars
    jstring sourceOf(const char* chars) const;  // the jstring it came from, or nullptr
    bool isReleased(const char* chars) const;
    // Values of released native strings, in release order.
    std::vector<std::string> releasedStrings() const;
    std::size_t unreleasedStrings() const;
    // Frees the native strings of the calls that have ended (each was released,
    // or reported when its call ended), which a long run of calls would keep
    // to the end; releasing one of them afterwards is reported as a pointer
    // not obtained. Only between native calls.
    void forgetStrings();

    // ---- local references ----
    // Live local refs created by the current native call (all its frames).
    std::size_t liveLocalRefs() const;
    // Peak of liveLocalRefs() in the current native call, or in the last one if none is running.
    std::size_t peakLocalRefs() const { return peakLocalRefs_; }

    // ---- recording ----
    const std::vector<JniCall>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    std::size_t callCount(const std::string& function) const;
    std::size_t firstCall(const std::string& function, std::size_t from = 0) const;  // or npos
    std::size_t lastCall(const std::string& function) const;                         // or npos
    std::vector<JniCall> callsOf(const std::string& function) const;
    std::string formatCalls() const;  // one call per line, for failure messages

    const std::vector<std::string>& misuses() const { return misuses_; }
    // Returns and forgets the misuses recorded so far (for tests that expect some).
    std::vector<std::string> takeMisuses();
    // Removes the first misuse containing `fragment`; false if there is none.
    bool takeMisuse(const std::string& fragment);
    std::string formatMisuses() const;

    // ---- used by the JNI function table; not for tests ----
    struct Impl;

private:
    friend struct Impl;
    friend class FakeClass;

    enum class RefKind { Local, Test };

    struct Frame {
        std::vector<Ref*> refs;
        std::size_t live = 0;
        std::size_t capacity = kDefaultLocalCapacity;
        bool pushed = false;  // by PushLocalFrame (not a native call's own frame)
        bool overflowReported = false;
    };

    struct NativeCall {
        std::size_t firstFrame;
        unsigned serial;
        unsigned savedJavaDepth;
        std::size_t firstObtained;
        std::size_t savedPeak;
        std::vector<Ref*> deletedArgs;  // test refs the native deleted; revived at return
    };

    struct Obtained {
        std::unique_ptr<char[]> chars;
        std::size_t size;  // bytes, without the terminator
        jstring source;
        Object* object;
        unsigned seq;
        unsigned callSerial;
        bool released = false;
        const std::string& value() const;  // the source string's bytes (strings never change)
    };

    void beginNative();
    void endNative();
    jobject keepReturned(jobject returned);
    void escapedCppException();

    Object* newObjectOf(FakeClass* cls);
    FakeClass* findOrDefineThrowable(const std::string& name);
    jobject newRef(Object* obj, RefKind kind);
    // A test ref when no native call runs or Java code makes the call.
    jobject newLocalRef(Object* obj, const char* fn);
    void popFrame();
    Ref* refOf(jobject obj) const;     // nullptr if not a handle of this JVM
    Object* testResolve(jobject obj) const;  // throws on a bad handle
    void misuse(const std::string& text);
    void setPending(Object* throwable);
    void throwNew(const std::string& className, const std::string& message);
    bool inNative() const { return !nativeCalls_.empty(); }
    bool inJava() const { return javaDepth_ > 0; }

    JNINativeInterface_ table_;
    JNIEnv env_;

    std::vector<std::unique_ptr<FakeClass>> classes_;
    std::map<std::string, FakeClass*> classByName_;
    std::vector<std::unique_ptr<Object>> objects_;
    std::vector<std::unique_ptr<Ref>> refs_;
    std::unordered_map<const void*, Ref*> refIndex_;
    std::unordered_set<const void*> fieldIds_;
    std::unordered_set<const void*> methodIds_;
    FakeClass* stringClass_ = nullptr;

    std::vector<Frame> frames_;
    std::vector<NativeCall> nativeCalls_;
    unsigned nativeSerial_ = 0;
    unsigned javaDepth_ = 0;
    std::size_t peakLocalRefs_ = 0;

    Object* pending_ = nullptr;
    std::string thrownClass_;
    std::string thrownMessage_;
    jthrowable thrownObject_ = nullptr;

    std::vector<Obtained> obtained_;
    std::unordered_map<const char*, std::size_t> obtainedIndex_;
    std::vector<std::size_t> releaseOrder_;
    unsigned failUtfCharsIn_ = 0;
    unsigned failNewStringIn_ = 0;
    bool strictUtf8_ = true;

    std::vector<JniCall> calls_;
    std::vector<std::string> misuses_;
};

template <typename F>
auto FakeJvm::callNative(F&& native) -> decltype(native()) {
    using R = decltype(native());
    beginNative();
    try {
        if constexpr (std::is_void_v<R>) {
            native();
            endNative();
        } else {
            R result = native();
            if constexpr (std::is_convertible_v<R, jobject>) {
                result = static_cast<R>(keepReturned(result));
            }
            endNative();
            return result;
        }
    } catch (...) {
        escapedCppException();
        throw;
    }
}

}  // namespace fakejni
