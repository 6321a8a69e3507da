// Random static translations, ingress and egress, SNAT and DNAT, over a small universe of
// addresses so that rules collide, with table faults injected at random. After every operation
// the records must agree with the chip; after everything is deleted nothing may be left.

#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/NatValues.h"
#include "tests/support/RandomRun.h"

#include <gtest/gtest.h>

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
    NextHop nextHop;
    bool programmed;
};

class RandomStatic {
public:
    explicit RandomStatic(unsigned seed) : rng_(seed), agent_(scenario()) {
        agent_.boot();
        mgr_ = agent_.owner()->tableMgrStatic();
        for (const auto& t : mgr_->tables().built()) {
            faults_.add(*agent_.chip->table(t.name));
        }
    }

    std::string step() {
        if (rng_() % 20 == 0) {
            faults_.change(rng_);
            return "faults changed";
        }
        const int pick = int(rng_() % 100);
        if (pick < 55 || active_.empty()) {
            return add(randomTranslation());
        }
        if (pick < 90) {
            return remove(rng_() % active_.size());
        }
        if (pick < 95) {
            return updateNextHop();
        }
        const uint16_t vlan = any<uint16_t>({10, 20, 30});
        if (rng_() % 2) {
            mgr_->updateEgressNatProfileTable(vlan, uint16_t(rng_() % 8));
            return "bind vlan " + std::to_string(vlan);
        }
        mgr_->deleteEgressNatProfileTable(vlan);
        return "unbind vlan " + std::to_string(vlan);
    }

    std::string check() const { return TestSupport::staticInvariants(*mgr_); }

    std::string removeAll() {
        faults_.clear();
        while (!active_.empty()) {
            remove(rng_() % active_.size());
        }
        for (uint16_t vlan : {10, 20, 30}) {
            mgr_->deleteEgressNatProfileTable(vlan);
        }
        return agent_.leftOver();
    }

private:
    static Scenario::Scenario scenario() {
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
        return s;
    }

    template <class T> const T& any(std::initializer_list<T> list) {
        return list.begin()[rng_() % list.size()];
    }

    Translation randomTranslation() {
        using TestSupport::ip;
        Translation t;
        t.dnat = rng_() % 2;
        t.egress = rng_() % 4 == 0;
        t.profile = any<uint16_t>({1, 2, 3});
        t.key = {TestSupport::prefix(any({"0.0.0.0/0", "10.0.0.0/8", "172.16.0.0/12"})),
                 any<uint16_t>({0, 6, 17}), false};
        t.oldAddr = {ip(any({"10.0.0.1", "10.0.0.2", "10.0.0.3"})),
                     any<uint16_t>({0, 0, 80, 81, 82})};
        // Mostly the address the old one usually maps to, so that fragments are shared, and
        // sometimes another, so that they conflict.
        const IpAddr usual(t.oldAddr.ip.value - ip("10.0.0.0").value + ip("1.1.1.0").value);
        t.newAddr = {rng_() % 5 ? usual : ip(any({"1.1.1.1", "1.1.1.2", "2.2.2.2"})),
                     t.oldAddr.port ? any<uint16_t>({0, 8080, 8081}) : uint16_t(0)};
        t.nextHop = {t.dnat ? uint32_t(rng_() % 4) : 0, t.dnat && rng_() % 3 == 0};
        t.programmed = false;
        return t;
    }

    static std::string describe(const char* op, const Translation& t) {
        return std::string(op) + (t.dnat ? " dnat" : " snat") + (t.egress ? " egress" : "") +
               " profile " + std::to_string(t.profile) + " " + t.key.str() + " " +
               t.oldAddr.toString() + " -> " + t.newAddr.toString();
    }

    std::string add(Translation t) {
        t.programmed =
            t.dnat
                ? mgr_->updateStaticDnat(t.profile, t.key, t.oldAddr, t.newAddr, t.nextHop.id,
                                         t.nextHop.ecmp, false, false, t.egress)
                : mgr_->updateStaticSnat(t.profile, t.key, t.oldAddr, t.newAddr, false, t.egress);
        EXPECT_TRUE(!t.programmed || recorded(t)) << describe("programmed but not recorded", t);
        active_.push_back(t);
        return describe("add", t);
    }

    std::string remove(std::size_t i) {
        const Translation t = active_[i];
        active_.erase(active_.begin() + long(i));
        if (t.egress) {
            t.dnat ? mgr_->deleteEgressDnatEntry(t.profile, t.key, t.oldAddr, t.newAddr)
                   : mgr_->deleteEgressSnatEntry(t.profile, t.key, t.oldAddr, t.newAddr);
        } else {
            t.dnat ? mgr_->deleteStaticDnatEntry(t.profile, t.key, t.oldAddr, t.newAddr)
                   : mgr_->deleteStaticSnatEntry(t.profile, t.key, t.oldAddr, t.newAddr);
        }
        return describe("delete", t);
    }

    // The helper updates only destination translations it programmed and still holds, and an
    // address-and-port one only while its fragment is known.
    std::string updateNextHop() {
        for (auto& t : active_) {
            if (!t.dnat || t.egress || !t.programmed || !recorded(t) || !fragmentKnown(t)) {
                continue;
            }
            t.nextHop.id = (t.nextHop.id + 1) % 4;
            const bool ok =
                mgr_->updateStaticDnat(t.profile, t.key, t.oldAddr, t.newAddr, t.nextHop.id,
                                       t.nextHop.ecmp, true, false, false);
            EXPECT_TRUE(ok || faults_.on()) << describe("update refused", t);
            return describe("update", t);
        }
        return "no update";
    }

    bool recorded(const Translation& t) const {
        return TestSupport::staticRecorded(*mgr_, t.dnat, t.profile, t.key, t.egress, t.oldAddr,
                                           t.newAddr);
    }

    bool fragmentKnown(const Translation& t) const {
        if (t.oldAddr.port == 0) {
            return true;
        }
        const auto& entries = mgr_->hwStaticDnatEntries().at(t.profile).staticDnatEntries;
        auto r = entries.find(TestSupport::fragKey(t.key));
        if (r == entries.end()) {
            return false;
        }
        auto e = r->second.addrOnlyMS.find(t.oldAddr.ip);
        return (e != r->second.addrOnlyMS.end() && e->second.newDip == t.newAddr.ip) ||
               r->second.unprogrammedFrag.count(t.oldAddr.ip);
    }

    std::mt19937 rng_;
    TestSupport::BootedAgent agent_;
    VyrNatTableMgrStatic* mgr_ = nullptr;
    TestSupport::Faults faults_;
    std::vector<Translation> active_;
};

TEST(StaticMgrRandom, RecordsAgreeWithTheChipThroughFaultsAndEverythingGoesAtTheEnd) {
    const unsigned first = TestSupport::testSeed(1);
    for (unsigned seed = first; seed < first + 4; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        RandomStatic r(seed);
        TestSupport::randomSteps(
            1500, [&] { return r.step(); }, [&] { return r.check(); });
        ASSERT_EQ(r.removeAll(), "");
        ASSERT_EQ(r.check(), "");
    }
}

} // namespace
