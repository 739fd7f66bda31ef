#include "registry.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <thread>
#include <vector>

#include "jni_util.h"

ConfigRegistry configRegistry = {nullptr, 1};
PathVectorRegistry pathVectorRegistry = {nullptr, 1};
HandleIndex configIndex;
HandleIndex pathVectorIndex;

namespace {

// Guards the lists, the counters, the indexes' writers and the pool of locks.
// Held for a few instructions, never while taking another lock.
std::mutex registryMutex;

// ---- the index (registry.h) ---------------------------------------------------
//
// Its writers, under registryMutex.

// After every change: a reader that holds a lock learns that what it found
// before may have gone.
void changed(HandleIndex& index) {
    index.version.store(index.version.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

// Into a cell no reader can take for this handle yet: the fields first, the
// handle last.  The fence orders the cell's earlier withdrawal before the new
// fields, for a reader that read the old handle and then these fields.
void putCell(IndexTable& table, jint handle, void* entry, void* record, ConfigLock* lock) {
    std::size_t i = indexCellOf(handle, table.mask);
    while (true) {
        const jint seen = table.cells[i].handle.load(std::memory_order_relaxed);
        if (seen == kIndexEmpty || seen == kIndexGone) break;
        i = (i + 1) & table.mask;
    }
    IndexCell& cell = table.cells[i];
    std::atomic_thread_fence(std::memory_order_release);
    cell.entry.store(entry, std::memory_order_relaxed);
    cell.record.store(record, std::memory_order_relaxed);
    cell.lock.store(lock, std::memory_order_relaxed);
    cell.handle.store(handle, std::memory_order_release);
}

IndexTable* newTable(std::size_t capacity, IndexTable* outgrown) {
    auto* table = new IndexTable{capacity - 1, nullptr, outgrown, {0}};
    try {
        table->cells = new IndexCell[capacity]();
    } catch (...) {
        delete table;
        throw;
    }
    return table;
}

}  // namespace

void (*indexRebuildHook)() = nullptr;

namespace {

// Room for one more handle: withdrawn cells dropped, and a larger table when
// the live ones fill a quarter.  The new contents go into a table that no
// reader uses, published when whole.  False when no memory could be had.
bool makeRoom(HandleIndex& index) {
    IndexTable* table = index.table.load(std::memory_order_relaxed);
    const std::size_t capacity = table != nullptr ? table->mask + 1 : 0;
    if ((index.used + 1) * 4 <= capacity * 3) return true;
    std::size_t wanted = 16;
    while (wanted < (index.live + 1) * 4) wanted *= 2;
    if (wanted < capacity) wanted = capacity;  // tables only grow
    IndexTable* target = wanted == capacity ? index.spare : nullptr;
    try {
        // Every table kept stays reachable from the published one: a larger
        // one keeps the table it replaced, one of the same size the same
        // smaller tables as its spare.
        if (target == nullptr) target = newTable(wanted, wanted > capacity ? table : table->outgrown);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Odd while written: a reader still in it from the time it was published
    // sees the change and goes to the published table.
    const unsigned generation = target->generation.load(std::memory_order_relaxed);
    target->generation.store(generation + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::size_t i = 0; i < wanted; ++i) {
        IndexCell& cell = target->cells[i];
        cell.handle.store(kIndexEmpty, std::memory_order_relaxed);
        cell.entry.store(nullptr, std::memory_order_relaxed);
        cell.record.store(nullptr, std::memory_order_relaxed);
        cell.lock.store(nullptr, std::memory_order_relaxed);
    }
    std::size_t copied = 0;
    for (std::size_t i = 0; i < capacity; ++i) {
        const IndexCell& cell = table->cells[i];
        const jint handle = cell.handle.load(std::memory_order_relaxed);
        if (handle <= 0) continue;
        putCell(*target, handle, cell.entry.load(std::memory_order_relaxed),
                cell.record.load(std::memory_order_relaxed), cell.lock.load(std::memory_order_relaxed));
        // A test pauses the writer here, half-way, to see readers still answer.
        if (++copied == index.live / 2 && indexRebuildHook != nullptr) indexRebuildHook();
    }
    target->generation.store(generation + 2, std::memory_order_release);
    index.table.store(target, std::memory_order_release);
    // The replaced table: the spare of this size, or outgrown (kept by the new
    // table, its spare with it).
    if (wanted == capacity) {
        index.spare = table;
    } else if (index.spare != nullptr && table != nullptr) {
        index.spare->outgrown = table->outgrown;
        table->outgrown = index.spare;
        index.spare = nullptr;
    }
    changed(index);
    index.used = copied;
    return true;
}

void insert(HandleIndex& index, jint handle, void* entry, void* record, ConfigLock* lock) {
    putCell(*index.table.load(std::memory_order_relaxed), handle, entry, record, lock);
    changed(index);
    ++index.live;
    ++index.used;
}

// The cell stays taken (gone, not empty): the probe of any handle placed past
// it goes on past it.  Its fields stay until a new handle takes the cell.
void erase(HandleIndex& index, jint handle) {
    IndexTable* table = index.table.load(std::memory_order_relaxed);
    if (table == nullptr || handle <= 0) return;
    std::size_t i = indexCellOf(handle, table->mask);
    for (std::size_t n = 0; n <= table->mask; ++n, i = (i + 1) & table->mask) {
        IndexCell& cell = table->cells[i];
        const jint seen = cell.handle.load(std::memory_order_relaxed);
        if (seen == kIndexEmpty) return;
        if (seen != handle) continue;
        cell.handle.store(kIndexGone, std::memory_order_relaxed);
        changed(index);
        --index.live;
        return;
    }
}

// ---- the locks --------------------------------------------------------------

ConfigLock* freeLocks = nullptr;

ConfigLock* takeLock() {
    ConfigLock* lock = freeLocks;
    if (lock != nullptr) {
        freeLocks = lock->nextFree;
    } else {
        lock = new (std::nothrow) ConfigLock();
        if (lock == nullptr) return nullptr;
    }
    lock->nextFree = nullptr;
    lock->users = 0;
    return lock;
}

void dropLockUser(ConfigLock* lock) {
    if (--lock->users > 0) return;
    lock->nextFree = freeLocks;
    freeLocks = lock;
}

// ---- the lists --------------------------------------------------------------

// Newest first, linked both ways so that any entry leaves without a walk.
template <typename Entry>
void pushFront(Entry** head, Entry* entry) {
    entry->prev = nullptr;
    entry->next = *head;
    if (*head != nullptr) (*head)->prev = entry;
    *head = entry;
}

template <typename Entry>
void unlinkEntry(Entry** head, Entry* entry) {
    if (entry->prev != nullptr) {
        entry->prev->next = entry->next;
    } else {
        *head = entry->next;
    }
    if (entry->next != nullptr) entry->next->prev = entry->prev;
}

// The counter's next handle.  Once the largest int has been handed out the
// counter reads 0 and registration is refused: a handle is never handed out
// twice, and 0 and negative numbers never name anything.
jint takeHandle(jint* next) {
    const jint handle = *next;
    *next = handle == std::numeric_limits<jint>::max() ? 0 : handle + 1;
    return handle;
}

// Taken cleared: queries before the first bind must see no binding, not
// whatever the allocator left there.
template <typename Block>
Block* clearedBlock() {
    return static_cast<Block*>(std::calloc(1, sizeof(Block)));
}

}  // namespace

jint registerConfig(ConfigRecord* config) {
    std::lock_guard<std::mutex> guard(registryMutex);
    if (configRegistry.nextHandle <= 0) return 0;
    auto* entry = static_cast<ConfigHandleEntry*>(std::malloc(sizeof(ConfigHandleEntry)));
    ConfigLock* lock = entry != nullptr ? takeLock() : nullptr;
    if (lock == nullptr || !makeRoom(configIndex)) {
        if (lock != nullptr) {
            ++lock->users;
            dropLockUser(lock);
        }
        std::free(entry);
        return 0;
    }
    ++lock->users;
    entry->config = config;
    entry->handle = takeHandle(&configRegistry.nextHandle);
    entry->lock = lock;
    pushFront(&configRegistry.head, entry);
    insert(configIndex, entry->handle, entry, config, lock);
    return entry->handle;
}

ConfigRecord* lookupConfig(jint handle) {
    IndexHit hit;
    return findConfigHandle(handle, hit) ? static_cast<ConfigRecord*>(hit.record) : nullptr;
}

void unregisterConfig(jint handle) {
    std::lock_guard<std::mutex> guard(registryMutex);
    IndexHit hit;
    if (!findIn(configIndex, handle, hit)) return;
    auto* entry = static_cast<ConfigHandleEntry*>(hit.entry);
    erase(configIndex, handle);
    unlinkEntry(&configRegistry.head, entry);
    dropLockUser(entry->lock);
    std::free(entry);
}

jint registerPathVector(PathVectorRecord* pathVector, ConfigLock* lock) {
    std::lock_guard<std::mutex> guard(registryMutex);
    if (pathVectorRegistry.nextHandle <= 0) return 0;
    auto* slot = static_cast<PathVectorSlot*>(std::malloc(sizeof(PathVectorSlot)));
    auto* binding = clearedBlock<BindingRecord>();
    auto* bindInfo = clearedBlock<BindInfo>();
    ConfigLock* own = lock == nullptr ? takeLock() : nullptr;
    if (slot == nullptr || binding == nullptr || bindInfo == nullptr || (lock == nullptr && own == nullptr) ||
        !makeRoom(pathVectorIndex)) {
        if (own != nullptr) {
            ++own->users;
            dropLockUser(own);
        }
        std::free(slot);
        std::free(binding);
        std::free(bindInfo);
        return 0;
    }
    slot->lock = lock != nullptr ? lock : own;
    ++slot->lock->users;
    slot->pathVector = pathVector;
    slot->handle = takeHandle(&pathVectorRegistry.nextHandle);
    slot->binding = binding;
    slot->bindInfo = bindInfo;
    slot->ownBindInfo = slot->bindInfo;
    slot->stopRules = nullptr;
    slot->resolvedLists = nullptr;
    slot->cachedCell = nullptr;
    slot->cachedCellView = nullptr;
    pushFront(&pathVectorRegistry.head, slot);
    insert(pathVectorIndex, slot->handle, slot, slot, slot->lock);
    return slot->handle;
}

PathVectorSlot* lookupPathVectorSlot(jint handle) {
    IndexHit hit;
    return findPathVectorHandle(handle, hit) ? static_cast<PathVectorSlot*>(hit.entry) : nullptr;
}

PathVectorRecord* lookupPathVector(jint handle) {
    PathVectorSlot* slot = lookupPathVectorSlot(handle);
    return slot != nullptr ? slot->pathVector : nullptr;
}

void unregisterPathVector(jint handle) {
    PathVectorSlot* slot;
    {
        std::lock_guard<std::mutex> guard(registryMutex);
        IndexHit hit;
        if (!findIn(pathVectorIndex, handle, hit)) return;
        slot = static_cast<PathVectorSlot*>(hit.entry);
        erase(pathVectorIndex, handle);
        unlinkEntry(&pathVectorRegistry.head, slot);
        dropLockUser(slot->lock);
    }
    // The binding block and our BindInfo block are the bridge's own; a
    // BindInfo that the library put in the field is the library's.
    std::free(slot->binding);
    std::free(slot->ownBindInfo);
    std::free(slot);
}

ConfigRecord* configFromObject(JNIEnv* env, jobject config) {
    return lookupConfig(readHandleField(env, config, kConfigHandleField));
}

PathVectorRecord* pathVectorFromObject(JNIEnv* env, jobject pathVector) {
    return lookupPathVector(readHandleField(env, pathVector, kPathVectorHandleField));
}

PathVectorSlot* pathVectorSlotFromObject(JNIEnv* env, jobject pathVector) {
    PathVectorSlot* slot = lookupPathVectorSlot(readHandleField(env, pathVector, kPathVectorHandleField));
    // A slot without a record counts as not registered.
    return slot != nullptr && slot->pathVector != nullptr ? slot : nullptr;
}
