// Occurrence rules set through a path vector's handle, the walk that creates a
// missing occurrence path, and the object rules with a twist: bind-to-open and
// the stop point's boolean.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "COM_morvent_zel_ZelConfig.h"
#include "bridge_fixture.h"

namespace {

class ConfigOccurrenceTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        self = newConfig();
        openConfig(self, config);
        // Every walk step makes a new occurrence instance.
        lib().hooks.zelFindOrCreateOccInst = [this](ConfigRecord*, OccurrenceInstance*, const char*, const char*,
                                                    const char*, const char*) {
            made.push_back(walkAnswersNull ? nullptr : arena.make<OccurrenceInstance>());
            return made.back();
        };
    }

    // The occurrence zelGetContextOccInst finds (null: none).
    void findOccurrence(OccurrenceInstance* occurrence) {
        lib().hooks.zelGetContextOccInst = [occurrence](PathVectorRecord*, const char*) { return occurrence; };
    }

    jint pathVectorOf(std::initializer_list<ContextEntry*> levels) {
        pathVector = arena.pathVector(config, levels);
        return addPathVector(pathVector);
    }

    jboolean setOccurBinding(jobject receiver, jint handle, const char* inst) {
        jstring l = str("bl"), c = str("bc"), v = str("bv"), i = str(inst);
        return jvm.callNative(
            [&] { return Java_COM_morvent_zel_ZelConfig_setOccurBinding(env, receiver, handle, l, c, v, i); });
    }

    jboolean setOccurStop(jobject receiver, jint handle, const char* inst, jboolean value) {
        jstring i = str(inst), unused = str("unused");
        return jvm.callNative([&] {
            return Java_COM_morvent_zel_ZelConfig_setOccurStopPointValue(env, receiver, handle, i, unused, unused,
                                                                         unused, value);
        });
    }

    jboolean deleteOccurBinding(jobject receiver, jint handle, const char* inst) {
        jstring i = str(inst);
        return jvm.callNative(
            [&] { return Java_COM_morvent_zel_ZelConfig_deleteOccurBinding(env, receiver, handle, i); });
    }

    ConfigRecord* config = arena.make<ConfigRecord>();
    PathVectorRecord* pathVector = nullptr;
    jobject self = nullptr;
    std::vector<OccurrenceInstance*> made;  // what each walk step returned
    bool walkAnswersNull = false;
};

TEST_F(ConfigOccurrenceTest, AnOccurrenceThatExistsIsChangedWithoutAWalkOrAConfiguration) {
    jint handle = pathVectorOf({arena.context("L", "C", "V", "i0")});
    auto* occurrence = arena.make<OccurrenceInstance>();
    findOccurrence(occurrence);
    lib().hooks.zelReplaceOccInstStop = [](OccurrenceInstance*, ZelBool) -> ZelBool { return 0x42; };
    lib().hooks.zelReplaceOccInstBinding = [](OccurrenceInstance*, const char*, const char*,
                                              const char*) -> ZelBool { return 0x43; };
    lib().hooks.zelDeleteOccInstBinding = [](OccurrenceInstance*) -> ZelBool { return 0x44; };
    jobject unopened = newConfig();

    for (jobject receiver : {self, unopened}) {
        lib().calls.clear();
        EXPECT_EQ(setOccurStop(receiver, handle, "i1", JNI_TRUE), 0x42);
        EXPECT_EQ(setOccurStop(receiver, handle, "i1", JNI_FALSE), 0x42);
        EXPECT_EQ(setOccurBinding(receiver, handle, "i1"), 0x43);
        EXPECT_EQ(deleteOccurBinding(receiver, handle, "i1"), 0x44);
        EXPECT_EQ(lib().count("zelFindOrCreateOccInst"), 0u);
        for (const fakezel::Call* lookup : lib().callsOf("zelGetContextOccInst")) {
            EXPECT_EQ(lookup->args[0].ptr, pathVector);
            EXPECT_EQ(lookup->args[1].str, "i1");
        }
        std::vector<const fakezel::Call*> stops = lib().callsOf("zelReplaceOccInstStop");
        ASSERT_EQ(stops.size(), 2u);
        EXPECT_EQ(stops[0]->args[0].ptr, occurrence);
        EXPECT_EQ(stops[0]->args[1].i, 1);
        EXPECT_EQ(stops[1]->args[1].i, 0);
        const fakezel::Call& binding = *lib().last("zelReplaceOccInstBinding");
        EXPECT_EQ(binding.args[0].ptr, occurrence);
        EXPECT_EQ(binding.args[1].str, "bl");
        EXPECT_EQ(binding.args[2].str, "bc");
        EXPECT_EQ(binding.args[3].str, "bv");
        EXPECT_EQ(lib().last("zelDeleteOccInstBinding")->args[0].ptr, occurrence);
    }
}

