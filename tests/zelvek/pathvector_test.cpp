// Path vectors: moving, copying, and levels that follow the configuration's edits.
#include "fixture.h"

namespace {

using zeltest::str;

class PathVectorTest : public zeltest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        c = newConfig();
        ASSERT_NE(c, nullptr);
        pv = zelCreatePathVector(c);
        ASSERT_NE(pv, nullptr);
    }
    void TearDown() override {
        zelDestroyPathVector(pv);
        LibraryTest::TearDown();
    }

    // "lib.cell:view/inst" for every level, top first.
    std::vector<std::string> levels(PathVectorRecord* p) {
        std::vector<std::string> out;
        for (int i = 0; i <= zelGetContextVectorIndex(p); ++i) {
            const ContextEntry* e = p->contexts[i];
            out.push_back(str(e->libName) + "." + str(e->cellName) + ":" + str(e->viewName) + "/" + str(e->instName));
        }
        return out;
    }

    ConfigRecord* c = nullptr;
    PathVectorRecord* pv = nullptr;
};

using Levels = std::vector<std::string>;

TEST_F(PathVectorTest, PushAndPop) {
    EXPECT_EQ(zelGetContextVectorIndex(pv), -1);
    EXPECT_EQ(pv->config, c);
    EXPECT_FALSE(zelPop(pv));
    EXPECT_FALSE(zelPopCell(pv));
    EXPECT_FALSE(zelPopToTop(pv));
    EXPECT_EQ(zelGetContextCellName(pv), nullptr);

    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", "ignored"));
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "schematic", "I1"));
    ASSERT_TRUE(zelPushCell(pv, "other", "inv", "symbol", "I7"));
    EXPECT_EQ(levels(pv), (Levels{"lib.top:schematic/I1", "lib.adder:schematic/I7", "other.inv:symbol/(null)"}));
    EXPECT_EQ(zelGetContextVectorIndex(pv), 2);
    EXPECT_EQ(str(zelGetContextLibName(pv)), "other");
    EXPECT_EQ(str(zelGetContextCellName(pv)), "inv");
    EXPECT_EQ(str(zelGetContextViewName(pv)), "symbol");
    EXPECT_EQ(str(zelGetIndexLibName(pv, 0)), "lib");
    EXPECT_EQ(str(zelGetIndexCellName(pv, 1)), "adder");
    EXPECT_EQ(str(zelGetIndexViewName(pv, 2)), "symbol");
    EXPECT_EQ(zelGetIndexCellName(pv, 3), nullptr);
    EXPECT_EQ(zelGetIndexCellName(pv, -1), nullptr);

    ASSERT_TRUE(zelPop(pv));
    EXPECT_EQ(levels(pv), (Levels{"lib.top:schematic/I1", "lib.adder:schematic/I7"})) << "pop keeps the instance";
    ASSERT_TRUE(zelPopCell(pv));
    EXPECT_EQ(levels(pv), (Levels{"lib.top:schematic/(null)"})) << "popCell clears it";
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "schematic", "I2"));
    ASSERT_TRUE(zelPushCell(pv, "lib", "inv", "symbol", "I3"));
    ASSERT_TRUE(zelPopToTop(pv));
    EXPECT_EQ(levels(pv), (Levels{"lib.top:schematic/I2"}));
    ASSERT_TRUE(zelPopToTop(pv)) << "already at the top";
    ASSERT_TRUE(zelPopCell(pv));
    EXPECT_EQ(zelGetContextVectorIndex(pv), -1);
    EXPECT_FALSE(zelPushCell(pv, "lib", nullptr, "schematic", nullptr)) << "a level needs a cell";
    EXPECT_EQ(zelGetContextVectorIndex(pv), -1);
}

TEST_F(PathVectorTest, DepthIsBounded) {
    for (int i = 0; i < ZEL_MAX_DEPTH; ++i)
        ASSERT_TRUE(zelPushCell(pv, "lib", "c", "v", ("I" + std::to_string(i)).c_str())) << i;
    EXPECT_FALSE(zelPushCell(pv, "lib", "c", "v", "one-too-many"));
    EXPECT_EQ(zelGetContextVectorIndex(pv), ZEL_MAX_DEPTH - 1);
    EXPECT_EQ(pv->contexts[ZEL_MAX_DEPTH - 1]->instName, nullptr) << "a refused push changes nothing";
    ASSERT_TRUE(zelPopToTop(pv));
    EXPECT_EQ(zelGetContextVectorIndex(pv), 0);
}

