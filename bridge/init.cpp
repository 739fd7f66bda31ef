#include "init.h"

#include <cstdint>
#include <cstring>
#include <mutex>

#include "COM_morvent_zel_ZelConfig.h"
#include "door.h"
#include "jni_util.h"
#include "zelvek/vek.h"

#ifdef _WIN32
#include <windows.h>
#endif

std::atomic<int> libraryInitialized{0};

namespace {

// One init at a time: a second caller returns once the first is done.
std::mutex initMutex;

constexpr const char* kDefinitionsFile = "kwo.lib";
constexpr std::size_t kSearchBufferSize = 2048;
// What the search may write; the rest of the buffer stays NUL.
constexpr int32_t kSearchLimit = 1024;

}  // namespace

int initCallback(void* /*data*/) {
    return 0;
}

extern "C" JNIEXPORT void JNICALL Java_COM_morvent_zel_ZelConfig_init(JNIEnv* env, jclass, jstring path) {
    door::guarded(door::kVoid, [&] {
        std::lock_guard<std::mutex> guard(initMutex);
        if (isLibraryInitialized()) return door::kVoid;
        // Set first: a later call never repeats the initialisation, whatever this
        // one achieves.
        libraryInitialized.store(1, std::memory_order_release);

        int32_t mipState;
        int32_t vekState;
        mipInitialize(&mipState);
        if (path != nullptr) {
            NativeStrings file(env, {path});
            if (file.ok()) vekInitialize(file[0], initCallback, &vekState);
            return door::kVoid;
        }
        char found[kSearchBufferSize];
        std::memset(found, 0, sizeof found);
        const bool isFound = mipSearch(0, kDefinitionsFile, found, kSearchLimit) == 0;
        vekInitialize(isFound ? found : nullptr, initCallback, &vekState);
        return door::kVoid;
    });
}

#ifdef _WIN32
// C linkage: the C runtime's start-up code calls it by this name, and a
// mangled one would leave its do-nothing default in place.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
#endif
