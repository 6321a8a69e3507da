#include "common/VyrNatUtils.h"
#include "host/Assert.h"
#include "host/LogMessage.h"
#include "host/VyrVrfIdHelper.h"
#include "tables/vrf/VyrNatTableMgrVrf.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/ChipCheck.h"
#include "tests/support/Invariants.h"

#include <gtest/gtest.h>

namespace {

using Ip::IpAddr;
using TestSupport::BootedAgent;
using namespace VyrNat;

IpAddr ip(const char* text) {
    return *IpAddr::parse(text);
}

class VrfMgr : public ::testing::Test {
protected:
    void SetUp() override {
        agent.boot();
        mgr = agent.owner()->tableMgrVrf();
        ASSERT_NE(mgr, nullptr);
        meters = mgr->meterTableConfig().get();
    }

    Host::ThrowOnAssert throwOnAssert;
    BootedAgent agent{BootedAgent::scenarioFor("vrfNatHop")};
    VyrNatTableMgrVrf* mgr = nullptr;
    VyrSharedState::MeterTableConfig* meters = nullptr;
};

TEST_F(VrfMgr, BootListsFourTablesWritesTheFixedEntryAndRegistersTheMeterTable) {
    EXPECT_EQ(agent.owner()->pendingTableCount(), 0u);
    EXPECT_TRUE(agent.owner()->allManagersPresent());
    EXPECT_EQ(agent.owner()->tableMgrStatic(), nullptr);
    EXPECT_EQ(agent.owner()->tableMgrEgressStatic(), nullptr);
    std::vector<std::string> listed;
    for (const auto& [n, reg] : agent.owner()->profileDataEntry()->hwTables) {
        listed.push_back(reg.name);
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"ingressNatAclVrf", "addrAndVrfDnat",
                                                "defaultVrfSnat", "natPolicer"}));

    VyrP4::IngressNatAclVrfMatchSpec ms;
    ms.l3InfoVrfIdIs(0, 0xffff);
    VyrP4::IngressNatAclVrfBaseActionSpec action;
    action.natVrfEnableIs(1);
    EXPECT_EQ(TestSupport::tableDiff(*mgr->ingressNatAclVrfTable(), {{ms, action}}), "");

    const auto* reg = meters->meterTable.find("natMeter");
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(*reg, (VyrSharedState::MeterTableReg{{0}, true, 0}));
    EXPECT_EQ(agent.sysdb().getEntity("hardware/vyr/meter/natMeter").get(), meters);
}

TEST_F(VrfMgr, SourceTranslationsAreRecordedPerVrfAndDeletedWithTheirRecord) {
    EXPECT_TRUE(mgr->updateVrfSnatTable(ip("10.0.0.1"), ip("1.1.1.1"), 5, false));
    EXPECT_TRUE(mgr->updateVrfSnatTable(ip("10.0.0.2"), ip("1.1.1.2"), 5, false));
    EXPECT_TRUE(mgr->updateVrfSnatTable(ip("10.0.0.1"), ip("1.1.1.3"), 6, false));
    EXPECT_EQ(mgr->defaultVrfSnatTable()->entryCount(), 3u);
    ASSERT_EQ(mgr->hwSnatEntries().size(), 2u);
    EXPECT_EQ(mgr->hwSnatEntries().at(5).matchSpec.size(), 2u);

    VyrP4::DefaultVrfSnatMatchSpec ms;
    ms.outerIpv4HdrSipIs(ip("10.0.0.1").value);
    ms.l3InfoVrfIdIs(6);
    const auto entry = mgr->defaultVrfSnatTable()->entry(ms);
    ASSERT_TRUE(entry);
    const auto* action = entry->actionIf<VyrP4::SetIpv4SnatActionSpec>();
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->translatedSip(), ip("1.1.1.3").value);
    EXPECT_EQ(action->checksumDelta(),
              calculateChecksumDeltaAddrOnly(ip("10.0.0.1").value, ip("1.1.1.3").value));

    // Deleting what was never added changes nothing.
    EXPECT_FALSE(mgr->updateVrfSnatTable(ip("10.0.0.9"), ip("1.1.1.1"), 5, true));
    EXPECT_FALSE(mgr->updateVrfSnatTable(ip("10.0.0.1"), ip("1.1.1.1"), 9, true));
    EXPECT_EQ(mgr->defaultVrfSnatTable()->entryCount(), 3u);

    EXPECT_TRUE(mgr->updateVrfSnatTable(ip("10.0.0.1"), ip("1.1.1.1"), 5, true));
    EXPECT_TRUE(mgr->updateVrfSnatTable(ip("10.0.0.2"), ip("1.1.1.2"), 5, true));
    EXPECT_EQ(mgr->hwSnatEntries().count(5), 0u);
    EXPECT_TRUE(mgr->updateVrfSnatTable(ip("10.0.0.1"), ip("1.1.1.3"), 6, true));
    EXPECT_TRUE(mgr->hwSnatEntries().empty());
    EXPECT_EQ(mgr->defaultVrfSnatTable()->entryCount(), 0u);
}

