// isAtStop keeps the library's matching stop rules; getStopWhy answers from
// them without asking the library again.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathvector_fixture.h"

namespace {

class PathVectorStopsTest : public PathVectorTest {
protected:
    void libraryMatches(StopRule* rules) {
        lib().hooks.zelGetAllMatchingStopRules = [rules](PathVectorRecord*) { return rules; };
    }
    bool isAtStop() { return run([&] { return PV(isAtStop)(env, self); }) == JNI_TRUE; }
    jint stopWhy() { return run([&] { return PV(getStopWhy)(env, self); }); }
    const void* rule() { return arena.make<int>(); }
};

struct StopRow {
    const char* name;
    std::vector<int> codes;
    jint mask;
};

const StopRow kStopRows[] = {
    {"InstanceAndCell", {ZEL_RULE_INSTANCE, ZEL_RULE_CELL}, ZEL_STOP_INSTANCE | ZEL_STOP_CELL},
    {"SameKindTwice", {ZEL_RULE_INSTANCE, ZEL_RULE_INSTANCE}, ZEL_STOP_INSTANCE},
    {"UnknownCodesPassedOver", {2, ZEL_RULE_INSTANCE, 7, ZEL_RULE_CELL, 14}, ZEL_STOP_INSTANCE | ZEL_STOP_CELL},
    {"EveryKind",
     {ZEL_RULE_DEFAULT, ZEL_RULE_LIBRARY, ZEL_RULE_CELL, ZEL_RULE_INSTANCE, ZEL_RULE_OCCURRENCE},
     ZEL_STOP_DEFAULT | ZEL_STOP_LIBRARY | ZEL_STOP_CELL | ZEL_STOP_INSTANCE | ZEL_STOP_OCCURRENCE},
    {"OnlyUnknownCodes", {-1, 0, 0x86}, 0},
};

class PathVectorStopMaskTest : public PathVectorStopsTest, public ::testing::WithParamInterface<StopRow> {};

TEST_P(PathVectorStopMaskTest, EveryMatchingRuleAddsTheBitOfItsKind) {
    std::vector<StopRule> rules;
    for (int code : GetParam().codes) rules.push_back({code, rule()});
    rules.push_back({ZEL_RULE_OCCURRENCE, nullptr});  // the end, whatever its code
    libraryMatches(rules.data());

    EXPECT_TRUE(isAtStop());
    EXPECT_EQ(GetParam().mask, stopWhy());
    EXPECT_EQ(1u, lib().count("zelGetAllMatchingStopRules"));
    EXPECT_EQ(record, lib().last("zelGetAllMatchingStopRules")->args[0].ptr);
}

INSTANTIATE_TEST_SUITE_P(Rules, PathVectorStopMaskTest, ::testing::ValuesIn(kStopRows),
                         [](const ::testing::TestParamInfo<StopRow>& p) { return std::string(p.param.name); });

TEST_F(PathVectorStopsTest, BeforeAnyStopQueryThereIsNoReason) {
    EXPECT_EQ(0, stopWhy());
    EXPECT_TRUE(lib().calls.empty());
}

TEST_F(PathVectorStopsTest, AnArrayEndingAtOnceIsNoStopWhateverItsCode) {
    StopRule rules[] = {{ZEL_RULE_CELL, nullptr}, {ZEL_RULE_INSTANCE, rule()}, {0, nullptr}};
    libraryMatches(rules);
    EXPECT_FALSE(isAtStop());
    EXPECT_EQ(0, stopWhy());
}

TEST_F(PathVectorStopsTest, EachIsAtStopReplacesTheRulesKeptNullIncluded) {
    libraryMatches(arena.stops({{ZEL_RULE_CELL, rule()}}));
    ASSERT_TRUE(isAtStop());
    libraryMatches(arena.stops({{ZEL_RULE_INSTANCE, rule()}}));
    ASSERT_TRUE(isAtStop());
    EXPECT_EQ(ZEL_STOP_INSTANCE, stopWhy());

    libraryMatches(nullptr);
    EXPECT_FALSE(isAtStop());
    EXPECT_EQ(nullptr, slot()->stopRules);
    EXPECT_EQ(0, stopWhy());
}

TEST_F(PathVectorStopsTest, TheReasonsDescribeThePositionOfTheLastIsAtStop) {
    libraryMatches(arena.stops({{ZEL_RULE_OCCURRENCE, rule()}}));
    ASSERT_TRUE(isAtStop());
    run([&] { return PV(pushCell)(env, self, str("L"), str("C"), str("V"), str("I")); });
    run([&] { PV(bind)(env, self, str("i"), nullptr, nullptr, nullptr, JNI_FALSE, JNI_FALSE, JNI_FALSE, nullptr); });
    run([&] { PV(resetCurrentBinding)(env, self); });

    EXPECT_EQ(ZEL_STOP_OCCURRENCE, stopWhy());
    EXPECT_EQ(1u, lib().count("zelGetAllMatchingStopRules"));
}

}  // namespace
