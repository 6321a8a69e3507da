// The CPU trap entries of the dynamic manager on a booted agent: rules with their helper
// entries, overload reverse traps, moves to other priority blocks with the chip watched write by
// write, the fixed tables, and a random run with faults checked against the invariants.

#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/NatValues.h"
#include "tests/support/RandomRun.h"
#include "tests/support/TraceCapture.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;
using TestSupport::prefix;
using VyrP4::NatCpuTrapAclMatchSpec;

const IpAddrWithFullMask kAny = prefix("0.0.0.0/0");

Ip::Nat::NatTrapInfo trapInfo(uint32_t profile, bool fullCone = false, bool dnat = false) {
    Ip::Nat::NatTrapInfo t;
    t.profileId = profile;
    t.fullCone = fullCone;
    t.target = dnat ? Ip::Nat::kDestinationTranslation : Ip::Nat::kSourceTranslation;
    return t;
}

// A booted agent on `profile` (the default one has every full-cone capability).
struct Traps {
    explicit Traps(Scenario::Scenario s = BootedAgent::scenarioFor("default"))
        : agent(std::move(s)) {
        agent.boot();
        mgr = agent.owner()->tableMgrDynamic();
        table = mgr->natCpuTrapAclTable().get();
    }
    // An entry of rule `acl` on profile 3 to `dst` (any source), UDP unless `protocol` says.
    bool rule(const char* acl, int32_t priority, bool reverse, bool deny = false,
              bool fullCone = false, IpAddrWithFullMask dst = prefix("10.1.0.0/24"),
              uint8_t protocol = 17) {
        return mgr->createNatCpuTrapAcl({acl, 0}, trapInfo(3, fullCone), protocol, kAny, dst, 0, 0,
                                        53, 0xffff, priority, deny, reverse);
    }
    std::vector<NatCpuTrapAclMatchSpec> specsOf(const char* acl) const {
        std::vector<NatCpuTrapAclMatchSpec> out;
        for (const auto& e : mgr->hwNatCpuTrapAcl({acl, 0, 3})->trapAclEntries()) {
            out.push_back(e.matchSpec);
        }
        return out;
    }
    std::string invariants() const { return TestSupport::dynamicInvariants(*mgr); }

    BootedAgent agent;
    VyrNatTableMgrDynamic* mgr = nullptr;
    VyrP4::NatCpuTrapAclTable* table = nullptr;
};

