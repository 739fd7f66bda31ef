// A memory barrier on every thread of the process at once, for the lock bias
// (door.h): one thread pays a system call so that the thread a configuration
// is biased to can enter with plain stores and loads.  One small file per
// platform implements it (heavy_barrier_*.cpp, chosen by CMake).
#ifndef ZEL_BRIDGE_HEAVY_BARRIER_H
#define ZEL_BRIDGE_HEAVY_BARRIER_H

// Makes the barrier usable; false where the system has none (an old kernel,
// an emulator that does not pass it on), and then nothing may be biased.
// Called once, before the first heavyBarrier.
bool heavyBarrierPrepare();

// When it returns, every other thread of the process has passed a full
// memory barrier: what it stored before is seen, what it loads after sees
// what this thread stored before the call.  False if the system refused.
bool heavyBarrier();

#endif
