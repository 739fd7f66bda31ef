// Cell, instance and object rules, constants and the note, as the records show them.
#include "fixture.h"

namespace {

using zeltest::anyWarningHas;
using zeltest::str;
using zeltest::warnings;

class RulesTest : public zeltest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        c = newConfig();
        ASSERT_NE(c, nullptr);
    }

    std::vector<std::string> chain(const InstRuleRecord* r) {
        std::vector<std::string> names;
        for (; r; r = r->next) names.push_back(str(r->name));
        return names;
    }

    std::vector<std::string> words(ZelWords w) {
        std::vector<std::string> out;
        for (; w && *w; ++w) out.push_back(*w);
        return out;
    }

    ConfigRecord* c = nullptr;
};

TEST_F(RulesTest, CellRulesByLibraryOrAnyLibrary) {
    ASSERT_TRUE(zelReplaceCellViewBinding(c, "lib", "inv", "symbol"));
    ASSERT_TRUE(zelReplaceCellViewList(c, nullptr, "inv", "schematic symbol"));
    CellRecord* qualified = zelFindCell(c, "lib", "inv");
    CellRecord* any = zelFindCell(c, nullptr, "inv");
    ASSERT_NE(qualified, nullptr);
    ASSERT_NE(any, nullptr);
    EXPECT_NE(qualified, any);
    EXPECT_EQ(zelFindCell(c, "other", "inv"), nullptr) << "no fall-back from one library to another";
    ASSERT_NE(qualified->viewBinding, nullptr);
    EXPECT_EQ(str(qualified->viewBinding->viewName), "symbol");
    EXPECT_EQ(qualified->viewList, nullptr);
    EXPECT_EQ(any->viewBinding, nullptr);
    EXPECT_EQ(str(any->viewList), "schematic symbol");
    EXPECT_EQ(str(qualified->libName), "lib");
    EXPECT_EQ(any->libName, nullptr);

    ASSERT_TRUE(zelReplaceCellViewBinding(c, "lib", "inv", "layout"));
    EXPECT_EQ(zelFindCell(c, "lib", "inv"), qualified) << "a replaced rule keeps its record";
    EXPECT_EQ(str(qualified->viewBinding->viewName), "layout");
    ASSERT_TRUE(zelDeleteCellViewBinding(c, "lib", "inv"));
    EXPECT_EQ(qualified->viewBinding, nullptr) << "a deleted rule's record stays readable, empty";
    EXPECT_EQ(zelFindCell(c, "lib", "inv"), nullptr) << "a cell without rules is not found";
    EXPECT_FALSE(zelDeleteCellViewBinding(c, "lib", "inv")) << "nothing left to delete";
    ASSERT_TRUE(zelDeleteCellViewList(c, nullptr, "inv"));
    EXPECT_FALSE(zelDeleteCellViewList(c, nullptr, "inv"));
    ASSERT_TRUE(zelReplaceCellViewList(c, nullptr, "inv", "x"));
    EXPECT_EQ(zelFindCell(c, nullptr, "inv"), any) << "the same record comes back";
}

TEST_F(RulesTest, LibraryListsOfCells) {
    ASSERT_TRUE(zelReplaceCellLibList(c, "inv", "  lib   other\tthird "));
    CellRecord* any = zelFindCell(c, nullptr, "inv");
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(str(any->libList), "  lib   other\tthird ");
    EXPECT_EQ(words(any->libListWords), (std::vector<std::string>{"lib", "other", "third"}));
    ASSERT_TRUE(zelSetObjLibListStr(c, "lib", "inv", nullptr, nullptr, "lib"));
    CellRecord* qualified = zelFindCell(c, "lib", "inv");
    ASSERT_NE(qualified, nullptr);
    EXPECT_EQ(words(qualified->libListWords), std::vector<std::string>{"lib"});
    ASSERT_TRUE(zelDeleteCellLibList(c, nullptr, "inv"));
    EXPECT_EQ(any->libListWords, nullptr);
    EXPECT_EQ(any->libList, nullptr);
    ASSERT_TRUE(zelDeleteObjLibList(c, "lib", "inv", nullptr, nullptr));
    EXPECT_EQ(zelFindCell(c, "lib", "inv"), nullptr);
    ASSERT_TRUE(zelReplaceCellLibList(c, "inv", ""));
    EXPECT_EQ(words(any->libListWords), std::vector<std::string>{}) << "an empty list is an empty word array";
}