TEST(NatCpuTrapAcl, RulesTakeExactlyTheHelperEntriesTheirFlagsCallFor) {
    Traps t;
    const auto& snatAcl = *t.mgr->dynamicSnatAclHelper()->dynamicSnatAclTable();
    const auto& fullCone = *t.mgr->dynamicFullConeHelper()->dynamicFullConeTable();
    // A forward deny rule of a full-cone translation: no trap action, no full-cone entry, but
    // its SNAT ACL entry, which copies the destination since a deny rule is never full cone.
    ASSERT_TRUE(t.rule("DENY", 100, false, true, true));
    const auto deny = t.table->entry(t.specsOf("DENY")[0]);
    ASSERT_TRUE(deny);
    EXPECT_NE(deny->actionIf<VyrP4::OnMissActionSpec>(), nullptr);
    EXPECT_EQ(deny->match().ingMdIngNatProfileIdMask(), 0xfff);
    ASSERT_EQ(snatAcl.entryCount(), 1u);
    EXPECT_NE(snatAcl.entries()[0].actionIf<VyrP4::SetDipActionSpec>(), nullptr);
    EXPECT_EQ(fullCone.entryCount(), 0u);

    // A reverse full-cone rule without a protocol matches the second profile field and gets a
    // UDP full-cone entry, and no SNAT ACL entry.
    ASSERT_TRUE(t.rule("FC", 200, true, false, true, prefix("10.1.0.0/24"), 0));
    const auto fc = t.table->entry(t.specsOf("FC")[0]);
    EXPECT_NE(fc->actionIf<VyrP4::SetNatCpuTrapActionSpec>(), nullptr);
    EXPECT_EQ(fc->match().ingMdEgrNatProfileIdMask(), 0xfff);
    EXPECT_EQ(fc->match().ingMdIngNatProfileIdMask(), 0);
    EXPECT_EQ(fc->match().outerIpv4HdrProtocolMask(), 0);
    ASSERT_EQ(fullCone.entryCount(), 1u);
    EXPECT_EQ(fullCone.entries()[0].match().outerIpv4HdrProtocol(), 17);
    EXPECT_EQ(snatAcl.entryCount(), 1u);
    EXPECT_EQ(t.invariants(), "");

    // Refused and leaving nothing: a forward full-cone TCP rule, which the SNAT ACL refuses; a
    // reverse full-cone rule whose pool overlaps another; a trap entry the chip refuses.
    const std::size_t entries = t.agent.chip->entryCount();
    EXPECT_FALSE(t.rule("FC", 201, false, false, true, prefix("10.1.0.0/24"), 6));
    EXPECT_FALSE(t.rule("FC", 202, true, false, true, prefix("10.1.0.128/25")));
    t.table->engine().failNextWritesIs(1);
    EXPECT_FALSE(t.rule("NEW", 203, false));
    EXPECT_EQ(t.mgr->refusal(), "Table full in natCpuTrapAcl");
    EXPECT_EQ(t.agent.chip->entryCount(), entries);
    EXPECT_EQ(t.specsOf("FC").size(), 1u);
    EXPECT_EQ(t.mgr->hwNatCpuTrapAcl({"NEW", 0, 3}), nullptr);
    EXPECT_EQ(t.invariants(), "");

    // Two forward entries of one match share the SNAT ACL entry until both are gone.
    ASSERT_TRUE(t.rule("DENY", 101, false));
    t.mgr->deleteNatCpuTrapAcl({"DENY", 0, 3});
    t.mgr->deleteNatCpuTrapAcl({"FC", 0, 3});
    TestSupport::TraceCapture trace;
    t.mgr->deleteNatCpuTrapAcl({"FC", 0, 3});
    EXPECT_TRUE(trace.has("No acl entries"));
    EXPECT_EQ(t.invariants(), "");
    EXPECT_EQ(t.agent.leftOver(), "");
}

TEST(NatCpuTrapAcl, OverloadTrapsFollowTheirInterfacesAndLeaveWithTheLast) {
    Scenario::Scenario s = BootedAgent::scenarioFor("default");
    s.hwCapabilities.natDpdk = true;
    Traps t(std::move(s));
    ASSERT_TRUE(t.mgr->createNatCpuTrapAclOverload(5, "Ethernet1", Ip::IpAddr(1, 1, 1, 1), 700));
    ASSERT_TRUE(t.mgr->createNatCpuTrapAclOverload(5, "Ethernet2", Ip::IpAddr(1, 1, 1, 2), 700));
    ASSERT_EQ(t.table->entryCount(), 2u);
    // In a software data plane the trap says it matched the second profile field.
    const auto entries = t.table->entries();
    const auto trap = entries[0].actionIf<VyrP4::SetNatCpuTrapActionSpec>();
    ASSERT_NE(trap, nullptr);
    EXPECT_EQ(trap->trapDirEgr(), 1);
    EXPECT_EQ(trap->trapDirIng(), 0);
    // A new address replaces the interface's trap rather than leaving the old one behind.
    ASSERT_TRUE(t.mgr->createNatCpuTrapAclOverload(5, "Ethernet1", Ip::IpAddr(1, 1, 1, 9), 700));
    EXPECT_EQ(t.table->entryCount(), 2u);
    EXPECT_EQ(t.mgr->hwNatCpuTrapAclOverload().at(5).entry("Ethernet1")->outerIpv4HdrDip(),
              Ip::IpAddr(1, 1, 1, 9).value);
    EXPECT_EQ(t.invariants(), "");

    t.mgr->deleteNatCpuTrapAclOverload(5, "Ethernet1");
    EXPECT_EQ(t.mgr->hwNatCpuTrapAclOverload().size(), 1u);
    t.mgr->deleteNatCpuTrapAclOverload(5, "Ethernet2");
    EXPECT_TRUE(t.mgr->hwNatCpuTrapAclOverload().empty());
    TestSupport::TraceCapture trace;
    t.mgr->deleteNatCpuTrapAclOverload(5, "Ethernet2");
    EXPECT_TRUE(trace.has("Overload entry not found"));
    EXPECT_EQ(t.agent.leftOver(), "");
}

