/* The system layer on POSIX systems.  The last error is errno itself. */
#include "vek/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

namespace vek::os {

namespace {

int fd(const File& file) { return static_cast<int>(file.handle()); }

FileKind kindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Directory;
    return FileKind::Other;
}

}  // namespace

Error lastError() { return Error{errno, 0}; }
Error errnoError(int value) { return Error{value, 0}; }
void setLastError(const Error& error) { errno = error.errnoValue; }
std::string describe(const Error& error) { return std::strerror(error.errnoValue); }

bool File::close() {
    if (!valid()) return true;
    return ::close(static_cast<int>(release())) == 0;
}

FileKind kindOf(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return FileKind::Missing;
    return kindOfMode(st.st_mode);
}

bool kindOf(const File& file, FileKind& kind, uint64_t& size) {
    struct stat st{};
    if (fstat(fd(file), &st) != 0) return false;
    kind = kindOfMode(st.st_mode);
    size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
}

File openForReading(const std::string& path) { return File(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

bool readRest(const File& file, std::string& text) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd(file), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        text.append(buffer, static_cast<size_t>(got));
    }
}

File openRegularFile(const std::string& path, std::string& what) {
    what.clear();
    struct stat st{};
    // Looked at before it is opened, so that a pipe is never opened; opened
    // without waiting and looked at again, in case something else took the
    // name in between.
    if (stat(path.c_str(), &st) != 0) return File();
    File file;
    if (S_ISREG(st.st_mode)) file = File(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.valid() && fstat(fd(file), &st) != 0) return File();
    if (S_ISREG(st.st_mode)) return file;
    what = S_ISDIR(st.st_mode)    ? "a directory"
           : S_ISFIFO(st.st_mode) ? "a named pipe"
           : S_ISCHR(st.st_mode)  ? "a character device"
           : S_ISBLK(st.st_mode)  ? "a block device"
           : S_ISSOCK(st.st_mode) ? "a socket"
                                  : "not a regular file";
    return File();
}

bool readSome(const File& file, char* buffer, size_t size, size_t& got) {
    for (;;) {
        ssize_t n = ::read(fd(file), buffer, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        got = static_cast<size_t>(n);
        return true;
    }
}

bool isNotFound(const Error& error) { return error.errnoValue == ENOENT || error.errnoValue == ENOTDIR; }

File createUnique(std::string& path) {
    // Not mkstemp: its files are 0600 whatever the umask; a team's library
    // wants what the umask (or the folder's default access list) gives.
    const size_t at = path.size() - 6;
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::mt19937_64 random((static_cast<uint64_t>(device()) << 32) ^ device() ^ static_cast<uint64_t>(getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t bits = random();
        for (size_t i = 0; i < 6; ++i, bits /= 62) path[at + i] = kLetters[bits % 62];
        int handle = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle >= 0 || errno != EEXIST) return File(handle);
    }
    return File();
}

File createNew(const std::string& path) {
    return File(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

bool isAlreadyThere(const Error& error) { return error.errnoValue == EEXIST; }

bool writeAll(const File& file, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::write(fd(file), text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            if (wrote == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

bool flush(const File& file) { return fsync(fd(file)) == 0; }

void copyPermissions(const std::string& like, const File& to) {
    struct stat old{}, now{};
    if (stat(like.c_str(), &old) != 0 || fstat(fd(to), &now) != 0) return;
    // The group first: changing it may clear the setgid bit that the mode
    // then sets again.  Only an owner in that group (or root) may keep it.
    if (now.st_gid != old.st_gid) (void)fchown(fd(to), static_cast<uid_t>(-1), old.st_gid);
    (void)fchmod(fd(to), old.st_mode & 07777);
}

bool secondsSinceWritten(const std::string& path, double& seconds) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) return false;
    // An empty file may be in the middle of an exclusive create on NFS: the
    // server keeps the client's verifier in its times until the client sets
    // them (read as a date in 1970 or 2038), so an abandoned-looking lock or
    // temporary file may be one being made that instant.  Its status-change
    // time, which only the server sets, says how old it is then.
    const time_t written = st.st_size == 0 ? std::max(st.st_mtime, st.st_ctime) : st.st_mtime;
    seconds = std::difftime(std::time(nullptr), written);
    return true;
}

bool isStale(const Error& error) { return error.errnoValue == ESTALE; }

void refreshDirectory(const std::string& dir) {
    // Opening a folder on NFS asks the server for it anew (close-to-open),
    // which drops the stale handle of the name.  A folder that may not be
    // read is looked up instead.
    int handle = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) handle = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (handle >= 0) ::close(handle);
}

size_t blockSize(void* p) { return malloc_usable_size(p); }

bool isNetworkFolder(const std::string& dir) {
    // The kernel's magic numbers of NFS, SMB (smbfs), CIFS and SMB2.
    struct statfs fs{};
    if (::statfs(dir.c_str(), &fs) != 0) return false;
    const auto type = static_cast<unsigned long>(fs.f_type);
    return type == 0x6969 || type == 0x517B || type == 0xFF534D42ul || type == 0xFE534D42ul;
}

std::string followLinks(const std::string& path) {
    std::string at = path;
    // As the system does, up to 40 links; a loop is left for the save to fail on.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st{};
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        std::string target(4096, '\0');
        ssize_t n = readlink(at.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return at;
        target.resize(static_cast<size_t>(n));
        const size_t slash = at.rfind('/');
        at = target[0] == '/' || slash == std::string::npos ? target : at.substr(0, slash + 1) + target;
    }
    return at;
}

bool replace(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

void syncDirectory(const std::string& dir) {
    File d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.valid()) fsync(fd(d));
}

bool removeFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool makeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0) return true;
    if (errno != EEXIST) return false;
    if (kindOf(path) == FileKind::Directory) return true;
    errno = ENOTDIR;
    return false;
}

bool listDirectory(const std::string& dir, std::vector<std::string>& names) {
    names.clear();
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    // The 64-bit form: a 32-bit build's readdir fails (EOVERFLOW) where
    // inode numbers or directory offsets need more than 32 bits.
    errno = 0;
    while (const dirent64* e = readdir64(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    }
    int error = errno;
    closedir(d);
    errno = error;
    return error == 0;
}

bool isAbsolute(std::string_view path) { return !path.empty() && path[0] == '/'; }

size_t lastSeparator(std::string_view path) { return path.rfind('/'); }

const char kSearchPathSeparator = ':';

std::string currentDirectory() {
    std::string buffer(4096, '\0');
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return ".";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

std::string realPath(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    std::string answer = real ? real : path;
    std::free(real);
    return answer;
}

long processId() { return static_cast<long>(getpid()); }

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
}

std::string describeThisThread() {
    char name[17] = "";
    // The JVM gives each of its threads the (shortened) Java name.  prctl
    // rather than pthread_getname_np, which moved to a newer glibc version.
    prctl(PR_GET_NAME, name);
    char text[128];
#ifdef SYS_gettid
    const long id = static_cast<long>(syscall(SYS_gettid));
    std::snprintf(text, sizeof text, "'%s' (nid=0x%lx)", name, id);
#else
    std::snprintf(text, sizeof text, "'%s'", name);
#endif
    return text;
}

bool processIsGone(long pid) { return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string homeDirectory() { return environment("HOME"); }

}  // namespace vek::os
