#include "common/VyrNatUtils.h"
#include "host/Assert.h"
#include "host/LogMessage.h"
#include "tables/egress/VyrNatTableMgrEgressStatic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/ChipCheck.h"
#include "tests/support/Invariants.h"

#include <gtest/gtest.h>

namespace {

using Ip::IpAddr;
using Ip::IpAndPort;
using TestSupport::BootedAgent;
using namespace VyrNat;

IpAddr ip(const char* text) {
    return *IpAddr::parse(text);
}
IpAndPort ipp(const char* text, uint16_t port = 0) {
    return {ip(text), port};
}

class EgressStaticMgr : public ::testing::Test {
protected:
    void SetUp() override {
        agent.boot();
        mgr = agent.owner()->tableMgrEgressStatic();
        ASSERT_NE(mgr, nullptr);
    }
    void advance(double s) { agent.loop.advance(Tasking::seconds(s)); }
    std::string invariants() const { return TestSupport::egressStaticInvariants(*mgr); }
    // The address entry recorded under (addr, frag) in the profile, or null.
    template <class Records>
    static auto addrEntry(const Records& records, uint16_t profile, const char* addr, uint8_t frag)
        -> decltype(&records.begin()->second.addrOnlyMS.begin()->second) {
        auto hw = records.find(profile);
        if (hw == records.end()) {
            return nullptr;
        }
        auto e = hw->second.addrOnlyMS.find({ip(addr), frag});
        return e == hw->second.addrOnlyMS.end() ? nullptr : &e->second;
    }
    const EgrSnatAddrOnlyEntry* snatAddr(uint16_t profile, const char* addr, uint8_t frag) const {
        return addrEntry(mgr->hwStaticSnatEntries(), profile, addr, frag);
    }
    const EgrDnatAddrOnlyEntry* dnatAddr(uint16_t profile, const char* addr, uint8_t frag) const {
        return addrEntry(mgr->hwStaticDnatEntries(), profile, addr, frag);
    }
    static VyrP4::EgrAddrSnatEntry snatEntry(uint16_t profile, IpAddr oldIp, IpAddr newIp) {
        VyrP4::EgrAddrSnatMatchSpec ms;
        ms.egrMdNatProfileIdIs(profile);
        ms.outerIpv4HdrSipIs(oldIp.value);
        VyrP4::EgrNatSipActionSpec a;
        a.checksumDeltaIs(calculateChecksumDeltaAddrOnly(oldIp.value, newIp.value));
        a.translatedSipIs(newIp.value);
        return {ms, a};
    }

    Host::ThrowOnAssert throwOnAssert;
    BootedAgent agent{BootedAgent::scenarioFor("egressNat")};
    VyrNatTableMgrEgressStatic* mgr = nullptr;
};

TEST(EgressStaticKeys, TextFormsAndOrderingByAddressFirst) {
    EXPECT_EQ((EgrSnatAddrKey{ip("10.0.0.1"), 1}).str(),
              "Value('VyrNat::EgrSnatAddrKey', ** {'ip': 10.0.0.1, 'frag': 1})");
    EXPECT_EQ((EgrDnatAddrPortKey{ipp("1.1.1.1", 80), 6}).str(),
              "Value('VyrNat::EgrDnatAddrPortKey', ** {'ip': 1.1.1.1:80, 'proto': 6})");
    EXPECT_LT((EgrSnatAddrKey{ip("10.0.0.1"), 1}), (EgrSnatAddrKey{ip("10.0.0.2"), 0}));
    EXPECT_LT((EgrSnatAddrKey{ip("10.0.0.1"), 0}), (EgrSnatAddrKey{ip("10.0.0.1"), 1}));
    EXPECT_LT((EgrDnatAddrPortKey{ipp("1.1.1.1", 80), 17}),
              (EgrDnatAddrPortKey{ipp("1.1.1.1", 81), 6}));
}

TEST_F(EgressStaticMgr, ForcedFailureIsRetriedOneSecondLaterWithoutAnExtraReference) {
    EXPECT_EQ(mgr->retrySm()->snatRetryTask().priority(), 5);
    mgr->forceEntryInstallFailIs(1);
    EXPECT_FALSE(mgr->updateStaticSnat(3, ipp("10.0.0.1"), ipp("1.1.1.1"), 0, false));
    const auto* e = snatAddr(3, "10.0.0.1", 0);
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->programmed);
    EXPECT_EQ(mgr->hwStaticSnatEntries().at(3).retryList.size(), 1u);
    EXPECT_EQ(mgr->egrAddrSnatTable()->entryCount(), 0u);

