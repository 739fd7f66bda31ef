// Handle registries: Java objects hold int handles, never pointers.  Two
// process-wide lists map them onto library records; the path-vector entry also
// carries the state a path vector keeps between native calls.
//
// Each list keeps its order (newest first) for whatever walks it; an index
// beside it finds a handle without walking, and readers of the index take no
// lock.  Every configuration has a lock of its own (ConfigLock), shared by the
// path vectors made over it: the natives of one configuration exclude each
// other, those of different configurations run at once (door.h).
#ifndef ZEL_BRIDGE_REGISTRY_H
#define ZEL_BRIDGE_REGISTRY_H

#include <jni.h>

#include <atomic>
#include <mutex>

#include "zelvek/zelvek.h"

// The lock of one configuration and of the path vectors over it.  Its memory
// is never given back, only used again for a later configuration: a thread
// that found it a moment before the configuration went away may still take it,
// then finds its handle gone and answers neutral.
// Each on cache lines of its own: threads on different configurations write
// nothing that another reads.
struct alignas(64) ConfigLock {
    // 1 while held.  Taken with one atomic exchange and given back with a
    // plain store: an uncontended native pays one locked instruction, not the
    // two of a mutex.  A thread that finds it held spins a little, then
    // yields and sleeps in growing steps (door.cpp); it is never woken, so
    // giving back needs no look at waiters.
    std::atomic<int> held;
    bool tryTake() {
        return held.load(std::memory_order_relaxed) == 0 && held.exchange(1, std::memory_order_acquire) == 0;
    }
    void giveBack() { held.store(0, std::memory_order_release); }
    ConfigLock* nextFree;  // in the pool of unused locks
    int users;             // entries and slots naming it; under the registry's mutex
    // While the holder runs a warning listener: who it is, for a thread that
    // waits long (door.cpp).
    std::atomic<bool> holderInListener;
    std::mutex holderMutex;
    char holder[96];
};

struct ConfigHandleEntry {
    ConfigRecord* config;
    jint handle;
    ConfigHandleEntry* next;  // the entry registered before this one
    ConfigHandleEntry* prev;  // the one registered after, so withdrawal needs no walk
    ConfigLock* lock;
};

struct PathVectorSlot {
    PathVectorRecord* pathVector;
    jint handle;
    BindingRecord* binding;          // bridge-owned 12-byte block, filled by zelBind3
    BindInfo* bindInfo;              // the last binding's BindInfo (ours or the library's)
    StopRule* stopRules;             // array of the last isAtStop, library-owned
    ResolvedLists* resolvedLists;    // lists of the last bind, library-owned
    CellRecord* cachedCell;          // current context's records, cached by isAnyInstRules
    CellViewRecord* cachedCellView;
    PathVectorSlot* next;
    BindInfo* ownBindInfo;           // the block registration took, freed with the slot
    PathVectorSlot* prev;
    ConfigLock* lock;                // its configuration's
};

struct ConfigRegistry {
    ConfigHandleEntry* head;  // newest first
    jint nextHandle;          // 0 once the last handle has been handed out
};

struct PathVectorRegistry {
    PathVectorSlot* head;     // newest first
    jint nextHandle;
};

// Process-wide.  Changed only under the registry's own mutex, which is held
// briefly and never while waiting for anything else.
extern ConfigRegistry configRegistry;
extern PathVectorRegistry pathVectorRegistry;

// The new handle, or 0 when none can be had (every handle has been handed
// out, or no memory): the caller then releases the record again.  Without a
// lock the entry gets a lock of its own; a path vector made over a
// configuration shares that configuration's.
jint registerConfig(ConfigRecord* config);
ConfigRecord* lookupConfig(jint handle);
void unregisterConfig(jint handle);

jint registerPathVector(PathVectorRecord* pathVector, ConfigLock* lock = nullptr);
PathVectorRecord* lookupPathVector(jint handle);
PathVectorSlot* lookupPathVectorSlot(jint handle);
void unregisterPathVector(jint handle);

// What the index holds for a handle at one moment: the entry (or slot), its
// record and its lock.  Nothing of it may be read through before the lock is
// held and the handle found again (door.h); the record may be compared.
struct IndexHit {
    void* entry;
    void* record;
    ConfigLock* lock;
    unsigned version;  // of the index, when it was found
};
bool findConfigHandle(jint handle, IndexHit& hit);
bool findPathVectorHandle(jint handle, IndexHit& hit);
// Whether nothing was registered or withdrawn since hit was found: then what
// it found is still there, without a second search.
bool configIndexUnchanged(const IndexHit& hit);
bool pathVectorIndexUnchanged(const IndexHit& hit);

// Read the receiver's handle field anew and look it up; null when the handle
// names nothing (0, never registered, or withdrawn).  Unlocked: for tests and
// for callers that hold the lock already.
ConfigRecord* configFromObject(JNIEnv* env, jobject config);
PathVectorRecord* pathVectorFromObject(JNIEnv* env, jobject pathVector);
PathVectorSlot* pathVectorSlotFromObject(JNIEnv* env, jobject pathVector);

#endif
