// The warning relay: armed for exactly one library call, each warning of that
// call handed to the listener's processWarning while the call runs, and a
// listener's failure set aside and thrown again when the native returns.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bridge_fixture.h"
#include "jni_util.h"

namespace {

using fakejni::FakeClass;

const void* relayHandler() {
    return reinterpret_cast<const void*>(&relayWarning);
}

class RelayTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        config = arena.make<ConfigRecord>();
        openConfig(self, config);
        lib().hooks.zelSaveAs = [this](ConfigRecord*, const char*, const char*, const char*) -> ZelBool {
            receivedDuringCall = received;
            return 1;
        };
    }

    // A relaying native built as open and saveAs are: strings converted, the
    // relay armed around its one library call, then its own work (strings
    // released, a handle field written, here into `out`) before the scope
    // ends.  A library call before arming and one after disarming show where
    // the relay is off.
    static jboolean saveAsNative(JNIEnv* env, jobject self, jstring lib, jobject listener, jobject out) {
        WarningScope warnings(env);
        ConfigRecord* config = configFromObject(env, self);
        if (config == nullptr) return JNI_FALSE;
        NativeStrings strings(env, {lib});
        if (!strings.ok()) return JNI_FALSE;
        zelGetCellName(config);
        warnings.arm(listener);
        ZelBool saved = zelSaveAs(config, strings[0], nullptr, nullptr);
        warnings.disarm();
        zelGetLibName(config);
        strings.release();
        HandleField(env, out, kPathVectorHandleField).write(77);
        return toJavaBoolean(saved);
    }

    // Built as bind is: armed before its strings are converted, so a string
    // the JVM cannot hand out ends it while armed.
    static void bindLikeNative(JNIEnv* env, jobject listener, jstring inst) {
        WarningScope warnings(env);
        warnings.arm(listener);
        NativeStrings strings(env, {inst});
        if (!strings.ok()) return;
        zelBind3(nullptr, strings[0], nullptr, nullptr, nullptr, 0, 0, 0, nullptr, nullptr, nullptr);
        warnings.disarm();
    }

    jboolean saveAs(jobject listener) {
        jstring name = str("designs");
        return jvm.callNative([&] { return saveAsNative(env, self, name, listener, out); });
    }

    // A native that does not relay, during which the library warns.
    void plainCall() {
        lib().warningsDuring["zelSetTopCellViewName"] = {"unrelayed"};
        jvm.callNative([&] { zelSetTopCellViewName(config, "L", "C", "V"); });
    }

    jobject listener() { return jvm.newObject(listenerClass); }

    ConfigRecord* config = nullptr;
    jobject self = newConfig();
    jobject out = newPathVector();
    std::vector<std::string> received;
    std::vector<std::string> receivedDuringCall;
    std::size_t throwAt = 0;  // processWarning throws on this warning (1-based); 0: never
    FakeClass* listenerClass = [this] {
        FakeClass* cls = jvm.defineClass("test/Listener");
        cls->addVoidMethod("processWarning", "(Ljava/lang/String;)V",
                           [this](JNIEnv* e, jobject, const jvalue* args) {
                               received.push_back(jvm.stringValue(static_cast<jstring>(args[0].l)));
                               if (received.size() == throwAt)
                                   e->Throw(jvm.newThrowable("java/lang/IllegalStateException", "listener failed"));
                           });
        return cls;
    }();
};

