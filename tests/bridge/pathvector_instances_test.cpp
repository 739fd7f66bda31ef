// The instances of the current context: the enumeration and its cursor,
// isAnyInstRules and the records it caches, and occurrence-path membership.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathvector_fixture.h"

namespace {

class PathVectorInstancesTest : public PathVectorTest {
protected:
    // Instance rules named `names`, chained in that order (null: a rule without a name).
    InstRuleRecord* chain(std::initializer_list<const char*> names) {
        InstRuleRecord* first = nullptr;
        InstRuleRecord** link = &first;
        for (const char* name : names) {
            auto* rule = arena.make<InstRuleRecord>();
            rule->name = name != nullptr ? arena.str(name) : nullptr;
            *link = rule;
            link = &rule->next;
        }
        return first;
    }

    CellViewRecord* cellViewWith(InstRuleRecord* rules) {
        auto* cellView = arena.make<CellViewRecord>();
        cellView->instRules = rules;
        return cellView;
    }

    CellRecord* cellWith(InstRuleRecord* rules) {
        auto* cell = arena.make<CellRecord>();
        cell->instRules = rules;
        return cell;
    }

    // Another path vector whose current level's cell view has these rules.
    jobject pathVectorListing(std::initializer_list<const char*> names) {
        ContextEntry* entry = arena.context("lib", "sub", "schematic", nullptr);
        entry->cellView = cellViewWith(chain(names));
        return newPathVector(addPathVector(arena.pathVector(config, {entry})));
    }

    bool enumerate(jobject pathVector) {
        return run([&] { return PV(enumerateContextInstances)(env, pathVector); }) == JNI_TRUE;
    }
    std::string next() { return text(run([&] { return PV(getContextNextInstance)(env, self); })); }
};

// ---- the enumeration

TEST_F(PathVectorInstancesTest, NamesComeInChainOrderThenNullAndANamelessRuleGivesNullOnTheWay) {
    level->cellView = cellViewWith(chain({"i1", "i2", "i3"}));
    ASSERT_TRUE(enumerate(self));
    EXPECT_EQ((std::vector<std::string>{"i1", "i2", "i3", "<null>", "<null>"}),
              (std::vector<std::string>{next(), next(), next(), next(), next()}));

    level->cellView = cellViewWith(chain({"a", nullptr, "c"}));
    ASSERT_TRUE(enumerate(self));
    EXPECT_EQ((std::vector<std::string>{"a", "<null>", "c", "<null>"}),
              (std::vector<std::string>{next(), next(), next(), next()}));
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
}

TEST_F(PathVectorInstancesTest, StartingOnASecondPathVectorReplacesTheCursor) {
    level->cellView = cellViewWith(chain({"a", "b"}));
    jobject other = pathVectorListing({"x", "y"});
    ASSERT_TRUE(enumerate(self));
    EXPECT_EQ("a", next());
    ASSERT_TRUE(enumerate(other));
    EXPECT_EQ((std::vector<std::string>{"x", "y", "<null>"}), (std::vector<std::string>{next(), next(), next()}));
}

struct FailedStart {
    const char* name;
    void (*spoil)(fakezel::Arena& arena, PathVectorRecord* record, ContextEntry* entry);
    bool registered;
};

const FailedStart kFailedStarts[] = {
    {"NoCurrentLevel", [](fakezel::Arena&, PathVectorRecord* r, ContextEntry*) { r->depth = -1; }, true},
    {"NullEntry", [](fakezel::Arena&, PathVectorRecord* r, ContextEntry*) { r->contexts[0] = nullptr; }, true},
    {"NoCellView", [](fakezel::Arena&, PathVectorRecord*, ContextEntry* e) { e->cellView = nullptr; }, true},
    {"CellViewWithoutRules",
     [](fakezel::Arena&, PathVectorRecord*, ContextEntry* e) { e->cellView->instRules = nullptr; }, true},
    {"OnlyTheCellHasRules",
     [](fakezel::Arena& arena, PathVectorRecord*, ContextEntry* e) {
         e->cell = arena.make<CellRecord>();
         e->cell->instRules = e->cellView->instRules;
         e->cellView->instRules = nullptr;
     },
     true},
    {"NotRegistered", [](fakezel::Arena&, PathVectorRecord*, ContextEntry*) {}, false},
};

class PathVectorFailedStartTest : public PathVectorInstancesTest, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(PathVectorFailedStartTest, AnswersFalseAndEndsTheEnumerationInProgress) {
    level->cellView = cellViewWith(chain({"a", "b"}));
    ASSERT_TRUE(enumerate(self));
    ASSERT_EQ("a", next());

