// ZelConfig.save and saveAs under the faults of a real save: false, the
// library's warning at the listener, the file on disk as it was, and the
// configuration still open, modified and holding its edits.
#include <ostream>
#include <string>
#include <tuple>

#include "save_faults.h"
#include "system_fixture.h"

namespace {

using savefault::filesIn;
using systest::readFile;
using systest::scratch;

enum class Call { Save, SaveAs };

void PrintTo(Call call, std::ostream* os) { *os << (call == Call::Save ? "save" : "saveAs"); }

class NativeSaveFaultTest : public systest::SystemTest,
                            public ::testing::WithParamInterface<std::tuple<savefault::Case, Call>> {
protected:
    // Every test stores its own views so that no two share a directory.
    std::string view(const char* what) const {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->name()) + "_" + what;
        for (char& ch : name)
            if (ch == '/') ch = '_';
        return name;
    }

    // Stores lib.faults:VIEW holding K=v and gives its text.
    std::string stored(const std::string& v) {
        jobject c = config();
        EXPECT_TRUE(open(c, "lib", "faults", v.c_str(), "w"));
        EXPECT_TRUE(replaceConstant(c, "K", "v"));
        EXPECT_TRUE(save(c, nullptr));
        EXPECT_TRUE(close(c));
        return readFile(configFile("faults", v));
    }
};

TEST_P(NativeSaveFaultTest, ReportsFalseAndLosesNothing) {
    const savefault::Case& fault = std::get<0>(GetParam());
    const Call call = std::get<1>(GetParam());
    const std::string sourceView = view("source"), targetView = call == Call::Save ? sourceView : view("target");
    const std::string source = stored(sourceView);
    // save-as goes where no configuration is stored yet: over another one it
    // is refused.
    const std::string before = call == Call::Save ? source : "";
    const std::string dir = scratch() + "/libs/lib/faults/" + targetView;
    std::filesystem::create_directories(dir);
    const std::vector<std::string> stays =
        call == Call::Save ? std::vector<std::string>{"config.zel"} : std::vector<std::string>{};

    jobject c = config();
    ASSERT_TRUE(open(c, "lib", "faults", sourceView.c_str(), "a"));
    ASSERT_TRUE(replaceConstant(c, "K", "changed"));
    for (int i = 0; i < 40; ++i) replaceConstant(c, "K" + std::to_string(i), "a value that takes room");
    jobject heard = listener();
    savefault::Outcome out = savefault::runUnder(fault, scratch(), dir, [&] {
        return call == Call::Save ? save(c, heard) : saveAs(c, "lib", "faults", targetView.c_str(), heard);
    });
    if (!out.skipped.empty()) {
        close(c);
        GTEST_SKIP() << out.skipped;
    }
    if (fault.kind == savefault::Kind::KilledBeforeRename) {
        ASSERT_TRUE(out.killed);
    } else {
        EXPECT_FALSE(out.answer);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(fault.warning), std::string::npos) << warnings[0];
        EXPECT_EQ(filesIn(dir), stays);
    }
    EXPECT_EQ(readFile(configFile("faults", targetView)), before);
    EXPECT_EQ(readFile(configFile("faults", sourceView)), source);
    jobject reopened = config();
    ASSERT_TRUE(open(reopened, "lib", "faults", sourceView.c_str(), "r"));
    EXPECT_EQ(resolve(reopened, "$(K)"), "v");
    EXPECT_TRUE(close(reopened));

    EXPECT_TRUE(isModified(c));
    EXPECT_EQ(resolve(c, "$(K)"), "changed");
    EXPECT_EQ(resolve(c, "$(K39)"), "a value that takes room");
    warnings.clear();
    ASSERT_TRUE(call == Call::Save ? save(c, heard) : saveAs(c, "lib", "faults", targetView.c_str(), heard));
    EXPECT_TRUE(warnings.empty());
    EXPECT_FALSE(isModified(c));
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"config.zel"});
    EXPECT_NE(readFile(configFile("faults", targetView)).find("constant K changed"), std::string::npos);
    EXPECT_TRUE(close(c));
}

std::string paramName(const ::testing::TestParamInfo<std::tuple<savefault::Case, Call>>& param) {
    return savefault::caseName(std::get<0>(param.param)) + (std::get<1>(param.param) == Call::Save ? "_Save" : "_SaveAs");
}

INSTANTIATE_TEST_SUITE_P(Faults, NativeSaveFaultTest,
                         ::testing::Combine(::testing::ValuesIn(savefault::cases()),
                                            ::testing::Values(Call::Save, Call::SaveAs)),
                         paramName);

}  // namespace
