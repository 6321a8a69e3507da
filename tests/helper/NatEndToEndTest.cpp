// From the NAT status in the state database, through the host's NAT state machine and the NAT
// helper, to the chip's tables and the NAT hardware status, on the event loop.

#include "tables/egress/VyrNatTableMgrEgressStatic.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tables/vrf/VyrNatTableMgrVrf.h"
#include "tests/helper/NatTestUtil.h"
#include "tests/support/Invariants.h"

namespace {

using namespace HelperTest;

TEST(NatEndToEnd, TypicalTranslationIsProgrammedAndItsDuplicatesAreRefusedHarmlessly) {
    NatAgent a("default");
    auto& st = *a.owner().tableMgrStatic();
    const auto key = staticKey(ipp("10.0.0.5", 80));
    const auto all = prefix("0.0.0.0/0");
    a.staticIs("NatProfile3", key, conn(ipp("192.0.2.7", 8080), true, 6, {all}));
    a.run();

    EXPECT_EQ(a.programmed("NatProfile3", key), true);
    EXPECT_EQ(a.natSm().status()->staticProgrammed(), 1u);
    // The rule's and its fragments' ACL entries, the address-and-port and fragment entries.
    EXPECT_TRUE(TestSupport::staticRecorded(st, false, 3, {all, 6, false}, false,
                                            ipp("10.0.0.5", 80), ipp("192.0.2.7", 8080)));
    EXPECT_EQ(TestSupport::staticInvariants(st), "");
    EXPECT_EQ(st.tables().entryCount(), 4u);
    const auto programmedChip = Scenario::snapshot(a.chip());

    // The same rule under two more access lists with the same peers: one to another address,
    // one identical.
    const auto other = staticKey(ipp("10.0.0.5", 80), "WEB-BACKUP");
    const auto same = staticKey(ipp("10.0.0.5", 80), "WEB-COPY");
    a.staticIs("NatProfile3", other, conn(ipp("192.0.2.9", 8080), true, 6, {all}));
    a.staticIs("NatProfile3", same, conn(ipp("192.0.2.7", 8080), true, 6, {all}));
    a.run();
    EXPECT_EQ(a.programmed("NatProfile3", other), false);
    EXPECT_EQ(a.programmed("NatProfile3", same), false);
    EXPECT_EQ(a.reason("NatProfile3", same), "duplicate of another translation");
    EXPECT_EQ(a.natSm().status()->staticNotProgrammed(), 2u);
    ASSERT_FALSE(Log::written().empty());
    EXPECT_EQ(Log::written()[0].name, "VYR_NAT_DUPLICATE_ENTRY");
    EXPECT_EQ(Scenario::snapshot(a.chip()), programmedChip);

    // Withdrawing the refused rules takes nothing of the programmed one.
    a.staticDel("NatProfile3", other);
    a.staticDel("NatProfile3", same);
    a.run();
    EXPECT_EQ(Scenario::snapshot(a.chip()), programmedChip);
    EXPECT_EQ(a.programmed("NatProfile3", key), true);
    EXPECT_EQ(TestSupport::staticInvariants(st), "");

    a.staticDel("NatProfile3", key);
    a.run();
    EXPECT_EQ(a.leftOver(), "");
    EXPECT_TRUE(a.hwStatus()->intfStatus.empty());
    EXPECT_TRUE(a.natSm().status()->staticTranslation.empty());
}

TEST(NatEndToEnd, NextHopChangeRewritesTheDestinationEntriesInPlace) {
    NatAgent a("default");
    auto& st = *a.owner().tableMgrStatic();
    const auto addrKey = staticKey(ipp("10.0.0.20"));
    const auto portKey = staticKey(ipp("10.0.0.21", 8443));
    a.nextHops()->nextHop.set(ip("10.0.0.20"), 5);
    a.staticIs("NatProfile3", addrKey, conn(ipp("192.0.2.20"), false));
    a.staticIs("NatProfile3", portKey, conn(ipp("192.0.2.21", 443), false, 6));
    a.run();
    ASSERT_EQ(a.programmed("NatProfile3", addrKey), true);
    ASSERT_EQ(a.programmed("NatProfile3", portKey), true);
    auto& table = *st.addrOnlyDnatTable();
    const auto ms = addrOnlyDnat(3, 1, "192.0.2.20");
    ASSERT_TRUE(table.entry(ms));
    EXPECT_EQ(table.entry(ms)->actionIf<VyrP4::SetTranslatedDipNextHopActionSpec>()->nextHopId(),
              5u);
    const auto handle = table.entryHandle(ms);
    const auto portEntries = st.addrPortDnatTable()->entries();

    a.nextHops()->nextHop.set(ip("10.0.0.20"), 0x80000007);
    a.run();
    const auto rewritten = table.entry(ms);
    ASSERT_TRUE(rewritten);
    const auto* ecmp = rewritten->actionIf<VyrP4::SetTranslatedDipNextHopEcmpActionSpec>();
    ASSERT_NE(ecmp, nullptr);
    EXPECT_EQ(ecmp->ecmpId(), 7u);
    EXPECT_EQ(table.entryHandle(ms), handle) << "the same entry, rewritten";
    EXPECT_EQ(st.addrPortDnatTable()->entries(), portEntries) << "another address is untouched";
    EXPECT_EQ(a.programmed("NatProfile3", addrKey), true);

    // The address-and-port translation and its fragment entry follow their own next hop.
    a.nextHops()->nextHop.set(ip("10.0.0.21"), 9);
    a.run();
    const auto ap = st.addrPortDnatTable()->entries();
    ASSERT_EQ(ap.size(), 1u);
    EXPECT_EQ(ap[0].actionIf<VyrP4::SetTranslatedDipPortNextHopActionSpec>()->nextHopId(), 9u);
    const auto fragAclId = st.hwStaticDnatAclEntries().at(aclKey("0.0.0.0/0", 6, true)).aclId;
    const auto frag = table.entry(addrOnlyDnat(3, fragAclId, "192.0.2.21"));
    ASSERT_TRUE(frag);
    EXPECT_EQ(frag->actionIf<VyrP4::SetTranslatedDipNextHopActionSpec>()->nextHopId(), 9u);

    // Without a next hop the default one is used.
    a.nextHops()->nextHop.erase(ip("10.0.0.20"));
    a.run();
    EXPECT_EQ(table.entry(ms)->actionIf<VyrP4::SetTranslatedDipNextHopActionSpec>()->nextHopId(),
              3u);
    EXPECT_EQ(a.programmed("NatProfile3", addrKey), true);
    EXPECT_EQ(TestSupport::staticInvariants(st), "");
}

TEST(NatEndToEnd, NextHopChangeOfAnEgressDestinationTranslationKeepsIt) {
    NatAgent a("egressNat");
    auto& st = *a.owner().tableMgrStatic();
    // A destination translation configured on egress is programmed in the egress tables.
    const auto key = staticKey(ipp("10.0.0.22", 8080));
    a.staticIs("NatProfile2", key, conn(ipp("192.0.2.22", 80), false, 6, {}, false));
    a.run();
    ASSERT_EQ(a.programmed("NatProfile2", key), true);
    ASSERT_EQ(st.egressDnatTable()->entryCount(), 2u) << "the entry and its fragment companion";
    const auto before = Scenario::snapshot(a.chip());

    a.nextHops()->nextHop.set(ip("10.0.0.22"), 0x80000004);
    a.run();
    EXPECT_EQ(a.programmed("NatProfile2", key), true);
    EXPECT_EQ(Scenario::snapshot(a.chip()), before) << "egress entries carry no next hop";
    EXPECT_EQ(TestSupport::staticInvariants(st), "");
    a.staticDel("NatProfile2", key);
    a.run();
    EXPECT_EQ(a.leftOver(), "");
}

TEST(NatEndToEnd, VrfTableFaultIsRecordedAsNotProgrammed) {
    NatAgent a("vrfNatHop");
    auto& vrf = *a.owner().tableMgrVrf();
    vrf.defaultVrfSnatTable()->engine().failNextWritesIs(1, VyrP4::ChipError::tableFull);
    vrf.natPolicerTable()->engine().failNextWritesIs(1, VyrP4::ChipError::noSysResources);
    auto red = a.vrf("red");
    red->vrfId.set(10);
    red->staticSrc.set(ip("10.10.0.1"), ip("192.0.2.101"));
    red->staticSrc.set(ip("10.10.0.2"), ip("192.0.2.102"));
    red->policer.set(Ip::Nat::VrfPolicer{1000, 100});
    a.run();
    EXPECT_FALSE(a.booted().runner.process().code()) << "the agent keeps running";
    auto hw = *a.hwStatus()->vrfStatus.find("red");
    EXPECT_EQ(*hw->staticSrc.find(ip("10.10.0.1")), false);
    EXPECT_EQ(*hw->staticSrc.find(ip("10.10.0.2")), true);
    EXPECT_EQ(*hw->staticSrcReason.find(ip("10.10.0.1")), "Table full in defaultVrfSnat");
    EXPECT_EQ(hw->policer(), false);
    EXPECT_EQ(hw->policerReason(), "No system resources in natPolicer");
    EXPECT_EQ(vrf.defaultVrfSnatTable()->entryCount(), 1u);
    EXPECT_EQ(vrf.natPolicerTable()->entryCount(), 0u);

    // What was refused leaves the hardware status with its configuration.
    red->staticSrc.erase(ip("10.10.0.1"));
    red->policer.set(std::nullopt);
    a.run();
    EXPECT_EQ(hw->staticSrc.find(ip("10.10.0.1")), nullptr);
    EXPECT_EQ(hw->policer(), std::nullopt);
    EXPECT_EQ(*hw->staticSrc.find(ip("10.10.0.2")), true);
}

TEST(NatEndToEnd, TranslationsTheChipCannotHoldAreNotProgrammed) {
    {
        // An egress-target translation without egress NAT leaves the chip untouched.
        NatAgent a("default");
        const auto before = Scenario::snapshot(a.chip());
        const auto key = staticKey(ipp("10.0.0.30"), "", true);
        a.staticIs("NatProfile3", key, conn(ipp("192.0.2.30"), true));
        a.run();
        EXPECT_EQ(a.programmed("NatProfile3", key), false);
        EXPECT_EQ(a.reason("NatProfile3", key), "no egress NAT tables on this chip");
        // A profile the chip does not have, and an address-only side translated to a port.
        const auto plain = staticKey(ipp("10.0.0.31"));
        a.staticIs("NatProfile4096", plain, conn(ipp("192.0.2.31"), true));
        a.staticIs("NatProfile3", plain, conn(ipp("192.0.2.31", 80), true));
        a.run();
        EXPECT_EQ(a.reason("NatProfile4096", plain), "NAT profile 4096 beyond the chip's 256");
        EXPECT_EQ(a.reason("NatProfile3", plain),
                  "translation of an address without a port to a port");
        EXPECT_EQ(Scenario::snapshot(a.chip()), before);
        a.staticDel("NatProfile4096", plain);
        a.staticDel("NatProfile3", plain);
        a.staticDel("NatProfile3", key);
        a.run();
        EXPECT_TRUE(a.hwStatus()->intfStatus.empty());
    }
    {
        // A rule with more peer prefixes than the ACL table holds takes back what it wrote.
        auto s = TestSupport::BootedAgent::scenarioFor("default");
        std::string error;
        ASSERT_TRUE(s.profile.fieldIs("snatAclTableSize", "5", error)) << error;
        NatAgent a(s);
        std::vector<Ip::IpAddrWithFullMask> peers;
        for (uint32_t i = 1; i <= 6; ++i) {
            peers.push_back({Ip::IpAddr(i << 24), 0xff000000u});
        }
        const auto key = staticKey(ipp("10.0.0.32"));
        a.staticIs("NatProfile3", key, conn(ipp("192.0.2.32"), true, 0, peers));
        a.run();
        EXPECT_EQ(a.programmed("NatProfile3", key), false);
        EXPECT_EQ(a.reason("NatProfile3", key), "no ACL id left in staticSnatAcl");
        EXPECT_EQ(a.owner().tableMgrStatic()->tables().entryCount(), 0u);
        a.staticDel("NatProfile3", key);
        a.run();
    }
    // A chip for NAT between VRFs only has no interface translation tables.
    NatAgent a("vrfNatHop");
    const auto before = Scenario::snapshot(a.chip());
    const auto key = staticKey(ipp("10.0.0.31", 80));
    a.staticIs("NatProfile3", key, conn(ipp("192.0.2.31", 80), true, 6));
    a.staticIs("Ethernet1", key, conn(ipp("192.0.2.31", 80), true, 6));
    a.status()->vlanNatProfile.set(100, {3, ""});
    a.run();
    EXPECT_EQ(a.programmed("NatProfile3", key), false);
    EXPECT_EQ(a.reason("NatProfile3", key), "no static NAT tables on this chip");
    EXPECT_EQ(a.reason("Ethernet1", key), "interface is not a NAT profile");
    EXPECT_EQ(Scenario::snapshot(a.chip()), before);
    a.staticDel("NatProfile3", key);
    a.staticDel("Ethernet1", key);
    a.status()->vlanNatProfile.erase(100);
    a.run();
    EXPECT_TRUE(a.hwStatus()->intfStatus.empty());
}

} // namespace

