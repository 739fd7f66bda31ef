// The recording fake itself: what the bridge tests read back must be what the
// bridge passed, and what they script must be what the bridge gets.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_zel.h"

namespace {

using fakezel::Arg;
using fakezel::fake;

std::vector<std::string> heard;
void hear(int severity, const char* text) {
    heard.push_back(std::to_string(severity) + ":" + text);
}

class FakeZelTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake().reset();
        heard.clear();
    }
    void TearDown() override {
        fake().reset();
    }
    fakezel::Arena arena;
};

TEST_F(FakeZelTest, ArgumentsAreRecordedByKindPointerAndValue) {
    const char empty[] = "";
    const char lib[] = "designs";
    BindingRecord binding{};
    ResolvedLists* lists = nullptr;
    BindInfo* info = nullptr;
    PathVectorRecord* pv = arena.pathVector(nullptr, {});
    zelBind3(pv, lib, nullptr, empty, "V", 0, 1, 255, &binding, &lists, &info);

    ASSERT_EQ(1u, fake().count("zelBind3"));
    const std::vector<Arg>& a = fake().last("zelBind3")->args;
    ASSERT_EQ(11u, a.size());
    EXPECT_EQ(Arg::Pointer, a[0].kind);
    EXPECT_EQ(pv, a[0].ptr);
    EXPECT_EQ(Arg::String, a[1].kind);
    EXPECT_EQ(lib, a[1].ptr);
    EXPECT_EQ("designs", a[1].str);
    EXPECT_TRUE(a[2].isNull);
    EXPECT_EQ(nullptr, a[2].ptr);
    EXPECT_FALSE(a[3].isNull);  // "" is not null
    EXPECT_EQ(empty, a[3].ptr);
    EXPECT_EQ("", a[3].str);
    EXPECT_EQ(Arg::Int, a[5].kind);
    EXPECT_EQ(0, a[5].i);
    EXPECT_EQ(1, a[6].i);
    EXPECT_EQ(255, a[7].i);  // the whole byte
    EXPECT_EQ(&binding, a[8].ptr);
    EXPECT_EQ(&lists, a[9].ptr);
    EXPECT_EQ(&info, a[10].ptr);

    // Output buffers are recorded by address only: their bytes are not input.
    char buffer[8];
    mipSearch(3, "kwo.lib", buffer, 8);
    const std::vector<Arg>& s = fake().last("mipSearch")->args;
    EXPECT_EQ(Arg::Int, s[0].kind);
    EXPECT_EQ(3, s[0].i);
    EXPECT_EQ(Arg::Pointer, s[2].kind);
    EXPECT_EQ(buffer, s[2].ptr);
    EXPECT_EQ(8, s[3].i);
}

TEST_F(FakeZelTest, HooksSupplyResultsAndCallsKeepTheirOrder) {
    ConfigRecord* config = arena.make<ConfigRecord>();
    EXPECT_EQ(nullptr, zelOpen("L", "C", "V", "r"));
    EXPECT_EQ(nullptr, zelGetTopLibName(config));
    EXPECT_EQ(0, zelGetRevision(config));

    fake().hooks.zelOpen = [&](const char*, const char*, const char*, const char* mode) {
        return std::string(mode) == "w" ? config : nullptr;
    };
    fake().hooks.zelGetRevision = [](ConfigRecord*) { return 41; };
    EXPECT_EQ(config, zelOpen("L", "C", "V", "w"));
    EXPECT_EQ(41, zelGetRevision(config));
    EXPECT_EQ((std::vector<std::string>{"zelOpen", "zelGetTopLibName", "zelGetRevision", "zelOpen",
                                        "zelGetRevision"}),
              fake().names());
    EXPECT_EQ("w", fake().last("zelOpen")->args[3].str);
    EXPECT_EQ(nullptr, fake().last("zelClose"));
}

TEST_F(FakeZelTest, ScriptedWarningsGoThroughTheInstalledHandlerBeforeTheHookRuns) {
    fake().warningsDuring["zelSave"] = {"first", "second"};
    zelSave(nullptr);  // no handler yet: nobody hears
    EXPECT_TRUE(heard.empty());

    zelSetErrorHandler(hear);
    EXPECT_EQ(reinterpret_cast<const void*>(&hear), fake().last("zelSetErrorHandler")->args[0].ptr);
    std::vector<std::string> heardByHook;
    fake().hooks.zelSave = [&](ConfigRecord*) -> ZelBool {
        heardByHook = heard;
        fake().warn("third");
        return 1;
    };
    fake().warningSeverity = 2;
    EXPECT_EQ(1, zelSave(nullptr));
    EXPECT_EQ((std::vector<std::string>{"2:first", "2:second"}), heardByHook);
    EXPECT_EQ((std::vector<std::string>{"2:first", "2:second", "2:third"}), heard);
    zelClose(nullptr);  // nothing scripted for it
    EXPECT_EQ(3u, heard.size());
}

