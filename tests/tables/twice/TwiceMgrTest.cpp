// The twice manager on a booted agent: the entries a translation becomes, what is shared, what
// is refused, checked against the invariants after each case.

#include "host/LogMessage.h"
#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/NatValues.h"
#include "tests/support/TraceCapture.h"

#include <gtest/gtest.h>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;
using TestSupport::ipp;

struct Twice {
    explicit Twice(Scenario::Scenario s = BootedAgent::scenarioFor("default"))
        : agent(std::move(s)) {
        agent.boot();
        mgr = agent.owner()->tableMgrTwice();
    }
    NatHwResult add(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld, IpAndPort dstNew,
                    uint8_t proto = 6, uint32_t nextHop = 5, uint32_t profile = 1) {
        return mgr->updateTwiceNatTranslation(srcOld, srcNew, dstOld, dstNew, proto, nextHop, false,
                                              profile, 1, false, false);
    }
    void del(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld, IpAndPort dstNew,
             uint32_t profile = 1) {
        mgr->deleteTwiceNatTranslation(srcOld, srcNew, dstOld, dstNew, profile, 1);
    }
    const RewriteEntry& rewrite(IpAndPort srcOld, IpAndPort dstOld, IpAndPort srcNew,
                                IpAndPort dstNew) const {
        return *mgr->rewriteEntry().find(rewriteInfo(srcOld, dstOld, srcNew, dstNew));
    }
    const AddrOnlyEntry& addrOnly(const char* sip, const char* dip) const {
        return mgr->addrOnlyEntry().at({1, ipp(sip).ip, ipp(dip).ip});
    }
    std::string invariants() const { return TestSupport::twiceInvariants(*mgr); }

    BootedAgent agent;
    VyrNatTableMgrTwice* mgr = nullptr;
};

TEST(TwiceMgr, DuplicatesSharedRewritesAndIdsFromOne) {
    Twice t;
    const auto s = ipp("10.0.0.1", 80), sn = ipp("1.1.1.1", 8080);
    const auto d = ipp("20.0.0.1", 443), dn = ipp("2.2.2.2", 443);
    ASSERT_EQ(t.add(s, sn, d, dn), NatHwResult::success);
    // The address-only entry, its fragment element's and the full rewrites, the port entry.
    EXPECT_EQ(t.mgr->addrOnlyEntry().begin()->second.keyId, 1);
    EXPECT_EQ(t.mgr->rewriteIds().countSet(), 3u) << "ids 1 and 2 beside the reserved 0";
    EXPECT_EQ(t.mgr->addrPortTable()->entryCount(), 1u);
    EXPECT_EQ(t.mgr->addrOnlyFragmentEntries(), 1u);
    const auto chip = Scenario::snapshot(*t.agent.chip);

    // The same translation again, from this profile or another: success, nothing changes. The
    // same untranslated side translated otherwise: a duplicate, logged once per call.
    Log::reset();
    EXPECT_EQ(t.add(s, sn, d, dn, 6, 9, 2), NatHwResult::success);
    EXPECT_EQ(Scenario::snapshot(*t.agent.chip), chip);
    EXPECT_EQ(t.add(s, ipp("1.1.1.9", 8080), d, dn), NatHwResult::duplicate);
    EXPECT_EQ(t.add(s, sn, d, dn, 17), NatHwResult::duplicate);
    ASSERT_EQ(Log::written().size(), 1u) << "the second within the message's interval";
    EXPECT_EQ(Log::written()[0].text,
              "Found unexpected duplicate NAT rules for entry 10.0.0.1:80, 20.0.0.1:443, vrf 1");
    EXPECT_EQ(Scenario::snapshot(*t.agent.chip), chip);

    // Another source translated to the same address and ports shares the rewrite entry, and
    // keeps its own source port: the shared action writes the port the second one changes.
    const auto s2 = ipp("10.0.0.2", 8080);
    ASSERT_EQ(t.add(s2, sn, d, dn), NatHwResult::success);
    EXPECT_EQ(t.rewrite(s, d, sn, dn).refCount, 1u) << "deltas differ: not shared";
    const auto s3 = ipp("10.0.0.3", 8080);
    ASSERT_EQ(t.add(s3, sn, ipp("20.0.0.2", 443), dn), NatHwResult::success);
    const auto s4 = ipp("10.0.0.2", 8081);
    // 10.0.0.2:8081 and 10.0.0.3:8080 change the checksum alike.
    ASSERT_EQ(t.rewrite(s4, ipp("20.0.0.2", 443), sn, dn).info,
              t.rewrite(s3, ipp("20.0.0.2", 443), sn, dn).info);
    ASSERT_EQ(t.add(s4, sn, ipp("20.0.0.2", 443), dn), NatHwResult::success);
    const RewriteEntry& shared = t.rewrite(s3, ipp("20.0.0.2", 443), sn, dn);
    EXPECT_EQ(shared.refCount, 2u);
    EXPECT_EQ(shared.ports, kRewriteSport);
    EXPECT_EQ(t.invariants(), "");
    t.del(s4, sn, ipp("20.0.0.2", 443), dn);
    EXPECT_EQ(t.rewrite(s3, ipp("20.0.0.2", 443), sn, dn).refCount, 1u);
    EXPECT_EQ(t.invariants(), "");
    t.del(s3, sn, ipp("20.0.0.2", 443), dn);
    t.del(s2, sn, d, dn);
    t.del(s, sn, d, dn);
    EXPECT_EQ(t.agent.leftOver(), "");
    EXPECT_EQ(t.mgr->keyIds().countSet(), 1u);
    EXPECT_EQ(t.mgr->rewriteIds().countSet(), 1u);
}

