#include "common/VyrNatUtils.h"
#include "host/Assert.h"
#include "host/LogMessage.h"
#include "tables/static/StaticNatOps.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/NatValues.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;

using TestSupport::aclKey;
using TestSupport::addrOnlySnat;
using TestSupport::ip;
using TestSupport::ipp;
using VyrNat::fragmentKey;

class StaticMgr : public ::testing::Test {
protected:
    void boot(Scenario::Scenario s) {
        Log::reset();
        mgr = nullptr;
        agent.reset(); // its event loop goes before the next one starts
        agent = std::make_unique<BootedAgent>(std::move(s));
        agent->boot();
        mgr = agent->owner()->tableMgrStatic();
        ASSERT_NE(mgr, nullptr);
    }
    void SetUp() override { boot(BootedAgent::scenarioFor("egressNat")); }
    void TearDown() override {
        if (mgr) {
            EXPECT_EQ(TestSupport::staticInvariants(*mgr), "");
        }
    }
    // A profile field changed from the named profile's.
    static Scenario::Scenario with(const char* profile, const char* field, const char* value) {
        auto s = BootedAgent::scenarioFor(profile);
        std::string error;
        EXPECT_TRUE(s.profile.fieldIs(field, value, error)) << error;
        return s;
    }
    // The SNAT fragment records of an address under a key: programmed, and held back.
    const HwStaticSnatEntry* snatRecord(uint16_t profile, const HwStaticNatAclKey& k) {
        auto p = mgr->hwStaticSnatEntries().find(profile);
        if (p == mgr->hwStaticSnatEntries().end() || !p->second.staticSnatEntries.count(k)) {
            return nullptr;
        }
        return &p->second.staticSnatEntries.at(k);
    }
    const SnatAddrOnlyEntry* fragment(uint16_t profile, const HwStaticNatAclKey& k,
                                      const char* addr) {
        const auto* e = snatRecord(profile, k);
        return e && e->addrOnlyMS.count(ip(addr)) ? &e->addrOnlyMS.at(ip(addr)) : nullptr;
    }
    const SnatAddrOnlyUnprogFrag* unprog(uint16_t profile, const HwStaticNatAclKey& k,
                                         const char* addr) {
        const auto* e = snatRecord(profile, k);
        return e && e->unprogrammedFrag.count(ip(addr)) ? &e->unprogrammedFrag.at(ip(addr))
                                                        : nullptr;
    }

    std::unique_ptr<BootedAgent> agent;
    VyrNatTableMgrStatic* mgr = nullptr;
};

TEST_F(StaticMgr, TypicalTranslationWritesAclAddrPortAndFragmentAndRefusesItsDuplicate) {
    const auto key = aclKey();
    ASSERT_TRUE(
        mgr->updateStaticSnat(3, key, ipp("10.0.0.5", 80), ipp("192.0.2.7", 8080), false, false));
    // The rule's ACL entry (priority 1, every packet) and the fragment rule's (priority 0).
    const auto& rule = mgr->hwStaticSnatAclEntries().at(key);
    const auto& frag = mgr->hwStaticSnatAclEntries().at(fragmentKey(key));
    EXPECT_EQ(rule.aclId, 1);
    EXPECT_EQ(frag.aclId, 2);
    EXPECT_EQ(rule.matchSpec.priority(), 1);
    EXPECT_EQ(rule.matchSpec.ingMdIpv4FragmentMask(), 0);
    EXPECT_EQ(frag.matchSpec.priority(), 0);
    EXPECT_EQ(frag.matchSpec.ingMdIpv4Fragment(), 1);
    EXPECT_EQ(frag.matchSpec.ingMdIpv4FragmentMask(), 0xff);

    VyrP4::AddrPortSnatMatchSpec ap;
    ap.ingMdNatProfileIdIs(3);
    ap.ingMdSnatAclIdIs(1);
    ap.l4PortHdrSrcPortIs(80);
    ap.outerIpv4HdrSipIs(ip("10.0.0.5").value);
    auto apEntry = mgr->addrPortSnatTable()->entry(ap);
    ASSERT_TRUE(apEntry);
    const auto* action = apEntry->actionIf<VyrP4::SetTranslatedSipPortActionSpec>();
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->translatedSip(), ip("192.0.2.7").value);
    EXPECT_EQ(action->translatedSport(), 8080);
    EXPECT_EQ(action->checksumDelta(), calculateChecksumDeltaAddrPort(
                                           ip("10.0.0.5").value, ip("192.0.2.7").value, 80, 8080));
    auto fragEntry = mgr->addrOnlySnatTable()->entry(addrOnlySnat(3, 2, "10.0.0.5"));
    ASSERT_TRUE(fragEntry);
    EXPECT_EQ(fragEntry->actionIf<VyrP4::SetTranslatedSipActionSpec>()->translatedSip(),
              ip("192.0.2.7").value);

    // The duplicate is refused and logged once a minute.
    EXPECT_FALSE(
        mgr->updateStaticSnat(3, key, ipp("10.0.0.5", 80), ipp("192.0.2.8", 8080), false, false));
    EXPECT_FALSE(
        mgr->updateStaticSnat(3, key, ipp("10.0.0.5", 80), ipp("192.0.2.9", 8080), false, false));
    ASSERT_EQ(Log::written().size(), 1u);
    EXPECT_EQ(Log::written()[0].name, "VYR_NAT_DUPLICATE_ENTRY");
    EXPECT_EQ(Log::written()[0].text,
              "Found unexpected duplicate NAT rules for address 10.0.0.5:80");
    EXPECT_EQ(mgr->addrPortSnatTable()->entryCount(), 1u);
    mgr->deleteStaticSnatEntry(3, key, ipp("10.0.0.5", 80), ipp("192.0.2.7", 8080));
    EXPECT_EQ(agent->leftOver(), "");
}

