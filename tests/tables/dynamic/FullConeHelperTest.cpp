// The full-cone helpers and the dynamic SNAT ACL helper on a booted agent: shared range ids and
// entries, refused pools and rules, and full-cone DNAT connections through the dynamic manager,
// checked in the chip's tables and against the invariants.

#include "common/TranslationActions.h"
#include "host/LogMessage.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/NatValues.h"

#include <gtest/gtest.h>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;
using TestSupport::ipp;

IpAddrWithFullMask prefix(const char* text) {
    return *IpAddrWithFullMask::parse(text);
}

// The default profile has every full-cone capability.
struct FullCone {
    FullCone() : agent(BootedAgent::scenarioFor("default", {})) {
        agent.boot();
        mgr = agent.owner()->tableMgrDynamic();
    }
    // These tests hold the helpers' references themselves, in place of trap rules.
    std::string invariants() const {
        return TestSupport::dynamicInvariants(*mgr, TestSupport::HelperUsers::direct);
    }

    BootedAgent agent;
    VyrNatTableMgrDynamic* mgr = nullptr;
};

TEST(FullConeHelpers, SourceSideEntriesShareRangeIdsAndOverlappingPoolsAreRefused) {
    FullCone f;
    auto& h = *f.mgr->dynamicFullConeHelper();
    const auto& dip = *h.dynamicFullConeDipTable();
    const auto& fc = *h.dynamicFullConeTable();
    const auto pool = prefix("10.1.0.0/24");
    ASSERT_TRUE(h.createDynamicFullConeEntry(1, 5000, 0xffff, pool, 17));
    // The first range id is 1, and the source side matches no port.
    ASSERT_EQ(dip.entryCount(), 1u);
    const auto compress = dip.entries()[0];
    EXPECT_EQ(compress.match().outerIpv4HdrDip(), pool.addr.value);
    EXPECT_EQ(compress.match().outerIpv4HdrDipMask(), pool.mask);
    EXPECT_EQ(compress.actionIf<VyrP4::SetFullConeDipRangeIdActionSpec>()->rangeId(), 1u);
    ASSERT_EQ(fc.entryCount(), 1u);
    const auto entry = fc.entries()[0];
    EXPECT_EQ(entry.match().ingMdFullConeDipRangeId(), 1u);
    EXPECT_EQ(entry.match().l4PortHdrDstPort(), 0u);
    EXPECT_EQ(entry.match().l4PortHdrDstPortMask(), 0u);
    EXPECT_NE(entry.actionIf<VyrP4::ClearSipActionSpec>(), nullptr);

    // Another profile shares the pool's range id; another port of the same rule is the same
    // entry once the port is dropped.
    ASSERT_TRUE(h.createDynamicFullConeEntry(2, 6000, 0xffff, pool, 17));
    ASSERT_TRUE(h.createDynamicFullConeEntry(1, 7000, 0xff00, pool, 17));
    EXPECT_EQ(dip.entryCount(), 1u);
    EXPECT_EQ(fc.entryCount(), 2u);
    EXPECT_EQ(h.dynamicFullConeCompress(pool)->refCount, 3u);
    EXPECT_EQ(f.invariants(), "");

    // A /25 inside the /24 is refused with both named, and nothing is written.
    Log::reset();
    EXPECT_FALSE(h.createDynamicFullConeEntry(1, 0, 0, prefix("10.1.0.128/25"), 17));
    ASSERT_EQ(Log::written().size(), 1u);
    EXPECT_EQ(Log::written()[0].name, "VYR_NAT_FULL_CONE_RANGE_OVERLAP");
    EXPECT_EQ(Log::written()[0].text, "Detected two overlapping full cone NAT pool ranges, "
                                      "10.1.0.0/255.255.255.0 and 10.1.0.128/255.255.255.128");
    EXPECT_EQ(dip.entryCount(), 1u);
    // A refused full-cone write keeps no range id for it.
    h.dynamicFullConeTable()->engine().failNextWritesIs(1);
    EXPECT_FALSE(h.createDynamicFullConeEntry(1, 0, 0, prefix("10.2.0.0/24"), 17));
    EXPECT_EQ(h.dynamicFullConeCompress().size(), 1u);
    EXPECT_EQ(f.invariants(), "");

    // Removing one user keeps the id; the last frees it for the next pool.
    h.deleteDynamicFullConeEntry(2, pool, 6000, 0xffff, 17);
    h.deleteDynamicFullConeEntry(1, pool, 5000, 0xffff, 17);
    ASSERT_NE(h.dynamicFullConeCompress(pool), nullptr);
    EXPECT_EQ(h.dynamicFullConeCompress(pool)->rangeId, 1u);
    EXPECT_EQ(fc.entryCount(), 1u);
    h.deleteDynamicFullConeEntry(1, pool, 7000, 0xff00, 17);
    h.deleteDynamicFullConeEntry(1, pool, 7000, 0xff00, 17); // not there any more
    EXPECT_EQ(h.dynamicFullConeCompress(pool), nullptr);
    ASSERT_TRUE(h.createDynamicFullConeEntry(1, 0, 0, prefix("10.3.0.0/16"), 6));
    EXPECT_EQ(h.dynamicFullConeCompress(prefix("10.3.0.0/16"))->rangeId, 1u);
    h.deleteDynamicFullConeEntry(1, prefix("10.3.0.0/16"), 0, 0, 6);
    EXPECT_EQ(f.invariants(), "");
    EXPECT_EQ(f.agent.leftOver(), "");
}