TEST_F(VrfMgr, DestinationTranslationIsOneEntryPerAddressAndOneVrf) {
    EXPECT_TRUE(mgr->updateVrfDnatTable(ip("1.1.1.1"), ip("10.0.0.1"), 7, false));
    EXPECT_TRUE(mgr->updateVrfDnatTable(ip("1.1.1.1"), ip("10.0.0.2"), 7, false));
    VyrP4::AddrAndVrfDnatMatchSpec ms;
    ms.outerIpv4HdrDipIs(ip("1.1.1.1").value);
    VyrP4::SetTranslatedVrfDipActionSpec action;
    action.checksumDeltaIs(
        calculateChecksumDeltaAddrOnly(ip("1.1.1.1").value, ip("10.0.0.2").value));
    action.translatedDipIs(ip("10.0.0.2").value);
    action.dipAndVrfIs(VyrVrfIdHelper_ipv4DipAndVrf(7, ip("10.0.0.2").value, 1));
    action.vrfIdIs(7);
    const std::vector<VyrP4::AddrAndVrfDnatEntry> held = {{ms, action}};
    EXPECT_EQ(TestSupport::tableDiff(*mgr->addrAndVrfDnatTable(), held), "");

    // The entry translates into one VRF: another VRF's translation of the address is refused,
    // and so is its delete.
    Log::reset();
    EXPECT_FALSE(mgr->updateVrfDnatTable(ip("1.1.1.1"), ip("10.0.0.3"), 5, false));
    EXPECT_EQ(Log::written().size(), 1u);
    EXPECT_FALSE(mgr->updateVrfDnatTable(ip("1.1.1.1"), ip("10.0.0.3"), 5, true));
    EXPECT_EQ(TestSupport::tableDiff(*mgr->addrAndVrfDnatTable(), held), "");

    EXPECT_TRUE(mgr->updateVrfDnatTable(ip("1.1.1.1"), ip("10.0.0.2"), 7, true));
    EXPECT_FALSE(mgr->updateVrfDnatTable(ip("1.1.1.1"), ip("10.0.0.2"), 7, true));
    EXPECT_EQ(mgr->addrAndVrfDnatTable()->entryCount(), 0u);
    EXPECT_TRUE(mgr->updateVrfDnatTable(ip("1.1.1.1"), ip("10.0.0.3"), 5, false));
    EXPECT_TRUE(mgr->updateVrfDnatTable(ip("1.1.1.1"), ip("10.0.0.3"), 5, true));
    EXPECT_EQ(TestSupport::vrfInvariants(*mgr), "");
}

TEST_F(VrfMgr, PolicerWithRateAndBurstZeroIsDeletedInTheTableAndEveryPipe) {
    meters->pipeConfigIs(1); // a chip with two pipes
    EXPECT_TRUE(mgr->updateSnatPolicerTable(5, 1000, 200, false));
    EXPECT_TRUE(mgr->updateSnatPolicerTable(5, 2000, 300, false));
    ASSERT_EQ(mgr->natPolicerTable()->entryCount(), 1u);
    EXPECT_EQ(
        mgr->natPolicerTable()->entries()[0].actionIf<VyrP4::SetNatMeterActionSpec>()->meterIndex(),
        5u);
    for (const auto& [pipe, config] : meters->pipeConfig) {
        ASSERT_NE(config->config.find(5), nullptr) << "pipe " << int(pipe);
        EXPECT_EQ(*config->config.find(5), (VyrSharedState::MeterConfig{2000, 300, false}));
    }

    // What the helper sends for rate and burst 0.
    EXPECT_TRUE(mgr->updateSnatPolicerTable(5, 0, 0, true));
    EXPECT_EQ(mgr->natPolicerTable()->entryCount(), 0u);
    EXPECT_TRUE(mgr->hwPolicerEntries().matchSpec.empty());
    for (const auto& [pipe, config] : meters->pipeConfig) {
        EXPECT_TRUE(config->config.empty()) << "pipe " << int(pipe);
    }
    EXPECT_TRUE(mgr->updateSnatPolicerTable(5, 0, 0, true));
}

TEST_F(VrfMgr, ChipFaultsPassToTheCallerWithNothingRecorded) {
    mgr->defaultVrfSnatTable()->engine().failNextWritesIs(1);
    EXPECT_THROW(mgr->updateVrfSnatTable(ip("10.0.0.1"), ip("1.1.1.1"), 5, false),
                 VyrP4::TableFull);
    EXPECT_TRUE(mgr->hwSnatEntries().empty());

    mgr->addrAndVrfDnatTable()->engine().failNextWritesIs(1);
    EXPECT_THROW(mgr->updateVrfDnatTable(ip("1.1.1.1"), ip("10.0.0.1"), 5, false),
                 VyrP4::TableFull);
    EXPECT_TRUE(mgr->hwDnatEntries().matchSpec.empty());

    mgr->natPolicerTable()->engine().failNextWritesIs(1, VyrP4::ChipError::noSysResources);
    EXPECT_THROW(mgr->updateSnatPolicerTable(5, 1000, 200, false), VyrP4::NoSysResources);
    EXPECT_TRUE(mgr->hwPolicerEntries().matchSpec.empty());
    EXPECT_TRUE((*meters->pipeConfig.find(0))->config.empty());
}

TEST(VyrVrfIdHelper, PacksTheVrfAboveTheLowHalfOfTheAddressWhenFlagged) {
    EXPECT_EQ(VyrVrfIdHelper_ipv4DipAndVrf(5, ip("10.0.1.2").value, 1), 0x00050102u);
    EXPECT_EQ(VyrVrfIdHelper_ipv4DipAndVrf(5, ip("10.0.1.2").value, 0), 0x00050000u);
    EXPECT_EQ(VyrVrfIdHelper_ipv4DipAndVrf(0x1fffe, 0, 0xff), 0xfffe0000u);
}

} // namespace