TEST_F(FakeZelTest, CopiesAreRealAndTheirReturnIsChecked) {
    char* a = kwoCopyString("lib1 lib2");
    char* b = kwoCopyString("");
    EXPECT_EQ(nullptr, kwoCopyString(nullptr));
    ASSERT_NE(nullptr, a);
    EXPECT_STREQ("lib1 lib2", a);
    EXPECT_STREQ("", b);
    EXPECT_EQ(2, fake().copiesMade);
    EXPECT_EQ((std::vector<const char*>{a, b}), fake().liveCopies());

    kwoFreeString(a);
    kwoFreeString(nullptr);
    EXPECT_EQ(1, fake().copiesFreed);
    EXPECT_EQ((std::vector<const char*>{b}), fake().liveCopies());
    EXPECT_TRUE(fake().problems.empty());

    kwoFreeString(a);  // twice
    char foreign[] = "not a copy";
    kwoFreeString(foreign);
    EXPECT_EQ(2u, fake().problems.size());
    EXPECT_EQ(1, fake().copiesFreed);
    // b is still live; reset gives it back.
}

TEST_F(FakeZelTest, ArenaRecordsAreZeroedAndTerminated) {
    BindInfo* info = arena.make<BindInfo>();
    EXPECT_EQ(nullptr, info->bindingSource);
    EXPECT_EQ(0u, info->flags);

    std::string temporary = "lib1";
    ZelWords words = arena.words({temporary.c_str(), "lib2", nullptr, "hidden"});
    temporary = "changed";
    EXPECT_STREQ("lib1", words[0]);
    EXPECT_STREQ("lib2", words[1]);
    EXPECT_EQ(nullptr, words[2]);
    EXPECT_STREQ("hidden", words[3]);
    EXPECT_EQ(nullptr, words[4]);

    CellRecord* cell = arena.make<CellRecord>();
    StopRule* rules = arena.stops({{ZEL_RULE_CELL, cell}, {ZEL_RULE_DEFAULT, nullptr}});
    EXPECT_EQ(ZEL_RULE_CELL, rules[0].code);
    EXPECT_EQ(cell, rules[0].rule);
    EXPECT_EQ(ZEL_RULE_DEFAULT, rules[1].code);
    EXPECT_EQ(0, rules[2].code);
    EXPECT_EQ(nullptr, rules[2].rule);

    ContextEntry* top = arena.context("L", "TOP", "schematic", nullptr);
    ContextEntry* i1 = arena.context("L", "A", "layout", "I1");
    PathVectorRecord* pv = arena.pathVector(nullptr, {top, i1});
    EXPECT_EQ(1, pv->depth);
    EXPECT_EQ(top, pv->contexts[0]);
    EXPECT_EQ(i1, pv->contexts[1]);
    EXPECT_EQ(nullptr, pv->contexts[2]);
    EXPECT_STREQ("I1", i1->instName);
    EXPECT_EQ(nullptr, top->instName);
    EXPECT_EQ(-1, arena.pathVector(nullptr, {})->depth);
}

TEST_F(FakeZelTest, ResetForgetsEverything) {
    zelSetErrorHandler(hear);
    fake().hooks.zelGetRevision = [](ConfigRecord*) { return 9; };
    fake().warningsDuring["zelGetRevision"] = {"w"};
    kwoCopyString("x");
    kwoFreeString(nullptr);
    fake().problems.push_back("p");

    fake().reset();
    EXPECT_TRUE(fake().calls.empty());
    EXPECT_EQ(nullptr, fake().handler);
    EXPECT_TRUE(fake().warningsDuring.empty());
    EXPECT_TRUE(fake().liveCopies().empty());
    EXPECT_EQ(0, fake().copiesMade);
    EXPECT_TRUE(fake().problems.empty());
    EXPECT_EQ(0, zelGetRevision(nullptr));
}

}  // namespace
