// Twice-NAT trap rules on a booted agent: the two stages a rule becomes, ids shared by the
// users of an ACL name and released by the last, refusals that leave nothing behind, and
// priority changes that never leave a rule without its entry.

#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/NatValues.h"
#include "tests/support/TraceCapture.h"

#include <gtest/gtest.h>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;
using TestSupport::prefix;

struct Rule {
    const char* src = "10.0.0.0/8";
    const char* dst = "20.0.0.0/8";
    uint8_t protocol = 6;
    uint16_t sport = 0, sportMask = 0, dport = 443, dportMask = 0xffff;
    int32_t priority = 100 * 1024 + 3;
    bool deny = false;
    bool reverse = false;
};

struct TrapAcls {
    explicit TrapAcls(bool natDpdk = false) : agent(scenario(natDpdk)) {
        agent.boot();
        mgr = agent.owner()->tableMgrTwice();
    }
    static Scenario::Scenario scenario(bool natDpdk) {
        auto s = BootedAgent::scenarioFor("default");
        s.hwCapabilities.natDpdk = natDpdk;
        return s;
    }
    bool add(const std::string& acl, uint16_t group, uint32_t profile, const Rule& r = {},
             Ip::Nat::NatTarget target = Ip::Nat::kSourceTranslation) {
        Ip::Nat::NatTrapInfo info;
        info.profileId = profile;
        info.target = target;
        return mgr->createNatCpuTrapAcl({acl, group}, info, r.protocol, prefix(r.src),
                                        prefix(r.dst), r.sport, r.sportMask, r.dport, r.dportMask,
                                        r.priority, r.deny, r.reverse);
    }
    void del(const std::string& acl, uint16_t group, uint16_t profile) {
        mgr->deleteNatCpuTrapAcl({acl, group, profile});
    }
    std::vector<VyrP4::TwiceNatAclIdEntry> aclIdEntries() const {
        return mgr->aclIdTable()->entries();
    }
    std::vector<VyrP4::TwiceNatCpuTrapAclEntry> trapEntries() const {
        return mgr->cpuTrapAclTable()->entries();
    }
    std::string invariants() const { return TestSupport::twiceInvariants(*mgr); }

    BootedAgent agent;
    VyrNatTableMgrTwice* mgr = nullptr;
};

