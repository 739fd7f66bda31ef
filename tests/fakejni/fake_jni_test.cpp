// Self-test of the fake JNIEnv: each misuse a bridge can commit must be
// reported, and a correct native must pass clean.
#include "fake_jni_gtest.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define SELFTEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SELFTEST_ASAN 1
#endif
#endif
#ifdef SELFTEST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace fakejni {
namespace {

const char* const kWarningSig = "(Ljava/lang/String;)V";

std::vector<std::string> functionsOf(const std::vector<JniCall>& calls) {
    std::vector<std::string> names;
    for (const auto& c : calls) names.push_back(c.function);
    return names;
}

// Written like a bridge native: reads a field, copies two strings, relays a
// warning to the Java listener and cleans up everything it created.
void relayNative(JNIEnv* env, jobject self, jstring first, jstring second) {
    jclass cls = env->GetObjectClass(self);
    jfieldID idField = env->GetFieldID(cls, "id", "I");
    if (idField == nullptr) {
        env->DeleteLocalRef(cls);
        return;
    }
    jint id = env->GetIntField(self, idField);
    const char* a = env->GetStringUTFChars(first, nullptr);
    if (a == nullptr) {
        env->DeleteLocalRef(cls);
        return;
    }
    const char* b = env->GetStringUTFChars(second, nullptr);
    if (b == nullptr) {
        env->ReleaseStringUTFChars(first, a);
        env->DeleteLocalRef(cls);
        return;
    }
    std::string text = std::to_string(id) + ":" + a + "+" + b;
    env->ReleaseStringUTFChars(first, a);
    env->ReleaseStringUTFChars(second, b);
    env->SetIntField(self, idField, id + 1);
    jmethodID warn = env->GetMethodID(cls, "processWarning", kWarningSig);
    if (warn != nullptr) {
        jstring msg = env->NewStringUTF(text.c_str());
        if (msg != nullptr) {
            env->CallVoidMethod(self, warn, msg);
            env->DeleteLocalRef(msg);
        }
    }
    env->DeleteLocalRef(cls);
}

class FakeJvmTest : public FakeJniTest {
protected:
    FakeJvmTest() {
        zelConfig->addVoidMethod("processWarning", kWarningSig,
                                 [this](JNIEnv*, jobject, const jvalue* args) {
                                     warnings.push_back(jvm.stringValue(static_cast<jstring>(args[0].l)));
                                 });
    }
    std::vector<std::string> warnings;
};

TEST_F(FakeJvmTest, CorrectNativeIsCleanAndFullyRecorded) {
    jobject config = newConfig(41);
    jstring first = jvm.newString("alpha");
    jstring second = jvm.newString("beta");

    jvm.callNative([&] { relayNative(env, config, first, second); });

    EXPECT_EQ(warnings, std::vector<std::string>{"41:alpha+beta"});
    EXPECT_EQ(jvm.intField(config, "id"), 42);
    EXPECT_EQ(functionsOf(jvm.calls()),
              (std::vector<std::string>{"GetObjectClass", "GetFieldID", "GetIntField", "GetStringUTFChars",
                                        "GetStringUTFChars", "ReleaseStringUTFChars", "ReleaseStringUTFChars",
                                        "SetIntField", "GetMethodID", "NewStringUTF", "CallVoidMethod",
                                        "DeleteLocalRef", "DeleteLocalRef"}));
    const auto& calls = jvm.calls();
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"COM/morvent/zel/ZelConfig", "id", "I"}));
    EXPECT_EQ(calls[2].result, "41");
    EXPECT_EQ(calls[5].args, (std::vector<std::string>{"alpha", "#1"}));
    EXPECT_EQ(calls[7].args[2], "42");
    EXPECT_EQ(calls[8].args, (std::vector<std::string>{"COM/morvent/zel/ZelConfig", "processWarning", kWarningSig}));
    EXPECT_EQ(calls[10].args.back(), "41:alpha+beta");
    EXPECT_EQ(jvm.releasedStrings(), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_LT(jvm.lastCall("ReleaseStringUTFChars"), jvm.firstCall("GetMethodID"));
    EXPECT_EQ(jvm.callCount("NewStringUTF"), 1u);
    EXPECT_EQ(jvm.firstCall("FindClass"), FakeJvm::npos);
    EXPECT_EQ(jvm.thrownToJava(), "");
    EXPECT_EQ(jvm.peakLocalRefs(), 2u);  // the class and the message
    EXPECT_EQ(jvm.unreleasedStrings(), 0u);
}

