// The dynamic manager on a booted agent: where connections go, what the chip holds for them, and
// what is refused, checked against the invariants after each case.

#include "host/Assert.h"
#include "host/SystemStatus.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/NatValues.h"
#include "tests/support/TraceCapture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;
using TestSupport::ipp;
using S = DynamicSnatTable;
using D = DynamicDnatTable;

ConnTuple conn(const char* src, uint16_t sport, const char* dst, uint16_t dport,
               uint8_t proto = 6) {
    return {ipp(src, sport), ipp(dst, dport), proto};
}

// A booted agent and its dynamic manager.
struct Dyn {
    explicit Dyn(Scenario::Scenario s) : agent(std::move(s)) {
        agent.boot();
        mgr = agent.owner()->tableMgrDynamic();
    }
    // The SNAT of a TCP connection from 10.0.0.N:1000 to 8.8.8.8:53 to 1.1.1.1:N.
    bool snat(uint16_t n, uint32_t vrf = 1) {
        const ConnTuple f = flow(n);
        return mgr->createDynamicSnat(f, f.src, f.dst, ipp("1.1.1.1", n), 1, false, vrf);
    }
    bool dnat(uint16_t n, uint32_t vrf = 1, bool update = false) {
        const ConnTuple f = flow(n);
        return mgr->createDynamicDnat(1, f, f.src, f.dst, ipp("192.168.0.1", 80), 7, false, update,
                                      false, vrf);
    }
    static ConnTuple flow(uint16_t n) {
        return {{Ip::IpAddr(10, 0, 0, uint8_t(n)), 1000}, ipp("8.8.8.8", 53), 6};
    }
    S snatPlace(uint16_t n, uint32_t vrf = 1) const {
        return mgr->dynamicSnatTable().place(flow(n), vrf);
    }
    std::string invariants() const { return TestSupport::dynamicInvariants(*mgr); }

    BootedAgent agent;
    VyrNatTableMgrDynamic* mgr = nullptr;
};

// Interface NAT with the five-tuple tables of the given sizes and no full cone.
Scenario::Scenario fiveTuple(const char* dnat1, const char* dnat2, const char* snat1,
                             const char* snat2) {
    return BootedAgent::scenarioFor("egressNat", {{"dnat1TableSize", dnat1},
                                                  {"dnat2TableSize", dnat2},
                                                  {"snat1TableSize", snat1},
                                                  {"snat2TableSize", snat2}});
}

