/* The system layer on POSIX systems.  The last error is errno itself. */
#include "vek/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

File lockForSaving(const std::string& path, bool& busy) {
    busy = false;
    size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    File lock(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!lock.valid()) return File();
    while (flock(fd(lock), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        busy = errno == EWOULDBLOCK;
        return File();
    }
    return lock;
}

File createUnique(std::string& path) { return File(mkstemp(path.data())); }

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
    struct stat old{};
    mode_t mode = stat(like.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    (void)fchmod(fd(to), mode);
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

std::string describeThisThread() {
    char name[64] = "";
    // The JVM gives each of its threads the (shortened) Java name.
    pthread_getname_np(pthread_self(), name, sizeof name);
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
