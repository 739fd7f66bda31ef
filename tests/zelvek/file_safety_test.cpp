// Whatever is where a configuration file belongs, and whoever else writes it:
// anything but a regular file is refused at once, a directory that cannot be
// searched is named as such, a save keeps the file's permission bits and
// flushes before it renames, and of two writers of one file the second to
// save is refused with its edits kept.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "fixture.h"
#include "zelvek/format.h"
#include "zelvek/internal.h"

namespace {

using zeltest::anyWarningHas;
using zeltest::readFile;
using zeltest::str;
using zeltest::warnings;
using zeltest::writeFile;

// What every fsync of this process synced, by the name the file had then.
std::vector<std::string>& synced() {
    static std::vector<std::string> names;
    return names;
}

}  // namespace

// Stands in for the system's fsync (the library's calls reach this one) and
// notes the file's name before passing the call on.
extern "C" int fsync(int fd) {
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target);
    if (n > 0) synced().emplace_back(target, static_cast<size_t>(n));
    static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

namespace {

class FileSafetyTest : public zeltest::LibraryTest {
protected:
    void SetUp() override {  // lib.top:config stored
        LibraryTest::SetUp();
        ConfigRecord* c = zelOpen("lib", "top", "config", "w");
        ASSERT_TRUE(c && zelSave(c) && zelClose(c));
    }
    std::string constant(ConfigRecord* c, const std::string& name) {
        return str(zelResolveConstants(c, ("$(" + name + ")").c_str()));
    }
};

TEST_F(FileSafetyTest, AnythingButARegularFileIsRefusedAtOnce) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        const char* says;
    } cases[] = {
        {"named pipe", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }, "it is a named pipe"},
        {"link to the zero device", [](const std::string& p) { ASSERT_EQ(symlink("/dev/zero", p.c_str()), 0); },
         "it is a character device"},
        {"directory", [](const std::string& p) { std::filesystem::create_directories(p); }, "it is a directory"},
        {"socket",
         [](const std::string& p) {
             sockaddr_un addr{AF_UNIX, {}};
             std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", p.c_str());
             ASSERT_EQ(bind(socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
         },
         "it is a socket"},
        {"file above the size limit (sparse)",
         [](const std::string& p) {
             writeFile(p, "");
             ASSERT_EQ(truncate(p.c_str(), static_cast<off_t>(zel::kMaxConfigFileSize + 1)), 0);
         },
         "more than the 64 MiB a configuration file may hold"},
    };
    // A regression would wait for a writer on the pipe, or read the zero
    // device for ever: end the test run instead.
    alarm(60);
    int n = 0;
    for (const auto& c : cases) {
        const std::string view = "v" + std::to_string(n++);
        const std::string file = configFile("lib", "top", view);
        writeFile(file, "");  // makes its directory
        std::filesystem::remove(file);
        c.make(file);
        for (bool partial : {false, true}) {
            warnings().clear();
            ConfigRecord* cfg = partial ? zelOpenPartialConfig(file.c_str(), "a") : zelOpen("lib", "top", view.c_str(), "r");
            EXPECT_EQ(cfg, nullptr) << c.what;
            ASSERT_EQ(warnings().size(), 1u) << c.what;
            EXPECT_NE(warnings()[0].find(file), std::string::npos) << warnings()[0];
            EXPECT_NE(warnings()[0].find(c.says), std::string::npos) << warnings()[0];
        }
    }
    alarm(0);
}

TEST_F(FileSafetyTest, ADirectoryThatCannotBeSearchedIsNamed) {
    const std::string cell = root + "/libs/lib/top";
    std::filesystem::permissions(cell, std::filesystem::perms::none);
    // Root may search anyway: look as another file-system identity.
    const int was = geteuid() == 0 ? setfsuid(65534) : -1;
    warnings().clear();
    ConfigRecord* c = zelOpen("lib", "top", "config", "a");
    if (was >= 0) setfsuid(static_cast<uid_t>(was));
    std::filesystem::permissions(cell, std::filesystem::perms::owner_all);
    EXPECT_EQ(c, nullptr);
    ASSERT_EQ(warnings().size(), 1u);
    EXPECT_TRUE(anyWarningHas("Permission denied")) << warnings()[0];
    EXPECT_TRUE(anyWarningHas("read and search")) << warnings()[0];
    EXPECT_FALSE(anyWarningHas("mode \"w\"")) << "nothing says the configuration is missing";
}

