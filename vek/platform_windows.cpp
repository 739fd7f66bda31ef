/*
 * The system layer on Windows.  Names are UTF-8 inside the libraries and
 * UTF-16 at the system's wide-character calls; "/" and "\" both separate.
 */
#include "vek/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <malloc.h>

#include <aclapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vek::os {

namespace {

thread_local Error lastFailure;

// Records the system's error of the call that just failed; answers false or
// an invalid handle for the caller to pass on.
bool failed() {
    lastFailure = Error{0, GetLastError()};
    return false;
}

std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

HANDLE handleOf(const File& file) { return reinterpret_cast<HANDLE>(file.handle()); }
File fileOf(HANDLE h) {
    if (h == INVALID_HANDLE_VALUE) failed();
    return File(reinterpret_cast<intptr_t>(h));
}

// Readers share the file for deletion too, so that a save can replace it while
// they still read the old one.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens anything at path, directories too, links followed, for asking what it is.
HANDLE openForQuery(const std::string& path) {
    return CreateFileW(wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool kindOfHandle(HANDLE h, FileKind& kind, uint64_t& size) {
    size = 0;
    DWORD type = GetFileType(h);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return failed();
    if (type != FILE_TYPE_DISK) {
        kind = FileKind::Other;  // a console, a pipe, a device
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) return failed();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        kind = FileKind::Directory;
    } else {
        kind = FileKind::Regular;
        size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
    return true;
}

// A file that another program holds open without sharing it for deletion
// cannot be replaced until it lets go; virus scanners and indexers do so for
// a moment, so a replace tries again for a short while before giving up.
bool isHeldByAnother(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
}
constexpr int kReplaceTries = 10;
constexpr DWORD kReplacePauseMs = 50;

}  // namespace

Error lastError() { return lastFailure; }
Error errnoError(int value) { return Error{value, 0}; }
void setLastError(const Error& error) { lastFailure = error; }

std::string describe(const Error& error) {
    if (error.systemCode == 0) return std::strerror(error.errnoValue);
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, static_cast<DWORD>(error.systemCode), 0, reinterpret_cast<LPWSTR>(&text), 0,
                             nullptr);
    std::string message = n ? narrow(std::wstring_view(text, n)) : std::string();
    LocalFree(text);
    // The system's messages end in a full stop (and blanks); ours go on after them.
    while (!message.empty() && (message.back() == ' ' || message.back() == '.' || message.back() == '\r' ||
                                message.back() == '\n'))
        message.pop_back();
    if (message.empty()) message = "system error " + std::to_string(error.systemCode);
    return message;
}

bool File::close() {
    if (!valid()) return true;
    return CloseHandle(reinterpret_cast<HANDLE>(release())) ? true : failed();
}

FileKind kindOf(const std::string& path) {
    File file = fileOf(openForQuery(path));
    FileKind kind = FileKind::Missing;
    uint64_t size = 0;
    if (!file.valid() || !kindOfHandle(handleOf(file), kind, size)) return FileKind::Missing;
    return kind;
}

bool kindOf(const File& file, FileKind& kind, uint64_t& size) { return kindOfHandle(handleOf(file), kind, size); }

File openForReading(const std::string& path) {
    return fileOf(CreateFileW(wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool readRest(const File& file, std::string& text) {
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handleOf(file), buffer, sizeof buffer, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) return true;  // the writing end closed
            return failed();
        }
        if (got == 0) return true;
        text.append(buffer, got);
    }
}

File openRegularFile(const std::string& path, std::string& what, bool) {
    what.clear();
    // Opening waits on nothing here (a pipe's server answers at once or the
    // open fails), so what the name holds is looked at once it is open.
    File file = openForReading(path);
    if (!file.valid()) return File();
    const HANDLE h = handleOf(file);
    const DWORD type = GetFileType(h);
    if (type == FILE_TYPE_DISK) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(h, &info)) {
            failed();
            return File();
        }
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return file;
        what = "a directory";
    } else {
        what = type == FILE_TYPE_PIPE ? "a named pipe" : type == FILE_TYPE_CHAR ? "a character device"
                                                                                 : "not a regular file";
    }
    return File();
}

