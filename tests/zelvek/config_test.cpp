// Opening, saving and closing; failures that must lose nothing.
#include "fixture.h"

namespace {

using zeltest::anyWarningHas;
using zeltest::readFile;
using zeltest::str;
using zeltest::warnings;
using zeltest::writeFile;

class ConfigTest : public zeltest::LibraryTest {
protected:
    // A saved configuration at lib.top:config holding one constant.
    std::string savedConfig() {
        ConfigRecord* c = zelOpen("lib", "top", "config", "w");
        EXPECT_NE(c, nullptr);
        zelReplaceConst(c, "K", "v");
        EXPECT_TRUE(zelSave(c));
        zelClose(c);
        return readFile(configFile("lib", "top", "config"));
    }

    std::vector<std::string> filesIn(const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        return names;
    }
};

TEST_F(ConfigTest, OpenModes) {
    ConfigRecord* w = openConfig("lib", "top", "config", "w");
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(zelConfigIsEditable(w));
    EXPECT_FALSE(zelConfigIsModified(w));
    EXPECT_EQ(zelGetRevision(w), 0);
    EXPECT_EQ(str(zelGetLibName(w)), "lib");
    EXPECT_EQ(str(zelGetCellName(w)), "top");
    EXPECT_EQ(str(zelGetViewName(w)), "config");
    EXPECT_FALSE(std::filesystem::exists(root + "/libs/lib/top")) << "nothing is written before a save";
    zelReplaceConst(w, "K", "v");
    EXPECT_TRUE(zelConfigIsModified(w));
    ASSERT_TRUE(zelSave(w));
    EXPECT_FALSE(zelConfigIsModified(w));
    EXPECT_EQ(zelGetRevision(w), 1);

    ConfigRecord* r = openConfig("lib", "top", "config", "r");
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(zelConfigIsEditable(r));
    EXPECT_EQ(zelGetRevision(r), 1);
    ConfigRecord* a = openConfig("lib", "top", "config", "a");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(zelConfigIsEditable(a));
    ASSERT_NE(a->constants, nullptr);
    EXPECT_EQ(str(a->constants->value), "v");

    // "w" starts empty even where a configuration is stored, and replaces it when saved.
    ConfigRecord* again = openConfig("lib", "top", "config", "w");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->constants, nullptr);
    ASSERT_TRUE(zelSave(again));
    EXPECT_EQ(readFile(configFile("lib", "top", "config")).find("constant"), std::string::npos);
}

TEST_F(ConfigTest, OpenFailuresSayWhy) {
    struct Case {
        const char *lib, *cell, *view, *mode, *why;
    } cases[] = {
        {"nolib", "top", "config", "r", "library 'nolib' is not defined"},
        {"lib", "absent", "config", "r", "no configuration lib.absent:config"},
        {"lib", "absent", "config", "a", "no configuration lib.absent:config"},
        {"lib", "top", "config", "x", "unknown open mode 'x'"},
        {"lib", "top", "config", nullptr, "unknown open mode"},
        {"lib", "top", "config", "rw", "unknown open mode"},
        {"", "top", "config", "w", "library name '' refused"},
        {"lib", ".", "config", "w", "cell name '.' refused"},
        {"lib", "..", "config", "w", "cell name '..' refused"},
        {"lib", "top", "a/b", "w", "view name 'a/b' refused"},
        {"lib", "top", "a\\b", "w", "view name 'a\\b' refused"},
        {"lib", nullptr, "config", "w", "cell name (none) refused"},
        {"lib", "a\xC0\x80" "b", "config", "w", "may not hold a NUL character"},
    };
    for (const auto& c : cases) {
        warnings().clear();
        EXPECT_EQ(zelOpen(c.lib, c.cell, c.view, c.mode), nullptr) << c.why;
        EXPECT_TRUE(anyWarningHas(c.why)) << c.why << " / " << (warnings().empty() ? "(none)" : warnings()[0]);
    }
    warnings().clear();
    EXPECT_EQ(zelOpenWithType("lib", "top", "config", "schematic", "w"), nullptr);
    EXPECT_TRUE(anyWarningHas("view type 'schematic'"));
    ConfigRecord* typed = zelOpenWithType("lib", "top", "config", "config", "w");
    ASSERT_NE(typed, nullptr);
    zelClose(typed);
    EXPECT_TRUE(std::filesystem::is_empty(root + "/libs/lib")) << "refused names create nothing";
}

TEST_F(ConfigTest, WarningsAreModifiedUtf8) {
    // A caller's standard UTF-8 and stray bytes reach the handler as modified UTF-8.
    EXPECT_EQ(zelOpen("\xF0\x9F\x98\x80", "top", "config", "r"), nullptr);
    EXPECT_EQ(zelOpen("lib\xFF", "top", "config", "r"), nullptr);
    ASSERT_EQ(warnings().size(), 2u);
    EXPECT_NE(warnings()[0].find("library '\xED\xA0\xBD\xED\xB8\x80' is not defined"), std::string::npos)
        << warnings()[0];
    EXPECT_NE(warnings()[1].find("library 'lib\xEF\xBF\xBD' is not defined"), std::string::npos) << warnings()[1];
}

