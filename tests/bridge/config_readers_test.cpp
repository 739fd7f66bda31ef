// The natives that read records or strings back: the two cell-rule readers,
// evaluation and resolution of constants, the object view strings, and the
// process-wide constant cursor, which a close of its configuration empties.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "COM_morvent_zel_ZelConfig.h"
#include "bridge_fixture.h"

namespace {

class ConfigReadersTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        self = newConfig();
        openConfig(self, record);
    }

    // The Java result as text; "<null>" for a null String.
    std::string text(jstring result) const { return result != nullptr ? jvm.stringValue(result) : "<null>"; }

    // The library finds `cell` (or nothing) for any names.
    void findCell(CellRecord* cell) {
        lib().hooks.zelFindCell = [cell](ConfigRecord*, const char*, const char*) { return cell; };
    }

    ConfigRecord* record = arena.make<ConfigRecord>();
    jobject self = nullptr;
};

TEST_F(ConfigReadersTest, CellRuleReadersAnswerNullForNoCellNoRuleOrAnEmptyRule) {
    auto binding = [&](const char* view) {
        auto* cell = arena.make<CellRecord>();
        cell->viewBinding = arena.make<BindingRecord>();
        cell->viewBinding->viewName = view != nullptr ? arena.str(view) : nullptr;
        return cell;
    };
    auto list = [&](const char* views) {
        auto* cell = arena.make<CellRecord>();
        cell->viewList = views != nullptr ? arena.str(views) : nullptr;
        return cell;
    };
    // {cell found, getCellViewBinding, getCellViewList}
    const std::vector<std::tuple<CellRecord*, std::string, std::string>> cases = {
        {nullptr, "<null>", "<null>"},
        {arena.make<CellRecord>(), "<null>", "<null>"},  // neither rule
        {binding(nullptr), "<null>", "<null>"},
        {binding(""), "<null>", "<null>"},
        {binding("schematic"), "schematic", "<null>"},
        {list(""), "<null>", "<null>"},
        {list(" layout  schematic "), "<null>", " layout  schematic "},
    };
    jstring lib_ = str("lib"), cell = str("cell");
    for (const auto& [found, boundView, viewList] : cases) {
        findCell(found);
        EXPECT_EQ(text(jvm.callNative(
                      [&] { return Java_COM_morvent_zel_ZelConfig_getCellViewBinding(env, self, lib_, cell); })),
                  boundView);
        EXPECT_EQ(
            text(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getCellViewList(env, self, lib_, cell); })),
            viewList);
    }
    for (const fakezel::Call* call : lib().callsOf("zelFindCell")) {
        EXPECT_EQ(call->args[0].ptr, record);
        EXPECT_EQ(call->args[1].str, "lib");
        EXPECT_EQ(call->args[2].str, "cell");
    }

    // Both names null reach the library as two null pointers.
    lib().calls.clear();
    findCell(binding("schematic"));
    jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getCellViewBinding(env, self, nullptr, nullptr); });
    jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getCellViewList(env, self, nullptr, nullptr); });
    for (const fakezel::Call* call : lib().callsOf("zelFindCell")) {
        EXPECT_TRUE(call->args[1].isNull);
        EXPECT_TRUE(call->args[2].isNull);
    }

    // Nothing open: null before any string is converted.
    lib().calls.clear();
    jvm.clearCalls();
    jobject unopened = newConfig();
    EXPECT_EQ(jvm.callNative(
                  [&] { return Java_COM_morvent_zel_ZelConfig_getCellViewBinding(env, unopened, lib_, cell); }),
              nullptr);
    EXPECT_EQ(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getCellViewList(env, unopened, lib_, cell); }),
              nullptr);
    EXPECT_TRUE(lib().calls.empty());
    EXPECT_EQ(jvm.callCount("GetStringUTFChars"), 0u);
}