TEST_F(PathVectorTest, CopiesAreIndependent) {
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "schematic", "I1"));
    PathVectorRecord* copy = zelCopyPathVector(pv);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->config, c);
    EXPECT_EQ(levels(copy), levels(pv));
    EXPECT_NE(copy->contexts[0], pv->contexts[0]);
    ASSERT_TRUE(zelPop(copy));
    ASSERT_TRUE(zelPushCell(copy, "lib", "other", "schematic", "I9"));
    EXPECT_EQ(levels(pv), (Levels{"lib.top:schematic/I1", "lib.adder:schematic/(null)"}));
    EXPECT_EQ(levels(copy), (Levels{"lib.top:schematic/I9", "lib.other:schematic/(null)"}));
    zelDestroyPathVector(copy);
    EXPECT_EQ(zelCopyPathVector(nullptr), nullptr);
}

TEST_F(PathVectorTest, LevelsFollowRuleEdits) {
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "schematic", "I1"));
    const ContextEntry* top = pv->contexts[0];
    const ContextEntry* adder = pv->contexts[1];
    EXPECT_EQ(adder->cell, nullptr);
    EXPECT_EQ(adder->cellView, nullptr);

    // A rule made after the push shows at once.
    ASSERT_TRUE(zelReplaceInstViewList(c, "lib", "adder", "schematic", "U1", "symbol"));
    ASSERT_NE(adder->cell, nullptr);
    EXPECT_EQ(adder->cell, zelFindCell(c, "lib", "adder"));
    ASSERT_NE(adder->cellView, nullptr);
    EXPECT_EQ(str(adder->cellView->instRules->name), "U1");
    EXPECT_EQ(top->cell, nullptr);

    // A rule of another view leaves this level's cell view alone.
    ASSERT_TRUE(zelDeleteInstViewList(c, "lib", "adder", "schematic", "U1"));
    ASSERT_TRUE(zelReplaceInstViewList(c, "lib", "adder", "symbol", "U1", "x"));
    EXPECT_NE(adder->cell, nullptr);
    EXPECT_EQ(adder->cellView, nullptr);
    ASSERT_TRUE(zelDeleteInstViewList(c, "lib", "adder", "symbol", "U1"));
    EXPECT_EQ(adder->cell, nullptr) << "a deleted rule is gone from the level";

    // Only the level's own library counts; rules for any library are the any-library record's.
    ASSERT_TRUE(zelReplaceCellViewList(c, nullptr, "top", "x"));
    EXPECT_EQ(top->cell, nullptr);
    ASSERT_TRUE(zelReplaceCellViewList(c, "lib", "top", "x"));
    EXPECT_EQ(top->cell, zelFindCell(c, "lib", "top"));
}

