// The configuration file: canonical form, quoting, round trips, syntax errors.
#include <regex>

#include "fixture.h"

namespace {

using zeltest::anyWarningHas;
using zeltest::readFile;
using zeltest::str;
using zeltest::warnings;
using zeltest::writeFile;

const char* const kEmojiModified = "\xED\xA0\xBD\xED\xB8\x80";  // U+1F600 as the JVM hands it out
const char* const kEmojiStandard = "\xF0\x9F\x98\x80";

std::string withoutRevision(const std::string& text) {
    return std::regex_replace(text, std::regex("\nrevision [0-9]+\n"), "\nrevision N\n");
}

class FormatTest : public zeltest::LibraryTest {};

TEST_F(FormatTest, CanonicalText) {
    ConfigRecord* c = newConfig();
    ASSERT_NE(c, nullptr);
    zelSetTopCellViewName(c, "lib", "top", "schematic");
    zelSetDefaultViewListString(c, "schematic symbol");
    zelSetDefaultLibListString(c, "lib other");
    zelReplaceConst(c, "TECH", "t45");
    zelReplaceConst(c, "A", "x y");
    zelAddNoteLine(c, "first line");
    zelAddNoteLine(c, "");
    zelReplaceCellViewList(c, "lib", "inv", "symbol");
    zelReplaceCellViewBinding(c, nullptr, "inv", "schematic");
    zelSetObjLibListStr(c, "lib", "adder", nullptr, nullptr, "lib other");
    zelSetObjStop(c, "lib", "adder", nullptr, nullptr, 1);
    zelReplaceInstViewBinding(c, "lib", "adder", "schematic", "I2", "symbol");
    zelReplaceInstViewList(c, "lib", "adder", nullptr, "I1", "gate");
    zelSetObjBinding(c, "lib", "adder", "schematic", "I2", "", "", "");
    OccurrenceInstance* i1 = zelFindOrCreateOccInst(c, nullptr, "lib", "top", "schematic", "I1");
    zelReplaceOccInstStop(zelFindOrCreateOccInst(c, i1, "lib", "adder", "schematic", "X"), 1);
    zelReplaceOccInstBinding(zelFindOrCreateOccInst(c, i1, "lib", "adder", "schematic", "A"), "other", "nand",
                             "layout");
    ASSERT_TRUE(zelSave(c));
    EXPECT_EQ(readFile(configFile("lib", "top", "config")),
              "# zelvek hierarchy configuration\n"
              "zelvek-config 1\n"
              "location lib top config\n"
              "revision 1\n"
              "top lib top schematic\n"
              "default-views \"schematic symbol\"\n"
              "default-libs \"lib other\"\n"
              "constant TECH t45\n"
              "constant A \"x y\"\n"
              "note \"first line\"\n"
              "note \"\"\n"
              "cell * inv\n"
              "  view-binding schematic\n"
              "cell lib adder\n"
              "  libs \"lib other\"\n"
              "  stop\n"
              "inst lib adder * I1\n"
              "  views gate\n"
              "inst lib adder schematic I2\n"
              "  view-binding symbol\n"
              "  bind \"\" \"\" \"\"\n"
              "cell lib inv\n"
              "  views symbol\n"
              "occurrence I1 A\n"
              "  bind other nand layout\n"
              "occurrence I1 X\n"
              "  stop\n");
}

TEST_F(FormatTest, HandWrittenFileKeepsItsShape) {
    writeFile(configFile("lib", "top", "config"),
              "\xEF\xBB\xBFzelvek-config 1\r\n"
              "# written by hand\n"
              "occurrence B\n"
              "\tstop   # a comment after a property\n"
              "cell lib zeta\n"
              "  views \"a   b\"\n"
              "\n"
              "cell * alpha\n"
              "  stop\n"
              "revision 7\n"
              "inst lib zeta * I9\n"
              "  libs x\n"
              "inst lib zeta * I1\n"
              "  libs y\n"
              "location elsewhere x y\n");
    ConfigRecord* c = openConfig("lib", "top", "config", "a");
    ASSERT_NE(c, nullptr) << (warnings().empty() ? "" : warnings()[0]);
    EXPECT_EQ(zelGetRevision(c), 7);
    EXPECT_EQ(str(zelGetCellName(c)), "top") << "a configuration opened in a library is where it was opened";
    ASSERT_TRUE(zelSave(c));
    const std::string first = readFile(configFile("lib", "top", "config"));
    // Every line stays where it was written; the two that no longer say
    // what the configuration holds are written anew, comments kept.
    EXPECT_EQ(first,
              "\xEF\xBB\xBFzelvek-config 1\r\n"
              "# written by hand\n"
              "occurrence B\n"
              "\tstop   # a comment after a property\n"
              "cell lib zeta\n"
              "  views \"a   b\"\n"
              "\n"
              "cell * alpha\n"
              "  stop\n"
              "revision 8\n"
              "inst lib zeta * I9\n"
              "  libs x\n"
              "inst lib zeta * I1\n"
              "  libs y\n"
              "location lib top config\n");
    // Saving again without a change gives the same text but for the revision.
    ASSERT_TRUE(zelSave(c));
    const std::string second = readFile(configFile("lib", "top", "config"));
    EXPECT_NE(first, second);
    EXPECT_EQ(withoutRevision(first), withoutRevision(second));
}

// Comments stay with the line that follows them through edits of the rules
// around them, go with a rule that is deleted, and stay at the end.
TEST_F(FormatTest, CommentsStayWithTheirLines) {
    const std::string head = "# The team's.\nzelvek-config 1\n";
    const std::string mid = "location lib top config\nrevision 1\n# defaults\ndefault-views symbol\n"
                            "constant TECH t45   # the process\n# any library\ncell * inv\n  # prefer\n";
    const std::string tail = "# the adder\ncell lib adder\n  views gate\n# I1\ninst lib adder * I1\n  libs other\n";
    writeFile(configFile("lib", "top", "config"),
              head + mid + "  view-binding symbol\n" + tail +
                  "\n# I2 goes away\ninst lib adder * I2\n  libs x\noccurrence A\n  stop\n\n# the end\n");
    ConfigRecord* c = openConfig("lib", "top", "config", "a");
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(zelDeleteObjLibList(c, "lib", "adder", nullptr, "I2"));  // the rule goes, its comment with it
    ASSERT_TRUE(zelSetObjStop(c, "lib", "able", nullptr, nullptr, 1));    // a cell that sorts before the adder
    ASSERT_TRUE(zelReplaceCellViewBinding(c, nullptr, "inv", "schematic"));
    ASSERT_TRUE(zelSave(c));
    const std::string kept = head + std::regex_replace(mid, std::regex("revision 1"), "revision 2") +
                             "  view-binding schematic\ncell lib able\n  stop\n" + tail +
                             "\noccurrence A\n  stop\n\n# the end\n";
    EXPECT_EQ(readFile(configFile("lib", "top", "config")), kept);
    // Made again after the save that dropped it, the rule comes back without
    // its comment; read back, the file keeps every comment where it was.
    ASSERT_TRUE(zelSetObjLibListStr(c, "lib", "adder", nullptr, "I2", "x"));
    ASSERT_TRUE(zelSave(c));
    const std::string again = readFile(configFile("lib", "top", "config"));
    EXPECT_EQ(withoutRevision(again), withoutRevision(std::regex_replace(kept, std::regex("\noccurrence A"),
                                                                         "inst lib adder * I2\n  libs x\n\noccurrence A")));
    ConfigRecord* reread = openConfig("lib", "top", "config", "a");
    ASSERT_TRUE(reread && zelSave(reread));
    EXPECT_EQ(withoutRevision(readFile(configFile("lib", "top", "config"))), withoutRevision(again));
}

TEST_F(FormatTest, QuotingOfValues) {
    struct Case {
        const char* what;
        std::string value;
        std::string written;
    } cases[] = {
        {"plain", "plain", "plain"},
        {"empty", "", "\"\""},
        {"dash is no value when bare", "-", "\"-\""},
        {"star is any when bare", "*", "\"*\""},
        {"comment start", "#x", "\"#x\""},
        {"hash inside", "a#b", "a#b"},
        {"blank", "two words", "\"two words\""},
        {"quote", "say \"hi\"", "\"say \\\"hi\\\"\""},
        {"backslash", "back\\slash", "\"back\\\\slash\""},
        {"tab and newline", "t\tn\nr\r", "\"t\\tn\\nr\\r\""},
        {"NUL character", "a\xC0\x80", "\"a\\u{0}\""},
        {"lone surrogate", "\xED\xA0\x80", "\"\\u{D800}\""},
        {"control character", "bell\x07", "\"bell\\u{7}\""},
        {"supplementary character", std::string("smile") + kEmojiModified, std::string("smile") + kEmojiStandard},
        {"latin", "gr\xC3\xBC\xC3\x9F", "gr\xC3\xBC\xC3\x9F"},
        {"no-break space", "a\xC2\xA0" "b", "\"a\xC2\xA0" "b\""},
    };
    for (const auto& c : cases) {
        ConfigRecord* cfg = openConfig("lib", "quote", "config", "w");
        ASSERT_NE(cfg, nullptr);
        ASSERT_TRUE(zelReplaceConst(cfg, "K", c.value.c_str()));
        ASSERT_TRUE(zelSave(cfg)) << c.what;
        const std::string text = readFile(configFile("lib", "quote", "config"));
        EXPECT_NE(text.find("\nconstant K " + c.written + "\n"), std::string::npos) << c.what << "\n" << text;
        ConfigRecord* back = openConfig("lib", "quote", "config", "r");
        ASSERT_NE(back, nullptr) << c.what << ": " << (warnings().empty() ? "" : warnings().back());
        ASSERT_NE(back->constants, nullptr);
        EXPECT_EQ(str(back->constants->value), c.value) << c.what;
    }
}

// Everything the functions can set, with awkward names, comes back equal.
TEST_F(FormatTest, RoundTripOfAwkwardNames) {
    const std::string odd = std::string("a \"b\" \\ ") + kEmojiModified + "\xC0\x80" + "\xED\xB0\x80" + "-*#";
    const char* o = odd.c_str();
    ConfigRecord* c = newConfig();
    ASSERT_NE(c, nullptr);
    zelSetTopCellViewName(c, o, "-", "*");
    zelSetDefaultViewListString(c, o);
    zelSetDefaultLibListString(c, "");
    zelSetDefaultStopListString(c, o);
    zelReplaceConst(c, o, o);
    zelAddNoteLine(c, o);
    zelReplaceCellViewBinding(c, o, o, o);
    zelReplaceCellViewList(c, nullptr, o, o);
    zelReplaceCellLibList(c, o, o);
    zelSetObjBinding(c, "*", o, nullptr, nullptr, o, nullptr, "");
    zelReplaceInstViewBinding(c, o, o, o, o, o);
    zelReplaceInstViewList(c, o, o, nullptr, o, o);
    zelSetObjLibListStr(c, nullptr, o, o, o, o);
    zelSetObjStop(c, nullptr, o, o, o, 1);
    OccurrenceInstance* top = zelFindOrCreateOccInst(c, nullptr, nullptr, nullptr, nullptr, o);
    zelReplaceOccInstBinding(zelFindOrCreateOccInst(c, top, nullptr, nullptr, nullptr, "-"), o, "", nullptr);
    zelFindOrCreateOccInst(c, top, nullptr, nullptr, nullptr, "empty leaf");
    ASSERT_TRUE(zelSave(c));
    const std::string text = readFile(configFile("lib", "top", "config"));
    EXPECT_NE(text.find(kEmojiStandard), std::string::npos) << "files hold standard UTF-8";
    EXPECT_EQ(text.find("\xED\xA0\xBD"), std::string::npos) << "no surrogate pair reaches the file";

    ConfigRecord* b = openConfig("lib", "top", "config", "r");
    ASSERT_NE(b, nullptr) << (warnings().empty() ? "" : warnings().back());
    EXPECT_EQ(str(zelGetTopLibName(b)), odd);
    EXPECT_EQ(str(zelGetTopCellName(b)), "-");
    EXPECT_EQ(str(zelGetTopViewName(b)), "*");
    EXPECT_EQ(str(zelGetDefaultViewListString(b)), odd);
    EXPECT_EQ(str(zelGetDefaultLibListString(b)), "");
    EXPECT_EQ(str(zelGetDefaultStopListString(b)), odd);
    ASSERT_NE(b->constants, nullptr);
    EXPECT_EQ(str(b->constants->name), odd);
    EXPECT_EQ(str(zelGetNoteString(b)), odd);
    CellRecord* qualified = zelFindCell(b, o, o);
    ASSERT_NE(qualified, nullptr);
    ASSERT_NE(qualified->viewBinding, nullptr);
    EXPECT_EQ(str(qualified->viewBinding->viewName), odd);
    CellRecord* any = zelFindCell(b, nullptr, o);
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(str(any->viewList), odd);
    EXPECT_EQ(str(any->libList), odd);
    CellRecord* star = zelFindCell(b, "*", o);
    ASSERT_NE(star, nullptr) << "a library named '*' is not 'any library'";
    EXPECT_EQ(str(star->viewBinding->libName), odd);
    EXPECT_EQ(star->viewBinding->cellName, nullptr);
    EXPECT_EQ(str(star->viewBinding->viewName), "");
    InstRuleRecord* inView = zelFindCellViewInst(b, zelFindCellCellView(b, qualified, o), o);
    ASSERT_NE(inView, nullptr);
    EXPECT_EQ(str(zelGetInstViewBinding(inView)), odd);
    InstRuleRecord* anyView = zelFindCellInst(b, qualified, o);
    ASSERT_NE(anyView, nullptr);
    EXPECT_EQ(str(anyView->viewList), odd);
    InstRuleRecord* anyLib = zelFindCellViewInst(b, zelFindCellCellView(b, any, o), o);
    ASSERT_NE(anyLib, nullptr);
    EXPECT_EQ(str(anyLib->firstValue), odd);
    EXPECT_EQ(anyLib->stop, 1);
    EXPECT_TRUE(zelConfigHasOccRules(b));

    // The occurrences, through a path vector at the top.
    PathVectorRecord* pv = zelCreatePathVector(b);
    ASSERT_TRUE(zelPushCell(pv, "lib", "top", "schematic", nullptr));
    OccurrenceInstance* t = zelGetContextOccInst(pv, o);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(zelPushCell(pv, "lib", "sub", "schematic", o));
    OccurrenceInstance* dash = zelGetContextOccInst(pv, "-");
    ASSERT_NE(dash, nullptr);
    EXPECT_EQ(str(dash->bindLibName), odd);
    EXPECT_EQ(str(dash->bindCellName), "");
    EXPECT_EQ(dash->bindViewName, nullptr);
    EXPECT_NE(zelGetContextOccInst(pv, "empty leaf"), nullptr) << "an occurrence without rules is kept too";
    zelDestroyPathVector(pv);

    // Written again from what was read, the text is the same.
    ASSERT_TRUE(zelSaveAs(b, "lib", "top", "copy"));
    std::string again = readFile(configFile("lib", "top", "copy"));
    EXPECT_EQ(std::regex_replace(withoutRevision(again), std::regex("location lib top copy"), "location lib top config"),
              withoutRevision(text));
}

// An occurrence path of n instances I1 ... In, on one line.
std::string occurrenceLine(int n) {
    std::string line = "occurrence";
    for (int i = 1; i <= n; ++i) line += " I" + std::to_string(i);
    return line + "\n";
}

TEST_F(FormatTest, SyntaxErrorsSayWhere) {
    // Where the 257th instance of a path starts: after "occurrence", the
    // blank and name of each instance before it, and its own blank.
    int column257 = 12;
    for (int i = 1; i <= 256; ++i) column257 += 1 + static_cast<int>(std::to_string(i).size()) + 1;
    struct Case {
        std::string text;
        std::string where;
        const char* what;
    } cases[] = {
        {"", "1:1", "expected 'zelvek-config 1'"},
        {"cell lib inv\n", "1:1", "expected 'zelvek-config 1'"},
        {"zelvek-config 2\n", "1:15", "format version '2'"},
        {"zelvek-config 1\nfoo\n", "2:1", "unknown statement 'foo'"},
        {"zelvek-config 1\n  views x\n", "2:3", "outside a block"},
        {"zelvek-config 1\ncell lib\n", "2:9", "expected a cell name"},
        {"zelvek-config 1\ncell lib inv\n  colour red\n", "3:3", "unknown property 'colour' in a cell block"},
        {"zelvek-config 1\nconstant A \"open\n", "2:12", "unterminated quoted text"},
        {"zelvek-config 1\nconstant A \"bad\\q\"\n", "2:16", "unknown escape"},
        {"zelvek-config 1\nconstant A \"\\u{110000}\"\n", "2:13", "beyond U+10FFFF"},
        {"zelvek-config 1\nconstant A \"\\u{}\"\n", "2:13", "expected \\u{HEX}"},
        {"zelvek-config 1\nrevision -3\n", "2:10", "expected a revision number"},
        {"zelvek-config 1\nrevision 99999999999\n", "2:10", "expected a revision number"},
        {"zelvek-config 1\ntop lib top\n", "2:12", "expected a view name"},
        {"zelvek-config 1\ncell lib inv extra\n", "2:14", "unexpected text after the cell name"},
        {"zelvek-config 1\ninst lib adder - I1\n", "2:16", "expected a view name or '*', not '-'"},
        {"zelvek-config 1\ncell lib \"\"\n", "2:10", "not an empty name"},
        {"zelvek-config 1\nconstant \xC3\xBC\xC3\xBC \"x\" y\n", "2:17", "unexpected text"},
        {"zelvek-config 1\nconstant A a\"b\n", "2:13", "a quote inside a name"},
        {"zelvek-config 1\nconstant A \"a\"b\n", "2:15", "expected a blank after the closing quote"},
        {"zelvek-config 1\noccurrence I1\n  bind a b\n", "3:11", "expected a view name or '-'"},
        {"zelvek-config 1\nlibrary lib\n  stop\n", "3:3", "unknown property 'stop' in a library block"},
        {"zelvek-config 1\n" + occurrenceLine(257), "2:" + std::to_string(column257),
         "an occurrence path of more than 256 instances"},
    };
    for (const auto& c : cases) {
        const std::string file = configFile("lib", "bad", "config");
        writeFile(file, c.text);
        warnings().clear();
        EXPECT_EQ(openConfig("lib", "bad", "config", "a"), nullptr) << c.text;
        ASSERT_EQ(warnings().size(), 1u) << c.text;
        const std::string& w = warnings()[0];
        EXPECT_NE(w.find(file + ":" + c.where + ": "), std::string::npos) << c.text << "\n" << w;
        EXPECT_NE(w.find(c.what), std::string::npos) << c.text << "\n" << w;
        EXPECT_EQ(readFile(file), c.text) << "a failed open leaves the file alone";
    }
}

TEST_F(FormatTest, LongLinesAndDeepOccurrences) {
    // A line of a million words: refused at its second word, and read in time
    // proportional to its length (counting each word's column from the start
    // of the line took hours).
    std::string words;
    for (int i = 0; i < 1000000; ++i) words += " w";
    const std::string file = configFile("lib", "long", "config");
    writeFile(file, "zelvek-config 1\nnote" + words + "\n");
    warnings().clear();
    EXPECT_EQ(openConfig("lib", "long", "config", "r"), nullptr);
    EXPECT_TRUE(anyWarningHas(file + ":2:8: unexpected text after the note line"))
        << (warnings().empty() ? "no warning" : warnings()[0]);

    // As deep as a path vector goes: read, saved and read back the same.
    writeFile(configFile("lib", "deep", "config"), "zelvek-config 1\n" + occurrenceLine(256) + "  stop\n");
    ConfigRecord* deep = openConfig("lib", "deep", "config", "a");
    ASSERT_NE(deep, nullptr);
    ASSERT_TRUE(zelSaveAs(deep, "lib", "deep", "copy"));
    const std::string saved = readFile(configFile("lib", "deep", "copy"));
    EXPECT_NE(saved.find(occurrenceLine(256) + "  stop\n"), std::string::npos) << saved;
    EXPECT_NE(openConfig("lib", "deep", "copy", "r"), nullptr);
}

TEST_F(FormatTest, PartialOpenTakesThePlaceTheFileRecords) {
    const std::string path = root + "/loose.zel";
    writeFile(path, "zelvek-config 1\nlocation lib adder config\nrevision 3\ndefault-views symbol\n");
    ConfigRecord* c = zelOpenPartialConfig(path.c_str(), "a");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(str(zelGetLibName(c)), "lib");
    EXPECT_EQ(str(zelGetCellName(c)), "adder");
    EXPECT_EQ(str(zelGetViewName(c)), "config");
    EXPECT_EQ(zelGetRevision(c), 3);
    EXPECT_TRUE(zelConfigIsEditable(c));
    zelSetDefaultViewListString(c, "layout");
    ASSERT_TRUE(zelSave(c));
    EXPECT_NE(readFile(path).find("revision 4\ndefault-views layout\n"), std::string::npos) << readFile(path);
    EXPECT_FALSE(std::filesystem::exists(configFile("lib", "adder", "config"))) << "saved where it was opened";
    zelClose(c);

    ConfigRecord* nowhere = zelOpenPartialConfig((root + "/fresh.zel").c_str(), "w");
    ASSERT_NE(nowhere, nullptr);
    EXPECT_EQ(zelGetLibName(nowhere), nullptr);
    ASSERT_TRUE(zelSave(nowhere));
    EXPECT_NE(readFile(root + "/fresh.zel").find("location - - -\n"), std::string::npos);
    ASSERT_TRUE(zelSaveAs(nowhere, "other", "cellx", "config"));
    EXPECT_EQ(str(zelGetLibName(nowhere)), "other");
    EXPECT_NE(readFile(configFile("other", "cellx", "config")).find("location other cellx config\n"),
              std::string::npos);
    zelClose(nowhere);

    warnings().clear();
    EXPECT_EQ(zelOpenPartialConfig((root + "/absent.zel").c_str(), "r"), nullptr);
    EXPECT_TRUE(anyWarningHas("absent.zel"));
    EXPECT_EQ(zelOpenPartialConfig(nullptr, "r"), nullptr);
    EXPECT_EQ(zelOpenPartialConfig(path.c_str(), "x"), nullptr);
}

}  // namespace