TEST_F(FileSafetyTest, ASaveKeepsThePermissionBitsAndFlushesBeforeItRenames) {
    const std::string file = configFile("lib", "top", "config");
    for (mode_t mode : {0600, 0640, 0664}) {
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
        ConfigRecord* c = openConfig("lib", "top", "config", "a");
        ASSERT_NE(c, nullptr);
        zelReplaceConst(c, "K", std::to_string(mode).c_str());
        synced().clear();
        ASSERT_TRUE(zelSave(c));
        struct stat st{};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        // The new text was made durable under its temporary name, before the
        // rename gave it the file's.
        bool flushed = false;
        for (const std::string& name : synced())
            flushed |= name.rfind(root + "/libs/lib/top/config/.config.zel.", 0) == 0;
        EXPECT_TRUE(flushed) << synced().size() << " files synced";
    }
}

TEST_F(FileSafetyTest, OfTwoConfigurationsTheSecondToSaveIsRefusedWithItsEdits) {
    const std::string file = configFile("lib", "top", "config");
    ConfigRecord* first = openConfig("lib", "top", "config", "a");
    ConfigRecord* second = openConfig("lib", "top", "config", "a");
    ASSERT_TRUE(first && second);
    zelReplaceConst(first, "FIRST", "1");
    zelReplaceConst(second, "SECOND", "2");
    ASSERT_TRUE(zelSave(first));
    const std::string written = readFile(file);
    warnings().clear();
    EXPECT_FALSE(zelSave(second));
    ASSERT_EQ(warnings().size(), 1u);
    EXPECT_TRUE(anyWarningHas("changed by another program since this configuration read")) << warnings()[0];
    EXPECT_TRUE(anyWarningHas("save-as")) << warnings()[0];
    EXPECT_EQ(readFile(file), written) << "the file stays as the first left it";
    EXPECT_TRUE(zelConfigIsModified(second));
    EXPECT_EQ(zelGetRevision(second), 1);
    EXPECT_EQ(constant(second, "SECOND"), "2");
    // The loser keeps its edits elsewhere; the winner saves on.
    EXPECT_TRUE(zelSaveAs(second, "lib", "top", "mine"));
    zelReplaceConst(first, "MORE", "3");
    EXPECT_TRUE(zelSave(first));
    // save-as over a configuration this one did not read is refused too.
    warnings().clear();
    EXPECT_FALSE(zelSaveAs(second, "lib", "top", "config"));
    EXPECT_TRUE(anyWarningHas("already a configuration")) << (warnings().empty() ? "" : warnings()[0]);
    EXPECT_EQ(str(zelGetViewName(second)), "mine");
    EXPECT_NE(readFile(file).find("constant MORE 3"), std::string::npos);
}

// Two processes edit one configuration over and over, each reopening after a
// refused save: every edit of both ends up in the file, none is lost.
TEST_F(FileSafetyTest, TwoProcessesSavingOneFileLoseNoEdit) {
    constexpr int kEdits = sizeof(void*) == 8 ? 100 : 20;
    pid_t children[2];
    for (int who = 0; who < 2; ++who) {
        if ((children[who] = fork()) != 0) continue;
        // Each save lingers between its check and its rename: the other
        // process's save falls in there unless the lock keeps it out.
        zel::saveStepHook = [](const char* step) { return std::strcmp(step, "rename") == 0 ? (usleep(2000), 0) : 0; };
        int refused = 0;
        for (int i = 0; i < kEdits; ++refused) {
            ConfigRecord* c = zelOpen("lib", "top", "config", "a");
            zelReplaceConst(c, ("P" + std::to_string(who) + "_" + std::to_string(i)).c_str(), "x");
            warnings().clear();
            if (zelSave(c)) --refused, ++i;
            else if (!anyWarningHas("changed by another program")) {
                std::fprintf(stderr, "refused otherwise: %s\n", warnings().empty() ? "(no warning)" : warnings()[0].c_str());
                _exit(100);
            }
            zelClose(c);
        }
        _exit(std::min(refused, 99));
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 100) << "status " << status;
        std::printf("[ figures  ] %d saves refused and made again\n", WEXITSTATUS(status));
    }
    ConfigRecord* c = openConfig("lib", "top", "config", "r");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(zelGetRevision(c), 1 + 2 * kEdits);
    for (int i = 0; i < 2 * kEdits; ++i)
        EXPECT_EQ(constant(c, "P" + std::to_string(i % 2) + "_" + std::to_string(i / 2)), "x") << i;
}

}  // namespace