TEST(DynamicSnatAcl, FullConeRulesAreUdpOnlyAndOneMatchKeepsTheFirstRulesEntry) {
    FullCone f;
    auto& h = *f.mgr->dynamicSnatAclHelper();
    const auto& table = *h.dynamicSnatAclTable();
    const auto src = prefix("10.0.0.0/8");
    const auto dst = prefix("0.0.0.0/0");
    Log::reset();
    EXPECT_FALSE(h.createDynamicSnatAclEntry(4, src, dst, 6, 0, 0, 80, 0xffff, 10, false, true));
    ASSERT_EQ(Log::written().size(), 1u);
    EXPECT_EQ(Log::written()[0].text,
              "Unsupported protocol 6 used in dynamic SNAT ACL : Source:10.0.0.0/255.0.0.0 "
              "Destination:0.0.0.0/0.0.0.0 Protocol:6 Source Port:0/0x0 Destination Port "
              "80/0xffff");
    EXPECT_EQ(table.entryCount(), 0u);

    ASSERT_TRUE(h.createDynamicSnatAclEntry(4, src, dst, 17, 0, 0, 80, 0xffff, 10, false, true));
    // The same match with another priority and action counts in the first rule's entry.
    ASSERT_TRUE(h.createDynamicSnatAclEntry(4, src, dst, 17, 0, 0, 80, 0xffff, 20, false, false));
    ASSERT_EQ(table.entryCount(), 1u);
    const auto entry = table.entries()[0];
    EXPECT_NE(entry.actionIf<VyrP4::ClearDipActionSpec>(), nullptr);
    EXPECT_EQ(entry.match().priority(), 10);
    EXPECT_EQ(entry.match().ingMdEgrNatProfileIdMask(), 0xff);
    // An ordinary rule copies the destination.
    ASSERT_TRUE(h.createDynamicSnatAclEntry(4, src, dst, 6, 0, 0, 80, 0xffff, 30, false, false));
    EXPECT_EQ(table.entryCount(), 2u);
    EXPECT_EQ(f.invariants(), "");

    h.deleteDynamicSnatAclEntry(4, src, dst, 17, 0, 0, 80, 0xffff);
    EXPECT_EQ(table.entry(entry.match())->action(), entry.action());
    h.deleteDynamicSnatAclEntry(4, src, dst, 17, 0, 0, 80, 0xffff);
    EXPECT_FALSE(table.entry(entry.match()));
    h.deleteDynamicSnatAclEntry(4, src, dst, 17, 0, 0, 80, 0xffff); // unknown: nothing happens
    h.deleteDynamicSnatAclEntry(4, src, dst, 6, 0, 0, 80, 0xffff);
    EXPECT_EQ(f.invariants(), "");
    EXPECT_EQ(f.agent.leftOver(), "");
}

TEST(FullConeDnat, ConnectionsToOnePublicPortShareOneEntryThroughTheDynamicManager) {
    FullCone f;
    auto* m = f.mgr;
    const auto& h = *m->dynamicFullConeDnatHelper();
    const auto& table = *h.dynamicFullConeDnatTable();
    const Ip::ConnTuple fromA{ipp("8.8.8.8", 53), ipp("1.1.1.1", 7000), 17};
    const Ip::ConnTuple fromB{ipp("9.9.9.9", 53), ipp("1.1.1.1", 7000), 17};
    auto dnat = [&](const Ip::ConnTuple& c, IpAndPort to, bool update) {
        return m->createDynamicDnat(3, c, c.src, c.dst, to, 7, false, update, true, 1);
    };
    ASSERT_TRUE(dnat(fromA, ipp("10.0.0.1", 5000), false));
    ASSERT_TRUE(dnat(fromB, ipp("10.0.0.1", 5000), false));
    EXPECT_EQ(m->dynamicDnatTable().size(), 0u);
    EXPECT_EQ(h.dynamicFullConeCompressDipTable()->entryCount(), 1u);
    ASSERT_EQ(table.entryCount(), 1u);
    const auto key = h.dynamicFullConeDnatKey(3, fromA.dst, 17);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->rangeId, 1u);
    const auto* entry = h.dynamicFullConeDnat(*key);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->refCount, 2u);
    EXPECT_EQ(entry->matchSpec.l4PortHdrDstPort(), 7000u);

    // An update rewrites the shared entry in place.
    ASSERT_TRUE(dnat(fromA, ipp("10.0.0.2", 5001), true));
    EXPECT_EQ(table.entry(entry->matchSpec)->action(),
              VyrP4::DynamicFullConeDnatTable::Action(
                  addrPortTranslation<VyrP4::SetTranslatedDipPortActionSpec>(
                      fromA.dst, ipp("10.0.0.2", 5001))));
    EXPECT_EQ(entry->refCount, 2u);

    // A refused write takes nothing, and the host learns why.
    table.engine().failNextWritesIs(1);
    const Ip::ConnTuple otherPort{ipp("8.8.8.8", 53), ipp("1.1.1.1", 7001), 17};
    EXPECT_FALSE(dnat(otherPort, ipp("10.0.0.1", 5000), false));
    EXPECT_EQ(m->refusal(), "Table full in dynamicFullConeDnat");
    EXPECT_EQ(h.dynamicFullConeCompress(prefix("1.1.1.1/32"))->refCount, 2u);
    EXPECT_EQ(f.invariants(), "");

    EXPECT_TRUE(m->deleteDynamicDnat(3, fromA, fromA.dst, true, 1));
    EXPECT_EQ(table.entryCount(), 1u);
    EXPECT_TRUE(m->deleteDynamicDnat(3, fromB, fromB.dst, true, 1));
    EXPECT_EQ(table.entryCount(), 0u);
    EXPECT_EQ(f.invariants(), "");
    EXPECT_EQ(f.agent.leftOver(), "");
}

} // namespace