// A popped level is pushed again with its names kept: what it looked up before
// must not outlive an edit made while it was off the stack, nor a change of names.
TEST_F(PathVectorTest, LevelsPushedAgainFollowEditsMadeMeanwhile) {
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    struct Case {
        const char* what;
        const char* lib;
        const char* cell;
        const char* view;
        bool (*edit)(ConfigRecord*);
        bool hasCell, hasCellView;
    };
    const Case cases[] = {
        {"no rule yet", "lib", "adder", "schematic", nullptr, false, false},
        {"rule made while popped", "lib", "adder", "schematic",
         [](ConfigRecord* cfg) { return zelReplaceInstViewList(cfg, "lib", "adder", "schematic", "U1", "symbol") != 0; },
         true, true},
        {"same names, no edit", "lib", "adder", "schematic", nullptr, true, true},
        {"other view", "lib", "adder", "symbol", nullptr, true, false},
        {"other cell", "lib", "inv", "symbol", nullptr, false, false},
        {"back to the rule's names", "lib", "adder", "schematic", nullptr, true, true},
        {"rule deleted while popped", "lib", "adder", "schematic",
         [](ConfigRecord* cfg) { return zelDeleteInstViewList(cfg, "lib", "adder", "schematic", "U1") != 0; },
         false, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        if (k.edit) {
            ASSERT_TRUE(k.edit(c));
        }
        ASSERT_TRUE(zelPushCell(pv, k.lib, k.cell, k.view, "I1"));
        const ContextEntry* e = pv->contexts[1];
        EXPECT_EQ(levels(pv), (Levels{"lib.top:schematic/I1", std::string(k.lib) + "." + k.cell + ":" + k.view + "/(null)"}));
        EXPECT_EQ(e->cell != nullptr, k.hasCell);
        if (k.hasCell) {
            EXPECT_EQ(e->cell, zelFindCell(c, k.lib, k.cell));
        }
        EXPECT_EQ(e->cellView != nullptr, k.hasCellView);
        ASSERT_TRUE(zelPushCell(pv, "lib", "leaf", "symbol", "X"));
        ASSERT_TRUE(zelPopCell(pv));
        ASSERT_TRUE(zelPopCell(pv));
    }
}

TEST_F(PathVectorTest, OccurrencesAreSharedByEveryPathVector) {
    PathVectorRecord* other = zelCreatePathVector(c);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    ASSERT_TRUE(zelPushCell(other, "lib", "top", "schematic", nullptr));
    ASSERT_TRUE(zelPushCell(other, "lib", "adder", "schematic", "I1"));
    ASSERT_NE(pv->contexts[0]->occurrence, nullptr) << "the top level has its occurrence record";
    EXPECT_EQ(pv->contexts[0]->occurrence, other->contexts[0]->occurrence);
    EXPECT_EQ(other->contexts[1]->occurrence, nullptr) << "no occurrence below I1 yet";
    EXPECT_EQ(zelGetContextOccInst(pv, "I1"), nullptr);
    EXPECT_FALSE(zelConfigHasOccRules(c));

    // Made through one path vector, as the bridge does for a binding.
    OccurrenceInstance* i1 = zelFindOrCreateOccInst(c, nullptr, "lib", "top", "schematic", "I1");
    OccurrenceInstance* u3 = zelFindOrCreateOccInst(c, i1, "lib", "adder", "schematic", "U3");
    ASSERT_NE(u3, nullptr);
    EXPECT_EQ(zelFindOrCreateOccInst(c, i1, "lib", "adder", "schematic", "U3"), u3) << "found, not made twice";
    ASSERT_TRUE(zelReplaceOccInstBinding(u3, "lib", "inv", "layout"));
    EXPECT_TRUE(zelConfigHasOccRules(c));
    EXPECT_TRUE(zelConfigIsModified(c));
    EXPECT_EQ(zelGetContextOccInst(pv, "I1"), i1);
    EXPECT_EQ(zelGetContextOccInst(other, "U3"), u3);
    ASSERT_NE(other->contexts[1]->occurrence, nullptr);
    EXPECT_EQ(other->contexts[1]->occurrence->instances, u3);
    EXPECT_EQ(str(u3->name), "U3");
    EXPECT_EQ(str(u3->bindViewName), "layout");
    EXPECT_EQ(u3->next, nullptr);

    ASSERT_TRUE(zelReplaceOccInstStop(u3, 1));
    EXPECT_EQ(u3->stop, 1);
    ASSERT_TRUE(zelDeleteOccInstBinding(u3));
    EXPECT_FALSE(zelDeleteOccInstBinding(u3));
    EXPECT_TRUE(zelConfigHasOccRules(c)) << "the stop is still there";
    ASSERT_TRUE(zelReplaceOccInstStop(u3, 0));
    EXPECT_FALSE(zelConfigHasOccRules(c));
    EXPECT_EQ(zelGetContextOccInst(other, "U3"), nullptr) << "an occurrence with nothing left goes";
    EXPECT_EQ(zelGetContextOccInst(pv, "I1"), nullptr) << "and so does the path that led only to it";
    EXPECT_EQ(other->contexts[1]->occurrence, nullptr);
    EXPECT_EQ(str(u3->name), "U3") << "its record stays readable";
    EXPECT_EQ(zelFindOrCreateOccInst(c, nullptr, "lib", "top", "schematic", "I1"), i1) << "and comes back";

    EXPECT_EQ(zelFindOrCreateOccInst(c, nullptr, "lib", "top", "schematic", nullptr), nullptr);
    EXPECT_EQ(zelGetContextOccInst(pv, nullptr), nullptr);
    EXPECT_FALSE(zelReplaceOccInstStop(nullptr, 1));
    zelDestroyPathVector(other);
}

TEST_F(PathVectorTest, OccurrencesOfAnotherConfigurationAreRefused) {
    ConfigRecord* second = openConfig("lib", "top", "second", "w");
    OccurrenceInstance* foreign = zelFindOrCreateOccInst(second, nullptr, "lib", "top", "schematic", "I1");
    ASSERT_NE(foreign, nullptr);
    EXPECT_EQ(zelFindOrCreateOccInst(c, foreign, "lib", "top", "schematic", "U1"), nullptr);
}

TEST(OpenBindingTest, OpenWhenNoViewIsNamed) {
    struct Case {
        BindingRecord binding;
        bool open;
    } cases[] = {
        {{"lib", "inv", "symbol"}, false},
        {{nullptr, nullptr, nullptr}, true},
        {{"", "", ""}, true},
        {{"lib", "inv", ""}, true},
        {{nullptr, nullptr, "symbol"}, false},
    };
    for (auto& k : cases) EXPECT_EQ(zelIsOpenBinding(&k.binding) != 0, k.open) << str(k.binding.viewName);
    EXPECT_TRUE(zelIsOpenBinding(nullptr));
}

}  // namespace
