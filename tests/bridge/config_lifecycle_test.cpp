// Opening, saving and closing: the handle written into id, the relay armed
// around exactly the library call, an exception the listener raised thrown
// again only once the native's work is done, and close answering exactly.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "COM_morvent_zel_ZelConfig.h"
#include "bridge_fixture.h"

namespace {

constexpr const char* kWarningSignature = "(Ljava/lang/String;)V";

// One of the three opens, called with its Strings and a listener.
struct Opening {
    const char* name;
    const char* libFn;
    std::size_t arity;
    std::function<jboolean(JNIEnv*, jobject, const std::vector<jstring>&, jobject)> call;
    // Makes the library's open answer record (and note whether the relay was armed then).
    std::function<void(ConfigRecord*, bool*)> answer;
};

template <typename... A>
std::function<void(ConfigRecord*, bool*)> opensAs(std::function<ConfigRecord*(A...)> fakezel::Hooks::*hook) {
    return [hook](ConfigRecord* record, bool* armed) {
        fakezel::fake().hooks.*hook = [record, armed](A...) {
            *armed = warningRelay.env != nullptr;
            return record;
        };
    };
}

std::vector<Opening> openings() {
    return {
        {"open", "zelOpen", 4,
         [](JNIEnv* env, jobject self, const std::vector<jstring>& s, jobject listener) {
             return Java_COM_morvent_zel_ZelConfig_open(env, self, s[0], s[1], s[2], s[3], listener);
         },
         opensAs(&fakezel::Hooks::zelOpen)},
        {"openWithType", "zelOpenWithType", 5,
         [](JNIEnv* env, jobject self, const std::vector<jstring>& s, jobject listener) {
             return Java_COM_morvent_zel_ZelConfig_openWithType(env, self, s[0], s[1], s[2], s[3], s[4], listener);
         },
         opensAs(&fakezel::Hooks::zelOpenWithType)},
        {"openPartial", "zelOpenPartialConfig", 2,
         [](JNIEnv* env, jobject self, const std::vector<jstring>& s, jobject listener) {
             return Java_COM_morvent_zel_ZelConfig_openPartial(env, self, s[0], s[1], listener);
         },
         opensAs(&fakezel::Hooks::zelOpenPartialConfig)},
    };
}

class ConfigLifecycleTest : public BridgeTest {
protected:
    // A listener class whose processWarning keeps what it is given, and
    // throws `throws` (a class name) when that is set.
    jobject newListener() {
        if (listenerClass == nullptr) {
            listenerClass = jvm.defineClass("test/Listener");
            listenerClass->addVoidMethod("processWarning", kWarningSignature,
                                         [this](JNIEnv* e, jobject, const jvalue* args) {
                                             warnings.push_back(jvm.stringValue(static_cast<jstring>(args[0].l)));
                                             if (!throws.empty()) e->Throw(jvm.newThrowable(throws));
                                         });
        }
        return jvm.newObject(listenerClass);
    }

    std::vector<jstring> given(std::size_t arity) {
        const char* values[] = {"lib", "cell", "view", "type", "r"};
        std::vector<jstring> strings;
        for (std::size_t i = 0; i < arity; ++i) strings.push_back(str(values[i]));
        return strings;
    }

    jboolean close(jobject self) {
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_close(env, self); });
    }

    fakejni::FakeClass* listenerClass = nullptr;
    std::vector<std::string> warnings;
    std::string throws;
    bool armed = false;
};

// Each case runs for open, openWithType and openPartial.
class ConfigOpeningTest : public ConfigLifecycleTest, public ::testing::WithParamInterface<std::size_t> {
protected:
    const Opening o = openings()[GetParam()];
};

INSTANTIATE_TEST_SUITE_P(EachOpen, ConfigOpeningTest, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             return std::string(openings()[param.param].name);
                         });