TEST(NatCpuTrapAcl, RedistributionWritesEachNewEntryBeforeItsOldOneGoesAndKeepsSlots) {
    Traps t;
    constexpr uint32_t kSlots = 1024;
    const int32_t slots[] = {0, 1, 1023}; // two sequence numbers and the trap-all slot
    for (int32_t slot : slots) {
        ASSERT_TRUE(t.rule("R", 100 * kSlots + slot, false));
    }
    ASSERT_TRUE(t.mgr->createNatCpuTrapAclOverload(3, "Ethernet1", Ip::IpAddr(1, 1, 1, 1),
                                                   100 * kSlots + 1));
    const auto old = t.specsOf("R");
    auto moved = old;
    for (auto& ms : moved) {
        ms.priorityIs(int32_t(200 * kSlots + uint32_t(ms.priority()) % kSlots));
    }
    // After every single write, each entry of the rule is in the chip as it was or as it goes.
    int writes = 0;
    t.table->engine().entryObserverIs(
        [&](const VyrP4::TableEngine&, VyrP4::EntryChange, const auto*, const auto*) {
            ++writes;
            for (std::size_t i = 0; i < old.size(); ++i) {
                EXPECT_TRUE(t.table->entry(old[i]) || t.table->entry(moved[i]))
                    << "entry " << i << " missing after write " << writes;
            }
        });
    t.mgr->natCpuTrapAclToHwPriorityToUpdateIs({"R", 0, 3}, 200);
    t.mgr->natCpuTrapAclOverloadToHwPriorityToUpdateIs(3, 200);
    EXPECT_TRUE(t.mgr->natCpuTrapAclToHwPriorityRedistribute(kSlots));
    EXPECT_EQ(writes, 8);
    EXPECT_EQ(t.specsOf("R"), moved);
    EXPECT_EQ(t.mgr->hwNatCpuTrapAclOverload().at(3).entry("Ethernet1")->priority(),
              int32_t(200 * kSlots + 1));
    EXPECT_TRUE(t.mgr->natCpuTrapAclToHwPriorityToUpdate().empty());
    EXPECT_TRUE(t.mgr->natCpuTrapAclOverloadToHwPriorityToUpdate().empty());
    EXPECT_EQ(t.invariants(), "");

    // A refused new entry keeps the old one, in the chip and in the record; the others move.
    t.table->engine().entryObserverIs({});
    t.table->engine().failNextWritesIs(1);
    t.mgr->natCpuTrapAclToHwPriorityToUpdateIs({"R", 0, 3}, 300);
    EXPECT_FALSE(t.mgr->natCpuTrapAclToHwPriorityRedistribute(kSlots));
    const auto after = t.specsOf("R");
    EXPECT_EQ(after[0], moved[0]);
    EXPECT_EQ(after[1].priority(), int32_t(300 * kSlots + 1));
    EXPECT_EQ(after[2].priority(), int32_t(300 * kSlots + 1023));
    EXPECT_EQ(t.invariants(), "");

    t.mgr->deleteNatCpuTrapAcl({"R", 0, 3});
    t.mgr->deleteNatCpuTrapAclOverload(3, "Ethernet1");
    EXPECT_EQ(t.agent.leftOver(), "");
}

