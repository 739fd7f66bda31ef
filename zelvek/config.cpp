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

// Opens a configuration file for reading; an invalid File with a warning that
// says why (a path that is no regular file is not opened at all).  `stale`
// (when given) takes a stale NFS handle instead of the warning.
os::File openToRead(const std::string& path, const std::string& describedAs, uint64_t& size, bool* stale = nullptr) {
    std::string what;
    os::File file = os::openRegularFile(path, what);
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

// The test seam's answer for a step: 0 to go on, else the errno it fails with.
int injectedFault(const char* step) { return saveStepHook ? saveStepHook(step) : 0; }

// Temporary files are named after the host and the process that write them,
// so that a later save can tell the file of a save that died from one still
// being written: .config.zel.<host>.<pid>.XXXXXX.
const char kTempPrefix[] = ".config.zel.";
// Another host's processes cannot be asked: its temporary files are removed
// only once nothing has written them for this long.  A save writes its file
// in seconds at most.
constexpr double kForeignTempAge = 3600;
// A lock of another host is taken over once it is this old.  A save holds it
// for its check and rename only: well under a second, a few on a slow server.
constexpr int64_t kForeignLockAge = 60;
// How long a save waits for another one of the same file to end.
constexpr std::chrono::seconds kLockWait{10};

// On NFS a host may go on showing a file that another host has replaced
// (a look-up it trusts while the folder's coarse times look unchanged, a
// delegation the server took back): the save's check would then read what
// this configuration saw and write over the other host's save.  So a save
// there first claims the content it replaces, by creating a file named
// after it where none may be; the server decides, so of two saves from one
// content only the first goes on, whatever either host shows.  A claim is
// needed only while a host may show the old file: it is removed once this
// old (NFS caches names and attributes for a minute at most, a delegation
// is revoked after a lease of 90 s).
const char kClaimPrefix[] = ".config.zel.replaced.";
constexpr double kClaimAge = 300;

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

std::string tempPattern(const std::string& dir) {
    return dir + "/" + kTempPrefix + thisHost() + "." + std::to_string(os::processId()) + ".XXXXXX";
}

// The host and process that wrote a temporary file of ours; false for any
// other name.  Files of earlier versions name no host (host empty).
bool writerOf(const std::string& name, std::string& host, long& pid) {
    const size_t prefix = sizeof kTempPrefix - 1;
    if (name.compare(0, prefix, kTempPrefix) != 0 || name.size() < prefix + 9 || name[name.size() - 7] != '.')
        return false;
    const std::string rest = name.substr(prefix, name.size() - 7 - prefix);  // [host.]pid
    const size_t dot = rest.rfind('.');
    const std::string digits = dot == std::string::npos ? rest : rest.substr(dot + 1);
    char* end = nullptr;
    pid = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end || pid <= 0) return false;
    host = dot == std::string::npos ? std::string() : rest.substr(0, dot);
    return true;
}

// Removes what saves killed between writing and renaming left in dir: this
// host's files of processes that are gone, and other hosts' (and unnamed
// ones) once old.  A folder that may not be listed is left as it is.
void removeStaleTemps(const std::string& dir) {
    std::vector<std::string> names;
    if (!os::listDirectory(dir, names)) return;
    for (const std::string& name : names) {
        std::string host;
        long pid = 0;
        const std::string path = dir + "/" + name;
        double age = 0;
        if (name.compare(0, sizeof kClaimPrefix - 1, kClaimPrefix) == 0) {
            if (os::secondsSinceWritten(path, age) && age > kClaimAge) os::removeFile(path);
            continue;
        }
        if (!writerOf(name, host, pid)) continue;
        const bool gone = host == thisHost() ? pid != os::processId() && os::processIsGone(pid)
                                             : os::secondsSinceWritten(path, age) && age > kForeignTempAge;
        if (gone) os::removeFile(path);
    }
}

// ---- the save lock ----------------------------------------------------------
//
// A file beside the configuration, created only where none is (O_EXCL: the
// NFS server decides, with or without a lock manager), holding
// "<host> <pid> <seconds since 1970>".  Removed when the save is done; one
// whose writer died is taken over (docs/library.md).

struct Holder {
    std::string host;
    long pid = 0;
    int64_t since = 0;  // 0: not yet written (or unreadable)
};

std::string lockPathOf(const std::string& file) {
    const size_t slash = os::lastSeparator(file);
    return slash == std::string::npos ? "." + file + ".lock"
                                      : file.substr(0, slash + 1) + "." + file.substr(slash + 1) + ".lock";
}

std::string holderText(const Holder& h) {
    return h.host + " " + std::to_string(h.pid) + " " + std::to_string(h.since) + "\n";
}

