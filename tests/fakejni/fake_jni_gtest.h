// GoogleTest fixture for bridge tests: a FakeJvm with the bridge's Java
// classes defined, failing the test if the natives misused JNI.
#pragma once

#include "fake_jni.h"

#include <gtest/gtest.h>

namespace fakejni {

class FakeJniTest : public ::testing::Test {
protected:
    FakeJniTest() {
        zelConfig->addIntField("id");
        zelPathVector->addIntField("pathvector");
    }

    void TearDown() override {
        EXPECT_TRUE(jvm.misuses().empty()) << "JNI misuse:\n"
                                           << jvm.formatMisuses() << "JNI calls:\n"
                                           << callsForReport();
    }

    jobject newConfig(jint id) {
        jobject obj = jvm.newObject(zelConfig);
        jvm.setIntField(obj, "id", id);
        return obj;
    }

    jobject newPathVector(jint pathvector) {
        jobject obj = jvm.newObject(zelPathVector);
        jvm.setIntField(obj, "pathvector", pathvector);
        return obj;
    }

    FakeJvm jvm;
    JNIEnv* env = jvm.env();
    FakeClass* zelConfig = jvm.defineClass("COM/morvent/zel/ZelConfig");
    FakeClass* zelPathVector = jvm.defineClass("COM/morvent/zel/ZelPathVector");

private:
    std::string callsForReport() const {
        constexpr std::size_t kMax = 200;
        if (jvm.calls().size() <= kMax) return jvm.formatCalls();
        return "  (" + std::to_string(jvm.calls().size()) + " calls, not listed)\n";
    }
};

}  // namespace fakejni
