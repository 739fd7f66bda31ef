// Handle registries: Java objects hold int handles, never pointers.  Two
// process-wide lists map them onto library records; the path-vector entry also
// carries the state a path vector keeps between native calls.
#ifndef ZEL_BRIDGE_REGISTRY_H
#define ZEL_BRIDGE_REGISTRY_H

#include <jni.h>

#include "zelvek/zelvek.h"

struct ConfigHandleEntry {
    ConfigRecord* config;
    jint handle;
    ConfigHandleEntry* next;  // the entry registered before this one
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
};

struct ConfigRegistry {
    ConfigHandleEntry* head;  // newest first
    jint nextHandle;          // 0 once the last handle has been handed out
};

struct PathVectorRegistry {
    PathVectorSlot* head;     // newest first
    jint nextHandle;
};

// Process-wide; touched only under the bridge lock (door.h).
extern ConfigRegistry configRegistry;
extern PathVectorRegistry pathVectorRegistry;

// The new handle, or 0 when none can be had (every handle has been handed
// out, or no memory): the caller then releases the record again.
jint registerConfig(ConfigRecord* config);
ConfigRecord* lookupConfig(jint handle);
void unregisterConfig(jint handle);

jint registerPathVector(PathVectorRecord* pathVector);
PathVectorRecord* lookupPathVector(jint handle);
PathVectorSlot* lookupPathVectorSlot(jint handle);
void unregisterPathVector(jint handle);

// Read the receiver's handle field anew and look it up; null when the handle
// names nothing (0, never registered, or withdrawn).
ConfigRecord* configFromObject(JNIEnv* env, jobject config);
PathVectorRecord* pathVectorFromObject(JNIEnv* env, jobject pathVector);
PathVectorSlot* pathVectorSlotFromObject(JNIEnv* env, jobject pathVector);

#endif