// getCellViewBinding copies the view name before it lets go of the strings,
// getCellViewList after; evalConstants lets go before copying, resolveConstants after.
TEST_F(ConfigReadersTest, EachReaderReleasesItsStringsOnItsSideOfTheCopy) {
    auto* cell = arena.make<CellRecord>();
    cell->viewBinding = arena.make<BindingRecord>();
    cell->viewBinding->viewName = "schematic";
    cell->viewList = "layout";
    findCell(cell);
    lib().hooks.zelEvalConstants = [](ConfigRecord*, const char*) { return "evaluated"; };
    lib().hooks.zelResolveConstants = [](ConfigRecord*, const char*) { return "resolved"; };
    jstring a = str("a"), b = str("b");
    const std::vector<std::pair<const char*, std::function<jstring()>>> readers = {
        {"getCellViewBinding", [&] { return Java_COM_morvent_zel_ZelConfig_getCellViewBinding(env, self, a, b); }},
        {"getCellViewList", [&] { return Java_COM_morvent_zel_ZelConfig_getCellViewList(env, self, a, b); }},
        {"evalConstants", [&] { return Java_COM_morvent_zel_ZelConfig_evalConstants(env, self, a); }},
        {"resolveConstants", [&] { return Java_COM_morvent_zel_ZelConfig_resolveConstants(env, self, a); }},
    };
    const std::vector<bool> copiesFirst = {true, false, false, true};
    for (std::size_t i = 0; i < readers.size(); ++i) {
        SCOPED_TRACE(readers[i].first);
        jvm.clearCalls();
        ASSERT_NE(jvm.callNative(readers[i].second), nullptr);
        std::size_t copy = jvm.firstCall("NewStringUTF");
        std::size_t release = jvm.firstCall("ReleaseStringUTFChars");
        ASSERT_NE(copy, fakejni::FakeJvm::npos);
        ASSERT_NE(release, fakejni::FakeJvm::npos);
        EXPECT_EQ(copy < release, copiesFirst[i]) << jvm.formatCalls();
    }
}

TEST_F(ConfigReadersTest, EvaluationAndResolutionPassTheTextAndReleaseItWhateverTheAnswer) {
    using Native = jstring (*)(JNIEnv*, jobject, jstring);
    const std::vector<std::tuple<const char*, Native, std::function<void(const char*)>>> natives = {
        {"zelEvalConstants", &Java_COM_morvent_zel_ZelConfig_evalConstants,
         [](const char* answer) {
             fakezel::fake().hooks.zelEvalConstants = [answer](ConfigRecord*, const char*) { return answer; };
         }},
        {"zelResolveConstants", &Java_COM_morvent_zel_ZelConfig_resolveConstants,
         [](const char* answer) {
             fakezel::fake().hooks.zelResolveConstants = [answer](ConfigRecord*, const char*) { return answer; };
         }},
    };
    jobject unopened = newConfig();
    for (const auto& [libFn, boundNative, answer] : natives) {
        // clang 14 (the ARM64 build) cannot capture a structured binding.
        const auto native = boundNative;
        SCOPED_TRACE(libFn);
        for (const char* answered : {static_cast<const char*>(nullptr), "", "$(x)/y"}) {
            for (const char* given : {static_cast<const char*>(nullptr), "$(x)"}) {
                lib().calls.clear();
                answer(answered);
                jstring textArg = str(given);
                std::size_t releasedBefore = jvm.releasedStrings().size();
                jstring result = jvm.callNative([&] { return native(env, self, textArg); });
                EXPECT_EQ(text(result), answered != nullptr ? answered : "<null>");
                ASSERT_EQ(lib().count(libFn), 1u);
                const fakezel::Arg& arg = lib().last(libFn)->args[1];
                EXPECT_EQ(arg.isNull, given == nullptr);
                if (given != nullptr) {
                    EXPECT_EQ(arg.str, given);
                }
                EXPECT_EQ(jvm.releasedStrings().size() - releasedBefore, given != nullptr ? 1u : 0u);
            }
        }
        lib().calls.clear();
        jvm.clearCalls();
        jstring textArg = str("$(x)");
        EXPECT_EQ(jvm.callNative([&] { return native(env, unopened, textArg); }), nullptr);
        EXPECT_TRUE(lib().calls.empty());
        EXPECT_EQ(jvm.callCount("GetStringUTFChars"), 0u);
    }
}

TEST_F(ConfigReadersTest, ObjectViewStringsTakeTheirStringsAndChangeNothing) {
    jstring lib_ = str("lib"), view = str("view"), value = str("v");
    jobject unopened = newConfig();
    for (jobject receiver : {self, unopened}) {
        jvm.clearCalls();
        std::size_t released = jvm.releasedStrings().size();
        EXPECT_EQ(jvm.callNative([&] {
                      return Java_COM_morvent_zel_ZelConfig_getObjViewString(env, receiver, lib_, nullptr, view, lib_);
                  }),
                  nullptr);
        EXPECT_EQ(jvm.callNative([&] {
                      return Java_COM_morvent_zel_ZelConfig_setObjViewString(env, receiver, lib_, nullptr, view,
                                                                            nullptr, value);
                  }),
                  JNI_FALSE);
        EXPECT_EQ(jvm.callNative([&] {
                      return Java_COM_morvent_zel_ZelConfig_deleteObjViewString(env, receiver, nullptr, view, nullptr,
                                                                               lib_);
                  }),
                  JNI_FALSE);
        std::vector<std::string> all = jvm.releasedStrings();
        std::vector<std::string> releases(all.begin() + static_cast<std::ptrdiff_t>(released), all.end());
        if (receiver == self) {
            EXPECT_EQ(releases, (std::vector<std::string>{"lib", "view", "lib", "lib", "view", "v", "view", "lib"}));
        } else {
            EXPECT_TRUE(releases.empty());
            EXPECT_EQ(jvm.callCount("GetStringUTFChars"), 0u);
        }
    }
    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
}

