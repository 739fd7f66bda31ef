// Inputs far beyond everyday sizes: a configuration file of a million rules
// opens whole, a huge line or more rules than memory holds are refused with a
// warning, and a design deeper than a path vector holds is refused with a
// warning.
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
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

// The sanitizers reserve terabytes of address space, and the 32-bit build
// runs under emulation: neither can be capped; Windows has no setrlimit;
// qemu-user (the ARM64 build) accepts RLIMIT_AS but does not enforce it.
#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32) || defined(ZEL_UNDER_QEMU)
constexpr bool kCanCap = false;
#else
constexpr bool kCanCap = sizeof(void*) == 8;
#endif
#ifdef ZEL_UNDER_QEMU
constexpr const char* kNoCap = "qemu-user does not enforce RLIMIT_AS: the memory cap cannot be tested here";
#else
constexpr const char* kNoCap = "the address space of this build cannot be capped";
#endif

// Runs body in a child whose address space may grow by `room` bytes; the
// child's exit status, or 128 + the signal that ended it.
int underCap(size_t room, const std::function<int()>& body) {
#ifdef _WIN32
    (void)room;
    (void)body;
    return -1;
#else
    pid_t child = fork();
    if (child == 0) {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + room;
        struct rlimit limit{cap, cap};
        _exit(pages > 0 && setrlimit(RLIMIT_AS, &limit) == 0 ? body() : 90);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
}

// Inputs that once made an open use memory without bound, each opened where
// memory is short: refused with a warning, the process goes on.
TEST_F(BigInputTest, HugeInputsAreRefusedWithinTheirMemory) {
    if (!kCanCap) GTEST_SKIP() << kNoCap;
    struct Case {
        const char* what;
        std::string text;
        size_t room;
        const char* says;
    } cases[] = {
        // Every word of the line was stored first: 30 million words took
        // some 1.4 GB before the error at the third.
        {"a 60 MB line of 30 million words", "zelvek-config 1\nnote", 256u << 20,
         "2:8: unexpected text after the note line"},
        // The rules of 40 MB need some 300 MB: more than the child may have.
        {"40 MB of rules, with 64 MB to spare", "zelvek-config 1\n", 64u << 20, "not enough memory"},
    };
    for (int i = 0; i < 30000000; ++i) cases[0].text += " w";
    for (int i = 0; cases[1].text.size() < (40u << 20); ++i)
        cases[1].text += "inst lib top schematic I" + std::to_string(i) + "\n  view-binding v\n";
    for (const auto& c : cases) {
        const std::string file = root + "/big.zel";
        zeltest::writeFile(file, c.text);
        const int status = underCap(c.room, [&] {
            warnings().clear();
            if (zelOpenPartialConfig(file.c_str(), "r") != nullptr) return 1;
            return warnings().size() == 1 && anyWarningHas(file) && anyWarningHas(c.says) ? 0 : 2;
        });
        EXPECT_EQ(status, 0) << c.what << " (1: opened, 2: another warning, 128+n: ended by signal n)";
    }
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
