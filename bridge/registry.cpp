#include "registry.h"

#include <cstdlib>
#include <limits>

#include "jni_util.h"

ConfigRegistry configRegistry = {nullptr, 1};
PathVectorRegistry pathVectorRegistry = {nullptr, 1};

namespace {

// Walks a list through the link that leads to each entry, so the match can be
// unlinked in place.
template <typename Entry>
Entry* unlink(Entry** head, jint handle) {
    for (Entry** link = head; *link != nullptr; link = &(*link)->next) {
        Entry* entry = *link;
        if (entry->handle == handle) {
            *link = entry->next;
            return entry;
        }
    }
    return nullptr;
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
    if (configRegistry.nextHandle <= 0) return 0;
    auto* entry = static_cast<ConfigHandleEntry*>(std::malloc(sizeof(ConfigHandleEntry)));
    if (entry == nullptr) return 0;
    entry->config = config;
    entry->handle = takeHandle(&configRegistry.nextHandle);
    entry->next = configRegistry.head;
    configRegistry.head = entry;
    return entry->handle;
}

ConfigRecord* lookupConfig(jint handle) {
    for (ConfigHandleEntry* e = configRegistry.head; e != nullptr; e = e->next)
        if (e->handle == handle) return e->config;
    return nullptr;
}

void unregisterConfig(jint handle) {
    std::free(unlink(&configRegistry.head, handle));
}

jint registerPathVector(PathVectorRecord* pathVector) {
    if (pathVectorRegistry.nextHandle <= 0) return 0;
    auto* slot = static_cast<PathVectorSlot*>(std::malloc(sizeof(PathVectorSlot)));
    auto* binding = clearedBlock<BindingRecord>();
    auto* bindInfo = clearedBlock<BindInfo>();
    if (slot == nullptr || binding == nullptr || bindInfo == nullptr) {
        std::free(slot);
        std::free(binding);
        std::free(bindInfo);
        return 0;
    }
    slot->pathVector = pathVector;
    slot->handle = takeHandle(&pathVectorRegistry.nextHandle);
    slot->binding = binding;
    slot->bindInfo = bindInfo;
    slot->ownBindInfo = slot->bindInfo;
    slot->stopRules = nullptr;
    slot->resolvedLists = nullptr;
    slot->cachedCell = nullptr;
    slot->cachedCellView = nullptr;
    slot->next = pathVectorRegistry.head;
    pathVectorRegistry.head = slot;
    return slot->handle;
}

PathVectorSlot* lookupPathVectorSlot(jint handle) {
    for (PathVectorSlot* s = pathVectorRegistry.head; s != nullptr; s = s->next)
        if (s->handle == handle) return s;
    return nullptr;
}

PathVectorRecord* lookupPathVector(jint handle) {
    PathVectorSlot* slot = lookupPathVectorSlot(handle);
    return slot != nullptr ? slot->pathVector : nullptr;
}

void unregisterPathVector(jint handle) {
    PathVectorSlot* slot = unlink(&pathVectorRegistry.head, handle);
    if (slot == nullptr) return;
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