TEST(NatCpuTrapFixedTables, SynAckIsTrappedOnlyWhenConfiguredAtCreation) {
    for (bool synAck : {false, true}) {
        Scenario::Scenario s = BootedAgent::scenarioFor("default");
        s.natConfig.natTcpSynAckRequired = synAck;
        Traps t(std::move(s));
        VyrP4::NatTcpFlagsMatchSpec ms;
        ms.tcpHdrFlagsIs(0x12);
        EXPECT_EQ(bool(t.mgr->natTcpFlagsTable()->entry(ms)), synAck);
        EXPECT_EQ(t.mgr->natTcpFlagsTable()->entryCount(), synAck ? 6u : 5u);
        EXPECT_EQ(t.mgr->natCpuReasonCodeTable()->entryCount(), 3u);
        EXPECT_EQ(t.mgr->egressNatCpuTrapHeaderTable()->entryCount(), 3u);
        EXPECT_EQ(t.invariants(), "");
    }
}

// Random rules, overload traps and priority moves, with faults on the trap table and on the
// helpers' tables; the invariants hold after every step and nothing is left at the end.
TEST(NatCpuTrapAclRandom, RulesAndMovesWithFaultsKeepTheChipAndTheRecordsTogether) {
    const unsigned seed = TestSupport::testSeed(7);
    SCOPED_TRACE(TestSupport::seedNote(seed));
    std::mt19937 rng(seed);
    Traps t;
    TestSupport::Faults faults;
    for (const char* name : {"natCpuTrapAcl", "dynamicSnatAcl", "dynamicFullCone"}) {
        faults.add(*t.agent.chip->table(name));
    }
    const IpAddrWithFullMask dsts[] = {prefix("10.1.0.0/24"), prefix("10.2.0.0/24"),
                                       prefix("10.2.0.7/32")};
    const char* acls[] = {"A", "B", "C"};
    const uint8_t protocols[] = {0, 6, 17};
    auto pick = [&](uint32_t n) { return rng() % n; };
    int taken = 0;
    TestSupport::randomSteps(
        3000,
        [&]() -> std::string {
            if (pick(100) == 0) {
                faults.change(rng, 0.2);
            }
            const char* acl = acls[pick(3)];
            const uint16_t profile = uint16_t(1 + pick(2));
            switch (pick(6)) {
            case 0:
                t.mgr->deleteNatCpuTrapAcl({acl, 0, profile});
                return std::string("delete ") + acl;
            case 1:
                t.mgr->natCpuTrapAclToHwPriorityToUpdateIs({acl, 0, profile}, pick(8));
                t.mgr->natCpuTrapAclOverloadToHwPriorityToUpdateIs(pick(2), pick(8));
                t.mgr->natCpuTrapAclToHwPriorityRedistribute(4);
                return "redistribute";
            case 2:
                if (pick(2)) {
                    t.mgr->deleteNatCpuTrapAclOverload(pick(2), acl);
                    return "delete overload";
                }
                t.mgr->createNatCpuTrapAclOverload(pick(2), acl, Ip::IpAddr(1, 1, 1, pick(3)),
                                                   int32_t(pick(32)));
                return "overload";
            default: {
                const bool ok = t.mgr->createNatCpuTrapAcl(
                    {acl, 0}, trapInfo(profile, pick(2), pick(2)), protocols[pick(3)],
                    pick(2) ? kAny : prefix("192.168.0.0/16"), dsts[pick(3)], 0, 0, 53,
                    uint16_t(pick(2) * 0xffff), int32_t(pick(32)), pick(4) == 0, pick(2));
                taken += ok;
                return std::string("create ") + acl + (ok ? " taken" : " refused");
            }
            }
        },
        [&] { return t.invariants(); });
    EXPECT_GT(taken, 300);
    EXPECT_GT(faults.injected(), 0u);
    faults.clear();
    for (const char* acl : acls) {
        for (uint16_t profile : {1, 2}) {
            t.mgr->deleteNatCpuTrapAcl({acl, 0, profile});
            for (uint32_t id : {0u, 1u}) {
                t.mgr->deleteNatCpuTrapAclOverload(id, acl);
            }
        }
    }
    EXPECT_EQ(t.invariants(), "");
    EXPECT_EQ(t.agent.leftOver(), "");
}

} // namespace
