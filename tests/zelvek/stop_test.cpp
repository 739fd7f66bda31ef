// zelGetAllMatchingStopRules: every stop rule that matches the current level.
#include "bind_design.h"

namespace {

using zeltest::str;

using Codes = std::vector<int>;

Codes codesOf(const StopRule* stops) {
    Codes out;
    for (; stops && stops->rule; ++stops) out.push_back(stops->code);
    return out;
}

class StopTest : public zeltest::DesignTest {
protected:
    // top (lib.top:schematic) -> I1 -> lib.adder:symbol
    PathVectorRecord* inAdder(ConfigRecord* c, const char* inst = "I1") {
        PathVectorRecord* pv = pathVector(c);
        EXPECT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
        EXPECT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", inst));
        return pv;
    }
};

TEST_F(StopTest, EachKindOfRuleAndSeveralAtOnce) {
    struct Case {
        const char* what;
        std::string body;
        Codes codes;
    } cases[] = {
        {"no stop rule", "default-stops layout\n", {}},
        {"the view in the default stop list", "default-stops \"layout symbol\"\n", {1}},
        {"constants in the stop list", "constant S symbol\ndefault-stops \"$(S)\"\n", {1}},
        {"the library rule of the current library", "library lib\n  stops symbol\n", {5}},
        {"another library's rule", "library other\n  stops symbol\n", {}},
        {"a stop point on the cell", "cell lib adder\n  stop\n", {6}},
        {"on the cell in any library", "cell * adder\n  stop\n", {6}},
        {"both cell rules", "cell lib adder\n  stop\ncell * adder\n  stop\n", {6, 6}},
        {"a stop point on the cell above is not this level's", "cell lib top\n  stop\n", {}},
        {"on the instance that entered the level", "inst lib top schematic I1\n  stop\n", {8}},
        {"on that instance in any view", "inst * top * I1\n  stop\n", {8}},
        {"on another instance", "inst lib top schematic I2\n  stop\n", {}},
        {"on the occurrence of the path", "occurrence I1\n  stop\n", {13}},
        {"on an occurrence below it", "occurrence I1 U1\n  stop\n", {}},
        {"all at once",
         "default-stops symbol\nlibrary lib\n  stops symbol\ncell lib adder\n  stop\n"
         "inst lib top schematic I1\n  stop\noccurrence I1\n  stop\n",
         {1, 5, 6, 8, 13}},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ConfigRecord* c = configWith(k.body, ("c" + std::to_string(n++)).c_str());
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(codesOf(zelGetAllMatchingStopRules(inAdder(c))), k.codes);
    }
}

// Each element designates the record of the rule that matched.
TEST_F(StopTest, RulesAreTheirRecords) {
    ConfigRecord* c = configWith(
        "default-stops symbol\nlibrary lib\n  stops symbol\ncell lib adder\n  stop\ncell * adder\n  stop\n"
        "inst lib top * I1\n  stop\ninst lib top schematic I1\n  stop\noccurrence I1\n  stop\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = inAdder(c);
    StopRule* stops = zelGetAllMatchingStopRules(pv);
    ASSERT_EQ(codesOf(stops), (Codes{1, 5, 6, 6, 8, 8, 13}));
    CellRecord* top = zelFindCell(c, "lib", "top");
    EXPECT_EQ(stops[0].rule, c);
    EXPECT_EQ(str(static_cast<const LibraryRuleRecord*>(stops[1].rule)->libName), "lib");
    EXPECT_EQ(stops[2].rule, zelFindCell(c, "lib", "adder"));
    EXPECT_EQ(stops[3].rule, zelFindCell(c, nullptr, "adder"));
    EXPECT_EQ(stops[4].rule, zelFindCellViewInst(c, zelFindCellCellView(c, top, "schematic"), "I1"))
        << "the view's rule before the any-view one";
    EXPECT_EQ(stops[5].rule, zelFindCellInst(c, top, "I1"));
    ASSERT_TRUE(zelPop(pv));
    EXPECT_EQ(stops[6].rule, zelGetContextOccInst(pv, "I1"));
    EXPECT_EQ(stops[7].rule, nullptr);
    EXPECT_EQ(stops[7].code, 0);
}

TEST_F(StopTest, TheLevelDecides) {
    ConfigRecord* c = configWith("default-stops schematic\ncell lib top\n  stop\ninst lib top schematic I1\n  stop\n"
                                 "occurrence I1\n  stop\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    StopRule* none = zelGetAllMatchingStopRules(pv);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none[0].rule, nullptr) << "no level, no stop";
    EXPECT_EQ(zelGetAllMatchingStopRules(nullptr), nullptr);

    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    EXPECT_EQ(codesOf(zelGetAllMatchingStopRules(pv)), (Codes{1, 6})) << "the top: no instance, no occurrence";
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I1"));
    EXPECT_EQ(codesOf(zelGetAllMatchingStopRules(pv)), (Codes{8, 13}));
    ASSERT_TRUE(zelPopCell(pv));
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I2"));
    StopRule* sibling = zelGetAllMatchingStopRules(pv);
    EXPECT_EQ(codesOf(sibling), Codes{}) << "the sibling path";

    // The rules are read at each call: an edit shows at the next one.
    ASSERT_TRUE(zelSetObjStop(c, "lib", "top", "schematic", "I2", 1));
    ASSERT_TRUE(zelReplaceOccInstStop(zelFindOrCreateOccInst(c, nullptr, "lib", "top", "schematic", "I2"), 1));
    ASSERT_TRUE(zelSetObjStop(c, nullptr, "adder", nullptr, nullptr, 1));
    EXPECT_EQ(codesOf(sibling), Codes{}) << "an answer already given stays as it was";
    StopRule* now = zelGetAllMatchingStopRules(pv);
    EXPECT_EQ(codesOf(now), (Codes{6, 8, 13}));
    // A bind on the same path vector leaves the array alone.
    zeltest::bindNow(pv, {"X", "lib", "buf", "symbol"});
    EXPECT_EQ(codesOf(now), (Codes{6, 8, 13}));
    ASSERT_TRUE(zelReplaceOccInstStop(zelFindOrCreateOccInst(c, nullptr, "lib", "top", "schematic", "I2"), 0));
    ASSERT_TRUE(zelSetObjStop(c, nullptr, "adder", nullptr, nullptr, 0));
    EXPECT_EQ(codesOf(zelGetAllMatchingStopRules(pv)), (Codes{8}));
}

// A popped level is pushed again for the next cell and keeps what it found
// while its names stand: under other names it answers for them.
TEST_F(StopTest, ALevelPushedAgainAnswersForItsNewNames) {
    ConfigRecord* c = configWith("default-stops symbol\nlibrary lib\n  stops layout\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    const struct {
        const char *lib, *view;
        Codes codes;
    } pushes[] = {{"lib", "symbol", {1}}, {"lib", "symbol", {1}}, {"lib", "layout", {5}},
                  {"other", "layout", {}}, {"lib", "schematic", {}}};
    for (const auto& p : pushes) {
        SCOPED_TRACE(std::string(p.lib) + " " + p.view);
        ASSERT_TRUE(zelPushCell(pv, p.lib, "adder", p.view, nullptr));
        EXPECT_EQ(codesOf(zelGetAllMatchingStopRules(pv)), p.codes);
        ASSERT_TRUE(zelPopCell(pv));
    }
}

}  // namespace
