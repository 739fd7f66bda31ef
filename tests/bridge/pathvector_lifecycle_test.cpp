// Path-vector handles, their neutral answers once withdrawn, and what the
// moves do to the cached cell and cell-view records.
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathvector_fixture.h"

namespace {

using PathVectorLifecycleTest = PathVectorTest;

// ---- handles

TEST_F(PathVectorLifecycleTest, CreateOnAnUnopenedOrClosedConfigurationGivesZeroWithoutTheLibrary) {
    jobject unopened = newConfig(0);
    jobject closed = newConfig();
    openConfig(closed, config);
    lib().hooks.zelClose = [](ConfigRecord*) -> ZelBool { return 1; };
    ASSERT_TRUE(run([&] { return Java_COM_morvent_zel_ZelConfig_close(env, closed); }));
    lib().calls.clear();

    EXPECT_EQ(0, run([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(env, unopened); }));
    EXPECT_EQ(0, run([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(env, closed); }));
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
}

TEST_F(PathVectorLifecycleTest, CreationsGiveConsecutiveHandlesAndANullRecordUsesNoneUp) {
    jobject open = newConfig();
    openConfig(open, config);
    std::vector<PathVectorRecord*> made = {arena.pathVector(config, {}), nullptr, arena.pathVector(config, {})};
    std::size_t next = 0;
    lib().hooks.zelCreatePathVector = [&](ConfigRecord*) { return made[next++]; };
    auto create = [&] { return run([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(env, open); }); };

    const jint first = create();
    EXPECT_EQ(0, create());
    const jint second = create();

    EXPECT_EQ(2, first);  // the fixture's path vector holds 1
    EXPECT_EQ(first + 1, second);
    EXPECT_EQ(made[0], lookupPathVector(first));
    EXPECT_EQ(made[2], lookupPathVector(second));
    for (const fakezel::Call* call : lib().callsOf("zelCreatePathVector")) EXPECT_EQ(config, call->args[0].ptr);
}

TEST_F(PathVectorLifecycleTest, CopyGetsAFreshSlotAndOutlivesNothingOfTheSource) {
    PathVectorRecord* copy = arena.pathVector(config, {level});
    lib().hooks.zelCopyPathVector = [&](PathVectorRecord* source) { return source == record ? copy : nullptr; };
    CellRecord* cell = opaque<CellRecord>();
    CellViewRecord* cellView = opaque<CellViewRecord>();
    slot()->cachedCell = cell;
    slot()->cachedCellView = cellView;

    const jint handle = run([&] { return PV(copy_1n)(env, self); });

    ASSERT_NE(0, handle);
    EXPECT_NE(pathVectorHandle(self), handle);
    jobject copied = newPathVector(handle);
    EXPECT_EQ(copy, slotOf(copied)->pathVector);
    EXPECT_EQ(nullptr, slotOf(copied)->cachedCell);
    EXPECT_EQ(nullptr, slotOf(copied)->cachedCellView);
    EXPECT_EQ(cell, slot()->cachedCell);
    EXPECT_EQ(cellView, slot()->cachedCellView);

    run([&] { PV(destroy)(env, copied); });
    lib().calls.clear();
    run([&] { return PV(pop)(env, self); });
    ASSERT_EQ(1u, lib().count("zelPop"));
    EXPECT_EQ(record, lib().last("zelPop")->args[0].ptr);
}

TEST_F(PathVectorLifecycleTest, CopyThatTheLibraryRefusesRegistersNothing) {
    const jint next = pathVectorRegistry.nextHandle;
    EXPECT_EQ(0, run([&] { return PV(copy_1n)(env, self); }));
    EXPECT_EQ(next, pathVectorRegistry.nextHandle);
    EXPECT_EQ(nullptr, pathVectorRegistry.head->next);  // the fixture's slot alone
}

TEST_F(PathVectorLifecycleTest, DestroyReleasesWritesZeroAndASecondDestroyCallsNothing) {
    const jint handle = pathVectorHandle(self);
    bool registeredDuringCall = false;
    lib().hooks.zelDestroyPathVector = [&](PathVectorRecord*) {
        registeredDuringCall = lookupPathVectorSlot(handle) != nullptr;
    };

    run([&] { PV(destroy)(env, self); });

    ASSERT_EQ(1u, lib().count("zelDestroyPathVector"));
    EXPECT_EQ(record, lib().last("zelDestroyPathVector")->args[0].ptr);
    EXPECT_TRUE(registeredDuringCall);
    EXPECT_EQ(nullptr, lookupPathVectorSlot(handle));
    EXPECT_EQ(0, pathVectorHandle(self));

    lib().calls.clear();
    jvm.clearCalls();
    run([&] { PV(destroy)(env, self); });
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
    EXPECT_EQ(0u, jvm.callCount("SetIntField"));
}

// Every native of ZelPathVector, called with a String wherever it takes one;
// true when it gave its neutral answer.
struct NativeRow {
    const char* name;
    bool (*neutral)(JNIEnv* env, jobject self, jstring s);
};

#define NATIVE_ROW(name, call) \
    { #name, [](JNIEnv* env, jobject self, jstring s) -> bool { (void)s; return call; } }

const NativeRow kEveryNative[] = {
    NATIVE_ROW(copy_n, PV(copy_1n)(env, self) == 0),
    NATIVE_ROW(destroy, (PV(destroy)(env, self), true)),
    NATIVE_ROW(pushCell, PV(pushCell)(env, self, s, s, s, s) == JNI_FALSE),
    NATIVE_ROW(popCell, PV(popCell)(env, self) == JNI_FALSE),
    NATIVE_ROW(pop, PV(pop)(env, self) == JNI_FALSE),
    NATIVE_ROW(popToTop, PV(popToTop)(env, self) == JNI_FALSE),
    NATIVE_ROW(getRawContextInstViewString, PV(getRawContextInstViewString)(env, self, s, s, s, s) == nullptr),
    NATIVE_ROW(getContextInstViewString, PV(getContextInstViewString)(env, self, s, s, s, s) == nullptr),
    NATIVE_ROW(getRawInheritedContextInstViewString,
               PV(getRawInheritedContextInstViewString)(env, self, s, s, s, s) == nullptr),
    NATIVE_ROW(getInheritedContextInstViewString,
               PV(getInheritedContextInstViewString)(env, self, s, s, s, s) == nullptr),
    NATIVE_ROW(getContextUnInheritedInstViewList, PV(getContextUnInheritedInstViewList)(env, self, s) == nullptr),
    NATIVE_ROW(getContextUnInheritedInstViewBinding,
               PV(getContextUnInheritedInstViewBinding)(env, self, s) == nullptr),
    NATIVE_ROW(getContextRawUnInheritedInstViewList,
               PV(getContextRawUnInheritedInstViewList)(env, self, s) == nullptr),
    NATIVE_ROW(getContextLibName, PV(getContextLibName)(env, self) == nullptr),
    NATIVE_ROW(getContextCellName, PV(getContextCellName)(env, self) == nullptr),
    NATIVE_ROW(getContextViewName, PV(getContextViewName)(env, self) == nullptr),
    NATIVE_ROW(getIndexLibName, PV(getIndexLibName)(env, self, 0) == nullptr),
    NATIVE_ROW(getIndexCellName, PV(getIndexCellName)(env, self, 0) == nullptr),
    NATIVE_ROW(getIndexViewName, PV(getIndexViewName)(env, self, 0) == nullptr),
    NATIVE_ROW(getIndexViewList, PV(getIndexViewList)(env, self, 0) == nullptr),
    NATIVE_ROW(getContextVectorIndex, PV(getContextVectorIndex)(env, self) == 0),
    NATIVE_ROW(enumerateContextInstances, PV(enumerateContextInstances)(env, self) == JNI_FALSE),
    NATIVE_ROW(getContextNextInstance, PV(getContextNextInstance)(env, self) == nullptr),
    NATIVE_ROW(isAnyInstRules, PV(isAnyInstRules)(env, self) == JNI_FALSE),
    NATIVE_ROW(isPartOfOccurPath, PV(isPartOfOccurPath)(env, self, s) == JNI_FALSE),
    NATIVE_ROW(bind, (PV(bind)(env, self, s, s, s, s, JNI_TRUE, JNI_TRUE, JNI_TRUE, self), true)),
    NATIVE_ROW(resetCurrentBinding, (PV(resetCurrentBinding)(env, self), true)),
    NATIVE_ROW(getCurrentLibBinding, PV(getCurrentLibBinding)(env, self) == nullptr),
    NATIVE_ROW(getCurrentCellBinding, PV(getCurrentCellBinding)(env, self) == nullptr),
    NATIVE_ROW(getCurrentViewBinding, PV(getCurrentViewBinding)(env, self) == nullptr),
    NATIVE_ROW(getCurrentLibList, PV(getCurrentLibList)(env, self) == nullptr),
    NATIVE_ROW(getCurrentExpandedViewList, PV(getCurrentExpandedViewList)(env, self) == nullptr),
    NATIVE_ROW(getCurrentViewList, PV(getCurrentViewList)(env, self) == nullptr),
    NATIVE_ROW(getLibListBindWhy, PV(getLibListBindWhy)(env, self) == 0),
    NATIVE_ROW(isCurrentViewSet, PV(isCurrentViewSet)(env, self) == JNI_FALSE),
    NATIVE_ROW(isCurrentViewListSet, PV(isCurrentViewListSet)(env, self) == JNI_FALSE),
    NATIVE_ROW(isCurrentOccurBinding, PV(isCurrentOccurBinding)(env, self) == JNI_FALSE),
    NATIVE_ROW(isCurrentViewMRU, PV(isCurrentViewMRU)(env, self) == JNI_FALSE),
    NATIVE_ROW(isInstViewBindingUsed, PV(isInstViewBindingUsed)(env, self) == JNI_FALSE),
    NATIVE_ROW(isCellViewBindingUsed, PV(isCellViewBindingUsed)(env, self) == JNI_FALSE),
    NATIVE_ROW(isLibListInherited, PV(isLibListInherited)(env, self) == JNI_FALSE),
    NATIVE_ROW(isViewListInherited, PV(isViewListInherited)(env, self) == JNI_FALSE),
    NATIVE_ROW(getLibSetOnCellBinding, PV(getLibSetOnCellBinding)(env, self) == nullptr),
    NATIVE_ROW(isUnbound, PV(isUnbound)(env, self) == JNI_FALSE),
    NATIVE_ROW(isSameInstRules,
               PV(isSameInstRules)(env, self, s, JNI_FALSE, s, JNI_FALSE, s, JNI_FALSE, s, JNI_FALSE) == JNI_FALSE),
    NATIVE_ROW(isAtStop, PV(isAtStop)(env, self) == JNI_FALSE),
    NATIVE_ROW(getStopWhy, PV(getStopWhy)(env, self) == 0),
};
#undef NATIVE_ROW

TEST_F(PathVectorLifecycleTest, EveryNativeOnADestroyedPathVectorIsNeutralWithoutLibraryOrStrings) {
    ASSERT_EQ(47u, std::size(kEveryNative));
    jobject stale = newPathVector(pathVectorHandle(self));  // a copy of the object, still holding the handle
    // Whatever the path vector left behind must not answer once it is gone.
    slot()->stopRules = arena.stops({{ZEL_RULE_CELL, opaque<int>()}});
    run([&] { PV(destroy)(env, self); });
    ASSERT_EQ(0, pathVectorHandle(self));
    jstring s = str("text");

    for (const NativeRow& row : kEveryNative) {
        for (jobject receiver : {self, stale}) {
            lib().calls.clear();
            jvm.clearCalls();
            EXPECT_TRUE(run([&] { return row.neutral(env, receiver, s); })) << row.name;
            EXPECT_TRUE(lib().calls.empty()) << row.name << "\n" << lib().formatCalls();
            EXPECT_EQ(0u, jvm.callCount("GetStringUTFChars")) << row.name;
            EXPECT_EQ(0u, jvm.callCount("SetIntField")) << row.name;
        }
    }
    EXPECT_EQ(1, pathVectorHandle(stale));
}

// ---- the moves and the cached records

class PathVectorCacheTest : public PathVectorTest, public ::testing::WithParamInterface<ZelBool> {
protected:
    void SetUp() override {
        PathVectorTest::SetUp();
        slot()->cachedCell = cell;
        slot()->cachedCellView = cellView;
    }
    bool cacheKept() { return slot()->cachedCell == cell && slot()->cachedCellView == cellView; }
    bool cacheEmpty() { return slot()->cachedCell == nullptr && slot()->cachedCellView == nullptr; }

    CellRecord* cell = opaque<CellRecord>();
    CellViewRecord* cellView = opaque<CellViewRecord>();
};

TEST_P(PathVectorCacheTest, PushCellEmptiesTheCacheAfterItsCallWhateverTheLibrarySays) {
    bool keptDuringCall = false;
    lib().hooks.zelPushCell = [&](PathVectorRecord*, const char*, const char*, const char*, const char*) {
        keptDuringCall = cacheKept();
        return GetParam();
    };
    EXPECT_EQ(GetParam(), run([&] { return PV(pushCell)(env, self, str("L"), str("C"), str("V"), str("I")); }));
    EXPECT_TRUE(keptDuringCall);
    EXPECT_TRUE(cacheEmpty());
}

TEST_P(PathVectorCacheTest, PopCellEmptiesTheCacheBeforeItsCallWhateverTheLibrarySays) {
    bool emptyDuringCall = false;
    lib().hooks.zelPopCell = [&](PathVectorRecord*) {
        emptyDuringCall = cacheEmpty();
        return GetParam();
    };
    EXPECT_EQ(GetParam(), run([&] { return PV(popCell)(env, self); }));
    EXPECT_TRUE(emptyDuringCall);
    EXPECT_TRUE(cacheEmpty());
    EXPECT_EQ(record, lib().last("zelPopCell")->args[0].ptr);
}

TEST_P(PathVectorCacheTest, PopAndPopToTopKeepTheCache) {
    lib().hooks.zelPop = [&](PathVectorRecord*) { return GetParam(); };
    lib().hooks.zelPopToTop = [&](PathVectorRecord*) { return GetParam(); };
    EXPECT_EQ(GetParam(), run([&] { return PV(pop)(env, self); }));
    EXPECT_EQ(GetParam(), run([&] { return PV(popToTop)(env, self); }));
    EXPECT_TRUE(cacheKept());
    EXPECT_EQ((std::vector<std::string>{"zelPop", "zelPopToTop"}), libraryCalls());
    EXPECT_EQ(record, lib().last("zelPopToTop")->args[0].ptr);
}

// 0 refused, 1 done, 7: a byte other than 1 reaches Java unchanged.
INSTANTIATE_TEST_SUITE_P(LibraryAnswers, PathVectorCacheTest, ::testing::Values(ZelBool{0}, ZelBool{1}, ZelBool{7}));

TEST_F(PathVectorLifecycleTest, PushCellHandsItsFourStringsOverInOrderAndReleasesThem) {
    run([&] { return PV(pushCell)(env, self, str("L"), str("C"), nullptr, str("I")); });

    const fakezel::Call* push = lib().last("zelPushCell");
    ASSERT_NE(nullptr, push);
    EXPECT_EQ(record, push->args[0].ptr);
    EXPECT_EQ("L", push->args[1].str);
    EXPECT_EQ("C", push->args[2].str);
    EXPECT_TRUE(push->args[3].isNull);
    EXPECT_EQ("I", push->args[4].str);
    EXPECT_EQ((std::vector<std::string>{"L", "C", "I"}), jvm.releasedStrings());
}

TEST_F(PathVectorLifecycleTest, PushCellWithoutItsStringsCallsNothingAndKeepsTheCache) {
    CellRecord* cell = opaque<CellRecord>();
    slot()->cachedCell = cell;
    jvm.failStringUTFCharsAt(3);

    EXPECT_EQ(JNI_FALSE, run([&] { return PV(pushCell)(env, self, str("L"), str("C"), str("V"), str("I")); }));

    EXPECT_EQ(0u, lib().count("zelPushCell"));
    EXPECT_EQ(cell, slot()->cachedCell);
    EXPECT_EQ((std::vector<std::string>{"L", "C"}), jvm.releasedStrings());
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
}

}  // namespace