TEST_F(RulesTest, InstanceRulesOfACellViewOrAnyView) {
    ASSERT_TRUE(zelReplaceInstViewBinding(c, "lib", "adder", "schematic", "I2", "symbol"));
    ASSERT_TRUE(zelReplaceInstViewList(c, "lib", "adder", "schematic", "I1", "gate schematic"));
    ASSERT_TRUE(zelReplaceInstViewList(c, "lib", "adder", nullptr, "I3", "symbol"));
    CellRecord* cell = zelFindCell(c, "lib", "adder");
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(chain(cell->instRules), std::vector<std::string>{"I3"});
    CellViewRecord* view = zelFindCellCellView(c, cell, "schematic");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(str(view->viewName), "schematic");
    EXPECT_EQ(chain(view->instRules), (std::vector<std::string>{"I2", "I1"})) << "chains keep the order of creation";
    EXPECT_EQ(zelFindCellCellView(c, cell, "layout"), nullptr);

    InstRuleRecord* i2 = zelFindCellViewInst(c, view, "I2");
    ASSERT_NE(i2, nullptr);
    EXPECT_EQ(str(zelGetInstViewBinding(i2)), "symbol");
    EXPECT_EQ(i2->viewList, nullptr);
    InstRuleRecord* i3 = zelFindCellInst(c, cell, "I3");
    ASSERT_NE(i3, nullptr);
    EXPECT_EQ(str(i3->viewList), "symbol");
    EXPECT_EQ(zelFindCellInst(c, cell, "I2"), nullptr) << "a cell-view rule is not an any-view rule";
    EXPECT_EQ(zelFindCellViewInst(c, view, "I3"), nullptr);

    ASSERT_TRUE(zelSetObjLibListStr(c, "lib", "adder", "schematic", "I2", "lib other"));
    EXPECT_EQ(str(i2->firstValue), "lib other") << "firstValue is the instance's library list";
    ASSERT_TRUE(zelDeleteObjLibList(c, "lib", "adder", "schematic", "I2"));
    EXPECT_EQ(i2->firstValue, nullptr);

    // Deleting the last value unlinks the rule; its record stays and comes back.
    ASSERT_TRUE(zelDeleteInstViewBinding(c, "lib", "adder", "schematic", "I2"));
    EXPECT_EQ(chain(view->instRules), std::vector<std::string>{"I1"});
    EXPECT_EQ(str(i2->name), "I2");
    EXPECT_EQ(i2->viewBinding, nullptr);
    EXPECT_EQ(zelFindCellViewInst(c, view, "I2"), nullptr);
    EXPECT_FALSE(zelDeleteInstViewBinding(c, "lib", "adder", "schematic", "I2"));
    ASSERT_TRUE(zelDeleteInstViewList(c, "lib", "adder", "schematic", "I1"));
    EXPECT_EQ(view->instRules, nullptr);
    EXPECT_EQ(zelFindCellCellView(c, cell, "schematic"), nullptr);
    ASSERT_TRUE(zelDeleteInstViewList(c, "lib", "adder", nullptr, "I3"));
    EXPECT_EQ(zelFindCellInst(c, cell, "I3"), nullptr) << "a deleted any-view rule is not found";
    EXPECT_EQ(cell->instRules, nullptr);
    ASSERT_TRUE(zelReplaceInstViewBinding(c, "lib", "adder", "schematic", "I2", "layout"));
    EXPECT_EQ(zelFindCellViewInst(c, view, "I2"), i2);
    EXPECT_EQ(chain(view->instRules), std::vector<std::string>{"I2"});
}

