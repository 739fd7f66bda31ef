// The handle registries: numbering, lookup, withdrawal, and the per-path-vector
// blocks a slot owns.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bridge_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using RegistryTest = BridgeTest;

std::vector<jint> configHandles() {
    std::vector<jint> handles;
    for (ConfigHandleEntry* e = configRegistry.head; e != nullptr; e = e->next) handles.push_back(e->handle);
    return handles;
}

std::vector<jint> pathVectorHandles() {
    std::vector<jint> handles;
    for (PathVectorSlot* s = pathVectorRegistry.head; s != nullptr; s = s->next) handles.push_back(s->handle);
    return handles;
}

bool allZero(const void* block, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (std::size_t i = 0; i < size; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

// Leaves freed blocks of the slot's block sizes full of non-zero bytes, so that
// a block taken with plain malloc would likely come back dirty.
void dirtyTheHeap() {
    const std::size_t sizes[] = {sizeof(BindingRecord), sizeof(BindInfo)};
    std::vector<void*> blocks;
    for (std::size_t size : sizes) {
        for (int i = 0; i < 8; ++i) {
            void* block = std::malloc(size);
            std::memset(block, 0xA5, size);
            blocks.push_back(block);
        }
    }
    for (void* block : blocks) std::free(block);
}

TEST_F(RegistryTest, HandlesStartAtOneAndTheTwoCountersAreIndependent) {
    ConfigRecord* a = arena.make<ConfigRecord>();
    ConfigRecord* b = arena.make<ConfigRecord>();
    PathVectorRecord* p = arena.pathVector(a, {});
    PathVectorRecord* q = arena.pathVector(b, {});

    EXPECT_EQ(1, registerConfig(a));
    EXPECT_EQ(1, registerPathVector(p));  // its own counter: the config took 1 already
    EXPECT_EQ(2, registerConfig(b));
    EXPECT_EQ(3, registerConfig(a));
    EXPECT_EQ(2, registerPathVector(q));  // three configs moved nothing here

    EXPECT_EQ(a, lookupConfig(1));
    EXPECT_EQ(b, lookupConfig(2));
    EXPECT_EQ(p, lookupPathVector(1));
    EXPECT_EQ(q, lookupPathVector(2));
    EXPECT_EQ(nullptr, lookupPathVector(3));
}

TEST_F(RegistryTest, TheSameRecordTwiceGetsTwoHandlesThatBothFindIt) {
    ConfigRecord* config = arena.make<ConfigRecord>();
    PathVectorRecord* pv = arena.pathVector(config, {arena.context("L", "C", "V", nullptr)});

    jint c1 = registerConfig(config);
    jint c2 = registerConfig(config);
    jint p1 = registerPathVector(pv);
    jint p2 = registerPathVector(pv);

    EXPECT_NE(c1, c2);
    EXPECT_NE(p1, p2);
    EXPECT_EQ(config, lookupConfig(c1));
    EXPECT_EQ(config, lookupConfig(c2));
    EXPECT_EQ(pv, lookupPathVector(p1));
    EXPECT_EQ(pv, lookupPathVector(p2));
    // Each registration has its own slot and blocks.
    PathVectorSlot* s1 = lookupPathVectorSlot(p1);
    PathVectorSlot* s2 = lookupPathVectorSlot(p2);
    ASSERT_NE(nullptr, s1);
    ASSERT_NE(nullptr, s2);
    EXPECT_NE(s1, s2);
    EXPECT_NE(s1->binding, s2->binding);
    EXPECT_NE(s1->bindInfo, s2->bindInfo);

    // Withdrawing one leaves the other.
    unregisterConfig(c1);
    unregisterPathVector(p2);
    EXPECT_EQ(nullptr, lookupConfig(c1));
    EXPECT_EQ(config, lookupConfig(c2));
    EXPECT_EQ(pv, lookupPathVector(p1));
    EXPECT_EQ(nullptr, lookupPathVector(p2));
}

TEST_F(RegistryTest, HandleZeroAndUnknownHandlesNameNothing) {
    // Empty registries, then registries with entries: 0 never matches.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "empty" : "with entries");
        for (jint handle : {0, -1, 7, 0x7fffffff}) {
            EXPECT_EQ(nullptr, lookupConfig(handle)) << handle;
            EXPECT_EQ(nullptr, lookupPathVector(handle)) << handle;
            EXPECT_EQ(nullptr, lookupPathVectorSlot(handle)) << handle;
        }
        // Withdrawing what is not there changes nothing.
        std::vector<jint> configsBefore = configHandles();
        std::vector<jint> pathVectorsBefore = pathVectorHandles();
        unregisterConfig(0);
        unregisterPathVector(0);
        unregisterConfig(7);
        unregisterPathVector(7);
        EXPECT_EQ(configsBefore, configHandles());
        EXPECT_EQ(pathVectorsBefore, pathVectorHandles());

        ConfigRecord* config = arena.make<ConfigRecord>();
        registerConfig(config);
        registerConfig(config);
        registerPathVector(arena.pathVector(config, {}));
    }
}

TEST_F(RegistryTest, AWithdrawnHandleIsNeverHandedOutAgain) {
    ConfigRecord* config = arena.make<ConfigRecord>();
    PathVectorRecord* pv = arena.pathVector(config, {});
    jint c1 = registerConfig(config);
    jint p1 = registerPathVector(pv);
    unregisterConfig(c1);
    unregisterPathVector(p1);
    EXPECT_EQ(2, registerConfig(config));
    EXPECT_EQ(2, registerPathVector(pv));
    EXPECT_EQ(nullptr, lookupConfig(c1));
    EXPECT_EQ(nullptr, lookupPathVector(p1));
}

// Withdraw one of three entries; the others stay reachable, newest first.
struct WithdrawCase {
    const char* name;
    int withdrawn;  // index in registration order
};

class RegistryWithdrawTest : public BridgeTest, public ::testing::WithParamInterface<WithdrawCase> {};

TEST_P(RegistryWithdrawTest, TheOthersStayReachableInOrder) {
    ConfigRecord* configs[3] = {arena.make<ConfigRecord>(), arena.make<ConfigRecord>(), arena.make<ConfigRecord>()};
    PathVectorRecord* pvs[3] = {arena.pathVector(configs[0], {}), arena.pathVector(configs[1], {}),
                                arena.pathVector(configs[2], {})};
    jint configHandle[3];
    jint pvHandle[3];
    for (int i = 0; i < 3; ++i) {
        configHandle[i] = registerConfig(configs[i]);
        pvHandle[i] = registerPathVector(pvs[i]);
    }
    const int gone = GetParam().withdrawn;
    unregisterConfig(configHandle[gone]);
    unregisterPathVector(pvHandle[gone]);

    std::vector<jint> expectedConfigs;
    std::vector<jint> expectedPathVectors;
    for (int i = 2; i >= 0; --i) {
        if (i == gone) continue;
        expectedConfigs.push_back(configHandle[i]);
        expectedPathVectors.push_back(pvHandle[i]);
    }
    EXPECT_EQ(expectedConfigs, configHandles());
    EXPECT_EQ(expectedPathVectors, pathVectorHandles());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(i == gone ? nullptr : configs[i], lookupConfig(configHandle[i])) << i;
        EXPECT_EQ(i == gone ? nullptr : pvs[i], lookupPathVector(pvHandle[i])) << i;
    }

    // A second withdrawal of the same handle changes nothing.
    unregisterConfig(configHandle[gone]);
    unregisterPathVector(pvHandle[gone]);
    EXPECT_EQ(expectedConfigs, configHandles());
    EXPECT_EQ(expectedPathVectors, pathVectorHandles());
}