// One level of the expected walk: the names it passes and which earlier step's
// result is its parent (-1: none).
struct Step {
    const char* lib;
    const char* cell;
    const char* view;
    const char* inst;
    int parent;
};

TEST_F(ConfigOccurrenceTest, AMissingOccurrenceIsCreatedLevelByLevelFromTheTop) {
    struct Case {
        const char* what;
        std::vector<ContextEntry*> levels;
        const char* inst;
        std::vector<Step> steps;
    };
    ContextEntry* top = arena.context("L0", "C0", "V0", "i0");
    ContextEntry* middle = arena.context("L1", "C1", "V1", "i1");
    ContextEntry* current = arena.context("L2", "C2", "V2", "i2");
    const std::vector<Case> cases = {
        {"no current context", {}, "x", {}},
        {"depth 0", {top}, "x", {{"L0", "C0", "V0", "x", -1}}},
        {"depth 2",
         {top, middle, current},
         "x",
         {{"L0", "C0", "V0", "i0", -1}, {"L1", "C1", "V1", "i1", 0}, {"L2", "C2", "V2", "x", 1}}},
        {"depth 2 without its middle level",
         {top, nullptr, current},
         "x",
         {{"L0", "C0", "V0", "i0", -1}, {"L2", "C2", "V2", "x", 0}}},
        {"depth 2 without an instance name",
         {top, middle, current},
         nullptr,
         {{"L0", "C0", "V0", "i0", -1}, {"L1", "C1", "V1", "i1", 0}}},
        {"depth 2 without its current level", {top, middle, nullptr}, "x",
         {{"L0", "C0", "V0", "i0", -1}, {"L1", "C1", "V1", "i1", 0}}},
    };
    findOccurrence(nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        lib().calls.clear();
        made.clear();
        pathVector = arena.pathVector(config, {});
        pathVector->depth = static_cast<int32_t>(c.levels.size()) - 1;
        for (std::size_t i = 0; i < c.levels.size(); ++i) pathVector->contexts[i] = c.levels[i];
        jint handle = addPathVector(pathVector);
        lib().hooks.zelReplaceOccInstBinding = [](OccurrenceInstance*, const char*, const char*,
                                                  const char*) -> ZelBool { return 1; };

        EXPECT_EQ(setOccurBinding(self, handle, c.inst), c.steps.empty() ? JNI_FALSE : JNI_TRUE);

        std::vector<const fakezel::Call*> walk = lib().callsOf("zelFindOrCreateOccInst");
        ASSERT_EQ(walk.size(), c.steps.size());
        for (std::size_t i = 0; i < walk.size(); ++i) {
            const Step& step = c.steps[i];
            const std::vector<fakezel::Arg>& args = walk[i]->args;
            EXPECT_EQ(args[0].ptr, config);
            EXPECT_EQ(args[1].ptr, step.parent < 0 ? nullptr : made[static_cast<std::size_t>(step.parent)]);
            EXPECT_EQ(args[2].str, step.lib);
            EXPECT_EQ(args[3].str, step.cell);
            EXPECT_EQ(args[4].str, step.view);
            EXPECT_EQ(args[5].str, step.inst);
        }
        // The binding goes on the occurrence the last step reached, and
        // nowhere when there was no step.
        if (c.steps.empty()) {
            EXPECT_EQ(lib().count("zelReplaceOccInstBinding"), 0u);
        } else {
            const fakezel::Call* replace = lib().last("zelReplaceOccInstBinding");
            ASSERT_NE(replace, nullptr);
            EXPECT_EQ(replace->args[0].ptr, made.back());
        }
    }
}

