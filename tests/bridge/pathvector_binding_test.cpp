// bind and the queries about the last binding: the call itself, the relay
// around it, the lists, the predicates and the blocks a path vector keeps.
#include <list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathvector_fixture.h"

namespace {

class PathVectorBindingTest : public PathVectorTest {
protected:
    void SetUp() override {
        PathVectorTest::SetUp();
        listenerClass->addVoidMethod("processWarning", "(Ljava/lang/String;)V",
                                     [this](JNIEnv*, jobject, const jvalue* args) {
                                         heard.push_back(jvm.stringValue(static_cast<jstring>(args[0].l)));
                                         if (thrown != nullptr) env->Throw(thrown);
                                     });
        listener = jvm.newObject(listenerClass);
    }

    // What the next zelBind3 leaves: the names in the binding block, the
    // BindInfo filled in place, and the resolved lists.
    void libraryBinds(BindingRecord names, BindInfo info, ResolvedLists* lists) {
        lib().hooks.zelBind3 = [=](PathVectorRecord*, const char*, const char*, const char*, const char*, ZelBool,
                                   ZelBool, ZelBool, BindingRecord* binding, ResolvedLists** listsOut,
                                   BindInfo** infoOut) {
            *binding = names;
            if (*infoOut != nullptr) **infoOut = info;
            *listsOut = lists;
            return 1;
        };
    }

    ResolvedLists* resolved(ZelWords libWords, ZelWords viewWords) {
        auto* lists = arena.make<ResolvedLists>();
        lists->libWords = libWords;
        lists->expandedViewWords = viewWords;
        return lists;
    }

    void bind(jobject withListener = nullptr) {
        run([&] {
            PV(bind)(env, self, str("i"), str("L"), str("C"), str("V"), JNI_TRUE, JNI_FALSE, JNI_TRUE, withListener);
        });
    }

    std::string ask(jstring (*native)(JNIEnv*, jobject)) { return text(run([&] { return native(env, self); })); }