bool readSome(const File& file, char* buffer, size_t size, size_t& got) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!ReadFile(handleOf(file), buffer, want, &n, nullptr)) {
        if (GetLastError() != ERROR_BROKEN_PIPE) return failed();
        n = 0;  // the writing end closed
    }
    got = n;
    return true;
}

bool isNotFound(const Error& error) {
    switch (error.systemCode) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_NAME:
            return true;
        case 0:
            return error.errnoValue == ENOENT || error.errnoValue == ENOTDIR;
        default:
            return false;
    }
}

File createUnique(std::string& path) {
    const size_t at = path.size() - 6;
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    uint64_t seed = static_cast<uint64_t>(now.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        uint64_t bits = seed >> 16;
        for (size_t i = 0; i < 6; ++i, bits /= 62) path[at + i] = kLetters[bits % 62];
        HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) return File(reinterpret_cast<intptr_t>(h));
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return fileOf(INVALID_HANDLE_VALUE);
}

File createNew(const std::string& path) {
    return fileOf(CreateFileW(wide(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
}

bool isAlreadyThere(const Error& error) {
    return error.systemCode == ERROR_FILE_EXISTS || error.systemCode == ERROR_ALREADY_EXISTS;
}

bool writeAll(const File& file, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 30));
        DWORD wrote = 0;
        if (!WriteFile(handleOf(file), text.data() + done, chunk, &wrote, nullptr)) return failed();
        if (wrote == 0) {
            SetLastError(ERROR_DISK_FULL);
            return failed();
        }
        done += wrote;
    }
    return true;
}

bool flush(const File& file) { return FlushFileBuffers(handleOf(file)) ? true : failed(); }

bool keepPermissions(const std::string& like, const File& to, std::string& lost) {
    lost.clear();
    // The access list of the file replaced; a new file keeps what it inherits
    // from its directory.  The owner is whoever writes, as for any file
    // written here.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring name = wide(like);
    if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    // An access list of its own stays its own; an inherited one comes anew.
    if ((control & SE_DACL_PROTECTED) &&
        SetSecurityInfo(handleOf(to), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, dacl, nullptr) != ERROR_SUCCESS)
        lost = "access list";
    LocalFree(descriptor);
    return lost.empty();
}

bool mayWrite(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY);
}

namespace {
double secondsOf(const FILETIME& t) {
    // Tenths of microseconds since 1601.
    const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<double>(ticks) / 1e7 - 11644473600.0;
}
}  // namespace

bool writtenAt(const std::string& path, double& when) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) return failed();
    when = secondsOf(data.ftLastWriteTime);
    return true;
}

bool writtenAt(const File& file, double& when) {
    FILETIME written{};
    if (!GetFileTime(handleOf(file), nullptr, nullptr, &written)) return failed();
    when = secondsOf(written);
    return true;
}

bool rewrite(const File& file, std::string_view text) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(handleOf(file), start, nullptr, FILE_BEGIN)) return failed();
    return writeAll(file, text) && flush(file);
}

bool isStale(const Error&) { return false; }

void refreshDirectory(const std::string&) {}

size_t blockSize(void* p) { return _msize(p); }

// Its redirector keeps what it caches coherent (leases); a save's own check
// of the file's content is enough there.
bool isNetworkFolder(const std::string&) { return false; }

std::string followLinks(const std::string& path) { return path; }

bool linkNew(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails where a file is: the
    // file system (or the file server) decides.
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    return failed();
}

bool isUnsupported(const Error&) { return false; }

bool replace(const std::string& from, const std::string& to) {
    const std::wstring source = wide(from), target = wide(to);
    for (int attempt = 1;; ++attempt) {
        // Write-through: the call returns once the rename is on disk.
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        if (attempt == kReplaceTries || !isHeldByAnother(GetLastError())) return failed();
        Sleep(kReplacePauseMs);
    }
}