TEST(DynamicMgr, CandidatesByFreeCountWithTheDnat1SplitAndFallThrough) {
    {
        // 10/10/5/4: DNAT1 keeps (20 - 9) / 2 = 5 for SNAT. SNAT fills DNAT1's share (the most
        // free) first, then SNAT1 and SNAT2; DNAT takes the rest of DNAT1 and DNAT2.
        Dyn d(fiveTuple("10", "10", "5", "4"));
        EXPECT_EQ(d.mgr->dnat1SnatEntriesMax(), 5u);
        EXPECT_EQ(d.mgr->dnat1DnatEntriesMax(), 5u);
        TestSupport::TraceCapture trace;
        for (uint16_t n = 1; n <= 14; ++n) {
            ASSERT_TRUE(d.snat(n)) << n;
        }
        EXPECT_FALSE(d.snat(15));
        EXPECT_TRUE(trace.has("No space left in DynamicDnat1 for snat entries"));
        EXPECT_EQ(d.mgr->dnat1SnatEntries(), 5u);
        EXPECT_EQ(d.mgr->dynamicSnatTable().count(S::dynSnat1), 5u);
        EXPECT_EQ(d.mgr->dynamicSnatTable().count(S::dynSnat2), 4u);
        for (uint16_t n = 1; n <= 15; ++n) {
            ASSERT_TRUE(d.dnat(n)) << n;
        }
        EXPECT_FALSE(d.dnat(16));
        EXPECT_TRUE(trace.has("No space left in DynamicDnat1 for dnat entries"));
        EXPECT_EQ(d.mgr->dnat1DnatEntries(), 5u);
        EXPECT_EQ(d.mgr->dynamicDnatTable().count(D::dynDnat2), 10u);
        EXPECT_EQ(d.invariants(), "");
        // A connection that was never created is not deleted.
        EXPECT_FALSE(d.mgr->deleteDynamicSnat(1, Dyn::flow(99), ipp("8.8.8.8", 53), false, 1));
        for (uint16_t n = 1; n <= 15; ++n) {
            EXPECT_EQ(d.mgr->deleteDynamicSnat(1, Dyn::flow(n), ipp("8.8.8.8", 53), false, 1),
                      n <= 14);
            EXPECT_TRUE(d.mgr->deleteDynamicDnat(1, Dyn::flow(n), ipp("8.8.8.8", 53), false, 1));
        }
        EXPECT_EQ(d.agent.leftOver(), "");
    }
    {
        // With full-cone DNAT, DNAT1 keeps nothing for SNAT, however small the SNAT tables.
        Dyn d(BootedAgent::scenarioFor("default",
                                       {{"snat1TableSize", "4"}, {"snat2TableSize", "4"}}));
        EXPECT_EQ(d.mgr->dnat1SnatEntriesMax(), 0u);
        EXPECT_EQ(d.mgr->dnat1DnatEntriesMax(), d.mgr->dnat1TableSize());
    }
    {
        // Equal free counts: SNAT1, then SNAT2, then DNAT1. A refused SNAT1 write falls
        // through to the next candidate in the same call.
        Dyn d(fiveTuple("4", "12", "4", "4"));
        ASSERT_EQ(d.mgr->dnat1SnatEntriesMax(), 4u);
        std::vector<S> places;
        for (uint16_t n = 1; n <= 6; ++n) {
            ASSERT_TRUE(d.snat(n));
            places.push_back(d.snatPlace(n));
        }
        EXPECT_EQ(places, (std::vector{S::dynSnat1, S::dynSnat2, S::dynDnat1Snat, S::dynSnat1,
                                       S::dynSnat2, S::dynDnat1Snat}));
        d.mgr->dynamicSnat1Table()->engine().failNextWritesIs(1);
        ASSERT_TRUE(d.snat(7));
        EXPECT_EQ(d.snatPlace(7), S::dynSnat2);
        EXPECT_EQ(d.invariants(), "");
    }
}

