/* Opening, saving and closing configurations; their top cell, defaults and names. */
#include <chrono>
#include <cinttypes>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "vek/libraries.h"
#include "vek/platform.h"
#include "vek/text.h"
#include "zelvek/format.h"
#include "zelvek/internal.h"

using namespace zel;
namespace os = vek::os;

namespace zel {
SaveStepHook saveStepHook = nullptr;
std::atomic<unsigned long> staleRetries{0};
}

namespace {

std::string shownPath(const std::string& path) { return vek::toModifiedUtf8(path); }
std::string systemError(const os::Error& error = os::lastError()) {
    return vek::toModifiedUtf8(os::describe(error));
}

// Problems of the library definitions reach the first open that follows them.
void reportDefinitionProblems() {
    for (const std::string& problem : vek::takeDefinitionProblems()) warn(problem);
}

enum class Mode { Read, Append, Write, Bad };

Mode modeOf(const char* mode) {
    if (mode && std::strcmp(mode, "r") == 0) return Mode::Read;
    if (mode && std::strcmp(mode, "a") == 0) return Mode::Append;
    if (mode && std::strcmp(mode, "w") == 0) return Mode::Write;
    return Mode::Bad;
}

bool checkMode(const char* mode, Mode& m) {
    m = modeOf(mode);
    if (m != Mode::Bad) return true;
    warn("unknown open mode " + q(mode) + "; use \"r\" to read, \"a\" to edit or \"w\" to start a new configuration",
         kError);
    return false;
}

// Checks the names of a configuration's place and finds its directory:
// <library dir>/<cell>/<view>.  False with a warning.
bool placeOf(const char* lib, const char* cell, const char* view, std::string& libDir, std::string& viewDir) {
    const char* names[3] = {lib, cell, view};
    const char* roles[3] = {"library", "cell", "view"};
    std::string parts[3];
    for (int i = 0; i < 3; ++i) {
        std::string why;
        if (!vek::isPathComponent(names[i], &why) || !vek::toFileSystemName(names[i], parts[i])) {
            if (why.empty()) why = "a name may not hold a NUL character";
            warn(std::string(roles[i]) + " name " + q(names[i]) + " refused: " + why, kError);
            return false;
        }
    }
    if (!vek::libraryDirectory(norm(lib), libDir)) {
        warn("library " + q(lib) + " is not defined; add 'DEFINE " + norm(lib) +
                 " <directory>' to the library definitions file",
             kError);
        return false;
    }
    viewDir = libDir + "/" + parts[1] + "/" + parts[2];
    return true;
}

// FNV-1a over the bytes, piece by piece: the same for any cut of the text.
constexpr uint64_t kHashStart = 14695981039346656037ull;

void hashOn(uint64_t& hash, std::string_view bytes) {
    for (unsigned char b : bytes) hash = (hash ^ b) * 1099511628211ull;
}

FileContent contentOf(std::string_view text) {
    FileContent c{true, text.size(), kHashStart};
    hashOn(c.hash, text);
    return c;
}

std::string megabytes(uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

// The test seam's answer for a step: 0 to go on, else the errno it fails with.
int injectedFault(const char* step) { return saveStepHook ? saveStepHook(step) : 0; }

// Opens a configuration file for reading; an invalid File with a warning that
// says why (a path that is no regular file is not opened at all).  `stale`
// (when given) takes a stale NFS handle instead of the warning.
os::File openToRead(const std::string& path, const std::string& describedAs, uint64_t& size, bool* stale = nullptr) {
    std::string what;
    os::File file;
    if (const int fault = injectedFault("open"))
        os::setLastError(os::errnoError(fault));
    else
        file = os::openRegularFile(path, what);
    if (!file.valid()) {
        if (stale && what.empty() && os::isStale(os::lastError())) {
            *stale = true;
            return file;
        }
        warn("cannot read " + describedAs + " (" + shownPath(path) + "): " +
                 (what.empty() ? systemError() : "it is " + what + ", not a regular file; put the file there"),
             kError);
        return file;
    }
    os::FileKind kind = os::FileKind::Regular;
    size = 0;
    os::kindOf(file, kind, size);
    if (size > kMaxConfigFileSize) {
        warn("cannot read " + describedAs + " (" + shownPath(path) + "): it holds " + megabytes(size) +
                 ", more than the " + megabytes(kMaxConfigFileSize) + " a configuration file may hold",
             kError);
        return os::File();
    }
    return file;
}

// The next piece of a file being read, added to its content so far; false
// with `why` (and `stale` for a stale NFS handle) when it cannot be read or
// grows past the limit while read.  An empty piece at the end.
bool nextPiece(const os::File& file, std::vector<char>& buffer, FileContent& content, std::string_view& piece,
               std::string& why, bool& stale) {
    size_t got = 0;
    if (!os::readSome(file, buffer.data(), buffer.size(), got)) {
        stale = os::isStale(os::lastError());
        why = systemError();
        return false;
    }
    content.size += got;
    if (content.size > kMaxConfigFileSize) {
        why = "it grew past the " + megabytes(kMaxConfigFileSize) + " a configuration file may hold while it was read";
        return false;
    }
    piece = std::string_view(buffer.data(), got);
    hashOn(content.hash, piece);
    return true;
}

// On NFS, an open or a read fails with "Stale file handle" while another
// client renames a new file over this one.  Measured: retrying the open alone
// kept failing (NFSv4.2, 50 tries); opening the folder first made the next
// try succeed.  Tries, and the pause between them:
constexpr int kStaleTries = 6;
constexpr std::chrono::milliseconds kStalePause{20};

std::string folderOf(const std::string& path) {
    const size_t slash = os::lastSeparator(path);
    return slash == std::string::npos ? "." : slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// Before try `attempt` (from 1) after a stale handle: false once the tries are spent.
bool againAfterStale(const std::string& path, int attempt) {
    if (attempt >= kStaleTries) return false;
    ++staleRetries;
    if (attempt > 1) std::this_thread::sleep_for(kStalePause);
    os::refreshDirectory(folderOf(path));
    return true;
}

std::string staleWhy(const std::string& why) {
    return why + " (" + std::to_string(kStaleTries) + " tries: another host keeps replacing the file)";
}

// Whether a file is there: yes, no, or unknown when the path could not be
// looked at (with a warning that names the permission problem: "open it with
// mode w" would send the user the wrong way).
enum class Found { Yes, No, Unknown };

Found lookFor(const std::string& path, const std::string& describedAs) {
    if (os::kindOf(path) != os::FileKind::Missing) return Found::Yes;
    const os::Error error = os::lastError();
    if (os::isNotFound(error)) return Found::No;
    warn("cannot look for " + describedAs + " (" + shownPath(path) + "): " + systemError(error) +
             "; the directories on its path must let this user read and search them",
         kError);
    return Found::Unknown;
}

// Reads the file into a new configuration, one piece at a time, so that
// memory holds one line of it besides the rules; null with a warning.
Config* load(const std::string& path, const std::string& describedAs) {
    std::vector<char> buffer(1 << 16);
    for (int attempt = 1;; ++attempt) {
        uint64_t size = 0;
        bool stale = false;
        os::File file = openToRead(path, describedAs, size, &stale);
        if (stale && againAfterStale(path, attempt)) continue;
        if (!file.valid()) {
            if (stale)
                warn("cannot read " + describedAs + " (" + shownPath(path) + "): " + staleWhy(systemError()), kError);
            return nullptr;
        }
        std::string error, why;
        try {
            auto cfg = std::make_unique<Config>();
            // A cell block takes two lines of some 30 bytes at least.
            cfg->cells.reserve(static_cast<size_t>(size / 128));
            cfg->seen = FileContent{true, 0, kHashStart};
            auto next = [&](std::string_view& piece) { return nextPiece(file, buffer, cfg->seen, piece, why, stale); };
            if (readConfig(*cfg, next, error)) return cfg.release();
        } catch (const std::bad_alloc&) {
            why = "there is not enough memory to hold it";
        }
        if (stale && againAfterStale(path, attempt)) continue;
        if (!why.empty()) {
            warn("cannot read " + describedAs + " (" + shownPath(path) + "): " + (stale ? staleWhy(why) : why), kError);
        } else {
            warn(shownPath(path) + ":" + error + "; correct the file and open it again", kError);
        }
        return nullptr;
    }
}

// What is at path now, as a save sees it before it writes there: nothing,
// the content (size and hash) of a regular file, or a warning.
enum class OnDisk { Nothing, File, Unreadable };

OnDisk contentAt(const std::string& path, const std::string& describedAs, FileContent& content) {
    content = FileContent{};  // unknown: no content of a configuration matches it
    auto unreadable = [&](const std::string& why) {
        warn("cannot read " + describedAs + " (" + shownPath(path) + ") to see whether another program changed it: " +
                 why + "; the configuration is not saved",
             kError);
        return OnDisk::Unreadable;
    };
    std::vector<char> buffer(1 << 16);
    for (int attempt = 1;; ++attempt) {
        if (os::kindOf(path) == os::FileKind::Missing) {
            const os::Error error = os::lastError();
            if (os::isStale(error) && againAfterStale(path, attempt)) continue;
            return os::isNotFound(error) ? OnDisk::Nothing : unreadable(systemError(error));
        }
        std::string what;
        os::File file = os::openRegularFile(path, what);
        bool stale = !file.valid() && what.empty() && os::isStale(os::lastError());
        if (stale && againAfterStale(path, attempt)) continue;
        if (!file.valid() && !what.empty()) return OnDisk::File;
        if (!file.valid()) return unreadable(stale ? staleWhy(systemError()) : systemError());
        FileContent read{true, 0, kHashStart};
        std::string_view piece;
        std::string why;
        bool failed = false;
        do {
            failed = !nextPiece(file, buffer, read, piece, why, stale);
        } while (!failed && !piece.empty());
        if (!failed) {
            content = read;
            return OnDisk::File;
        }
        if (stale && againAfterStale(path, attempt)) continue;
        return read.size > kMaxConfigFileSize ? OnDisk::File : unreadable(stale ? staleWhy(why) : why);
    }
}

void placeConfig(Config& cfg, const char* lib, const char* cell, const char* view, const std::string& file) {
    setText(cfg.rec.libName, lib);
    setText(cfg.rec.cellName, cell);
    setText(cfg.rec.viewName, view);
    cfg.fsPath = file;
    setText(cfg.rec.filePath, vek::toModifiedUtf8(file));
    cfg.set(kInLibrary, true);
}

// Temporary files are named after the host and the process that write them,
// so that a later save can tell the file of a save that died from one still
// being written: .config.zel.<host>.<pid>.<place>-<start>.XXXXXX, the place
// a hash of the machine's boot and the process's PID namespace, the start
// the process's start time (docs/library.md).
const char kTempPrefix[] = ".config.zel.";
// Files whose writer cannot be asked (another host, another container, a
// name of an earlier version) are removed only once nothing has written them
// for this long.  A save writes its file in seconds at most.
constexpr double kForeignTempAge = 3600;
// A lock whose writer cannot be asked is taken over once it is this old.  A
// save holds it for its check and rename only, and writes it anew after its
// check: well under a second, a few on a slow server.
constexpr double kForeignLockAge = 60;

// On NFS a host may go on showing a file that another host has replaced
// (a look-up it trusts while the folder's coarse times look unchanged, a
// delegation the server took back): the save's check would then read what
// this configuration saw and write over the other host's save.  So a save
// there first claims the content it replaces, by creating a file named
// after the file and that content where none may be; the server decides, so
// of two saves from one content only the first goes on, whatever either
// host shows.  A claim is needed only while a host may show the old file:
// it is void once this old (NFS caches names and attributes for a minute at
// most, a delegation is revoked after a lease of 90 s), so that a file
// restored to an earlier content can be saved again.
const char kClaimMark[] = ".replaced.";
constexpr double kClaimAge = 300;

}  // namespace

namespace zel {
std::chrono::milliseconds saveLockWait{10000};
int networkFolderSeam = -1;
}  // namespace zel

namespace {

bool isNetworkFolder(const std::string& dir) {
    return networkFolderSeam >= 0 ? networkFolderSeam != 0 : os::isNetworkFolder(dir);
}

// This host's name as the names of files carry it: no '.' or '/' in it.
const std::string& thisHost() {
    static const std::string host = [] {
        std::string name = os::hostName();
        if (name.empty()) name = "unknown";
        for (char& c : name)
            if (c == '.' || c == '/' || c == '\\' || static_cast<unsigned char>(c) <= ' ') c = '_';
        return name;
    }();
    return host;
}

// Time as the folder's file system keeps it: on NFS the server's clock,
// read off the times of the file a save has just written there, so that a
// host whose own clock is off judges ages as the others do.
struct FolderClock {
    double at = 0;  // seconds since 1970, when `when` was
    std::chrono::steady_clock::time_point when;
    double now() const {
        return at + std::chrono::duration<double>(std::chrono::steady_clock::now() - when).count();
    }
};

FolderClock clockOf(const os::File& justWritten) {
    FolderClock clock{0, std::chrono::steady_clock::now()};
    if (!os::writtenAt(justWritten, clock.at)) clock.at = static_cast<double>(std::time(nullptr));
    return clock;
}

// How long ago the file at path was written by the folder's clock; false
// when nothing is there.  One dated in the future (a host whose clock runs
// ahead set its times, a clock set back) counts by how far off it is.
bool ageOf(const std::string& path, const FolderClock& clock, double& age) {
    double written = 0;
    if (!os::writtenAt(path, written)) return false;
    age = clock.now() - written;
    if (age < 0) age = -age;
    return true;
}

// Who writes a lock, a claim or a temporary file: host and process, and
// what tells that process from any other of the same host name and id (a
// container sharing the host name, a process that got the id later).
struct Owner {
    std::string host;
    long pid = 0;
    int64_t since = 0;  // by the writer's clock, for messages only; 0: unknown
    std::string boot, space;  // empty: written by an earlier version
    uint64_t start = 0;
};

Owner thisProcess() {
    const long pid = os::processId();
    return Owner{thisHost(), pid, static_cast<int64_t>(std::time(nullptr)), os::bootId(), os::processSpace(),
                 os::processStart(pid)};
}

std::string ownerText(const Owner& o) {
    return o.host + " " + std::to_string(o.pid) + " " + std::to_string(o.since) + " " + o.boot + " " + o.space + " " +
           std::to_string(o.start) + "\n";
}

bool parseOwner(const std::string& text, Owner& o) {
    char host[256] = {}, boot[128] = {}, space[64] = {};
    long long since = 0;
    unsigned long long start = 0;
    long pid = 0;
    o = Owner{};
    const int n = std::sscanf(text.c_str(), "%255s %ld %lld %127s %63s %llu", host, &pid, &since, boot, space, &start);
    if (n < 3) return false;
    o = Owner{host, pid, since, n == 6 ? boot : "", n == 6 ? space : "", n == 6 ? start : 0};
    return true;
}

// Whether the owner still runs: known only for a process of this host,
// this boot and this space of process ids; unknown otherwise.
enum class Alive { Yes, No, Unknown };

Alive isAlive(const Owner& o) {
    if (o.boot.empty() || o.host != thisHost() || o.boot != os::bootId() || o.space != os::processSpace())
        return Alive::Unknown;
    if (os::processIsGone(o.pid)) return Alive::No;
    const uint64_t start = os::processStart(o.pid);
    if (start == 0 || o.start == 0) return Alive::Unknown;
    return start == o.start ? Alive::Yes : Alive::No;  // else the id went to a later process
}

// The place part of a temporary file's name: the boot and the space of
// process ids, hashed to 8 hex digits.
std::string placeMark() {
    uint64_t hash = kHashStart;
    hashOn(hash, os::bootId() + " " + os::processSpace());
    char mark[9];
    std::snprintf(mark, sizeof mark, "%08llx", static_cast<unsigned long long>(hash & 0xffffffffull));
    return mark;
}

}  // namespace

std::string zel::tempWriterName(long pid, uint64_t start) {
    return thisHost() + "." + std::to_string(pid) + "." + placeMark() + "-" + std::to_string(start);
}

namespace {

std::string tempPattern(const std::string& dir) {
    const long pid = os::processId();
    return dir + "/" + kTempPrefix + tempWriterName(pid, os::processStart(pid)) + ".XXXXXX";
}

// Whether the writer of a temporary file of ours is known to be gone (a
// process of this host, boot and space that no longer runs), or cannot be
// asked; false for a name that is no temporary file of ours.
bool tempWriter(const std::string& name, Alive& alive) {
    const size_t prefix = sizeof kTempPrefix - 1;
    if (name.compare(0, prefix, kTempPrefix) != 0 || name.size() < prefix + 9 || name[name.size() - 7] != '.')
        return false;
    const std::string rest = name.substr(prefix, name.size() - 7 - prefix);  // [host.]pid[.place-start]
    auto digits = [](const std::string& s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
    };
    const size_t last = rest.rfind('.');
    const std::string tail = last == std::string::npos ? rest : rest.substr(last + 1);
    const size_t dash = tail.find('-');
    if (dash == 8 && digits(tail.substr(9)) && last != std::string::npos) {
        const std::string head = rest.substr(0, last);  // host.pid
        const size_t dot = head.rfind('.');
        if (dot == std::string::npos || !digits(head.substr(dot + 1))) return false;
        const std::string host = head.substr(0, dot);
        const long pid = std::strtol(head.c_str() + dot + 1, nullptr, 10);
        const uint64_t start = std::strtoull(tail.c_str() + 9, nullptr, 10);
        alive = Alive::Unknown;
        if (host != thisHost() || tail.substr(0, 8) != placeMark()) return true;
        if (os::processIsGone(pid)) {
            alive = Alive::No;
        } else if (const uint64_t now = os::processStart(pid)) {
            alive = now == start ? Alive::Yes : Alive::No;
        }
        return true;
    }
    // A name of an earlier version: [host.]pid, judged by its age.
    alive = Alive::Unknown;
    return digits(tail);
}

// A claim's name: '.', the file's name, ".replaced.", the size, '.', the
// hash in 16 hex digits (so that no claim reads as a temporary file's name).
bool isClaimName(const std::string& name) {
    const size_t mark = name.rfind(kClaimMark);
    if (name.empty() || name[0] != '.' || mark == std::string::npos || mark == 0) return false;
    const std::string rest = name.substr(mark + sizeof kClaimMark - 1);
    const size_t dot = rest.find('.');
    return dot != std::string::npos && dot > 0 && rest.size() - dot - 1 == 16 &&
           rest.find_first_not_of("0123456789") == dot &&
           rest.find_first_not_of("0123456789abcdef", dot + 1) == std::string::npos;
}

// Removes what saves killed between writing and renaming left in dir: the
// temporary files of this host's processes that are gone at once, others
// once old, and void claims.  A folder that may not be listed is left as it
// is.
void removeStaleTemps(const std::string& dir, const FolderClock& clock) {
    std::vector<std::string> names;
    if (!os::listDirectory(dir, names)) return;
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        double age = 0;
        if (isClaimName(name)) {
            if (ageOf(path, clock, age) && age > kClaimAge) os::removeFile(path);
            continue;
        }
        Alive alive = Alive::Unknown;
        if (!tempWriter(name, alive) || alive == Alive::Yes) continue;
        if (alive == Alive::No || (ageOf(path, clock, age) && age > kForeignTempAge)) os::removeFile(path);
    }
}

// ---- the save lock ----------------------------------------------------------
//
// A file beside the configuration, created only where none is (O_EXCL: the
// NFS server decides, with or without a lock manager), naming its owner.
// Removed when the save is done; one whose owner died is taken over
// (docs/library.md).

std::string lockPathOf(const std::string& file) {
    const size_t slash = os::lastSeparator(file);
    return slash == std::string::npos ? "." + file + ".lock"
                                      : file.substr(0, slash + 1) + "." + file.substr(slash + 1) + ".lock";
}

// What a lock or claim file says; false when it is gone or is no regular
// file (`what` then says what it is).
bool readOwner(const std::string& path, Owner& o, std::string& text, std::string& what) {
    text.clear();
    o = Owner{};
    os::File file = os::openRegularFile(path, what, false);
    if (!file.valid() || !os::readRest(file, text)) return false;
    parseOwner(text, o);
    return true;
}

std::string describeOwner(const Owner& o) {
    if (o.since == 0) return "a save that has just begun, or one that wrote nothing into its lock";
    char when[32] = "?";
    const std::time_t t = static_cast<std::time_t>(o.since);
    if (const std::tm* utc = std::gmtime(&t)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", utc);
    return "process " + std::to_string(o.pid) + " on host " + vek::toModifiedUtf8(o.host) + " since " + when;
}

bool notRegular(const std::string& path, const std::string& what, const char* role) {
    warn(std::string("the ") + role + " " + shownPath(path) + " of the save is " + what +
             ", not a regular file; remove it (a save creates and removes that file itself); the configuration "
             "is not saved and stays modified",
         kError);
    return false;
}

// Whether the owner of the lock can no longer be saving: a process of this
// host known to be gone at once, any other once the lock is old (or dated
// far in the future) by the folder's clock.
bool isAbandoned(const std::string& lock, const Owner& o, const FolderClock& clock) {
    const Alive alive = o.since != 0 ? isAlive(o) : Alive::Unknown;
    if (alive != Alive::Unknown) return alive == Alive::No;
    double age = 0;
    return ageOf(lock, clock, age) && age > kForeignLockAge;
}

// Moves an abandoned lock away under a name of this process's own, and
// removes it if it is still the one judged abandoned; one that another saver
// took in between goes back.
// False when it could not be moved.
bool takeOver(const std::string& lock, const std::string& judged) {
    const std::string aside = lock + "." + thisHost() + "." + std::to_string(os::processId());
    if (!os::replace(lock, aside)) return false;
    Owner o;
    std::string text, what;
    if (readOwner(aside, o, text, what) && text != judged) {
        os::replace(aside, lock);
        return true;
    }
    os::removeFile(aside);
    return true;
}

std::string claimPath(const std::string& file, const FileContent& content) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(content.hash));
    const size_t slash = os::lastSeparator(file);
    const std::string dir = folderOf(file), name = slash == std::string::npos ? file : file.substr(slash + 1);
    return dir + "/." + name + kClaimMark + std::to_string(content.size) + "." + hash;
}

// Claims `seen`, the content the save replaces at path, where the folder is
// shared over the network; false with a warning when another save already
// replaced it.  Held with the lock, after the check of the content.  A claim
// older than kClaimAge, or made by a process of this host that is gone (it
// died between its claim and its rename: this host's check found the
// content still there), is void.
bool claim(const std::string& path, const FileContent& seen, const FolderClock& clock, std::string& made) {
    if (!isNetworkFolder(folderOf(path))) return true;
    const std::string claimed = claimPath(path, seen);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        os::File file = os::createNew(claimed);
        if (file.valid()) {
            os::writeAll(file, ownerText(thisProcess()));
            made = claimed;
            return true;
        }
        // A claim that cannot be made for another reason leaves the check of
        // the content alone to decide, as on a local disk.
        if (!os::isAlreadyThere(os::lastError())) return true;
        Owner o;
        std::string text, what;
        const bool read = readOwner(claimed, o, text, what);
        if (!what.empty()) return notRegular(claimed, what, "claim");
        double age = 0;
        const bool isVoid = (ageOf(claimed, clock, age) && age > kClaimAge) || (read && isAlive(o) == Alive::No);
        if (attempt == 1 && isVoid && takeOver(claimed, text)) continue;
        break;
    }
    warn("the configuration file " + shownPath(path) +
             " was changed by another program since this configuration read or last saved it (another save "
             "replaced it; this host still showed the file as it was); it is not saved, and the file stays as the "
             "other save left it: reopen it to work on that file (and make these edits again), or keep these "
             "edits with save-as under another name",
         kError);
    return false;
}

