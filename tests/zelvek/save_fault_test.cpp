// A save that fails part-way, or whose process dies before the rename, loses
// nothing: the file on disk stays as it was and reopens, the configuration
// stays open, modified and editable with its edits, the answer is false with
// a warning, and no temporary file is left behind.
#include <algorithm>
#include <ostream>
#include <string>
#include <tuple>

#include "fixture.h"
#include "vek/platform.h"
#include "save_faults.h"

namespace {

using savefault::filesIn;
using zeltest::anyWarningHas;
using zeltest::readFile;
using zeltest::str;
using zeltest::warnings;

enum class Call { Save, SaveAs };

void PrintTo(Call call, std::ostream* os) { *os << (call == Call::Save ? "save" : "saveAs"); }

class SaveFaultTest : public zeltest::LibraryTest,
                      public ::testing::WithParamInterface<std::tuple<savefault::Case, Call>> {
protected:
    // Saves a configuration at lib.top:VIEW holding K=v and gives its text.
    std::string stored(const char* view) {
        ConfigRecord* c = zelOpen("lib", "top", view, "w");
        EXPECT_NE(c, nullptr);
        zelReplaceConst(c, "K", "v");
        EXPECT_TRUE(zelSave(c));
        zelClose(c);
        return readFile(configFile("lib", "top", view));
    }

    std::string constant(ConfigRecord* c, const char* name) {
        return str(zelResolveConstants(c, ("$(" + std::string(name) + ")").c_str()));
    }
};

TEST_P(SaveFaultTest, LosesNothing) {
    const savefault::Case& fault = std::get<0>(GetParam());
    const Call call = std::get<1>(GetParam());
    const std::string source = stored("config");
    // save-as goes to a view directory that holds no configuration yet (over
    // another one it is refused: SaveConflictTest).
    const char* targetView = call == Call::Save ? "config" : "copy";
    const std::string target = configFile("lib", "top", targetView);
    const std::string dir = root + "/libs/lib/top/" + targetView;
    std::filesystem::create_directories(dir);
    const std::string before = call == Call::Save ? source : "";
    const std::vector<std::string> stays =
        call == Call::Save ? std::vector<std::string>{"config.zel"} : std::vector<std::string>{};

    ConfigRecord* c = openConfig("lib", "top", "config", "a");
    ASSERT_NE(c, nullptr);
    zelReplaceConst(c, "K", "changed");
    // Enough text that a 512-byte file limit stops the write part-way.
    for (int i = 0; i < 40; ++i) zelReplaceConst(c, ("K" + std::to_string(i)).c_str(), "a value that takes room");
    warnings().clear();

    savefault::Outcome out = savefault::runUnder(fault, root, dir, [&] {
        return call == Call::Save ? zelSave(c) != 0 : zelSaveAs(c, "lib", "top", "copy") != 0;
    });
    if (!out.skipped.empty()) GTEST_SKIP() << out.skipped;

    if (fault.kind == savefault::Kind::KilledBeforeRename) {
        ASSERT_TRUE(out.killed) << "the child was to die right before its rename";
        // Its temporary file, and the lock it held for its rename: the next
        // save takes that over at once, its writer being gone.
        EXPECT_EQ(filesIn(dir).size(), stays.size() + 2) << "the child had written its temporary file";
    } else {
        EXPECT_FALSE(out.answer);
        EXPECT_TRUE(anyWarningHas(fault.warning)) << (warnings().empty() ? "no warning" : warnings()[0]);
        EXPECT_TRUE(anyWarningHas("unchanged") || anyWarningHas("not saved"));
        EXPECT_EQ(filesIn(dir), stays) << "no temporary file is left";
    }
    // The file on disk is as it was, byte for byte, and opens.
    EXPECT_EQ(readFile(target), before);
    EXPECT_EQ(readFile(configFile("lib", "top", "config")), source);
    if (call == Call::Save) {
        ConfigRecord* reopened = zelOpen("lib", "top", targetView, "r");
        ASSERT_NE(reopened, nullptr);
        EXPECT_EQ(constant(reopened, "K"), "v");
        EXPECT_EQ(zelGetRevision(reopened), 1);
        zelClose(reopened);
    }
    // The configuration is still open where it was, modified, with its edits.
    EXPECT_TRUE(zelConfigIsModified(c));
    EXPECT_TRUE(zelConfigIsEditable(c));
    EXPECT_EQ(zelGetRevision(c), 1);
    EXPECT_EQ(str(zelGetViewName(c)), "config");
    EXPECT_EQ(constant(c, "K"), "changed");
    EXPECT_EQ(constant(c, "K39"), "a value that takes room");
    EXPECT_TRUE(zelReplaceConst(c, "AFTER", "1")) << "it takes edits";

    // With the fault gone the same configuration saves; that save also clears
    // what a killed save left.
    ASSERT_TRUE(call == Call::Save ? zelSave(c) : zelSaveAs(c, "lib", "top", "copy"));
    EXPECT_FALSE(zelConfigIsModified(c));
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"config.zel"});
    EXPECT_NE(readFile(target).find("constant K changed"), std::string::npos);
}

std::string paramName(const ::testing::TestParamInfo<std::tuple<savefault::Case, Call>>& param) {
    return savefault::caseName(std::get<0>(param.param)) + (std::get<1>(param.param) == Call::Save ? "_Save" : "_SaveAs");
}

INSTANTIATE_TEST_SUITE_P(Faults, SaveFaultTest,
                         ::testing::Combine(::testing::ValuesIn(savefault::cases()),
                                            ::testing::Values(Call::Save, Call::SaveAs)),
                         paramName);

// Only the files of saves that died are cleared: a temporary file whose writer
// still runs, and files that are not the library's, stay.
using LeftoverTest = zeltest::LibraryTest;

TEST_F(LeftoverTest, StaleTemporaryFilesOfLiveWritersStay) {
    ConfigRecord* c = openConfig("lib", "top", "config", "w");
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(zelSave(c));
    const std::string dir = root + "/libs/lib/top/config";
    testos::OtherProcess ended, running;
    ASSERT_NE(ended.pid(), 0);
    ASSERT_NE(running.pid(), 0);
    ended.end();
    const std::string dead = ".config.zel." + zel::tempWriterName(ended.pid(), 0) + ".abcdef";
    const std::string live =
        ".config.zel." + zel::tempWriterName(running.pid(), vek::os::processStart(running.pid())) + ".abcdef";
    for (const std::string& name : {dead, live, std::string(".config.zel.notapid"), std::string("notes.txt")})
        zeltest::writeFile(dir + "/" + name, "x");
    zelReplaceConst(c, "K", "v");
    ASSERT_TRUE(zelSave(c));
    std::vector<std::string> files = filesIn(dir);
    std::sort(files.begin(), files.end());
    std::vector<std::string> expected = {live, ".config.zel.notapid", "config.zel", "notes.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
}

}  // namespace
