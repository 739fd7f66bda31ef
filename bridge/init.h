// Library initialisation: once per process, before any other native.
#ifndef ZEL_BRIDGE_INIT_H
#define ZEL_BRIDGE_INIT_H

// 0 at load, 1 from the first ZelConfig.init on; never reset.
extern int libraryInitialized;

// Handed to vekInitialize; has nothing to do.
int initCallback(void* data);

#endif
