// ZelConfig.init: the library-access layer initialised once per process, with
// the given library-definitions file or the one the setup-file search finds.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "COM_morvent_zel_ZelConfig.h"
#include "bridge_fixture.h"

namespace {

using fakezel::Arg;

class InitTest : public BridgeTest {
protected:
    void init(jstring path) {
        jvm.callNative([&] { Java_COM_morvent_zel_ZelConfig_init(env, zelConfig->ref(), path); });
    }

    // The library-access calls of one init, checked for what every init passes.
    void expectVariablesAndCallback() {
        const fakezel::Call* mip = lib().last("mipInitialize");
        const fakezel::Call* vek = lib().last("vekInitialize");
        ASSERT_NE(nullptr, mip);
        ASSERT_NE(nullptr, vek);
        ASSERT_EQ(1u, mip->args.size());
        ASSERT_EQ(3u, vek->args.size());
        EXPECT_NE(nullptr, mip->args[0].ptr);
        EXPECT_NE(nullptr, vek->args[2].ptr);
        EXPECT_NE(mip->args[0].ptr, vek->args[2].ptr);  // two variables
        EXPECT_EQ(reinterpret_cast<const void*>(&initCallback), vek->args[1].ptr);
        EXPECT_EQ(0, initCallback(nullptr));
    }
};

TEST_F(InitTest, WithAPathHandsItsNativeStringToVekAndReleasesIt) {
    jstring path = str("/defs/kwo.lib");
    const char* duringCall = nullptr;
    lib().hooks.mipInitialize = [&](int32_t*) {
        EXPECT_EQ(1, libraryInitialized);  // set before any library call
        return 0;
    };
    lib().hooks.vekInitialize = [&](const char* file, VekInitCallback, int32_t*) {
        duringCall = file;
        EXPECT_TRUE(jvm.isObtained(file));
        EXPECT_FALSE(jvm.isReleased(file));  // still valid while the layer reads it
        return 0;
    };
    init(path);

    EXPECT_EQ((std::vector<std::string>{"mipInitialize", "vekInitialize"}), lib().names());
    const Arg& file = lib().last("vekInitialize")->args[0];
    EXPECT_EQ(Arg::String, file.kind);
    EXPECT_EQ("/defs/kwo.lib", file.str);
    EXPECT_EQ(duringCall, file.ptr);
    EXPECT_TRUE(jvm.sameObject(path, jvm.sourceOf(duringCall)));
    EXPECT_TRUE(jvm.isReleased(duringCall));
    EXPECT_EQ(1u, jvm.callCount("GetStringUTFChars"));
    EXPECT_EQ(1u, jvm.callCount("ReleaseStringUTFChars"));
    expectVariablesAndCallback();
    EXPECT_EQ(1, libraryInitialized);
}

TEST_F(InitTest, AnEmptyPathIsPassedAsAnEmptyStringWithoutASearch) {
    init(str(""));
    EXPECT_EQ((std::vector<std::string>{"mipInitialize", "vekInitialize"}), lib().names());
    const Arg& file = lib().last("vekInitialize")->args[0];
    EXPECT_FALSE(file.isNull);
    EXPECT_EQ("", file.str);
    EXPECT_TRUE(jvm.isObtained(static_cast<const char*>(file.ptr)));
    EXPECT_EQ(0u, jvm.unreleasedStrings());
    expectVariablesAndCallback();
}

TEST_F(InitTest, WithoutAPathTheFoundDefinitionsFileIsUsed) {
    const std::string found(1023, 'x');  // the longest path the search may write
    const void* buffer = nullptr;
    lib().hooks.mipSearch = [&](int32_t, const char*, char* out, int32_t) {
        buffer = out;
        // The whole 2048-byte buffer is cleared before the search.
        bool clear = true;
        for (int i = 0; i < 2048; ++i) clear = clear && out[i] == 0;
        EXPECT_TRUE(clear);
        std::memcpy(out, found.c_str(), found.size() + 1);
        return 0;
    };
    init(nullptr);

    EXPECT_EQ((std::vector<std::string>{"mipInitialize", "mipSearch", "vekInitialize"}), lib().names());
    const fakezel::Call* search = lib().last("mipSearch");
    ASSERT_EQ(4u, search->args.size());
    EXPECT_EQ(0, search->args[0].i);
    EXPECT_EQ("kwo.lib", search->args[1].str);
    EXPECT_EQ(buffer, search->args[2].ptr);
    EXPECT_EQ(1024, search->args[3].i);
    const Arg& file = lib().last("vekInitialize")->args[0];
    EXPECT_EQ(buffer, file.ptr);
    EXPECT_EQ(found, file.str);
    EXPECT_EQ(0u, jvm.callCount("GetStringUTFChars"));
    expectVariablesAndCallback();
}

class InitNotFoundTest : public InitTest, public ::testing::WithParamInterface<int> {};

TEST_P(InitNotFoundTest, WhenTheSearchFailsVekGetsNull) {
    const int searchResult = GetParam();
    lib().hooks.mipSearch = [&](int32_t, const char*, char* out, int32_t) {
        std::strcpy(out, "/partial/path");  // whatever the search left behind
        return searchResult;
    };
    init(nullptr);
    EXPECT_EQ((std::vector<std::string>{"mipInitialize", "mipSearch", "vekInitialize"}), lib().names());
    EXPECT_TRUE(lib().last("vekInitialize")->args[0].isNull);
    expectVariablesAndCallback();
}

INSTANTIATE_TEST_SUITE_P(SearchResults, InitNotFoundTest, ::testing::Values(1, -1, 2));

// Whatever the first init did or failed to do, a second one calls nothing.
struct SecondInitCase {
    const char* name;
    const char* first;   // null: no path
    bool firstFound;     // for a first init without a path
    const char* second;
};

class SecondInitTest : public InitTest, public ::testing::WithParamInterface<SecondInitCase> {};

TEST_P(SecondInitTest, CallsNothing) {
    const SecondInitCase& c = GetParam();
    lib().hooks.mipSearch = [&](int32_t, const char*, char* out, int32_t) {
        std::strcpy(out, "/found/kwo.lib");
        return c.firstFound ? 0 : 1;
    };
    init(str(c.first));
    ASSERT_EQ(1u, lib().count("vekInitialize"));

    lib().calls.clear();
    jvm.clearCalls();
    init(str(c.second));
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
    EXPECT_TRUE(jvm.calls().empty()) << jvm.formatCalls();
    EXPECT_EQ(1, libraryInitialized);
}

INSTANTIATE_TEST_SUITE_P(
    Inits, SecondInitTest,
    ::testing::Values(SecondInitCase{"PathThenPath", "/a/kwo.lib", false, "/b/kwo.lib"},
                      SecondInitCase{"PathThenNull", "/a/kwo.lib", false, nullptr},
                      SecondInitCase{"EmptyThenPath", "", false, "/b/kwo.lib"},
                      SecondInitCase{"FoundThenNull", nullptr, true, nullptr},
                      SecondInitCase{"NotFoundThenPath", nullptr, false, "/b/kwo.lib"}),
    [](const ::testing::TestParamInfo<SecondInitCase>& p) { return p.param.name; });

TEST_F(InitTest, APathTheJvmCannotHandOutEndsTheInitForGood) {
    jvm.failStringUTFCharsAt(1);
    init(str("/defs/kwo.lib"));
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
    EXPECT_EQ(0u, lib().count("vekInitialize"));
    EXPECT_EQ(1, libraryInitialized);

    lib().calls.clear();
    init(str("/defs/kwo.lib"));
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
}

}  // namespace