    advance(0.5);
    EXPECT_FALSE(e->programmed);
    advance(0.5);
    EXPECT_TRUE(e->programmed);
    EXPECT_EQ(e->refCount, 1);
    EXPECT_EQ(TestSupport::tableDiff(*mgr->egrAddrSnatTable(),
                                     {snatEntry(3, ip("10.0.0.1"), ip("1.1.1.1"))}),
              "");
    EXPECT_EQ(invariants(), "");

    // Another translation of the address (under another access list) to the same address is a
    // second user; one to another address is refused, since the chip holds only one.
    EXPECT_TRUE(mgr->updateStaticSnat(3, ipp("10.0.0.1"), ipp("1.1.1.1"), 0, false));
    EXPECT_EQ(e->refCount, 2);
    Log::reset();
    EXPECT_FALSE(mgr->updateStaticSnat(3, ipp("10.0.0.1"), ipp("2.2.2.2"), 0, false));
    EXPECT_EQ(Log::written().size(), 1u);
    mgr->deleteStaticSnat(3, ipp("10.0.0.1"), 0);
    EXPECT_TRUE(e->programmed);
    EXPECT_EQ(e->refCount, 1);
    mgr->deleteStaticSnat(3, ipp("10.0.0.1"), 0);
    EXPECT_EQ(agent.leftOver(), "");
}

TEST_F(EgressStaticMgr, TableThatStaysFullIsRetriedEverySecondWithoutGrowth) {
    auto& engine = mgr->egrAddrDnatTable()->engine();
    engine.failProbabilityIs(1.0, 7);
    EXPECT_FALSE(mgr->updateStaticDnat(1, ipp("1.1.1.1"), ipp("10.0.0.1"), 0, false));
    const auto timers = agent.loop.timerCount();
    const auto& hw = mgr->hwStaticDnatEntries().at(1);
    for (int second = 1; second <= 5; ++second) {
        const auto attempts = engine.injectedFaults();
        advance(1.0);
        EXPECT_EQ(engine.injectedFaults(), attempts + 1) << "second " << second;
        EXPECT_EQ(mgr->hwStaticDnatEntries().size(), 1u);
        EXPECT_EQ(hw.addrOnlyMS.size(), 1u);
        EXPECT_EQ(hw.retryList.size(), 1u);
        EXPECT_EQ(hw.addrPortMS.size(), 0u);
        EXPECT_EQ(dnatAddr(1, "1.1.1.1", 0)->refCount, 1);
        EXPECT_EQ(agent.loop.timerCount(), timers);
    }
    engine.faultsClear();
    advance(1.0);
    EXPECT_TRUE(dnatAddr(1, "1.1.1.1", 0)->programmed);
    EXPECT_TRUE(hw.retryList.empty());
    EXPECT_EQ(invariants(), "");
}