TEST_F(ConfigTest, ReadOnlyIsNotSaved) {
    const std::string before = savedConfig();
    ConfigRecord* r = openConfig("lib", "top", "config", "r");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(zelReplaceConst(r, "K", "changed")) << "a read-only configuration can still be edited in memory";
    warnings().clear();
    EXPECT_FALSE(zelSave(r));
    EXPECT_TRUE(anyWarningHas("read-only"));
    EXPECT_TRUE(zelConfigIsModified(r));
    EXPECT_EQ(readFile(configFile("lib", "top", "config")), before);
    // Saved elsewhere, it lives there and is editable.
    ASSERT_TRUE(zelSaveAs(r, "other", "newcell", "newview"));
    EXPECT_TRUE(zelConfigIsEditable(r));
    EXPECT_FALSE(zelConfigIsModified(r));
    EXPECT_EQ(str(zelGetLibName(r)), "other");
    EXPECT_EQ(str(zelGetCellName(r)), "newcell");
    EXPECT_EQ(str(zelGetViewName(r)), "newview");
    EXPECT_EQ(zelGetRevision(r), 2);
    zelReplaceConst(r, "K", "third");
    ASSERT_TRUE(zelSave(r));
    EXPECT_NE(readFile(configFile("other", "newcell", "newview")).find("constant K third"), std::string::npos);
    EXPECT_EQ(readFile(configFile("lib", "top", "config")), before);
}

TEST_F(ConfigTest, SaveAsRefusesBadPlaces) {
    ConfigRecord* c = newConfig();
    ASSERT_NE(c, nullptr);
    zelReplaceConst(c, "K", "v");
    struct Case {
        const char *lib, *cell, *view, *why;
    } cases[] = {
        {"nolib", "c", "v", "is not defined"},
        {"lib", "..", "v", "refused"},
        {"lib", "c", "..", "refused"},
        {"lib", "x/../../..", "v", "refused"},
        {nullptr, "c", "v", "refused"},
    };
    for (const auto& k : cases) {
        warnings().clear();
        EXPECT_FALSE(zelSaveAs(c, k.lib, k.cell, k.view)) << k.why;
        EXPECT_TRUE(anyWarningHas(k.why)) << k.why;
    }
    EXPECT_TRUE(zelConfigIsModified(c));
    EXPECT_EQ(str(zelGetCellName(c)), "top");
    EXPECT_TRUE(std::filesystem::is_empty(root + "/libs/lib"));
}

TEST_F(ConfigTest, LibraryDirectoryMustExistToSave) {
    std::filesystem::remove_all(root + "/libs/other");
    ConfigRecord* c = openConfig("other", "top", "config", "w");
    ASSERT_NE(c, nullptr);
    warnings().clear();
    EXPECT_FALSE(zelSave(c));
    EXPECT_TRUE(anyWarningHas("library directory"));
    EXPECT_FALSE(std::filesystem::exists(root + "/libs/other"));
}

TEST_F(ConfigTest, RenameFailureLosesNothing) {
    ConfigRecord* c = openConfig("lib", "top", "config", "w");
    ASSERT_NE(c, nullptr);
    // Something that is not a file stands where the configuration goes.
    std::filesystem::create_directories(configFile("lib", "top", "config") + "/in-the-way");
    warnings().clear();
    EXPECT_FALSE(zelSave(c));
    EXPECT_TRUE(anyWarningHas("cannot rename"));
    EXPECT_EQ(filesIn(root + "/libs/lib/top/config"), std::vector<std::string>{"config.zel"});
}

TEST_F(ConfigTest, CloseEndsTheConfigurationButPathVectorsKeepIt) {
    ConfigRecord* c = zelOpen("lib", "top", "config", "w");
    ASSERT_NE(c, nullptr);
    zelReplaceInstViewList(c, "lib", "top", "schematic", "I1", "symbol");
    PathVectorRecord* pv = zelCreatePathVector(c);
    ASSERT_NE(pv, nullptr);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    EXPECT_TRUE(zelClose(c));
    EXPECT_FALSE(zelClose(c)) << "closing twice is refused";
    EXPECT_EQ(zelCreatePathVector(c), nullptr) << "a closed configuration takes no new path vectors";
    EXPECT_FALSE(zelSave(c));
    // The path vector still answers from the configuration.
    EXPECT_EQ(pv->config, c);
    EXPECT_EQ(str(zelGetContextCellName(pv)), "top");
    ASSERT_NE(pv->contexts[0]->cellView, nullptr);
    EXPECT_EQ(str(pv->contexts[0]->cellView->instRules->viewList), "symbol");
    PathVectorRecord* copy = zelCopyPathVector(pv);
    ASSERT_NE(copy, nullptr);
    zelDestroyPathVector(pv);
    EXPECT_EQ(str(zelGetContextCellName(copy)), "top") << "released with the last path vector, not before";
    zelDestroyPathVector(copy);
}

