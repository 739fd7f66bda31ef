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
void beginWrite(HandleIndex& index) {
    index.version.store(index.version.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
}

void endWrite(HandleIndex& index) {
    index.version.store(index.version.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void putCell(IndexTable& table, jint handle, void* entry, void* record, ConfigLock* lock) {
    std::size_t i = indexCellOf(handle, table.mask);
    while (true) {
        const jint seen = table.cells[i].handle.load(std::memory_order_relaxed);
        if (seen == kIndexEmpty || seen == kIndexGone) break;
        i = (i + 1) & table.mask;
    }
    IndexCell& cell = table.cells[i];
    cell.entry.store(entry, std::memory_order_relaxed);
    cell.record.store(record, std::memory_order_relaxed);
    cell.lock.store(lock, std::memory_order_relaxed);
    cell.handle.store(handle, std::memory_order_relaxed);
}

struct LiveCell {
    jint handle;
    void* entry;
    void* record;
    ConfigLock* lock;
};

// Room for one more handle: withdrawn cells dropped, and a larger table when
// the live ones fill a quarter.  False when no memory could be had.
bool makeRoom(HandleIndex& index) {
    IndexTable* table = index.table.load(std::memory_order_relaxed);
    const std::size_t capacity = table != nullptr ? table->mask + 1 : 0;
    if ((index.used + 1) * 4 <= capacity * 3) return true;
    std::size_t wanted = 16;
    while (wanted < (index.live + 1) * 4) wanted *= 2;
    std::vector<LiveCell> live;
    IndexTable* grown = nullptr;
    try {
        live.reserve(index.live);
        if (wanted > capacity) {
            grown = new IndexTable{wanted - 1, new IndexCell[wanted](), table};
        }
    } catch (const std::bad_alloc&) {
        delete grown;
        return false;
    }
    if (table != nullptr) {
        for (std::size_t i = 0; i < capacity; ++i) {
            const IndexCell& cell = table->cells[i];
            const jint handle = cell.handle.load(std::memory_order_relaxed);
            if (handle > 0)
                live.push_back({handle, cell.entry.load(std::memory_order_relaxed),
                                cell.record.load(std::memory_order_relaxed), cell.lock.load(std::memory_order_relaxed)});
        }
    }
    beginWrite(index);
    IndexTable* target = grown != nullptr ? grown : table;
    if (grown == nullptr) {
        for (std::size_t i = 0; i < capacity; ++i) {
            IndexCell& cell = table->cells[i];
            cell.handle.store(kIndexEmpty, std::memory_order_relaxed);
            cell.entry.store(nullptr, std::memory_order_relaxed);
            cell.record.store(nullptr, std::memory_order_relaxed);
            cell.lock.store(nullptr, std::memory_order_relaxed);
        }
    }
    for (const LiveCell& cell : live) putCell(*target, cell.handle, cell.entry, cell.record, cell.lock);
    if (grown != nullptr) index.table.store(grown, std::memory_order_release);
    endWrite(index);
    index.used = live.size();
    return true;
}

void insert(HandleIndex& index, jint handle, void* entry, void* record, ConfigLock* lock) {
    beginWrite(index);
    putCell(*index.table.load(std::memory_order_relaxed), handle, entry, record, lock);
    endWrite(index);
    ++index.live;
    ++index.used;
}

void erase(HandleIndex& index, jint handle) {
    IndexTable* table = index.table.load(std::memory_order_relaxed);
    if (table == nullptr || handle <= 0) return;
    std::size_t i = indexCellOf(handle, table->mask);
    for (std::size_t n = 0; n <= table->mask; ++n, i = (i + 1) & table->mask) {
        IndexCell& cell = table->cells[i];
        const jint seen = cell.handle.load(std::memory_order_relaxed);
        if (seen == kIndexEmpty) return;
        if (seen != handle) continue;
        beginWrite(index);
        cell.handle.store(kIndexGone, std::memory_order_relaxed);
        cell.entry.store(nullptr, std::memory_order_relaxed);
        cell.record.store(nullptr, std::memory_order_relaxed);
        cell.lock.store(nullptr, std::memory_order_relaxed);
        endWrite(index);
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