TEST_F(EgressStaticMgr, RetryPassYieldsBetweenProfilesAndResumesAtItsBookmark) {
    constexpr uint16_t kProfiles = 10;
    mgr->forceEntryInstallFailIs(kProfiles);
    for (uint16_t p = 1; p <= kProfiles; ++p) {
        EXPECT_FALSE(mgr->updateStaticSnat(p, ipp("10.0.0.1"), ipp("1.1.1.1"), 0, false));
    }
    auto programmed = [&] {
        std::vector<uint16_t> out;
        for (const auto& [p, hw] : mgr->hwStaticSnatEntries()) {
            if (hw.retryList.empty()) {
                out.push_back(p);
            }
        }
        return out;
    };
    mgr->retrySm()->scheduler().yieldEveryIs(4);
    advance(1.0);
    EXPECT_EQ(programmed(), (std::vector<uint16_t>{1, 2, 3, 4}));
    EXPECT_EQ(mgr->retrySm()->snatRetryBookmark(), 5);
    advance(1.0);
    EXPECT_EQ(programmed(), (std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(mgr->retrySm()->snatRetryBookmark(), 9);
    advance(1.0);
    EXPECT_EQ(programmed().size(), kProfiles);
    EXPECT_EQ(mgr->retrySm()->snatRetryBookmark(), 0);
    EXPECT_EQ(mgr->egrAddrSnatTable()->entryCount(), kProfiles);
    mgr->retrySm()->scheduler().yieldEveryIs(0);
}

TEST_F(EgressStaticMgr, AddrPortDnatWritesThreeEntriesAndSharesItsDropEntry) {
    EXPECT_TRUE(mgr->updateStaticDnat(2, ipp("1.1.1.1", 80), ipp("10.0.0.1", 8080), 6, false));

    VyrP4::EgrAddrPortDnatMatchSpec portMs;
    portMs.egrMdNatProfileIdIs(2);
    portMs.l4PortHdrDstPortIs(80);
    portMs.outerIpv4HdrProtocolIs(6);
    portMs.outerIpv4HdrDipIs(ip("1.1.1.1").value);
    VyrP4::EgrNatDipPortActionSpec portAction;
    portAction.checksumDeltaIs(
        calculateChecksumDeltaAddrPort(ip("1.1.1.1").value, ip("10.0.0.1").value, 80, 8080));
    portAction.translatedDipIs(ip("10.0.0.1").value);
    portAction.translatedDportIs(8080);
    EXPECT_EQ(TestSupport::tableDiff(*mgr->egrAddrPortDnatTable(), {{portMs, portAction}}), "");

    VyrP4::EgrAddrDnatMatchSpec dropMs;
    dropMs.egrMdNatProfileIdIs(2);
    dropMs.outerIpv4HdrDipIs(ip("1.1.1.1").value);
    VyrP4::EgrAddrDnatMatchSpec fragMs = dropMs;
    fragMs.egrMdIpv4FragmentIs(1);
    VyrP4::EgrNatDipActionSpec fragAction;
    fragAction.checksumDeltaIs(
        calculateChecksumDeltaAddrOnly(ip("1.1.1.1").value, ip("10.0.0.1").value));
    fragAction.translatedDipIs(ip("10.0.0.1").value);
    const VyrP4::EgrAddrDnatEntry drop{dropMs, VyrP4::EgrNatDropActionSpec()};
    EXPECT_EQ(TestSupport::tableDiff(*mgr->egrAddrDnatTable(), {drop, {fragMs, fragAction}}), "");

    // A second address-and-port DNAT of the address shares the drop entry.
    EXPECT_TRUE(mgr->updateStaticDnat(2, ipp("1.1.1.1", 81), ipp("10.0.0.2", 8081), 6, false));
    EXPECT_EQ(dnatAddr(2, "1.1.1.1", 0)->refCount, 2);
    EXPECT_EQ(mgr->egrAddrDnatTable()->entryCount(), 2u);
    mgr->deleteStaticDnat(2, ipp("1.1.1.1", 80), 6);
    EXPECT_EQ(dnatAddr(2, "1.1.1.1", 0)->refCount, 1);
    EXPECT_EQ(mgr->egrAddrDnatTable()->entry(dropMs), drop);
    EXPECT_EQ(invariants(), "");

    // An address-only DNAT of the address takes the entry over; deleting it brings the drop
    // entry back for the remaining address-and-port DNAT.
    EXPECT_TRUE(mgr->updateStaticDnat(2, ipp("1.1.1.1"), ipp("10.0.0.9"), 0, false));
    const auto taken = mgr->egrAddrDnatTable()->entry(dropMs);
    ASSERT_TRUE(taken);
    EXPECT_NE(taken->actionIf<VyrP4::EgrNatDipActionSpec>(), nullptr);
    EXPECT_EQ(invariants(), "");
    mgr->deleteStaticDnat(2, ipp("1.1.1.1"), 0);
    EXPECT_EQ(mgr->egrAddrDnatTable()->entry(dropMs), drop);
    EXPECT_EQ(invariants(), "");

    // A drop user of an entry in use only counts, even while the entry waits for a retry.
    mgr->forceEntryInstallFailIs(1);
    EXPECT_FALSE(mgr->updateStaticDnat(2, ipp("1.1.1.1"), ipp("10.0.0.9"), 0, false));
    EXPECT_TRUE(mgr->updateStaticDnat(2, ipp("1.1.1.1", 83), ipp("10.0.0.3", 83), 6, false));
    EXPECT_EQ(dnatAddr(2, "1.1.1.1", 0)->refCount, 3);
    EXPECT_EQ(invariants(), "");
    // An address-only DNAT to 0.0.0.0 drops the address; with a port it is refused.
    EXPECT_TRUE(mgr->updateStaticDnat(2, ipp("1.1.1.5"), ipp("0.0.0.0"), 0, false));
    EXPECT_EQ(mgr->egrAddrDnatTable()->entry(dnatAddr(2, "1.1.1.5", 0)->matchSpec),
              (VyrP4::EgrAddrDnatEntry{dnatAddr(2, "1.1.1.5", 0)->matchSpec,
                                       VyrP4::EgrNatDropActionSpec()}));
    EXPECT_FALSE(mgr->updateStaticDnat(2, ipp("1.1.1.1", 82), ipp("0.0.0.0", 82), 6, false));
    for (auto [addr, port] : {std::pair{"1.1.1.5", 0}, {"1.1.1.1", 0}, {"1.1.1.1", 83}}) {
        mgr->deleteStaticDnat(2, ipp(addr, uint16_t(port)), port ? 6 : 0);
    }
    EXPECT_EQ(mgr->egrAddrDnatTable()->entry(dropMs), drop);
    mgr->deleteStaticDnat(2, ipp("1.1.1.1", 81), 6);
    EXPECT_EQ(agent.leftOver(), "");
}

TEST_F(EgressStaticMgr, MulticastDestinationsUseTheMacRewritingActions) {
    // The untranslated address decides, even for a multicast group translated to unicast.
    EXPECT_TRUE(mgr->updateStaticDnat(1, ipp("239.1.1.1"), ipp("10.9.9.9"), 0, false));
    EXPECT_TRUE(
        mgr->updateStaticDnat(1, ipp("239.1.1.2", 5000), ipp("239.3.3.3", 6000), 17, false));
    EXPECT_TRUE(mgr->updateStaticDnat(1, ipp("10.1.1.1"), ipp("10.2.2.2"), 0, false));
    size_t mac = 0;
    size_t plain = 0;
    for (const auto& e : mgr->egrAddrDnatTable()->entries()) {
        const bool mc = e.match().outerIpv4HdrDip() >> 28 == 0xE;
        if (e.actionIf<VyrP4::EgrNatDipMacActionSpec>()) {
            EXPECT_TRUE(mc) << e.str();
            ++mac;
        }
        if (e.actionIf<VyrP4::EgrNatDipActionSpec>()) {
            EXPECT_FALSE(mc) << e.str();
            ++plain;
        }
    }
    EXPECT_EQ(mac, 2u); // the address-only DNAT and the fragment companion
    EXPECT_EQ(plain, 1u);
    const auto ports = mgr->egrAddrPortDnatTable()->entries();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_NE(ports[0].actionIf<VyrP4::EgrNatDipPortMacActionSpec>(), nullptr);
    EXPECT_EQ(invariants(), "");
}

TEST_F(EgressStaticMgr, RefusedRewriteKeepsTheOldTranslationUntilTheRetry) {
    ASSERT_TRUE(mgr->updateStaticSnat(1, ipp("10.0.0.1"), ipp("1.1.1.1"), 0, false));
    const auto held = snatEntry(1, ip("10.0.0.1"), ip("1.1.1.1"));
    const auto* e = snatAddr(1, "10.0.0.1", 0);

    mgr->forceEntryInstallFailIs(1);
    EXPECT_FALSE(mgr->updateStaticSnat(1, ipp("10.0.0.1"), ipp("2.2.2.2"), 0, true));
    EXPECT_EQ(TestSupport::tableDiff(*mgr->egrAddrSnatTable(), {held}), "");
    EXPECT_FALSE(e->programmed);
    EXPECT_EQ(e->refCount, 1);
    EXPECT_EQ(invariants(), "");
    advance(1.0);
    EXPECT_EQ(TestSupport::tableDiff(*mgr->egrAddrSnatTable(),
                                     {snatEntry(1, ip("10.0.0.1"), ip("2.2.2.2"))}),
              "");
    EXPECT_EQ(e->refCount, 1);

    // Deleted before the retry: the earlier entry goes too, and the retry brings nothing back.
    mgr->forceEntryInstallFailIs(1);
    EXPECT_FALSE(mgr->updateStaticSnat(1, ipp("10.0.0.1"), ipp("3.3.3.3"), 0, true));
    mgr->deleteStaticSnat(1, ipp("10.0.0.1"), 0);
    advance(1.0);
    EXPECT_EQ(agent.leftOver(), "");

    // Address-and-port entries are not retried: a refused rewrite keeps the old translation,
    // a refused first write leaves nothing behind.
    ASSERT_TRUE(mgr->updateStaticSnat(1, ipp("10.0.0.5", 80), ipp("1.1.1.1", 8080), 6, false));
    const auto before = mgr->egrAddrPortSnatTable()->entries();
    mgr->forceEntryInstallFailIs(1);
    EXPECT_FALSE(mgr->updateStaticSnat(1, ipp("10.0.0.5", 80), ipp("2.2.2.2", 9090), 6, true));
    EXPECT_EQ(TestSupport::tableDiff(*mgr->egrAddrPortSnatTable(), before), "");
    mgr->forceEntryInstallFailIs(1);
    EXPECT_FALSE(mgr->updateStaticSnat(1, ipp("10.0.0.6", 80), ipp("2.2.2.2", 9090), 6, false));
    EXPECT_EQ(mgr->hwStaticSnatEntries().at(1).addrPortMS.size(), 1u);
    EXPECT_EQ(invariants(), "");
    mgr->deleteStaticSnat(1, ipp("10.0.0.6", 80), 6);
    mgr->deleteStaticSnat(1, ipp("10.0.0.5", 80), 6);
    EXPECT_EQ(agent.leftOver(), "");
}

TEST_F(EgressStaticMgr, NatProfileTablesRewriteOneEntryPerVlan) {
    auto& table = *mgr->ingNatProfileTable();
    EXPECT_TRUE(mgr->updateIngNatProfileTable(10, 3));
    EXPECT_TRUE(mgr->updateIngNatProfileTable(10, 4));
    ASSERT_EQ(table.entryCount(), 1u);
    auto profileOf = [&] {
        return table.entries()[0]
            .actionIf<VyrP4::SetEgrMdIngNatProfileActionSpec>()
            ->ingNatProfileId();
    };
    EXPECT_EQ(profileOf(), 4);
    mgr->forceEntryInstallFailIs(1);
    EXPECT_FALSE(mgr->updateIngNatProfileTable(10, 5));
    EXPECT_EQ(profileOf(), 4);
    EXPECT_TRUE(mgr->updateEgrNatProfileTable(10, 7));
    EXPECT_EQ(invariants(), "");
    mgr->deleteIngNatProfileTable(10);
    mgr->deleteIngNatProfileTable(10);
    mgr->deleteEgrNatProfileTable(10);
    EXPECT_EQ(table.entryCount(), 0u);
    EXPECT_EQ(mgr->egrNatProfileTable()->entryCount(), 0u);
    EXPECT_TRUE(mgr->hwIngNatProfileEntries().empty());
}

} // namespace
