/*
 * What the libraries ask of the operating system, in one place: files,
 * directories, processes and the environment.  One implementation per system
 * (platform_posix.cpp, platform_windows.cpp).
 *
 * Paths are file-system names as vek::toFileSystemName gives them (standard
 * UTF-8); each implementation converts them at its own edge.  A call that
 * fails records why for lastError(), per thread.
 */
#ifndef VEK_PLATFORM_H
#define VEK_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vek::os {

// Why a call failed: an errno value, or a code of the system's own.
struct Error {
    int errnoValue = 0;
    unsigned long systemCode = 0;
};

// The error of the last failed call of this layer on this thread.
Error lastError();
// An errno value as an error (the faults that tests bring on a save).
Error errnoError(int value);
// Makes `error` the last error, for a caller that fails on its behalf.
void setLastError(const Error& error);
// What the error says, for a message (bytes as the system gives them).
std::string describe(const Error& error);

// An open file, closed when it goes.
class File {
public:
    File() = default;
    explicit File(intptr_t handle) : handle_(handle) {}
    File(File&& other) noexcept : handle_(other.release()) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.release();
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { close(); }

    bool valid() const { return handle_ != kNone; }
    intptr_t handle() const { return handle_; }
    intptr_t release() {
        intptr_t h = handle_;
        handle_ = kNone;
        return h;
    }
    // False with lastError when the system reports a failure on closing.
    bool close();

    static constexpr intptr_t kNone = -1;

private:
    intptr_t handle_ = kNone;
};

enum class FileKind { Missing, Regular, Directory, Other };

// What is at path, links followed; Missing (with lastError) when nothing can be
// found there.
FileKind kindOf(const std::string& path);
// What an open file is, and its size in bytes.
bool kindOf(const File& file, FileKind& kind, uint64_t& size);

// Opens a file for reading; an invalid File with lastError.
File openForReading(const std::string& path);
// Opens a regular file for reading without waiting on anything: a named pipe
// (which would wait for a writer), a device, a socket or a directory is not
// opened for reading at all.  When path is not a regular file the File is
// invalid and `what` says what it is ("a named pipe", "a directory", ...);
// when it cannot be opened, invalid with `what` empty and lastError.  With
// followLinks false a symbolic link is not followed ("a symbolic link").
File openRegularFile(const std::string& path, std::string& what, bool followLinks = true);
// Reads up to size bytes; `got` is 0 at the end of the file.  False with
// lastError.
bool readSome(const File& file, char* buffer, size_t size, size_t& got);
// True when the error says that nothing is at the path (the file or a
// directory on the way is missing); false when what is there could not be
// looked at (no permission, ...).
bool isNotFound(const Error& error);
// Appends what is left of the file to text.  False with lastError.
bool readRest(const File& file, std::string& text);

// Creates a new file of its own at path: the trailing "XXXXXX" of path is
// replaced with characters that make the name unused.  POSIX: mode 0666 less
// the umask, as any new file.  Invalid with lastError.
File createUnique(std::string& path);
// Creates the file at path, only when nothing is there (even on NFS, where
// the server decides), for writing.  Invalid with lastError; isAlreadyThere
// tells that something was.
File createNew(const std::string& path);
bool isAlreadyThere(const Error& error);
// Writes all of text.  False with lastError.
bool writeAll(const File& file, std::string_view text);
// Makes what was written durable.  False with lastError.
bool flush(const File& file);
// Gives `to` the owner, group, permission bits and access list of the file
// at `like`; a new file keeps what it was created with.  False when one of
// them could not be kept, `lost` naming which ("owner", "group", "access
// list"); what could be kept is kept.
bool keepPermissions(const std::string& like, const File& to, std::string& lost);
// Whether this user may write the file at path (its permissions, a
// read-only attribute); true when nothing is there.
bool mayWrite(const std::string& path);
// When the file at path (not followed) or an open file was last written, in
// seconds since 1970 by the clock of whoever stores it: on a network folder
// the server's.  An empty file: when its status last changed.  False
// with lastError when nothing is there.
bool writtenAt(const std::string& path, double& when);
bool writtenAt(const File& file, double& when);
// Writes text again from the start of the file and makes it durable, so that
// its written time is now.  False with lastError.
bool rewrite(const File& file, std::string_view text);

// NFS: a file handle the server no longer knows ("Stale file handle"), when
// another client replaced the file.  Never on Windows.
bool isStale(const Error& error);
// Makes the system look at dir afresh, so that a name in it that another
// client replaced leads to the new file.  Failure is not reported.
void refreshDirectory(const std::string& dir);
// Whether dir is on a network file system (NFS, SMB), whose clients may go on
// showing a file that another host has replaced.  Windows: false.
bool isNetworkFolder(const std::string& dir);
// The file that path names once the symbolic links of its last part are
// followed (a link to a link too; a dangling link's target as well): the file
// a save replaces, so that the link stays.  Windows: path itself.
std::string followLinks(const std::string& path);

// Gives the file `from` the name `to` as well, only when nothing is there
// (on NFS the server decides); `from` may keep its name too (remove it).  False with lastError: isAlreadyThere when
// something was there; isUnsupported when the file system makes no such
// names (then only replace is left).
bool linkNew(const std::string& from, const std::string& to);
bool isUnsupported(const Error& error);
// Puts the file `from` in the place of `to`, replacing what is there in one
// step.  False with lastError.
bool replace(const std::string& from, const std::string& to);
// Makes renames in dir durable.  Failure loses nothing and is not reported.
void syncDirectory(const std::string& dir);
bool removeFile(const std::string& path);
// Removes a directory, only when it is empty.  False with lastError.
bool removeDirectory(const std::string& path);
// Creates a directory; true as well when one is already there.
bool makeDirectory(const std::string& path);
// The names in dir, without "." and "..".  False with lastError.
bool listDirectory(const std::string& dir, std::vector<std::string>& names);

// Paths.
// True for a path that does not depend on the current directory.
bool isAbsolute(std::string_view path);
// Where the last separator of path is, or npos.
size_t lastSeparator(std::string_view path);
// The separator between the directories of a search path such as ZEL_SETUP_PATH.
extern const char kSearchPathSeparator;
std::string currentDirectory();
// The canonical path of an existing file, or the path itself when there is none.
std::string realPath(const std::string& path);

// Memory.
// How many bytes the block that malloc or realloc gave at p can hold: at
// least what was asked for, often more (a short name gets a block of some
// minimum size), so that a text can grow into it without realloc.
size_t blockSize(void* p);

// Processes and the environment.
long processId();
// This machine's name, as other machines sharing a folder may see it in the
// names of our files; empty when unknown.
std::string hostName();
// The calling thread as a message names it: its name, when it has one, and
// the system's number for it (as debuggers and jstack show it).
std::string describeThisThread();
// True only when no process with this id runs; one this process may not
// inspect counts as running.
bool processIsGone(long pid);
// What tells this process from any other that may share a folder, beside
// host name and id: the machine's boot (Linux: its boot id), the space of
// process ids it runs in (Linux: its PID namespace; containers on one
// machine have one each), "-" where unknown or the system has one only.
std::string bootId();
std::string processSpace();
// When the process with this id (in this process's space) began, in the
// system's own units; 0 when that cannot be known (gone, not ours to ask).
uint64_t processStart(long pid);
// The value of an environment variable; empty when it is not set.
std::string environment(const char* name);
// The user's home directory ($HOME, %USERPROFILE%); empty when unknown.
std::string homeDirectory();

}  // namespace vek::os

#endif  // VEK_PLATFORM_H
