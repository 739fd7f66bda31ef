// The system tests drive the bridge's natives through the fake JNIEnv against
// the real library.  The library is initialised once per process (as the
// bridge allows), with a scratch design area that lives as long as the
// process; each test works in views of its own.
#ifndef ZEL_TESTS_SYSTEM_FIXTURE_H
#define ZEL_TESTS_SYSTEM_FIXTURE_H

#include <jni.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "COM_morvent_zel_ZelConfig.h"
#include "COM_morvent_zel_ZelPathVector.h"
#include "fake_jni_gtest.h"
#include "registry.h"
#include "test_platform.h"

namespace systest {

// The scratch area: libraries "lib" and "other" defined in its kwo.lib.
inline const std::string& scratch() {
    static const std::string root = [] {
        const std::string made = testos::scratchDirectory("zel_system_");
        std::filesystem::create_directories(made + "/libs/lib");
        std::filesystem::create_directories(made + "/libs/other");
        std::ofstream(made + "/kwo.lib") << "DEFINE lib libs/lib\nDEFINE other libs/other\n";
        return made;
    }();
    return root;
}

class ScratchEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        fakejni::FakeJvm jvm;
        jstring path = jvm.newString(scratch() + "/kwo.lib");
        jvm.callNative([&] { Java_COM_morvent_zel_ZelConfig_init(jvm.env(), nullptr, path); });
        ASSERT_TRUE(jvm.misuses().empty()) << jvm.formatMisuses();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(scratch(), ignored);
    }
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Live entries of the two registries.
inline std::size_t liveConfigs() {
    std::size_t n = 0;
    for (ConfigHandleEntry* e = configRegistry.head; e != nullptr; e = e->next) ++n;
    return n;
}
inline std::size_t livePathVectors() {
    std::size_t n = 0;
    for (PathVectorSlot* s = pathVectorRegistry.head; s != nullptr; s = s->next) ++n;
    return n;
}

class SystemTest : public fakejni::FakeJniTest {
protected:
    void TearDown() override {
        // What a test opened it closes: the registries are as the test found them.
        EXPECT_EQ(liveConfigs(), configsBefore);
        EXPECT_EQ(livePathVectors(), pathVectorsBefore);
        FakeJniTest::TearDown();
    }

    jstring str(const char* text) { return text != nullptr ? jvm.newString(text) : nullptr; }
    jstring str(const std::string& text) { return jvm.newString(text); }
    std::string text(jstring s) const { return s != nullptr ? jvm.stringValue(s) : "(null)"; }

    jobject config() { return jvm.newObject(zelConfig); }
    jobject pathVector(jint handle) {
        jobject pv = jvm.newObject(zelPathVector);
        jvm.setIntField(pv, "pathvector", handle);
        return pv;
    }
    jobject listener() { return jvm.newObject(listenerClass); }

    bool open(jobject self, const char* lib, const char* cell, const char* view, const char* mode,
              jobject relayTo = nullptr) {
        jstring l = str(lib), c = str(cell), v = str(view), m = str(mode);
        return jvm.callNative([&] {
            return Java_COM_morvent_zel_ZelConfig_open(env, self, l, c, v, m, relayTo);
        }) == JNI_TRUE;
    }
    bool close(jobject self) {
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_close(env, self); }) == JNI_TRUE;
    }
    bool save(jobject self, jobject relayTo) {
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_save(env, self, relayTo); }) == JNI_TRUE;
    }
    bool saveAs(jobject self, const char* lib, const char* cell, const char* view, jobject relayTo) {
        jstring l = str(lib), c = str(cell), v = str(view);
        return jvm.callNative([&] {
            return Java_COM_morvent_zel_ZelConfig_saveAs(env, self, l, c, v, relayTo);
        }) == JNI_TRUE;
    }
    bool isModified(jobject self) {
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_isModified(env, self); }) == JNI_TRUE;
    }
    bool replaceConstant(jobject self, const std::string& name, const std::string& value) {
        jstring n = str(name), v = str(value);
        return jvm.callNative([&] {
            return Java_COM_morvent_zel_ZelConfig_replaceConstant(env, self, n, v);
        }) == JNI_TRUE;
    }
    std::string resolve(jobject self, const std::string& textIn) {
        jstring t = str(textIn);
        return text(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_resolveConstants(env, self, t); }));
    }
    jint createPathVector(jobject self) {
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(env, self); });
    }
    void destroy(jobject pv) {
        jvm.callNative([&] { Java_COM_morvent_zel_ZelPathVector_destroy(env, pv); });
    }
    bool pushCell(jobject pv, const char* lib, const char* cell, const char* view, const char* inst) {
        jstring l = str(lib), c = str(cell), v = str(view), i = str(inst);
        return jvm.callNative([&] {
            return Java_COM_morvent_zel_ZelPathVector_pushCell(env, pv, l, c, v, i);
        }) == JNI_TRUE;
    }
    bool popCell(jobject pv) {
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelPathVector_popCell(env, pv); }) == JNI_TRUE;
    }
    jint depth(jobject pv) {
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelPathVector_getContextVectorIndex(env, pv); });
    }

    std::string configFile(const std::string& cell, const std::string& view) const {
        return scratch() + "/libs/lib/" + cell + "/" + view + "/config.zel";
    }

    std::vector<std::string> warnings;
    fakejni::FakeClass* listenerClass = [this] {
        fakejni::FakeClass* cls = jvm.defineClass("test/Listener");
        cls->addVoidMethod("processWarning", "(Ljava/lang/String;)V", [this](JNIEnv*, jobject, const jvalue* args) {
            warnings.push_back(jvm.stringValue(static_cast<jstring>(args[0].l)));
        });
        return cls;
    }();
    const std::size_t configsBefore = liveConfigs();
    const std::size_t pathVectorsBefore = livePathVectors();
};

}  // namespace systest

#endif  // ZEL_TESTS_SYSTEM_FIXTURE_H
