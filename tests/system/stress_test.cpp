// A hundred thousand configurations and path vectors opened and closed in one
// process through the natives: no handle is handed out twice, the registries
// end empty (so a lookup walks no more than the live entries), and the heap is
// back where it started.

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <vector>

#include "system_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's own count (GCC ships no header that declares it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using systest::liveConfigs;
using systest::livePathVectors;

// Bytes the program holds on the heap now.
std::size_t heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();  // the sanitizer's allocator replaces malloc's books
#else
    return testos::heapInUse();
#endif
}

// The 32-bit build runs under user-mode emulation, some twenty times slower:
// there the same paths run a tenth as often.
constexpr int kRounds = sizeof(void*) == 8 ? 100000 : 10000;
constexpr std::size_t kBatch = 100;  // live at once: handles are closed newest, oldest and middle first

// One batch's JVM.  The fake keeps a record of every object, reference and
// string it handed out for as long as it lives, so each batch has its own and
// the heap measured between batches is the bridge's and the library's.
struct BatchJvm {
    fakejni::FakeJvm jvm;
    JNIEnv* env = jvm.env();
    fakejni::FakeClass* configClass = jvm.defineClass("COM/morvent/zel/ZelConfig");
    fakejni::FakeClass* pathVectorClass = jvm.defineClass("COM/morvent/zel/ZelPathVector");
    jstring lib = jvm.newString("lib"), cell = jvm.newString("stress"), view = jvm.newString("config"),
            mode = jvm.newString("w"), views = jvm.newString("schematic symbol layout");
    std::vector<jobject> configs, pathVectors;

    BatchJvm() {
        configClass->addIntField("id");
        pathVectorClass->addIntField("pathvector");
        for (std::size_t i = 0; i < kBatch; ++i) {
            configs.push_back(jvm.newObject(configClass));
            pathVectors.push_back(jvm.newObject(pathVectorClass));
        }
    }
};

class StressTest : public systest::SystemTest {
protected:
    // Opens kBatch configurations, each with an edit and a path vector one
    // level deep (every other one with a copy), then closes them all in a
    // mixed order, some path vectors only after their configuration.
    void batch(std::vector<jint>& configHandles, std::vector<jint>& pathVectorHandles) {
        BatchJvm b;
        JNIEnv* e = b.env;
        for (std::size_t i = 0; i < kBatch; ++i) {
            jobject c = b.configs[i];
            jobject pv = b.pathVectors[i];
            ASSERT_TRUE(b.jvm.callNative(
                [&] { return Java_COM_morvent_zel_ZelConfig_open(e, c, b.lib, b.cell, b.view, b.mode, nullptr); }));
            configHandles.push_back(b.jvm.intField(c, "id"));
            ASSERT_TRUE(b.jvm.callNative(
                [&] { return Java_COM_morvent_zel_ZelConfig_setDefaultViewListString(e, c, b.views); }));
            jint handle = b.jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(e, c); });
            ASSERT_NE(handle, 0);
            pathVectorHandles.push_back(handle);
            b.jvm.setIntField(pv, "pathvector", handle);
            ASSERT_TRUE(b.jvm.callNative(
                [&] { return Java_COM_morvent_zel_ZelPathVector_pushCell(e, pv, b.lib, b.cell, b.view, nullptr); }));
            if (i % 2 == 0) {
                jint copy = b.jvm.callNative([&] { return Java_COM_morvent_zel_ZelPathVector_copy_1n(e, pv); });
                ASSERT_NE(copy, 0);
                pathVectorHandles.push_back(copy);
                jobject spare = b.jvm.newObject(b.pathVectorClass);
                b.jvm.setIntField(spare, "pathvector", copy);
                b.jvm.callNative([&] { Java_COM_morvent_zel_ZelPathVector_destroy(e, spare); });
            }
        }
        maxLive = std::max(maxLive, liveConfigs() + livePathVectors());
        // Path vectors of the odd ones first, then every configuration from
        // the middle outwards, then the rest of the path vectors.
        auto destroyAt = [&](std::size_t i) {
            jobject pv = b.pathVectors[i];
            b.jvm.callNative([&] { Java_COM_morvent_zel_ZelPathVector_destroy(e, pv); });
            EXPECT_EQ(b.jvm.intField(pv, "pathvector"), 0);
        };
        for (std::size_t i = 1; i < kBatch; i += 2) destroyAt(i);
        for (int k = 0; k < static_cast<int>(kBatch); ++k) {
            int middle = static_cast<int>(kBatch) / 2 + (k % 2 == 0 ? k / 2 : -(k + 1) / 2);
            jobject c = b.configs[static_cast<std::size_t>(middle)];
            ASSERT_TRUE(b.jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_close(e, c); }));
        }
        for (std::size_t i = 0; i < kBatch; i += 2) destroyAt(i);
        ASSERT_TRUE(b.jvm.misuses().empty()) << b.jvm.formatMisuses();
    }

    std::size_t maxLive = 0;
};

TEST_F(StressTest, ManyHandlesOpenedAndClosed) {
    std::vector<jint> configHandles, pathVectorHandles;
    configHandles.reserve(static_cast<std::size_t>(kRounds));
    pathVectorHandles.reserve(static_cast<std::size_t>(kRounds) * 2);
    // One batch first, so that what lives for the whole run (the fake JVM's
    // books, the library's first-use state) is in the baseline.
    batch(configHandles, pathVectorHandles);
    configHandles.clear();
    pathVectorHandles.clear();
    const std::size_t heapBefore = heapInUse();

    for (int done = 0; done < kRounds && !HasFatalFailure(); done += static_cast<int>(kBatch))
        batch(configHandles, pathVectorHandles);
    ASSERT_FALSE(HasFatalFailure());
    const std::size_t heapAfter = heapInUse();

    // Every handle is new: strictly growing, so none was handed out twice.
    ASSERT_EQ(configHandles.size(), static_cast<std::size_t>(kRounds));
    EXPECT_TRUE(std::adjacent_find(configHandles.begin(), configHandles.end(), std::greater_equal<jint>()) ==
                configHandles.end());
    EXPECT_EQ(pathVectorHandles.size(), static_cast<std::size_t>(kRounds) * 3 / 2);
    EXPECT_TRUE(std::adjacent_find(pathVectorHandles.begin(), pathVectorHandles.end(),
                                   std::greater_equal<jint>()) == pathVectorHandles.end());
    // What was closed is gone from the registries: a lookup walks the live
    // entries only, never what was closed before.
    EXPECT_EQ(liveConfigs(), configsBefore);
    EXPECT_EQ(livePathVectors(), pathVectorsBefore);
    EXPECT_LE(maxLive, configsBefore + pathVectorsBefore + 2 * kBatch);
    // A closed handle finds nothing.
    jobject stale = config();
    jvm.setIntField(stale, "id", configHandles.front());
    EXPECT_FALSE(isModified(stale));
    // Memory back where it started (within what the allocator's books move).
    const long long grown = static_cast<long long>(heapAfter) - static_cast<long long>(heapBefore);
    std::printf("[ figures  ] %d configurations, %d path vectors; heap in use %zu bytes before, %zu after\n", kRounds,
                kRounds * 3 / 2, heapBefore, heapAfter);
    EXPECT_LT(grown, 64 * 1024) << "heap grew by " << grown << " bytes over " << kRounds << " rounds";
}

}  // namespace