TEST(TwiceTrapAcl, RulesOfOneAclShareItsIdUntilTheLastGroupGoes) {
    TrapAcls t(true);
    // A destination translation traps as packets come in: the ACL-id stage matches the
    // destination side, the trap stage the source side under the second profile field.
    ASSERT_TRUE(t.add("web", 1, 7, {}, Ip::Nat::kDestinationTranslation));
    ASSERT_EQ(t.aclIdEntries().size(), 1u);
    const auto aclId = t.aclIdEntries()[0];
    EXPECT_EQ(aclId.match().outerIpv4HdrDip(), prefix("20.0.0.0/8").addr.value);
    EXPECT_EQ(aclId.match().outerIpv4HdrSipMask(), 0u);
    EXPECT_EQ(aclId.match().l4PortHdrDstPort(), 443);
    EXPECT_EQ(aclId.match().priority(), 100 * 1024 + 3);
    ASSERT_NE(aclId.actionIf<VyrP4::SetTwiceNatAclIdActionSpec>(), nullptr);
    EXPECT_EQ(aclId.actionIf<VyrP4::SetTwiceNatAclIdActionSpec>()->twiceNatAclId(), 1u);
    ASSERT_EQ(t.trapEntries().size(), 1u);
    const auto trap = t.trapEntries()[0];
    EXPECT_EQ(trap.match().ingMdEgrNatProfileId(), 7);
    EXPECT_EQ(trap.match().ingMdEgrNatProfileIdMask(), 0xfff);
    EXPECT_EQ(trap.match().ingMdIngNatProfileIdMask(), 0);
    EXPECT_EQ(trap.match().twiceMdAclId(), 1);
    EXPECT_EQ(trap.match().outerIpv4HdrSip(), prefix("10.0.0.0/8").addr.value);
    EXPECT_EQ(trap.match().outerIpv4HdrDipMask(), 0u);
    EXPECT_EQ(trap.match().outerIpv4HdrProtocolMask(), 0xff);
    EXPECT_EQ(trap.match().priority(), 0);
    const auto& dirs = std::get<VyrP4::SetNatCpuTrapActionSpec>(trap.action());
    EXPECT_EQ(dirs.trapDirEgr(), 1u);
    EXPECT_EQ(dirs.trapDirIng(), 0u);

    // The same ACL from another group on the same profile: same id, same entries. A second rule
    // of the ACL differing only in its prefix length gets an entry of its own, but no second
    // trap entry for the (ACL, group, profile) that has one.
    ASSERT_TRUE(t.add("web", 2, 7, {}, Ip::Nat::kDestinationTranslation));
    EXPECT_EQ(t.aclIdEntries().size(), 1u);
    EXPECT_EQ(t.trapEntries().size(), 1u);
    Rule narrower;
    narrower.dst = "20.0.0.0/16";
    narrower.priority += 1;
    ASSERT_TRUE(t.add("web", 1, 7, narrower, Ip::Nat::kDestinationTranslation));
    EXPECT_EQ(t.aclIdEntries().size(), 2u);
    EXPECT_EQ(t.trapEntries().size(), 1u);
    EXPECT_EQ(t.mgr->cpuTrapAcl().size(), 2u);
    // A reverse source rule is ingress too; a forward source rule takes the other sides and a
    // new name the next id.
    Rule reverse;
    reverse.reverse = true;
    reverse.priority = 101 * 1024;
    ASSERT_TRUE(t.add("mail", 1, 7, reverse));
    ASSERT_TRUE(t.add("dns", 1, 7));
    EXPECT_EQ(t.mgr->natAclId().at("dns").aclId, 3);
    const auto dnsTrap = t.mgr->cpuTrapAcl().at({"dns", 1, 7}).matchSpec;
    EXPECT_EQ(dnsTrap.ingMdIngNatProfileIdMask(), 0xfff);
    EXPECT_EQ(dnsTrap.l4PortHdrDstPort(), 443);
    EXPECT_EQ(t.mgr->cpuTrapAclTable()->entry(dnsTrap)->action(),
              VyrP4::TwiceNatCpuTrapAclTable::Action(t.mgr->cpuTrapActionSpec(dnsTrap)));
    EXPECT_EQ(t.mgr->cpuTrapAcl().at({"mail", 1, 7}).matchSpec.ingMdEgrNatProfileIdMask(), 0xfff);
    EXPECT_EQ(t.invariants(), "");

    // Deleting one group keeps the id and both stages for the other.
    TestSupport::TraceCapture trace("VyrNatTableMgrTwice/0-9");
    t.del("web", 1, 7);
    EXPECT_EQ(trace.lines("There are still 1 groups using the acl").size(), 1u);
    EXPECT_EQ(t.mgr->natAclId().at("web").aclId, 1);
    EXPECT_EQ(t.mgr->natAclId().at("web").entry.size(), 2u);
    EXPECT_TRUE(t.mgr->cpuTrapAclTable()->entry(trap.match())) << "group 2 holds it";
    EXPECT_EQ(t.invariants(), "");
    t.del("web", 1, 7);
    EXPECT_TRUE(trace.has("No twice nat acl entries"));
    t.del("web", 2, 7);
    t.del("mail", 1, 7);
    t.del("dns", 1, 7);
    EXPECT_EQ(t.invariants(), "");
    EXPECT_EQ(t.agent.leftOver(), "");
    EXPECT_EQ(t.mgr->aclIds().countSet(), 1u);
}