class ConfigConstantsTest : public ConfigReadersTest {
protected:
    // A constant list in definition order; a null name or value stays null.
    ConstantEntry* constants(std::initializer_list<std::pair<const char*, const char*>> entries) {
        ConstantEntry* head = nullptr;
        ConstantEntry** link = &head;
        for (const auto& [name, value] : entries) {
            *link = arena.make<ConstantEntry>();
            (*link)->name = name != nullptr ? arena.str(name) : nullptr;
            (*link)->value = value != nullptr ? arena.str(value) : nullptr;
            link = &(*link)->next;
        }
        return head;
    }

    void enumerate(jobject on) {
        jvm.callNative([&] { Java_COM_morvent_zel_ZelConfig_enumerateConstants(env, on); });
    }

    // What the Java loop sees through `through`: name=value per constant, up
    // to `limit` constants.
    std::vector<std::string> walk(jobject through, std::size_t limit = 10) {
        std::vector<std::string> seen;
        while (limit-- > 0 &&
               jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_hasMoreConstants(env, through); })) {
            std::string name = text(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getConstantName(env, through); }));
            std::string value =
                text(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getConstantValue(env, through); }));
            seen.push_back(name + "=" + value);
            jvm.callNative([&] { Java_COM_morvent_zel_ZelConfig_nextConstant(env, through); });
        }
        return seen;
    }

    bool hasMore() {
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_hasMoreConstants(env, self); }) == JNI_TRUE;
    }
};

TEST_F(ConfigConstantsTest, TheCursorWalksTheListInOrderAndStaysAtTheEnd) {
    record->constants = constants({{"A", "1"}, {"EMPTY", ""}, {"NONE", nullptr}});
    enumerate(self);
    EXPECT_EQ(walk(self), (std::vector<std::string>{"A=1", "EMPTY=", "NONE=<null>"}));
    jvm.callNative([&] { Java_COM_morvent_zel_ZelConfig_nextConstant(env, self); });
    EXPECT_FALSE(hasMore());
    EXPECT_EQ(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getConstantName(env, self); }), nullptr);
    EXPECT_EQ(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getConstantValue(env, self); }), nullptr);

    ConfigRecord* empty = arena.make<ConfigRecord>();
    jobject other = newConfig();
    openConfig(other, empty);
    enumerate(other);
    EXPECT_FALSE(hasMore());
    EXPECT_EQ(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getConstantName(env, other); }), nullptr);
}

TEST_F(ConfigConstantsTest, OneCursorServesTheWholeProcess) {
    record->constants = constants({{"A1", "a"}, {"A2", "a"}});
    ConfigRecord* second = arena.make<ConfigRecord>();
    second->constants = constants({{"B1", "b"}});
    jobject b = newConfig();
    openConfig(b, second);

    // Starting on B abandons A's enumeration; the cursor natives walk B
    // through any object, even one with nothing open.
    enumerate(self);
    enumerate(b);
    EXPECT_EQ(walk(newConfig()), (std::vector<std::string>{"B1=b"}));

    // An enumeration on a handle that names nothing ends the one half done.
    enumerate(self);
    jvm.callNative([&] { Java_COM_morvent_zel_ZelConfig_nextConstant(env, self); });
    enumerate(newConfig(0));
    EXPECT_FALSE(hasMore());
}

// The library releases a configuration's constants when it closes it: the
// cursor must not be left pointing into them.
TEST_F(ConfigConstantsTest, ClosingTheEnumeratedConfigurationEmptiesTheCursor) {
    record->constants = constants({{"A1", "a"}, {"A2", "a"}});
    ConfigRecord* second = arena.make<ConfigRecord>();
    second->constants = constants({{"B1", "b"}});
    jobject b = newConfig();
    openConfig(b, second);
    ZelBool closes = 0;
    lib().hooks.zelClose = [&closes](ConfigRecord*) { return closes; };
    auto close = [&](jobject config) {
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_close(env, config); });
    };

    enumerate(self);
    EXPECT_FALSE(close(self));  // refused: the list is still the library's
    EXPECT_TRUE(hasMore());
    closes = 1;
    EXPECT_TRUE(close(b));  // another configuration
    EXPECT_EQ(walk(self, 1), (std::vector<std::string>{"A1=a"}));
    EXPECT_TRUE(close(self));
    EXPECT_FALSE(hasMore());
    EXPECT_EQ(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getConstantName(env, self); }), nullptr);
    jvm.callNative([&] { Java_COM_morvent_zel_ZelConfig_nextConstant(env, self); });
    EXPECT_FALSE(hasMore());
}

}  // namespace
