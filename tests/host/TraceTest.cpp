#include "host/Trace.h"
#include "host/Duolog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <tuple>
#include <vector>

namespace {

Trace::Handle helperTrace("VyrNatHelper");
Trace::Handle tableMgrTrace("VyrNatTableMgr");
Trace::Handle staticTrace("VyrNatTableMgrStatic");

struct TraceFixture : ::testing::Test {
    std::ostringstream out;
    void SetUp() override { Trace::streamIs(&out); }
    void TearDown() override {
        Trace::configure("");
        Trace::streamIs(nullptr);
        ::unsetenv("VYRNAT_TRACE");
    }
};

// Regression: each star used to retry every split of the rest, so a run of stars took
// exponential time (12 stars: 28 s); 60 would never end.
TEST_F(TraceFixture, SettingSwitchesMatchingHandlesAtTheGivenLevelsAndStarsStayCheap) {
    const std::string stars(60, '*');
    // A setting, then the masks of the helper, the table manager and the static manager.
    const std::vector<std::tuple<std::string, uint16_t, uint16_t, uint16_t>> cases = {
        {"VyrNatHelper/0-9,VyrNatTableMgr*/2-3,VyrNatTableMgr/7", 0x3ff, 0x8c, 0x0c},
        {"*Static", 0, 0, 0x3ff},
        {stars + "Static" + stars + "X", 0, 0, 0},
        {stars + "Mgr" + stars + "c" + stars, 0, 0, 0x3ff},
        {"VyrNat*Mgr*", 0, 0x3ff, 0x3ff},
        {"*Helper,V*r*t*S*c", 0x3ff, 0, 0x3ff},
    };
    for (const auto& [setting, helper, tableMgr, stat] : cases) {
        ASSERT_EQ(Trace::configure(setting), "") << setting;
        EXPECT_EQ(helperTrace.mask(), helper) << setting;
        EXPECT_EQ(tableMgrTrace.mask(), tableMgr) << setting;
        EXPECT_EQ(staticTrace.mask(), stat) << setting;
    }
    // A handle made later picks up the setting in force.
    EXPECT_EQ(Trace::Handle("LateHelper").mask(), 0x3ff);
}

TEST_F(TraceFixture, NamesMatchingNoHandleAreReportedOncePerSetting) {
    ASSERT_EQ(Trace::configure("VyrNatHelper,VyrNatHelpr/3,Nope*,VyrNatTableMgr*"), "");
    EXPECT_EQ(Trace::unmatched(), (std::vector<std::string>{"VyrNatHelpr", "Nope*"}));
    testing::internal::CaptureStderr();
    Trace::reportUnmatched();
    Trace::reportUnmatched();
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed.find("trace: no trace handle is named 'VyrNatHelpr', 'Nope*' (handles: "), 0u)
        << printed;
    EXPECT_NE(printed.find("VyrNatHelper, VyrNatTableMgr, VyrNatTableMgrStatic"), std::string::npos)
        << printed;
    EXPECT_EQ(printed.find("trace:", 1), std::string::npos) << "reported twice";

    // A handle registered later, as a loaded library's are, takes its pattern off the list.
    Trace::Handle late("NopeLater");
    EXPECT_EQ(Trace::unmatched(), std::vector<std::string>{"VyrNatHelpr"});
}

TEST_F(TraceFixture, BadSettingsAreRefusedWithAReasonAndChangeNothing) {
    ASSERT_EQ(Trace::configure("VyrNatHelper/4"), "");
    for (const char* bad : {"VyrNatHelper/10", "VyrNatHelper/5-2", "VyrNatHelper/", "/3",
                            "VyrNatHelper/a-b", "VyrNatHelper/0-9,,X", ",", "X/1-", "X/-1"}) {
        EXPECT_NE(Trace::configure(bad), "") << bad;
        EXPECT_EQ(helperTrace.mask(), 0x10) << bad;
    }
    EXPECT_NE(Trace::configure("VyrNatHelper/12").find("give a level 0 to 9"), std::string::npos);

    ::setenv("VYRNAT_TRACE", "VyrNatHelper/0-99", 1);
    testing::internal::CaptureStderr();
    std::string error = Trace::applyEnvironment();
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(error.find("VYRNAT_TRACE"), std::string::npos);
    EXPECT_NE(printed.find("bad levels '0-99'"), std::string::npos);
    EXPECT_EQ(helperTrace.mask(), 0x10);

    ::setenv("VYRNAT_TRACE", "VyrNatHelper/1", 1);
    EXPECT_EQ(Trace::applyEnvironment(), "");
    EXPECT_EQ(helperTrace.mask(), 0x02);
}

TEST_F(TraceFixture, LinesStartWithTheFunctionAndOffLevelsFormatNothing) {
    ASSERT_EQ(Trace::configure("VyrNatHelper/0-2"), "");
    int formatted = 0;
    auto costly = [&formatted] {
        ++formatted;
        return 42;
    };
    VTRACE(helperTrace, 3, "never " << costly());
    VTRACE(staticTrace, 0, "never " << costly());
    EXPECT_EQ(formatted, 0);
    VTRACE(helperTrace, 2, "Nat: " << costly() << ", intf nat: " << true);
    EXPECT_EQ(formatted, 1);
    EXPECT_EQ(out.str(), "TestBody: Nat: 42, intf nat: true\n");

    out.str("");
    DUOLOG(helperTrace, 0, "%s: %d entries", "vrfStatus", 3);
    EXPECT_EQ(out.str(), "TestBody: vrfStatus: 3 entries\n");
}

} // namespace
