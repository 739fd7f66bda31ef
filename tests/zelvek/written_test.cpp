// Rules as written: the listing against the file for every kind of rule, set
// and remove by the same names, and files that keep their shape.
#include <regex>

#include "fixture.h"

namespace {

using zeltest::anyWarningHas;
using zeltest::readFile;
using zeltest::warnings;
using zeltest::writeFile;

struct Listed {
    std::string kind, property, comment;
    int line = 0;
    std::vector<std::string> scope, values;  // "*" and "-" for null
};

std::string orMark(const char* s, const char* mark) { return s ? s : mark; }

std::vector<Listed> listed(ConfigRecord* c) {
    const ZelStringList* l = zelListRules(c);
    std::vector<Listed> out;
    int32_t i = 0;
    while (l && i < l->count) {
        Listed r;
        r.kind = l->items[i++];
        r.property = orMark(l->items[i++], "");
        r.line = std::stoi(l->items[i++]);
        r.comment = orMark(l->items[i++], "");
        for (int n = std::stoi(l->items[i++]); n > 0; --n) r.scope.push_back(orMark(l->items[i++], "*"));
        for (int n = std::stoi(l->items[i++]); n > 0; --n) r.values.push_back(orMark(l->items[i++], "-"));
        out.push_back(r);
    }
    return out;
}

// A list of names for the library: "*" and "-" stand for null.
struct Names {
    explicit Names(std::vector<std::string> names) : text(std::move(names)) {
        for (const std::string& s : text) items.push_back(s == "*" || s == "-" ? nullptr : s.c_str());
        list.count = static_cast<int32_t>(items.size());
        list.items = items.data();
    }
    std::vector<std::string> text;
    std::vector<const char*> items;
    ZelStringList list{};
};

std::string withoutRevision(const std::string& text) {
    return std::regex_replace(text, std::regex("\nrevision [0-9]+\n"), "\nrevision N\n");
}

class WrittenTest : public zeltest::LibraryTest {
protected:
    std::string file() const { return configFile("lib", "top", "config"); }
};

// Each kind of rule: listed as the file holds it (line, comment, scope,
// values), set to another value by its names (only its line changes), then
// removed (its line and comment go).
TEST_F(WrittenTest, EveryKindOfRuleAgainstTheFile) {
    struct Case {
        const char* text;      // the rule's lines in the file
        const char* kind;
        std::vector<std::string> scope;
        const char* property;  // "" for a setting
        std::vector<std::string> values, newValues;
        const char* newLine;   // the rule's line once set anew
    } cases[] = {
        {"top lib top schematic", "top", {}, "", {"lib", "top", "schematic"}, {"lib", "top", "-"}, "top lib top -"},
        {"default-views \"a b\"", "default-views", {}, "", {"a b"}, {"c"}, "default-views c"},
        {"default-libs lib", "default-libs", {}, "", {"lib"}, {"other lib"}, "default-libs \"other lib\""},
        {"default-stops symbol", "default-stops", {}, "", {"symbol"}, {""}, "default-stops \"\""},
        {"constant T t45", "constant", {"T"}, "", {"t45"}, {"t7"}, "constant T t7"},
        {"note \"hello there\"", "note", {}, "", {"hello there"}, {"bye"}, "note bye"},
        {"library lib\n  views \"s l\"", "library", {"lib"}, "views", {"s l"}, {"x"}, "  views x"},
        {"library lib\n  stops layout", "library", {"lib"}, "stops", {"layout"}, {"symbol"}, "  stops symbol"},
        {"cell * inv\n  view-binding sch", "cell", {"*", "inv"}, "view-binding", {"sch"}, {"lay"}, "  view-binding lay"},
        {"cell lib inv\n  bind a b c", "cell", {"lib", "inv"}, "bind", {"a", "b", "c"}, {"", "", ""},
         "  bind \"\" \"\" \"\""},
        {"cell lib inv\n  views v", "cell", {"lib", "inv"}, "views", {"v"}, {"w"}, "  views w"},
        {"cell lib inv\n  libs l", "cell", {"lib", "inv"}, "libs", {"l"}, {"m"}, "  libs m"},
        {"inst * alu * NEG\n  view-binding sch", "inst", {"*", "alu", "*", "NEG"}, "view-binding", {"sch"},
         {"lay"}, "  view-binding lay"},
        {"inst lib alu s I1\n  libs l", "inst", {"lib", "alu", "s", "I1"}, "libs", {"l"}, {"m"}, "  libs m"},
        {"inst lib alu s I1\n  bind a b -", "inst", {"lib", "alu", "s", "I1"}, "bind", {"a", "b", "-"},
         {"a", "b", "c"}, "  bind a b c"},
        {"occurrence I1 U7\n  bind a b c", "occurrence", {"I1", "U7"}, "bind", {"a", "b", "c"}, {"x", "y", "z"},
         "  bind x y z"},
        {"occurrence I1\n  views \"a b\"", "occurrence", {"I1"}, "views", {"a b"}, {"c"}, "  views c"},
    };
    for (const Case& k : cases) {
        const std::string before = "zelvek-config 1\nlocation lib top config\nrevision 3\n# why\n" + std::string(k.text) + "   # end\n";
        writeFile(file(), before);
        ConfigRecord* c = openConfig("lib", "top", "config", "a");
        ASSERT_NE(c, nullptr) << k.text;
        std::vector<Listed> rules = listed(c);
        ASSERT_EQ(rules.size(), 1u) << k.text;
        const Listed& r = rules[0];
        EXPECT_EQ(r.kind, k.kind);
        EXPECT_EQ(r.property, k.property) << k.text;
        EXPECT_EQ(r.scope, k.scope) << k.text;
        EXPECT_EQ(r.values, k.values) << k.text;
        EXPECT_EQ(r.line, *k.property ? 6 : 5) << k.text;
        EXPECT_EQ(r.comment, "# why\n# end") << k.text;

        const Names scope(k.scope), values(k.newValues);
        const char* property = *k.property ? k.property : nullptr;
        ASSERT_TRUE(zelSetRule(c, k.kind, &scope.list, property, &values.list)) << k.text;
        EXPECT_EQ(listed(c)[0].values, k.newValues) << k.text;
        ASSERT_TRUE(zelSave(c));
        std::string lines = before;
        const size_t last = lines.rfind('\n', lines.size() - 2) + 1;
        lines.replace(last, lines.find("   # end") - last, k.newLine);
        // Note lines are known by their place: a note set anew is new lines, without the old comments.
        if (std::string(k.kind) == "note") lines = "zelvek-config 1\nlocation lib top config\nrevision 3\nnote bye\n";
        EXPECT_EQ(withoutRevision(readFile(file())), withoutRevision(lines)) << k.text;

        ASSERT_TRUE(zelRemoveRule(c, k.kind, &scope.list, property)) << k.text;
        EXPECT_FALSE(zelRemoveRule(c, k.kind, &scope.list, property)) << "nothing left to remove: " << k.text;
        EXPECT_TRUE(listed(c).empty()) << k.text;
        ASSERT_TRUE(zelSave(c));
        EXPECT_EQ(withoutRevision(readFile(file())), "zelvek-config 1\nlocation lib top config\nrevision N\n") << k.text;
        zelClose(c);
        forget(c);
    }
}

TEST_F(WrittenTest, WholeBlocksAndRefusals) {
    writeFile(file(), "zelvek-config 1\nlocation lib top config\ninst lib alu * NEG  # inverters\n  views v\n  stop\ncell lib alu\n  stop\n");
    ConfigRecord* c = openConfig("lib", "top", "config", "a");
    ASSERT_NE(c, nullptr);
    const Names inst({"lib", "alu", "*", "NEG"});
    ASSERT_TRUE(zelRemoveRule(c, "inst", &inst.list, nullptr));
    ASSERT_TRUE(zelSave(c));
    EXPECT_EQ(withoutRevision(readFile(file())), "zelvek-config 1\nlocation lib top config\nrevision N\ncell lib alu\n  stop\n");

    struct Refusal {
        const char* kind;
        std::vector<std::string> scope;
        const char* property;
        std::vector<std::string> values;
        const char* said;
    } refusals[] = {
        {"cel", {"lib", "alu"}, "stop", {}, "unknown kind of rule"},
        {"cell", {"lib"}, "stop", {}, "named by 2 names, not 1"},
        {"cell", {"lib", "*"}, "stop", {}, "cannot be '*'"},
        {"cell", {"lib", ""}, "stop", {}, "is empty"},
        {"cell", {"lib", "alu"}, "stops", {}, "no property of a cell rule"},
        {"cell", {"lib", "alu"}, "views", {"a", "b"}, "takes 1 value, not 2"},
        {"library", {"*"}, "views", {"a"}, "cannot be '*'"},
        {"top", {}, nullptr, {"a"}, "takes 3 values"},
        {"constant", {}, nullptr, {"a"}, "named by its name alone"},
        {"note", {}, "views", {"a"}, "has no properties"},
    };
    for (const Refusal& r : refusals) {
        warnings().clear();
        const Names scope(r.scope), values(r.values);
        EXPECT_FALSE(zelSetRule(c, r.kind, &scope.list, r.property, &values.list)) << r.said;
        EXPECT_TRUE(anyWarningHas(r.said)) << r.said << ": " << (warnings().empty() ? "" : warnings()[0]);
    }
    EXPECT_FALSE(zelConfigIsModified(c)) << "a refused rule changes nothing";
}

// Hand-written files: saved unchanged they come back byte for byte but for
// the revision; a rule set and set back leaves them so; new rules go after
// the last rule of their kind that sorts before them.
TEST_F(WrittenTest, HandWrittenFilesKeepTheirShape) {
    const std::string text =
        "# our chip\r\n"
        "zelvek-config 1\r\n"
        "location lib top config\r\n"
        "revision 4\r\n"
        "\r\n"
        "# inverters anywhere use their behavioral model\r\n"
        "cell * inv\r\n"
        "\tview-binding behavioral   # for speed\r\n"
        "cell stdcells dff\r\n"
        "  views \"schematic   symbol\"\r\n"
        "\r\n"
        "occurrence I1 \"U 7\"\r\n"
        "  stop\r\n"
        "inst design alu * NEG\r\n"
        "    view-binding schematic\r\n"
        "constant TECH t45\r\n"
        "\r\n"
        "# end of file";
    writeFile(file(), text);
    ConfigRecord* c = openConfig("lib", "top", "config", "a");
    ASSERT_NE(c, nullptr) << (warnings().empty() ? "" : warnings()[0]);
    ASSERT_TRUE(zelSave(c));
    const std::string saved = readFile(file());
    EXPECT_EQ(std::regex_replace(saved, std::regex("revision 5"), "revision 4"), text);

    const Names neg({"design", "alu", "*", "NEG"}), layout({"layout"}), schematic({"schematic"});
    ASSERT_TRUE(zelSetRule(c, "inst", &neg.list, "view-binding", &layout.list));
    ASSERT_TRUE(zelSave(c));
    EXPECT_NE(readFile(file()).find("inst design alu * NEG\r\n  view-binding layout\r\nconstant"), std::string::npos);
    ASSERT_TRUE(zelSetRule(c, "inst", &neg.list, "view-binding", &schematic.list));
    ASSERT_TRUE(zelSave(c));
    EXPECT_EQ(std::regex_replace(readFile(file()), std::regex("revision 7"), "revision 4"),
              std::regex_replace(text, std::regex("    view-binding"), "  view-binding"))
        << "set and set back: only the rule's own line is made anew";

    const Names alpha({"*", "alpha"}), zeta({"stdcells", "zeta"}), stop({});
    ASSERT_TRUE(zelSetRule(c, "cell", &alpha.list, "stop", &stop.list));
    ASSERT_TRUE(zelSetRule(c, "cell", &zeta.list, "stop", &stop.list));
    ASSERT_TRUE(zelSave(c));
    const std::string grown = readFile(file());
    EXPECT_NE(grown.find("# inverters anywhere use their behavioral model\r\ncell * inv\r\n"), std::string::npos);
    EXPECT_NE(grown.find("cell * alpha\r\n  stop\r\n\r\n# inverters"), std::string::npos)
        << "before the first of its kind, above that one's comment:\n" << grown;
    EXPECT_NE(grown.find("symbol\"\r\ncell stdcells zeta\r\n  stop\r\n"), std::string::npos)
        << "after the last of its kind that sorts before it:\n" << grown;

    // The listing is the file's order, with the lines a save wrote.
    std::vector<Listed> rules = listed(c);
    ASSERT_EQ(rules.size(), 7u);
    EXPECT_EQ(rules[0].kind + " " + rules[0].scope[1], "cell alpha");
    EXPECT_EQ(rules[1].comment, "# inverters anywhere use their behavioral model\n# for speed");
    EXPECT_EQ(rules[3].kind + " " + rules[3].scope[1], "cell zeta");
    EXPECT_EQ(rules[4].kind, "occurrence");
    EXPECT_EQ(rules[4].scope, (std::vector<std::string>{"I1", "U 7"}));
    EXPECT_EQ(rules[6].kind, "constant");
    EXPECT_EQ(rules[6].line, static_cast<int>(std::count(grown.begin(), grown.begin() + grown.find("constant"), '\n')) + 1);
}

TEST_F(WrittenTest, LibraryDefinitionsAreListed) {
    std::filesystem::remove_all(root + "/libs/other");
    int32_t state = 0;
    vekInitialize((root + "/kwo.lib").c_str(), nullptr, &state);
    ZelStringList* libs = zelListLibraries(0);
    ASSERT_NE(libs, nullptr);
    ASSERT_EQ(libs->count, 4);
    EXPECT_STREQ(libs->items[0], "lib");
    EXPECT_EQ(std::string(libs->items[1]), root + "/libs/lib");
    EXPECT_STREQ(libs->items[2], "other");
    zelFreeStringList(libs);
    ZelStringList* problems = zelListLibraries(1);
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->count, 1);
    EXPECT_NE(std::string(problems->items[0]).find("'other': directory"), std::string::npos) << problems->items[0];
    zelFreeStringList(problems);
}

}  // namespace
