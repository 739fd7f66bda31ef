// Context queries: the library answers; the bridge passes the record, the
// strings and the index through and copies the answer.
#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathvector_fixture.h"

namespace {

enum Shape { kFourStrings, kOneString, kNoParams, kIndex };

struct ContextRow {
    const char* native;
    const char* libraryFn;
    Shape shape;
    void (*script)(fakezel::Hooks& hooks, const char* answer);
    jstring (*call)(JNIEnv* env, jobject self, const jstring (&s)[4], jint index);
};

#define CONTEXT_ROW(name, fn, shape, args)                                                         \
    {                                                                                             \
        #name, #fn, shape,                                                                        \
            [](fakezel::Hooks& hooks, const char* answer) {                                       \
                hooks.fn = [answer](auto...) { return answer; };                                  \
            },                                                                                    \
            [](JNIEnv* env, jobject self, const jstring(&s)[4], jint index) -> jstring {          \
                (void)s;                                                                          \
                (void)index;                                                                      \
                return PV(name) args;                                                               \
            }                                                                                     \
    }

#define FOUR_STRINGS (env, self, s[0], s[1], s[2], s[3])
#define ONE_STRING (env, self, s[0])

const ContextRow kContextQueries[] = {
    CONTEXT_ROW(getRawContextInstViewString, zelGetRawContextInstViewString, kFourStrings, FOUR_STRINGS),
    CONTEXT_ROW(getContextInstViewString, zelGetContextInstViewString, kFourStrings, FOUR_STRINGS),
    CONTEXT_ROW(getRawInheritedContextInstViewString, zelGetRawInheritedContextInstViewString, kFourStrings,
                FOUR_STRINGS),
    CONTEXT_ROW(getInheritedContextInstViewString, zelGetInheritedContextInstViewString, kFourStrings, FOUR_STRINGS),
    CONTEXT_ROW(getContextUnInheritedInstViewList, zelGetContextUnInheritedInstViewList, kOneString, ONE_STRING),
    CONTEXT_ROW(getContextUnInheritedInstViewBinding, zelGetContextUnInheritedInstViewBinding, kOneString,
                ONE_STRING),
    CONTEXT_ROW(getContextRawUnInheritedInstViewList, zelGetContextRawUnInheritedInstViewList, kOneString,
                ONE_STRING),
    CONTEXT_ROW(getContextLibName, zelGetContextLibName, kNoParams, (env, self)),
    CONTEXT_ROW(getContextCellName, zelGetContextCellName, kNoParams, (env, self)),
    CONTEXT_ROW(getContextViewName, zelGetContextViewName, kNoParams, (env, self)),
    CONTEXT_ROW(getIndexLibName, zelGetIndexLibName, kIndex, (env, self, index)),
    CONTEXT_ROW(getIndexCellName, zelGetIndexCellName, kIndex, (env, self, index)),
    CONTEXT_ROW(getIndexViewName, zelGetIndexViewName, kIndex, (env, self, index)),
    CONTEXT_ROW(getIndexViewList, zelGetIndexViewList, kIndex, (env, self, index)),
};
#undef ONE_STRING
#undef FOUR_STRINGS
#undef CONTEXT_ROW

std::size_t stringCount(Shape shape) {
    return shape == kFourStrings ? 4 : shape == kOneString ? 1 : 0;
}

std::vector<ContextRow> queriesWithStrings() {
    std::vector<ContextRow> rows;
    for (const ContextRow& row : kContextQueries)
        if (stringCount(row.shape) > 0) rows.push_back(row);
    return rows;
}

std::string rowName(const ::testing::TestParamInfo<ContextRow>& p) {
    return p.param.native;
}

class PathVectorContextQueryTest : public PathVectorTest, public ::testing::WithParamInterface<ContextRow> {
protected:
    jstring query(const jstring (&strings)[4], jint index = 0) {
        return run([&] { return GetParam().call(env, self, strings, index); });
    }
    jstring query() { return query({str("inst"), str("lib"), str("cell"), str("view")}); }
};

TEST_P(PathVectorContextQueryTest, HandsTheRecordAndItsParametersOverInOrderAndCopiesTheAnswer) {
    const ContextRow& row = GetParam();
    row.script(lib().hooks, "answer");
    CellRecord* cell = opaque<CellRecord>();
    CellViewRecord* cellView = opaque<CellViewRecord>();
    slot()->cachedCell = cell;
    slot()->cachedCellView = cellView;

    jstring result = query({str("inst"), str("lib"), str("cell"), str("view")}, -3);

    EXPECT_EQ("answer", text(result));
    ASSERT_EQ(std::vector<std::string>{row.libraryFn}, libraryCalls());
    const fakezel::Call& call = lib().calls[0];
    EXPECT_EQ(record, call.args[0].ptr);
    const std::vector<std::string> given = {"inst", "lib", "cell", "view"};
    const auto count = static_cast<std::ptrdiff_t>(stringCount(row.shape));
    const std::vector<std::string> strings(given.begin(), given.begin() + count);
    for (std::size_t i = 0; i < strings.size(); ++i) EXPECT_EQ(strings[i], call.args[1 + i].str) << i;
    if (row.shape == kIndex) {
        EXPECT_EQ(-3, call.args[1].i);
    }
    EXPECT_EQ(strings, jvm.releasedStrings());
    // The cached records are the instance-rule natives' business alone.
    EXPECT_EQ(cell, slot()->cachedCell);
    EXPECT_EQ(cellView, slot()->cachedCellView);
}

TEST_P(PathVectorContextQueryTest, AnEmptyAnswerStaysEmptyAndNoAnswerGivesNull) {
    GetParam().script(lib().hooks, "");
    jstring empty = query();
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ("", jvm.stringValue(empty));

    GetParam().script(lib().hooks, nullptr);
    EXPECT_EQ(nullptr, query());
}

INSTANTIATE_TEST_SUITE_P(Queries, PathVectorContextQueryTest, ::testing::ValuesIn(kContextQueries), rowName);

using PathVectorContextStringQueryTest = PathVectorContextQueryTest;

TEST_P(PathVectorContextStringQueryTest, NullStringsReachTheLibraryAsNullPointers) {
    const std::size_t n = stringCount(GetParam().shape);
    query({nullptr, nullptr, nullptr, nullptr});
    ASSERT_EQ(1u, lib().calls.size());
    for (std::size_t i = 1; i <= n; ++i) EXPECT_TRUE(lib().calls[0].args[i].isNull) << i;
    EXPECT_EQ(0u, jvm.callCount("GetStringUTFChars"));
}

TEST_P(PathVectorContextStringQueryTest, AStringTheJvmCannotHandOutEndsTheCallBeforeTheLibrary) {
    const std::size_t n = stringCount(GetParam().shape);
    GetParam().script(lib().hooks, "answer");
    jvm.failStringUTFCharsAt(static_cast<unsigned>(n));  // the last one

    EXPECT_EQ(nullptr, query());

    EXPECT_TRUE(lib().calls.empty()) << lib().formatCalls();
    EXPECT_EQ(n - 1, jvm.releasedStrings().size());
    EXPECT_EQ("java/lang/OutOfMemoryError", jvm.thrownToJava());
}

INSTANTIATE_TEST_SUITE_P(Queries, PathVectorContextStringQueryTest, ::testing::ValuesIn(queriesWithStrings()), rowName);

using PathVectorContextIndexTest = PathVectorTest;

TEST_F(PathVectorContextIndexTest, TheLibrarysIndexComesBackUnchanged) {
    for (int32_t index : {-1, 0, 5}) {
        lib().hooks.zelGetContextVectorIndex = [index](PathVectorRecord*) { return index; };
        EXPECT_EQ(index, run([&] { return PV(getContextVectorIndex)(env, self); }));
        EXPECT_EQ(record, lib().last("zelGetContextVectorIndex")->args[0].ptr);
    }
}

}  // namespace
