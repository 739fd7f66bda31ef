// isSameInstRules: the four containers, the candidate list, each value from the
// first candidate that has it, the check of each value, and the exclusions.
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "pathvector_fixture.h"

namespace {

// Candidates in list order: context cell view, cached cell view, context cell, cached cell.
enum Candidate { kContextCellView, kCachedCellView, kContextCell, kCachedCell, kCandidates };

enum Value { kFirstValue, kViewBinding, kViewList };

struct Expect {
    jboolean expected = JNI_FALSE;
    const char* text = nullptr;
};

class PathVectorInstRulesTest : public PathVectorTest {
protected:
    void SetUp() override {
        PathVectorTest::SetUp();
        level->cellView = contextCellView;
        level->cell = contextCell;
        slot()->cachedCellView = cachedCellView;
        slot()->cachedCell = cachedCell;
        lib().hooks.zelFindCellViewInst = [this](ConfigRecord*, CellViewRecord* c, const char* inst) {
            return find(c, inst);
        };
        lib().hooks.zelFindCellInst = [this](ConfigRecord*, CellRecord* c, const char* i) { return find(c, i); };
        lib().hooks.zelGetInstViewBinding = [this](InstRuleRecord* rule) -> const char* {
            auto it = viewBindings.find(rule);
            return it != viewBindings.end() ? it->second : nullptr;
        };
    }

    const void* container(Candidate c) const {
        const void* containers[] = {contextCellView, cachedCellView, contextCell, cachedCell};
        return containers[c];
    }

    // The rule for "i1" that the container holds; made on first use.
    InstRuleRecord* rule(Candidate c) {
        InstRuleRecord*& r = rules[container(c)];
        if (r == nullptr) r = arena.make<InstRuleRecord>();
        return r;
    }

    void give(Candidate c, Value value, const char* text) {
        InstRuleRecord* r = rule(c);
        if (value == kFirstValue) r->firstValue = arena.str(text);
        if (value == kViewList) r->viewList = arena.str(text);
        if (value == kViewBinding) viewBindings[r] = arena.str(text);
    }

    bool same(const char* inst, Expect first, Expect binding, Expect list, jboolean override = JNI_FALSE) {
        return run([&] {
                   return PV(isSameInstRules)(env, self, str(inst), first.expected, str(first.text), binding.expected,
                                              str(binding.text), list.expected, str(list.text), override);
               }) == JNI_TRUE;
    }
    bool sameAs(Value value, Expect want) {
        Expect e[3];
        e[value] = want;
        return same("i1", e[0], e[1], e[2]);
    }

    std::vector<const void*> searched() const {
        std::vector<const void*> containers;
        for (const fakezel::Call& call : lib().calls)
            if (call.fn == "zelFindCellViewInst" || call.fn == "zelFindCellInst")
                containers.push_back(call.args[1].ptr);
        return containers;
    }

