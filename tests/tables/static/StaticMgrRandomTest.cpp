// Random static translations, ingress and egress, SNAT and DNAT, over a small universe of
// addresses so that rules collide, with table faults injected at random. After every operation
// the records must agree with the chip; after everything is deleted nothing may be left.

#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/StaticInvariants.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace {

using namespace VyrNat;

struct Translation {
    bool dnat;
    bool egress;
    uint16_t profile;
    HwStaticNatAclKey key;
    IpAndPort oldAddr;
    IpAndPort newAddr;
    uint32_t nextHop;
    bool ecmp;
    bool programmed;
};

class RandomStatic {
public:
    explicit RandomStatic(unsigned seed) : rng_(seed) {
        auto s = TestSupport::BootedAgent::scenarioFor("egressNat");
        std::string error;
        // Small tables so that ids, fragment room and capacity run out.
        for (auto [field, value] : {std::pair{"snatAclTableSize", "12"},
                                    {"dnatAclTableSize", "12"},
                                    {"snatAddrOnlyTableSize", "24"},
                                    {"dnatAddrOnlyTableSize", "24"},
                                    {"snatAddrPortTableSize", "20"},
                                    {"dnatAddrPortTableSize", "20"},
                                    {"egrUcNatTableSize", "24"}}) {
            EXPECT_TRUE(s.profile.fieldIs(field, value, error)) << error;
        }
        s.vyrNatConfig = {12, 8, 12};
        agent_ = std::make_unique<TestSupport::BootedAgent>(s);
        agent_->boot();
        mgr_ = agent_->owner()->tableMgrStatic();
    }

    VyrNatTableMgrStatic& mgr() { return *mgr_; }

    void step() {
        maybeChangeFaults();
        const int pick = int(rng_() % 100);
        if (pick < 55 || active_.empty()) {
            add(randomTranslation());
        } else if (pick < 90) {
            remove(rng_() % active_.size());
        } else if (pick < 95) {
            updateNextHop();
        } else {
            profileBinding();
        }
    }

    void removeAll() {
        while (!active_.empty()) {
            remove(rng_() % active_.size());
        }
        for (uint16_t vlan : {10, 20, 30}) {
            mgr_->deleteEgressNatProfileTable(vlan);
        }
    }

    const std::string& lastOp() const { return lastOp_; }

private:
    template <class T> const T& any(std::initializer_list<T> list) {
        return list.begin()[rng_() % list.size()];
    }

    Translation randomTranslation() {
        Translation t;
        t.dnat = rng_() % 2;
        t.egress = rng_() % 4 == 0;
        t.profile = any<uint16_t>({1, 2, 3});
        t.key = {*Ip::IpAddrWithFullMask::parse(any({"0.0.0.0/0", "10.0.0.0/8", "172.16.0.0/12"})),
                 any<uint16_t>({0, 6, 17}), false};
        t.oldAddr = {*IpAddr::parse(any({"10.0.0.1", "10.0.0.2", "10.0.0.3"})),
                     any<uint16_t>({0, 0, 80, 81, 82})};
        t.newAddr = {*IpAddr::parse(any({"1.1.1.1", "1.1.1.2", "2.2.2.2"})),
                     t.oldAddr.port ? any<uint16_t>({0, 8080, 8081}) : uint16_t(0)};
        t.nextHop = t.dnat ? uint32_t(rng_() % 4) : 0;
        t.ecmp = t.dnat && rng_() % 3 == 0;
        t.programmed = false;
        return t;
    }

    std::string describe(const char* op, const Translation& t) {
        return std::string(op) + (t.dnat ? " dnat" : " snat") + (t.egress ? " egress" : "") +
               " profile " + std::to_string(t.profile) + " " + t.key.str() + " " +
               t.oldAddr.toString() + " -> " + t.newAddr.toString();
    }

    void add(Translation t) {
        lastOp_ = describe("add", t);
        t.programmed = t.dnat ? mgr_->updateStaticDnat(t.profile, t.key, t.oldAddr, t.newAddr,
                                                       t.nextHop, t.ecmp, false, false, t.egress)
                              : mgr_->updateStaticSnat(t.profile, t.key, t.oldAddr, t.newAddr,
                                                       false, t.egress);
        if (t.programmed) {
            EXPECT_TRUE(inHardware(t)) << lastOp_ << ": reported programmed but not recorded";
        }
        active_.push_back(t);
    }

    void remove(std::size_t i) {
        const Translation t = active_[i];
        active_.erase(active_.begin() + long(i));
        lastOp_ = describe("delete", t);
        if (t.egress) {
            t.dnat ? mgr_->deleteEgressDnatEntry(t.profile, t.key, t.oldAddr, t.newAddr)
                   : mgr_->deleteEgressSnatEntry(t.profile, t.key, t.oldAddr, t.newAddr);
        } else {
            t.dnat ? mgr_->deleteStaticDnatEntry(t.profile, t.key, t.oldAddr, t.newAddr)
                   : mgr_->deleteStaticSnatEntry(t.profile, t.key, t.oldAddr, t.newAddr);
        }
    }

    // The helper updates only translations it programmed and still holds.
    void updateNextHop() {
        for (auto& t : active_) {
            if (!t.dnat || t.egress || !t.programmed || !inHardware(t) || !fragmentKnown(t)) {
                continue;
            }
            t.nextHop = (t.nextHop + 1) % 4;
            lastOp_ = describe("update", t);
            EXPECT_TRUE(mgr_->updateStaticDnat(t.profile, t.key, t.oldAddr, t.newAddr, t.nextHop,
                                               t.ecmp, true, false, false) ||
                        faultsOn_)
                << lastOp_;
            return;
        }
    }