TEST(TwiceTrapAcl, RefusalsLeaveNothingBehind) {
    TrapAcls t;
    // Ids 1 to 255: the 256th name is refused and changes nothing; a released id is taken again.
    for (int i = 1; i <= 255; ++i) {
        Rule r;
        r.priority = i;
        ASSERT_TRUE(t.add("acl" + std::to_string(i), 1, 1, r)) << i;
    }
    EXPECT_EQ(t.mgr->natAclId().at("acl255").aclId, 255);
    const auto full = Scenario::snapshot(*t.agent.chip);
    {
        TestSupport::TraceCapture trace("VyrNatTableMgrTwice/0-9");
        EXPECT_FALSE(t.add("acl256", 1, 1));
        EXPECT_TRUE(trace.has("Twice NAT AclId table full"));
        EXPECT_TRUE(trace.has("Invalid aclId, error"));
    }
    EXPECT_EQ(Scenario::snapshot(*t.agent.chip), full);
    t.del("acl17", 1, 1);
    ASSERT_TRUE(t.add("acl256", 1, 1));
    EXPECT_EQ(t.mgr->natAclId().at("acl256").aclId, 17);
    EXPECT_EQ(t.invariants(), "");
    for (int i = 1; i <= 256; ++i) {
        t.del("acl" + std::to_string(i), 1, 1);
    }
    EXPECT_EQ(t.agent.leftOver(), "");

    // A deny rule: no id from its ACL-id entry, and still a trap entry.
    Rule deny;
    deny.deny = true;
    ASSERT_TRUE(t.add("deny", 1, 1, deny));
    ASSERT_EQ(t.aclIdEntries().size(), 1u);
    EXPECT_NE(t.aclIdEntries()[0].actionIf<VyrP4::OnMissActionSpec>(), nullptr);
    EXPECT_EQ(t.trapEntries().size(), 1u);

    // The trap stage refuses: the ACL-id usage taken for the rule goes again, all of it for a
    // name nobody else uses, only the new group for a name in use.
    t.agent.chip->table("twiceNatCpuTrapAcl")->failNextWritesIs(2);
    Rule fresh;
    fresh.priority = 5;
    EXPECT_FALSE(t.add("fresh", 1, 1, fresh));
    EXPECT_EQ(t.mgr->natAclId().count("fresh"), 0u);
    EXPECT_EQ(t.mgr->aclIds().countSet(), 2u);
    EXPECT_FALSE(t.add("deny", 1, 2, deny));
    EXPECT_EQ(t.mgr->natAclId().at("deny").group.size(), 1u);
    EXPECT_EQ(t.invariants(), "");
    // The same match at the same priority in another ACL would take over the first one's entry.
    EXPECT_FALSE(t.add("other", 1, 1, deny));
    t.del("deny", 1, 1);
    EXPECT_EQ(t.agent.leftOver(), "");
}

TEST(TwiceTrapAcl, RedistributionMovesEachEntryNewBeforeOld) {
    TrapAcls t;
    Rule a, b;
    b.dst = "30.0.0.0/8";
    b.priority = 100 * 1024 + 7;
    ASSERT_TRUE(t.add("web", 1, 1, a));
    ASSERT_TRUE(t.add("web", 1, 1, b));
    ASSERT_TRUE(t.add("web", 2, 1, a));

    // A queued name without a record changes nothing and leaves the queue.
    const auto before = Scenario::snapshot(*t.agent.chip);
    t.mgr->cpuTrapAclToUpdateIs("nobody", 300);
    t.mgr->natCpuTrapAclRedistribute(1024);
    EXPECT_EQ(Scenario::snapshot(*t.agent.chip), before);
    EXPECT_TRUE(t.mgr->cpuTrapAclToUpdate().empty());

    // A fault on the first new entry: that entry stays where it was, the other one moves.
    t.agent.chip->table("twiceNatAclId")->failNextWritesIs(1);
    t.mgr->cpuTrapAclToUpdateIs("web", 200);
    t.mgr->natCpuTrapAclRedistribute(1024);
    std::set<int32_t> prios;
    for (const auto& e : t.aclIdEntries()) {
        prios.insert(e.match().priority());
    }
    EXPECT_EQ(prios, (std::set<int32_t>{100 * 1024 + 3, 200 * 1024 + 7}));
    EXPECT_EQ(t.invariants(), "");

    // Each rule keeps its slot in the new block and its action; the trap entries stay.
    const auto traps = t.trapEntries();
    TestSupport::TraceCapture trace("VyrNatTableMgrTwice/0-9");
    t.mgr->cpuTrapAclToUpdateIs("web", 250);
    t.mgr->natCpuTrapAclRedistribute(1024);
    EXPECT_TRUE(t.mgr->cpuTrapAclToUpdate().empty());
    prios.clear();
    for (const auto& e : t.aclIdEntries()) {
        prios.insert(e.match().priority());
        EXPECT_EQ(e.actionIf<VyrP4::SetTwiceNatAclIdActionSpec>()->twiceNatAclId(), 1u);
    }
    EXPECT_EQ(prios, (std::set<int32_t>{250 * 1024 + 3, 250 * 1024 + 7}));
    EXPECT_TRUE(trace.has("Acl: web old prio: 204807 new prio: 256007, seq: 7"));
    EXPECT_EQ(t.trapEntries(), traps);
    EXPECT_EQ(t.invariants(), "");
    t.del("web", 1, 1);
    t.del("web", 2, 1);
    EXPECT_EQ(t.agent.leftOver(), "");
}

} // namespace