INSTANTIATE_TEST_SUITE_P(Entries, RegistryWithdrawTest,
                         ::testing::Values(WithdrawCase{"Newest", 2}, WithdrawCase{"Oldest", 0},
                                           WithdrawCase{"Middle", 1}),
                         [](const ::testing::TestParamInfo<WithdrawCase>& p) { return p.param.name; });

// Many live handles: each found at once, the lists in order, and the index
// kept right through withdrawals and a long run of short-lived handles.
TEST_F(RegistryTest, TenThousandLiveHandlesAreEachFoundAndKeepTheirOrder) {
    constexpr jint kLive = 10000;
    std::vector<ConfigRecord*> records;
    PathVectorRecord* path = arena.pathVector(arena.make<ConfigRecord>(), {});
    for (jint h = 1; h <= kLive; ++h) {
        records.push_back(arena.make<ConfigRecord>());
        ASSERT_EQ(h, registerConfig(records.back()));
        ASSERT_EQ(h, registerPathVector(path));
    }
    std::vector<jint> kept;
    for (jint h = kLive; h >= 1; --h) {
        if (h % 3 == 0) {
            unregisterConfig(h);
            unregisterPathVector(h);
        } else {
            kept.push_back(h);
        }
    }
    // A program that opens and closes while the others stay open.
    for (jint i = 0; i < 3 * kLive; ++i) {
        const jint h = registerConfig(records[0]);
        ASSERT_EQ(records[0], lookupConfig(h));
        unregisterConfig(h);
    }
    EXPECT_EQ(kept, configHandles());
    EXPECT_EQ(kept, pathVectorHandles());
    for (jint h = 1; h <= kLive; ++h) {
        EXPECT_EQ(h % 3 == 0 ? nullptr : records[h - 1], lookupConfig(h)) << h;
        EXPECT_EQ(h % 3 == 0 ? nullptr : path, lookupPathVector(h)) << h;
    }
    EXPECT_EQ(nullptr, lookupConfig(kLive + 3 * kLive + 1));
}