TEST_P(ConfigOpeningTest, RegistersTheRecordAndWritesItsHandleIntoId) {
    ConfigRecord* first = arena.make<ConfigRecord>();
    ConfigRecord* second = arena.make<ConfigRecord>();
    jobject a = newConfig(), b = newConfig();
    std::vector<jstring> strings = given(o.arity);

    o.answer(first, &armed);
    EXPECT_EQ(jvm.callNative([&] { return o.call(env, a, strings, nullptr); }), JNI_TRUE);
    o.answer(second, &armed);
    EXPECT_EQ(jvm.callNative([&] { return o.call(env, b, strings, nullptr); }), JNI_TRUE);
    EXPECT_EQ(configId(a), 1);
    EXPECT_EQ(configId(b), 2);
    EXPECT_EQ(lookupConfig(1), first);
    EXPECT_EQ(lookupConfig(2), second);

    // id is looked up before any string is converted, never read, and
    // written once the strings are released.
    EXPECT_LT(jvm.firstCall("GetFieldID"), jvm.firstCall("GetStringUTFChars"));
    EXPECT_EQ(jvm.callCount("GetIntField"), 0u);
    EXPECT_LT(jvm.lastCall("ReleaseStringUTFChars"), jvm.lastCall("SetIntField"));
}

TEST_P(ConfigOpeningTest, FailingWritesZeroAndLeavesTheEarlierConfigurationRegistered) {
    ConfigRecord* held = arena.make<ConfigRecord>();
    jobject self = newConfig();
    jint handle = openConfig(self, held);
    std::vector<jstring> strings = given(o.arity);
    o.answer(nullptr, &armed);
    EXPECT_EQ(jvm.callNative([&] { return o.call(env, self, strings, nullptr); }), JNI_FALSE);
    EXPECT_EQ(configId(self), 0);
    EXPECT_EQ(lookupConfig(handle), held);
}

TEST_P(ConfigOpeningTest, PassesNullStringsAsNullAndReleasesOnlyTheOthersInOrder) {
    std::vector<jstring> none(o.arity, nullptr);
    std::vector<jstring> some = given(o.arity);
    some[0] = nullptr;
    some[1] = str("");
    for (const std::vector<jstring>* strings : {&none, &some}) {
        lib().calls.clear();
        std::size_t released = jvm.releasedStrings().size();
        o.answer(nullptr, &armed);
        jobject self = newConfig();
        jvm.callNative([&] { return o.call(env, self, *strings, nullptr); });
        const fakezel::Call& call = *lib().last(o.libFn);
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < o.arity; ++i) {
            jstring s = (*strings)[i];
            EXPECT_EQ(call.args[i].isNull, s == nullptr) << "String " << i;
            if (s == nullptr) continue;
            EXPECT_EQ(call.args[i].str, jvm.stringValue(s));
            expected.push_back(jvm.stringValue(s));
        }
        std::vector<std::string> all = jvm.releasedStrings();
        EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(released), all.end()),
                  expected);
    }
}

TEST_P(ConfigOpeningTest, AStringTheJvmCannotHandOutEndsTheOpenBeforeTheRelayAndTheLibrary) {
    for (unsigned failing = 1; failing <= o.arity; ++failing) {
        SCOPED_TRACE(failing);
        lib().calls.clear();
        jvm.clearCalls();
        o.answer(arena.make<ConfigRecord>(), &armed);
        jobject self = newConfig(4);
        std::vector<jstring> strings = given(o.arity);
        jobject listener = newListener();
        jvm.failStringUTFCharsAt(failing);
        EXPECT_EQ(jvm.callNative([&] { return o.call(env, self, strings, listener); }), JNI_FALSE);
        EXPECT_EQ(jvm.thrownToJava(), "java/lang/OutOfMemoryError");
        EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
        EXPECT_EQ(jvm.callCount("ReleaseStringUTFChars"), failing - 1);
        EXPECT_EQ(configId(self), 4);  // nothing may be written with the exception pending
    }
}