TEST(TwiceMgr, FragmentElementsDummiesAndSinglePortTables) {
    Twice t;
    const auto sn = ipp("1.1.1.1", 9000), dn = ipp("2.2.2.2", 443);
    const auto a = ipp("10.0.0.1", 80), b = ipp("10.0.0.1", 81), d = ipp("20.0.0.1", 443);
    ASSERT_EQ(t.add(a, sn, d, dn), NatHwResult::success);
    ASSERT_EQ(t.add(b, sn, d, dn), NatHwResult::success);
    // Two port translations of one pair: the address-only entry holds the dummy action.
    EXPECT_EQ(VyrNatTableMgrTwice::hwAction(t.addrOnly("10.0.0.1", "20.0.0.1")), AddrOnlyAction{});
    EXPECT_EQ(t.mgr->addrOnlyFragmentEntries(), 0u);
    TestSupport::TraceCapture trace("VyrNatTableMgrTwice/0-9");
    t.del(a, sn, d, dn);
    EXPECT_TRUE(trace.has("Only 1 fragment left, reprogramming the hw"));
    const AddrOnlyAction left = VyrNatTableMgrTwice::hwAction(t.addrOnly("10.0.0.1", "20.0.0.1"));
    EXPECT_TRUE(left.frag);
    EXPECT_NE(left.rewriteId, 0);
    EXPECT_EQ(t.mgr->addrOnlyFragmentEntries(), 1u);
    EXPECT_EQ(t.invariants(), "");

    // One port: the source-port or the destination-port table, never the two-port one.
    const auto srcOnly = ipp("10.0.0.2", 80), dstOnly = ipp("20.0.0.3", 443);
    ASSERT_EQ(t.add(srcOnly, ipp("1.1.1.2", 80), ipp("20.0.0.2"), ipp("2.2.2.3")),
              NatHwResult::success);
    ASSERT_EQ(t.add(ipp("10.0.0.3"), ipp("1.1.1.3"), dstOnly, ipp("2.2.2.4", 443)),
              NatHwResult::success);
    EXPECT_EQ(t.mgr->addrPortTable()->entryCount(), 1u);
    EXPECT_EQ(t.mgr->addrSrcPortTable()->entryCount(), 1u);
    EXPECT_EQ(t.mgr->addrDstPortTable()->entryCount(), 1u);
    // A next hop the chip's 16 bits cannot hold is refused, not cut short.
    EXPECT_EQ(t.add(ipp("10.0.0.4", 80), sn, d, dn, 6, 0x10005), NatHwResult::failure);
    // An update changes the next hop where the chip holds it.
    ASSERT_EQ(t.mgr->updateTwiceNatTranslation(b, sn, d, dn, 6, 7, true, 1, 1, true, false),
              NatHwResult::success);
    const auto key = t.addrOnly("10.0.0.1", "20.0.0.1").keyId;
    EXPECT_EQ(t.mgr->addrPortEntry().at({key, 81, 443}).action.nextHop, 7u);
    EXPECT_EQ(t.invariants(), "");
    t.del(b, sn, d, dn);
    t.del(srcOnly, ipp("1.1.1.2", 80), ipp("20.0.0.2"), ipp("2.2.2.3"));
    t.del(ipp("10.0.0.3"), ipp("1.1.1.3"), dstOnly, ipp("2.2.2.4", 443));
    EXPECT_EQ(t.agent.leftOver(), "");

    // With the whole table reserved for non-fragments, port translations get dummy elements and
    // no fragment rewrite.
    auto s = BootedAgent::scenarioFor("default");
    s.vyrNatConfig.twiceNatAddrOnlyNonFragmentReserve = s.profile.twiceNatAddrOnlyTableSize();
    Twice reserved(s);
    ASSERT_EQ(reserved.add(a, sn, d, dn), NatHwResult::success);
    EXPECT_EQ(reserved.mgr->rewriteEntry().records().size(), 1u);
    EXPECT_EQ(reserved.addrOnly("10.0.0.1", "20.0.0.1").fragEntry.begin()->second.rewriteId, 0);
    EXPECT_EQ(reserved.invariants(), "");
}

} // namespace