TEST(DynamicMgr, FullConeKeysUpdatesAndVrfs) {
    // The default profile matches SNAT1 on the metadata destination: a full-cone UDP source to
    // two peers is one key, (0.0.0.0, profile), and one entry.
    Dyn d(BootedAgent::scenarioFor("default", {{"dynFullConeDnatSupported", "false"}}));
    const ConnTuple toA = conn("10.0.0.1", 5000, "8.8.8.8", 53, 17);
    const ConnTuple toB = conn("10.0.0.1", 5000, "9.9.9.9", 53, 17);
    ASSERT_TRUE(d.mgr->createDynamicSnat(toA, toA.src, toA.dst, ipp("1.1.1.1", 7000), 3, true, 1));
    EXPECT_FALSE(d.mgr->createDynamicSnat(toB, toB.src, toB.dst, ipp("1.1.1.1", 7000), 3, true, 1));
    const auto entries = d.mgr->dynamicSnat1Table()->entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].match().ingMdDynNatDip(), 0u);
    EXPECT_EQ(entries[0].match().ingMdDynNatDport(), 3u);
    EXPECT_EQ(entries[0].match().outerIpv4HdrDip(), 0u);
    // The DNAT side keys the source the same way, in DNAT1's metadata fields.
    const ConnTuple in = conn("8.8.8.8", 53, "1.1.1.1", 7000, 17);
    ASSERT_TRUE(d.mgr->createDynamicDnat(3, in, in.src, in.dst, ipp("10.0.0.1", 5000), 7, false,
                                         false, true, 1));
    const auto key = d.mgr->dnat1Dnat({{ipp("0.0.0.0", 3), in.dst, 17}, 1});
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ingMdDynNatSport(), 3u);
    // An update rewrites the entry in place: same handle, the new translation.
    const auto handle = d.mgr->dynamicDnat1Table()->entryHandle(*key);
    ASSERT_TRUE(d.mgr->createDynamicDnat(3, in, in.src, in.dst, ipp("10.0.0.2", 5001), 8, true,
                                         true, true, 1));
    const auto rewritten = d.mgr->dynamicDnat1Table()->entry(*key);
    ASSERT_TRUE(rewritten);
    EXPECT_EQ(d.mgr->dynamicDnat1Table()->entryHandle(*key), handle);
    const auto* a = rewritten->actionIf<VyrP4::SetTranslatedDipPortNextHopEcmpActionSpec>();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->ecmpId(), 8u);
    EXPECT_EQ(a->translatedDport(), 5001u);
    EXPECT_EQ(d.mgr->dnat1DnatEntries(), 1u);

    // A VRF the tables' 16-bit field cannot hold is refused, not cut short.
    const ConnTuple f = conn("10.0.0.9", 1, "8.8.8.8", 2);
    EXPECT_FALSE(d.mgr->createDynamicSnat(f, f.src, f.dst, ipp("1.1.1.1", 9), 3, false, 0x10001));
    EXPECT_EQ(d.mgr->dynamicSnatTable().size(), 1u);
    // The same five-tuple in two VRFs is two entries where the match carries the VRF.
    ASSERT_TRUE(d.mgr->createDynamicSnat(f, f.src, f.dst, ipp("1.1.1.1", 9), 3, false, 1));
    ASSERT_TRUE(d.mgr->createDynamicSnat(f, f.src, f.dst, ipp("1.1.1.1", 9), 3, false, 2));
    EXPECT_EQ(d.invariants(), "");
    EXPECT_TRUE(d.mgr->deleteDynamicSnat(3, toB, toB.dst, true, 1)); // the one full-cone key
    EXPECT_TRUE(d.mgr->deleteDynamicSnat(3, f, f.dst, false, 1));
    EXPECT_TRUE(d.mgr->deleteDynamicSnat(3, f, f.dst, false, 2));
    EXPECT_TRUE(d.mgr->deleteDynamicDnat(3, in, in.dst, true, 1));
    EXPECT_EQ(d.agent.leftOver(), "");

    // Without the VRF in the match, the second VRF's connection would be the first's entry.
    Dyn noVrf(BootedAgent::scenarioFor("egressNat", {{"natInVrfSupported", "false"}}));
    ASSERT_TRUE(
        noVrf.mgr->createDynamicSnat(f, f.src, f.dst, ipp("1.1.1.1", 9), 3, false, 0x10001));
    EXPECT_FALSE(noVrf.mgr->createDynamicSnat(f, f.src, f.dst, ipp("1.1.1.1", 9), 3, false, 2));
    EXPECT_FALSE(noVrf.mgr->deleteDynamicSnat(3, f, f.dst, false, 2));
    // Nor may a connection whose match addresses are another's flow.
    const ConnTuple other = conn("10.0.0.7", 1, "8.8.8.8", 2);
    EXPECT_FALSE(noVrf.mgr->createDynamicSnat(other, f.src, f.dst, ipp("1.1.1.1", 9), 3, false, 4));
    ASSERT_TRUE(noVrf.mgr->createDynamicSnat(other, ipp("10.0.0.8", 1), f.dst, ipp("1.1.1.1", 9), 3,
                                             false, 4));
    EXPECT_EQ(noVrf.invariants(), "");
    EXPECT_TRUE(noVrf.mgr->deleteDynamicSnat(3, other, f.dst, false, 4));
    EXPECT_TRUE(noVrf.mgr->deleteDynamicSnat(3, f, f.dst, false, 0x10001));
    EXPECT_EQ(noVrf.agent.leftOver(), "");
}