TEST_F(RelayTest, TwoWarningsReachTheListenerInOrderWhileTheCallRuns) {
    lib().warningsDuring["zelSaveAs"] = {"first warning", "second warning"};
    lib().warningsDuring["zelGetCellName"] = {"before arming"};
    lib().warningsDuring["zelGetLibName"] = {"after disarming"};
    jobject l = listener();
    EXPECT_EQ(JNI_TRUE, saveAs(l));

    EXPECT_EQ((std::vector<std::string>{"first warning", "second warning"}), received);
    EXPECT_EQ(received, receivedDuringCall);  // before the library call returned
    EXPECT_EQ((std::vector<std::string>{"zelGetCellName", "zelSetErrorHandler", "zelSaveAs", "zelGetLibName"}),
              lib().names());
    EXPECT_EQ(relayHandler(), lib().last("zelSetErrorHandler")->args[0].ptr);
    EXPECT_EQ("designs", lib().last("zelSaveAs")->args[1].str);
    EXPECT_EQ("", jvm.thrownToJava());
    EXPECT_EQ(77, pathVectorHandle(out));

    std::vector<fakejni::JniCall> delivered = jvm.callsOf("CallVoidMethod");
    ASSERT_EQ(2u, delivered.size()) << jvm.formatCalls();
    EXPECT_EQ("processWarning", delivered[0].args[1]);
    // Disarmed: nothing of the relay is left for a later warning.
    EXPECT_EQ(nullptr, warningRelay.env);
    EXPECT_EQ(nullptr, warningRelay.listener);
    EXPECT_EQ(nullptr, warningRelay.method);
    EXPECT_EQ(nullptr, warningRelay.pending);
}

TEST_F(RelayTest, AWarningOutsideAnArmedCallReachesNobody) {
    lib().warningsDuring["zelSaveAs"] = {"relayed"};
    saveAs(listener());
    ASSERT_EQ(1u, received.size());
    ASSERT_EQ(relayHandler(), reinterpret_cast<const void*>(lib().handler));  // stays installed

    jvm.clearCalls();
    plainCall();
    lib().warn("from nowhere");  // not even within a native
    EXPECT_EQ(1u, received.size());
    EXPECT_TRUE(jvm.calls().empty()) << jvm.formatCalls();
}

TEST_F(RelayTest, ANullListenerStillInstallsTheHandlerAndDropsTheWarnings) {
    lib().warningsDuring["zelSaveAs"] = {"one", "two"};
    EXPECT_EQ(JNI_TRUE, saveAs(nullptr));

    EXPECT_EQ(1u, lib().count("zelSetErrorHandler"));
    EXPECT_EQ(relayHandler(), reinterpret_cast<const void*>(lib().handler));
    EXPECT_EQ(1u, lib().count("zelSaveAs"));
    for (const char* fn : {"GetMethodID", "NewStringUTF", "CallVoidMethod", "Throw"})
        EXPECT_EQ(0u, jvm.callCount(fn)) << fn;
    EXPECT_EQ("", jvm.thrownToJava());
    EXPECT_EQ(77, pathVectorHandle(out));
}

// A listener without processWarning(String): the failed look-up is set aside,
// the call and the native's own work go on without JNI calls under a pending
// exception, and Java sees the error when the native returns.
class RelayMuteListenerTest : public RelayTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RelayMuteListenerTest, TheLookupErrorSurfacesWhenTheNativeReturns) {
    FakeClass* cls = jvm.defineClass("test/Mute");
    if (GetParam()[0] != '\0') cls->addVoidMethod("processWarning", GetParam());
    lib().warningsDuring["zelSaveAs"] = {"one", "two"};

    EXPECT_EQ(JNI_TRUE, saveAs(jvm.newObject(cls)));

    EXPECT_EQ(1u, lib().count("zelSaveAs"));
    EXPECT_EQ(0u, jvm.callCount("CallVoidMethod"));
    EXPECT_EQ(0u, jvm.callCount("NewStringUTF"));
    EXPECT_EQ("java/lang/NoSuchMethodError", jvm.thrownToJava());
    // Thrown again only after the native's own work.
    EXPECT_EQ(77, pathVectorHandle(out));
    std::size_t thrown = jvm.lastCall("Throw");
    ASSERT_NE(fakejni::FakeJvm::npos, thrown);
    EXPECT_GT(thrown, jvm.lastCall("ReleaseStringUTFChars"));
    EXPECT_GT(thrown, jvm.lastCall("SetIntField"));
}