// Random withdrawals and registrations among a few hundred live handles,
// every live one looked up after each step: a withdrawal must not cut the
// probe of a handle placed past it, through rebuilds as well.
TEST_F(RegistryTest, ChurnAmongAFewHundredLiveHandlesLosesNone) {
    constexpr std::size_t kLive = 300;
    std::mt19937 random(32);
    std::vector<ConfigRecord*> records;
    for (int i = 0; i < 64; ++i) records.push_back(arena.make<ConfigRecord>());
    std::map<jint, ConfigRecord*> live;
    jint lastWithdrawn = 0;
    for (int step = 0; step < 4000; ++step) {
        if (live.size() < kLive / 2 || (live.size() < kLive && random() % 2 == 0)) {
            ConfigRecord* record = records[random() % records.size()];
            const jint h = registerConfig(record);
            ASSERT_GT(h, 0);
            live[h] = record;
        } else {
            auto it = live.begin();
            std::advance(it, random() % live.size());
            lastWithdrawn = it->first;
            unregisterConfig(lastWithdrawn);
            live.erase(it);
        }
        for (const auto& [h, record] : live) ASSERT_EQ(record, lookupConfig(h)) << "handle " << h << ", step " << step;
        ASSERT_EQ(nullptr, lookupConfig(lastWithdrawn)) << "step " << step;
    }
}

