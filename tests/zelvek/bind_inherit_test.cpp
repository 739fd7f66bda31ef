// Lists that pass down the hierarchy, the lists in effect at each level, and
// occurrence rules that hold for one path only.
#include "bind_design.h"

namespace {

using zeltest::Bound;
using zeltest::bindNow;
using zeltest::str;

constexpr uint32_t kLibsDown = ZEL_BIND_LIBLIST_INHERIT;
constexpr uint32_t kViewsDown = ZEL_BIND_VIEWLIST_INHERIT;

const std::string D = "default-views \"schematic symbol\"\ndefault-libs \"lib other\"\n";

class InheritTest : public zeltest::DesignTest {
protected:
    PathVectorRecord* atTop(ConfigRecord* c) {
        PathVectorRecord* pv = pathVector(c);
        EXPECT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
        return pv;
    }
    std::vector<std::string> viewLists(PathVectorRecord* pv) {
        std::vector<std::string> out;
        for (int i = 0; i <= zelGetContextVectorIndex(pv); ++i) out.push_back(str(zelGetIndexViewList(pv, i)));
        return out;
    }
    using Lists = std::vector<std::string>;
};

TEST_F(InheritTest, InstanceListsPassDownThreeLevels) {
    ConfigRecord* c = configWith(D + "inst lib top schematic I1\n  views \"symbol schematic\"\n  libs \"other lib\"\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = atTop(c);
    InstRuleRecord* i1 = zelFindCellViewInst(c, zelFindCellCellView(c, zelFindCell(c, "lib", "top"), "schematic"), "I1");

    Bound b = bindNow(pv, {"I1", "lib", "adder", "symbol"});
    EXPECT_EQ(b.binding, "lib.adder:symbol");
    EXPECT_EQ(b.flags, 0u) << "the instance's own lists";
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I1"));

    struct Step {
        const char* inst;
        const char* cell;
        const char* bound;
    } steps[] = {{"X", "buf", "other.buf:symbol"}, {"Y", "inv", "other.inv:symbol"}, {"Z", "nand2", "other.nand2:symbol"}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.inst);
        b = bindNow(pv, {s.inst, "lib", s.cell, "schematic"});
        EXPECT_EQ(b.binding, s.bound);
        EXPECT_EQ(b.flags, kLibsDown | kViewsDown);
        EXPECT_EQ(b.libRule, ZEL_RULE_INSTANCE) << "the code of the rule that supplied it";
        EXPECT_EQ(b.viewRule, ZEL_RULE_INSTANCE);
        EXPECT_EQ(b.info.viewListSource, i1);
        EXPECT_EQ(b.libList, "other lib");
        EXPECT_EQ(b.viewListFromSource, "symbol schematic");
        ASSERT_TRUE(zelPushCell(pv, b.record.libName, b.record.cellName, b.record.viewName, s.inst));
    }
    EXPECT_EQ(viewLists(pv), (Lists{"schematic symbol", "symbol schematic", "symbol schematic", "symbol schematic",
                                    "symbol schematic"}));
    EXPECT_EQ(zelGetIndexViewList(pv, 5), nullptr);
    EXPECT_EQ(zelGetIndexViewList(pv, -1), nullptr);

    // A copy keeps each level's lists.
    PathVectorRecord* copy = zelCopyPathVector(pv);
    EXPECT_EQ(viewLists(copy), viewLists(pv));
    b = bindNow(copy, {"W", "lib", "buf", "schematic"});
    EXPECT_EQ(b.flags, kLibsDown | kViewsDown);
    zelDestroyPathVector(copy);

    // Levels follow the rule that supplied their list.
    ASSERT_TRUE(zelReplaceInstViewList(c, "lib", "top", "schematic", "I1", "layout symbol"));
    EXPECT_EQ(str(zelGetIndexViewList(pv, 3)), "layout symbol");
    ASSERT_TRUE(zelDeleteInstViewList(c, "lib", "top", "schematic", "I1"));
    EXPECT_EQ(str(zelGetIndexViewList(pv, 3)), "schematic symbol") << "a level whose rule is gone: the default";
    b = bindNow(pv, {"V", "lib", "buf", "symbol"});
    EXPECT_EQ(b.viewRule, ZEL_RULE_DEFAULT);
    EXPECT_EQ(b.flags, kLibsDown) << "the library list still comes down";
}

// What a level's own rules put before the list from above, and which lists
// pass down at all.
TEST_F(InheritTest, WhatPassesDownAndWhatComesFirst) {
    struct Case {
        const char* what;
        std::string rules;   // besides I1's lists
        const char* inner;   // master cell of the inner instance X (library lib)
        const char* bound;
        int libRule, viewRule;
        uint32_t flags;
    } cases[] = {
        {"the instance lists", "", "buf", "other.buf:symbol", 8, 8, kLibsDown | kViewsDown},
        {"a library rule of the inner master comes first", "library lib\n  views schematic\n", "buf",
         "other.buf:schematic", 8, 5, kLibsDown},
        {"a cell rule of the inner master comes first", "cell * buf\n  views schematic\n  libs lib\n", "buf",
         "lib.buf:schematic", 6, 6, 0},
        {"the inner instance's own rules come first", "inst lib adder symbol X\n  views schematic\n", "buf",
         "other.buf:schematic", 8, 8, kLibsDown},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ConfigRecord* c = configWith(D + "inst lib top schematic I1\n  views symbol\n  libs \"other lib\"\n" + k.rules,
                                     ("c" + std::to_string(n++)).c_str());
        ASSERT_NE(c, nullptr);
        PathVectorRecord* pv = atTop(c);
        bindNow(pv, {"I1", "lib", "adder", "symbol"});
        ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I1"));
        Bound b = bindNow(pv, {"X", "lib", k.inner, "symbol"});
        EXPECT_EQ(b.binding, k.bound);
        EXPECT_EQ(b.libRule, k.libRule);
        EXPECT_EQ(b.viewRule, k.viewRule);
        EXPECT_EQ(b.flags, k.flags);
    }
}

TEST_F(InheritTest, WhichListsPassDown) {
    struct Case {
        const char* what;
        std::string rules;
        bool useOccurrencesBelow;
        int libRule, viewRule;
        uint32_t flags;
        const char* levelViewList;   // zelGetIndexViewList of the level entered
    } cases[] = {
        {"a cell rule's library list passes down, its view list does not",
         "cell lib adder\n  views symbol\n  libs other\n", true, 6, 1, kLibsDown, "symbol"},
        {"a library rule's view list does not", "library lib\n  views symbol\n", true, 1, 1, 0, "symbol"},
        {"an occurrence's view list does", "occurrence I1\n  views symbol\n", true, 1, 13, kViewsDown, "symbol"},
        {"but not to a bind that leaves occurrence rules out", "occurrence I1\n  views symbol\n", false, 1, 1, 0,
         "symbol"},
        {"the defaults are not inherited", "", true, 1, 1, 0, "schematic symbol"},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ConfigRecord* c = configWith(D + k.rules, ("c" + std::to_string(n++)).c_str());
        ASSERT_NE(c, nullptr);
        PathVectorRecord* pv = atTop(c);
        bindNow(pv, {"I1", "lib", "adder", "symbol"});
        ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I1"));
        EXPECT_EQ(str(zelGetIndexViewList(pv, 1)), k.levelViewList);
        Bound b = bindNow(pv, {"X", "other", "buf", "symbol", true, k.useOccurrencesBelow});
        EXPECT_EQ(b.libRule, k.libRule);
        EXPECT_EQ(b.viewRule, k.viewRule);
        EXPECT_EQ(b.flags, k.flags);
    }
}

// Binding rules below a level whose library list comes from above: the
// library is another rule's (flag 0x8), read where the bridge reads it.
TEST_F(InheritTest, BindingRulesUnderAnInheritedLibraryList) {
    struct Case {
        const char* what;
        std::string rules;
        const char* inner;
        const char* bound;
        int bindRule, altRule;
        const char* libOnCell;
    } cases[] = {
        {"an instance view binding, the list from an instance above",
         "inst lib top schematic I1\n  libs \"other lib\"\ninst lib adder symbol X\n  view-binding symbol\n", "buf",
         "other.buf:symbol", 8, 8, "(none)"},
        {"a cell view binding, the list from an instance above",
         "inst lib top schematic I1\n  libs \"other lib\"\ncell lib inv\n  view-binding symbol\n", "inv",
         "other.inv:symbol", 6, 8, "(null)"},
        {"an instance view binding, the list from the cell rule above",
         "cell lib adder\n  libs \"other lib\"\ninst lib adder symbol X\n  view-binding symbol\n", "buf",
         "other.buf:symbol", 8, 6, "other"},
        {"a cell view binding, the list from the cell rule above",
         "cell lib adder\n  libs \"other lib\"\ncell lib buf\n  view-binding symbol\n", "buf", "other.buf:symbol",
         6, 6, "other"},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ConfigRecord* c = configWith(D + k.rules, ("c" + std::to_string(n++)).c_str());
        ASSERT_NE(c, nullptr);
        PathVectorRecord* pv = atTop(c);
        bindNow(pv, {"I1", "lib", "adder", "symbol"});
        ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I1"));
        Bound b = bindNow(pv, {"X", "lib", k.inner, "schematic"});
        EXPECT_EQ(b.binding, k.bound);
        EXPECT_EQ(b.bindRule, k.bindRule);
        EXPECT_EQ(b.altRule, k.altRule);
        EXPECT_EQ(b.flags, ZEL_BIND_BY_RULE | ZEL_BIND_ALT_RULE | kLibsDown);
        EXPECT_EQ(b.libOnCell, k.libOnCell);
    }
}

// A level takes the lists of the bind that entered it; pushed without one, the
// lists a bind of that instance would resolve.
TEST_F(InheritTest, PushedLevelTakesTheListsOfItsInstance) {
    ConfigRecord* c = configWith(D + "inst lib top schematic I1\n  views symbol\ninst lib top schematic I2\n"
                                     "  views layout\nlibrary other\n  views \"symbol layout\"\n"
                                     "occurrence I1\n  views \"layout schematic\"\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = atTop(c);
    zeltest::BindArgs i1NoOcc{"I1", "lib", "adder", "symbol", true, false};

    bindNow(pv, i1NoOcc);
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I2"));
    EXPECT_EQ(str(zelGetIndexViewList(pv, 1)), "layout") << "I2 was pushed, not the I1 just bound";
    ASSERT_TRUE(zelPopCell(pv));
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I1"));
    EXPECT_EQ(str(zelGetIndexViewList(pv, 1)), "symbol") << "the bind of I1, which left occurrence rules out";
    ASSERT_TRUE(zelPopCell(pv));
    bindNow(pv, {"I1", "lib", "adder", "symbol"});
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I1"));
    EXPECT_EQ(str(zelGetIndexViewList(pv, 1)), "layout schematic") << "the bind of I1 with occurrence rules";
    ASSERT_TRUE(zelPopCell(pv));

    bindNow(pv, {"I3", "other", "buf", "symbol"});
    ASSERT_TRUE(zelPushCell(pv, "other", "buf", "symbol", "I3"));
    EXPECT_EQ(str(zelGetIndexViewList(pv, 1)), "symbol layout") << "the library rule of other";
    Bound b = bindNow(pv, {"X", "lib", "buf", "symbol"});
    EXPECT_EQ(b.viewRule, ZEL_RULE_DEFAULT) << "a library rule's list is in effect at its level but does not pass down";
    ASSERT_TRUE(zelPopCell(pv));

    // A bind made on a level that was popped since does not count.
    bindNow(pv, i1NoOcc);
    ASSERT_TRUE(zelPopCell(pv));
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I1"));
    EXPECT_EQ(str(zelGetIndexViewList(pv, 1)), "layout schematic");
}

// An occurrence rule holds for its path; the sibling path keeps the instance rule.
TEST_F(InheritTest, OccurrenceRulesHoldForOnePath) {
    ConfigRecord* c = configWith(D + "inst lib adder schematic X\n  view-binding schematic\n  views schematic\n"
                                     "occurrence I1 X\n  bind other buf symbol\noccurrence I1 Y\n  views symbol\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = atTop(c);
    struct Path {
        const char* inst;
        const char* x;    // what X binds to
        int xRule;
        const char* y;    // what Y binds to
        int yViewRule;
    } paths[] = {
        {"I1", "other.buf:symbol", ZEL_RULE_OCCURRENCE, "lib.buf:symbol", ZEL_RULE_OCCURRENCE},
        {"I2", "lib.buf:schematic", ZEL_RULE_INSTANCE, "lib.buf:schematic", ZEL_RULE_DEFAULT},
    };
    for (const Path& p : paths) {
        SCOPED_TRACE(p.inst);
        bindNow(pv, {p.inst, "lib", "adder", "schematic"});
        ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "schematic", p.inst));
        Bound x = bindNow(pv, {"X", "lib", "buf", "symbol"});
        EXPECT_EQ(x.binding, p.x);
        EXPECT_EQ(x.bindRule, p.xRule);
        Bound y = bindNow(pv, {"Y", "lib", "buf", "symbol"});
        EXPECT_EQ(y.binding, p.y);
        EXPECT_EQ(y.viewRule, p.yViewRule);
        ASSERT_TRUE(zelPopCell(pv));
    }
    // Without occurrence rules the instance rule holds on both paths.
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "schematic", "I1"));
    EXPECT_EQ(bindNow(pv, {"X", "lib", "buf", "symbol", true, false}).binding, "lib.buf:schematic");

    // An occurrence rule set through one path vector holds in another at once.
    PathVectorRecord* other = atTop(c);
    ASSERT_TRUE(zelPushCell(other, "lib", "adder", "schematic", "I2"));
    OccurrenceInstance* occ = zelFindOrCreateOccInst(c, zelFindOrCreateOccInst(c, nullptr, "lib", "top", "schematic",
                                                                                "I2"),
                                                     "lib", "adder", "schematic", "X");
    ASSERT_TRUE(zelReplaceOccInstBinding(occ, "alt", "nand2", "schematic"));
    EXPECT_EQ(bindNow(other, {"X", "lib", "buf", "symbol"}).binding, "alt.nand2:schematic");
    EXPECT_EQ(bindNow(pv, {"X", "lib", "buf", "symbol"}).binding, "other.buf:symbol");
}

}  // namespace
