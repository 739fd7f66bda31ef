// The fixture every bridge test shares: the fake JNIEnv with the bridge's Java
// classes, the recording fake library, and the bridge's process-wide state put
// back as at load, so that no test depends on the order the tests run in or on
// a fresh process.
#ifndef ZEL_TESTS_BRIDGE_FIXTURE_H
#define ZEL_TESTS_BRIDGE_FIXTURE_H

#include <jni.h>

#include "cursors.h"
#include "fake_jni_gtest.h"
#include "fake_zel.h"
#include "init.h"
#include "registry.h"
#include "relay.h"

class BridgeTest : public fakejni::FakeJniTest {
protected:
    void SetUp() override {
        FakeJniTest::SetUp();
        resetBridge();
        fakezel::fake().reset();
    }

    void TearDown() override {
        EXPECT_TRUE(fakezel::fake().problems.empty()) << problemsForReport();
        FakeJniTest::TearDown();
        // Nothing a test registered outlives it (the slots' blocks included).
        resetBridge();
        fakezel::fake().reset();
    }

    static fakezel::FakeLibrary& lib() { return fakezel::fake(); }

    jobject newConfig(jint id = 0) { return FakeJniTest::newConfig(id); }
    jobject newPathVector(jint handle = 0) { return FakeJniTest::newPathVector(handle); }
    jstring str(const char* text) { return text != nullptr ? jvm.newString(text) : nullptr; }
    jint configId(jobject config) const { return jvm.intField(config, "id"); }
    jint pathVectorHandle(jobject pathVector) const { return jvm.intField(pathVector, "pathvector"); }

    // Register a record straight through the registry, as a successful open
    // would, and store the handle in the object.
    jint openConfig(jobject self, ConfigRecord* record) {
        jint handle = registerConfig(record);
        jvm.setIntField(self, "id", handle);
        return handle;
    }
    jint addPathVector(PathVectorRecord* record) { return registerPathVector(record); }

    fakezel::Arena arena;

private:
    static void resetBridge() {
        while (configRegistry.head != nullptr) unregisterConfig(configRegistry.head->handle);
        while (pathVectorRegistry.head != nullptr) unregisterPathVector(pathVectorRegistry.head->handle);
        configRegistry.nextHandle = 1;
        pathVectorRegistry.nextHandle = 1;
        warningRelay = WarningRelay{nullptr, nullptr, nullptr, nullptr, nullptr};
        constantCursor = ConstantCursor{nullptr, nullptr, nullptr};
        instanceCursor = InstanceCursor{nullptr, nullptr, nullptr};
        libraryInitialized = 0;
    }

    static std::string problemsForReport() {
        std::string text = "misuse of the fake library:\n";
        for (const std::string& problem : fakezel::fake().problems) text += "  " + problem + "\n";
        return text + "library calls:\n" + fakezel::fake().formatCalls();
    }
};

#endif
