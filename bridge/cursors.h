// The two enumeration cursors.  Each is one process-wide position in a list
// that the library owns; the Java side runs one enumeration of each kind at a
// time.  A cursor remembers whose list it walks, so that closing or destroying
// that owner empties it instead of leaving it pointing at released records,
// and that configuration's lock, which guards the list it walks.
//
// The cursors themselves are guarded by cursorMutex, held briefly and only
// with (after) a configuration's lock, never the other way round.
#ifndef ZEL_BRIDGE_CURSORS_H
#define ZEL_BRIDGE_CURSORS_H

#include <mutex>

#include "door.h"
#include "registry.h"
#include "zelvek/zelvek.h"

struct ConstantCursor {
    ConstantEntry* entry;     // next constant to hand out, or null
    ConfigRecord* config;     // whose constant list it walks
    ConfigLock* lock;         // that configuration's
};

struct InstanceCursor {
    InstRuleRecord* rule;          // next instance rule to hand out, or null
    PathVectorRecord* pathVector;  // whose current context it walks
    ConfigLock* lock;              // that path vector's configuration's
};

extern ConstantCursor constantCursor;
extern InstanceCursor instanceCursor;
extern std::mutex cursorMutex;

// A configuration is about to be released by a successful close.
void forgetCursorsOfConfig(ConfigRecord* config);
// A path vector is about to be destroyed.
void forgetCursorsOfPathVector(PathVectorRecord* pathVector);

// body(cursor) under cursorMutex, with the lock of the configuration whose
// list the cursor walks held in held (and kept there, for what the caller
// does with what body found).  False when that lock could not be had.
template <typename Cursor, typename Body>
bool withCursor(door::Held& held, Cursor& cursor, Body&& body) {
    for (;;) {
        ConfigLock* lock;
        {
            std::lock_guard<std::mutex> guard(cursorMutex);
            if (cursor.lock == nullptr || cursor.lock == held.lock()) {
                body(cursor);
                return true;
            }
            lock = cursor.lock;
        }
        // Another enumeration may start while this thread waits: look again.
        if (held.lock() != nullptr) held.giveBack();
        if (!held.take(lock)) return false;
    }
}

#endif
