// Rules for single objects and single occurrences: stop points, bindings
// (also to open), occurrence bindings, and library lists of instances and
// cells.  The occurrence natives take a path vector's handle as an int.
#include "COM_morvent_zel_ZelConfig.h"
#include "door.h"

using door::OnConfig;

namespace {

// Bound to open: an empty library, cell and view.
constexpr const char kOpenName[] = "";

// Builds, in the configuration, the chain of occurrence instances from the
// top of the path vector down to inst in its current context, each level's
// result the parent of the next.  With a null inst the chain ends at the level
// above the current one.  Null when the path vector has no current context,
// and when a level could not be found or made: the levels below it must not
// hang from the top instead, or the rule would land on a shorter path.
OccurrenceInstance* findOrCreateOccurrencePath(ConfigRecord* config, PathVectorRecord* pathVector,
                                               const char* inst) {
    const int32_t depth = pathVector->depth;
    // Beyond the array the record is not the library's: touch nothing.
    if (depth >= ZEL_MAX_DEPTH) return nullptr;
    OccurrenceInstance* parent = nullptr;
    for (int32_t i = 0; i < depth; ++i) {
        const ContextEntry* level = pathVector->contexts[i];
        if (level == nullptr) continue;
        parent = zelFindOrCreateOccInst(config, parent, level->libName, level->cellName, level->viewName,
                                        level->instName);
        if (parent == nullptr) return nullptr;
    }
    if (depth >= 0 && inst != nullptr) {
        const ContextEntry* current = pathVector->contexts[depth];
        if (current != nullptr)
            parent = zelFindOrCreateOccInst(config, parent, current->libName, current->cellName, current->viewName,
                                            inst);
    }
    return parent;
}

// An occurrence rule is written into the path vector's own configuration
// only: given through a receiver with another configuration open, it could
// be looked up in one and created in the other.
bool otherConfiguration(ConfigRecord* receiver, const PathVectorRecord* pathVector) {
    return receiver != nullptr && receiver != pathVector->config;
}

// The occurrence of inst in the current context; when there is none and
// create is set, the occurrence path is created in the receiver's
// configuration (when the receiver has one open).
OccurrenceInstance* occurrenceOf(ConfigRecord* receiver, PathVectorRecord* pathVector, const char* inst,
                                 bool create) {
    OccurrenceInstance* occurrence = zelGetContextOccInst(pathVector, inst);
    if (occurrence != nullptr || !create) return occurrence;
    return receiver != nullptr ? findOrCreateOccurrencePath(receiver, pathVector, inst) : nullptr;
}

// The occurrence natives: the path vector of handle, the native strings of
// params, then body(receiver's configuration or null, path vector, strings);
// false when the handle names nothing, a string could not be had, or the
// receiver has another configuration open than the path vector's.
template <typename Body>
jboolean onOccurrence(JNIEnv* env, jobject self, jint handle, std::initializer_list<jstring> params, Body body) {
    return door::withPathVectorHandle(env, handle, jboolean{JNI_FALSE}, params,
                                      [&](PathVectorRecord* pathVector, NativeStrings& strings) {
                                          const HandleField id(env, self, kConfigHandleField);
                                          // A class without the field: its error is pending.
                                          if (!id.ok()) return jboolean{JNI_FALSE};
                                          // Compared only: the lock held is the path vector's
                                          // configuration's, and an equal record is that one.
                                          IndexHit hit;
                                          ConfigRecord* receiver = findConfigHandle(id.read(), hit)
                                                                       ? static_cast<ConfigRecord*>(hit.record)
                                                                       : nullptr;
                                          if (otherConfiguration(receiver, pathVector)) return jboolean{JNI_FALSE};
                                          return body(receiver, pathVector, strings);
                                      });
}

}  // namespace

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setStopPointValue(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst, jboolean value) {
    return door::with<OnConfig>(env, self, jboolean{JNI_FALSE}, {lib, cell, view, inst},
                                [value](ConfigRecord* config, NativeStrings& s) {
                                    return toJavaBoolean(
                                        zelSetObjStop(config, s[0], s[1], s[2], s[3], toLibraryBoolean(value)));
                                });
}

