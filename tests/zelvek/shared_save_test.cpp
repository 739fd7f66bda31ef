// A design library shared by a team: saves through symbolic links, the umask,
// groups and setgid folders, a folder that cannot be listed, the save lock and
// the temporary files of other hosts, the last revision, and the faults the
// save's own check could hide (same length, past the first piece, the limit).
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/xattr.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <ctime>

#include "fixture.h"
#include "save_faults.h"
#include "vek/platform.h"
#include "zelvek/format.h"
#include "zelvek/internal.h"

namespace {

using zeltest::anyWarningHas;
using zeltest::readFile;
using zeltest::str;
using zeltest::warnings;
using zeltest::writeFile;

std::string hostName() {
    std::string host = vek::os::hostName();
    std::replace(host.begin(), host.end(), '.', '_');
    return host;
}

// The id of a process that has ended.
long deadPid() {
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

// A lock's or claim's text as a save writes it: who, since when, and what
// tells the process from others of that host name and id.
std::string owner(const std::string& host, long pid, long since, uint64_t start, const std::string& space = "") {
    return host + " " + std::to_string(pid) + " " + std::to_string(since) + " " + vek::os::bootId() + " " +
           (space.empty() ? vek::os::processSpace() : space) + " " + std::to_string(start) + "\n";
}

// Dates the file `age` seconds back (ahead when negative).
void age(const std::string& path, long seconds) {
    const time_t then = std::time(nullptr) - seconds;
    const utimbuf times{then, then};
    ASSERT_EQ(utime(path.c_str(), &times), 0) << path;
}

mode_t modeOf(const std::string& path) {
    struct stat st{};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

class SharedSaveTest : public zeltest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        zel::saveLockWait = std::chrono::milliseconds(300);
    }
    void TearDown() override {
        zel::saveLockWait = std::chrono::seconds(10);
        zel::networkFolderSeam = -1;
        zel::saveStepHook = nullptr;
        LibraryTest::TearDown();
    }
    std::string dir() const { return root + "/libs/lib/top/config"; }
    std::string file() const { return configFile("lib", "top", "config"); }
    // lib.top:config stored, opened for editing and edited.
    ConfigRecord* edited() {
        ConfigRecord* c = openConfig("lib", "top", "config", "w");
        if (!c || !zelSave(c)) return nullptr;
        zelReplaceConst(c, "K", "edited");
        return c;
    }
};

TEST_F(SharedSaveTest, ASaveThroughALinkReplacesItsTargetAndKeepsTheLink) {
    const std::string inLibrary = root + "/libs/lib/shared", outside = root + "/home";
    struct Case {
        const char* name;
        std::string folder;  // of the target; empty: beside the link
        bool exists, saveAs, saves;
    } cases[] = {
        {"to a file beside it", "", true, false, true},
        {"read, to a file outside the library", outside, true, false, true},
        {"dangling, to another folder of the library", inLibrary, false, false, true},
        {"save-as to a dangling link in the library", inLibrary, false, true, true},
        // Links planted in a view: a save that read nothing does not follow them out.
        {"new, to a file outside the library", outside, true, false, false},
        {"save-as to a dangling link out of the library", outside, false, true, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string view = "v" + std::to_string(n++);
        const std::string link = configFile("lib", "top", view);
        const std::string target = c.folder.empty() ? link + ".real" : c.folder + "/" + view + ".zel";
        writeFile(link, "");
        std::filesystem::remove(link);
        std::filesystem::create_directories(c.folder.empty() ? root : c.folder);
        const std::string old = c.saves ? "zelvek-config 1\nconstant OLD 1\n" : "my notes\n";
        if (c.exists) writeFile(target, old);
        ASSERT_EQ(symlink(c.folder.empty() ? "config.zel.real" : target.c_str(), link.c_str()), 0);
        const bool read = c.exists && c.saves;
        ConfigRecord* cfg = c.saveAs ? openConfig("lib", "top", "config", "w")
                                     : openConfig("lib", "top", view.c_str(), read ? "a" : "w");
        ASSERT_NE(cfg, nullptr) << c.name;
        zelReplaceConst(cfg, "NEW", "2");
        warnings().clear();
        ASSERT_EQ(c.saveAs ? zelSaveAs(cfg, "lib", "top", view.c_str()) : zelSave(cfg), c.saves) << c.name;
        EXPECT_TRUE(S_ISLNK(modeOf(link))) << c.name << ": the link stays";
        if (!c.saves) {
            EXPECT_TRUE(anyWarningHas("outside the library")) << c.name;
            EXPECT_EQ(c.exists ? readFile(target) : "", c.exists ? old : "") << c.name;
            EXPECT_EQ(std::filesystem::exists(target), c.exists) << c.name;
            continue;
        }
        EXPECT_NE(readFile(target).find("constant NEW 2"), std::string::npos) << c.name;
        EXPECT_EQ(readFile(target).find("OLD") != std::string::npos, c.exists) << c.name;
        // Saving again goes through the link as well: the check reads the target.
        zelReplaceConst(cfg, "MORE", "3");
        EXPECT_TRUE(zelSave(cfg)) << c.name << (warnings().empty() ? "" : ": " + warnings()[0]);
        EXPECT_NE(readFile(target).find("constant MORE 3"), std::string::npos) << c.name;
        for (const std::string& d : {std::filesystem::path(link).parent_path().string(), c.folder})
            for (const auto& e : std::filesystem::directory_iterator(d.empty() ? root : d)) {
                const std::string name = e.path().filename().string();
                EXPECT_TRUE(name[0] != '.' || savefault::isClaim(name)) << c.name << ": left " << name;
            }
    }
}

TEST_F(SharedSaveTest, ModesFollowTheUmaskTheReplacedFileAndASetgidFolder) {
    // A new file: 0666 less the umask.
    for (mode_t mask : {mode_t(077), mode_t(002), mode_t(022)}) {
        const std::string view = "u" + std::to_string(mask);
        const mode_t was = umask(mask);
        ConfigRecord* c = openConfig("lib", "top", view.c_str(), "w");
        const bool saved = c && zelSave(c);
        umask(was);
        ASSERT_TRUE(saved);
        EXPECT_EQ(modeOf(configFile("lib", "top", view)) & 07777, 0666 & ~mask) << "umask " << std::oct << mask;
    }
    if (geteuid() != 0) GTEST_SKIP() << "changing groups needs root";
    // A replaced file keeps its group; a new file in a setgid folder takes the folder's.
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(chown(file().c_str(), static_cast<uid_t>(-1), 4321), 0);
    ASSERT_EQ(chmod(file().c_str(), 0660), 0);
    ASSERT_TRUE(zelSave(c));
    struct stat st{};
    ASSERT_EQ(stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 4321u);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    const std::string team = root + "/libs/lib/team";
    std::filesystem::create_directories(team);
    ASSERT_EQ(chown(team.c_str(), static_cast<uid_t>(-1), 4322), 0);
    ASSERT_EQ(chmod(team.c_str(), 02775), 0);
    ConfigRecord* t = openConfig("lib", "team", "config", "w");
    ASSERT_TRUE(t && zelSave(t));
    ASSERT_EQ(stat(configFile("lib", "team", "config").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 4322u);
    ASSERT_EQ(stat((team + "/config").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_ISGID) << "the view folder keeps the setgid bit";
}

TEST_F(SharedSaveTest, AFolderThatCanBeWrittenButNotListedSaves) {
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    // Root lists any folder: save as another identity, the folder its own.
    const uid_t as = geteuid() == 0 ? 65534 : geteuid();
    ASSERT_EQ(chown(dir().c_str(), as, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(chown(file().c_str(), as, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(chmod(dir().c_str(), 0300), 0);
    const int was = geteuid() == 0 ? setfsuid(as) : -1;
    warnings().clear();
    const bool saved = zelSave(c);
    if (was >= 0) setfsuid(static_cast<uid_t>(was));
    chmod(dir().c_str(), 0700);
    EXPECT_TRUE(saved) << (warnings().empty() ? "" : warnings()[0]);
    EXPECT_NE(readFile(file()).find("constant K edited"), std::string::npos);
}

// Another writer's file beside the configuration (a lock or a claim): its
// text, how old its times say it is, and whether a save goes through it.
struct HeldBy {
    const char* name;
    std::string holder;
    long age;
    bool saves;
};

// The lock a save takes beside the file, and what a save does with one it
// finds: ages by the folder's clock (the file's times), not by its text.
TEST_F(SharedSaveTest, ALockIsTakenOverOnlyFromADeadWriterOrOnceOld) {
    const std::string lock = dir() + "/.config.zel.lock";
    const long now = static_cast<long>(std::time(nullptr));
    const uint64_t start = vek::os::processStart(getpid()), parent = vek::os::processStart(getppid());
    const std::string me = hostName();
    const HeldBy cases[] = {
        {"a dead process of this host", owner(me, deadPid(), now, 5), 0, true},
        {"this process's id, a process begun at another time", owner(me, getpid(), now, start + 1), 0, true},
        {"a live process of this host, long ago", owner(me, getppid(), now, parent), 120, false},
        {"another container of this host name, now", owner(me, 1, now, 1, "4026530000"), 0, false},
        {"another container of this host name, 2 min ago", owner(me, 1, now, 1, "4026530000"), 120, true},
        {"an earlier version's, naming this process, 2 min ago", me + " " + std::to_string(getpid()) + " " +
                                                                     std::to_string(now - 120) + "\n", 120, true},
        {"another host, 2 min ago", "elsewhere 42 " + std::to_string(now - 120) + "\n", 120, true},
        {"another host, 30 s ago", "elsewhere 42 " + std::to_string(now - 30) + "\n", 30, false},
        {"another host an hour fast, 2 min ago", "elsewhere 42 " + std::to_string(now + 3600) + "\n", 120, true},
        {"dated 2 hours ahead", "elsewhere 42 " + std::to_string(now) + "\n", -7200, true},
    };
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    for (const HeldBy& k : cases) {
        writeFile(lock, k.holder);
        age(lock, k.age);
        const std::string before = readFile(file());
        warnings().clear();
        EXPECT_EQ(zelSave(c) != 0, k.saves) << k.name << (warnings().empty() ? "" : ": " + warnings()[0]);
        if (k.saves) {
            EXPECT_FALSE(std::filesystem::exists(lock)) << k.name << ": the lock goes with the save";
        } else {
            ASSERT_EQ(warnings().size(), 1u) << k.name;
            for (const char* says : {"is being saved by process ", " UTC", "stays modified"})
                EXPECT_TRUE(anyWarningHas(says)) << k.name << ": " << warnings()[0];
            EXPECT_EQ(readFile(file()), before);
            EXPECT_EQ(readFile(lock), k.holder) << "another's lock is left alone";
        }
        zelReplaceConst(c, "K", k.name);
    }
}

TEST_F(SharedSaveTest, TempFilesAndClaimsAreRemovedOnlyOnceTheirWriterIsGoneOrOld) {
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    const std::string t = ".config.zel.";
    // Of another PID namespace: its place differs from this process's.
    auto elsewhere = [](long pid) { return "." + std::to_string(pid) + ".00000000-5.abcdef"; };
    struct Case {
        std::string name;
        long age;
        bool removed;
    } cases[] = {
        {t + zel::tempWriterName(deadPid(), 5) + ".abcdef", 0, true},
        {t + zel::tempWriterName(getppid(), vek::os::processStart(getppid())) + ".abcdef", 7200, false},
        {t + zel::tempWriterName(getpid(), vek::os::processStart(getpid()) + 1) + ".abcdef", 0, true},
        {t + hostName() + elsewhere(deadPid()), 0, false},
        {t + hostName() + elsewhere(deadPid()), 7200, true},
        {t + "elsewhere.42.abcdef", 7200, true},
        {t + "elsewhere.44.abcdef", -7200, true},  // dated ahead
        {t + hostName() + "." + std::to_string(deadPid()) + ".abcdef", 0, false},  // an earlier version's
        {t + "42.abcdef", 7200, true},
        // Empty, with an old time: on NFS, one in the middle of its exclusive
        // create, whose times hold the creator's verifier.
        {t + "elsewhere.43.abcdef", 7200, false},
        {".config.zel.replaced.10.0123456789abcdef", 60, false},
        {".other.zel.replaced.11.0123456789abcdef", 400, true},
    };
    for (const Case& k : cases) {
        writeFile(dir() + "/" + k.name, k.name.find(".43.") == std::string::npos ? "half" : "");
        age(dir() + "/" + k.name, k.age);
    }
    ASSERT_TRUE(zelSave(c));
    for (const Case& k : cases) EXPECT_EQ(std::filesystem::exists(dir() + "/" + k.name), !k.removed) << k.name;
}

TEST_F(SharedSaveTest, TheLastRevisionIsNotPassed) {
    for (long long last : {2147483646LL, 2147483647LL}) {
        const std::string text = "zelvek-config 1\nrevision " + std::to_string(last) + "\n";
        writeFile(file(), text);
        ConfigRecord* c = openConfig("lib", "top", "config", "a");
        ASSERT_NE(c, nullptr);
        zelReplaceConst(c, "K", "v");
        warnings().clear();
        EXPECT_EQ(zelSave(c) != 0, last < INT32_MAX) << last;
        EXPECT_EQ(zelGetRevision(c), INT32_MAX);
        EXPECT_EQ(zelConfigIsModified(c) != 0, last == INT32_MAX);
        if (last == INT32_MAX) {
            EXPECT_TRUE(anyWarningHas("the last a file may hold")) << (warnings().empty() ? "" : warnings()[0]);
            EXPECT_EQ(readFile(file()), text);
        } else {
            ConfigRecord* again = openConfig("lib", "top", "config", "r");
            ASSERT_NE(again, nullptr) << "the file a save wrote opens";
            EXPECT_EQ(zelGetRevision(again), INT32_MAX);
        }
    }
}

TEST_F(SharedSaveTest, CommentsFollowTheirLine) {
    struct Case {
        const char* name;
        std::string text;
        void (*edit)(ConfigRecord*);
        const char* kept;    // in the saved file
        const char* gone;    // no longer in it
    } cases[] = {
        {"a deleted note", "note a # of a\n",
         [](ConfigRecord* c) { zelDeleteNote(c), zelAddNoteLine(c, "b"); }, "note b\n", "of a"},
        {"a note line replaced by none", "note a\nnote z # of z\n",
         [](ConfigRecord* c) { zelReplaceNoteLine(c, nullptr), zelAddNoteLine(c, "y"); }, "note a\nnote y\n", "of z"},
        {"a property written twice, changed", "cell lib top\n  views x # old\n  views y # new\n",
         [](ConfigRecord* c) { zelReplaceCellViewList(c, "lib", "top", "z"); }, "  views z # new\n", "old"},
        {"a property written twice, the last without comment", "cell lib top\n  views x # old\n  views y\n",
         [](ConfigRecord* c) { zelReplaceCellViewList(c, "lib", "top", "z"); }, "cell lib top\n  views z\n", "old"},
    };
    for (const Case& k : cases) {
        writeFile(file(), "zelvek-config 1\n" + k.text);
        ConfigRecord* c = openConfig("lib", "top", "config", "a");
        ASSERT_NE(c, nullptr) << k.name;
        k.edit(c);
        ASSERT_TRUE(zelSave(c)) << k.name;
        const std::string saved = readFile(file());
        EXPECT_NE(saved.find(k.kept), std::string::npos) << k.name << ":\n" << saved;
        EXPECT_EQ(saved.find(k.gone), std::string::npos) << k.name << ":\n" << saved;
    }
}

// The check before a save compares the whole content, and the size limit is
// the largest size a file may have, not one less.
TEST_F(SharedSaveTest, TheSavesCheckReadsAllOfTheFile) {
    // Another writer's rewrite of the same length.
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    std::string text = readFile(file());
    text.replace(text.find("revision 1"), 10, "revision 7");
    writeFile(file(), text);
    warnings().clear();
    EXPECT_FALSE(zelSave(c));
    EXPECT_TRUE(anyWarningHas("changed by another program")) << (warnings().empty() ? "" : warnings()[0]);

    // A file of many pieces, edited and saved.
    std::string big = "zelvek-config 1\n";
    for (int i = 0; big.size() < 300000; ++i)
        big += "constant C" + std::to_string(i) + " value" + std::to_string(i) + "\n";
    writeFile(configFile("lib", "top", "big"), big);
    ConfigRecord* b = openConfig("lib", "top", "big", "a");
    ASSERT_NE(b, nullptr) << (warnings().empty() ? "" : warnings().back());
    zelReplaceConst(b, "C5", "changed");
    warnings().clear();
    EXPECT_TRUE(zelSave(b)) << (warnings().empty() ? "" : warnings()[0]);
    ConfigRecord* back = openConfig("lib", "top", "big", "r");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(str(zelResolveConstants(back, "$(C5) $(C9000)")), "changed value9000");

    // Exactly the limit: a line of blanks fills it.
    const std::string head = "zelvek-config 1\nconstant AT limit\n";
    const size_t limit = static_cast<size_t>(zel::kMaxConfigFileSize);
    writeFile(configFile("lib", "top", "limit"), head + std::string(limit - head.size(), ' '));
    ConfigRecord* l = openConfig("lib", "top", "limit", "r");
    ASSERT_NE(l, nullptr) << (warnings().empty() ? "" : warnings().back());
    EXPECT_EQ(str(zelResolveConstants(l, "$(AT)")), "limit");
}

}  // namespace

namespace {

// The name of a claim on the content the file at path has now.
std::string claimOf(const std::string& path) {
    const std::string text = readFile(path);
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char b : text) hash = (hash ^ b) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    const std::filesystem::path p(path);
    return p.parent_path().string() + "/." + p.filename().string() + ".replaced." + std::to_string(text.size()) +
           "." + hex;
}

std::string lockPath, appeared, peerTemp;
double lockAge = 0;
int staleOpens = 0, holding = -1;

bool is(const char* step, const char* name) { return std::strcmp(step, name) == 0; }

}  // namespace

TEST_F(SharedSaveTest, ClaimsOnANetworkFolderAreVoidOnceOldAndHoldOnlyTheirFile) {
    zel::networkFolderSeam = 1;
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    const long now = static_cast<long>(std::time(nullptr));
    const std::string elsewhere = "elsewhere 42 " + std::to_string(now) + "\n";
    const HeldBy cases[] = {
        {"another host's, a minute old", elsewhere, 60, false},
        {"another host's, 6 minutes old", elsewhere, 360, true},
        {"dated 6 minutes ahead", elsewhere, -360, true},
        {"of a dead process of this host", owner(hostName(), deadPid(), now, 5), 0, true},
    };
    for (const HeldBy& k : cases) {
        const std::string claim = claimOf(file()), before = readFile(file());
        writeFile(claim, k.holder);
        age(claim, k.age);
        warnings().clear();
        EXPECT_EQ(zelSave(c) != 0, k.saves) << k.name << (warnings().empty() ? "" : ": " + warnings()[0]);
        if (!k.saves) {
            EXPECT_TRUE(anyWarningHas("another save replaced it")) << k.name;
            EXPECT_EQ(readFile(file()), before) << k.name;
        }
        zelReplaceConst(c, "K", k.name);
    }
    // Two files of one folder with the same content: a claim holds its own file only.
    const std::string text = "zelvek-config 1\nconstant SAME 1\n";
    writeFile(root + "/p/a.zel", text);
    writeFile(root + "/p/b.zel", text);
    for (const char* name : {"a.zel", "b.zel"}) {
        ConfigRecord* p = zelOpenPartialConfig((root + "/p/" + name).c_str(), "a");
        ASSERT_NE(p, nullptr);
        zelReplaceConst(p, "SAME", "2");
        EXPECT_TRUE(zelSave(p)) << name << (warnings().empty() ? "" : ": " + warnings()[0]);
        zelClose(p);
    }
}

TEST_F(SharedSaveTest, ASlowSaveKeepsItsLockFreshAndChecksItBeforeItsRename) {
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    lockPath = dir() + "/.config.zel.lock";
    // A check that took two minutes: the lock is written anew after it.
    zel::saveStepHook = [](const char* step) {
        struct stat st{};
        if (is(step, "checked")) age(lockPath, 120);
        if (is(step, "rename") && stat(lockPath.c_str(), &st) == 0) lockAge = std::difftime(time(nullptr), st.st_mtime);
        return 0;
    };
    EXPECT_TRUE(zelSave(c));
    EXPECT_LT(lockAge, 60);
    // Another save took the lock meanwhile: this one answers false and leaves that lock alone.
    zel::saveStepHook = [](const char* step) {
        if (is(step, "rename")) writeFile(lockPath, "elsewhere 42 1\n");
        return 0;
    };
    zelReplaceConst(c, "K", "late");
    const std::string before = readFile(file());
    warnings().clear();
    EXPECT_FALSE(zelSave(c));
    EXPECT_TRUE(anyWarningHas("another save took its lock")) << (warnings().empty() ? "" : warnings()[0]);
    EXPECT_EQ(readFile(file()), before);
    EXPECT_EQ(readFile(lockPath), "elsewhere 42 1\n");
}

TEST_F(SharedSaveTest, SaveAsToANewNameNeverReplacesAFileThatAppeared) {
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    // Another host's save-as put its file there after this one's check
    // (which a stale look-up on NFS can miss).
    appeared = configFile("lib", "top", "new");
    zel::saveStepHook = [](const char* step) {
        if (is(step, "rename")) writeFile(appeared, "zelvek-config 1\nconstant THEIRS 1\n");
        return 0;
    };
    warnings().clear();
    EXPECT_FALSE(zelSaveAs(c, "lib", "top", "new"));
    EXPECT_TRUE(anyWarningHas("already a configuration")) << (warnings().empty() ? "" : warnings()[0]);
    EXPECT_NE(readFile(appeared).find("THEIRS"), std::string::npos);
    EXPECT_EQ(savefault::filesIn(root + "/libs/lib/top/new"), std::vector<std::string>{"config.zel"});
}

// Two writers of one host name in two PID namespaces (two containers of a
// pod on one volume): the other's lock names a process id that is none here.
TEST_F(SharedSaveTest, AWriterInAnotherPidNamespaceIsNotTakenForDead) {
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    holding = pipeFds[1];
    lockPath = dir();
    peerTemp = ".config.zel." + hostName() + "." + std::to_string(getpid()) + ".";
    const pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWPID) != 0) _exit(77);
        auto waitFor = [](pid_t p) {
            int status = 0;
            return p > 0 && waitpid(p, &status, 0) == p && WIFEXITED(status) ? WEXITSTATUS(status) : 9;
        };
        const pid_t first = fork();  // process 1 of the namespace
        if (first != 0) _exit(waitFor(first));
        for (;;) {  // it forks until a writer's id is none outside
            const pid_t writer = fork();
            if (writer == 0) break;
            const int status = waitFor(writer);
            if (status != 10) _exit(status);
        }
        if (access(("/proc/" + std::to_string(getpid())).c_str(), F_OK) == 0) _exit(10);
        // Holds the lock until the test's save has written its file and tried.
        zel::saveStepHook = [](const char* step) {
            if (!is(step, "rename")) return 0;
            (void)!write(holding, "h", 1);
            for (int i = 0; i < 1000; ++i) {
                for (const std::string& name : savefault::filesIn(lockPath))
                    if (name.rfind(peerTemp, 0) == 0) return usleep(500000), 0;
                usleep(10000);
            }
            return 0;
        };
        ConfigRecord* w = zelOpen("lib", "top", "config", "a");
        zelReplaceConst(w, "WRITER", "1");
        _exit(w && zelSave(w) ? 0 : 1);
    }
    close(pipeFds[1]);
    char h = 0;
    const bool held = read(pipeFds[0], &h, 1) == 1;
    zelReplaceConst(c, "K", "test");
    warnings().clear();
    const bool saved = held && zelSave(c);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeFds[0]);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no PID namespaces here";
    ASSERT_TRUE(held) << "exit " << WEXITSTATUS(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other namespace's save";
    EXPECT_FALSE(saved) << "both saves answered true";
    EXPECT_NE(readFile(file()).find("WRITER"), std::string::npos);
}

TEST_F(SharedSaveTest, APipeWhereTheLockOrAClaimGoesRefusesTheSaveAtOnce) {
    zel::networkFolderSeam = 1;
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    for (const std::string& path : {dir() + "/.config.zel.lock", claimOf(file())}) {
        ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
        const pid_t child = fork();
        if (child == 0) _exit(zelSave(c) ? 1 : anyWarningHas("is a named pipe, not a regular file") ? 0 : 2);
        int status = -1;
        for (int i = 0; i < 600 && waitpid(child, &status, WNOHANG) == 0; ++i) usleep(100000);
        if (status == -1) kill(child, SIGKILL), waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << path << ": hung or saved";
        std::filesystem::remove(path);
    }
}

TEST_F(SharedSaveTest, ARefusedSaveMakesNoFolder) {
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    std::filesystem::remove_all(root + "/libs/lib/top");
    EXPECT_FALSE(zelSave(c));
    EXPECT_TRUE(anyWarningHas("was removed"));
    EXPECT_FALSE(std::filesystem::exists(root + "/libs/lib/top"));
}

TEST_F(SharedSaveTest, AStaleHandleIsTriedAgainFiveTimes) {
    ASSERT_NE(edited(), nullptr);
    zel::saveStepHook = [](const char* step) { return is(step, "open") && staleOpens-- > 0 ? ESTALE : 0; };
    for (int stale : {5, 6}) {
        staleOpens = stale;
        warnings().clear();
        ConfigRecord* r = openConfig("lib", "top", "config", "r");
        EXPECT_EQ(r != nullptr, stale < 6) << stale;
        EXPECT_EQ(anyWarningHas("6 tries"), stale == 6) << stale;
    }
}

// Root plays the other users: a colleague in the file's group, and root itself.
TEST_F(SharedSaveTest, AFileIsSavedOnlyWithItsOwnerGroupModeAndAccessList) {
    if (geteuid() != 0) GTEST_SKIP() << "playing other users needs root";
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    for (std::filesystem::path d = dir(); d.string().size() >= root.size(); d = d.parent_path())
        chmod(d.c_str(), 0777);
    const std::string shared = root + "/readonly", link = configFile("lib", "top", "linked");
    writeFile(shared + "/linked.zel", readFile(file()));
    chmod((shared + "/linked.zel").c_str(), 0666);
    chmod(shared.c_str(), 0555);
    std::filesystem::create_directories(std::filesystem::path(link).parent_path());
    ASSERT_EQ(symlink((shared + "/linked.zel").c_str(), link.c_str()), 0);
    ConfigRecord* l = openConfig("lib", "top", "linked", "a");
    ASSERT_NE(l, nullptr);
    zelReplaceConst(l, "K", "linked");
    ASSERT_EQ(chown(file().c_str(), 1234, 4321), 0);
    struct Case {
        const char* name;
        ConfigRecord* config;
        mode_t mode;
        const char* says;
    } cases[] = {
        {"read-only to the colleague", c, 0444, "may not be written by this user"},
        {"the owner's, group-writable", c, 0664, "cannot keep the owner"},
        {"through a link to a writable file in a folder it may not write", l, 0664, "is a link to"},
    };
    for (const Case& k : cases) {
        chmod(file().c_str(), k.mode);
        const std::string before = readFile(file()), linked = readFile(shared + "/linked.zel");
        const int uid = setfsuid(1235), gid = setfsgid(4321);
        warnings().clear();
        const bool saved = zelSave(k.config);
        setfsuid(static_cast<uid_t>(uid)), setfsgid(static_cast<gid_t>(gid));
        EXPECT_FALSE(saved) << k.name;
        EXPECT_TRUE(anyWarningHas(k.says)) << k.name << ": " << (warnings().empty() ? "" : warnings()[0]);
        EXPECT_EQ(readFile(file()), before) << k.name;
        EXPECT_EQ(readFile(shared + "/linked.zel"), linked) << k.name;
    }
    // Root gives the new file the old one's owner, group, mode and access list.
    chmod(file().c_str(), 0640);
    const unsigned char acl[] = {2, 0, 0, 0, 1, 0, 6, 0, 255, 255, 255, 255, 2, 0, 6, 0, 0xd3, 4, 0, 0,
                                 4, 0, 4, 0, 255, 255, 255, 255, 16, 0, 6, 0, 255, 255, 255, 255,
                                 32, 0, 0, 0, 255, 255, 255, 255};  // u::rw-,u:1235:rw-,g::r--,m::rw-,o::---
    const bool acls = setxattr(file().c_str(), "system.posix_acl_access", acl, sizeof acl, 0) == 0;
    ASSERT_TRUE(zelSave(c)) << (warnings().empty() ? "" : warnings()[0]);
    struct stat st{};
    ASSERT_EQ(stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 4321u);
    char kept[sizeof acl + 8];
    EXPECT_EQ(getxattr(file().c_str(), "system.posix_acl_access", kept, sizeof kept), acls ? ssize_t(sizeof acl) : -1);
    EXPECT_EQ(st.st_mode & 07777, acls ? 0660u : 0640u) << "the access list's mask shows as the group's bits";
}

// A host whose clock runs two hours ahead (a preloaded library plays it, in
// a run of this very test): ages are the folder's, so it removes no fresh
// claim or temporary file of another host and takes over no fresh lock.
TEST_F(SharedSaveTest, AHostWhoseClockIsOffJudgesAgesAsTheOthers) {
#if defined(ZEL_UNDER_QEMU) || defined(__i386__)
    GTEST_SKIP() << "a library preloaded under qemu-user does not reach the emulated program";
#endif
    if (!std::getenv("ZEL_CLOCK_OFFSET")) {
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        // The sanitizers' runtime wants to come first; the shim only adds to the clock.
        const std::string command = "ZEL_CLOCK_OFFSET=7200 ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" +
                                    std::string(ZEL_CLOCK_SHIM) + " '" + self + "' --gtest_brief=1 --gtest_filter=" +
                                    test->test_suite_name() + "." + test->name();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return;
    }
    zel::networkFolderSeam = 1;
    ConfigRecord* c = edited();
    ASSERT_NE(c, nullptr);
    struct stat st{};
    ASSERT_EQ(stat(file().c_str(), &st), 0);
    ASSERT_GT(std::difftime(time(nullptr), st.st_mtime), 7000) << "the clock is not off";
    const std::string claim = dir() + "/.config.zel.replaced.10.0123456789abcdef",
                      temp = dir() + "/.config.zel.elsewhere.42.abcdef", lock = dir() + "/.config.zel.lock";
    writeFile(claim, "elsewhere 42 0\n");
    writeFile(temp, "half");
    ASSERT_TRUE(zelSave(c)) << (warnings().empty() ? "" : warnings()[0]);
    EXPECT_TRUE(std::filesystem::exists(claim));
    EXPECT_TRUE(std::filesystem::exists(temp));
    writeFile(lock, "elsewhere 42 " + std::to_string(std::time(nullptr) - 7200) + "\n");
    zelReplaceConst(c, "K", "skewed");
    EXPECT_FALSE(zelSave(c));
    EXPECT_TRUE(anyWarningHas("is being saved by process 42"));
}
