// What the tests ask of the system beyond the standard library: scratch
// directories, the environment, the heap, and processes other than this one.
#ifndef ZEL_TESTS_TEST_PLATFORM_H
#define ZEL_TESTS_TEST_PLATFORM_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace testos {

#ifdef _WIN32
constexpr bool kWindows = true;
constexpr const char* kHomeVariable = "USERPROFILE";
#else
constexpr bool kWindows = false;
constexpr const char* kHomeVariable = "HOME";
#endif

// A new empty directory under the system's temporary directory.
inline std::string scratchDirectory(const std::string& prefix) {
    std::mt19937_64 random(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                           std::random_device{}());
    for (;;) {
        std::filesystem::path dir = std::filesystem::temp_directory_path() / (prefix + std::to_string(random() % 1000000000));
        if (std::filesystem::create_directory(dir)) return dir.string();
    }
}

inline void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

inline void unsetEnv(const char* name) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, nullptr);
#else
    unsetenv(name);
#endif
}

// Bytes the program holds on the heap now.
inline size_t heapInUse() {
#ifdef _WIN32
    size_t used = 0;
    _HEAPINFO entry{};
    while (_heapwalk(&entry) == _HEAPOK)
        if (entry._useflag == _USEDENTRY) used += entry._size;
    return used;
#else
    return mallinfo2().uordblks;
#endif
}

// A process that runs until this object goes, and the id of one that has ended.
class OtherProcess {
public:
    OtherProcess() {
#ifdef _WIN32
        // This very program, held before it starts.
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring line = L"\"" + std::wstring(self) + L"\" --gtest_list_tests";
        if (CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                           &info_)) {
            pid_ = static_cast<long>(info_.dwProcessId);
        }
#else
        pid_t child = fork();
        if (child == 0) {
            pause();
            _exit(0);
        }
        pid_ = child > 0 ? child : 0;
#endif
    }
    ~OtherProcess() { end(); }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

    long pid() const { return pid_; }

    // Ends it and waits until it is gone; its id stays.
    void end() {
        if (ended_ || pid_ == 0) return;
        ended_ = true;
#ifdef _WIN32
        TerminateProcess(info_.hProcess, 0);
        WaitForSingleObject(info_.hProcess, INFINITE);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
#else
        kill(static_cast<pid_t>(pid_), SIGKILL);
        waitpid(static_cast<pid_t>(pid_), nullptr, 0);
#endif
    }

private:
    long pid_ = 0;
    bool ended_ = false;
#ifdef _WIN32
    PROCESS_INFORMATION info_{};
#endif
};

}  // namespace testos

#endif  // ZEL_TESTS_TEST_PLATFORM_H
