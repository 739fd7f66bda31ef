// What the path-vector tests share: one registered path vector over a
// configuration with one level, and short names for the natives.
#ifndef ZEL_TESTS_PATHVECTOR_FIXTURE_H
#define ZEL_TESTS_PATHVECTOR_FIXTURE_H

#include <jni.h>

#include <string>
#include <utility>
#include <vector>

#include "COM_morvent_zel_ZelConfig.h"
#include "COM_morvent_zel_ZelPathVector.h"
#include "bridge_fixture.h"

#define PV(name) Java_COM_morvent_zel_ZelPathVector_##name

class PathVectorTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        self = newPathVector(addPathVector(record));
    }

    template <typename F>
    auto run(F&& native) {
        return jvm.callNative(std::forward<F>(native));
    }

    PathVectorSlot* slotOf(jobject object) { return lookupPathVectorSlot(pathVectorHandle(object)); }
    PathVectorSlot* slot() { return slotOf(self); }

    // A Java String result as text; "<null>" for a null String.
    std::string text(jstring result) { return result != nullptr ? jvm.stringValue(result) : "<null>"; }

    // The library's calls, by name, in order.
    std::vector<std::string> libraryCalls() const { return lib().names(); }

    // Stand-ins for records that the bridge only passes around, never reads.
    template <typename T>
    T* opaque() {
        return arena.make<T>();
    }

    ConfigRecord* config = arena.make<ConfigRecord>();
    ContextEntry* level = arena.context("lib", "top", "schematic", nullptr);
    PathVectorRecord* record = arena.pathVector(config, {level});
    jobject self = nullptr;
};

#endif