TEST_F(RulesTest, UnlinkedRuleKeepsItsPlaceInAWalk) {
    for (const char* name : {"A", "B", "C"})
        ASSERT_TRUE(zelReplaceInstViewList(c, "lib", "adder", "schematic", name, "x"));
    CellViewRecord* view = zelFindCellCellView(c, zelFindCell(c, "lib", "adder"), "schematic");
    const InstRuleRecord* cursor = view->instRules->next;  // standing on B
    ASSERT_TRUE(zelDeleteInstViewList(c, "lib", "adder", "schematic", "B"));
    EXPECT_EQ(chain(view->instRules), (std::vector<std::string>{"A", "C"}));
    ASSERT_NE(cursor->next, nullptr);
    EXPECT_EQ(str(cursor->next->name), "C") << "a walk standing on a deleted rule goes on";
}

TEST_F(RulesTest, ObjectRules) {
    // Stop points: the cell itself, or an instance.
    ASSERT_TRUE(zelSetObjStop(c, "lib", "inv", nullptr, nullptr, 1));
    EXPECT_EQ(zelFindCell(c, "lib", "inv")->stop, 1);
    ASSERT_TRUE(zelSetObjStop(c, "lib", "adder", "schematic", "I1", 1));
    CellRecord* adder = zelFindCell(c, "lib", "adder");
    InstRuleRecord* i1 = zelFindCellViewInst(c, zelFindCellCellView(c, adder, "schematic"), "I1");
    ASSERT_NE(i1, nullptr);
    EXPECT_EQ(i1->stop, 1);
    ASSERT_TRUE(zelSetObjStop(c, "lib", "adder", "schematic", "I1", 0));
    EXPECT_EQ(zelFindCell(c, "lib", "adder"), nullptr) << "a cleared stop leaves no rule";

    // Bindings: to a cell view, or to open with three empty names.
    ASSERT_TRUE(zelSetObjBinding(c, "lib", "adder", nullptr, "I2", "other", "nand", "layout"));
    InstRuleRecord* i2 = zelFindCellInst(c, zelFindCell(c, "lib", "adder"), "I2");
    ASSERT_NE(i2, nullptr);
    EXPECT_EQ(str(i2->bindLibName), "other");
    EXPECT_EQ(str(i2->bindCellName), "nand");
    EXPECT_EQ(str(i2->bindViewName), "layout");
    ASSERT_TRUE(zelSetObjBinding(c, "lib", "adder", nullptr, "I2", "", "", ""));
    EXPECT_EQ(str(i2->bindViewName), "");
    EXPECT_NE(zelFindCellInst(c, zelFindCell(c, "lib", "adder"), "I2"), nullptr) << "bound to open is a rule";
    ASSERT_TRUE(zelDeleteObjBinding(c, "lib", "adder", nullptr, "I2"));
    EXPECT_EQ(i2->bindLibName, nullptr);
    EXPECT_FALSE(zelDeleteObjBinding(c, "lib", "adder", nullptr, "I2"));
    ASSERT_TRUE(zelSetObjBinding(c, nullptr, "inv", nullptr, nullptr, "lib", "inv", "symbol"));
    CellRecord* any = zelFindCell(c, nullptr, "inv");
    ASSERT_NE(any, nullptr);
    ASSERT_NE(any->viewBinding, nullptr);
    EXPECT_EQ(str(any->viewBinding->libName), "lib");
    EXPECT_EQ(str(any->viewBinding->viewName), "symbol");
    ASSERT_TRUE(zelDeleteObjBinding(c, nullptr, "inv", nullptr, nullptr));
    EXPECT_EQ(any->viewBinding, nullptr);
}

