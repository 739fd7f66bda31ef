// Linux: membarrier(2), the private expedited command (kernel 4.14 and
// later): an interrupt to each core that runs one of this process's threads,
// nothing to the others.  Older kernels and emulators without it answer
// ENOSYS or EINVAL, and nothing is biased.
#include "heavy_barrier.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

long membarrier(int command) {
    return syscall(__NR_membarrier, command, 0u, 0);
}

}  // namespace

bool heavyBarrierPrepare() {
    const long commands = membarrier(MEMBARRIER_CMD_QUERY);
    const long needed = MEMBARRIER_CMD_PRIVATE_EXPEDITED | MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED;
    if (commands < 0 || (commands & needed) != needed) return false;
    if (membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) != 0) return false;
    return heavyBarrier();  // refused here rather than at a revocation
}

bool heavyBarrier() {
    return membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0;
}