// A rebuild of the index paused half-way (the writer descheduled there, say)
// holds up no reader: each live handle is still found, a withdrawn one not.
TEST_F(RegistryTest, ReadersAnswerWhileARebuildIsPausedHalfWay) {
    static std::atomic<bool> paused{false}, resume{false};
    paused = false;
    resume = false;
    std::vector<ConfigRecord*> records;
    for (int i = 0; i < 100; ++i) {
        records.push_back(arena.make<ConfigRecord>());
        ASSERT_EQ(i + 1, registerConfig(records.back()));
    }
    unregisterConfig(50);
    indexRebuildHook = [] {
        paused = true;
        while (!resume) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    // Short-lived handles: withdrawn cells pile up until a rebuild at the same
    // size drops them.
    std::thread writer([&] {
        while (!paused) unregisterConfig(registerConfig(records[0]));
    });
    while (!paused) std::this_thread::yield();
    std::atomic<bool> answered{false};
    bool allFound = true;
    std::thread reader([&] {
        for (jint h = 1; h <= 100; ++h) allFound = allFound && lookupConfig(h) == (h == 50 ? nullptr : records[h - 1]);
        answered = true;
    });
    // A reader that waits for the writer never answers while it is paused.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!answered && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool answeredWhilePaused = answered;
    resume = true;
    reader.join();
    writer.join();
    indexRebuildHook = nullptr;
    EXPECT_TRUE(answeredWhilePaused);
    EXPECT_TRUE(allFound);
    for (jint h = 1; h <= 100; ++h) EXPECT_EQ(h == 50 ? nullptr : records[h - 1], lookupConfig(h)) << h;
}

TEST_F(RegistryTest, ASlotStartsWithClearedBlocksAndNoLibraryRecords) {
    ConfigRecord* config = arena.make<ConfigRecord>();
    PathVectorRecord* pv = arena.pathVector(config, {arena.context("L", "C", "V", nullptr)});
    for (int i = 0; i < 3; ++i) {
        dirtyTheHeap();
        jint handle = registerPathVector(pv);
        PathVectorSlot* slot = lookupPathVectorSlot(handle);
        ASSERT_NE(nullptr, slot);
        EXPECT_EQ(pv, slot->pathVector);
        EXPECT_EQ(handle, slot->handle);
        ASSERT_NE(nullptr, slot->binding);
        ASSERT_NE(nullptr, slot->bindInfo);
        // Queries before the first bind must see no binding.
        EXPECT_TRUE(allZero(slot->binding, sizeof(BindingRecord)));
        EXPECT_TRUE(allZero(slot->bindInfo, sizeof(BindInfo)));
        EXPECT_EQ(nullptr, slot->stopRules);
        EXPECT_EQ(nullptr, slot->resolvedLists);
        EXPECT_EQ(nullptr, slot->cachedCell);
        EXPECT_EQ(nullptr, slot->cachedCellView);
    }
}

TEST_F(RegistryTest, WithdrawingASlotFreesItsOwnBlocksAndNoLibraryRecord) {
    ConfigRecord* config = arena.make<ConfigRecord>();
    PathVectorRecord* pv = arena.pathVector(config, {arena.context("L", "C", "V", nullptr)});

    // Untouched blocks.
    jint plain = registerPathVector(pv);
    // The bind filled the bridge's blocks in place.
    jint filledInPlace = registerPathVector(pv);
    // The library put a BindInfo of its own in the field, and the slot holds
    // other library records: all of them stay the library's.
    jint replaced = registerPathVector(pv);

    PathVectorSlot* filled = lookupPathVectorSlot(filledInPlace);
    ASSERT_NE(nullptr, filled);
    filled->binding->libName = "L";
    filled->bindInfo->flags = ZEL_BIND_BY_RULE;
    filled->bindInfo->viewBindingRule = ZEL_RULE_CELL;

    PathVectorSlot* slot = lookupPathVectorSlot(replaced);
    ASSERT_NE(nullptr, slot);
    BindInfo* libraryInfo = arena.make<BindInfo>();
    libraryInfo->flags = ZEL_BIND_MOST_RECENT;
    slot->bindInfo = libraryInfo;
    slot->resolvedLists = arena.make<ResolvedLists>();
    slot->stopRules = arena.stops({{ZEL_RULE_CELL, arena.make<CellRecord>()}});
    slot->cachedCell = arena.make<CellRecord>();
    slot->cachedCellView = arena.make<CellViewRecord>();

    unregisterPathVector(replaced);
    unregisterPathVector(filledInPlace);
    unregisterPathVector(plain);
    EXPECT_EQ(nullptr, pathVectorRegistry.head);

    // Freeing the library's record would be a mismatched free here and a double
    // free when the arena goes; it must still be intact.
    EXPECT_EQ(static_cast<uint32_t>(ZEL_BIND_MOST_RECENT), libraryInfo->flags);
#if defined(__SANITIZE_ADDRESS__)
    // Blocks the slots owned and nobody freed would show up here.
    EXPECT_EQ(0, __lsan_do_recoverable_leak_check());
#endif
}

TEST_F(RegistryTest, ObjectsAreLookedUpThroughTheirHandleFieldReadAnewEachTime) {
    ConfigRecord* c1 = arena.make<ConfigRecord>();
    ConfigRecord* c2 = arena.make<ConfigRecord>();
    PathVectorRecord* p1 = arena.pathVector(c1, {});
    jint h1 = registerConfig(c1);
    jint h2 = registerConfig(c2);
    jint ph = addPathVector(p1);

    jobject config = newConfig(h1);
    jobject pathVector = newPathVector(ph);
    jobject stale = newPathVector(0);

    jvm.callNative([&] {
        EXPECT_EQ(c1, configFromObject(env, config));
        jvm.setIntField(config, "id", h2);  // Java stored another handle meanwhile
        EXPECT_EQ(c2, configFromObject(env, config));
        EXPECT_EQ(p1, pathVectorFromObject(env, pathVector));
        EXPECT_EQ(lookupPathVectorSlot(ph), pathVectorSlotFromObject(env, pathVector));
        EXPECT_EQ(nullptr, pathVectorFromObject(env, stale));
        EXPECT_EQ(nullptr, pathVectorSlotFromObject(env, stale));
    });
    // No field ID is kept between lookups.
    EXPECT_EQ(6u, jvm.callCount("GetFieldID")) << jvm.formatCalls();
    for (const fakejni::JniCall& call : jvm.callsOf("GetFieldID")) {
        ASSERT_EQ(3u, call.args.size());
        EXPECT_EQ("I", call.args[2]);
    }

    unregisterPathVector(ph);
    jvm.callNative([&] {
        // A copy of the Java object still holding the withdrawn handle finds nothing.
        EXPECT_EQ(nullptr, pathVectorFromObject(env, pathVector));
        EXPECT_EQ(nullptr, pathVectorSlotFromObject(env, pathVector));
    });
}

}  // namespace