TEST_F(ConfigTest, NullConfigurationIsRefused) {
    EXPECT_FALSE(zelSave(nullptr));
    EXPECT_FALSE(zelSaveAs(nullptr, "lib", "a", "b"));
    EXPECT_FALSE(zelClose(nullptr));
    EXPECT_FALSE(zelConfigIsModified(nullptr));
    EXPECT_FALSE(zelConfigIsEditable(nullptr));
    EXPECT_FALSE(zelConfigHasOccRules(nullptr));
    EXPECT_FALSE(zelSetTopCellViewName(nullptr, "a", "b", "c"));
    EXPECT_EQ(zelGetTopLibName(nullptr), nullptr);
    EXPECT_EQ(zelGetRevision(nullptr), 0);
    EXPECT_EQ(zelCreatePathVector(nullptr), nullptr);
}

TEST_F(ConfigTest, TopCellAndDefaults) {
    ConfigRecord* c = newConfig();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(zelGetTopLibName(c), nullptr);
    EXPECT_EQ(zelGetDefaultViewListString(c), nullptr);
    ASSERT_TRUE(zelSetTopCellViewName(c, "lib", "top", "schematic"));
    ASSERT_TRUE(zelSetDefaultViewListString(c, "schematic symbol"));
    ASSERT_TRUE(zelSetDefaultLibListString(c, "lib other"));
    ASSERT_TRUE(zelSetDefaultStopListString(c, "symbol"));
    EXPECT_EQ(str(zelGetTopLibName(c)), "lib");
    EXPECT_EQ(str(zelGetTopCellName(c)), "top");
    EXPECT_EQ(str(zelGetTopViewName(c)), "schematic");
    EXPECT_EQ(str(zelGetDefaultViewListString(c)), "schematic symbol");
    EXPECT_EQ(str(c->defaultViewList), "schematic symbol") << "the record field the bridge reads";
    EXPECT_EQ(str(zelGetDefaultLibListString(c)), "lib other");
    EXPECT_EQ(str(zelGetDefaultStopListString(c)), "symbol");
    ASSERT_TRUE(zelSetTopCellViewName(c, "lib", nullptr, "symbol"));
    EXPECT_EQ(zelGetTopCellName(c), nullptr) << "a null string clears";
    ASSERT_TRUE(zelSetDefaultViewListString(c, nullptr));
    EXPECT_EQ(zelGetDefaultViewListString(c), nullptr);
    ASSERT_TRUE(zelSetDefaultStopListString(c, ""));
    EXPECT_EQ(str(zelGetDefaultStopListString(c)), "") << "empty is a value, not null";
    // Names come back as modified UTF-8 whatever encoding came in.
    ASSERT_TRUE(zelSetTopCellViewName(c, "\xF0\x9F\x98\x80", "bad\xFF", "ok"));
    EXPECT_EQ(str(zelGetTopLibName(c)), "\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(str(zelGetTopCellName(c)), "bad\xEF\xBF\xBD");
}

// A setter reuses the field's block where the new name fits: every length
// change, in either direction, and a name taken from the field itself.
TEST_F(ConfigTest, TopViewThroughItsChanges) {
    ConfigRecord* c = newConfig();
    ASSERT_NE(c, nullptr);
    const std::string longName(300, 'v');
    struct Step {
        const char* name;
        const char* value;  // null: the field's own text from its third byte
        std::string expect;
    } steps[] = {
        {"first", "symbol", "symbol"},
        {"longer", "schematic", "schematic"},
        {"shorter", "sym", "sym"},
        {"longer than the block", longName.c_str(), longName},
        {"back to short", "layout", "layout"},
        {"the same again", "layout", "layout"},
        {"its own tail", nullptr, "yout"},
        {"not ASCII", "\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
        {"ASCII again", "schematic", "schematic"},
        {"empty", "", ""},
        {"after empty", "symbol", "symbol"},
    };
    for (const Step& step : steps) {
        const char* value = step.value != nullptr ? step.value : zelGetTopViewName(c) + 2;
        ASSERT_TRUE(zelSetTopCellViewName(c, "lib", "top", value)) << step.name;
        EXPECT_EQ(str(zelGetTopViewName(c)), step.expect) << step.name;
        EXPECT_EQ(str(zelGetTopLibName(c)), "lib") << step.name;
    }
}

}  // namespace