// A level that cannot be found or made ends the walk: the levels below it
// must not be made from the top instead, where the rule would land on a
// shorter path (or on a real top-level occurrence).
TEST_F(ConfigOccurrenceTest, ALevelTheWalkCannotMakeEndsItAndChangesNothing) {
    findOccurrence(nullptr);
    jint handle = pathVectorOf({arena.context("L0", "C0", "V0", "i0"), arena.context("L1", "C1", "V1", "i1"),
                                arena.context("L2", "C2", "V2", "i2")});
    walkAnswersNull = true;
    EXPECT_EQ(setOccurBinding(self, handle, "x"), JNI_FALSE);
    EXPECT_EQ(setOccurStop(self, handle, "x", JNI_TRUE), JNI_FALSE);
    EXPECT_EQ(lib().count("zelFindOrCreateOccInst"), 2u);  // one step each
    EXPECT_EQ(lib().count("zelReplaceOccInstBinding"), 0u);
    EXPECT_EQ(lib().count("zelReplaceOccInstStop"), 0u);
}

// An occurrence rule goes only into the path vector's own configuration: a
// receiver with another one open neither finds nor makes anything.
TEST_F(ConfigOccurrenceTest, APathVectorOfAnotherConfigurationChangesNothing) {
    findOccurrence(arena.make<OccurrenceInstance>());
    jint handle = pathVectorOf({arena.context("L0", "C0", "V0", "i0")});
    jobject other = newConfig();
    openConfig(other, arena.make<ConfigRecord>());
    EXPECT_EQ(setOccurBinding(other, handle, "x"), JNI_FALSE);
    EXPECT_EQ(setOccurStop(other, handle, "x", JNI_TRUE), JNI_FALSE);
    EXPECT_EQ(setOccurStop(other, handle, "x", JNI_FALSE), JNI_FALSE);
    EXPECT_TRUE(lib().names().empty());
    EXPECT_EQ(jvm.unreleasedStrings(), 0u);
}

TEST_F(ConfigOccurrenceTest, OnlySettingCreatesAMissingOccurrenceAndOnlyWithAConfigurationOpen) {
    findOccurrence(nullptr);
    jint handle = pathVectorOf({arena.context("L0", "C0", "V0", "i0")});
    jobject unopened = newConfig();

    // Clearing a stop point, deleting a binding, or a receiver with nothing
    // open: no walk, no change, false.
    EXPECT_EQ(setOccurStop(self, handle, "x", JNI_FALSE), JNI_FALSE);
    EXPECT_EQ(deleteOccurBinding(self, handle, "x"), JNI_FALSE);
    EXPECT_EQ(setOccurStop(unopened, handle, "x", JNI_TRUE), JNI_FALSE);
    EXPECT_EQ(setOccurBinding(unopened, handle, "x"), JNI_FALSE);
    EXPECT_EQ(lib().names(), (std::vector<std::string>(4, "zelGetContextOccInst")));

    // Setting one walks, and sets it on what the walk made; any non-zero
    // boolean reaches the library as it is.
    lib().calls.clear();
    lib().hooks.zelReplaceOccInstStop = [](OccurrenceInstance*, ZelBool value) { return value; };
    EXPECT_EQ(setOccurStop(self, handle, "x", 2), 2);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(lib().last("zelReplaceOccInstStop")->args[0].ptr, made[0]);
    EXPECT_EQ(lib().last("zelReplaceOccInstStop")->args[1].i, 2);

    // Only the instance name is converted; the other three Strings are not used.
    EXPECT_EQ(jvm.releasedStrings().back(), "x");
}

TEST_F(ConfigOccurrenceTest, AHandleThatNamesNoPathVectorEndsTheCallAtOnce) {
    findOccurrence(arena.make<OccurrenceInstance>());
    jint destroyed = pathVectorOf({arena.context("L0", "C0", "V0", "i0")});
    unregisterPathVector(destroyed);
    for (jint handle : {jint{0}, destroyed, jint{99}}) {
        SCOPED_TRACE(handle);
        jvm.clearCalls();
        EXPECT_EQ(setOccurStop(self, handle, "x", JNI_TRUE), JNI_FALSE);
        EXPECT_EQ(setOccurBinding(self, handle, "x"), JNI_FALSE);
        EXPECT_EQ(deleteOccurBinding(self, handle, "x"), JNI_FALSE);
        EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
        EXPECT_EQ(jvm.callCount("GetStringUTFChars"), 0u);
    }
}

