// The NAT flow manager on a booted agent: the blocks a port range becomes, the entries a flow
// writes above the default entry, and the flows refused whole.

#include "common/VyrNatLogMessages.h"
#include "host/Assert.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/TraceCapture.h"

#include <gtest/gtest.h>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;

Ip::Prefix pfx(const char* text) {
    return *Ip::Prefix::parse(text);
}

struct Flows {
    Flows() : agent(BootedAgent::scenarioFor("default")) {
        agent.boot();
        mgr = agent.owner()->tableMgrNatFlow();
        table = mgr->natFlowTable().get();
    }
    // A unicast TCP flow of profile 1 to 8.8.8.0/24.
    bool create(const char* policy, uint16_t sp0, uint16_t sp1, uint16_t dp0, uint16_t dp1,
                const char* src = "10.0.0.0/8", uint32_t result = 5, uint32_t priority = 10,
                uint8_t uc = 1, uint8_t mc = 0) {
        return mgr->createNatFlowTable({1, policy, "m1"}, result, pfx(src), pfx("8.8.8.0/24"), sp0,
                                       sp1, dp0, dp1, 6, priority, uc, mc, 1);
    }
    const HwNatFlowEntry::Entries& entries(const char* policy) const {
        return mgr->hwNatFlowEntry().at({1, policy, "m1"}).entry();
    }

    BootedAgent agent;
    VyrNatTableMgrNatFlow* mgr = nullptr;
    VyrP4::NatFlowTable* table = nullptr;
    TestSupport::TraceCapture trace{"VyrNatTableMgrNatFlow/0-5"};
};

TEST(PortRangeToMasks, FewestAlignedBlocksInAscendingOrderWithPortZeroAsAnyPort) {
    auto blocks = [](uint16_t start, uint16_t end) {
        const PortMaskSet set = portRangeToMasks(start, end);
        return std::vector<PortMask>(set.begin(), set.end());
    };
    using B = std::vector<PortMask>;
    EXPECT_EQ(blocks(1000, 1999), (B{{1000, 0xfff8},
                                     {1008, 0xfff0},
                                     {1024, 0xfe00},
                                     {1536, 0xff00},
                                     {1792, 0xff80},
                                     {1920, 0xffc0},
                                     {1984, 0xfff0}}));
    EXPECT_EQ(blocks(80, 80), (B{{80, 0xffff}}));
    EXPECT_EQ(blocks(0, 0), (B{{0, 0}}));
    EXPECT_EQ(blocks(0, 65535), (B{{0, 0}}));
    EXPECT_EQ(blocks(65535, 65535), (B{{65535, 0xffff}}));
    EXPECT_EQ(blocks(2, 1), B{});
    EXPECT_EQ(blocks(1, 65534).size(), 30u);
}

TEST(NatFlowMgr, FlowsWriteTheCrossProductOfTheirBlocksAndOverlapsAreRefusedWhole) {
    Flows f;
    // The default entry, recorded under the empty key, is all the table holds at start.
    ASSERT_EQ(f.table->entryCount(), 1u);
    EXPECT_TRUE(f.table->entries()[0].actionIf<VyrP4::OnMissActionSpec>());
    EXPECT_EQ(f.mgr->hwEntries().at(VyrNatTableMgrNatFlow::defaultEntryKey())->str(),
              "Value('VyrNat::HwNatFlowKey', ** {'profile': 0, 'policy': '', 'match': ''})");

    // 7 source blocks by 3 destination blocks, from a source prefix written under its mask.
    ASSERT_TRUE(f.create("P1", 1000, 1999, 79, 82, "10.1.2.3/8"));
    EXPECT_TRUE(f.trace.has("Flow entries; 21, hw entries total: 22"));
    for (const auto& e : f.table->entries()) {
        if (const auto* r = e.actionIf<VyrP4::SetNatFlowResultActionSpec>()) {
            EXPECT_EQ(r->natFlowResult(), 5u);
            EXPECT_EQ(e.match().priority(), 11);
        }
    }
    // The other spelling of the prefix writes the same entries: refused, as are a second create
    // of the flow and a flow that shares one entry only, each with nothing written.
    Log::reset();
    EXPECT_FALSE(f.create("P2", 1000, 1999, 79, 82));
    EXPECT_FALSE(f.create("P1", 1000, 1999, 79, 82));
    EXPECT_FALSE(f.create("P3", 1984, 1999, 81, 82));
    ASSERT_EQ(Log::written().size(), 3u);
    EXPECT_EQ(Log::written()[0].text,
              "Detected two overlapping NAT flow entries in profile 1 between profile/match "
              "P1/m1 and P2/m1. NAT flow entry: Value('VyrNat::HwNatFlowMatchSpecKey', ** {'uc': "
              "1, 'mc': 0, 'ucMcMask': 1, 'profile': 1, 'sip': 10.0.0.0/8, 'dip': 8.8.8.0/24, "
              "'srcPort': 1000, 'srcPortMask': 65528, 'dstPort': 79, 'dstPortMask': 65535, "
              "'protocol': 6}).");
    EXPECT_EQ(f.table->entryCount(), 22u);
    EXPECT_EQ(f.mgr->recordCounts()[0].count, 1u);
    // The multicast part of the flow joins its unicast part.
    ASSERT_TRUE(f.create("P1", 1000, 1999, 79, 82, "10.0.0.0/8", 6, 10, 0, 1));
    EXPECT_EQ(f.entries("P1").size(), 42u);
    EXPECT_EQ(TestSupport::flowInvariants(*f.mgr), "");

    EXPECT_FALSE(f.mgr->deleteNatFlowTable({1, "P2", "m1"}));
    EXPECT_EQ(f.table->entryCount(), 43u);
    EXPECT_TRUE(f.mgr->deleteNatFlowTable({1, "P1", "m1"}));
    EXPECT_EQ(f.agent.leftOver(), "");
}

