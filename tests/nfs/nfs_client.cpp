// One client of a library on NFS, run by tests/nfs/guest.sh inside the
// user-mode Linux guest (one per mount, each under a hostname of its own):
//   write <kwo.lib> <who> <edits>   opens lib.top:config, adds one constant,
//                                   saves; a refused save is made again after
//                                   reopening, until <edits> saves answered true
//   read <kwo.lib> <stop file>      opens lib.top:config until the file exists
//   check <kwo.lib> <edits> <who>...  every edit of every writer is in the file
//   tempname <pid>                  the name part of a temporary file of
//                                   process <pid> of this host
//   newnames <kwo.lib> <who> <n> <go file>  once the file exists, save-as of a
//                                   new configuration to lib.n0 ... lib.n<n-1>:config;
//                                   prints the names saved
//   late <kwo.lib> <go file>        opens lib.top:config, adds a constant, waits
//                                   for the file, saves: another host saved in
//                                   between, so the save must be refused
// Each prints one line of figures; the exit status says whether all was well.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zelvek/internal.h"
#include "zelvek/vek.h"
#include "zelvek/zelvek.h"

namespace {

std::vector<std::string> warnings;
void collect(int, const char* text) { warnings.emplace_back(text ? text : ""); }

bool warned(const char* fragment) {
    for (const std::string& w : warnings)
        if (w.find(fragment) != std::string::npos) return true;
    return false;
}

void showWarnings() {
    for (const std::string& w : warnings) std::fprintf(stderr, "  warning: %s\n", w.c_str());
}

std::string editName(const std::string& who, int i) { return "E" + who + "_" + std::to_string(i); }

int write(const std::string& who, int edits) {
    // Each save lingers between its check and its rename: the other host's
    // save falls in there unless the lock keeps it out.
    zel::saveStepHook = [](const char* step) { return std::strcmp(step, "rename") == 0 ? (usleep(3000), 0) : 0; };
    int refused = 0, openFailures = 0;
    for (int i = 0; i < edits;) {
        warnings.clear();
        ConfigRecord* c = zelOpen("lib", "top", "config", "a");
        if (!c) {
            // A reader may fail only with a warning, and never for long.
            showWarnings();
            if (++openFailures > 20) return 2;
            continue;
        }
        zelReplaceConst(c, editName(who, i).c_str(), "x");
        warnings.clear();
        if (zelSave(c)) {
            ++i;
        } else {
            ++refused;
            // Refused: said so, and the edit is still there to save elsewhere.
            if (!(warned("changed by another program") || warned("is being saved by")) || !zelConfigIsModified(c)) {
                std::fprintf(stderr, "%s: a refused save without its warning or its edits\n", who.c_str());
                showWarnings();
                return 3;
            }
        }
        zelClose(c);
    }
    std::printf("writer %s: %d saves, %d refused and made again, %d opens failed, %lu stale-handle retries\n",
                who.c_str(), edits, refused, openFailures, zel::staleRetries.load());
    return openFailures == 0 ? 0 : 2;
}

int read(const std::string& stop) {
    int reads = 0, failures = 0;
    struct stat st{};
    while (stat(stop.c_str(), &st) != 0) {
        warnings.clear();
        ConfigRecord* c = zelOpen("lib", "top", "config", "r");
        ++reads;
        if (c) {
            zelClose(c);
        } else {
            ++failures;
            showWarnings();
        }
        // The guest has one processor: a reader that never waits takes most
        // of it from the writers and the server, and the more so the busier
        // the host (a round took 25 s on a quiet machine, 150 s with a core
        // kept busy).  A millisecond between opens still opens hundreds of
        // times a second, across every save.
        usleep(1000);
    }
    std::printf("reader: %d opens, %d failed, %lu stale-handle retries\n", reads, failures, zel::staleRetries.load());
    return failures == 0 ? 0 : 1;
}

int check(int edits, const std::vector<std::string>& writers) {
    ConfigRecord* c = zelOpen("lib", "top", "config", "r");
    if (!c) {
        showWarnings();
        return 1;
    }
    int lost = 0;
    for (const std::string& who : writers)
        for (int i = 0; i < edits; ++i) {
            const char* value = zelResolveConstants(c, ("$(" + editName(who, i) + ")").c_str());
            if (!value || std::string(value) != "x") ++lost;
        }
    const int expected = 1 + edits * static_cast<int>(writers.size());
    std::printf("check: %d of %d edits lost, revision %d (expected %d)\n", lost,
                edits * static_cast<int>(writers.size()), zelGetRevision(c), expected);
    return lost == 0 && zelGetRevision(c) == expected ? 0 : 1;
}

// Saves a new configuration as lib.n<i>:config for each i, each to a name
// no file has yet; prints the names whose save answered true.
int newNames(const std::string& who, int names, const std::string& go) {
    struct stat st{};
    while (stat(go.c_str(), &st) != 0) usleep(1000);  // both hosts start together
    int saved = 0;
    for (int i = 0; i < names; ++i) {
        ConfigRecord* c = zelOpen("lib", ("by" + who).c_str(), "config", "w");
        zelReplaceConst(c, "WHO", who.c_str());
        warnings.clear();
        const std::string cell = "n" + std::to_string(i);
        if (zelSaveAs(c, "lib", cell.c_str(), "config")) {
            ++saved;
            std::printf("%s\n", cell.c_str());
        } else if (!warned("already a configuration")) {
            showWarnings();
            return 3;
        }
        zelClose(c);
    }
    std::fprintf(stderr, "new names %s: %d of %d saved\n", who.c_str(), saved, names);
    return 0;
}

int late(const std::string& go) {
    ConfigRecord* c = zelOpen("lib", "top", "config", "a");
    if (!c) {
        showWarnings();
        return 2;
    }
    zelReplaceConst(c, "Elate", "x");
    std::printf("late: opened\n");
    struct stat st{};
    while (stat(go.c_str(), &st) != 0) usleep(10000);
    warnings.clear();
    const bool saved = zelSave(c);
    std::printf("late: save %s\n", saved ? "answered true over the other host's save" : "refused");
    if (!saved && !warned("changed by another program")) showWarnings();
    zelClose(c);
    return saved || !warned("changed by another program") ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The name part of a temporary file of process <pid> of this host.
    if (argc == 3 && std::strcmp(argv[1], "tempname") == 0) {
        std::printf("%s\n", zel::tempWriterName(std::atol(argv[2]), 0).c_str());
        return 0;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s write|read|check|late <kwo.lib> ...\n", argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string what = argv[1];
    int32_t state = 0;
    vekInitialize(argv[2], nullptr, &state);
    zelSetErrorHandler(collect);
    if (what == "write" && argc == 5) return write(argv[3], std::atoi(argv[4]));
    if (what == "read") return read(argv[3]);
    if (what == "late") return late(argv[3]);
    if (what == "newnames" && argc == 6) return newNames(argv[3], std::atoi(argv[4]), argv[5]);
    if (what == "check") return check(std::atoi(argv[3]), std::vector<std::string>(argv + 4, argv + argc));
    std::fprintf(stderr, "unknown command %s\n", what.c_str());
    return 2;
}