// lib, cell and view are accepted and not consulted.
extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setOccurStopPointValue(
    JNIEnv* env, jobject self, jint pathVectorHandle, jstring inst, jstring, jstring, jstring, jboolean value) {
    return onOccurrence(env, self, pathVectorHandle, {inst},
                        [value](ConfigRecord* receiver, PathVectorRecord* pathVector, NativeStrings& s) {
                            const ZelBool stop = toLibraryBoolean(value);
                            // Clearing a stop point never creates an occurrence.
                            OccurrenceInstance* occurrence = occurrenceOf(receiver, pathVector, s[0], stop != 0);
                            return occurrence != nullptr ? toJavaBoolean(zelReplaceOccInstStop(occurrence, stop))
                                                         : jboolean{JNI_FALSE};
                        });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setBindToOpen(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst, jboolean value) {
    return door::with<OnConfig>(env, self, jboolean{JNI_FALSE}, {lib, cell, view, inst},
                                [value](ConfigRecord* config, NativeStrings& s) {
                                    // Neither a cell nor an instance: no object to bind.
                                    if (s[1] == nullptr && s[3] == nullptr) return jboolean{JNI_FALSE};
                                    if (toLibraryBoolean(value) != 0)
                                        return toJavaBoolean(zelSetObjBinding(config, s[0], s[1], s[2], s[3],
                                                                              kOpenName, kOpenName, kOpenName));
                                    return toJavaBoolean(zelDeleteObjBinding(config, s[0], s[1], s[2], s[3]));
                                });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setOccurBinding(
    JNIEnv* env, jobject self, jint pathVectorHandle, jstring lib, jstring cell, jstring view, jstring inst) {
    return onOccurrence(env, self, pathVectorHandle, {lib, cell, view, inst},
                        [](ConfigRecord* receiver, PathVectorRecord* pathVector, NativeStrings& s) {
                            OccurrenceInstance* occurrence = occurrenceOf(receiver, pathVector, s[3], true);
                            return occurrence != nullptr
                                       ? toJavaBoolean(zelReplaceOccInstBinding(occurrence, s[0], s[1], s[2]))
                                       : jboolean{JNI_FALSE};
                        });
}

// Works on the path vector alone, in its own configuration; the receiver is
// not consulted.
extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteOccurBinding(JNIEnv* env, jobject,
                                                                                       jint pathVectorHandle,
                                                                                       jstring inst) {
    return door::withPathVectorHandle(env, pathVectorHandle, jboolean{JNI_FALSE}, {inst},
                                      [](PathVectorRecord* pathVector, NativeStrings& s) {
                                          OccurrenceInstance* occurrence = zelGetContextOccInst(pathVector, s[0]);
                                          return occurrence != nullptr
                                                     ? toJavaBoolean(zelDeleteOccInstBinding(occurrence))
                                                     : jboolean{JNI_FALSE};
                                      });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setInstLibList(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst, jstring libList) {
    return door::boolean<OnConfig>(env, self, zelSetObjLibListStr, lib, cell, view, inst, libList);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteInstLibList(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst) {
    return door::boolean<OnConfig>(env, self, zelDeleteObjLibList, lib, cell, view, inst);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setCellLibList(JNIEnv* env, jobject self,
                                                                                   jstring cell, jstring libList) {
    return door::boolean<OnConfig>(env, self, zelReplaceCellLibList, cell, libList);
}

// The cell's library list is kept for the cell in any library: no library is named.
extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteCellLibList(JNIEnv* env, jobject self,
                                                                                      jstring cell) {
    return door::with<OnConfig>(env, self, jboolean{JNI_FALSE}, {cell}, [](ConfigRecord* config, NativeStrings& s) {
        return toJavaBoolean(zelDeleteCellLibList(config, nullptr, s[0]));
    });
}