TEST_F(StaticMgr, SharedFragmentCountsUsersAndAConflictingUserUnprogramsIt) {
    const auto key = aclKey("10.1.0.0/16", 6);
    const auto fk = fragmentKey(key);
    ASSERT_TRUE(
        mgr->updateStaticSnat(1, key, ipp("10.0.0.1", 80), ipp("1.1.1.1", 8080), false, false));
    ASSERT_TRUE(
        mgr->updateStaticSnat(1, key, ipp("10.0.0.1", 81), ipp("1.1.1.1", 8081), false, false));
    ASSERT_NE(fragment(1, fk, "10.0.0.1"), nullptr);
    EXPECT_EQ(fragment(1, fk, "10.0.0.1")->refCount, 2);
    EXPECT_EQ(mgr->addrOnlySnatTable()->entryCount(), 1u);

    mgr->deleteStaticSnatEntry(1, key, ipp("10.0.0.1", 81), ipp("1.1.1.1", 8081));
    EXPECT_EQ(fragment(1, fk, "10.0.0.1")->refCount, 1);
    EXPECT_EQ(mgr->addrOnlySnatTable()->entryCount(), 1u);

    ASSERT_TRUE(
        mgr->updateStaticSnat(1, key, ipp("10.0.0.1", 81), ipp("1.1.1.1", 8081), false, false));
    // A third user wants another new address: the fragment leaves the chip, every
    // address-and-port entry stays.
    EXPECT_TRUE(
        mgr->updateStaticSnat(1, key, ipp("10.0.0.1", 82), ipp("2.2.2.2", 8082), false, false));
    EXPECT_EQ(fragment(1, fk, "10.0.0.1"), nullptr);
    EXPECT_EQ(mgr->addrOnlySnatTable()->entryCount(), 0u);
    EXPECT_EQ(mgr->addrPortSnatTable()->entryCount(), 3u);
    const auto* u = unprog(1, fk, "10.0.0.1");
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->newSip, (std::map<IpAddr, uint16_t>{{ip("1.1.1.1"), 2}, {ip("2.2.2.2"), 1}}));
    EXPECT_EQ(mgr->addrOnlySnatFragmentEntries(), 1u);
    EXPECT_EQ(mgr->addrOnlySnatFragmentUnprogrammedEntries(), 1u);
    EXPECT_FALSE(mgr->hwStaticSnatAclEntries().count(fk)) << "the fragment's ACL went with it";

    // It never comes back, even when the users left agree, and goes with its last user.
    mgr->deleteStaticSnatEntry(1, key, ipp("10.0.0.1", 82), ipp("2.2.2.2", 8082));
    EXPECT_EQ(mgr->addrOnlySnatTable()->entryCount(), 0u);
    EXPECT_EQ(unprog(1, fk, "10.0.0.1")->newSip.size(), 1u);
    mgr->deleteStaticSnatEntry(1, key, ipp("10.0.0.1", 80), ipp("1.1.1.1", 8080));
    mgr->deleteStaticSnatEntry(1, key, ipp("10.0.0.1", 81), ipp("1.1.1.1", 8081));
    EXPECT_EQ(agent->leftOver(), "");
}

