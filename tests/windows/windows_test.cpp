// What only Windows has: the DLL as a JVM loads it, drive letters and
// backslashes, other programs holding a file, names beyond the code page.
#include <windows.h>

#include <algorithm>
#include <ctime>

#include "fixture.h"
#include "vek/platform.h"

namespace {

using zeltest::anyWarningHas;
using zeltest::readFile;
using zeltest::warnings;
using zeltest::writeFile;

TEST(WindowsDllTest, LoadsAndResolvesNativesByTheirPlainNames) {
    HMODULE dll = LoadLibraryW(L"zelJava_sh.dll");  // copied beside this program
    ASSERT_NE(dll, nullptr) << "error " << GetLastError();
    for (const char* name : {"Java_COM_morvent_zel_ZelConfig_init", "Java_COM_morvent_zel_ZelPathVector_copy_1n"})
        EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(dll, name)), nullptr) << name;
    EXPECT_TRUE(FreeLibrary(dll));
}

TEST(WindowsPathTest, AbsolutePathsAndSeparators) {
    struct Case {
        const char* path;
        bool absolute;
        size_t lastSeparator;
    };
    const Case cases[] = {
        {"C:\\designs\\lib", true, 10},  {"c:/designs/lib", true, 10}, {"\\\\server\\share\\lib", true, 14},
        {"//server/share", true, 8},     {"\\designs", true, 0},       {"C:lib", true, std::string::npos},
        {"designs\\lib", false, 7},      {"designs/lib\\x", false, 11}, {"lib", false, std::string::npos},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vek::os::isAbsolute(c.path), c.absolute) << c.path;
        EXPECT_EQ(vek::os::lastSeparator(c.path), c.lastSeparator) << c.path;
    }
}

class WindowsFilesTest : public zeltest::LibraryTest {
protected:
    std::string backslashed(std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    // Saves lib.top:config holding K=v and opens it for editing with K changed.
    ConfigRecord* editedConfig() {
        ConfigRecord* c = openConfig("lib", "top", "config", "w");
        zelReplaceConst(c, "K", "v");
        EXPECT_TRUE(zelSave(c));
        zelReplaceConst(c, "K", "changed");
        warnings().clear();
        return c;
    }
};

// The save lock is a file created only where none is, naming its writer: a
// lock of a live process of this host holds the save off and is named in the
// warning; one whose process is gone is taken over.
TEST_F(WindowsFilesTest, TheSaveLockHoldsUntilItsWriterIsGone) {
    ConfigRecord* c = editedConfig();
    const std::string lock = root + "/libs/lib/top/config/.config.zel.lock";
    vek::os::File first = vek::os::createNew(lock + ".x");
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(vek::os::createNew(lock + ".x").valid());
    EXPECT_TRUE(vek::os::isAlreadyThere(vek::os::lastError()));
    std::string host = vek::os::hostName();
    std::replace(host.begin(), host.end(), '.', '_');
    const std::string now = std::to_string(static_cast<long long>(time(nullptr)));
    // This process is alive; a process id that is none is gone.  A lock names
    // its process's start as well (a later process may get the same id).
    const long me = static_cast<long>(GetCurrentProcessId());
    writeFile(lock, host + " " + std::to_string(me) + " " + now + " - - " +
                        std::to_string(vek::os::processStart(me)) + "\n");
    EXPECT_FALSE(zelSave(c));
    EXPECT_TRUE(anyWarningHas("is being saved by process " + std::to_string(GetCurrentProcessId())))
        << (warnings().empty() ? "no warning" : warnings()[0]);
    writeFile(lock, host + " 2147483644 " + now + " - - 1\n");
    EXPECT_TRUE(zelSave(c)) << (warnings().empty() ? "no warning" : warnings().back());
    EXPECT_FALSE(std::filesystem::exists(lock));
}

// Another program holds the configuration open while it is saved (as most
// readers do, not sharing it for deletion): the file cannot be replaced, so
// the save fails with a warning and nothing is lost; once the reader lets go
// the same save goes through.
TEST_F(WindowsFilesTest, ReaderHoldingTheFileDuringASave) {
    ConfigRecord* c = editedConfig();
    const std::string file = configFile("lib", "top", "config");
    const std::string before = readFile(file);
    HANDLE reader = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const bool saved = zelSave(c);
    char head[64] = {};
    DWORD got = 0;
    ReadFile(reader, head, sizeof head - 1, &got, nullptr);
    CloseHandle(reader);
    EXPECT_EQ(std::string(head, got), before.substr(0, got)) << "the reader reads the file it opened";
    EXPECT_FALSE(saved);
    EXPECT_TRUE(anyWarningHas("cannot rename")) << (warnings().empty() ? "no warning" : warnings()[0]);
    EXPECT_TRUE(anyWarningHas("unchanged"));
    EXPECT_TRUE(zelConfigIsModified(c));
    EXPECT_EQ(readFile(file), before);
    const auto entries = std::filesystem::directory_iterator(root + "/libs/lib/top/config");
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << "no temporary file is left";
    EXPECT_TRUE(zelSave(c)) << "the save goes through once the reader let go";
    EXPECT_NE(readFile(file).find("constant K changed"), std::string::npos);
}

// Drive letters, backslashes and both slashes mixed in the definitions file,
// and a definitions path given with backslashes.
TEST_F(WindowsFilesTest, DefinitionsWithDriveLettersAndBackslashes) {
    ASSERT_TRUE(root.size() > 2 && root[1] == ':') << "the scratch area is on a drive: " << root;
    writeFile(root + "/defs/more.lib", "DEFINE other " + backslashed(root) + "\\libs/other\n");
    writeFile(root + "/defs/main.lib", "DEFINE lib ..\\libs\\lib\nINCLUDE sub\\..\\more.lib\n");
    std::filesystem::create_directories(root + "/defs/sub");
    int32_t state = 0;
    vekInitialize(backslashed(root + "/defs/main.lib").c_str(), nullptr, &state);
    EXPECT_EQ(state, 2);
    for (const char* lib : {"lib", "other"}) {
        SCOPED_TRACE(lib);
        ConfigRecord* c = openConfig(lib, "top", "config", "w");
        ASSERT_NE(c, nullptr) << (warnings().empty() ? "" : warnings()[0]);
        EXPECT_TRUE(zelSave(c));
        EXPECT_TRUE(std::filesystem::exists(configFile(lib, "top", "config")));
    }
    EXPECT_TRUE(warnings().empty()) << warnings()[0];
}

// Names outside the system's code page reach the disk as the same characters.
TEST_F(WindowsFilesTest, NamesBeyondTheCodePage) {
    const char* cell = "z\xC3\xA9ll\xE2\x82\xAC";  // zéll€
    ConfigRecord* c = openConfig("lib", cell, "config", "w");
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(zelSave(c));
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(configFile("lib", cell, "config"))));
    ConfigRecord* again = openConfig("lib", cell, "config", "r");
    EXPECT_NE(again, nullptr);
}

}  // namespace