TEST_F(RulesTest, BadSubjectsAreRefused) {
    EXPECT_FALSE(zelReplaceCellViewBinding(c, "lib", nullptr, "v"));
    EXPECT_FALSE(zelReplaceCellViewBinding(c, "lib", "", "v"));
    EXPECT_FALSE(zelReplaceCellViewList(c, "", "inv", "v"));
    EXPECT_FALSE(zelReplaceInstViewBinding(c, "lib", "adder", "schematic", nullptr, "v"));
    EXPECT_FALSE(zelReplaceInstViewList(c, "lib", "adder", "", "I1", "v"));
    EXPECT_FALSE(zelSetObjStop(c, "lib", nullptr, nullptr, "I1", 1));
    EXPECT_FALSE(zelSetObjBinding(c, "lib", "adder", nullptr, "", "a", "b", "c"));
    EXPECT_FALSE(zelReplaceCellLibList(c, nullptr, "lib"));
    EXPECT_FALSE(zelReplaceInstViewList(nullptr, "lib", "adder", nullptr, "I1", "v"));
    EXPECT_EQ(zelFindCell(c, "lib", nullptr), nullptr);
    EXPECT_EQ(zelFindCellCellView(c, nullptr, "v"), nullptr);
    EXPECT_EQ(zelFindCellInst(c, nullptr, "I1"), nullptr);
    EXPECT_EQ(zelGetInstViewBinding(nullptr), nullptr);
    EXPECT_FALSE(zelConfigIsModified(c)) << "refused edits change nothing";
    ASSERT_TRUE(zelReplaceInstViewList(c, "lib", "adder", nullptr, "I1", nullptr));
    EXPECT_TRUE(zelConfigIsModified(c)) << "every successful edit marks the configuration";
}

std::vector<std::pair<std::string, std::string>> constants(ConfigRecord* c) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const ConstantEntry* e = c->constants; e; e = e->next) out.emplace_back(str(e->name), str(e->value));
    return out;
}

TEST_F(RulesTest, ConstantsKeepTheOrderOfFirstDefinition) {
    ASSERT_TRUE(zelReplaceConst(c, "B", "1"));
    ASSERT_TRUE(zelReplaceConst(c, "A", "2"));
    ASSERT_TRUE(zelReplaceConst(c, "C", "3"));
    ASSERT_TRUE(zelReplaceConst(c, "B", "changed"));
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(constants(c), (std::vector<P>{{"B", "changed"}, {"A", "2"}, {"C", "3"}}));
    const ConstantEntry* a = c->constants->next;
    ASSERT_TRUE(zelDeleteConst(c, "A"));
    EXPECT_EQ(constants(c), (std::vector<P>{{"B", "changed"}, {"C", "3"}}));
    EXPECT_EQ(str(a->name), "A") << "the deleted entry stays readable";
    EXPECT_EQ(a->value, nullptr);
    EXPECT_FALSE(zelDeleteConst(c, "A"));
    EXPECT_FALSE(zelReplaceConst(c, nullptr, "x"));
    EXPECT_FALSE(zelReplaceConst(c, "", "x"));
    ASSERT_TRUE(zelReplaceConst(c, "A", "again"));
    EXPECT_EQ(constants(c), (std::vector<P>{{"B", "changed"}, {"C", "3"}, {"A", "again"}}));
    ASSERT_TRUE(zelReplaceConst(c, "C", nullptr)) << "a null value clears the constant";
    EXPECT_EQ(constants(c), (std::vector<P>{{"B", "changed"}, {"A", "again"}}));
}

