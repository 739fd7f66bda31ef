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
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "zelvek/zelvek.h"

// The lock of one configuration and of the path vectors over it.  Its memory
// is never given back, only used again for a later configuration: a thread
// that found it a moment before the configuration went away may still take it,
// then finds its handle gone and answers neutral.  Its bias goes with it
// unchanged: an owner may still be on its way in on what it saw before.
// Each on cache lines of its own: threads on different configurations write
// nothing that another reads.
struct alignas(64) ConfigLock {
    // 1 while held.  Taken with one atomic exchange and given back with a
    // plain store: an uncontended native pays one locked instruction, not the
    // two of a mutex.  A thread that finds it held spins a little, then
    // yields and sleeps in growing steps (door.cpp); it is never woken, so
    // giving back needs no look at waiters.
    std::atomic<int> held{0};
    bool tryTake() {
        return held.load(std::memory_order_relaxed) == 0 && held.exchange(1, std::memory_order_acquire) == 0;
    }
    void giveBack() { held.store(0, std::memory_order_release); }

    // The bias (door.h): kUnbiased, then the JNIEnv* of the one thread that
    // enters without taking held, then kRevoked once another thread wanted
    // the lock; that first owner may earn it back, no other thread.  Changed
    // only by a thread that holds held.
    static constexpr std::uintptr_t kUnbiased = 1;  // never a JNIEnv*, which is aligned
    static constexpr std::uintptr_t kRevoked = 2;
    std::atomic<std::uintptr_t> bias{kUnbiased};
    std::atomic<int> ownerInside{0};  // written by the owner only
    JNIEnv* lastTaker = nullptr;      // who took held last, and how many times in a row; under held
    unsigned streak = 0;
    JNIEnv* firstOwner = nullptr;     // the thread the bias went to first; under held

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
    unsigned version;  // of the index, when the search began
};

// The index: open addressing on the handle.  Readers take no lock and never
// wait for a writer, so two threads on different configurations never write to
// a shared cache line to find their handles, and a writer that is descheduled
// half-way holds up nobody.
//   - Registering fills one free cell of the published table (the handle
//     stored last), withdrawing marks one cell gone; the entry fields of a
//     cell change only when a new handle takes it, and a handle is never
//     handed out twice, so a reader that finds its handle in a cell still
//     there after reading the fields read that handle's fields.
//   - A rebuild (withdrawn cells dropped, or a larger table) writes a table
//     that readers do not see and then publishes it with one store.  The
//     table it replaced becomes the spare that the next rebuild of the same
//     size writes into; the spare's generation is odd while it is written, so
//     a reader still in it from before sees the change and starts again on
//     the published table.  Outgrown smaller tables stay allocated (a reader
//     may still be looking at one): together they are smaller than the table
//     in use.
//   - version counts every change, so that a reader that took a lock knows
//     whether what it found before could have gone meanwhile (door.h).
// Written only by registry.cpp, under the registry's mutex; read here, inline,
// by every native.
constexpr jint kIndexEmpty = 0;  // never a handle
constexpr jint kIndexGone = -1;  // withdrawn; the probe goes on past it

struct IndexCell {
    std::atomic<jint> handle;
    std::atomic<void*> entry;
    std::atomic<void*> record;
    std::atomic<ConfigLock*> lock;
};

struct IndexTable {
    std::size_t mask;
    IndexCell* cells;
    IndexTable* outgrown;              // a smaller table this one replaced, kept
    std::atomic<unsigned> generation;  // odd while a rebuild writes this table
};

struct alignas(64) HandleIndex {  // read by every native: a cache line of its own
    std::atomic<unsigned> version{0};
    std::atomic<IndexTable*> table{nullptr};
    IndexTable* spare = nullptr;  // the last table replaced at the same size; under the registry's mutex
    std::size_t live = 0;  // handles in the table; under the registry's mutex
    std::size_t used = 0;  // cells not empty (live and withdrawn)
};

extern HandleIndex configIndex;
extern HandleIndex pathVectorIndex;

// Called by a rebuild of the index half-way through writing its new table,
// with the registry's mutex held; null but in tests.
extern void (*indexRebuildHook)();

// Handles are handed out in sequence: a multiplicative hash spreads any run
// of them evenly over the table.
inline std::size_t indexCellOf(jint handle, std::size_t mask) {
    return (static_cast<std::uint32_t>(handle) * 2654435761u) & mask;
}

inline bool findIn(const HandleIndex& index, jint handle, IndexHit& hit) {
    if (handle <= 0) return false;
    hit.version = index.version.load(std::memory_order_acquire);
    for (;;) {
        const IndexTable* table = index.table.load(std::memory_order_acquire);
        if (table == nullptr) return false;
        const unsigned generation = table->generation.load(std::memory_order_acquire);
        // Odd: a table replaced since it was loaded, being rebuilt; the
        // published one is whole.
        if ((generation & 1u) != 0) continue;
        bool found = false;
        std::size_t i = indexCellOf(handle, table->mask);
        // Bounded: a table rebuilt under the reader may hold anything.
        for (std::size_t n = 0; n <= table->mask; ++n, i = (i + 1) & table->mask) {
            const IndexCell& cell = table->cells[i];
            const jint seen = cell.handle.load(std::memory_order_acquire);
            if (seen == kIndexEmpty) break;
            if (seen != handle) continue;
            hit.entry = cell.entry.load(std::memory_order_relaxed);
            hit.record = cell.record.load(std::memory_order_relaxed);
            hit.lock = cell.lock.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            // Withdrawn while its fields were read: they may be another's.
            found = cell.handle.load(std::memory_order_relaxed) == handle;
            break;
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (table->generation.load(std::memory_order_relaxed) == generation) return found;
    }
}

inline bool findConfigHandle(jint handle, IndexHit& hit) {
    return findIn(configIndex, handle, hit);
}
inline bool findPathVectorHandle(jint handle, IndexHit& hit) {
    return findIn(pathVectorIndex, handle, hit);
}
// Whether nothing was registered or withdrawn since hit was found: then what
// it found is still there, without a second search.
inline bool configIndexUnchanged(const IndexHit& hit) {
    return configIndex.version.load(std::memory_order_acquire) == hit.version;
}
inline bool pathVectorIndexUnchanged(const IndexHit& hit) {
    return pathVectorIndex.version.load(std::memory_order_acquire) == hit.version;
}

// Read the receiver's handle field anew and look it up; null when the handle
// names nothing (0, never registered, or withdrawn).  Unlocked: for tests and
// for callers that hold the lock already.
ConfigRecord* configFromObject(JNIEnv* env, jobject config);
PathVectorRecord* pathVectorFromObject(JNIEnv* env, jobject pathVector);
PathVectorSlot* pathVectorSlotFromObject(JNIEnv* env, jobject pathVector);

#endif
