// What every ZelConfig native that hands Strings to one library function owes
// its caller, checked over one table of them: the strings arrive in their
// positions (null as null, "" as ""), exactly the obtained ones are released in
// parameter order, the library's answer reaches Java unchanged, and a handle
// that names nothing ends the call before any string or library call.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "COM_morvent_zel_ZelConfig.h"
#include "bridge_fixture.h"

namespace {

using fakezel::Hooks;
using Strings = std::vector<jstring>;

// Whether the warning relay was armed while the library function ran.
bool armedDuringCall = false;

// Makes the library function behind `hook` answer `value`, cast to its result type.
template <typename R, typename... A>
std::function<void(long long)> answers(std::function<R(A...)> Hooks::*hook) {
    return [hook](long long value) {
        fakezel::fake().hooks.*hook = [value](A...) {
            armedDuringCall = warningRelay.env != nullptr;
            return static_cast<R>(value);
        };
    };
}

template <typename R, typename... S, std::size_t... I>
R invoke(R (*native)(JNIEnv*, jobject, S...), JNIEnv* env, jobject self, const Strings& s,
         std::index_sequence<I...>) {
    return native(env, self, s[I]...);
}

struct BooleanNative {
    const char* name;
    std::function<jboolean(JNIEnv*, jobject, const Strings&)> call;
    std::size_t arity;                        // Java Strings
    const char* libFn;
    std::function<void(long long)> answer;
    bool wide;                                // the library answers an int; Java sees its low byte
    std::size_t firstString;                  // library argument that gets the first String
    bool relays;
};

template <typename... S>
BooleanNative row(const char* name, jboolean (*native)(JNIEnv*, jobject, S...), const char* libFn,
                  std::function<void(long long)> answer, bool wide = false) {
    return {name,
            [native](JNIEnv* env, jobject self, const Strings& s) {
                return invoke(native, env, self, s, std::index_sequence_for<S...>{});
            },
            sizeof...(S), libFn, std::move(answer), wide, 1, false};
}

#define NATIVE(name) #name, &Java_COM_morvent_zel_ZelConfig_##name
#define LIB(fn) #fn, answers(&Hooks::fn)

std::vector<BooleanNative> booleanNatives() {
    std::vector<BooleanNative> rows = {
        row(NATIVE(isModified), LIB(zelConfigIsModified), true),
        row(NATIVE(isEditable), LIB(zelConfigIsEditable), true),
        row(NATIVE(isContainingOccur), LIB(zelConfigHasOccRules), true),
        row(NATIVE(setTopCellViewName), LIB(zelSetTopCellViewName)),
        row(NATIVE(setDefaultViewListString), LIB(zelSetDefaultViewListString)),
        row(NATIVE(setDefaultLibListString), LIB(zelSetDefaultLibListString)),
        row(NATIVE(setDefaultStopListString), LIB(zelSetDefaultStopListString)),
        row(NATIVE(replaceCellViewBinding), LIB(zelReplaceCellViewBinding)),
        row(NATIVE(replaceCellViewList), LIB(zelReplaceCellViewList)),
        row(NATIVE(deleteCellViewBinding), LIB(zelDeleteCellViewBinding)),
        row(NATIVE(deleteCellViewList), LIB(zelDeleteCellViewList)),
        row(NATIVE(replaceInstViewBinding), LIB(zelReplaceInstViewBinding)),
        row(NATIVE(replaceInstViewList), LIB(zelReplaceInstViewList)),
        row(NATIVE(deleteInstViewBinding), LIB(zelDeleteInstViewBinding)),
        row(NATIVE(deleteInstViewList), LIB(zelDeleteInstViewList)),
        row(NATIVE(replaceConstant), LIB(zelReplaceConst)),
        row(NATIVE(deleteConstant), LIB(zelDeleteConst)),
        row(NATIVE(deleteNote), LIB(zelDeleteNote)),
        row(NATIVE(replaceNoteLine), LIB(zelReplaceNoteLine)),
        row(NATIVE(addNoteLine), LIB(zelAddNoteLine)),
        row(NATIVE(setInstLibList), LIB(zelSetObjLibListStr)),
        row(NATIVE(deleteInstLibList), LIB(zelDeleteObjLibList)),
        row(NATIVE(setCellLibList), LIB(zelReplaceCellLibList)),
    };
    // The library's second argument is always null; the String goes third.
    BooleanNative deleteCellLibList = row(NATIVE(deleteCellLibList), LIB(zelDeleteCellLibList));
    deleteCellLibList.firstString = 2;
    rows.push_back(deleteCellLibList);
    rows.push_back({"setStopPointValue",
                    [](JNIEnv* env, jobject self, const Strings& s) {
                        return Java_COM_morvent_zel_ZelConfig_setStopPointValue(env, self, s[0], s[1], s[2], s[3],
                                                                                JNI_TRUE);
                    },
                    4, LIB(zelSetObjStop), false, 1, false});
    rows.push_back({"save",
                    [](JNIEnv* env, jobject self, const Strings&) {
                        return Java_COM_morvent_zel_ZelConfig_save(env, self, nullptr);
                    },
                    0, LIB(zelSave), false, 1, true});
    rows.push_back({"saveAs",
                    [](JNIEnv* env, jobject self, const Strings& s) {
                        return Java_COM_morvent_zel_ZelConfig_saveAs(env, self, s[0], s[1], s[2], nullptr);
                    },
                    3, LIB(zelSaveAs), false, 1, true});
    return rows;
}

class ConfigMarshallingTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        self = newConfig();
        openConfig(self, record);
    }

    // Java Strings for values; a null entry stays a null String.
    Strings javaStrings(const std::vector<const char*>& values) {
        Strings strings;
        for (const char* value : values) strings.push_back(str(value));
        return strings;
    }

    std::vector<std::string> releasedSince(std::size_t before) const {
        std::vector<std::string> all = jvm.releasedStrings();
        return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
    }

    ConfigRecord* record = arena.make<ConfigRecord>();
    jobject self = nullptr;
};

