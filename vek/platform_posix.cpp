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
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

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

File openRegularFile(const std::string& path, std::string& what, bool followLinks) {
    what.clear();
    struct stat st{};
    // Looked at before it is opened, so that a pipe is never opened; opened
    // without waiting and looked at again, in case something else took the
    // name in between.
    if ((followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return File();
    File file;
    const int noFollow = followLinks ? 0 : O_NOFOLLOW;
    if (S_ISREG(st.st_mode))
        file = File(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | noFollow));
    if (file.valid() && fstat(fd(file), &st) != 0) return File();
    if (!file.valid() && S_ISREG(st.st_mode)) return File();
    if (S_ISREG(st.st_mode)) return file;
    what = S_ISDIR(st.st_mode)    ? "a directory"
           : S_ISFIFO(st.st_mode) ? "a named pipe"
           : S_ISCHR(st.st_mode)  ? "a character device"
           : S_ISBLK(st.st_mode)  ? "a block device"
           : S_ISSOCK(st.st_mode) ? "a socket"
           : S_ISLNK(st.st_mode)  ? "a symbolic link"
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
    // O_EXCL follows no link; O_NONBLOCK keeps a device or pipe put there
    // between the calls from holding the open.
    return File(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666));
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

bool keepPermissions(const std::string& like, const File& to, std::string& lost) {
    lost.clear();
    struct stat old{}, now{};
    if (stat(like.c_str(), &old) != 0 || fstat(fd(to), &now) != 0) return true;
    auto missed = [&](const char* what) { lost += lost.empty() ? what : std::string(", ") + what; };
    // Owner and group first: changing them may clear the setuid and setgid
    // bits that the mode then sets again.  Only root may give a file away;
    // only an owner in that group (or root) may give it the group.
    if (now.st_uid != old.st_uid && fchown(fd(to), old.st_uid, static_cast<gid_t>(-1)) != 0) missed("owner");
    if (now.st_gid != old.st_gid && fchown(fd(to), static_cast<uid_t>(-1), old.st_gid) != 0) missed("group");
    (void)fchmod(fd(to), old.st_mode & 07777);
    // The access list after the mode, which would change its mask.  POSIX
    // access lists (local disks, NFSv3) and NFSv4's own.
    for (const char* name : {"system.posix_acl_access", "system.nfs4_acl"}) {
        std::vector<char> value(65536);
        const ssize_t n = getxattr(like.c_str(), name, value.data(), value.size());
        if (n < 0) continue;  // none, or a file system without them
        if (fsetxattr(fd(to), name, value.data(), static_cast<size_t>(n), 0) != 0) {
            missed("access list");
            break;
        }
    }
    return lost.empty();
}

bool mayWrite(const std::string& path) {
    // As the system would judge an open for writing by this process
    // (root may write any file).
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT;
}

namespace {
double writtenTime(const struct stat& st) {
    // An empty file may be in the middle of an exclusive create on NFS: the
    // server keeps the client's verifier in its times until the client sets
    // them (read as a date in 1970 or 2038), so an abandoned-looking lock or
    // temporary file may be one being made that instant.  Its status-change
    // time, which only the server sets, says when it was made then.
    const struct timespec& t = st.st_size == 0 ? st.st_ctim : st.st_mtim;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
}  // namespace

bool writtenAt(const std::string& path, double& when) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) return false;
    when = writtenTime(st);
    return true;
}

bool writtenAt(const File& file, double& when) {
    struct stat st{};
    if (fstat(fd(file), &st) != 0) return false;
    when = writtenTime(st);
    return true;
}

bool rewrite(const File& file, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::pwrite(fd(file), text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            if (wrote == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return fsync(fd(file)) == 0;
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

bool linkNew(const std::string& from, const std::string& to) {
    if (link(from.c_str(), to.c_str()) == 0) return true;
    const int error = errno;
    // NFS: a link the server made whose answer was lost is sent again and
    // then fails; the file then has two names.
    struct stat st{};
    if (error == EEXIST && lstat(from.c_str(), &st) == 0 && st.st_nlink == 2) {
        struct stat there{};
        if (lstat(to.c_str(), &there) == 0 && there.st_ino == st.st_ino && there.st_dev == st.st_dev) return true;
    }
    errno = error;
    return false;
}

bool isUnsupported(const Error& error) {
    return error.errnoValue == EPERM || error.errnoValue == ENOTSUP || error.errnoValue == EOPNOTSUPP ||
           error.errnoValue == ENOSYS || error.errnoValue == EMLINK;
}

bool replace(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

void syncDirectory(const std::string& dir) {
    File d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.valid()) fsync(fd(d));
}

bool removeFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool removeDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }

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

namespace {
std::string firstLine(const char* path) {
    File file(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    std::string text;
    if (!file.valid() || !readRest(file, text)) return std::string();
    text = text.substr(0, text.find('\n'));
    for (char& c : text)
        if (static_cast<unsigned char>(c) <= ' ') c = '_';
    return text;
}
}  // namespace

std::string bootId() {
    static const std::string id = [] {
        std::string boot = firstLine("/proc/sys/kernel/random/boot_id");
        return boot.empty() ? std::string("-") : boot;
    }();
    return id;
}

std::string processSpace() {
    // The inode number of the PID namespace: what two containers that share
    // a kernel, a host name and a volume do not share.
    char link[64] = {};
    const ssize_t n = readlink("/proc/self/ns/pid", link, sizeof link - 1);
    std::string space = n > 0 ? std::string(link, static_cast<size_t>(n)) : std::string();
    const size_t open = space.find('['), close = space.find(']');
    return open == std::string::npos || close == std::string::npos ? "-" : space.substr(open + 1, close - open - 1);
}

uint64_t processStart(long pid) {
    // Field 22 of /proc/<pid>/stat: clock ticks from boot to the start.  The
    // name (field 2) may hold blanks and parentheses: count from its end.
    // This process by "self": /proc may have been mounted for another space.
    // Its main thread's entry first: that is the kernel's own figure, which
    // other processes read, where an emulator (qemu-user) answers
    // /proc/self/stat with one of its own.
    std::vector<std::string> places;
    if (pid == static_cast<long>(getpid())) {
        places = {"/proc/self/task/" + std::to_string(pid) + "/stat", "/proc/self/stat"};
    } else {
        places = {"/proc/" + std::to_string(pid) + "/stat"};
    }
    std::string text;
    for (const std::string& place : places) {
        File file(::open(place.c_str(), O_RDONLY | O_CLOEXEC));
        if (file.valid() && readRest(file, text)) break;
        text.clear();
    }
    if (text.empty()) return 0;
    const size_t end = text.rfind(')');
    if (end == std::string::npos) return 0;
    const char* at = text.c_str() + end + 1;
    for (int field = 3; field < 22 && *at; ++field) {
        while (*at == ' ') ++at;
        while (*at && *at != ' ') ++at;
    }
    return std::strtoull(at, nullptr, 10);
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string homeDirectory() { return environment("HOME"); }

}  // namespace vek::os