TEST_F(RulesTest, ResolvingConstants) {
    zelReplaceConst(c, "VIEWS", "$(MAIN) symbol");
    zelReplaceConst(c, "MAIN", "schematic");
    zelReplaceConst(c, "WHICH", "MAIN");
    zelReplaceConst(c, "SPACED", "  a   b  ");
    zelReplaceConst(c, "EMPTY", "");
    zelReplaceConst(c, "LOOP1", "$(LOOP2)");
    zelReplaceConst(c, "LOOP2", "x $(LOOP1)");
    zelReplaceConst(c, "SELF", "$(SELF)");
    zelReplaceConst(c, "OPEN", "$(");
    zelReplaceConst(c, "CLOSE", "MAIN)");
    struct Case {
        const char* text;
        const char* resolved;  // null: refused
        const char* evaluated;
        const char* warning;
    } cases[] = {
        {"plain text", "plain text", "plain text", nullptr},
        {"$(VIEWS) layout", "schematic symbol layout", "schematic symbol layout", nullptr},
        {"$($(WHICH))", "schematic", "schematic", nullptr},
        {"$(OPEN)$(CLOSE)", "schematic", "schematic", nullptr},
        {"[$(SPACED)]", "[  a   b  ]", "[ a b ]", nullptr},
        {" $(SPACED) ", "   a   b   ", "a b", nullptr},
        {"x$(EMPTY)y", "xy", "xy", nullptr},
        {"$ ( $() $(MAIN", "$ ( $() $(MAIN", "$ ( $() $(MAIN", nullptr},
        {"$(NOPE)", nullptr, nullptr, "unknown constant 'NOPE'"},
        {"$(LOOP1)", nullptr, nullptr, "cycle"},
        {"$(SELF)", nullptr, nullptr, "cycle"},
    };
    for (const auto& k : cases) {
        warnings().clear();
        const char* r = zelResolveConstants(c, k.text);
        EXPECT_EQ(r ? std::string(r) : "(null)", k.resolved ? k.resolved : "(null)") << k.text;
        const char* e = zelEvalConstants(c, k.text);
        EXPECT_EQ(e ? std::string(e) : "(null)", k.evaluated ? k.evaluated : "(null)") << k.text;
        if (k.warning) {
            EXPECT_TRUE(anyWarningHas(k.warning)) << k.text;
        } else {
            EXPECT_TRUE(warnings().empty()) << k.text;
        }
    }
    EXPECT_EQ(zelResolveConstants(c, nullptr), nullptr);
    zelDeleteConst(c, "MAIN");
    EXPECT_EQ(zelResolveConstants(c, "$(VIEWS)"), nullptr) << "a deleted constant is unknown";
}

TEST_F(RulesTest, ExplodingConstantsAreStopped) {
    zelReplaceConst(c, "X0", "ab");
    for (int i = 1; i < 40; ++i) {
        std::string prev = "$(X" + std::to_string(i - 1) + ")";
        zelReplaceConst(c, ("X" + std::to_string(i)).c_str(), (prev + prev).c_str());
    }
    warnings().clear();
    EXPECT_EQ(zelResolveConstants(c, "$(X39)"), nullptr);
    EXPECT_TRUE(anyWarningHas("grow past"));
}

TEST_F(RulesTest, Note) {
    EXPECT_EQ(zelGetNoteString(c), nullptr);
    EXPECT_FALSE(zelDeleteNote(c));
    ASSERT_TRUE(zelReplaceNoteLine(c, "first"));
    EXPECT_EQ(str(zelGetNoteString(c)), "first") << "replacing with no line appends";
    ASSERT_TRUE(zelAddNoteLine(c, "second"));
    ASSERT_TRUE(zelAddNoteLine(c, ""));
    EXPECT_EQ(str(zelGetNoteString(c)), "first\nsecond\n");
    ASSERT_TRUE(zelReplaceNoteLine(c, "third"));
    EXPECT_EQ(str(zelGetNoteString(c)), "first\nsecond\nthird");
    EXPECT_EQ(str(c->noteText), "first\nsecond\nthird");
    EXPECT_FALSE(zelAddNoteLine(c, nullptr));
    ASSERT_TRUE(zelReplaceNoteLine(c, nullptr));
    EXPECT_EQ(str(zelGetNoteString(c)), "first\nsecond") << "a null line clears the last one";
    ASSERT_TRUE(zelDeleteNote(c));
    EXPECT_EQ(zelGetNoteString(c), nullptr);
}

}  // namespace