    fakejni::FakeClass* listenerClass = jvm.defineClass("test/Listener");
    jobject listener = nullptr;
    std::vector<std::string> heard;
    jthrowable thrown = nullptr;  // what processWarning throws, if anything
};

// ---- bind

TEST_F(PathVectorBindingTest, BindHandsElevenArgumentsOverInOrderAndReleasesItsStringsAfterTheCall) {
    bool listsClearedBefore = false;
    bool stringsHeldDuringCall = false;
    lib().hooks.zelBind3 = [&](PathVectorRecord*, const char* inst, const char*, const char*, const char* view,
                               ZelBool, ZelBool, ZelBool, BindingRecord*, ResolvedLists** lists, BindInfo**) {
        listsClearedBefore = *lists == nullptr;
        stringsHeldDuringCall = !jvm.isReleased(inst) && !jvm.isReleased(view);
        return 0;
    };

    bind();

    const fakezel::Call* call = lib().last("zelBind3");
    ASSERT_NE(nullptr, call);
    ASSERT_EQ(11u, call->args.size());
    EXPECT_EQ(record, call->args[0].ptr);
    EXPECT_EQ("i", call->args[1].str);
    EXPECT_EQ("L", call->args[2].str);
    EXPECT_EQ("C", call->args[3].str);
    EXPECT_EQ("V", call->args[4].str);
    EXPECT_EQ(1, call->args[5].i);
    EXPECT_EQ(0, call->args[6].i);
    EXPECT_EQ(1, call->args[7].i);
    EXPECT_EQ(slot()->binding, call->args[8].ptr);
    EXPECT_NE(nullptr, call->args[9].ptr);
    EXPECT_EQ(&slot()->bindInfo, call->args[10].ptr);
    EXPECT_TRUE(listsClearedBefore);
    EXPECT_TRUE(stringsHeldDuringCall);
    EXPECT_EQ((std::vector<std::string>{"i", "L", "C", "V"}), jvm.releasedStrings());
}

TEST_F(PathVectorBindingTest, BindWithANullStringPassesANullPointerAndStillBinds) {
    run([&] { PV(bind)(env, self, str("i"), nullptr, str("C"), nullptr, JNI_FALSE, JNI_TRUE, JNI_FALSE, nullptr); });
    const fakezel::Call* call = lib().last("zelBind3");
    ASSERT_NE(nullptr, call);
    EXPECT_TRUE(call->args[2].isNull);
    EXPECT_TRUE(call->args[4].isNull);
    EXPECT_EQ("C", call->args[3].str);
    EXPECT_EQ((std::vector<std::string>{"i", "C"}), jvm.releasedStrings());
}

TEST_F(PathVectorBindingTest, WarningsOfTheBindReachItsListenerAndNothingAfterIt) {
    lib().warningsDuring["zelBind3"] = {"first", "second"};
    bind(listener);

    EXPECT_EQ((std::vector<std::string>{"first", "second"}), heard);
    EXPECT_EQ((std::vector<std::string>{"zelSetErrorHandler", "zelBind3"}), libraryCalls());
    // Armed before the strings are converted.
    EXPECT_LT(jvm.firstCall("GetMethodID"), jvm.firstCall("GetStringUTFChars"));
    lib().warn("later");
    EXPECT_EQ(2u, heard.size());
}

TEST_F(PathVectorBindingTest, AnExceptionTheListenerThrewIsThrownAgainOnceBindIsDone) {
    thrown = jvm.newThrowable("java/lang/IllegalStateException", "listener failed");
    lib().warningsDuring["zelBind3"] = {"first", "second"};
    ResolvedLists* lists = resolved(arena.words({"a"}), nullptr);
    libraryBinds({}, {}, lists);

    bind(listener);

    EXPECT_EQ(std::vector<std::string>{"first"}, heard);  // the relay stops at the exception
    EXPECT_EQ("java/lang/IllegalStateException", jvm.thrownToJava());
    EXPECT_EQ(lists, slot()->resolvedLists);
    ASSERT_NE(fakejni::FakeJvm::npos, jvm.lastCall("Throw"));
    EXPECT_GT(jvm.lastCall("Throw"), jvm.lastCall("ReleaseStringUTFChars"));
    EXPECT_EQ(4u, jvm.releasedStrings().size());
}

TEST_F(PathVectorBindingTest, AStringTheJvmCannotHandOutEndsBindBeforeTheLibraryAndDisarms) {
    jvm.failStringUTFCharsAt(2);
    bind(listener);

    EXPECT_EQ(0u, lib().count("zelBind3"));
    EXPECT_EQ(nullptr, warningRelay.listener);
    EXPECT_EQ(std::vector<std::string>{"i"}, jvm.releasedStrings());
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
}

TEST_F(PathVectorBindingTest, AListenerWithoutProcessWarningAndAFailedStringLeaveOneExceptionForJava) {
    jobject deaf = newConfig();  // a class without processWarning
    jvm.failStringUTFCharsAt(1);
    bind(deaf);

    EXPECT_EQ(0u, lib().count("zelBind3"));
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
    EXPECT_EQ(nullptr, warningRelay.pending);
}

TEST_F(PathVectorBindingTest, ResolvedListsAreWhateverTheLastBindReturned) {
    libraryBinds({}, {}, resolved(arena.words({"a", "b"}), arena.words({"v"})));
    bind();
    EXPECT_EQ("a b", ask(PV(getCurrentLibList)));

    // Moving keeps the answers of the last bind.
    run([&] { return PV(pushCell)(env, self, str("L"), str("C"), str("V"), str("I")); });
    run([&] { return PV(popCell)(env, self); });
    EXPECT_EQ("a b", ask(PV(getCurrentLibList)));

    libraryBinds({}, {}, nullptr);
    bind();
    EXPECT_EQ(nullptr, slot()->resolvedLists);
    EXPECT_EQ("<null>", ask(PV(getCurrentLibList)));
    EXPECT_EQ("<null>", ask(PV(getCurrentExpandedViewList)));
}

// ---- the blocks a path vector keeps

TEST_F(PathVectorBindingTest, BeforeTheFirstBindThereIsNoBinding) {
    const BindingRecord* seen = nullptr;
    BindingRecord names{};
    lib().hooks.zelIsOpenBinding = [&](BindingRecord* binding) {
        seen = binding;
        names = *binding;
        return ZelBool{0};
    };

    for (auto* getter : {PV(getCurrentLibBinding), PV(getCurrentCellBinding), PV(getCurrentViewBinding),
                         PV(getCurrentLibList), PV(getCurrentExpandedViewList), PV(getCurrentViewList),
                         PV(getLibSetOnCellBinding)})
        EXPECT_EQ("<null>", ask(getter));
    for (auto* predicate : {PV(isCurrentViewSet), PV(isCurrentViewListSet), PV(isCurrentOccurBinding),
                            PV(isCurrentViewMRU), PV(isInstViewBindingUsed), PV(isCellViewBindingUsed),
                            PV(isLibListInherited), PV(isViewListInherited)})
        EXPECT_EQ(JNI_FALSE, run([&] { return predicate(env, self); }));
    EXPECT_EQ(-1, run([&] { return PV(getLibListBindWhy)(env, self); }));
    EXPECT_EQ(JNI_FALSE, run([&] { return PV(isUnbound)(env, self); }));
    EXPECT_EQ(slot()->binding, seen);
    EXPECT_EQ(nullptr, names.libName);
    EXPECT_EQ(nullptr, names.cellName);
    EXPECT_EQ(nullptr, names.viewName);
}

TEST_F(PathVectorBindingTest, ResetForgetsTheBoundNamesAlone) {
    BindInfo info{};
    info.libListRule = ZEL_RULE_INSTANCE;
    info.flags = ZEL_BIND_MOST_RECENT;
    libraryBinds({arena.str("boundLib"), arena.str("boundCell"), arena.str("boundView")}, info,
                 resolved(arena.words({"a"}), arena.words({"v1", "v2"})));
    bind();
    ASSERT_EQ("boundLib", ask(PV(getCurrentLibBinding)));
    ASSERT_EQ("boundView", ask(PV(getCurrentViewBinding)));

    run([&] { PV(resetCurrentBinding)(env, self); });

    EXPECT_EQ("<null>", ask(PV(getCurrentLibBinding)));
    EXPECT_EQ("<null>", ask(PV(getCurrentCellBinding)));
    EXPECT_EQ("<null>", ask(PV(getCurrentViewBinding)));
    EXPECT_EQ("a", ask(PV(getCurrentLibList)));
    EXPECT_EQ("v1 v2", ask(PV(getCurrentExpandedViewList)));
    EXPECT_EQ(1, run([&] { return PV(getLibListBindWhy)(env, self); }));
    EXPECT_EQ(JNI_TRUE, run([&] { return PV(isCurrentViewMRU)(env, self); }));
}

TEST_F(PathVectorBindingTest, ALibraryBindInfoIsReadAndNoneMeansNoBindingInformation) {
    auto* own = arena.make<BindInfo>();
    own->libListRule = ZEL_RULE_CELL;
    own->flags = ZEL_BIND_VIEWLIST_INHERIT;
    BindInfo* handedOut = own;
    lib().hooks.zelBind3 = [&](PathVectorRecord*, const char*, const char*, const char*, const char*, ZelBool,
                               ZelBool, ZelBool, BindingRecord* binding, ResolvedLists** lists, BindInfo** info) {
        binding->libName = "lib";
        *lists = resolved(arena.words({"a"}), arena.words({"v"}));
        *info = handedOut;
        return 1;
    };
    lib().hooks.zelIsOpenBinding = [](BindingRecord*) { return ZelBool{1}; };

    bind();
    EXPECT_EQ(2, run([&] { return PV(getLibListBindWhy)(env, self); }));
    EXPECT_EQ(JNI_TRUE, run([&] { return PV(isViewListInherited)(env, self); }));

    handedOut = nullptr;
    bind();
    EXPECT_EQ(0, run([&] { return PV(getLibListBindWhy)(env, self); }));
    EXPECT_EQ(JNI_FALSE, run([&] { return PV(isViewListInherited)(env, self); }));
    EXPECT_EQ("<null>", ask(PV(getCurrentViewList)));
    EXPECT_EQ("<null>", ask(PV(getLibSetOnCellBinding)));
    EXPECT_EQ("<null>", ask(PV(getCurrentLibList)));  // it asks for binding information
    EXPECT_EQ("v", ask(PV(getCurrentExpandedViewList)));
    EXPECT_EQ("lib", ask(PV(getCurrentLibBinding)));
    EXPECT_EQ(JNI_TRUE, run([&] { return PV(isUnbound)(env, self); }));
}

// ---- word lists

struct JoinRow {
    const char* name;
    std::vector<const char*> words;
    std::string joined;
};

std::vector<JoinRow> joinRows() {
    std::vector<JoinRow> rows = {
        {"ThreeLetters", {"a", "b", "c"}, "a b c"},
        {"Empty", {}, ""},
        {"EmptyWordBetween", {"a", "", "b"}, "a  b"},
        {"OneWord", {"only"}, "only"},
    };
    // Far beyond any fixed buffer: joined whole.
    JoinRow longList{"ThreeThousandWords", {}, ""};
    for (int i = 0; i < 3000; ++i) {
        longList.words.push_back(i % 2 == 0 ? "even" : "odd");
        longList.joined += (i > 0 ? " " : "") + std::string(i % 2 == 0 ? "even" : "odd");
    }
    rows.push_back(longList);
    // Around the length the bridge joins without a heap block of its own.
    static const std::string k127(127, 'w'), k128(128, 'w');
    rows.push_back({"Joined255", {k127.c_str(), k127.c_str()}, k127 + " " + k127});
    rows.push_back({"Joined256", {k127.c_str(), k128.c_str()}, k127 + " " + k128});
    rows.push_back({"Joined257", {k128.c_str(), k128.c_str()}, k128 + " " + k128});
    return rows;
}

class PathVectorJoinWordsTest : public PathVectorBindingTest, public ::testing::WithParamInterface<JoinRow> {
protected:
    // The row's words as a null-terminated array.
    ZelWords words() {
        held.emplace_back(GetParam().words);
        held.back().push_back(nullptr);
        return held.back().data();
    }
    std::list<std::vector<const char*>> held;  // stable addresses
};

TEST_P(PathVectorJoinWordsTest, BothListsJoinTheWholeArrayAndGiveTheCopyBack) {
    slot()->resolvedLists = resolved(words(), words());
    for (auto* native : {PV(getCurrentLibList), PV(getCurrentExpandedViewList)}) {
        lib().calls.clear();
        EXPECT_EQ(GetParam().joined, ask(native));
        ASSERT_EQ(1u, lib().count("kwoCopyString"));
        EXPECT_EQ(GetParam().joined, lib().last("kwoCopyString")->args[0].str);
        ASSERT_EQ(1u, lib().count("kwoFreeString"));
    }
    EXPECT_EQ(lib().copiesMade, lib().copiesFreed);
    EXPECT_TRUE(lib().liveCopies().empty());
}

INSTANTIATE_TEST_SUITE_P(Lists, PathVectorJoinWordsTest, ::testing::ValuesIn(joinRows()),
                         [](const ::testing::TestParamInfo<JoinRow>& p) { return std::string(p.param.name); });

TEST_F(PathVectorBindingTest, ANullWordArrayGivesNullAndAFailedJavaCopyStillGivesTheCopyBack) {
    slot()->resolvedLists = resolved(nullptr, arena.words({"v"}));
    EXPECT_EQ("<null>", ask(PV(getCurrentLibList)));
    EXPECT_EQ(0u, lib().count("kwoCopyString"));

    jvm.failNewStringUTFAt(1);
    EXPECT_EQ("<null>", ask(PV(getCurrentExpandedViewList)));
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
    EXPECT_EQ(1, lib().copiesMade);
    EXPECT_EQ(1, lib().copiesFreed);
}

// ---- the predicates

enum Predicate : unsigned {
    kViewSet = 1u << 0,
    kViewListSet = 1u << 1,
    kOccurBinding = 1u << 2,
    kViewMRU = 1u << 3,
    kInstViewBindingUsed = 1u << 4,
    kCellViewBindingUsed = 1u << 5,
    kLibListInherited = 1u << 6,
    kViewListInherited = 1u << 7,
};

struct PredicateNative {
    Predicate bit;
    jboolean (*native)(JNIEnv*, jobject);
};

const PredicateNative kPredicates[] = {
    {kViewSet, PV(isCurrentViewSet)},
    {kViewListSet, PV(isCurrentViewListSet)},
    {kOccurBinding, PV(isCurrentOccurBinding)},
    {kViewMRU, PV(isCurrentViewMRU)},
    {kInstViewBindingUsed, PV(isInstViewBindingUsed)},
    {kCellViewBindingUsed, PV(isCellViewBindingUsed)},
    {kLibListInherited, PV(isLibListInherited)},
    {kViewListInherited, PV(isViewListInherited)},
};

struct PredicateRow {
    const char* name;
    uint32_t flags;
    int viewListRule;
    int viewBindingRule;
    int altBindingRule;
    unsigned truePredicates;
    const char* libSetOnCell;  // from a cell record whose library words start with "cellLib"
};

const PredicateRow kPredicateRows[] = {
    {"Nothing", 0, 0, 0, 0, 0, nullptr},
    {"InstanceView", 0, 0, ZEL_RULE_INSTANCE, 0, kViewSet, nullptr},
    {"InstanceViewMissing", ZEL_BIND_VIEW_MISSING, 0, ZEL_RULE_INSTANCE, 0, 0, nullptr},
    {"InstanceViewByRule", ZEL_BIND_BY_RULE, 0, ZEL_RULE_INSTANCE, 0, kViewSet | kInstViewBindingUsed, nullptr},
    {"InstanceViewByRuleMissing", ZEL_BIND_BY_RULE | ZEL_BIND_VIEW_MISSING, 0, ZEL_RULE_INSTANCE, 0,
     kInstViewBindingUsed, nullptr},
    {"InstanceAltRule", ZEL_BIND_ALT_RULE, 0, 0, ZEL_RULE_INSTANCE, kInstViewBindingUsed, nullptr},
    {"InstanceAltRuleUnflagged", 0, 0, 0, ZEL_RULE_INSTANCE, 0, nullptr},
    {"InstanceViewList", 0, ZEL_RULE_INSTANCE, 0, 0, kViewListSet, nullptr},
    {"InstanceViewListInherited", ZEL_BIND_VIEWLIST_INHERIT, ZEL_RULE_INSTANCE, 0, 0, kViewListInherited, nullptr},
    {"Occurrence", 0, 0, ZEL_RULE_OCCURRENCE, 0, kOccurBinding, nullptr},
    {"OccurrenceByRule", ZEL_BIND_BY_RULE, 0, ZEL_RULE_OCCURRENCE, 0, kOccurBinding, nullptr},
    {"OccurrenceAltRule", ZEL_BIND_ALT_RULE, 0, 0, ZEL_RULE_OCCURRENCE, kOccurBinding, nullptr},
    {"OccurrenceAltRuleUnflagged", 0, 0, 0, ZEL_RULE_OCCURRENCE, 0, nullptr},
    {"CellByRule", ZEL_BIND_BY_RULE, 0, ZEL_RULE_CELL, 0, kCellViewBindingUsed, "cellLib"},
    {"CellUnflagged", 0, 0, ZEL_RULE_CELL, 0, 0, nullptr},
    {"CellAltRule", ZEL_BIND_ALT_RULE, 0, 0, ZEL_RULE_CELL, 0, "cellLib"},
    {"CellAltRuleUnflagged", 0, 0, 0, ZEL_RULE_CELL, 0, nullptr},
    {"MostRecent", ZEL_BIND_MOST_RECENT, 0, 0, 0, kViewMRU, nullptr},
    {"LibListInherited", ZEL_BIND_LIBLIST_INHERIT, 0, 0, 0, kLibListInherited, nullptr},
    {"AllFlagsNoRules",
     ZEL_BIND_VIEW_MISSING | ZEL_BIND_BY_RULE | ZEL_BIND_ALT_RULE | ZEL_BIND_LIBLIST_INHERIT |
         ZEL_BIND_VIEWLIST_INHERIT | ZEL_BIND_MOST_RECENT,
     0, 0, 0, kViewMRU | kLibListInherited | kViewListInherited, nullptr},
    // Bytes of 0x80 and above are negative and name no rule, even with the low bits of one.
    {"HighBytes", ZEL_BIND_BY_RULE | ZEL_BIND_ALT_RULE, 0x88, 0x86, 0x8D, 0, nullptr},
};

class PathVectorPredicateTest : public PathVectorBindingTest, public ::testing::WithParamInterface<PredicateRow> {};

TEST_P(PathVectorPredicateTest, EachPredicateAnswersFromTheFlagsAndRuleCodes) {
    const PredicateRow& row = GetParam();
    auto* cell = arena.make<CellRecord>();
    cell->libListWords = arena.words({"cellLib", "other"});
    BindInfo& info = *slot()->bindInfo;
    info.flags = row.flags;
    info.viewListRule = static_cast<int8_t>(static_cast<uint8_t>(row.viewListRule));
    info.viewBindingRule = static_cast<int8_t>(static_cast<uint8_t>(row.viewBindingRule));
    info.altBindingRule = static_cast<int8_t>(static_cast<uint8_t>(row.altBindingRule));
    info.bindingSource = cell;

    for (const PredicateNative& predicate : kPredicates) {
        const jboolean expected = (row.truePredicates & predicate.bit) != 0 ? JNI_TRUE : JNI_FALSE;
        EXPECT_EQ(expected, run([&] { return predicate.native(env, self); })) << "predicate bit " << predicate.bit;
    }
    EXPECT_EQ(row.libSetOnCell != nullptr ? row.libSetOnCell : "<null>", ask(PV(getLibSetOnCellBinding)));
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
}

INSTANTIATE_TEST_SUITE_P(Rows, PathVectorPredicateTest, ::testing::ValuesIn(kPredicateRows),
                         [](const ::testing::TestParamInfo<PredicateRow>& p) { return std::string(p.param.name); });

TEST_F(PathVectorBindingTest, LibSetOnCellBindingNeedsASourceWithAFirstWord) {
    BindInfo& info = *slot()->bindInfo;
    info.flags = ZEL_BIND_BY_RULE | ZEL_BIND_ALT_RULE;
    info.viewBindingRule = ZEL_RULE_CELL;
    info.altBindingRule = ZEL_RULE_CELL;
    auto* cell = arena.make<CellRecord>();

    info.bindingSource = cell;  // no word array, whichever rule is asked
    EXPECT_EQ("<null>", ask(PV(getLibSetOnCellBinding)));
    cell->libListWords = arena.words({nullptr});
    EXPECT_EQ("<null>", ask(PV(getLibSetOnCellBinding)));
    info.bindingSource = nullptr;
    EXPECT_EQ("<null>", ask(PV(getLibSetOnCellBinding)));
    cell->libListWords = arena.words({"first", "second"});
    info.bindingSource = cell;
    EXPECT_EQ("first", ask(PV(getLibSetOnCellBinding)));
}

}  // namespace