TEST(DynamicMgr, AddressOnlyEntriesAndForcedPlacement) {
    Dyn d(fiveTuple("8", "8", "8", "8"));
    auto* m = d.mgr;
    // Two connections to one public address share its DNAT entry, which follows the latest.
    const ConnTuple a = conn("0.0.0.0", 0, "1.1.1.1", 0, 6);
    const ConnTuple b = conn("0.0.0.0", 0, "1.1.1.1", 0, 17);
    ASSERT_TRUE(m->createDynamicAddrOnlyDnat(a, a.src, a.dst, ipp("10.0.0.1"), 5, false, false, 2));
    ASSERT_TRUE(m->createDynamicAddrOnlyDnat(b, b.src, b.dst, ipp("10.0.0.2"), 6, true, false, 2));
    const IpAndProfileType key{a.dst.ip, 2};
    EXPECT_EQ(m->dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount().at(key).refCount, 2u);
    const auto entries = m->dynamicAddrOnlyDnatTable()->entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_NE(entries[0].actionIf<VyrP4::SetTranslatedDipNextHopEcmpActionSpec>(), nullptr);
    EXPECT_FALSE(m->deleteDynamicAddrOnlyDnat(conn("0.0.0.0", 0, "1.1.1.1", 0, 1), a.dst.ip, 2))
        << "not a user";
    EXPECT_TRUE(m->deleteDynamicAddrOnlyDnat(a, a.dst.ip, 2));
    EXPECT_EQ(m->dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount().at(key).refCount, 1u);
    EXPECT_EQ(m->dynamicAddrOnlyDnatTable()->entryCount(), 1u);
    EXPECT_TRUE(m->deleteDynamicAddrOnlyDnat(b, b.dst.ip, 2));
    EXPECT_EQ(m->dynamicAddrOnlyDnatTable()->entryCount(), 0u);

    // Address-only SNAT: one entry per source address and profile; a second connection from
    // the address would take it over, and is refused.
    const ConnTuple s1 = conn("10.0.0.1", 0, "0.0.0.0", 0, 6);
    const ConnTuple s2 = conn("10.0.0.1", 0, "0.0.0.0", 0, 17);
    ASSERT_TRUE(m->createDynamicAddrOnlySnat(s1, s1.src, s1.dst, ipp("1.1.1.1"), 2));
    EXPECT_FALSE(m->createDynamicAddrOnlySnat(s2, s2.src, s2.dst, ipp("1.1.1.2"), 2));
    EXPECT_EQ(d.invariants(), "");
    EXPECT_TRUE(m->deleteDynamicAddrOnlySnat(s1, 2));

    // Forced placement, then forced errors: every create fails and nothing changes.
    m->forceSnatTableIs(S::dynSnat2);
    m->forceDnatTableIs(D::dynDnat1Dnat);
    ASSERT_TRUE(d.snat(1));
    ASSERT_TRUE(d.dnat(1));
    EXPECT_EQ(d.snatPlace(1), S::dynSnat2);
    EXPECT_EQ(m->dynamicDnatTable().place(Dyn::flow(1), 1), D::dynDnat1Dnat);
    m->forceHwErrorIs(true);
    const auto before = d.agent.owner()->tableMgrDynamic()->recordCounts();
    const std::size_t chipEntries = d.agent.chip->entryCount();
    EXPECT_FALSE(d.snat(2));
    EXPECT_FALSE(d.dnat(2));
    EXPECT_FALSE(m->createDynamicAddrOnlySnat(s1, s1.src, s1.dst, ipp("1.1.1.1"), 2));
    EXPECT_FALSE(
        m->createDynamicAddrOnlyDnat(a, a.src, a.dst, ipp("10.0.0.1"), 5, false, false, 2));
    EXPECT_EQ(d.agent.chip->entryCount(), chipEntries);
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(m->recordCounts()[i].count, before[i].count) << before[i].label;
    }
    m->forceHwErrorIs(false);
    EXPECT_TRUE(m->deleteDynamicSnat(1, Dyn::flow(1), ipp("8.8.8.8", 53), false, 1));
    EXPECT_TRUE(m->deleteDynamicDnat(1, Dyn::flow(1), ipp("8.8.8.8", 53), false, 1));
    EXPECT_EQ(d.agent.leftOver(), "");
}

