// zelBind3: one case per line of the precedence and per flag, over a design
// on disk; the answers read as the bridge reads them.
#include "bind_design.h"

namespace {

using zeltest::BindArgs;
using zeltest::Bound;
using zeltest::bindNow;
using zeltest::str;

constexpr uint32_t kByRule = ZEL_BIND_BY_RULE;
constexpr uint32_t kAlt = ZEL_BIND_ALT_RULE;
constexpr uint32_t kMissing = ZEL_BIND_VIEW_MISSING;

const std::string D = "default-views \"schematic symbol\"\ndefault-libs \"lib other\"\n";
const std::string I1 = "inst lib top schematic I1\n";

struct Case {
    const char* what;
    std::string body;
    BindArgs args;
    const char* binding;
    int libRule, viewRule, bindRule, altRule;
    uint32_t flags;
    const char* libList;
    const char* viewList;
    const char* viewListFromSource;
    const char* libOnCell;
};

const BindArgs buf{"I1", "lib", "buf", "symbol"};
const BindArgs bufNoOcc{"I1", "lib", "buf", "symbol", true, false};
const BindArgs bufUnchecked{"I1", "lib", "buf", "symbol", false};
const BindArgs otherBuf{"I1", "other", "buf", "symbol"};
const BindArgs inv{"I1", "lib", "inv", "symbol"};
const BindArgs nand2{"I1", "lib", "nand2", "symbol"};
const BindArgs nand2Unchecked{"I1", "lib", "nand2", "symbol", false};
const BindArgs reg{"I1", "lib", "reg", "schematic"};

const Case cases[] = {
    // The library list.
    {"default library list", D, buf, "lib.buf:schematic", 1, 1, 1, 0, 0, "lib other", "schematic symbol",
     "schematic symbol", "(none)"},
    {"instance library list", D + I1 + "  libs other\n", buf, "other.buf:schematic", 8, 1, 1, 0, 0, "other",
     "schematic symbol", "schematic symbol", "(none)"},
    {"library-qualified cell rule's list", D + "cell lib buf\n  libs other\n", buf, "other.buf:schematic", 6, 1, 1, 0,
     0, "other", "schematic symbol", "schematic symbol", "(none)"},
    {"any-library cell rule's list; a library without the cell is passed over", D + "cell * buf\n  libs \"alt other\"\n",
     buf, "other.buf:schematic", 6, 1, 1, 0, 0, "alt other", "schematic symbol", "schematic symbol", "(none)"},
    {"library-qualified cell rule before the any-library one", D + "cell lib buf\n  libs other\ncell * buf\n  libs alt\n",
     buf, "other.buf:schematic", 6, 1, 1, 0, 0, "other", "schematic symbol", "schematic symbol", "(none)"},
    {"instance list before the cell rule's", D + I1 + "  libs lib\ncell lib buf\n  libs other\n", buf,
     "lib.buf:schematic", 8, 1, 1, 0, 0, "lib", "schematic symbol", "schematic symbol", "(none)"},
    {"empty list: the master's library, then the level's", "default-views \"schematic symbol\"\ndefault-libs \"\"\n",
     otherBuf, "other.buf:schematic", 1, 1, 1, 0, 0, "other lib", "schematic symbol", "schematic symbol", "(none)"},
    {"no list at all: the same", "default-views \"schematic symbol\"\n", otherBuf, "other.buf:schematic", 1, 1, 1, 0, 0,
     "other lib", "schematic symbol", "schematic symbol", "(none)"},
    {"a list with words is searched alone: not the master's library, nor the level's",
     "default-views \"schematic symbol\"\ndefault-libs alt\n", otherBuf, "open", 1, 1, 0, 0, 0, "alt",
     "schematic symbol", "schematic symbol", "(none)"},
    {"constants in the library list", "constant L other\ndefault-views \"schematic symbol\"\ndefault-libs \"$(L)\"\n",
     buf, "other.buf:schematic", 1, 1, 1, 0, 0, "other", "schematic symbol", "schematic symbol", "(none)"},

    // The view list.
    {"library rule of the master's library", D + "library lib\n  views symbol\n", buf, "lib.buf:symbol", 1, 5, 5, 0, 0,
     "lib other", "symbol", "symbol", "(none)"},
    {"another library's rule does not apply", D + "library other\n  views symbol\n", buf, "lib.buf:schematic", 1, 1, 1,
     0, 0, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"cell rule's list before the library rule's", D + "library lib\n  views schematic\ncell lib buf\n  views symbol\n",
     buf, "lib.buf:symbol", 1, 6, 6, 0, 0, "lib other", "symbol", "symbol", "(none)"},
    {"any-library cell rule's list", D + "cell * buf\n  views symbol\n", buf, "lib.buf:symbol", 1, 6, 6, 0, 0,
     "lib other", "symbol", "symbol", "(none)"},
    {"instance list before the cell rule's", D + "cell lib buf\n  views schematic\n" + I1 + "  views symbol\n", buf,
     "lib.buf:symbol", 1, 8, 8, 0, 0, "lib other", "symbol", "symbol", "(none)"},
    {"view-specific instance rule before the any-view one",
     D + "inst lib top * I1\n  views schematic\n" + I1 + "  views symbol\n", buf, "lib.buf:symbol", 1, 8, 8, 0, 0,
     "lib other", "symbol", "symbol", "(none)"},
    {"an any-view instance rule fills in what the view's rule lacks",
     D + "inst lib top * I1\n  libs other\n" + I1 + "  views symbol\n", buf, "other.buf:symbol", 8, 8, 8, 0, 0,
     "other", "symbol", "symbol", "(none)"},
    {"occurrence list before the instance's", D + I1 + "  views schematic\noccurrence I1\n  views symbol\n", buf,
     "lib.buf:symbol", 1, 13, 13, 0, 0, "lib other", "symbol", "symbol", "(none)"},
    {"occurrence rules left out", D + I1 + "  views schematic\noccurrence I1\n  views symbol\n", bufNoOcc,
     "lib.buf:schematic", 1, 8, 8, 0, 0, "lib other", "schematic", "schematic", "(none)"},
    {"constants in the view list", "constant V symbol\ndefault-views \"$(V)  schematic\"\ndefault-libs \"lib other\"\n",
     buf, "lib.buf:symbol", 1, 1, 1, 0, 0, "lib other", "symbol schematic", "$(V)  schematic", "(none)"},
    {"an unknown constant leaves the list empty", "default-views \"$(NOPE)\"\ndefault-libs \"lib other\"\n", buf, "open",
     1, 1, 0, 0, 0, "lib other", "", "$(NOPE)", "(none)"},

    // The binding.
    {"occurrence binding first", D + I1 + "  bind lib buf schematic\noccurrence I1\n  bind other buf symbol\n", buf,
     "other.buf:symbol", 1, 1, 13, 0, kByRule, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"occurrence binding left out", D + I1 + "  bind lib buf schematic\noccurrence I1\n  bind other buf symbol\n",
     bufNoOcc, "lib.buf:schematic", 1, 1, 8, 0, kByRule, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"instance object binding before its view binding", D + I1 + "  view-binding schematic\n  bind other buf symbol\n",
     buf, "other.buf:symbol", 1, 1, 8, 0, kByRule, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"bound to open by three empty names", D + I1 + "  bind \"\" \"\" \"\"\n", buf, "open", 1, 1, 8, 0, kByRule,
     "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"names an object binding leaves out are the master's", D + I1 + "  bind other - -\n", buf, "other.buf:symbol", 1,
     1, 8, 0, kByRule, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"object binding to a view the design lacks", D + I1 + "  bind alt nand2 layout\n", buf, "alt.nand2:layout", 1, 1,
     8, 0, kByRule | kMissing, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"instance view binding", D + I1 + "  view-binding symbol\n", buf, "lib.buf:symbol", 1, 1, 8, 0, kByRule,
     "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"instance view binding: the first library holding the cell view", D + I1 + "  view-binding layout\n", inv,
     "other.inv:layout", 1, 1, 8, 0, kByRule, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"instance view binding the design lacks", D + I1 + "  view-binding layout\n", buf, "lib.buf:layout", 1, 1, 8, 0,
     kByRule | kMissing, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"the same without checkDesign", D + I1 + "  view-binding layout\n", bufUnchecked, "lib.buf:layout", 1, 1, 8, 0,
     kByRule, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"instance view binding whose library a cell rule sets",
     D + "cell * buf\n  libs \"other lib\"\n" + I1 + "  view-binding symbol\n", buf, "other.buf:symbol", 6, 1, 8, 6,
     kByRule | kAlt, "other lib", "schematic symbol", "schematic symbol", "other"},
    {"instance view binding before the cell rule's", D + "cell lib buf\n  view-binding schematic\n" + I1 +
     "  view-binding symbol\n", buf, "lib.buf:symbol", 1, 1, 8, 0, kByRule, "lib other", "schematic symbol",
     "schematic symbol", "(none)"},
    {"cell view binding", D + "cell lib buf\n  view-binding symbol\n", buf, "lib.buf:symbol", 1, 1, 6, 0, kByRule,
     "lib other", "schematic symbol", "schematic symbol", "(null)"},
    {"any-library cell view binding", D + "cell * buf\n  view-binding symbol\n", buf, "lib.buf:symbol", 1, 1, 6, 0,
     kByRule, "lib other", "schematic symbol", "schematic symbol", "(null)"},
    {"cell view binding in the cell rule's own library list",
     D + I1 + "  libs lib\ncell * buf\n  view-binding symbol\n  libs other\n", buf, "other.buf:symbol", 8, 1, 6, 0,
     kByRule, "lib", "schematic symbol", "schematic symbol", "other"},
    {"cell view binding in the instance's library list",
     D + "cell lib buf\n  view-binding symbol\n" + I1 + "  libs other\n", buf, "other.buf:symbol", 8, 1, 6, 8,
     kByRule | kAlt, "other", "schematic symbol", "schematic symbol", "(null)"},
    {"cell object binding", D + "cell lib buf\n  bind alt nand2 schematic\n", buf, "alt.nand2:schematic", 1, 1, 6, 0,
     kByRule, "lib other", "schematic symbol", "schematic symbol", "(null)"},
    {"an empty view binding leaves the instance open", D + I1 + "  view-binding \"\"\n", buf, "open", 1, 1, 8, 0,
     kByRule, "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"view list: the first view the design holds", "default-views \"schematic symbol\"\ndefault-libs lib\n", nand2,
     "lib.nand2:symbol", 1, 1, 1, 0, 0, "lib", "schematic symbol", "schematic symbol", "(none)"},
    {"view list: each view searched through every library first", D, nand2, "other.nand2:schematic", 1, 1, 1, 0, 0,
     "lib other", "schematic symbol", "schematic symbol", "(none)"},
    {"view list without checkDesign: the first library and view, unchecked",
     "default-views \"schematic symbol\"\ndefault-libs lib\n", nand2Unchecked, "lib.nand2:schematic", 1, 1, 1, 0, 0,
     "lib", "schematic symbol", "schematic symbol", "(none)"},
    {"no view of the list in the design: open", "default-views layout\ndefault-libs lib\n", reg, "open", 1, 1, 0, 0, 0,
     "lib", "layout", "layout", "(none)"},
    {"an empty view list: open", "default-views \"\"\ndefault-libs lib\n", buf, "open", 1, 1, 0, 0, 0, "lib", "", "",
     "(none)"},
    {"no view list at all: open", "default-libs lib\n", buf, "open", 1, 1, 0, 0, 0, "lib", "(null)", "(null)",
     "(none)"},
};

class BindTest : public zeltest::DesignTest {};

TEST_F(BindTest, Precedence) {
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ConfigRecord* c = configWith(k.body, ("c" + std::to_string(n++)).c_str());
        ASSERT_NE(c, nullptr) << zeltest::warnings().back();
        PathVectorRecord* pv = pathVector(c);
        ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
        Bound b = bindNow(pv, k.args);
        EXPECT_EQ(b.binding, k.binding);
        EXPECT_EQ(b.libRule, k.libRule);
        EXPECT_EQ(b.viewRule, k.viewRule);
        EXPECT_EQ(b.bindRule, k.bindRule);
        EXPECT_EQ(b.altRule, k.altRule);
        EXPECT_EQ(b.flags, k.flags);
        EXPECT_EQ(b.libList, k.libList);
        EXPECT_EQ(b.viewList, k.viewList);
        EXPECT_EQ(b.viewListFromSource, k.viewListFromSource);
        EXPECT_EQ(b.libOnCell, k.libOnCell);
    }
}