    void profileBinding() {
        const uint16_t vlan = any<uint16_t>({10, 20, 30});
        if (rng_() % 2) {
            lastOp_ = "bind vlan " + std::to_string(vlan);
            mgr_->updateEgressNatProfileTable(vlan, uint16_t(rng_() % 8));
        } else {
            lastOp_ = "unbind vlan " + std::to_string(vlan);
            mgr_->deleteEgressNatProfileTable(vlan);
        }
    }

    bool inHardware(const Translation& t) {
        if (t.dnat) {
            return recorded(mgr_->hwStaticDnatEntries(), t, &HwStaticDnat::staticDnatEntries,
                            &HwStaticDnat::egressDnatEntries, &DnatAddrOnlyEntry::newDip,
                            &DnatAddrPortEntry::newDst);
        }
        return recorded(mgr_->hwStaticSnatEntries(), t, &HwStaticSnat::staticSnatEntries,
                        &HwStaticSnat::egressSnatEntries, &SnatAddrOnlyEntry::newSip,
                        &SnatAddrPortEntry::newSrc);
    }

    template <class Profiles, class P, class I, class E, class AO, class AP>
    static bool recorded(const Profiles& profiles, const Translation& t, I P::*ingress,
                         E P::*egress, AO addrOnlyNew, AP addrPortNew) {
        auto p = profiles.find(t.profile);
        if (p == profiles.end()) {
            return false;
        }
        if (t.egress) {
            auto r = (p->second.*egress).find(t.key);
            if (r == (p->second.*egress).end()) {
                return false;
            }
            auto e = r->second.entry.find(t.oldAddr);
            return e != r->second.entry.end() && e->second.newAddr == t.newAddr;
        }
        auto r = (p->second.*ingress).find(t.key);
        if (r == (p->second.*ingress).end()) {
            return false;
        }
        if (t.oldAddr.port == 0) {
            auto e = r->second.addrOnlyMS.find(t.oldAddr.ip);
            return e != r->second.addrOnlyMS.end() && e->second.*addrOnlyNew == t.newAddr.ip;
        }
        auto e = r->second.addrPortMS.find(t.oldAddr);
        return e != r->second.addrPortMS.end() && e->second.*addrPortNew == t.newAddr;
    }

    // An update reaches the fragment companion of an address-and-port translation too.
    bool fragmentKnown(const Translation& t) {
        if (t.oldAddr.port == 0) {
            return true;
        }
        auto p = mgr_->hwStaticDnatEntries().find(t.profile);
        HwStaticNatAclKey fk = t.key;
        fk.fragment = true;
        auto r = p->second.staticDnatEntries.find(fk);
        if (r == p->second.staticDnatEntries.end()) {
            return false;
        }
        auto e = r->second.addrOnlyMS.find(t.oldAddr.ip);
        return (e != r->second.addrOnlyMS.end() && e->second.newDip == t.newAddr.ip) ||
               r->second.unprogrammedFrag.count(t.oldAddr.ip);
    }

    void maybeChangeFaults() {
        if (rng_() % 20 != 0) {
            return;
        }
        std::vector<VyrP4::TableEngine*> tables = {
            &mgr_->staticSnatAclTable()->engine(), &mgr_->staticDnatAclTable()->engine(),
            &mgr_->addrOnlySnatTable()->engine(),  &mgr_->addrOnlyDnatTable()->engine(),
            &mgr_->addrPortSnatTable()->engine(),  &mgr_->addrPortDnatTable()->engine(),
            &mgr_->egressSnatTable()->engine(),    &mgr_->egressDnatTable()->engine()};
        for (auto* t : tables) {
            t->faultsClear();
        }
        faultsOn_ = rng_() % 3 != 0;
        if (!faultsOn_) {
            return;
        }
        for (auto* t : tables) {
            const auto kind =
                rng_() % 2 ? VyrP4::ChipError::tableFull : VyrP4::ChipError::noSysResources;
            t->failProbabilityIs(0.15, rng_(), kind);
        }
    }

    std::mt19937 rng_;
    std::unique_ptr<TestSupport::BootedAgent> agent_;
    VyrNatTableMgrStatic* mgr_ = nullptr;
    std::vector<Translation> active_;
    std::string lastOp_;
    bool faultsOn_ = false;
};

unsigned testSeed() {
    if (const char* s = std::getenv("VYRNAT_SEED")) {
        return unsigned(std::strtoul(s, nullptr, 10));
    }
    return std::random_device{}();
}

TEST(StaticMgrRandom, RecordsAgreeWithTheChipThroughFaultsAndEverythingGoesAtTheEnd) {
    for (int round = 0; round < 4; ++round) {
        const unsigned seed = testSeed() + unsigned(round);
        SCOPED_TRACE("seed " + std::to_string(seed) + " (rerun with VYRNAT_SEED)");
        RandomStatic r(seed);
        for (int i = 0; i < 1500; ++i) {
            r.step();
            const std::string broken = TestSupport::staticInvariants(r.mgr());
            ASSERT_EQ(broken, "") << "after " << r.lastOp() << " (step " << i << ")";
        }
        r.removeAll();
        ASSERT_EQ(TestSupport::staticInvariants(r.mgr()), "") << "after removing everything";
        ASSERT_EQ(TestSupport::staticEmpty(r.mgr()), "");
    }
}

} // namespace
