// Inputs far beyond everyday sizes, through the natives: word lists of a
// megabyte come back whole, and a design deeper than a path vector holds is
// refused at the limit without harm to what was walked.
#include <string>

#include "system_fixture.h"

namespace {

// About a megabyte of distinct words ("<prefix>0 <prefix>1 ..."), `first` at
// the front when given, `last` at the end.
std::string megabyteList(const std::string& prefix, const std::string& first, const std::string& last) {
    std::string list = first;
    for (int i = 0; list.size() < (1u << 20); ++i) {
        if (!list.empty()) list += ' ';
        list += prefix + std::to_string(i);
    }
    return list + " " + last;
}

class BigInputTest : public systest::SystemTest {};

TEST_F(BigInputTest, MegabyteWordListsComeBackWhole) {
    // The master's own library leads the list, so the bind adds nothing to it.
    const std::string libs = megabyteList("lib", "lib", "libEnd");
    const std::string views = megabyteList("view", "schematic", "viewEnd");
    const std::string stops = megabyteList("stop", "", "leaf");
    jobject c = config();
    ASSERT_TRUE(open(c, "lib", "big", "config", "w"));
    jstring libList = str(libs), viewList = str(views), stopList = str(stops);
    ASSERT_TRUE(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_setDefaultLibListString(env, c, libList); }));
    ASSERT_TRUE(
        jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_setDefaultViewListString(env, c, viewList); }));
    ASSERT_TRUE(
        jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_setDefaultStopListString(env, c, stopList); }));
    EXPECT_EQ(text(jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_getDefaultStopListString(env, c); })),
              stops);

    jint handle = createPathVector(c);
    ASSERT_NE(handle, 0);
    jobject pv = pathVector(handle);
    ASSERT_TRUE(pushCell(pv, "lib", "top", "schematic", nullptr));
    jstring inst = str("I1"), lib = str("lib"), cell = str("leaf"), view = str("symbol");
    jobject heard = listener();
    jvm.callNative([&] {
        Java_COM_morvent_zel_ZelPathVector_bind(env, pv, inst, lib, cell, view, JNI_FALSE, JNI_FALSE, JNI_FALSE, heard);
    });
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    // The joined lists, whole: the first word, the last, and every byte between.
    const std::string gotLibs = text(jvm.callNative([&] { return Java_COM_morvent_zel_ZelPathVector_getCurrentLibList(env, pv); }));
    const std::string gotViews =
        text(jvm.callNative([&] { return Java_COM_morvent_zel_ZelPathVector_getCurrentExpandedViewList(env, pv); }));
    EXPECT_EQ(gotLibs.size(), libs.size());
    EXPECT_TRUE(gotLibs == libs) << "the library list came back changed";
    EXPECT_EQ(gotViews.size(), views.size());
    EXPECT_TRUE(gotViews == views) << "the view list came back changed";
    EXPECT_EQ(text(jvm.callNative([&] { return Java_COM_morvent_zel_ZelPathVector_getCurrentViewBinding(env, pv); })),
              "schematic");
    // The stop list is read to its last word: the leaf view stops the walk.
    ASSERT_TRUE(pushCell(pv, "lib", "leaf", "leaf", "I1"));
    EXPECT_TRUE(jvm.callNative([&] { return Java_COM_morvent_zel_ZelPathVector_isAtStop(env, pv); }));

    destroy(pv);
    EXPECT_TRUE(close(c));
}

TEST_F(BigInputTest, DesignDeeperThanThePathVectorHoldsIsRefusedAtTheLimit) {
    jobject c = config();
    ASSERT_TRUE(open(c, "lib", "deep", "config", "w"));
    jobject pv = pathVector(createPathVector(c));
    // Ten thousand levels, one cell per level: the first ZEL_MAX_DEPTH enter.
    constexpr int kLevels = 10000;
    jstring lib = str("lib"), view = str("schematic");
    std::vector<jstring> cells, insts;
    for (int i = 0; i < kLevels; ++i) {
        cells.push_back(str("c" + std::to_string(i)));
        insts.push_back(i == 0 ? nullptr : str("I" + std::to_string(i)));
    }
    int entered = 0, refused = 0;
    for (int i = 0; i < kLevels; ++i) {
        jboolean pushed = jvm.callNative([&] {
            return Java_COM_morvent_zel_ZelPathVector_pushCell(env, pv, lib, cells[static_cast<std::size_t>(i)], view,
                                                               insts[static_cast<std::size_t>(i)]);
        });
        (pushed ? entered : refused) += 1;
        if (i % 1000 == 999) jvm.clearCalls();
    }
    EXPECT_EQ(entered, ZEL_MAX_DEPTH);
    EXPECT_EQ(refused, kLevels - ZEL_MAX_DEPTH);
    EXPECT_EQ(depth(pv), ZEL_MAX_DEPTH - 1);
    // Every level that entered is as it was pushed.
    for (jint level = 0; level < ZEL_MAX_DEPTH; ++level) {
        std::string name = text(
            jvm.callNative([&] { return Java_COM_morvent_zel_ZelPathVector_getIndexCellName(env, pv, level); }));
        ASSERT_EQ(name, "c" + std::to_string(level));
    }
    jvm.clearCalls();
    // And the walk comes back up, level by level, to nothing.
    int popped = 0;
    while (popCell(pv)) ++popped;
    EXPECT_EQ(popped, ZEL_MAX_DEPTH);
    EXPECT_EQ(depth(pv), -1);
    EXPECT_TRUE(pushCell(pv, "lib", "top", "schematic", nullptr)) << "the path vector is usable again";
    destroy(pv);
    EXPECT_TRUE(close(c));
}

}  // namespace
