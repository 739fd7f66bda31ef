// Inputs far beyond everyday sizes: a configuration file of a million rules
// opens whole, and a design deeper than a path vector holds is refused with a
// warning.
#include <chrono>
#include <cstdio>
#include <string>

#include "fixture.h"

namespace {

using zeltest::anyWarningHas;
using zeltest::str;
using zeltest::warnings;

// The 32-bit build runs under user-mode emulation, many times slower than a
// native one: it reads a tenth of the file, through the same paths.
constexpr int kRules = sizeof(void*) == 8 ? 1000000 : 100000;

class BigInputTest : public zeltest::LibraryTest {};

TEST_F(BigInputTest, HugeRuleFileOpensWhole) {
    // kRules instance rules in one cell view, and one cell rule per thousand.
    const std::string file = root + "/million.zel";
    {
        std::string text = "zelvek-config 1\ntop lib top schematic\n";
        text.reserve(static_cast<std::size_t>(kRules) * 48);
        for (int i = 0; i < kRules; ++i) {
            const std::string n = std::to_string(i);
            if (i % 1000 == 0) text += "cell lib c" + n + "\n  views \"gate schematic\"\n";
            text += "inst lib top schematic I" + n + "\n  view-binding v" + n + "\n";
        }
        zeltest::writeFile(file, text);
    }
    const auto start = std::chrono::steady_clock::now();
    ConfigRecord* c = zelOpenPartialConfig(file.c_str(), "r");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_NE(c, nullptr) << (warnings().empty() ? "" : warnings()[0]);
    std::printf("[ figures  ] %d rules opened in %.2f s\n", kRules, seconds);

    CellRecord* top = zelFindCell(c, "lib", "top");
    ASSERT_NE(top, nullptr);
    CellViewRecord* schematic = zelFindCellCellView(c, top, "schematic");
    ASSERT_NE(schematic, nullptr);
    int count = 0;
    for (const InstRuleRecord* r = schematic->instRules; r != nullptr; r = r->next) ++count;
    EXPECT_EQ(count, kRules);
    const std::string last = std::to_string(kRules - 1);
    InstRuleRecord* lastRule = zelFindCellViewInst(c, schematic, ("I" + last).c_str());
    ASSERT_NE(lastRule, nullptr);
    EXPECT_EQ(str(zelGetInstViewBinding(lastRule)), "v" + last);
    EXPECT_EQ(zelFindCellViewInst(c, schematic, ("I" + std::to_string(kRules)).c_str()), nullptr);
    const std::string lastCell = "c" + std::to_string((kRules - 1) / 1000 * 1000);
    CellRecord* cell = zelFindCell(c, "lib", lastCell.c_str());
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(str(cell->viewList), "gate schematic");
    EXPECT_TRUE(zelClose(c));
}

TEST_F(BigInputTest, TenThousandLevelsAreRefusedAtTheDepthLimit) {
    ConfigRecord* c = newConfig();
    PathVectorRecord* pv = zelCreatePathVector(c);
    ASSERT_NE(pv, nullptr);
    int entered = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::string n = std::to_string(i);
        entered += zelPushCell(pv, "lib", ("c" + n).c_str(), "schematic", i == 0 ? nullptr : ("I" + n).c_str()) ? 1 : 0;
    }
    EXPECT_EQ(entered, ZEL_MAX_DEPTH);
    EXPECT_EQ(warnings().size(), static_cast<std::size_t>(10000 - ZEL_MAX_DEPTH)) << "one warning per refusal";
    EXPECT_TRUE(anyWarningHas("at most " + std::to_string(ZEL_MAX_DEPTH) + " levels"))
        << (warnings().empty() ? "no warning" : warnings()[0]);
    EXPECT_EQ(zelGetContextVectorIndex(pv), ZEL_MAX_DEPTH - 1);
    for (int i = 0; i < ZEL_MAX_DEPTH; ++i) ASSERT_EQ(str(zelGetIndexCellName(pv, i)), "c" + std::to_string(i));
    EXPECT_EQ(str(pv->contexts[ZEL_MAX_DEPTH - 1]->instName), "(null)") << "a refused push changes nothing";
    int popped = 0;
    while (zelPopCell(pv)) ++popped;
    EXPECT_EQ(popped, ZEL_MAX_DEPTH);
    EXPECT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    zelDestroyPathVector(pv);
}

}  // namespace
