// The library-access layer: library definitions, the setup-file search,
// string copies.
#include <cstring>
#include <map>

#include "fixture.h"
#include "vek/platform.h"

namespace {

using zeltest::anyWarningHas;
using zeltest::warnings;
using zeltest::writeFile;

class DefinitionsTest : public zeltest::LibraryTest {
protected:
    // Reads a definitions file and gives the problems it raised.
    std::vector<std::string> define(const std::string& text, const std::string& name = "defs.lib") {
        writeFile(root + "/" + name, text);
        int32_t state = -1;
        vekInitialize((root + "/" + name).c_str(), nullptr, &state);
        return vek::takeDefinitionProblems();
    }

    std::string dirOf(const char* lib) {
        std::string dir;
        return vek::libraryDirectory(lib, dir) ? dir : "(undefined)";
    }
};

TEST_F(DefinitionsTest, DefinesLibrariesRelativeToTheirFile) {
    std::filesystem::create_directories(root + "/sub/inner");
    std::filesystem::create_directories(root + "/with blank");
    // No Windows name holds a quote; there the escaped backslash separates.
    const std::string escapedDir = testos::kWindows ? "q\\d" : "q\"uote\\d";
    const std::string escapedWord = testos::kWindows ? "\"q\\\\d\"" : "\"q\\\"uote\\\\d\"";
    std::filesystem::create_directories(root + "/" + escapedDir);
    writeFile(root + "/sub/more.lib", "define inner inner   # lower case keyword, trailing comment\n");
    auto problems = define(
        "# a comment line\n"
        "\n"
        "DEFINE lib libs/lib\n"
        "DEFINE abs " + root + "/libs/other\n"
        "DEFINE spaced \"with blank\"\r\n"
        "DEFINE escaped " + escapedWord + "\n"
        "INCLUDE sub/more.lib\n");
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(dirOf("lib"), root + "/libs/lib");
    EXPECT_EQ(dirOf("abs"), root + "/libs/other");
    EXPECT_EQ(dirOf("spaced"), root + "/with blank");
    EXPECT_EQ(dirOf("escaped"), root + "/" + escapedDir);
    EXPECT_EQ(dirOf("inner"), root + "/sub/inner");
    EXPECT_EQ(dirOf("missing"), "(undefined)");
}

TEST_F(DefinitionsTest, ProblemsAreKept) {
    struct Case {
        const char* what;
        std::string text;
        const char* fragment;
    } cases[] = {
        {"unknown keyword", "LIBRARY x y\n", "unknown keyword 'LIBRARY'"},
        {"missing directory", "DEFINE ghost nowhere\n", "does not exist"},
        {"missing include", "INCLUDE absent.lib\n", "cannot read the library definitions file"},
        {"DEFINE without directory", "DEFINE lonely\n", "DEFINE takes a library name and a directory"},
        {"unterminated quote", "DEFINE q \"open\n", "unterminated quote"},
        {"dot dot name", "DEFINE .. libs\n", "refused"},
        {"slash in name", "DEFINE a/b libs\n", "refused"},
        {"backslash in name", "DEFINE a\\b libs\n", "refused"},
        {"including itself", "INCLUDE defs.lib\n", "includes itself"},
    };
    for (const auto& c : cases) {
        auto problems = define(c.text);
        ASSERT_EQ(problems.size(), 1u) << c.what;
        EXPECT_NE(problems[0].find(c.fragment), std::string::npos) << c.what << ": " << problems[0];
        EXPECT_NE(problems[0].find("defs.lib:1"), std::string::npos) << c.what << ": " << problems[0];
    }
    EXPECT_EQ(dirOf(".."), "(undefined)");
    EXPECT_EQ(dirOf("a/b"), "(undefined)");
}

// Each file includes the next one twice: read every time, the last would be
// read 2^16 times and warn each time that its library is defined again.
TEST_F(DefinitionsTest, AFileIncludedTwiceIsReadOnce) {
    const int depth = 16;
    for (int i = 0; i < depth; ++i) {
        const std::string next = "d" + std::to_string(i + 1) + ".lib";
        writeFile(root + "/d" + std::to_string(i) + ".lib", "INCLUDE " + next + "\nINCLUDE " + next + "\n");
    }
    writeFile(root + "/d" + std::to_string(depth) + ".lib", "DEFINE deep libs/lib\n");
    auto problems = define("INCLUDE d0.lib\nINCLUDE d0.lib\n");
    EXPECT_TRUE(problems.empty()) << problems.size() << " problems, the first: " << problems.front();
    EXPECT_EQ(dirOf("deep"), root + "/libs/lib");
}

TEST_F(DefinitionsTest, LaterDefinitionWinsWithAWarning) {
    auto problems = define("DEFINE lib libs/lib\nDEFINE lib libs/other\n");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("defined again"), std::string::npos);
    EXPECT_EQ(dirOf("lib"), root + "/libs/other");
}

TEST_F(DefinitionsTest, MissingFileAndNullPathLeaveNoLibraries) {
    int32_t state = 0;
    vekInitialize((root + "/absent.lib").c_str(), nullptr, &state);
    EXPECT_EQ(dirOf("lib"), "(undefined)");
    auto problems = vek::takeDefinitionProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("absent.lib"), std::string::npos);

    vekInitialize(nullptr, nullptr, &state);
    EXPECT_EQ(dirOf("lib"), "(undefined)");
    EXPECT_TRUE(vek::takeDefinitionProblems().empty());
}