namespace {

TEST(NatEndToEnd, EgressPipelineTranslationsShareTheirEntryAndARetryReportsItProgrammed) {
    NatAgent a("egressNat");
    auto& egress = *a.owner().tableMgrEgressStatic();
    // One address under two access lists: two users of one entry.
    const auto first = staticKey(ipp("10.0.0.7"), "A", true);
    const auto second = staticKey(ipp("10.0.0.7"), "B", true);
    egress.forceEntryInstallFailIs(1);
    a.staticIs("NatProfile1", first, conn(ipp("192.0.2.7"), true));
    a.run();
    EXPECT_EQ(a.programmed("NatProfile1", first), false);
    a.booted().loop.advance(Tasking::seconds(1.0));
    EXPECT_EQ(a.programmed("NatProfile1", first), true) << "the retry wrote it";

    a.staticIs("NatProfile1", second, conn(ipp("192.0.2.7"), true));
    a.run();
    EXPECT_EQ(a.programmed("NatProfile1", second), true);
    a.staticDel("NatProfile1", first);
    a.run();
    EXPECT_EQ(egress.egrAddrSnatTable()->entryCount(), 1u) << "the second still needs it";
    EXPECT_EQ(TestSupport::invariants(a.owner()), "");
    a.staticDel("NatProfile1", second);
    a.run();
    EXPECT_EQ(a.leftOver(), "");
}

} // namespace
