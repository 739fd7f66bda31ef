// The instance view strings: the view binding or view list that applies to an
// instance, from its own rules, from every rule a bind uses, raw or expanded.
#include "bind_design.h"

namespace {

using zeltest::str;

const std::string K = "constant V symbol\nconstant L \"schematic  $(V)\"\ndefault-views \"$(L)\"\n";
const std::string I1 = "inst lib top schematic I1\n";

class ViewStringTest : public zeltest::DesignTest {};

TEST_F(ViewStringTest, WhatEachQueryAnswers) {
    struct Case {
        const char* what;
        std::string body;
        const char *instView, *rawInstView, *inherited, *rawInherited, *ownBinding, *ownList, *rawOwnList;
    } cases[] = {
        {"no rule of the instance", K, "(null)", "(null)", "schematic symbol", "$(L)", "(null)", "(null)", "(null)"},
        {"its view list", K + I1 + "  views \"$(V)  layout\"\n", "symbol layout", "$(V)  layout", "symbol layout",
         "$(V)  layout", "(null)", "symbol layout", "$(V)  layout"},
        {"its view binding before its list", K + I1 + "  view-binding \"$(V)\"\n  views layout\n", "symbol", "$(V)",
         "symbol", "$(V)", "symbol", "layout", "layout"},
        {"an occurrence's list before the instance's", K + I1 + "  views layout\noccurrence I1\n  views \"$(V)\"\n",
         "symbol", "$(V)", "symbol", "$(V)", "(null)", "layout", "layout"},
        {"an occurrence binding first", K + I1 + "  view-binding symbol\noccurrence I1\n  bind other buf layout\n",
         "layout", "layout", "layout", "layout", "symbol", "(null)", "(null)"},
        {"bound to open", K + I1 + "  bind \"\" \"\" \"\"\n", "", "", "", "", "(null)", "(null)", "(null)"},
        {"an object binding without a view: the master's", K + I1 + "  bind other buf -\n", "symbol", "symbol",
         "symbol", "symbol", "(null)", "(null)", "(null)"},
        {"a cell rule's view binding counts only as inherited", K + "cell lib buf\n  view-binding layout\n", "(null)",
         "(null)", "layout", "layout", "(null)", "(null)", "(null)"},
        {"a cell rule's view list", K + "cell * buf\n  views \"$(V)\"\n", "(null)", "(null)", "symbol", "$(V)",
         "(null)", "(null)", "(null)"},
        {"the library rule's view list", K + "library lib\n  views layout\n", "(null)", "(null)", "layout", "layout",
         "(null)", "(null)", "(null)"},
        {"a list that cannot be expanded", K + I1 + "  views \"$(NOPE)\"\n", "(null)", "$(NOPE)", "(null)",
         "$(NOPE)", "(null)", "(null)", "$(NOPE)"},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ConfigRecord* c = configWith(k.body, ("c" + std::to_string(n++)).c_str());
        ASSERT_NE(c, nullptr);
        PathVectorRecord* pv = pathVector(c);
        ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
        EXPECT_EQ(str(zelGetContextInstViewString(pv, "I1", "lib", "buf", "symbol")), k.instView);
        EXPECT_EQ(str(zelGetRawContextInstViewString(pv, "I1", "lib", "buf", "symbol")), k.rawInstView);
        EXPECT_EQ(str(zelGetInheritedContextInstViewString(pv, "I1", "lib", "buf", "symbol")), k.inherited);
        EXPECT_EQ(str(zelGetRawInheritedContextInstViewString(pv, "I1", "lib", "buf", "symbol")), k.rawInherited);
        EXPECT_EQ(str(zelGetContextUnInheritedInstViewBinding(pv, "I1")), k.ownBinding);
        EXPECT_EQ(str(zelGetContextUnInheritedInstViewList(pv, "I1")), k.ownList);
        EXPECT_EQ(str(zelGetContextRawUnInheritedInstViewList(pv, "I1")), k.rawOwnList);
    }
}

// A list from the level above counts for the inherited queries alone.
TEST_F(ViewStringTest, ListFromAbove) {
    ConfigRecord* c = configWith(K + I1 + "  views \"layout $(V)\"\n");
    ASSERT_NE(c, nullptr);
    PathVectorRecord* pv = pathVector(c);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    ASSERT_TRUE(zelPushCell(pv, "lib", "adder", "symbol", "I1"));
    EXPECT_EQ(str(zelGetInheritedContextInstViewString(pv, "X", "lib", "buf", "symbol")), "layout symbol");
    EXPECT_EQ(str(zelGetRawInheritedContextInstViewString(pv, "X", "lib", "buf", "symbol")), "layout $(V)");
    EXPECT_EQ(zelGetContextInstViewString(pv, "X", "lib", "buf", "symbol"), nullptr);
    EXPECT_EQ(zelGetContextUnInheritedInstViewList(pv, "X"), nullptr);
    EXPECT_EQ(zelGetContextUnInheritedInstViewList(pv, "I1"), nullptr) << "I1 is an instance of the level above";

    // The queries leave the last bind's answers alone.
    zeltest::Bound b = zeltest::bindNow(pv, {"X", "lib", "buf", "symbol"});
    zelGetInheritedContextInstViewString(pv, "Y", "lib", "inv", "symbol");
    EXPECT_EQ(str(b.record.viewName), "symbol");
    EXPECT_EQ(zeltest::joined(b.lists->expandedViewWords), "layout symbol");

    EXPECT_EQ(zelGetContextInstViewString(nullptr, "X", "lib", "buf", "symbol"), nullptr);
    EXPECT_EQ(zelGetContextUnInheritedInstViewBinding(nullptr, "X"), nullptr);
    PathVectorRecord* empty = pathVector(c);
    EXPECT_EQ(zelGetContextUnInheritedInstViewList(empty, "I1"), nullptr) << "no level, no instance";
    EXPECT_EQ(str(zelGetInheritedContextInstViewString(empty, "I1", "lib", "buf", "symbol")), "schematic symbol");
}

}  // namespace
