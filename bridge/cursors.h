// The two enumeration cursors.  Each is one process-wide position in a list
// that the library owns; the Java side runs one enumeration of each kind at a
// time.  A cursor remembers whose list it walks, so that closing or destroying
// that owner empties it instead of leaving it pointing at released records.
#ifndef ZEL_BRIDGE_CURSORS_H
#define ZEL_BRIDGE_CURSORS_H

#include "zelvek/zelvek.h"

struct ConstantCursor {
    ConstantEntry* entry;     // next constant to hand out, or null
    ConfigRecord* config;     // whose constant list it walks
};

struct InstanceCursor {
    InstRuleRecord* rule;          // next instance rule to hand out, or null
    PathVectorRecord* pathVector;  // whose current context it walks
};

extern ConstantCursor constantCursor;
extern InstanceCursor instanceCursor;

// A configuration is about to be released by a successful close.
void forgetCursorsOfConfig(ConfigRecord* config);
// A path vector is about to be destroyed.
void forgetCursorsOfPathVector(PathVectorRecord* pathVector);

#endif
