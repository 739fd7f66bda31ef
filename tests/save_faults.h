// Faults brought on a save while it runs, shared by the library's tests and the
// system tests: a directory the process may not write in, a full disk, a
// failing flush or rename, and a process killed between writing and renaming.
#ifndef ZEL_TESTS_SAVE_FAULTS_H
#define ZEL_TESTS_SAVE_FAULTS_H

#ifndef _WIN32
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "zelvek/internal.h"

namespace savefault {

enum class Kind { UnwritableDirectory, DiskFull, FailingFlush, FailingRename, KilledBeforeRename };

struct Case {
    Kind kind;
    const char* name;
    const char* warning;  // what the save's warning says; the killed save says nothing
};

inline const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {Kind::UnwritableDirectory, "UnwritableDirectory", "cannot create a file in"},
        {Kind::DiskFull, "DiskFull", "cannot write"},
        {Kind::FailingFlush, "FailingFlush", "cannot flush"},
        {Kind::FailingRename, "FailingRename", "cannot rename"},
        {Kind::KilledBeforeRename, "KilledBeforeRename", nullptr},
    };
    return all;
}

inline std::string caseName(const Case& c) { return c.name; }
// How a failure message shows a case.
inline void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

struct Outcome {
    bool answer = false;
    bool killed = false;   // the save ran in a child that died before its rename
    std::string skipped;   // why the fault could not be brought about here
};

// Whether name is a claim, which a save on a network folder leaves for a
// few minutes on the content it replaced: ".<file>.replaced.<size>.<hash>".
inline bool isClaim(const std::string& name) {
    return !name.empty() && name[0] == '.' && name.find(".replaced.") != std::string::npos;
}

// The files in a directory, by name, claims aside.
inline std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (!isClaim(e.path().filename().string())) names.push_back(e.path().filename().string());
    return names;
}

namespace detail {

#ifdef _WIN32
// What Windows cannot bring about here: no other identity to drop to (and
// Wine grants every access), no file-size limit, no fork.
inline const char* unavailable(Kind kind) {
    switch (kind) {
        case Kind::UnwritableDirectory: return "Windows has no setfsuid to write as another user";
        case Kind::DiskFull: return "Windows has no file-size limit (setrlimit) to fill the disk with";
        case Kind::KilledBeforeRename: return "Windows has no fork to kill a saving child with";
        default: return nullptr;
    }
}
#else
inline const char* unavailable(Kind) { return nullptr; }
#endif

inline int failStep(const char* wanted, const char* step, int error) {
    return std::strcmp(step, wanted) == 0 ? error : 0;
}

#ifndef _WIN32
// Root may write anywhere: the save then runs under another file-system
// identity, which may pass through the scratch tree but write in no directory
// made read-only.  Only the file-system identity changes, for as long as the
// save runs.
class Unwritable {
public:
    Unwritable(const std::string& root, const std::string& dir) : dir_(dir) {
        using std::filesystem::perms;
        const perms readOnly = perms::owner_read | perms::owner_exec | perms::group_read | perms::group_exec |
                               perms::others_read | perms::others_exec;
        std::filesystem::permissions(root, readOnly | perms::owner_write);
        for (const auto& e : std::filesystem::recursive_directory_iterator(root))
            if (e.is_directory()) std::filesystem::permissions(e.path(), readOnly | perms::owner_write);
        std::filesystem::permissions(dir, readOnly);
        if (geteuid() == 0) {
            was_ = setfsuid(65534);
            if (setfsuid(static_cast<uid_t>(-1)) != 65534) skipped = "this process cannot take another identity";
        }
    }
    ~Unwritable() {
        if (was_ >= 0) setfsuid(static_cast<uid_t>(was_));
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
    }
    std::string skipped;

private:
    std::string dir_;
    int was_ = -1;
};

// A file-size limit below the text: the write fails part-way with EFBIG, as
// on a full disk, and SIGXFSZ, ignored, does not end the process.
class SmallFileLimit {
public:
    SmallFileLimit() {
        getrlimit(RLIMIT_FSIZE, &old_);
        struct rlimit small = old_;
        small.rlim_cur = 512;
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~SmallFileLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, oldHandler_);
    }

private:
    struct rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

#endif

class Hook {
public:
    explicit Hook(zel::SaveStepHook hook) { zel::saveStepHook = hook; }
    ~Hook() { zel::saveStepHook = nullptr; }
};

}  // namespace detail

// Runs save() with the fault in force on directory dir (the save's target,
// inside the scratch tree root).  The text the save writes must be longer
// than 512 bytes for DiskFull.  KilledBeforeRename runs it in a child process
// that is killed right before its rename; nothing it did in memory comes back.
inline Outcome runUnder(const Case& c, const std::string& root, const std::string& dir,
                        const std::function<bool()>& save) {
    Outcome out;
    if (const char* why = detail::unavailable(c.kind)) {
        out.skipped = why;
        return out;
    }
    (void)root;  // the faults that need them are not brought about everywhere
    (void)dir;
    switch (c.kind) {
        case Kind::FailingFlush: {
            detail::Hook hook([](const char* step) { return detail::failStep("flush", step, EIO); });
            out.answer = save();
            break;
        }
        case Kind::FailingRename: {
            detail::Hook hook([](const char* step) { return detail::failStep("rename", step, EXDEV); });
            out.answer = save();
            break;
        }
#ifndef _WIN32
        case Kind::UnwritableDirectory: {
            detail::Unwritable unwritable(root, dir);
            out.skipped = unwritable.skipped;
            if (out.skipped.empty()) out.answer = save();
            break;
        }
        case Kind::DiskFull: {
            detail::SmallFileLimit limit;
            out.answer = save();
            break;
        }
        case Kind::KilledBeforeRename: {
            pid_t child = fork();
            if (child == 0) {
                zel::saveStepHook = [](const char* step) {
                    if (std::strcmp(step, "rename") == 0) raise(SIGKILL);
                    return 0;
                };
                _exit(save() ? 3 : 4);  // reached only if the kill never came
            }
            int status = 0;
            if (child < 0 || waitpid(child, &status, 0) != child) {
                out.skipped = "cannot start a child process";
                break;
            }
            out.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
            break;
        }
#endif
        default:
            break;
    }
    return out;
}

}  // namespace savefault

#endif  // ZEL_TESTS_SAVE_FAULTS_H