TEST_P(ConfigOpeningTest, TheListenerHearsTheWarningsOfTheOpenAndOfNothingElse) {
    lib().warningsDuring[o.libFn] = {"first", "second"};
    lib().warningsDuring["zelSetTopCellViewName"] = {"not relayed"};
    o.answer(arena.make<ConfigRecord>(), &armed);
    jobject self = newConfig();
    std::vector<jstring> strings = given(o.arity);
    jobject listener = newListener();
    ASSERT_TRUE(jvm.callNative([&] { return o.call(env, self, strings, listener); }));
    EXPECT_TRUE(armed);
    EXPECT_EQ(warnings, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(warningRelay.listener, nullptr);

    jvm.callNative([&] {
        return Java_COM_morvent_zel_ZelConfig_setTopCellViewName(env, self, nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(warnings.size(), 2u);
}

TEST_F(ConfigLifecycleTest, SavingRelaysAroundTheSaveAndNotWithoutAConfiguration) {
    ConfigRecord* record = arena.make<ConfigRecord>();
    jobject self = newConfig();
    openConfig(self, record);
    lib().warningsDuring["zelSave"] = {"saved with care"};
    lib().warningsDuring["zelSaveAs"] = {"saved elsewhere"};
    jobject listener = newListener();
    jstring name = str("lib");

    EXPECT_EQ(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_save(env, self, listener); }), JNI_FALSE);
    jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_saveAs(env, self, name, nullptr, nullptr, listener); });
    EXPECT_EQ(warnings, (std::vector<std::string>{"saved with care", "saved elsewhere"}));
    EXPECT_EQ(lib().last("zelSave")->args[0].ptr, record);

    // A null listener still installs the handler with the library.
    lib().calls.clear();
    jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_saveAs(env, self, name, nullptr, nullptr, nullptr); });
    EXPECT_EQ(lib().names(), (std::vector<std::string>{"zelSetErrorHandler", "zelSaveAs"}));

    lib().calls.clear();
    jobject unopened = newConfig();
    jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_save(env, unopened, listener); });
    jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_saveAs(env, unopened, name, name, name, listener); });
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
    EXPECT_EQ(warningRelay.listener, nullptr);
}

// A listener that throws, or that lacks processWarning: the exception reaches
// Java, but only after the native has released its strings and written id.
TEST_P(ConfigOpeningTest, AnExceptionFromTheListenerIsThrownOnceTheWorkIsDone) {
    throws = "java/lang/IllegalStateException";
    lib().warningsDuring[o.libFn] = {"one", "two"};
    o.answer(arena.make<ConfigRecord>(), &armed);
    jobject self = newConfig();
    std::vector<jstring> strings = given(o.arity);
    jobject listener = newListener();
    EXPECT_EQ(jvm.callNative([&] { return o.call(env, self, strings, listener); }), JNI_TRUE);
    EXPECT_EQ(jvm.thrownToJava(), "java/lang/IllegalStateException");
    EXPECT_NE(configId(self), 0);
    EXPECT_NE(lookupConfig(configId(self)), nullptr);
    EXPECT_EQ(jvm.unreleasedStrings(), 0u);
}

TEST_F(ConfigLifecycleTest, AListenerWithoutProcessWarningFailsInJavaAfterTheSave) {
    jobject self = newConfig();
    openConfig(self, arena.make<ConfigRecord>());
    lib().hooks.zelSaveAs = [](ConfigRecord*, const char*, const char*, const char*) -> ZelBool { return 1; };
    jobject noListener = jvm.newObject(jvm.defineClass("test/NotAListener"));
    jstring name = str("name");
    EXPECT_EQ(jvm.callNative([&] {
                  return Java_COM_morvent_zel_ZelConfig_saveAs(env, self, name, name, name, noListener);
              }),
              1);
    EXPECT_EQ(jvm.thrownToJava(), "java/lang/NoSuchMethodError") << jvm.formatCalls();
    EXPECT_EQ(lib().count("zelSaveAs"), 1u);
}

TEST_F(ConfigLifecycleTest, CloseAnswersExactlyAndWithdrawsTheHandleOnlyOnSuccess) {
    ConfigRecord* record = arena.make<ConfigRecord>();
    jobject self = newConfig();
    jint handle = openConfig(self, record);
    ZelBool answer = 0;
    lib().hooks.zelClose = [&answer](ConfigRecord*) { return answer; };

    // Refused: the configuration stays open and usable.
    EXPECT_EQ(close(self), JNI_FALSE);
    EXPECT_EQ(lookupConfig(handle), record);
    lib().hooks.zelConfigIsModified = [](ConfigRecord*) { return 1; };
    EXPECT_EQ(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_isModified(env, self); }), 1);

    answer = 0x80;  // any non-zero byte is success; Java gets exactly true
    EXPECT_EQ(close(self), JNI_TRUE);
    EXPECT_EQ(lookupConfig(handle), nullptr);
    EXPECT_EQ(configId(self), handle);  // id is not written
    EXPECT_EQ(jvm.callCount("SetIntField"), 0u);

    lib().calls.clear();
    EXPECT_EQ(close(self), JNI_FALSE);
    EXPECT_TRUE(lib().calls.empty());

    // A later open gets a fresh handle, never the withdrawn one.
    lib().hooks.zelOpenPartialConfig = [record](const char*, const char*) { return record; };
    jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_openPartial(env, self, nullptr, nullptr, nullptr); });
    EXPECT_EQ(configId(self), handle + 1);
}

}  // namespace
