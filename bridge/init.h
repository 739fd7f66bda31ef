// Library initialisation: once per process, before any other native.
#ifndef ZEL_BRIDGE_INIT_H
#define ZEL_BRIDGE_INIT_H

#include <atomic>

// 0 at load, 1 from the first ZelConfig.init on; never reset.
extern std::atomic<int> libraryInitialized;

inline bool isLibraryInitialized() {
    return libraryInitialized.load(std::memory_order_acquire) != 0;
}

// Handed to vekInitialize; has nothing to do.
int initCallback(void* data);

#endif
