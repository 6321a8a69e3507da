#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/support/AgentFixture.h"

#include <gtest/gtest.h>

namespace {

TEST(AgentBoot, DefaultProfileBringsEveryStaticTableUpAndStarts) {
    TestSupport::BootedAgent a(TestSupport::BootedAgent::scenarioFor("default"));
    a.boot();
    ASSERT_NE(a.owner(), nullptr);
    EXPECT_EQ(a.owner()->pendingTableCount(), 0u);
    EXPECT_TRUE(a.agent->natAgentSm()->started());
    auto* st = a.owner()->tableMgrStatic();
    ASSERT_NE(st, nullptr);
    EXPECT_NE(st->addrOnlySnatTable(), nullptr);
    EXPECT_EQ(st->snatAclIds().countSet(), 1u);
    EXPECT_EQ(a.chip->tables().size(), 8u);
}

TEST(AgentBoot, NoNatProfileGoesDownThroughTheFlushWithExitCodeZero) {
    TestSupport::BootedAgent a(TestSupport::BootedAgent::scenarioFor("noNat"));
    a.boot();
    EXPECT_EQ(a.owner(), nullptr);
    EXPECT_EQ(a.runner.process().code(), 0);
}

} // namespace
