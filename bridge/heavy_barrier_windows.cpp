// Windows: FlushProcessWriteBuffers (Vista and later), an interrupt to each
// core that runs one of this process's threads.
#include "heavy_barrier.h"

#include <windows.h>

bool heavyBarrierPrepare() {
    return true;
}

bool heavyBarrier() {
    FlushProcessWriteBuffers();
    return true;
}