TEST_F(ConfigOccurrenceTest, OccurrenceBindingReleasesItsFourStringsInOrder) {
    findOccurrence(nullptr);
    walkAnswersNull = true;  // even when nothing could be made
    jint handle = pathVectorOf({arena.context("L0", "C0", "V0", "i0")});
    std::size_t before = jvm.releasedStrings().size();
    setOccurBinding(self, handle, "x");
    std::vector<std::string> all = jvm.releasedStrings();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
              (std::vector<std::string>{"bl", "bc", "bv", "x"}));
}

TEST_F(ConfigOccurrenceTest, BindToOpenNeedsACellOrAnInstanceAndBindsToThreeEmptyNames) {
    lib().hooks.zelSetObjBinding = [](ConfigRecord*, const char*, const char*, const char*, const char*,
                                      const char*, const char*, const char*) -> ZelBool { return 0x21; };
    lib().hooks.zelDeleteObjBinding = [](ConfigRecord*, const char*, const char*, const char*,
                                         const char*) -> ZelBool { return 0x22; };
    struct Case {
        std::vector<const char*> strings;  // lib, cell, view, inst
        jboolean value;
        const char* libFn;  // null: nothing is called
        jboolean result;
    };
    const std::vector<Case> cases = {
        {{"L", nullptr, "V", nullptr}, JNI_TRUE, nullptr, JNI_FALSE},
        {{"L", nullptr, "V", nullptr}, JNI_FALSE, nullptr, JNI_FALSE},
        {{nullptr, nullptr, nullptr, "i"}, JNI_TRUE, "zelSetObjBinding", 0x21},
        {{"L", "C", nullptr, nullptr}, JNI_FALSE, "zelDeleteObjBinding", 0x22},
        {{"", "", "", ""}, 2, "zelSetObjBinding", 0x21},  // empty is not null
    };
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        SCOPED_TRACE(n);
        lib().calls.clear();
        std::vector<jstring> s;
        for (const char* value : c.strings) s.push_back(str(value));
        std::size_t before = jvm.releasedStrings().size();
        EXPECT_EQ(jvm.callNative([&] {
                      return Java_COM_morvent_zel_ZelConfig_setBindToOpen(env, self, s[0], s[1], s[2], s[3], c.value);
                  }),
                  c.result);
        EXPECT_EQ(jvm.releasedStrings().size() - before,
                  static_cast<std::size_t>(std::count_if(c.strings.begin(), c.strings.end(),
                                                         [](const char* v) { return v != nullptr; })));
        if (c.libFn == nullptr) {
            EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
            continue;
        }
        ASSERT_EQ(lib().calls.size(), 1u) << lib().formatCalls();
        const fakezel::Call& call = lib().calls[0];
        EXPECT_EQ(call.fn, c.libFn);
        EXPECT_EQ(call.args[0].ptr, config);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(call.args[1 + i].isNull, c.strings[i] == nullptr);
            if (c.strings[i] != nullptr) {
                EXPECT_EQ(call.args[1 + i].str, c.strings[i]);
            }
        }
        if (call.fn == "zelSetObjBinding") {
            ASSERT_EQ(call.args.size(), 8u);
            for (std::size_t i = 5; i < 8; ++i) {
                EXPECT_FALSE(call.args[i].isNull);
                EXPECT_EQ(call.args[i].str, "");
            }
        }
    }
}

TEST_F(ConfigOccurrenceTest, AStopPointsBooleanReachesTheLibraryAsItsByte) {
    jstring name = str("n");
    for (jboolean value : {jboolean{0}, jboolean{1}, jboolean{2}, jboolean{0xFF}}) {
        jvm.callNative([&] {
            return Java_COM_morvent_zel_ZelConfig_setStopPointValue(env, self, name, name, name, name, value);
        });
        EXPECT_EQ(lib().last("zelSetObjStop")->args[5].i, value);
    }
}

}  // namespace