// Patterns of String parameters: each position null, empty or given.
std::vector<std::vector<const char*>> patterns(std::size_t arity) {
    const char* given[] = {"lib", "cell", "view", "inst", "list a b"};
    std::vector<std::vector<const char*>> all(4);
    for (std::size_t i = 0; i < arity; ++i) {
        all[0].push_back(given[i]);                          // all given
        all[1].push_back(nullptr);                           // all null
        all[2].push_back(i % 2 == 0 ? nullptr : given[i]);   // null, given, null, ...
        all[3].push_back(i % 2 == 0 ? "" : nullptr);         // empty, null, empty, ...
    }
    return all;
}

TEST_F(ConfigMarshallingTest, StringsReachTheLibraryInTheirPositionsAndAreReleasedInOrder) {
    for (const BooleanNative& n : booleanNatives()) {
        const std::vector<std::vector<const char*>> all = patterns(n.arity);
        for (std::size_t p = 0; p < all.size(); ++p) {
            const std::vector<const char*>& values = all[p];
            SCOPED_TRACE(std::string(n.name) + " pattern " + std::to_string(p));
            lib().calls.clear();
            n.answer(0);  // a refusal releases the strings all the same
            Strings strings = javaStrings(values);
            std::size_t released = jvm.releasedStrings().size();
            jvm.callNative([&] { return n.call(env, self, strings); });

            ASSERT_EQ(lib().count(n.libFn), 1u) << lib().formatCalls();
            const fakezel::Call& call = *lib().last(n.libFn);
            EXPECT_EQ(call.args[0].ptr, record);
            if (n.firstString == 2) {
                EXPECT_TRUE(call.args[1].isNull);
            }
            ASSERT_GE(call.args.size(), n.firstString + n.arity);
            std::vector<std::string> expectedReleases;
            for (std::size_t i = 0; i < n.arity; ++i) {
                const fakezel::Arg& arg = call.args[n.firstString + i];
                if (values[i] == nullptr) {
                    EXPECT_TRUE(arg.isNull) << "String " << i;
                    continue;
                }
                ASSERT_FALSE(arg.isNull) << "String " << i;
                EXPECT_EQ(arg.str, values[i]);
                EXPECT_TRUE(jvm.sameObject(jvm.sourceOf(static_cast<const char*>(arg.ptr)), strings[i]));
                expectedReleases.push_back(values[i]);
            }
            EXPECT_EQ(releasedSince(released), expectedReleases);
            EXPECT_EQ(lib().count("zelSetErrorHandler"), n.relays ? 1u : 0u);
            EXPECT_EQ(armedDuringCall, n.relays);
        }
    }
}

TEST_F(ConfigMarshallingTest, TheLibrarysAnswerReachesJavaUnchanged) {
    // {library answer, what Java sees}: a byte unchanged, a wider int as its low byte.
    const std::vector<std::pair<long long, jboolean>> bytes = {{0, 0}, {1, 1}, {2, 2}, {0x80, 0x80}, {0xFF, 0xFF}};
    const std::vector<std::pair<long long, jboolean>> ints = {{0, 0}, {1, 1}, {0x100, 0}, {0x1FF, 0xFF}, {-2, 0xFE}};
    for (const BooleanNative& n : booleanNatives()) {
        for (const auto& [answer, seen] : n.wide ? ints : bytes) {
            SCOPED_TRACE(std::string(n.name) + " answering " + std::to_string(answer));
            n.answer(answer);
            Strings strings = javaStrings(patterns(n.arity)[0]);
            EXPECT_EQ(jvm.callNative([&] { return n.call(env, self, strings); }), seen);
        }
    }
}