TEST_F(DefinitionsTest, ProblemsReachTheNextOpenOnce) {
    writeFile(root + "/defs.lib", "DEFINE lib libs/lib\nBOGUS\n");
    int32_t state = 0;
    vekInitialize((root + "/defs.lib").c_str(), nullptr, &state);
    warnings().clear();
    ConfigRecord* first = openConfig("lib", "top", "config", "w");
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(anyWarningHas("unknown keyword 'BOGUS'"));
    warnings().clear();
    ConfigRecord* second = openConfig("lib", "top", "other", "w");
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(warnings().empty());
}

TEST_F(DefinitionsTest, CellViewExistsWhenItsDirectoryDoes) {
    std::filesystem::create_directories(root + "/libs/lib/inv/symbol");
    EXPECT_TRUE(vek::cellViewExists("lib", "inv", "symbol"));
    EXPECT_FALSE(vek::cellViewExists("lib", "inv", "layout"));
    EXPECT_FALSE(vek::cellViewExists("nolib", "inv", "symbol"));
    EXPECT_FALSE(vek::cellViewExists("lib", "..", "lib"));
}

class SetupSearchTest : public zeltest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        for (const char* dir : {"a", "b", "cwd", "home"}) std::filesystem::create_directories(root + "/" + dir);
        savedCwd = std::filesystem::current_path();
        std::filesystem::current_path(root + "/cwd");
        keep("ZEL_SETUP_PATH");
        keep(testos::kHomeVariable);
        testos::setEnv(testos::kHomeVariable, root + "/home");
    }
    void TearDown() override {
        std::filesystem::current_path(savedCwd);
        for (auto& [name, value] : saved) {
            if (value.first) testos::setEnv(name.c_str(), value.second); else testos::unsetEnv(name.c_str());
        }
        LibraryTest::TearDown();
    }
    void keep(const char* name) {
        const char* v = getenv(name);
        saved[name] = {v != nullptr, v ? v : ""};
    }
    std::string search(const char* name, int32_t size = 1024) {
        char buffer[2048];
        std::memset(buffer, 'x', sizeof buffer);
        int rc = mipSearch(0, name, buffer, size);
        if (rc != 0) {
            EXPECT_EQ(buffer[0], 'x') << "the buffer is left alone when the search fails";
            return "(not found)";
        }
        return at(buffer);
    }
    // A path with the system's own separators: the search joins with "/",
    // the current directory comes with what the system gives.
    static std::string at(const std::string& path) { return std::filesystem::path(path).lexically_normal().string(); }
    std::filesystem::path savedCwd;
    std::map<std::string, std::pair<bool, std::string>> saved;
};

TEST_F(SetupSearchTest, SearchOrder) {
    const std::string separator(1, vek::os::kSearchPathSeparator);
    testos::setEnv("ZEL_SETUP_PATH", root + "/a" + separator + separator + root + "/b");
    EXPECT_EQ(search("kwo.lib"), "(not found)");
    writeFile(root + "/home/kwo.lib", "");
    EXPECT_EQ(search("kwo.lib"), at(root + "/home/kwo.lib"));
    writeFile(root + "/cwd/kwo.lib", "");
    EXPECT_EQ(search("kwo.lib"), at(root + "/cwd/kwo.lib"));
    writeFile(root + "/b/kwo.lib", "");
    EXPECT_EQ(search("kwo.lib"), at(root + "/b/kwo.lib"));
    writeFile(root + "/a/kwo.lib", "");
    EXPECT_EQ(search("kwo.lib"), at(root + "/a/kwo.lib"));
    testos::unsetEnv("ZEL_SETUP_PATH");
    EXPECT_EQ(search("kwo.lib"), at(root + "/cwd/kwo.lib"));
    std::filesystem::create_directories(root + "/a/dir.lib");
    testos::setEnv("ZEL_SETUP_PATH", root + "/a");
    EXPECT_EQ(search("dir.lib"), "(not found)") << "a directory is not a setup file";
}

TEST_F(SetupSearchTest, PathMustFitWithItsNul) {
    testos::setEnv("ZEL_SETUP_PATH", root + "/a");
    writeFile(root + "/a/kwo.lib", "");
    const std::string path = root + "/a/kwo.lib";
    const auto exact = static_cast<int32_t>(path.size() + 1);
    EXPECT_EQ(search("kwo.lib", exact), at(path));
    EXPECT_EQ(search("kwo.lib", exact - 1), "(not found)");
    char buffer[8];
    EXPECT_NE(mipSearch(0, nullptr, buffer, 8), 0);
    EXPECT_NE(mipSearch(0, "kwo.lib", nullptr, 8), 0);
    EXPECT_NE(mipSearch(0, "kwo.lib", buffer, 0), 0);
}

TEST(StringCopyTest, CopiesWithMalloc) {
    const char* text = "lib1 lib2 \xED\xA0\xBD\xED\xB8\x80";
    char* copy = kwoCopyString(text);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, text);
    EXPECT_STREQ(copy, text);
    kwoFreeString(copy);
    EXPECT_EQ(kwoCopyString(nullptr), nullptr);
    int32_t state = 7;
    EXPECT_EQ(mipInitialize(&state), 0);
    EXPECT_EQ(mipInitialize(nullptr), 0);
}

}  // namespace