INSTANTIATE_TEST_SUITE_P(Listeners, RelayMuteListenerTest,
                         ::testing::Values("", "(Ljava/lang/Object;)V", "()V"));

// A listener that throws: the rest of that call's warnings are dropped and the
// exception is thrown again when the native returns.
class RelayThrowingListenerTest : public RelayTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(RelayThrowingListenerTest, TheRestIsDroppedAndTheExceptionRethrown) {
    throwAt = GetParam();
    lib().warningsDuring["zelSaveAs"] = {"w1", "w2", "w3"};

    EXPECT_EQ(JNI_TRUE, saveAs(listener()));

    EXPECT_EQ(throwAt, received.size());
    EXPECT_EQ(throwAt, jvm.callCount("CallVoidMethod"));
    EXPECT_EQ("java/lang/IllegalStateException", jvm.thrownToJava());
    EXPECT_EQ("listener failed", jvm.thrownMessage());
    EXPECT_EQ(77, pathVectorHandle(out));
    EXPECT_GT(jvm.lastCall("Throw"), jvm.lastCall("SetIntField"));

    // The next relaying call starts afresh.
    throwAt = 0;
    received.clear();
    lib().warningsDuring["zelSaveAs"] = {"w4", "w5"};
    saveAs(listener());
    EXPECT_EQ((std::vector<std::string>{"w4", "w5"}), received);
    EXPECT_EQ("", jvm.thrownToJava());
}

INSTANTIATE_TEST_SUITE_P(Warnings, RelayThrowingListenerTest, ::testing::Values(1u, 2u, 3u));

TEST_F(RelayTest, AWarningTheJvmCannotMakeAStringOfIsSetAsideLikeAFailure) {
    lib().warningsDuring["zelSaveAs"] = {"w1", "w2"};
    jvm.failNewStringUTFAt(1);
    saveAs(listener());
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(0u, jvm.callCount("CallVoidMethod"));
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
    EXPECT_EQ(77, pathVectorHandle(out));
}

TEST_F(RelayTest, EachWarningStringIsDeletedSoThousandsFitInOneCall) {
    std::vector<std::string> texts;
    for (int i = 0; i < 1000; ++i) texts.push_back("warning " + std::to_string(i));
    lib().warningsDuring["zelSaveAs"] = texts;

    saveAs(listener());

    EXPECT_EQ(texts, received);
    std::size_t warningStringsDeleted = 0;
    for (const fakejni::JniCall& call : jvm.callsOf("DeleteLocalRef"))
        warningStringsDeleted += !call.args.empty() && call.args[0].rfind("\"warning ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(1000u, warningStringsDeleted);
    EXPECT_LT(jvm.peakLocalRefs(), fakejni::FakeJvm::kDefaultLocalCapacity);
}

TEST_F(RelayTest, ANativeEndingWhileArmedLeavesNothingArmed) {
    jvm.failStringUTFCharsAt(1);
    jobject l = listener();
    jstring inst = str("I1");
    jvm.callNative([&] { bindLikeNative(env, l, inst); });
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
    EXPECT_EQ(0u, lib().count("zelBind3"));

    // The listener and env of that call are gone: a later warning must not use them.
    EXPECT_EQ(nullptr, warningRelay.listener);
    jvm.clearCalls();
    plainCall();
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(jvm.calls().empty()) << jvm.formatCalls();
}

TEST_F(RelayTest, AnExceptionOfTheNativesOwnIsNotThrownOver) {
    // The look-up failure is set aside, then the native fails on its own with
    // the JVM's error pending: JNI allows no Throw then.
    FakeClass* cls = jvm.defineClass("test/Mute");
    jvm.failStringUTFCharsAt(1);
    jobject mute = jvm.newObject(cls);
    jstring inst = str("I1");
    jvm.callNative([&] { bindLikeNative(env, mute, inst); });
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
    EXPECT_EQ(nullptr, warningRelay.pending);
}

}  // namespace