// What the lock file says; false when it is gone.
bool readHolder(const std::string& lock, Holder& h, std::string& text) {
    text.clear();
    os::File file = os::openForReading(lock);
    if (!file.valid() || !os::readRest(file, text)) return false;
    char host[256] = {};
    long long since = 0;
    long pid = 0;
    h = Holder{};
    if (std::sscanf(text.c_str(), "%255s %ld %lld", host, &pid, &since) == 3) h = Holder{host, pid, since};
    return true;
}

std::string describeHolder(const Holder& h) {
    if (h.since == 0) return "a save that has just begun, or one that wrote nothing into its lock";
    char when[32] = "?";
    const std::time_t t = static_cast<std::time_t>(h.since);
    if (const std::tm* utc = std::gmtime(&t)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", utc);
    return "process " + std::to_string(h.pid) + " on host " + vek::toModifiedUtf8(h.host) + " since " + when;
}

// Whether the writer of the lock can no longer be saving.
bool isAbandoned(const std::string& lock, const Holder& h) {
    if (h.since != 0 && h.host == thisHost()) return h.pid != os::processId() && os::processIsGone(h.pid);
    // Another host's, or one whose writer died before it said who it is.
    double age = 0;
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    return h.since != 0 ? now - h.since > kForeignLockAge
                        : os::secondsSinceWritten(lock, age) && age > static_cast<double>(kForeignLockAge);
}

// Moves an abandoned lock away under a name of this process's own, and
// removes it if it is still the one judged abandoned; one that another saver
// took in between goes back.
// False when it could not be moved.
bool takeOver(const std::string& lock, const std::string& judged) {
    const std::string aside = lock + "." + thisHost() + "." + std::to_string(os::processId());
    if (!os::replace(lock, aside)) return false;
    Holder h;
    std::string text;
    if (readHolder(aside, h, text) && text != judged) {
        os::replace(aside, lock);
        return true;
    }
    os::removeFile(aside);
    return true;
}

// The claim on a content: its size, then its hash in 16 hex digits (so
// that no claim reads as a temporary file's name).
std::string claimPath(const std::string& dir, const FileContent& content) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(content.hash));
    return dir + "/" + kClaimPrefix + std::to_string(content.size) + "." + hash;
}

// Claims `seen`, the content the save replaces at path, where the folder is
// shared over the network; false with a warning when another save already
// replaced it.  Held with the lock, after the check of the content.  The
// claim says who made it, as the lock does.
bool claim(const std::string& path, const FileContent& seen, std::string& made) {
    const std::string dir = folderOf(path);
    if (!os::isNetworkFolder(dir)) return true;
    const std::string claimed = claimPath(dir, seen);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        os::File file = os::createNew(claimed);
        if (file.valid()) {
            os::writeAll(file, holderText(Holder{thisHost(), os::processId(), std::time(nullptr)}));
            made = claimed;
            return true;
        }
        // A claim that cannot be made for another reason leaves the check of
        // the content alone to decide, as on a local disk.
        if (!os::isAlreadyThere(os::lastError())) return true;
        // A process of this host that died between its claim and its rename:
        // this host sees what is there, and the check found the content
        // still there, so that save never replaced it.
        Holder h;
        std::string text;
        if (attempt == 1 && readHolder(claimed, h, text) && h.since != 0 && h.host == thisHost() &&
            h.pid != os::processId() && os::processIsGone(h.pid))
            os::removeFile(claimed);
        else
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
};