TEST_F(ConfigMarshallingTest, AHandleThatNamesNothingEndsTheCallAtOnce) {
    jobject closed = newConfig();
    openConfig(closed, arena.make<ConfigRecord>());
    lib().hooks.zelClose = [](ConfigRecord*) -> ZelBool { return 1; };
    ASSERT_TRUE(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_close(env, closed); }));
    const std::vector<std::pair<const char*, jobject>> receivers = {
        {"id 0", newConfig(0)}, {"never registered", newConfig(17)}, {"closed", closed}};

    for (const BooleanNative& n : booleanNatives()) {
        for (const auto& entry : receivers) {
            // Not a structured binding: clang 14 (the ARM64 build) cannot capture one.
            const jobject receiver = entry.second;
            SCOPED_TRACE(std::string(n.name) + " on " + entry.first);
            lib().calls.clear();
            jvm.clearCalls();
            n.answer(1);
            Strings strings = javaStrings(patterns(n.arity)[0]);
            EXPECT_EQ(jvm.callNative([&] { return n.call(env, receiver, strings); }), JNI_FALSE);
            EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
            EXPECT_EQ(jvm.callCount("GetStringUTFChars"), 0u);
        }
    }
}

TEST_F(ConfigMarshallingTest, AStringTheJvmCannotHandOutEndsTheCallWithoutTheLibrary) {
    for (const BooleanNative& n : booleanNatives()) {
        std::vector<const char*> values = patterns(n.arity)[0];
        for (unsigned failing = 1; failing <= n.arity; ++failing) {
            SCOPED_TRACE(std::string(n.name) + " failing String " + std::to_string(failing));
            lib().calls.clear();
            n.answer(1);
            Strings strings = javaStrings(values);
            std::size_t released = jvm.releasedStrings().size();
            jvm.failStringUTFCharsAt(failing);
            EXPECT_EQ(jvm.callNative([&] { return n.call(env, self, strings); }), JNI_FALSE);
            EXPECT_EQ(jvm.thrownToJava(), "java/lang/OutOfMemoryError");
            EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
            EXPECT_EQ(releasedSince(released), std::vector<std::string>(values.begin(), values.begin() + failing - 1));
        }
    }
}

struct StringGetter {
    const char* name;
    jstring (*native)(JNIEnv*, jobject);
    const char* libFn;
    std::function<void(const char*)> answer;
};

template <typename... A>
std::function<void(const char*)> answersText(std::function<const char*(A...)> Hooks::*hook) {
    return [hook](const char* text) { fakezel::fake().hooks.*hook = [text](A...) { return text; }; };
}

#define TEXT(fn) #fn, answersText(&Hooks::fn)

TEST_F(ConfigMarshallingTest, GettersCopyTheLibrarysStringNullStayingNullAndEmptyStayingEmpty) {
    const std::vector<StringGetter> getters = {
        {NATIVE(getDefaultViewListString), TEXT(zelGetDefaultViewListString)},
        {NATIVE(getDefaultLibListString), TEXT(zelGetDefaultLibListString)},
        {NATIVE(getDefaultStopListString), TEXT(zelGetDefaultStopListString)},
        {NATIVE(getTopLibName), TEXT(zelGetTopLibName)},
        {NATIVE(getTopCellName), TEXT(zelGetTopCellName)},
        {NATIVE(getTopViewName), TEXT(zelGetTopViewName)},
        {NATIVE(getLibName), TEXT(zelGetLibName)},
        {NATIVE(getCellName), TEXT(zelGetCellName)},
        {NATIVE(getViewName), TEXT(zelGetViewName)},
        {NATIVE(getNoteString), TEXT(zelGetNoteString)},
    };
    jobject unopened = newConfig(0);
    for (const StringGetter& g : getters) {
        SCOPED_TRACE(g.name);
        for (const char* text : {static_cast<const char*>(nullptr), "", " two  words "}) {
            lib().calls.clear();
            g.answer(text);
            jstring result = jvm.callNative([&] { return g.native(env, self); });
            ASSERT_EQ(lib().count(g.libFn), 1u);
            EXPECT_EQ(lib().last(g.libFn)->args[0].ptr, record);
            if (text == nullptr) {
                EXPECT_EQ(result, nullptr);
            } else {
                ASSERT_NE(result, nullptr);
                EXPECT_EQ(jvm.stringValue(result), text);
            }
        }
        lib().calls.clear();
        g.answer("value");
        EXPECT_EQ(jvm.callNative([&] { return g.native(env, unopened); }), nullptr);
        EXPECT_TRUE(lib().calls.empty());
    }
}

TEST_F(ConfigMarshallingTest, RevisionIsTheLibrarysIntegerAndZeroWhenNothingIsOpen) {
    for (int32_t revision : {0, 7, -3, INT32_MIN, INT32_MAX}) {
        lib().hooks.zelGetRevision = [revision](ConfigRecord*) { return revision; };
        EXPECT_EQ(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getRevision(env, self); }), revision);
    }
    lib().calls.clear();
    EXPECT_EQ(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getRevision(env, newConfig(0)); }), 0);
    EXPECT_TRUE(lib().calls.empty());
}

}  // namespace