// ---- misuse detection, one fresh JVM per case

struct Scene {
    FakeJvm jvm;
    JNIEnv* env = jvm.env();
    FakeClass* configClass = jvm.defineClass("COM/morvent/zel/ZelConfig");
    FakeClass* pathClass = jvm.defineClass("COM/morvent/zel/ZelPathVector");
    jobject config;
    jobject path;
    jstring text;

    Scene() {
        configClass->addIntField("id").addVoidMethod("processWarning", kWarningSig);
        pathClass->addIntField("pathvector");
        config = jvm.newObject(configClass);
        path = jvm.newObject(pathClass);
        text = jvm.newString("hello");
    }
    jmethodID warnMethod() { return env->GetMethodID(configClass->ref(), "processWarning", kWarningSig); }
};

struct MisuseCase {
    const char* name;
    std::function<void(Scene&)> native;
    const char* expected;  // fragment of the one misuse expected
    const char* thrown;    // what Java sees afterwards
};

TEST(FakeJvmMisuse, EachFaultIsReportedOnce) {
    const MisuseCase cases[] = {
        {"string left unreleased", [](Scene& s) { s.env->GetStringUTFChars(s.text, nullptr); },
         "string obtained and not released: \"hello\" (#1)", ""},
        {"GetIntField with exception pending",
         [](Scene& s) {
             jfieldID id = s.env->GetFieldID(s.configClass->ref(), "id", "I");
             s.env->Throw(s.jvm.newThrowable("java/lang/RuntimeException"));
             s.env->GetIntField(s.config, id);
         },
         "GetIntField: called with an exception pending (java/lang/RuntimeException)", "java/lang/RuntimeException"},
        {"double release",
         [](Scene& s) {
             const char* p = s.env->GetStringUTFChars(s.text, nullptr);
             s.env->ReleaseStringUTFChars(s.text, p);
             s.env->ReleaseStringUTFChars(s.text, p);
         },
         "released twice: \"hello\" (#1)", ""},
        {"release with another string",
         [](Scene& s) {
             jstring other = s.jvm.newString("other");
             const char* p = s.env->GetStringUTFChars(s.text, nullptr);
             s.env->ReleaseStringUTFChars(other, p);
         },
         "\"hello\" (#1) released with another string (\"other\")", ""},
        {"release of a pointer never obtained",
         [](Scene& s) { s.env->ReleaseStringUTFChars(s.text, "hello"); },
         "pointer was not obtained from GetStringUTFChars", ""},
        {"GetFieldID with a wrong signature",
         [](Scene& s) { s.env->GetFieldID(s.configClass->ref(), "id", "J"); },
         "GetFieldID: no field COM/morvent/zel/ZelConfig.id with signature J", "java/lang/NoSuchFieldError"},
        {"GetFieldID with a wrong name",
         [](Scene& s) { s.env->GetFieldID(s.configClass->ref(), "ident", "I"); },
         "no field COM/morvent/zel/ZelConfig.ident", "java/lang/NoSuchFieldError"},
        {"field ID used on an object of another class",
         [](Scene& s) {
             jfieldID pv = s.env->GetFieldID(s.pathClass->ref(), "pathvector", "I");
             s.env->GetIntField(s.config, pv);
         },
         "field COM/morvent/zel/ZelPathVector.pathvector used on ZelConfig#", ""},
        {"17 live local refs",
         [](Scene& s) {
             for (int i = 0; i < 17; ++i) s.env->NewStringUTF("x");
         },
         "NewStringUTF: local reference overflow: 17 live local refs in a frame with capacity 16", ""},
        {"local ref deleted twice",
         [](Scene& s) {
             jclass c = s.env->GetObjectClass(s.config);
             s.env->DeleteLocalRef(c);
             s.env->DeleteLocalRef(c);
         },
         "DeleteLocalRef: reference is not live", ""},
        {"local ref used after delete",
         [](Scene& s) {
             jstring str = s.env->NewStringUTF("x");
             s.env->DeleteLocalRef(str);
             s.env->GetStringUTFLength(str);
         },
         "GetStringUTFLength: string is a deleted local reference", ""},
        {"deleted local ref passed to a Java method",
         [](Scene& s) {
             jmethodID warn = s.warnMethod();
             jstring str = s.env->NewStringUTF("x");
             s.env->DeleteLocalRef(str);
             s.env->CallVoidMethod(s.config, warn, str);
         },
         "CallVoidMethod: argument 1 is a deleted local reference", ""},
        {"method called on an object of another class",
         [](Scene& s) { s.env->CallVoidMethod(s.path, s.warnMethod(), s.text); },
         "method COM/morvent/zel/ZelConfig.processWarning called on ZelPathVector#", ""},
        {"local frame pushed and not popped", [](Scene& s) { s.env->PushLocalFrame(4); },
         "1 local frame(s) pushed and not popped", ""},
        {"PopLocalFrame without PushLocalFrame", [](Scene& s) { s.env->PopLocalFrame(nullptr); },
         "PopLocalFrame: no frame pushed", ""},
        {"NewStringUTF with a 4-byte UTF-8 sequence", [](Scene& s) { s.env->NewStringUTF("a\xF0\x9F\x98\x80"); },
         "not modified UTF-8 (byte 0xf0 at offset 1)", ""},
        {"Throw of a non-throwable", [](Scene& s) { s.env->Throw(static_cast<jthrowable>(s.config)); },
         "Throw: ZelConfig#", ""},
        {"unimplemented function", [](Scene& s) { s.env->FindClass("java/lang/String"); },
         "unexpected JNI function FindClass", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        s.jvm.callNative([&] { c.native(s); });
        ASSERT_EQ(s.jvm.misuses().size(), 1u) << s.jvm.formatMisuses();
        EXPECT_NE(s.jvm.misuses()[0].find(c.expected), std::string::npos) << s.jvm.misuses()[0];
        EXPECT_EQ(s.jvm.thrownToJava(), c.thrown);
    }
}

TEST(FakeJvmMisuse, CallOutsideCallNativeIsReported) {
    FakeJvm jvm;
    jvm.env()->ExceptionCheck();
    EXPECT_EQ(jvm.misuses(), std::vector<std::string>{"ExceptionCheck: called outside callNative"});
}

TEST(FakeJvmMisuse, ReturningADeletedLocalRefIsReported) {
    FakeJvm jvm;
    JNIEnv* env = jvm.env();
    jstring back = jvm.callNative([&] {
        jstring s = env->NewStringUTF("gone");
        env->DeleteLocalRef(s);
        return s;
    });
    ASSERT_EQ(jvm.misuses().size(), 1u);
    EXPECT_NE(jvm.misuses()[0].find("native returned a deleted local reference"), std::string::npos);
    EXPECT_EQ(jvm.stringValue(back), "gone");
}

TEST(FakeJvmMisuse, ExceptionsPendingAllowOnlyCleanupCalls) {
    FakeJvm jvm;
    JNIEnv* env = jvm.env();
    jstring text = jvm.newString("t");
    jvm.callNative([&] {
        const char* p = env->GetStringUTFChars(text, nullptr);
        jclass cls = env->GetObjectClass(text);
        env->PushLocalFrame(2);
        env->Throw(jvm.newThrowable("java/lang/RuntimeException"));
        // all allowed with the exception pending
        env->ExceptionCheck();
        env->DeleteLocalRef(env->ExceptionOccurred());
        env->ReleaseStringUTFChars(text, p);
        env->PopLocalFrame(nullptr);
        env->DeleteLocalRef(cls);
        // not allowed
        env->NewStringUTF("late");
        env->ExceptionDescribe();
    });
    EXPECT_EQ(jvm.misuses(), (std::vector<std::string>{
                                 "NewStringUTF: called with an exception pending (java/lang/RuntimeException)",
                                 "unexpected JNI function ExceptionDescribe"}));
}

// ---- fault injection

struct FaultCase {
    const char* function;
    std::function<void(FakeJvm&, unsigned)> arm;
    std::function<bool(FakeJvm&, jstring)> attempt;  // false: got NULL
};

TEST(FakeJvmFaults, NthCallFailsOnceWithOutOfMemoryError) {
    const FaultCase cases[] = {
        {"GetStringUTFChars", [](FakeJvm& jvm, unsigned n) { jvm.failStringUTFCharsAt(n); },
         [](FakeJvm& jvm, jstring s) {
             const char* p = jvm.env()->GetStringUTFChars(s, nullptr);
             if (p == nullptr) return false;
             jvm.env()->ReleaseStringUTFChars(s, p);
             return true;
         }},
        {"NewStringUTF", [](FakeJvm& jvm, unsigned n) { jvm.failNewStringUTFAt(n); },
         [](FakeJvm& jvm, jstring) {
             jstring s = jvm.env()->NewStringUTF("n");
             if (s == nullptr) return false;
             jvm.env()->DeleteLocalRef(s);
             return true;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        FakeJvm jvm;
        jstring text = jvm.newString("s");
        // Returns the attempt that failed (1-based), 0 if all three succeeded.
        auto run = [&] {
            return jvm.callNative([&] {
                for (int i = 1; i <= 3; ++i)
                    if (!c.attempt(jvm, text)) return i;
                return 0;
            });
        };
        EXPECT_EQ(run(), 0);
        c.arm(jvm, 2);  // counts from here, not from the JVM's creation
        EXPECT_EQ(run(), 2);
        EXPECT_EQ(jvm.thrownToJava(), "java/lang/OutOfMemoryError");
        EXPECT_EQ(jvm.calls()[jvm.lastCall(c.function)].result, "null (injected OutOfMemoryError)");
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(jvm.thrownToJava(), "");
        EXPECT_EQ(jvm.callCount(c.function), 3u + 2u + 3u);
        EXPECT_TRUE(jvm.misuses().empty()) << jvm.formatMisuses();
    }
}

// ---- exceptions

TEST_F(FakeJvmTest, ListenerThrowLeavesExceptionPending) {
    jthrowable boom = jvm.newThrowable("java/lang/IllegalStateException", "boom");
    zelConfig->addVoidMethod("processError", kWarningSig, [&](JNIEnv* e, jobject, const jvalue* args) {
        warnings.push_back(jvm.stringValue(static_cast<jstring>(args[0].l)));
        e->Throw(boom);
    });
    jobject config = newConfig(1);
    bool sawException = false;
    jvm.callNative([&] {
        jclass cls = env->GetObjectClass(config);
        jmethodID m = env->GetMethodID(cls, "processError", kWarningSig);
        jstring msg = env->NewStringUTF("disk full");
        env->CallVoidMethod(config, m, msg);
        sawException = env->ExceptionCheck();
        env->DeleteLocalRef(msg);
        env->DeleteLocalRef(cls);
    });
    EXPECT_TRUE(sawException);
    EXPECT_EQ(warnings, std::vector<std::string>{"disk full"});
    EXPECT_EQ(jvm.thrownToJava(), "java/lang/IllegalStateException");
    EXPECT_EQ(jvm.thrownMessage(), "boom");
    EXPECT_TRUE(jvm.sameObject(jvm.thrownObject(), boom));
    EXPECT_EQ(jvm.callCount("Throw"), 0u);  // the listener's own JNI use is Java's, not the native's
}

struct ThrowCase {
    const char* name;
    std::function<void(JNIEnv*, FakeJvm&, jclass)> native;
    const char* thrown;
};

TEST_F(FakeJvmTest, ThrownToJavaReflectsTheEndOfEachCall) {
    const ThrowCase cases[] = {
        {"throws and returns",
         [](JNIEnv* e, FakeJvm& vm, jclass) { e->Throw(vm.newThrowable("java/lang/RuntimeException")); },
         "java/lang/RuntimeException"},
        {"throws and clears",
         [](JNIEnv* e, FakeJvm& vm, jclass) {
             e->Throw(vm.newThrowable("java/lang/RuntimeException"));
             e->ExceptionClear();
         },
         ""},
        {"missing method", [](JNIEnv* e, FakeJvm&, jclass c) { e->GetMethodID(c, "nope", "()V"); },
         "java/lang/NoSuchMethodError"},
        {"does nothing", [](JNIEnv*, FakeJvm&, jclass) {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        jvm.callNative([&] { env->Throw(jvm.newThrowable("java/lang/Error")); });
        ASSERT_EQ(jvm.thrownToJava(), "java/lang/Error");
        jvm.callNative([&] { c.native(env, jvm, zelConfig->ref()); });
        EXPECT_EQ(jvm.thrownToJava(), c.thrown);
        EXPECT_EQ(jvm.pendingException(), "");
    }
}

TEST_F(FakeJvmTest, ExceptionOccurredReturnsTheSameThrowable) {
    jthrowable t = jvm.newThrowable("java/lang/RuntimeException");
    bool same = false;
    jvm.callNative([&] {
        env->Throw(t);
        jthrowable got = env->ExceptionOccurred();
        env->ExceptionClear();
        same = env->IsSameObject(got, t) && got != t;
        env->Throw(got);  // rethrow what was caught
        env->DeleteLocalRef(got);
    });
    EXPECT_TRUE(same);
    EXPECT_TRUE(jvm.sameObject(jvm.thrownObject(), t));
}

// ---- strings

TEST_F(FakeJvmTest, NativeStringsAreTrackedCopies) {
    jstring text = jvm.newString("abc");
    jstring other = jvm.newString("xyz");
    const char* p1 = nullptr;
    const char* p2 = nullptr;
    const char* p3 = nullptr;
    jboolean isCopy = JNI_FALSE;
    jvm.callNative([&] {
        p1 = env->GetStringUTFChars(text, &isCopy);
        p2 = env->GetStringUTFChars(text, nullptr);
        p3 = env->GetStringUTFChars(other, nullptr);
        EXPECT_STREQ(p1, "abc");
        EXPECT_STREQ(p3, "xyz");
        env->ReleaseStringUTFChars(other, p3);
        env->ReleaseStringUTFChars(text, p2);
        env->ReleaseStringUTFChars(text, p1);
    });
    EXPECT_EQ(isCopy, JNI_TRUE);
    EXPECT_NE(p1, p2);
    EXPECT_EQ(jvm.sourceOf(p1), text);
    EXPECT_EQ(jvm.sourceOf(p3), other);
    EXPECT_TRUE(jvm.isObtained(p2));
    EXPECT_FALSE(jvm.isObtained("abc"));
    EXPECT_EQ(jvm.sourceOf("abc"), nullptr);
    EXPECT_TRUE(jvm.isReleased(p1));
    EXPECT_EQ(jvm.releasedStrings(), (std::vector<std::string>{"xyz", "abc", "abc"}));
#ifdef SELFTEST_ASAN
    EXPECT_TRUE(__asan_address_is_poisoned(p1));
#else
    EXPECT_EQ(std::string(p1), "\xDD\xDD\xDD");  // poisoned so a late use shows
#endif
}

TEST_F(FakeJvmTest, StringLengthsFollowModifiedUtf8) {
    // 'a', U+00E9, U+0000 as C0 80, U+1F600 as a surrogate pair of 3-byte forms
    const std::string mutf8 = "a\xC3\xA9\xC0\x80\xED\xA0\xBD\xED\xB8\x80";
    jstring s = jvm.newString(mutf8);
    jsize utf = 0, units = 0;
    std::string roundTrip;
    jvm.callNative([&] {
        utf = env->GetStringUTFLength(s);
        units = env->GetStringLength(s);
        jstring copy = env->NewStringUTF(mutf8.c_str());
        roundTrip = jvm.stringValue(copy);
        env->DeleteLocalRef(copy);
    });
    EXPECT_EQ(utf, 11);
    EXPECT_EQ(units, 5);
    EXPECT_EQ(roundTrip, mutf8);
}

// ---- local references

TEST_F(FakeJvmTest, LocalRefsAreCountedPerNativeCall) {
    jstring arg = jvm.newString("arg");
    std::vector<std::size_t> live;
    jvm.callNative([&] {
        live.push_back(jvm.liveLocalRefs());
        jstring a = env->NewStringUTF("a");
        jstring b = env->NewStringUTF("b");
        env->NewStringUTF("c");
        live.push_back(jvm.liveLocalRefs());
        env->DeleteLocalRef(a);
        env->DeleteLocalRef(b);
        env->DeleteLocalRef(arg);  // arguments are local refs too
        live.push_back(jvm.liveLocalRefs());
    });
    EXPECT_EQ(live, (std::vector<std::size_t>{0, 3, 1}));
    EXPECT_EQ(jvm.peakLocalRefs(), 3u);
    EXPECT_EQ(jvm.liveLocalRefs(), 0u);
    EXPECT_EQ(jvm.stringValue(arg), "arg");  // the next call gets it again
    jvm.callNative([&] { env->GetStringUTFLength(arg); });
}

TEST_F(FakeJvmTest, CapacityCanBeRaised) {
    jvm.callNative([&] {
        env->EnsureLocalCapacity(24);
        for (int i = 0; i < 24; ++i) env->NewStringUTF("x");
    });
    EXPECT_EQ(jvm.peakLocalRefs(), 24u);
    jstring kept = nullptr;
    jstring dropped = nullptr;
    jvm.callNative([&] {
        env->PushLocalFrame(30);
        for (int i = 0; i < 30; ++i) dropped = env->NewStringUTF("inner");
        kept = static_cast<jstring>(env->PopLocalFrame(dropped));
        EXPECT_EQ(env->GetStringUTFLength(kept), 5);
        EXPECT_EQ(jvm.liveLocalRefs(), 1u);
        env->GetStringUTFLength(dropped);
    });
    EXPECT_TRUE(jvm.takeMisuse("GetStringUTFLength: string is a deleted local reference"));
}

// ---- method calls

struct CallForm {
    const char* name;
    std::function<void(JNIEnv*, jobject, jmethodID, jstring)> call;
};

TEST_F(FakeJvmTest, AllCallVoidMethodFormsPassArguments) {
    const char* sig = "(IJZLjava/lang/String;)V";
    struct Seen {
        jint i;
        jlong j;
        jboolean z;
        std::string s;
    } seen{};
    zelConfig->addVoidMethod("report", sig, [&](JNIEnv*, jobject, const jvalue* a) {
        seen = Seen{a[0].i, a[1].j, a[2].z, jvm.stringValue(static_cast<jstring>(a[3].l))};
    });
    const jlong big = jlong(1) << 40;
    const CallForm forms[] = {
        {"variadic entry", [&](JNIEnv* e, jobject o, jmethodID m,
                               jstring s) { e->functions->CallVoidMethod(e, o, m, jint(7), big, jboolean(1), s); }},
        {"C++ wrapper (V entry)", [&](JNIEnv* e, jobject o, jmethodID m,
                                      jstring s) { e->CallVoidMethod(o, m, jint(7), big, jboolean(1), s); }},
        {"jvalue array", [&](JNIEnv* e, jobject o, jmethodID m, jstring s) {
             jvalue args[4];
             args[0].i = 7;
             args[1].j = big;
             args[2].z = JNI_TRUE;
             args[3].l = s;
             e->CallVoidMethodA(o, m, args);
         }},
    };
    jobject config = newConfig(0);
    jstring text = jvm.newString("s");
    for (const auto& f : forms) {
        SCOPED_TRACE(f.name);
        seen = Seen{};
        jvm.clearCalls();
        jvm.callNative([&] {
            jmethodID m = env->GetMethodID(zelConfig->ref(), "report", sig);
            f.call(env, config, m, text);
        });
        EXPECT_EQ(seen.i, 7);
        EXPECT_EQ(seen.j, big);
        EXPECT_EQ(seen.z, JNI_TRUE);
        EXPECT_EQ(seen.s, "s");
        ASSERT_EQ(jvm.callCount("CallVoidMethod"), 1u);
        const auto args = jvm.callsOf("CallVoidMethod")[0].args;
        EXPECT_EQ(args, (std::vector<std::string>{jvm.describe(config), "report", sig, "7", "1099511627776",
                                                  "true", "s"}));
    }
}

// ---- table and isolation

TEST(FakeJvmTable, EveryEntryIsSetAndUnknownOnesAreReported) {
    FakeJvm jvm;
    const JNINativeInterface_* table = jvm.env()->functions;
    constexpr std::size_t slots = sizeof(JNINativeInterface_) / sizeof(void*);
    for (std::size_t i = 4; i < slots; ++i) {  // after the reserved slots
        void* entry = nullptr;
        std::memcpy(&entry, reinterpret_cast<const char*>(table) + i * sizeof(void*), sizeof entry);
        EXPECT_NE(entry, nullptr) << "slot " << i;
    }
    const std::pair<const char*, std::function<void(JNIEnv*)>> unknown[] = {
        {"GetVersion", [](JNIEnv* e) { e->GetVersion(); }},
        {"CallIntMethod", [](JNIEnv* e) { e->functions->CallIntMethod(e, nullptr, nullptr, 1, 2); }},
        {"GetArrayLength", [](JNIEnv* e) { e->GetArrayLength(nullptr); }},
        {"GetModule", [](JNIEnv* e) { e->GetModule(nullptr); }},
    };
    for (const auto& entry : unknown) {
        const std::string name = entry.first;
        const auto& call = entry.second;
        SCOPED_TRACE(name);
        jvm.clearCalls();
        jvm.takeMisuses();
        jvm.callNative([&] { call(jvm.env()); });
        EXPECT_EQ(jvm.misuses(), std::vector<std::string>{"unexpected JNI function " + name});
        ASSERT_EQ(jvm.calls().size(), 1u);
        EXPECT_EQ(jvm.calls()[0].function, name);
    }
}

TEST(FakeJvmIsolation, InstancesDoNotShareState) {
    FakeJvm a, b;
    for (FakeJvm* jvm : {&a, &b}) jvm->defineClass("COM/morvent/zel/ZelConfig")->addIntField("id");
    jobject inB = b.newObject(b.findClass("COM/morvent/zel/ZelConfig"));
    jfieldID fromA = nullptr;
    a.callNative([&] { fromA = a.env()->GetFieldID(a.findClass("COM/morvent/zel/ZelConfig")->ref(), "id", "I"); });
    b.callNative([&] { b.env()->GetIntField(inB, fromA); });
    EXPECT_TRUE(a.misuses().empty()) << a.formatMisuses();
    EXPECT_EQ(b.misuses(), std::vector<std::string>{"GetIntField: invalid field ID"});
    EXPECT_EQ(functionsOf(a.calls()), std::vector<std::string>{"GetFieldID"});
    EXPECT_EQ(functionsOf(b.calls()), std::vector<std::string>{"GetIntField"});
}

TEST_F(FakeJvmTest, StaticNativeGetsClassAndReturnsString) {
    auto native = [](JNIEnv* e, jclass cls) -> jstring {
        return e->GetFieldID(cls, "id", "I") ? e->NewStringUTF("ok") : nullptr;
    };
    jstring r = jvm.callNative([&] { return native(env, zelConfig->ref()); });
    EXPECT_EQ(jvm.stringValue(r), "ok");  // still valid after the native's frame is gone
}

}  // namespace
}  // namespace fakejni