    ContextEntry* entry = arena.context("lib", "sub", "schematic", nullptr);
    entry->cellView = cellViewWith(chain({"x"}));
    PathVectorRecord* failing = arena.pathVector(config, {entry});
    jobject receiver = newPathVector(GetParam().registered ? addPathVector(failing) : 99);
    GetParam().spoil(arena, failing, entry);

    EXPECT_FALSE(enumerate(receiver));
    EXPECT_EQ("<null>", next());
}

INSTANTIATE_TEST_SUITE_P(Starts, PathVectorFailedStartTest, ::testing::ValuesIn(kFailedStarts),
                         [](const ::testing::TestParamInfo<FailedStart>& p) { return std::string(p.param.name); });

TEST_F(PathVectorInstancesTest, DestroyingThePathVectorWalkedEmptiesTheCursorAndAnotherDoesNot) {
    level->cellView = cellViewWith(chain({"a", "b", "c"}));
    jobject unrelated = pathVectorListing({"x"});
    ASSERT_TRUE(enumerate(self));
    ASSERT_EQ("a", next());

    run([&] { PV(destroy)(env, unrelated); });
    EXPECT_EQ("b", next());

    bool emptiedBeforeTheLibrary = false;
    lib().hooks.zelDestroyPathVector = [&](PathVectorRecord*) {
        emptiedBeforeTheLibrary = instanceCursor.rule == nullptr;
    };
    run([&] { PV(destroy)(env, self); });
    EXPECT_TRUE(emptiedBeforeTheLibrary);
    EXPECT_EQ("<null>", next());
}

TEST_F(PathVectorInstancesTest, ClosingTheConfigurationOfThePathVectorWalkedEmptiesTheCursor) {
    jobject walked = newConfig();
    jobject unrelated = newConfig();
    openConfig(walked, config);
    openConfig(unrelated, arena.make<ConfigRecord>());
    level->cellView = cellViewWith(chain({"a", "b", "c", "d"}));
    ASSERT_TRUE(enumerate(self));
    ASSERT_EQ("a", next());

    ZelBool closes = 0;
    lib().hooks.zelClose = [&](ConfigRecord*) { return closes; };
    run([&] { return Java_COM_morvent_zel_ZelConfig_close(env, walked); });  // refused: nothing released
    EXPECT_EQ("b", next());
    closes = 1;
    run([&] { return Java_COM_morvent_zel_ZelConfig_close(env, unrelated); });
    EXPECT_EQ("c", next());
    run([&] { return Java_COM_morvent_zel_ZelConfig_close(env, walked); });
    EXPECT_EQ("<null>", next());
}

// ---- isAnyInstRules

enum Found { kNotFound, kWithoutRules, kWithRules };

struct AnyRow {
    const char* name;
    bool contextCellViewRules;
    bool contextCellRules;
    Found cellByName;
    Found cellViewByName;
    bool answer;
};

const AnyRow kAnyRows[] = {
    {"NoRulesAnywhere", false, false, kWithoutRules, kWithoutRules, false},
    {"ContextCellView", true, false, kWithoutRules, kWithoutRules, true},
    {"ContextCell", false, true, kWithoutRules, kWithoutRules, true},
    {"FirstCheckTrueStillLooksUpAndCaches", true, true, kWithRules, kWithRules, true},
    {"CellByName", false, false, kWithRules, kWithoutRules, true},
    {"CellViewByName", false, false, kWithoutRules, kWithRules, true},
    {"CellNotFound", false, false, kNotFound, kWithRules, false},
    {"CellNotFoundContextCellAnswers", false, true, kNotFound, kWithoutRules, true},
    {"CellViewNotFound", false, false, kWithoutRules, kNotFound, false},
    {"CellViewNotFoundCellByNameAnswers", false, false, kWithRules, kNotFound, true},
};

class PathVectorAnyInstRulesTest : public PathVectorInstancesTest, public ::testing::WithParamInterface<AnyRow> {};

TEST_P(PathVectorAnyInstRulesTest, AnswersFromTheFourChecksAndCachesWhatItLookedUp) {
    const AnyRow& row = GetParam();
    InstRuleRecord* rules = chain({"i"});
    level->cellView = cellViewWith(row.contextCellViewRules ? rules : nullptr);
    level->cell = cellWith(row.contextCellRules ? rules : nullptr);
    CellRecord* cell = row.cellByName == kNotFound ? nullptr : cellWith(row.cellByName == kWithRules ? rules : nullptr);
    CellViewRecord* cellView =
        row.cellViewByName == kNotFound ? nullptr : cellViewWith(row.cellViewByName == kWithRules ? rules : nullptr);
    lib().hooks.zelFindCell = [&](ConfigRecord*, const char*, const char*) { return cell; };
    lib().hooks.zelFindCellCellView = [&](ConfigRecord*, CellRecord*, const char*) { return cellView; };
    CellViewRecord* earlier = opaque<CellViewRecord>();
    slot()->cachedCell = opaque<CellRecord>();
    slot()->cachedCellView = earlier;

    EXPECT_EQ(row.answer, run([&] { return PV(isAnyInstRules)(env, self); }) == JNI_TRUE);

    const fakezel::Call* findCell = lib().last("zelFindCell");
    ASSERT_NE(nullptr, findCell);
    EXPECT_EQ(config, findCell->args[0].ptr);
    EXPECT_TRUE(findCell->args[1].isNull);
    EXPECT_EQ("top", findCell->args[2].str);
    EXPECT_EQ(cell, slot()->cachedCell);
    if (cell == nullptr) {
        EXPECT_EQ((std::vector<std::string>{"zelFindCell"}), libraryCalls());
        // Nothing of the earlier context may be left for isSameInstRules.
        EXPECT_EQ(nullptr, slot()->cachedCellView);
        return;
    }
    EXPECT_EQ((std::vector<std::string>{"zelFindCell", "zelFindCellCellView"}), libraryCalls());
    const fakezel::Call* findCellView = lib().last("zelFindCellCellView");
    EXPECT_EQ(config, findCellView->args[0].ptr);
    EXPECT_EQ(cell, findCellView->args[1].ptr);
    EXPECT_EQ("schematic", findCellView->args[2].str);
    EXPECT_EQ(cellView, slot()->cachedCellView);
}

INSTANTIATE_TEST_SUITE_P(Checks, PathVectorAnyInstRulesTest, ::testing::ValuesIn(kAnyRows),
                         [](const ::testing::TestParamInfo<AnyRow>& p) { return std::string(p.param.name); });

TEST_F(PathVectorInstancesTest, AnyInstRulesWithoutACurrentLevelAnswersFalseAndKeepsTheCache) {
    level->cellView = cellViewWith(chain({"i"}));
    CellRecord* cell = opaque<CellRecord>();
    CellViewRecord* cellView = opaque<CellViewRecord>();
    slot()->cachedCell = cell;
    slot()->cachedCellView = cellView;

    for (bool nullEntry : {false, true}) {
        record->depth = nullEntry ? 0 : -1;
        record->contexts[0] = nullEntry ? nullptr : level;
        EXPECT_EQ(JNI_FALSE, run([&] { return PV(isAnyInstRules)(env, self); }));
        EXPECT_EQ(cell, slot()->cachedCell);
        EXPECT_EQ(cellView, slot()->cachedCellView);
    }
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
}

// ---- isPartOfOccurPath

TEST_F(PathVectorInstancesTest, PartOfOccurPathJudgesTheWholePointerAndPassesTheName) {
    // Low byte zero, yet a record: true.
    auto* aligned = reinterpret_cast<OccurrenceInstance*>(std::uintptr_t{0x1000});
    OccurrenceInstance* answer = aligned;
    lib().hooks.zelGetContextOccInst = [&](PathVectorRecord*, const char*) { return answer; };

    EXPECT_EQ(JNI_TRUE, run([&] { return PV(isPartOfOccurPath)(env, self, str("i1")); }));
    EXPECT_EQ(record, lib().last("zelGetContextOccInst")->args[0].ptr);
    EXPECT_EQ("i1", lib().last("zelGetContextOccInst")->args[1].str);
    EXPECT_EQ(std::vector<std::string>{"i1"}, jvm.releasedStrings());

    answer = nullptr;
    EXPECT_EQ(JNI_FALSE, run([&] { return PV(isPartOfOccurPath)(env, self, nullptr); }));
    EXPECT_TRUE(lib().last("zelGetContextOccInst")->args[1].isNull);

    jvm.failStringUTFCharsAt(1);
    answer = aligned;
    EXPECT_EQ(JNI_FALSE, run([&] { return PV(isPartOfOccurPath)(env, self, str("i1")); }));
    EXPECT_EQ(2u, lib().count("zelGetContextOccInst"));
}

}  // namespace