struct SaveLock {
    std::string path, text;
    os::File file;  // kept open to write it anew
};

// Takes the lock of the file at `file`; false with a warning that says who
// holds it.
bool lockForSaving(const std::string& file, const FolderClock& clock, SaveLock& held) {
    const std::string lock = lockPathOf(file);
    const auto deadline = std::chrono::steady_clock::now() + saveLockWait;
    for (;;) {
        os::File made = os::createNew(lock);
        if (made.valid()) {
            held.path = lock;
            held.text = ownerText(thisProcess());
            // Unwritten, the lock still excludes; only who holds it is unknown.
            if (!os::writeAll(made, held.text)) held.text.clear();
            held.file = std::move(made);
            return true;
        }
        const os::Error error = os::lastError();
        if (!os::isAlreadyThere(error)) {
            warn("cannot create the lock " + shownPath(lock) + " for the save: " + systemError(error) +
                     "; make the directory writable; the configuration is not saved",
                 kError);
            return false;
        }
        Owner o;
        std::string text, what;
        if (!readOwner(lock, o, text, what)) {
            if (!what.empty()) return notRegular(lock, what, "lock");
            if (os::kindOf(lock) == os::FileKind::Missing) continue;  // let go in between
            o = Owner{};  // there, but not ours to read: judged by its age
        }
        if (isAbandoned(lock, o, clock) && takeOver(lock, text)) continue;
        if (std::chrono::steady_clock::now() > deadline) {
            warn("the configuration " + shownPath(file) + " is being saved by " + describeOwner(o) + " (lock " +
                     shownPath(lock) + "); waited " +
                     (saveLockWait.count() % 1000 == 0 ? std::to_string(saveLockWait.count() / 1000) + " s"
                                                        : std::to_string(saveLockWait.count()) + " ms") +
                     "; the configuration is not saved and stays modified: save again once that save is done",
                 kError);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Whether the lock is still this save's: one that took longer than
// kForeignLockAge may have lost it to another save.
bool stillHeld(const SaveLock& held) {
    Owner o;
    std::string text, what;
    return !held.text.empty() && readOwner(held.path, o, text, what) && text == held.text;
}

void unlock(SaveLock& held) {
    held.file.close();  // Windows removes no name that is still open
    if (stillHeld(held)) os::removeFile(held.path);
}

// What a save may write over: whatever is there (a new configuration opened
// with mode "w" replaces the stored one), nothing (save-as to a place this
// configuration did not read), or the content it read or last wrote.
enum class Expect { Anything, Nothing, Same };

void warnAlreadyThere(const std::string& path) {
    warn("there is already a configuration at " + shownPath(path) +
             " that this configuration did not read; it is not saved over it: open that one to change it, or "
             "save under another name",
         kError);
}

// Whether the save may write over what is at path now; false with a warning.
// Called with the lock held, so that no other save writes in between.
bool mayWriteOver(const std::string& path, Expect expect, const FileContent& seen) {
    if (expect == Expect::Anything) return true;
    FileContent now;
    const OnDisk there = contentAt(path, "the configuration file", now);
    if (there == OnDisk::Unreadable) return false;
    if (expect == Expect::Nothing) {
        if (there == OnDisk::Nothing) return true;
        warnAlreadyThere(path);
        return false;
    }
    if (there == OnDisk::File && now.known && now.size == seen.size && now.hash == seen.hash) return true;
    warn("the configuration file " + shownPath(path) + " was " + (there == OnDisk::Nothing ? "removed" : "changed") +
             " by another program since this configuration read or last saved it; it is not saved, and the file "
             "stays as the other program left it: reopen it to work on that file (and make these edits again), or "
             "keep these edits with save-as under another name",
         kError);
    return false;
}

// Whether path lies in folder (both as the system resolves them).
bool isInside(const std::string& path, const std::string& folder) {
    const std::string real = os::realPath(folderOf(path)) + "/", top = os::realPath(folder) + "/";
    return real.compare(0, top.size(), top) == 0;
}

// What a save may do through a symbolic link and to the file it replaces;
// false with a warning.  `libDir`: the library the configuration lives in
// (empty for a file opened by its path).
bool mayReplace(const std::string& path, const std::string& target, Expect expect, const std::string& libDir) {
    // A save that read nothing there does not follow a link out of the
    // library: one planted in a view would make it write over any file of
    // the user's.  A save that read the file (and checks it) may.
    if (target != path && expect != Expect::Same && !libDir.empty() && !isInside(target, libDir)) {
        warn(shownPath(path) + " is a symbolic link to " + shownPath(target) + ", outside the library (" +
                 shownPath(libDir) + "); a save that did not read that file does not write through the link: "
                 "the configuration is not saved: remove the link, or open the configuration with mode \"a\" "
                 "if that file is one",
             kError);
        return false;
    }
    return true;
}

// Whether this user may write the file a save replaces, as a careful editor
// asks (the rename would need only the folder's permission); false with a
// warning.
bool mayWriteFile(const std::string& target) {
    if (os::mayWrite(target)) return true;
    warn("the configuration file " + shownPath(target) +
             " may not be written by this user (it is read-only to them); it is not saved and stays "
             "modified: make the file writable if it is meant to change, or keep these edits with save-as "
             "under another name",
         kError);
    return false;
}

// Writes the new text beside the file, then with the lock held checks that
// the file is still what this configuration saw and renames the new one over
// it: the old file stays whole whatever fails.  Through a symbolic link the
// file it points to is replaced, and the link stays.
bool saveTo(Config& cfg, const std::string& path, Expect expect, const std::string& libDir) {
    if (cfg.rec.revision >= kMaxRevision) {
        warn("the configuration " + shownPath(path) + " is at revision " + std::to_string(cfg.rec.revision) +
                 ", the last a file may hold; it is not saved: save it with mode \"w\" as a new configuration",
             kError);
        return false;
    }
    const intptr_t revision = cfg.rec.revision + 1;
    std::vector<RemarkKey> written;
    Layout layout;
    const std::string text = writeConfig(cfg, revision, &written, &layout);
    if (text.size() > kMaxConfigFileSize) {
        warn("the configuration would take " + megabytes(text.size()) + ", more than the " +
                 megabytes(kMaxConfigFileSize) + " a configuration file may hold (it could not be opened again); "
                 "it is not saved: remove rules and save again",
             kError);
        return false;
    }
    const std::string target = os::followLinks(path);
    if (!mayReplace(path, target, expect, libDir)) return false;
    const std::string dir = folderOf(target);
    std::string temp = tempPattern(dir);
    os::File file = os::createUnique(temp);
    if (!file.valid()) {
        // Through a link the file cannot be written in place instead: a
        // reader would see half of it, and a crash would leave half of it.
        warn("cannot create a file in " + shownPath(dir) + ": " + systemError() +
                 (target != path ? " (" + shownPath(path) + " is a link to " + shownPath(target) +
                                       ", and a save writes a new file beside the file it replaces)"
                                 : std::string()) +
                 "; make the directory writable; the configuration is not saved",
             kError);
        return false;
    }
    std::string lost;
    if (!mayWriteFile(target)) {
        file.close();
        os::removeFile(temp);
        return false;
    }
    if (!os::keepPermissions(target, file, lost)) {
        file.close();
        os::removeFile(temp);
        warn("cannot keep the " + lost + " of " + shownPath(target) +
                 ": a save replaces the file with a new one, and this user cannot give it that " + lost +
                 "; the file is not saved and stays as it is: ask its owner to save it, or keep these edits with "
                 "save-as under another name",
             kError);
        return false;
    }
    const char* step = "write";
    int fault = injectedFault(step);
    bool ok = fault == 0 && os::writeAll(file, text);
    if (ok) {
        step = "flush";
        fault = injectedFault(step);
        ok = fault == 0 && os::flush(file);
    }
    os::Error error = fault != 0 ? os::errnoError(fault) : os::lastError();
    const FolderClock clock = clockOf(file);
    if (!file.close() && ok) {
        step = "close";
        error = os::lastError();
        ok = false;
    }
    const FileContent content = contentOf(text);
    SaveLock lock;
    bool checked = false;
    if (ok) {
        std::string claimed;
        checked = lockForSaving(target, clock, lock) && mayWriteOver(target, expect, cfg.seen);
        if (checked) {
            injectedFault("checked");
            // A long check (a large file, a slow server) must not leave the
            // lock looking abandoned to others.
            os::rewrite(lock.file, lock.text);
            checked = expect != Expect::Same || claim(target, cfg.seen, clock, claimed);
        }
        if (checked) {
            step = "rename";
            fault = injectedFault(step);
            if (!stillHeld(lock)) {
                checked = false;
                warn("the save of " + shownPath(target) + " took so long that another save took its lock (" +
                         shownPath(lock.path) + "); it is not saved and stays modified: save again",
                     kError);
            } else if (expect == Expect::Nothing && fault == 0) {
                // A new name: the server decides whether one is there.
                ok = os::linkNew(temp, target);
                error = os::lastError();
                if (!ok && os::isAlreadyThere(error)) {
                    checked = false;
                    warnAlreadyThere(target);
                } else if (!ok && os::isUnsupported(error)) {
                    ok = os::replace(temp, target);
                    error = os::lastError();
                } else if (ok) {
                    os::removeFile(temp);
                }
            } else {
                ok = fault == 0 && os::replace(temp, target);
                error = fault != 0 ? os::errnoError(fault) : os::lastError();
            }
            // Not replaced after all: the content may still be replaced.
            if ((!ok || !checked) && !claimed.empty()) os::removeFile(claimed);
            // A claim on what is there now would be an earlier one on the
            // same content (a configuration made anew with mode "w").
            if (ok && checked && isNetworkFolder(dir)) os::removeFile(claimPath(target, content));
        }
        if (!lock.path.empty()) unlock(lock);
    }
    if (!ok || !checked) {
        os::removeFile(temp);
        if (!ok)
            warn("cannot " + std::string(step) + " " + shownPath(target) + ": " + systemError(error) +
                     "; the file on disk is unchanged and the configuration stays modified",
                 kError);
        return false;
    }
    os::syncDirectory(dir);  // make the rename itself durable; failure here loses nothing
    removeStaleTemps(dir, clock);
    cfg.seen = content;
    keepRemarksOf(cfg, written);
    keepLayout(cfg, std::move(layout));
    cfg.rec.revision = revision;
    cfg.set(kModified, false);
    return true;
}

// The cell and view directories of a configuration in a library; `made`
// gets those it created, for a save that fails to take away again.
bool makeViewDirectory(const std::string& libDir, const std::string& viewDir, std::vector<std::string>& made) {
    if (os::kindOf(libDir) != os::FileKind::Directory) {
        warn("library directory " + shownPath(libDir) + " does not exist; create it or correct the library "
                 "definitions; the configuration is not saved",
             kError);
        return false;
    }
    std::string cellDir = viewDir.substr(0, viewDir.rfind('/'));
    for (const std::string& dir : {cellDir, viewDir}) {
        if (os::kindOf(dir) == os::FileKind::Directory) continue;
        if (!os::makeDirectory(dir)) {
            warn("cannot create the directory " + shownPath(dir) + ": " + systemError() +
                     "; the configuration is not saved",
                 kError);
            return false;
        }
        made.push_back(dir);
    }
    return true;
}

// Takes away the directories a failed save made (only while empty).
void removeMade(const std::vector<std::string>& made) {
    for (auto dir = made.rbegin(); dir != made.rend(); ++dir) os::removeDirectory(*dir);
}

}  // namespace

extern "C" {

ConfigRecord* zelOpen(const char* lib, const char* cell, const char* view, const char* mode) {
    reportDefinitionProblems();
    Mode m;
    std::string libDir, viewDir;
    if (!checkMode(mode, m) || !placeOf(lib, cell, view, libDir, viewDir)) return nullptr;
    const std::string file = viewDir + "/" + kConfigFileName;
    const std::string described = "configuration " + norm(lib) + "." + norm(cell) + ":" + norm(view);
    Config* cfg = nullptr;
    if (m == Mode::Write) {
        cfg = new Config();
    } else {
        const Found found = lookFor(file, described);
        if (found == Found::No)
            warn("no " + described + " (no file " + shownPath(file) + "); open it with mode \"w\" to start one",
                 kError);
        if (found != Found::Yes) return nullptr;
        cfg = load(file, described);
        if (!cfg) return nullptr;
    }
    placeConfig(*cfg, lib, cell, view, file);
    cfg->set(kEditable, m != Mode::Read);
    return &cfg->rec;
}

ConfigRecord* zelOpenWithType(const char* lib, const char* cell, const char* view, const char* viewType,
                              const char* mode) {
    if (!viewType || std::strcmp(viewType, "config") != 0) {
        reportDefinitionProblems();
        warn("view type " + q(viewType) + " is not one this library stores; use \"config\"", kError);
        return nullptr;
    }
    return zelOpen(lib, cell, view, mode);
}

ConfigRecord* zelOpenPartialConfig(const char* path, const char* mode) {
    reportDefinitionProblems();
    Mode m;
    if (!checkMode(mode, m)) return nullptr;
    std::string file;
    if (!path || !*path || !vek::toFileSystemName(path, file)) {
        warn("configuration file path " + q(path) + " refused: give the path of a file", kError);
        return nullptr;
    }
    Config* cfg = nullptr;
    if (m == Mode::Write) {
        cfg = new Config();
    } else {
        const Found found = lookFor(file, "configuration file");
        if (found == Found::No)
            warn("no configuration file " + shownPath(file) + "; open it with mode \"w\" to start one", kError);
        if (found != Found::Yes) return nullptr;
        cfg = load(file, "configuration file");
        if (!cfg) return nullptr;
    }
    cfg->fsPath = file;
    setText(cfg->rec.filePath, vek::toModifiedUtf8(file));
    cfg->set(kEditable, m != Mode::Read);
    return &cfg->rec;
}

ZelBool zelSave(ConfigRecord* config) {
    Config* cfg = configOf(config);
    if (!cfg || cfg->has(kClosed)) return 0;
    if (!cfg->has(kEditable)) {
        warn("configuration " + std::string(cfg->rec.filePath ? cfg->rec.filePath : "") +
                 " was opened read-only and is not saved; open it with mode \"a\" or save it elsewhere with save-as",
             kError);
        return 0;
    }
    std::string libDir, viewDir;
    std::vector<std::string> made;
    if (cfg->has(kInLibrary) && (!placeOf(cfg->rec.libName, cfg->rec.cellName, cfg->rec.viewName, libDir, viewDir) ||
                                 !makeViewDirectory(libDir, viewDir, made)))
        return 0;
    if (saveTo(*cfg, cfg->fsPath, cfg->seen.known ? Expect::Same : Expect::Anything, libDir)) return 1;
    removeMade(made);
    return 0;
}

ZelBool zelSaveAs(ConfigRecord* config, const char* lib, const char* cell, const char* view) {
    Config* cfg = configOf(config);
    if (!cfg || cfg->has(kClosed)) return 0;
    std::string libDir, viewDir;
    std::vector<std::string> made;
    if (!placeOf(lib, cell, view, libDir, viewDir) || !makeViewDirectory(libDir, viewDir, made)) return 0;
    const std::string file = viewDir + "/" + kConfigFileName;
    // The file records its place, so the configuration moves there first.
    std::string oldLib = cfg->rec.libName ? cfg->rec.libName : "", oldCell = cfg->rec.cellName ? cfg->rec.cellName : "",
                oldView = cfg->rec.viewName ? cfg->rec.viewName : "";
    bool hadLib = cfg->rec.libName, hadCell = cfg->rec.cellName, hadView = cfg->rec.viewName;
    const char* before[3] = {hadLib ? oldLib.c_str() : nullptr, hadCell ? oldCell.c_str() : nullptr,
                             hadView ? oldView.c_str() : nullptr};
    setText(cfg->rec.libName, lib);
    setText(cfg->rec.cellName, cell);
    setText(cfg->rec.viewName, view);
    // Over its own file as a save does; elsewhere only where nothing is yet.
    const Expect expect = file != cfg->fsPath ? Expect::Nothing
                          : cfg->seen.known   ? Expect::Same
                                              : Expect::Anything;
    if (!saveTo(*cfg, file, expect, libDir)) {
        removeMade(made);
        setText(cfg->rec.libName, before[0]);
        setText(cfg->rec.cellName, before[1]);
        setText(cfg->rec.viewName, before[2]);
        return 0;
    }
    placeConfig(*cfg, lib, cell, view, file);
    cfg->set(kEditable, true);
    return 1;
}

ZelBool zelClose(ConfigRecord* config) {
    Config* cfg = configOf(config);
    if (!cfg || cfg->has(kClosed)) return 0;
    cfg->set(kClosed, true);
    releaseIfUnused(cfg);
    return 1;
}

int zelConfigIsModified(ConfigRecord* config) {
    Config* cfg = configOf(config);
    return cfg && cfg->has(kModified) ? 1 : 0;
}

int zelConfigIsEditable(ConfigRecord* config) {
    Config* cfg = configOf(config);
    return cfg && cfg->has(kEditable) ? 1 : 0;
}

ZelBool zelSetTopCellViewName(ConfigRecord* config, const char* lib, const char* cell, const char* view) {
    Config* cfg = configOf(config);
    if (!cfg) return 0;
    setText(cfg->rec.topLibName, lib);
    setText(cfg->rec.topCellName, cell);
    setText(cfg->rec.topViewName, view);
    editedSettings(*cfg);
    return 1;
}

ZelBool zelSetDefaultViewListString(ConfigRecord* config, const char* viewList) {
    Config* cfg = configOf(config);
    if (!cfg) return 0;
    setText(cfg->rec.defaultViewList, viewList);
    editedSettings(*cfg);
    return 1;
}

ZelBool zelSetDefaultLibListString(ConfigRecord* config, const char* libList) {
    Config* cfg = configOf(config);
    if (!cfg) return 0;
    setText(cfg->rec.defaultLibList, libList);
    editedSettings(*cfg);
    return 1;
}

ZelBool zelSetDefaultStopListString(ConfigRecord* config, const char* stopList) {
    Config* cfg = configOf(config);
    if (!cfg) return 0;
    setText(cfg->rec.defaultStopList, stopList);
    editedSettings(*cfg);
    return 1;
}

const char* zelGetDefaultViewListString(ConfigRecord* config) { return config ? config->defaultViewList : nullptr; }
const char* zelGetDefaultLibListString(ConfigRecord* config) { return config ? config->defaultLibList : nullptr; }
const char* zelGetDefaultStopListString(ConfigRecord* config) { return config ? config->defaultStopList : nullptr; }
const char* zelGetTopLibName(ConfigRecord* config) { return config ? config->topLibName : nullptr; }
const char* zelGetTopCellName(ConfigRecord* config) { return config ? config->topCellName : nullptr; }
const char* zelGetTopViewName(ConfigRecord* config) { return config ? config->topViewName : nullptr; }
const char* zelGetLibName(ConfigRecord* config) { return config ? config->libName : nullptr; }
const char* zelGetCellName(ConfigRecord* config) { return config ? config->cellName : nullptr; }
const char* zelGetViewName(ConfigRecord* config) { return config ? config->viewName : nullptr; }
int32_t zelGetRevision(ConfigRecord* config) { return config ? static_cast<int32_t>(config->revision) : 0; }

}  // extern "C"