    CellViewRecord* contextCellView = opaque<CellViewRecord>();
    CellViewRecord* cachedCellView = opaque<CellViewRecord>();
    CellRecord* contextCell = opaque<CellRecord>();
    CellRecord* cachedCell = opaque<CellRecord>();
    std::map<const void*, InstRuleRecord*> rules;  // by container: the rule "i1" has there
    std::map<const InstRuleRecord*, const char*> viewBindings;

private:
    InstRuleRecord* find(const void* container, const char* inst) {
        auto it = rules.find(container);
        return inst != nullptr && std::string(inst) == "i1" && it != rules.end() ? it->second : nullptr;
    }
};

// ---- the search

TEST_F(PathVectorInstRulesTest, TheFourContainersAreAskedInTheirOwnOrderWithConfigAndName) {
    EXPECT_TRUE(same("i1", {}, {}, {}));  // found nowhere, nothing expected

    EXPECT_EQ((std::vector<std::string>{"zelFindCellViewInst", "zelFindCellInst", "zelFindCellViewInst",
                                        "zelFindCellInst"}),
              libraryCalls());
    EXPECT_EQ((std::vector<const void*>{contextCellView, contextCell, cachedCellView, cachedCell}), searched());
    for (const fakezel::Call& call : lib().calls) {
        EXPECT_EQ(config, call.args[0].ptr);
        EXPECT_EQ("i1", call.args[2].str);
    }

    // The 1st, 3rd, 5th and 7th parameters, converted and given back in that order.
    run([&] {
        return PV(isSameInstRules)(env, self, str("i1"), JNI_TRUE, str("t1"), JNI_FALSE, str("t2"), JNI_TRUE, str("t3"),
                                   JNI_FALSE);
    });
    EXPECT_EQ((std::vector<std::string>{"i1", "i1", "t1", "t2", "t3"}), jvm.releasedStrings());
}

TEST_F(PathVectorInstRulesTest, FoundNowhereIsTheSameExactlyWhenNothingIsExpected) {
    EXPECT_TRUE(same("i2", {}, {}, {}));
    EXPECT_FALSE(same("i2", {JNI_TRUE, "x"}, {}, {}));
    EXPECT_FALSE(same("i2", {}, {JNI_TRUE, "x"}, {}));
    EXPECT_FALSE(same("i2", {}, {}, {JNI_TRUE, "x"}));
}

TEST_F(PathVectorInstRulesTest, AfterAPushOnlyTheContextsOwnRecordsTakePartAndPopKeepsTheCachedOnes) {
    lib().hooks.zelFindCell = [this](ConfigRecord*, const char*, const char*) { return cachedCell; };
    lib().hooks.zelFindCellCellView = [this](ConfigRecord*, CellRecord*, const char*) { return cachedCellView; };

    run([&] { return PV(pushCell)(env, self, str("L"), str("C"), str("V"), str("I")); });
    lib().calls.clear();
    same("i1", {}, {}, {});
    EXPECT_EQ((std::vector<const void*>{contextCellView, contextCell}), searched());

    run([&] { return PV(isAnyInstRules)(env, self); });
    run([&] { return PV(pop)(env, self); });
    lib().calls.clear();
    same("i1", {}, {}, {});
    EXPECT_EQ((std::vector<const void*>{contextCellView, contextCell, cachedCellView, cachedCell}), searched());

    level->cellView = nullptr;
    level->cell = nullptr;
    lib().calls.clear();
    same("i1", {}, {}, {});
    EXPECT_EQ((std::vector<const void*>{cachedCellView, cachedCell}), searched());
}

// ---- each value from the first candidate that has it

struct FirstHolderRow {
    const char* name;
    std::vector<Candidate> holders;  // candidates that carry the value
    Candidate first;                 // the first of them in list order
};

const FirstHolderRow kFirstHolderRows[] = {
    {"EveryCandidate", {kContextCellView, kCachedCellView, kContextCell, kCachedCell}, kContextCellView},
    // Looked up after the context cell, yet listed before it.
    {"CachedCellViewBeforeContextCell", {kContextCell, kCachedCellView}, kCachedCellView},
    {"ContextCellBeforeCachedCell", {kCachedCell, kContextCell}, kContextCell},
    {"OnlyTheLast", {kCachedCell}, kCachedCell},
};

class PathVectorFirstHolderTest : public PathVectorInstRulesTest,
                                  public ::testing::WithParamInterface<std::tuple<Value, FirstHolderRow>> {};

TEST_P(PathVectorFirstHolderTest, TheValueIsTheFirstCandidatesThatHasOne) {
    const Value value = std::get<0>(GetParam());
    const FirstHolderRow& row = std::get<1>(GetParam());
    const char* names[] = {"cv", "ccv", "c", "cc"};
    for (int c = 0; c < kCandidates; ++c) rule(static_cast<Candidate>(c));  // all found, few hold the value
    for (Candidate c : row.holders) give(c, value, names[c]);

    EXPECT_TRUE(sameAs(value, {JNI_TRUE, names[row.first]}));
    for (Candidate c : row.holders) {
        if (c != row.first) {
            EXPECT_FALSE(sameAs(value, {JNI_TRUE, names[c]})) << names[c];
        }
    }
    EXPECT_FALSE(sameAs(value, {}));  // present, so not absent
}

// "<value>_<row>" for a parameter made of a Value and a named row.
template <typename Row>
std::string valueAndRow(const ::testing::TestParamInfo<std::tuple<Value, Row>>& p) {
    static const char* const kValueNames[] = {"FirstValue", "ViewBinding", "ViewList"};
    return std::string(kValueNames[std::get<0>(p.param)]) + "_" + std::get<1>(p.param).name;
}

const auto kEveryValue = ::testing::Values(kFirstValue, kViewBinding, kViewList);

INSTANTIATE_TEST_SUITE_P(Values, PathVectorFirstHolderTest,
                         ::testing::Combine(kEveryValue, ::testing::ValuesIn(kFirstHolderRows)),
                         valueAndRow<FirstHolderRow>);

TEST_F(PathVectorInstRulesTest, TheThreeValuesMayComeFromThreeCandidates) {
    give(kCachedCell, kFirstValue, "libs");
    give(kContextCell, kViewBinding, "symbol");
    give(kContextCellView, kViewList, "schematic symbol");
    EXPECT_TRUE(same("i1", {JNI_TRUE, "libs"}, {JNI_TRUE, "symbol"}, {JNI_TRUE, "schematic symbol"}));
}

TEST_F(PathVectorInstRulesTest, ViewBindingsAreAskedInListOrderUpToTheFirstThatAnswers) {
    for (int c = 0; c < kCandidates; ++c) rule(static_cast<Candidate>(c));
    give(kContextCell, kViewBinding, "symbol");
    give(kCachedCell, kViewBinding, "other");

    EXPECT_TRUE(sameAs(kViewBinding, {JNI_TRUE, "symbol"}));

    std::vector<const void*> asked;
    for (const fakezel::Call* call : lib().callsOf("zelGetInstViewBinding")) asked.push_back(call->args[0].ptr);
    EXPECT_EQ((std::vector<const void*>{rule(kContextCellView), rule(kCachedCellView), rule(kContextCell)}), asked);
}

// ---- the check of one value

struct CheckRow {
    const char* name;
    const char* held;  // the value the rule holds, or null
    Expect want;
    bool same;
};

const CheckRow kCheckRows[] = {
    {"AbsentAndNotExpected", nullptr, {JNI_FALSE, "ignored"}, true},
    {"PresentButNotExpected", "abc", {JNI_FALSE, "abc"}, false},
    {"ExpectedButAbsent", nullptr, {JNI_TRUE, "abc"}, false},
    {"Equal", "abc", {JNI_TRUE, "abc"}, true},
    {"ExpectedWithoutText", "abc", {JNI_TRUE, nullptr}, false},
    {"OtherCase", "abc", {JNI_TRUE, "ABC"}, false},
    {"TrailingBlank", "abc", {JNI_TRUE, "abc "}, false},
    {"OtherBlanks", "a b", {JNI_TRUE, "a  b"}, false},
    {"Empty", "", {JNI_TRUE, ""}, true},
};

class PathVectorValueCheckTest : public PathVectorInstRulesTest,
                                 public ::testing::WithParamInterface<std::tuple<Value, CheckRow>> {};

TEST_P(PathVectorValueCheckTest, FlagAndTextDecide) {
    const Value value = std::get<0>(GetParam());
    const CheckRow& row = std::get<1>(GetParam());
    rule(kContextCellView);
    if (row.held != nullptr) give(kContextCellView, value, row.held);
    EXPECT_EQ(row.same, sameAs(value, row.want));
}

INSTANTIATE_TEST_SUITE_P(Checks, PathVectorValueCheckTest,
                         ::testing::Combine(kEveryValue, ::testing::ValuesIn(kCheckRows)), valueAndRow<CheckRow>);

// ---- exclusions

TEST_F(PathVectorInstRulesTest, AnOccurrenceInstanceOfTheContextIsNeverTheSame) {
    auto* occurrence = arena.make<OccurrenceRecord>();
    auto* first = arena.make<OccurrenceInstance>();
    auto* second = arena.make<OccurrenceInstance>();
    first->name = arena.str("o1");
    first->next = second;
    second->name = arena.str("i1");
    occurrence->instances = first;
    level->occurrence = occurrence;
    give(kContextCellView, kViewList, "schematic");

    EXPECT_FALSE(same("i1", {}, {}, {JNI_TRUE, "schematic"}));
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
    EXPECT_TRUE(same("i3", {}, {}, {}));        // not among them
    EXPECT_TRUE(same(nullptr, {}, {}, {}));     // a null name matches none
}

TEST_F(PathVectorInstRulesTest, TheEighthParameterOrNoCurrentLevelAnswersFalseBeforeAnyLookUp) {
    give(kContextCellView, kViewList, "schematic");
    EXPECT_FALSE(same("i1", {}, {}, {JNI_TRUE, "schematic"}, JNI_TRUE));

    record->contexts[0] = nullptr;
    EXPECT_FALSE(same("i1", {}, {}, {}));
    record->contexts[0] = level;
    record->depth = -1;
    EXPECT_FALSE(same("i1", {}, {}, {}));

    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
    // Converted and given back all the same.
    EXPECT_EQ((std::vector<std::string>{"i1", "schematic", "i1", "i1"}), jvm.releasedStrings());
}

TEST_F(PathVectorInstRulesTest, AStringTheJvmCannotHandOutAnswersFalseBeforeTheLibrary) {
    jvm.failStringUTFCharsAt(2);
    EXPECT_FALSE(same("i1", {}, {JNI_FALSE, "x"}, {}));
    EXPECT_TRUE(lib().calls.empty());
    EXPECT_EQ(std::vector<std::string>{"i1"}, jvm.releasedStrings());
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
}

}  // namespace