TEST_F(StaticMgr, AddressOnlyRuleMovesTheFragmentsOfEveryProfileAndRefusesNewOnes) {
    const auto key = aclKey("0.0.0.0/0", 17);
    const auto fk = fragmentKey(key);
    ASSERT_TRUE(
        mgr->updateStaticSnat(1, key, ipp("10.0.0.1", 53), ipp("1.1.1.1", 53), false, false));
    ASSERT_TRUE(
        mgr->updateStaticSnat(2, key, ipp("10.0.0.2", 53), ipp("2.2.2.2", 53), false, false));
    EXPECT_EQ(mgr->addrOnlySnatTable()->entryCount(), 2u);

    EXPECT_TRUE(mgr->updateStaticSnat(1, key, ipp("10.0.0.9", 0), ipp("9.9.9.9", 0), false, false));
    EXPECT_NE(unprog(1, fk, "10.0.0.1"), nullptr);
    EXPECT_NE(unprog(2, fk, "10.0.0.2"), nullptr);
    EXPECT_EQ(mgr->addrOnlySnatTable()->entryCount(), 1u) << "only the address-only rule";
    EXPECT_FALSE(mgr->hwStaticSnatAclEntries().count(fk));
    EXPECT_EQ(mgr->addrOnlySnatFragmentUnprogrammedEntries(), 2u);

    // Fragment rules of the prefix are refused while the address-only rule stands.
    EXPECT_EQ(mgr->createStaticSnatAclTable(fk, false, false), 0);
    EXPECT_TRUE(
        mgr->updateStaticSnat(1, key, ipp("10.0.0.4", 53), ipp("4.4.4.4", 53), false, false));
    EXPECT_NE(unprog(1, fk, "10.0.0.4"), nullptr);
    EXPECT_EQ(mgr->addrOnlySnatFragmentEntries(), 3u);
}

TEST_F(StaticMgr, ReserveAsLargeAsTheTableNeverWritesAFragment) {
    auto s = with("egressNat", "snatAddrOnlyTableSize", "1024");
    s.vyrNatConfig.addrOnlySnatNonFragmentReserve = 1024;
    boot(s);
    const auto key = aclKey();
    EXPECT_TRUE(
        mgr->updateStaticSnat(1, key, ipp("10.0.0.1", 80), ipp("1.1.1.1", 80), false, false));
    EXPECT_EQ(mgr->addrOnlySnatTable()->entryCount(), 0u);
    EXPECT_EQ(mgr->addrOnlySnatFragmentUnprogrammedEntries(), 1u);
    // Non-fragment address-only translations still fit.
    EXPECT_TRUE(mgr->updateStaticSnat(1, key, ipp("10.0.0.2", 0), ipp("1.1.1.2", 0), false, false));
    EXPECT_EQ(mgr->addrOnlySnatTable()->entryCount(), 1u);
}