// Takes the lock of the file at `file`; false with a warning that says who
// holds it.
bool lockForSaving(const std::string& file, SaveLock& held) {
    const std::string lock = lockPathOf(file);
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    for (;;) {
        os::File made = os::createNew(lock);
        if (made.valid()) {
            held = SaveLock{lock, holderText(Holder{thisHost(), os::processId(), std::time(nullptr)})};
            // Unwritten, the lock still excludes; only who holds it is unknown.
            if (!os::writeAll(made, held.text)) held.text.clear();
            return true;
        }
        const os::Error error = os::lastError();
        if (!os::isAlreadyThere(error)) {
            warn("cannot create the lock " + shownPath(lock) + " for the save: " + systemError(error) +
                     "; make the directory writable; the configuration is not saved",
                 kError);
            return false;
        }
        Holder h;
        std::string text;
        if (!readHolder(lock, h, text)) {
            if (os::kindOf(lock) == os::FileKind::Missing) continue;  // let go in between
            h = Holder{};  // there, but not ours to read: judged by its age
        }
        if (isAbandoned(lock, h) && takeOver(lock, text)) continue;
        if (std::chrono::steady_clock::now() > deadline) {
            warn("the configuration " + shownPath(file) + " is being saved by " + describeHolder(h) + " (lock " +
                     shownPath(lock) + "); waited " + std::to_string(kLockWait.count()) +
                     " s; the configuration is not saved and stays modified: save again once that save is done",
                 kError);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void unlock(const SaveLock& held) {
    Holder h;
    std::string text;
    // Not another's: a save slower than kForeignLockAge may have lost its lock.
    if (readHolder(held.path, h, text) && text == held.text) os::removeFile(held.path);
}

// What a save may write over: whatever is there (a new configuration opened
// with mode "w" replaces the stored one), nothing (save-as to a place this
// configuration did not read), or the content it read or last wrote.
enum class Expect { Anything, Nothing, Same };

// Whether the save may write over what is at path now; false with a warning.
// Called with the lock held, so that no other save writes in between.
bool mayWriteOver(const std::string& path, Expect expect, const FileContent& seen) {
    if (expect == Expect::Anything) return true;
    FileContent now;
    const OnDisk there = contentAt(path, "the configuration file", now);
    if (there == OnDisk::Unreadable) return false;
    if (expect == Expect::Nothing) {
        if (there == OnDisk::Nothing) return true;
        warn("there is already a configuration at " + shownPath(path) +
                 " that this configuration did not read; it is not saved over it: open that one to change it, or "
                 "save under another name",
             kError);
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

// Writes the new text beside the file, then with the lock held checks that
// the file is still what this configuration saw and renames the new one over
// it: the old file stays whole whatever fails.  Through a symbolic link the
// file it points to is replaced, and the link stays.
bool saveTo(Config& cfg, const std::string& path, Expect expect) {
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
    const std::string dir = folderOf(target);
    std::string temp = tempPattern(dir);
    os::File file = os::createUnique(temp);
    if (!file.valid()) {
        warn("cannot create a file in " + shownPath(dir) + ": " + systemError() +
                 "; make the directory writable; the configuration is not saved",
             kError);
        return false;
    }
    os::copyPermissions(target, file);
    const char* step = "write";
    int fault = injectedFault(step);
    bool ok = fault == 0 && os::writeAll(file, text);
    if (ok) {
        step = "flush";
        fault = injectedFault(step);
        ok = fault == 0 && os::flush(file);
    }
    os::Error error = fault != 0 ? os::errnoError(fault) : os::lastError();
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
        checked = lockForSaving(target, lock) && mayWriteOver(target, expect, cfg.seen) &&
                  (expect != Expect::Same || claim(target, cfg.seen, claimed));
        if (checked) {
            step = "rename";
            fault = injectedFault(step);
            ok = fault == 0 && os::replace(temp, target);
            error = fault != 0 ? os::errnoError(fault) : os::lastError();
            // Not replaced after all: the content may still be replaced.
            if (!ok && !claimed.empty()) os::removeFile(claimed);
            // A claim on what is there now would be an earlier one on the
            // same content (a configuration made anew with mode "w").
            if (ok && os::isNetworkFolder(dir)) os::removeFile(claimPath(dir, content));
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
    removeStaleTemps(dir);
    cfg.seen = content;
    keepRemarksOf(cfg, written);
    keepLayout(cfg, std::move(layout));
    cfg.rec.revision = revision;
    cfg.set(kModified, false);
    return true;
}

// The cell and view directories of a configuration in a library.
bool makeViewDirectory(const std::string& libDir, const std::string& viewDir) {
    if (os::kindOf(libDir) != os::FileKind::Directory) {
        warn("library directory " + shownPath(libDir) + " does not exist; create it or correct the library "
                 "definitions; the configuration is not saved",
             kError);
        return false;
    }
    std::string cellDir = viewDir.substr(0, viewDir.rfind('/'));
    for (const std::string& dir : {cellDir, viewDir}) {
        if (!os::makeDirectory(dir)) {
            warn("cannot create the directory " + shownPath(dir) + ": " + systemError() +
                     "; the configuration is not saved",
                 kError);
            return false;
        }
    }
    return true;
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
    if (cfg->has(kInLibrary)) {
        std::string libDir, viewDir;
        if (!placeOf(cfg->rec.libName, cfg->rec.cellName, cfg->rec.viewName, libDir, viewDir) ||
            !makeViewDirectory(libDir, viewDir))
            return 0;
    }
    return saveTo(*cfg, cfg->fsPath, cfg->seen.known ? Expect::Same : Expect::Anything) ? 1 : 0;
}

ZelBool zelSaveAs(ConfigRecord* config, const char* lib, const char* cell, const char* view) {
    Config* cfg = configOf(config);
    if (!cfg || cfg->has(kClosed)) return 0;
    std::string libDir, viewDir;
    if (!placeOf(lib, cell, view, libDir, viewDir) || !makeViewDirectory(libDir, viewDir)) return 0;
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
    if (!saveTo(*cfg, file, expect)) {
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
