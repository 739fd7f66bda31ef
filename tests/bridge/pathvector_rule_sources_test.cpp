// Every rule-source code through the three natives that map it: the view list
// taken from the record that supplied it, the library-list reason and the stop
// bit.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "pathvector_fixture.h"

namespace {

// A record of the kind the code designates, its view-list field set to "from <kind>".
using MakeSource = const void* (*)(fakezel::Arena& arena);

template <typename Record>
const void* withViewList(fakezel::Arena& arena) {
    auto* record = arena.make<Record>();
    record->viewList = arena.str("from record");
    return record;
}

const void* configWithDefaults(fakezel::Arena& arena) {
    auto* config = arena.make<ConfigRecord>();
    config->defaultViewList = arena.str("from record");
    return config;
}

struct CodeRow {
    const char* name;
    int code;
    MakeSource source;
    const char* viewList;  // what getCurrentViewList answers
    jint libListWhy;
    jint stopBit;
};

const CodeRow kCodes[] = {
    {"Default", ZEL_RULE_DEFAULT, configWithDefaults, "from record", 0, ZEL_STOP_DEFAULT},
    {"Library", ZEL_RULE_LIBRARY, withViewList<LibraryRuleRecord>, "from record", -1, ZEL_STOP_LIBRARY},
    {"Cell", ZEL_RULE_CELL, withViewList<CellRecord>, "from record", 2, ZEL_STOP_CELL},
    {"Instance", ZEL_RULE_INSTANCE, withViewList<InstRuleRecord>, "from record", 1, ZEL_STOP_INSTANCE},
    {"Occurrence", ZEL_RULE_OCCURRENCE, withViewList<OccurrenceInstance>, "from record", -1, ZEL_STOP_OCCURRENCE},
    // Codes that name no source: a list without text of its own, no reason, no bit; the
    // record holds a view list where a cell rule would, and it is not read.
    {"Zero", 0, withViewList<CellRecord>, "", -1, 0},
    {"Two", 2, withViewList<CellRecord>, "", -1, 0},
    {"Seven", 7, withViewList<CellRecord>, "", -1, 0},
    {"Fourteen", 14, withViewList<CellRecord>, "", -1, 0},
    {"MinusOne", -1, withViewList<CellRecord>, "", -1, 0},
    {"Byte0x80", 0x80, withViewList<CellRecord>, "", -1, 0},
    {"Byte0x86", 0x86, withViewList<CellRecord>, "", -1, 0},
    {"Byte0x88", 0x88, withViewList<CellRecord>, "", -1, 0},
};

class PathVectorRuleSourceTest : public PathVectorTest, public ::testing::WithParamInterface<CodeRow> {
protected:
    // The byte a BindInfo rule field holds for the row's code.
    std::uint8_t byte() const { return static_cast<std::uint8_t>(GetParam().code); }
};

TEST_P(PathVectorRuleSourceTest, GetCurrentViewListReadsTheFieldOfTheCodesRecord) {
    BindInfo& info = *slot()->bindInfo;
    info.viewListRule = static_cast<int8_t>(byte());
    info.viewListSource = GetParam().source(arena);
    EXPECT_EQ(GetParam().viewList, text(run([&] { return PV(getCurrentViewList)(env, self); })));
}

TEST_P(PathVectorRuleSourceTest, GetLibListBindWhyMapsTheCode) {
    slot()->bindInfo->libListRule = byte();
    EXPECT_EQ(GetParam().libListWhy, run([&] { return PV(getLibListBindWhy)(env, self); }));
}

TEST_P(PathVectorRuleSourceTest, GetStopWhyGivesTheCodesBit) {
    StopRule* stops = arena.stops({{GetParam().code, arena.make<int>()}});
    lib().hooks.zelGetAllMatchingStopRules = [stops](PathVectorRecord*) { return stops; };
    EXPECT_EQ(JNI_TRUE, run([&] { return PV(isAtStop)(env, self); }));
    EXPECT_EQ(GetParam().stopBit, run([&] { return PV(getStopWhy)(env, self); }));
}

INSTANTIATE_TEST_SUITE_P(Codes, PathVectorRuleSourceTest, ::testing::ValuesIn(kCodes),
                         [](const ::testing::TestParamInfo<CodeRow>& p) { return std::string(p.param.name); });

using PathVectorViewListSourceTest = PathVectorTest;

TEST_F(PathVectorViewListSourceTest, NoSourceOrNoTextInItGivesNull) {
    BindInfo& info = *slot()->bindInfo;
    info.viewListRule = ZEL_RULE_INSTANCE;
    EXPECT_EQ(nullptr, run([&] { return PV(getCurrentViewList)(env, self); }));
    info.viewListSource = arena.make<InstRuleRecord>();  // without a view list
    EXPECT_EQ(nullptr, run([&] { return PV(getCurrentViewList)(env, self); }));
    info.viewListRule = 2;  // a code outside the table: never null once there is a source
    EXPECT_EQ("", text(run([&] { return PV(getCurrentViewList)(env, self); })));
}

}  // namespace