TEST_F(StaticMgr, DnatUpdateChangesOnlyTheNextHop) {
    const auto key = aclKey();
    ASSERT_TRUE(mgr->updateStaticDnat(1, key, ipp("1.1.1.1", 0), ipp("10.0.0.1", 0), 5, false,
                                      false, false, false));
    const auto before = mgr->addrOnlyDnatTable()->entries();
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].actionIf<VyrP4::SetTranslatedDipNextHopActionSpec>()->nextHopId(), 5u);

    ASSERT_TRUE(mgr->updateStaticDnat(1, key, ipp("1.1.1.1", 0), ipp("10.0.0.1", 0), 7, true, true,
                                      false, false));
    const auto after = mgr->addrOnlyDnatTable()->entries();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].match(), before[0].match());
    const auto* ecmp = after[0].actionIf<VyrP4::SetTranslatedDipNextHopEcmpActionSpec>();
    ASSERT_NE(ecmp, nullptr);
    EXPECT_EQ(ecmp->ecmpId(), 7u);
    EXPECT_EQ(ecmp->translatedDip(), ip("10.0.0.1").value);
    const auto& rec =
        mgr->hwStaticDnatEntries().at(1).staticDnatEntries.at(key).addrOnlyMS.at(ip("1.1.1.1"));
    EXPECT_EQ(rec.nextHop, 0x80000007u);
    EXPECT_EQ(mgr->hwStaticDnatAclEntries().at(key).refCount, 1);

    // An address-and-port update reaches its fragment too; another new address is refused.
    ASSERT_TRUE(mgr->updateStaticDnat(1, key, ipp("1.1.1.2", 80), ipp("10.0.0.2", 8080), 5, false,
                                      false, false, false));
    ASSERT_TRUE(mgr->updateStaticDnat(1, key, ipp("1.1.1.2", 80), ipp("10.0.0.2", 8080), 9, false,
                                      true, false, false));
    for (const auto& e : mgr->addrOnlyDnatTable()->entries()) {
        if (const auto* a = e.actionIf<VyrP4::SetTranslatedDipNextHopActionSpec>()) {
            EXPECT_EQ(a->nextHopId(), 9u) << "the fragment of 1.1.1.2";
        }
    }
    EXPECT_FALSE(mgr->updateStaticDnat(1, key, ipp("1.1.1.2", 80), ipp("10.0.0.3", 8080), 9, false,
                                       true, false, false));
}

TEST_F(StaticMgr, EgressTranslationWritesThePairOfEntriesUnderSharedAclIds) {
    const auto key = aclKey("192.168.0.0/16");
    ASSERT_TRUE(
        mgr->updateStaticSnat(4, key, ipp("10.0.0.1", 80), ipp("1.1.1.1", 8080), false, true));
    auto entries = mgr->egressSnatTable()->entries();
    ASSERT_EQ(entries.size(), 2u);
    int seen = 0;
    for (const auto& e : entries) {
        const auto& m = e.match();
        EXPECT_EQ(m.egrMdNatProfileId(), 4);
        EXPECT_EQ(m.priority(), 0);
        if (m.l4PortHdrSrcPort() == 80) {
            EXPECT_EQ(m.l4PortHdrSrcPortMask(), 0xffff);
            EXPECT_EQ(m.egrMdSnatAclId(), mgr->hwStaticSnatAclEntries().at(key).aclId);
            EXPECT_NE(e.actionIf<VyrP4::EgrNatSipPortActionSpec>(), nullptr);
            seen |= 1;
        } else {
            EXPECT_EQ(m.l4PortHdrSrcPort(), 0);
            EXPECT_EQ(m.l4PortHdrSrcPortMask(), 0);
            EXPECT_EQ(m.egrMdSnatAclId(), mgr->hwStaticSnatAclEntries().at(fragmentKey(key)).aclId);
            EXPECT_NE(e.actionIf<VyrP4::EgrNatSipActionSpec>(), nullptr);
            seen |= 2;
        }
    }
    EXPECT_EQ(seen, 3);
    // Ingress entries of the key use the same ACL entry.
    ASSERT_TRUE(
        mgr->updateStaticSnat(4, key, ipp("10.0.0.1", 81), ipp("1.1.1.1", 8081), false, false));
    EXPECT_EQ(mgr->staticSnatAclTable()->entryCount(), 2u);
    EXPECT_EQ(mgr->hwStaticSnatAclEntries().at(key).refCount, 2);

    mgr->deleteEgressSnatEntry(4, key, ipp("10.0.0.1", 80), ipp("1.1.1.1", 8080));
    mgr->deleteStaticSnatEntry(4, key, ipp("10.0.0.1", 81), ipp("1.1.1.1", 8081));
    EXPECT_EQ(agent->leftOver(), "");
}