TEST(DynamicPartitions, FillInOrderReuseFreedRoomAndKeepOneEntryPerFiveTuple) {
    // Banks: DNAT 2 and 2; SNAT 2, none, 2 (bank 1 has no table; bank 2 keeps its number).
    Dyn d(BootedAgent::scenarioFor(
        "partitioned", {{"dnatPartitionBankSize", "2, 2"}, {"snatPartitionBankSize", "2, 0, 2"}}));
    const auto& parts = *d.mgr->dynamicSnatPartitionedTable();
    ASSERT_EQ(parts.partition().size(), 2u);
    auto partitionOf = [&](uint16_t n) {
        return parts.flowToMatchSpecMap({Dyn::flow(n), 1})->partitionId;
    };
    TestSupport::TraceCapture trace("VyrNatDynamicPartitions/0-9");
    for (uint16_t n = 1; n <= 4; ++n) {
        ASSERT_TRUE(d.snat(n));
    }
    EXPECT_EQ(std::vector({partitionOf(1), partitionOf(2), partitionOf(3), partitionOf(4)}),
              std::vector<uint8_t>({0, 0, 2, 2}));
    EXPECT_FALSE(d.snat(5));
    EXPECT_TRUE(trace.has("All dynamicSnatPartition tabels are full"));
    ASSERT_TRUE(d.mgr->deleteDynamicSnat(1, Dyn::flow(2), ipp("8.8.8.8", 53), false, 1));
    ASSERT_TRUE(d.snat(5));
    EXPECT_EQ(partitionOf(5), 0);
    EXPECT_EQ(parts.partition(0)->entries(), 2u);

    // The partitions match no VRF: the same five-tuple in a second VRF would be the first's
    // entry, and is refused, even when the first's partition is full.
    EXPECT_FALSE(d.snat(3, 2));
    EXPECT_FALSE(d.mgr->deleteDynamicSnat(1, Dyn::flow(3), ipp("8.8.8.8", 53), false, 2));
    // DNAT: an update changes nothing, the partitions carry no next hop.
    ASSERT_TRUE(d.dnat(1));
    const auto dnatEntries = d.agent.chip->table("dynamicDnatPartition0")->dump();
    EXPECT_TRUE(d.dnat(1, 1, true));
    EXPECT_EQ(d.agent.chip->table("dynamicDnatPartition0")->dump(), dnatEntries);
    EXPECT_EQ(d.invariants(), "");
    for (uint16_t n : {1, 3, 4, 5}) {
        EXPECT_TRUE(d.mgr->deleteDynamicSnat(1, Dyn::flow(n), ipp("8.8.8.8", 53), false, 1));
    }
    EXPECT_TRUE(d.mgr->deleteDynamicDnat(1, Dyn::flow(1), ipp("8.8.8.8", 53), false, 1));
    EXPECT_EQ(d.agent.leftOver(), "");
}

TEST(DynamicPartitions, BankNumbersStopAt32) {
    Host::ThrowOnAssert throwing;
    EXPECT_EQ(VyrSystem::TableBankId(31).value(), 31u);
    try {
        VyrSystem::TableBankId bank(32);
        ADD_FAILURE() << "bank " << bank.value() << " taken";
    } catch (const Host::AssertionFailure& e) {
        EXPECT_STREQ(e.what(), "VyrSystem::TableBankId::value < 0 or > "
                               "VyrSystem::TableBankId::invalid not allowed");
    }
}

} // namespace