TEST(NatFlowMgr, AnyPortValuesTheFieldsCannotHoldAndTableErrors) {
    Flows f;
    // 0..0 is any port, as 0..65535 is: one entry, and the same one.
    ASSERT_TRUE(f.create("P1", 0, 0, 53, 53));
    ASSERT_EQ(f.entries("P1").size(), 1u);
    EXPECT_EQ(f.entries("P1").begin()->first.srcPortMask, 0u);
    EXPECT_FALSE(f.create("P2", 0, 65535, 53, 53));

    // Values the table's fields would truncate or wrap are refused with nothing written.
    auto refused = [&](uint32_t result, uint32_t priority, uint16_t profile, uint8_t uc,
                       uint8_t srcLen, uint16_t srcEnd) {
        f.mgr->refusalDel();
        return !f.mgr->createNatFlowTable({profile, "P3", "m1"}, result,
                                          {Ip::IpAddr(10, 0, 0, 0), srcLen}, pfx("8.8.8.0/24"), 100,
                                          srcEnd, 80, 80, 6, priority, uc, 0, 1) &&
               f.table->entryCount() == 2 && !f.mgr->refusal().empty();
    };
    EXPECT_TRUE(refused(0x10000, 1, 1, 1, 8, 100));
    EXPECT_TRUE(refused(1, 0x7fffffff, 1, 1, 8, 100));
    EXPECT_TRUE(refused(1, 0xffffffff, 1, 1, 8, 100));
    EXPECT_TRUE(refused(1, 1, 0x101, 1, 8, 100));
    EXPECT_TRUE(refused(1, 1, 1, 2, 8, 100));
    EXPECT_TRUE(refused(1, 1, 1, 1, 33, 100));
    EXPECT_TRUE(refused(1, 1, 1, 1, 8, 99));
    EXPECT_TRUE(f.trace.has("Flow refused: priority beyond the table's priority range"));
    // The highest priority that fits still ranks above the default entry.
    ASSERT_TRUE(f.create("P3", 100, 100, 80, 80, "10.0.0.0/8", 0xffff, 0x7ffffffe));
    EXPECT_EQ(f.entries("P3").begin()->second.priority(), 0x7fffffff);

    // A table error part way: the entries written before stay recorded, as the chip holds them.
    f.table->engine().reportFullAtIs(6);
    EXPECT_FALSE(f.create("P4", 1000, 1999, 79, 82));
    EXPECT_TRUE(f.trace.has("Nat flow table error: tableFull"));
    EXPECT_EQ(f.entries("P4").size(), 3u);
    EXPECT_EQ(TestSupport::flowInvariants(*f.mgr), "");
    // Refused at its first entry, a flow leaves no record.
    f.table->engine().reportFullAtIs(std::nullopt);
    f.table->engine().failNextWritesIs(1, VyrP4::ChipError::noSysResources);
    EXPECT_FALSE(f.create("P5", 2000, 2999, 79, 82));
    EXPECT_TRUE(f.trace.has("Nat flow table error: noSysResources"));
    EXPECT_EQ(f.mgr->recordCounts()[0].count, 3u);

    // A profile whose table refuses the default entry is broken.
    Host::ThrowOnAssert throwing;
    BootedAgent broken(BootedAgent::scenarioFor("default", {{"natFlowTableSize", "0"}}));
    try {
        broken.boot();
        ADD_FAILURE() << "a refused default entry went unnoticed";
    } catch (const Host::AssertionFailure& e) {
        EXPECT_STREQ(e.what(), "the natFlow table takes its default entry");
    }
}

} // namespace