TEST_F(StaticMgr, EgressReserveAsLargeAsTheTableLeavesCompanionsUnprogrammed) {
    auto s = BootedAgent::scenarioFor("egressNat");
    s.vyrNatConfig.egressNonFragmentReserve = s.profile.egrUcNatTableSize();
    boot(s);
    EXPECT_TRUE(mgr->updateStaticDnat(1, aclKey(), ipp("1.1.1.1", 80), ipp("10.0.0.1", 8080), 0,
                                      false, false, false, true));
    EXPECT_EQ(mgr->egressDnatTable()->entryCount(), 1u);
    EXPECT_EQ(mgr->egressDnatFragmentEntries(), 1u);
    EXPECT_EQ(mgr->egressDnatFragmentUnprogrammedEntries(), 1u);
}

TEST_F(StaticMgr, RefusedWritesRecordNothingAndGiveTheirAclIdBack) {
    const auto key = aclKey();
    mgr->addrPortSnatTable()->engine().failNextWritesIs(1, VyrP4::ChipError::tableFull);
    EXPECT_FALSE(
        mgr->updateStaticSnat(1, key, ipp("10.0.0.1", 80), ipp("1.1.1.1", 80), false, false));
    EXPECT_EQ(agent->leftOver(), "");

    mgr->staticSnatAclTable()->engine().failNextWritesIs(1, VyrP4::ChipError::noSysResources);
    EXPECT_FALSE(
        mgr->updateStaticSnat(1, key, ipp("10.0.0.1", 0), ipp("1.1.1.1", 0), false, false));
    EXPECT_EQ(agent->leftOver(), "");
    // The id the refused entry took is handed out again.
    EXPECT_EQ(mgr->createStaticSnatAclTable(key, true, false), 1);

    // A refused fragment becomes an unprogrammed fragment; its translation stands.
    mgr->addrOnlySnatTable()->engine().failNextWritesIs(1, VyrP4::ChipError::tableFull);
    EXPECT_TRUE(
        mgr->updateStaticSnat(2, key, ipp("10.0.0.2", 80), ipp("1.1.1.2", 80), false, false));
    EXPECT_EQ(mgr->addrOnlySnatFragmentUnprogrammedEntries(), 1u);
    EXPECT_FALSE(mgr->hwStaticSnatAclEntries().count(fragmentKey(key)));
    mgr->deleteStaticSnatAclTable(key, true);
}

TEST_F(StaticMgr, AclIdsRunOut) {
    boot(with("egressNat", "snatAclTableSize", "3"));
    EXPECT_TRUE(mgr->updateStaticSnat(1, aclKey("10.0.0.0/8"), ipp("10.0.0.1", 0),
                                      ipp("1.1.1.1", 0), false, false));
    EXPECT_TRUE(mgr->updateStaticSnat(1, aclKey("11.0.0.0/8"), ipp("10.0.0.2", 0),
                                      ipp("1.1.1.2", 0), false, false));
    EXPECT_FALSE(mgr->updateStaticSnat(1, aclKey("12.0.0.0/8"), ipp("10.0.0.3", 0),
                                       ipp("1.1.1.3", 0), false, false));
    EXPECT_EQ(mgr->addrOnlySnatTable()->entryCount(), 2u);
}

TEST_F(StaticMgr, ProfileTablesBindVlansAndCheckTheProfileRange) {
    mgr->updateEgressNatProfileTable(100, 3);
    mgr->updateEgressNatProfileTable(100, 4);
    ASSERT_EQ(mgr->egressNatProfileTable()->entryCount(), 1u);
    EXPECT_EQ(mgr->egressNatProfileTable()
                  ->entries()[0]
                  .actionIf<VyrP4::SetEgrNatProfileActionSpec>()
                  ->egrNatProfileId(),
              4);
    EXPECT_EQ(mgr->dynamicEgressNatProfileTable()->entryCount(), 1u);
    mgr->deleteEgressNatProfileTable(200); // nothing bound: traced only
    mgr->deleteEgressNatProfileTable(100);
    EXPECT_EQ(mgr->egressNatProfileTable()->entryCount(), 0u);
    EXPECT_EQ(mgr->dynamicEgressNatProfileTable()->entryCount(), 0u);

    Host::ThrowOnAssert guard;
    EXPECT_THROW(mgr->updateEgressNatProfileTable(1, 256), Host::AssertionFailure);
}

} // namespace