void syncDirectory(const std::string&) {
    // Nothing to do: the replace wrote through.
}

bool removeFile(const std::string& path) { return DeleteFileW(wide(path).c_str()) ? true : failed(); }

bool removeDirectory(const std::string& path) { return RemoveDirectoryW(wide(path).c_str()) ? true : failed(); }

bool makeDirectory(const std::string& path) {
    if (CreateDirectoryW(wide(path).c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return failed();
    if (kindOf(path) == FileKind::Directory) return true;
    lastFailure = errnoError(ENOTDIR);
    return false;
}

bool listDirectory(const std::string& dir, std::vector<std::string>& names) {
    names.clear();
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileExW(wide(dir + "\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? true : failed();
    do {
        std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(narrow(name));
    } while (FindNextFileW(find, &entry));
    bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    if (!complete) failed();
    FindClose(find);
    return complete;
}

namespace {
bool isSeparator(char c) { return c == '/' || c == '\\'; }
bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
}  // namespace

bool isAbsolute(std::string_view path) {
    // \dir, \\server\share, C:\dir; also C:dir, which no base directory could
    // be put in front of.
    if (!path.empty() && isSeparator(path[0])) return true;
    return path.size() >= 2 && isDriveLetter(path[0]) && path[1] == ':';
}

size_t lastSeparator(std::string_view path) { return path.find_last_of("/\\"); }

const char kSearchPathSeparator = ';';

std::string currentDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    std::wstring buffer(n, L'\0');
    n = GetCurrentDirectoryW(n, buffer.data());
    if (n == 0) return ".";
    buffer.resize(n);
    return narrow(buffer);
}

std::string realPath(const std::string& path) {
    File file = fileOf(openForQuery(path));
    if (!file.valid()) return path;
    DWORD n = GetFinalPathNameByHandleW(handleOf(file), nullptr, 0, FILE_NAME_NORMALIZED);
    if (n == 0) return path;
    std::wstring buffer(n, L'\0');
    n = GetFinalPathNameByHandleW(handleOf(file), buffer.data(), n, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= buffer.size()) return path;
    buffer.resize(n);
    // \\?\C:\dir and \\?\UNC\server\share: the forms a user writes.
    if (buffer.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        buffer = L"\\\\" + buffer.substr(8);
    } else if (buffer.rfind(L"\\\\?\\", 0) == 0) {
        buffer = buffer.substr(4);
    }
    return narrow(buffer);
}

long processId() { return static_cast<long>(GetCurrentProcessId()); }

std::string hostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? narrow(std::wstring_view(name, size)) : std::string();
}

bool processIsGone(long pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    DWORD code = 0;
    bool gone = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    CloseHandle(process);
    return gone;
}

// One space of process ids per machine; a process id is not reused while
// a handle to it is open, and its creation time tells one from a later one.
std::string bootId() { return "-"; }
std::string processSpace() { return "-"; }

uint64_t processStart(long pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    DWORD code = 0;
    uint64_t start = 0;
    if (GetProcessTimes(process, &created, &exited, &kernel, &user) && GetExitCodeProcess(process, &code) &&
        code == STILL_ACTIVE)
        start = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    CloseHandle(process);
    return start;
}

std::string describeThisThread() {
    char text[64];
    std::snprintf(text, sizeof text, "with thread id %lu", static_cast<unsigned long>(GetCurrentThreadId()));
    return text;
}

std::string environment(const char* name) {
    std::wstring key = wide(name);
    DWORD n = GetEnvironmentVariableW(key.c_str(), nullptr, 0);
    if (n == 0) return std::string();
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(key.c_str(), value.data(), n);
    value.resize(n);
    return narrow(value);
}

std::string homeDirectory() {
    std::string home = environment("USERPROFILE");
    if (home.empty()) home = environment("HOMEDRIVE") + environment("HOMEPATH");
    return home;
}

}  // namespace vek::os