// Each code's source is the record the documentation names.
TEST_F(BindTest, SourcesAreTheRulesRecords) {
    ConfigRecord* c = configWith(D + "library lib\n  views symbol\ncell * buf\n  libs \"other lib\"\n" +
                                 "cell lib adder\n  views symbol\ncell * reg\n  view-binding schematic\n" + I1 +
                                 "  view-binding symbol\n  libs lib\ninst lib top schematic I2\n  views symbol\n"
                                 "occurrence I3\n  views symbol\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    CellViewRecord* topView = zelFindCellCellView(c, zelFindCell(c, "lib", "top"), "schematic");
    InstRuleRecord* i1 = zelFindCellViewInst(c, topView, "I1");
    InstRuleRecord* i2 = zelFindCellViewInst(c, topView, "I2");
    ASSERT_NE(i1, nullptr);
    ASSERT_NE(i2, nullptr);

    Bound b = bindNow(pv, {"I1", "lib", "inv", "symbol"});
    EXPECT_EQ(b.viewRule, ZEL_RULE_LIBRARY);
    EXPECT_EQ(b.viewListFromSource, "symbol") << "the library rule's list where code 5 is read";
    EXPECT_EQ(b.info.bindingSource, i1) << "an instance view binding: its rule";
    EXPECT_EQ(b.info.libListRule, ZEL_RULE_INSTANCE);

    b = bindNow(pv, {"I2", "lib", "buf", "symbol"});
    EXPECT_EQ(b.info.viewListSource, i2);
    EXPECT_EQ(b.info.bindingSource, i2) << "a choice from the view list: the list's rule";

    b = bindNow(pv, {"I3", "lib", "buf", "symbol"});
    ASSERT_NE(zelGetContextOccInst(pv, "I3"), nullptr);
    EXPECT_EQ(b.info.viewListSource, zelGetContextOccInst(pv, "I3"));

    b = bindNow(pv, {"I4", "lib", "buf", "symbol"});
    EXPECT_EQ(b.viewRule, ZEL_RULE_LIBRARY) << "the cell rule of buf holds no view list";
    EXPECT_EQ(b.libRule, ZEL_RULE_CELL);
    EXPECT_EQ(b.binding, "other.buf:symbol");
    EXPECT_EQ(b.info.bindingSource, b.info.viewListSource);

    b = bindNow(pv, {"I1", "lib", "buf", "symbol"});
    EXPECT_EQ(b.binding, "lib.buf:symbol") << "the instance's own list, before the cell rule's";

    b = bindNow(pv, {"I6", "lib", "adder", "symbol"});
    EXPECT_EQ(b.info.viewListSource, zelFindCell(c, "lib", "adder"));

    b = bindNow(pv, {"I7", "lib", "reg", "symbol"});
    EXPECT_EQ(b.binding, "lib.reg:schematic");
    EXPECT_EQ(b.info.bindingSource, zelFindCell(c, nullptr, "reg"));

    b = bindNow(pv, {"I5", "other", "x", nullptr});
    EXPECT_EQ(b.info.viewListSource, c) << "the default list: the configuration";
}

TEST_F(BindTest, BlocksAndLifetime) {
    ConfigRecord* c = configWith(D);
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    PathVectorRecord* second = pathVector(c);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    ASSERT_TRUE(zelPushCell(second, "lib", "top", "schematic", nullptr));

    BindInfo own{};
    own.flags = 0xFFFFFFFF;
    own.owner = &own;
    BindInfo* info = &own;
    BindingRecord binding{};
    ResolvedLists* lists = nullptr;
    EXPECT_EQ(zelBind3(pv, "I1", "lib", "buf", "symbol", 1, 1, 0, &binding, &lists, &info), 1);
    EXPECT_EQ(info, &own) << "a block the caller brings is filled in place";
    EXPECT_EQ(own.flags, 0u);
    EXPECT_EQ(own.owner, nullptr);
    ASSERT_NE(lists, nullptr);

    // Answers stay valid through other calls on this path vector and binds on another.
    const char* view = binding.viewName;
    ZelWords libs = lists->libWords;
    zelGetAllMatchingStopRules(pv);
    zelGetInheritedContextInstViewString(pv, "I1", "lib", "buf", "symbol");
    BindInfo* elsewhere = nullptr;
    BindingRecord other{};
    ResolvedLists* otherLists = nullptr;
    zelBind3(second, "I9", "other", "nand2", "symbol", 1, 1, 0, &other, &otherLists, &elsewhere);
    EXPECT_EQ(str(view), "schematic");
    EXPECT_EQ(zeltest::joined(libs), "lib other");
    ASSERT_NE(elsewhere, nullptr) << "without a block the library hands out its own";
    EXPECT_NE(elsewhere, &own);
    EXPECT_EQ(str(other.libName), "other");

    // A caller may hand back the strings of the last bind.
    EXPECT_EQ(zelBind3(pv, binding.cellName, binding.libName, binding.cellName, binding.viewName, 1, 1, 0, &binding,
                       &lists, &info),
              1);
    EXPECT_EQ(str(binding.libName), "lib");
    EXPECT_EQ(str(binding.cellName), "buf");
    EXPECT_EQ(str(binding.viewName), "schematic");

    // ... and the words of its lists, which the next bind rewrites (a word too
    // long to be held in place: its block is freed).
    ConfigRecord* longLib = configWith("default-views \"schematic symbol\"\n" + I1 + "  libs a_library_of_a_long_name\n",
                                       "longlib");
    PathVectorRecord* third = pathVector(longLib);
    ASSERT_TRUE(zelPushCell(third, "lib", "top", "schematic", nullptr));
    EXPECT_EQ(zelBind3(third, "I1", "lib", "buf", "symbol", 1, 1, 0, &binding, &lists, &info), 1);
    ASSERT_EQ(zeltest::joined(lists->libWords), "a_library_of_a_long_name");
    EXPECT_EQ(zelBind3(third, "I2", lists->libWords[0], "buf", lists->expandedViewWords[1], 1, 1, 0, &binding, &lists,
                       &info),
              1);
    EXPECT_EQ(zeltest::joined(lists->libWords), "a_library_of_a_long_name lib");
    EXPECT_EQ(str(binding.libName) + "." + str(binding.cellName) + ":" + str(binding.viewName), "lib.buf:schematic");

    EXPECT_EQ(zelBind3(nullptr, "I1", "lib", "buf", "symbol", 1, 1, 0, &binding, &lists, &info), 0);
}

TEST_F(BindTest, NoCurrentLevelOrNoMasterCell) {
    ConfigRecord* c = configWith(D + I1 + "  view-binding symbol\ncell lib buf\n  views symbol\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    // No level: no instance or occurrence rule takes part, cell rules do.
    Bound b = bindNow(pv, buf);
    EXPECT_EQ(b.binding, "lib.buf:symbol");
    EXPECT_EQ(b.viewRule, ZEL_RULE_CELL);
    EXPECT_EQ(b.bindRule, ZEL_RULE_CELL);

    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    zeltest::warnings().clear();
    b = bindNow(pv, {"I1", "lib", nullptr, "symbol"});
    EXPECT_EQ(b.binding, "open");
    EXPECT_TRUE(zeltest::anyWarningHas("no master cell")) << "the caller learns why";
    EXPECT_EQ(b.viewRule, ZEL_RULE_DEFAULT);
}

TEST_F(BindTest, UnknownConstantIsReported) {
    ConfigRecord* c = configWith("default-views \"symbol $(NOPE)\"\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    zeltest::warnings().clear();
    Bound b = bindNow(pv, buf);
    EXPECT_EQ(b.binding, "open") << "no view is taken from a list that cannot be expanded";
    EXPECT_TRUE(zeltest::anyWarningHas("NOPE"));
    EXPECT_TRUE(zeltest::anyWarningHas("taken as empty"));
}

TEST_F(BindTest, MostRecentlyBoundView) {
    ConfigRecord* c = configWith("default-views schematic\ndefault-libs \"lib other\"\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    PathVectorRecord* second = pathVector(c);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    ASSERT_TRUE(zelPushCell(second, "lib", "top", "schematic", nullptr));

    EXPECT_EQ(bindNow(pv, buf).binding, "lib.buf:schematic");
    ASSERT_TRUE(zelSetDefaultViewListString(c, "layout"));
    BindArgs recent = buf;
    recent.allowRecent = true;
    Bound b = bindNow(second, recent);
    EXPECT_EQ(b.binding, "lib.buf:schematic") << "through another path vector of the same configuration";
    EXPECT_EQ(b.flags, uint32_t(ZEL_BIND_MOST_RECENT));
    EXPECT_EQ(b.bindRule, 0);
    EXPECT_EQ(bindNow(second, buf).binding, "open") << "only with allowRecent";

    // The most recent binding is the last one made for that cell.
    ASSERT_TRUE(zelReplaceInstViewBinding(c, "lib", "top", "schematic", "I1", "symbol"));
    EXPECT_EQ(bindNow(pv, buf).binding, "lib.buf:symbol");
    EXPECT_EQ(bindNow(second, {"I2", "lib", "buf", "symbol", true, true, true}).binding, "lib.buf:symbol");
    EXPECT_EQ(bindNow(second, {"I2", "other", "buf", "symbol", true, true, true}).binding, "open")
        << "other.buf is another cell";
    // A binding to a view the design lacks is not remembered.
    ASSERT_TRUE(zelReplaceInstViewBinding(c, "lib", "top", "schematic", "I1", "layout"));
    EXPECT_EQ(bindNow(pv, buf).flags, kByRule | kMissing);
    EXPECT_EQ(bindNow(second, {"I2", "lib", "buf", "symbol", true, true, true}).binding, "lib.buf:symbol");

    // Another configuration has its own memory.
    ConfigRecord* fresh = configWith("default-views layout\n", "fresh");
    PathVectorRecord* third = pathVector(fresh);
    ASSERT_TRUE(zelPushCell(third, "lib", "top", "schematic", nullptr));
    EXPECT_EQ(bindNow(third, {"I2", "lib", "buf", "symbol", true, true, true}).binding, "open");
}

// A path vector that binds a cell as it did last time, after another path
// vector bound it otherwise, makes its binding the most recent again.
TEST_F(BindTest, MostRecentAfterAnotherPathVectorsBinding) {
    ConfigRecord* c = configWith(D + "inst lib top schematic I2\n  view-binding symbol\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pvs[3] = {pathVector(c), pathVector(c), pathVector(c)};
    for (PathVectorRecord* pv : pvs) ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    EXPECT_EQ(bindNow(pvs[0], buf).binding, "lib.buf:schematic");
    EXPECT_EQ(bindNow(pvs[1], {"I2", "lib", "buf", "symbol"}).binding, "lib.buf:symbol");
    EXPECT_EQ(bindNow(pvs[0], buf).binding, "lib.buf:schematic");
    ASSERT_TRUE(zelSetDefaultViewListString(c, "layout"));
    EXPECT_EQ(bindNow(pvs[2], {"I1", "lib", "buf", "symbol", true, true, true}).binding, "lib.buf:schematic");
}

// The design is looked at once per cell view while the configuration is open.
TEST_F(BindTest, DesignIsLookedAtOncePerConfiguration) {
    ConfigRecord* c = configWith("default-views \"layout schematic\"\ndefault-libs lib\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    EXPECT_EQ(bindNow(pv, buf).binding, "lib.buf:schematic");
    std::filesystem::create_directories(root + "/libs/lib/buf/layout");
    EXPECT_EQ(bindNow(pv, buf).binding, "lib.buf:schematic") << "the open configuration keeps what it saw";
    ConfigRecord* again = configWith("default-views \"layout schematic\"\ndefault-libs lib\n", "again");
    PathVectorRecord* fresh = pathVector(again);
    ASSERT_TRUE(zelPushCell(fresh, "lib", "top", "schematic", nullptr));
    EXPECT_EQ(bindNow(fresh, buf).binding, "lib.buf:layout") << "a configuration opened later sees the new view";
}

// The walk of docs/binding.md, step by step.
TEST_F(BindTest, WorkedExample) {
    ConfigRecord* c = configWith(
        "default-views \"schematic symbol\"\ndefault-libs \"lib other\"\ndefault-stops symbol\n"
        "constant GATE symbol\nlibrary lib\n  views \"$(GATE) schematic\"\ncell * buf\n  libs \"other lib\"\n"
        "inst lib top schematic I1\n  views \"schematic symbol\"\n  libs \"other lib\"\n"
        "inst lib top schematic I2\n  view-binding layout\noccurrence I1 X\n  bind alt nand2 schematic\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    EXPECT_EQ(str(zelGetIndexViewList(pv, 0)), "schematic symbol");

    Bound b = bindNow(pv, {"I1", "lib", "adder", "symbol"});  // step 1
    EXPECT_EQ(b.binding, "lib.adder:schematic");
    EXPECT_EQ(b.libRule, 8);
    EXPECT_EQ(b.viewRule, 8);
    EXPECT_EQ(b.bindRule, 8);
    EXPECT_EQ(b.flags, 0u);
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "schematic", "I1"));
    EXPECT_EQ(str(zelGetIndexViewList(pv, 1)), "schematic symbol");
    EXPECT_EQ(zelGetAllMatchingStopRules(pv)[0].rule, nullptr);

    b = bindNow(pv, {"X", "lib", "buf", "symbol"});  // step 2
    EXPECT_EQ(b.binding, "alt.nand2:schematic");
    EXPECT_EQ(b.libRule, 6);
    EXPECT_EQ(b.viewRule, 5);
    EXPECT_EQ(b.bindRule, 13);
    EXPECT_EQ(b.flags, kByRule);

    b = bindNow(pv, {"Y", "lib", "buf", "symbol"});  // step 3
    EXPECT_EQ(b.binding, "other.buf:symbol");
    EXPECT_EQ(b.libRule, 6);
    EXPECT_EQ(b.viewRule, 5);
    EXPECT_EQ(b.bindRule, 5);
    EXPECT_EQ(b.viewList, "symbol schematic");
    EXPECT_EQ(b.viewListFromSource, "$(GATE) schematic");
    ASSERT_TRUE(zelPushCell(pv, "other", "buf", "symbol", "Y"));
    StopRule* stops = zelGetAllMatchingStopRules(pv);
    EXPECT_EQ(stops[0].code, 1);
    EXPECT_EQ(stops[1].rule, nullptr);
    ASSERT_TRUE(zelPopCell(pv));

    b = bindNow(pv, {"Z", "other", "inv", "layout"});  // step 4
    EXPECT_EQ(b.binding, "lib.inv:schematic");
    EXPECT_EQ(b.libRule, 8);
    EXPECT_EQ(b.viewRule, 8);
    EXPECT_EQ(b.bindRule, 8);
    EXPECT_EQ(b.flags, uint32_t(ZEL_BIND_LIBLIST_INHERIT | ZEL_BIND_VIEWLIST_INHERIT));

    ASSERT_TRUE(zelPopCell(pv));  // step 5
    b = bindNow(pv, {"I2", "lib", "inv", "symbol"});
    EXPECT_EQ(b.binding, "other.inv:layout");
    EXPECT_EQ(b.bindRule, 8);
    EXPECT_EQ(b.flags, kByRule);
    b = bindNow(pv, {"I2", "lib", "adder", "symbol"});
    EXPECT_EQ(b.binding, "lib.adder:layout");
    EXPECT_EQ(b.flags, kByRule | kMissing);
}

}  // namespace

// Binds and stop queries keep the lists they split; an edit between two calls
// is seen by the second all the same, and a list whose constants fail warns
// on every bind.
TEST_F(BindTest, EditsBetweenCallsAreSeen) {
    ConfigRecord* c = configWith("constant V symbol\ndefault-views \"$(V) schematic\"\ndefault-libs lib\n"
                                 "default-stops layout\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    EXPECT_EQ(bindNow(pv, buf).viewList, "symbol schematic");
    // Cell rules made after a bind of their master cell take part in the next.
    for (const char* lib : {"lib", static_cast<const char*>(nullptr)}) {
        ASSERT_TRUE(zelReplaceCellViewList(c, lib, "buf", "layout"));
        EXPECT_EQ(bindNow(pv, buf).viewList, "layout") << (lib ? lib : "any library");
        ASSERT_TRUE(zelDeleteCellViewList(c, lib, "buf"));
        EXPECT_EQ(bindNow(pv, buf).viewList, "symbol schematic");
    }
    ASSERT_TRUE(zelReplaceConst(c, "V", "schematic"));
    EXPECT_EQ(bindNow(pv, buf).viewList, "schematic schematic") << "a constant changed";
    ASSERT_TRUE(zelSetDefaultViewListString(c, "$(V)"));
    EXPECT_EQ(bindNow(pv, buf).viewList, "schematic") << "the list's text changed";
    EXPECT_EQ(bindNow(pv, buf).libList, "lib");
    ASSERT_TRUE(zelSetDefaultLibListString(c, "xy"));  // shorter: rewritten where "lib" stood
    EXPECT_EQ(bindNow(pv, buf).libList, "xy") << "the words of the last bind's list are not kept past an edit";
    ASSERT_TRUE(zelDeleteConst(c, "V"));
    for (int k = 0; k < 2; ++k) {
        zeltest::warnings().clear();
        EXPECT_EQ(bindNow(pv, buf).binding, "open");
        EXPECT_TRUE(zeltest::anyWarningHas("taken as empty")) << "bind " << k;
    }

    ASSERT_TRUE(zelPushCell(pv, "lib", "buf", "layout", "I1"));
    StopRule* stops = zelGetAllMatchingStopRules(pv);
    ASSERT_NE(stops, nullptr);
    EXPECT_EQ(stops[0].code, ZEL_RULE_DEFAULT);
    ASSERT_TRUE(zelSetDefaultStopListString(c, "symbol"));
    stops = zelGetAllMatchingStopRules(pv);
    ASSERT_NE(stops, nullptr);
    EXPECT_EQ(stops[0].rule, nullptr) << "the stop list changed";
    // A cell stop added after the push is seen at the level already pushed.
    ASSERT_TRUE(zelSetObjStop(c, "lib", "buf", nullptr, nullptr, 1));
    stops = zelGetAllMatchingStopRules(pv);
    ASSERT_NE(stops, nullptr);
    EXPECT_EQ(stops[0].code, ZEL_RULE_CELL);
}
