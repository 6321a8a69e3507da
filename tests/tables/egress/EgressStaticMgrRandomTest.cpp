// Random egress static translations, SNAT and DNAT, address-only and address-and-port, over a
// small universe of addresses so that entries are shared, with injected faults and tables that
// report full, and retry passes between operations. After every operation the records must agree
// with the chip; once the faults are gone the next retry puts every waiting translation in
// hardware; after everything is deleted nothing may be left.

#include "tables/egress/VyrNatTableMgrEgressStatic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/RandomRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

namespace {

using Ip::IpAddr;
using Ip::IpAndPort;
using namespace VyrNat;

// The host's view of one translation.
struct Translation {
    bool dnat;
    uint16_t profile;
    IpAndPort old;
    uint8_t proto;
    auto operator<=>(const Translation&) const = default;
};

class RandomEgressStatic {
public:
    explicit RandomEgressStatic(uint64_t seed)
        : rng_(seed), agent_(TestSupport::BootedAgent::scenarioFor("egressNat")) {
        agent_.boot();
        mgr_ = agent_.owner()->tableMgrEgressStatic();
        for (const auto* t : {"egrAddrSnat", "egrAddrPortSnat", "egrAddrDnat", "egrAddrPortDnat"}) {
            faults_.add(*agent_.chip->table(t));
        }
    }

    // Write faults at random, and tables that take fewer entries than the universe needs.
    void faultsOn() { faults_.on(0.2, rng_(), 6); }
    void faultsOff() { faults_.clear(); }
    uint64_t injected() const { return faults_.injected(); }

    std::string step() {
        static const IpAddr olds[] = {*IpAddr::parse("10.0.0.1"), *IpAddr::parse("10.0.0.2"),
                                      *IpAddr::parse("239.0.0.1")};
        static const IpAddr news[] = {*IpAddr::parse("1.1.1.1"), *IpAddr::parse("2.2.2.2"),
                                      *IpAddr::parse("3.3.3.3")};
        static const uint16_t ports[] = {0, 80, 81};
        const uint16_t port = ports[pick(3)];
        const Translation t{pick(2) == 1,
                            uint16_t(1 + pick(2)),
                            {olds[pick(3)], port},
                            uint8_t(port ? 6 + 11 * pick(2) : 0)};
        const IpAndPort target{news[pick(3)], uint16_t(port ? 8000 + pick(2) : 0)};
        const bool present = configured_.count(t) != 0;
        if (!present || pick(2) == 0) {
            const bool ok =
                t.dnat ? mgr_->updateStaticDnat(t.profile, t.old, target, t.proto, present)
                       : mgr_->updateStaticSnat(t.profile, t.old, target, t.proto, present);
            configured_[t] = target;
            if (ok && port) {
                accepted_[t] = target;
            }
        } else {
            remove(t);
        }
        if (pick(4) == 0) {
            advance();
        }
        return std::string(t.dnat ? "dnat " : "snat ") + std::to_string(t.profile) + " " +
               t.old.toString() + (present ? " again" : "");
    }

    void advance() { agent_.loop.advance(Tasking::seconds(1.0)); }

    // What the host expects once nothing refuses a write any more.
    void expectEverythingInHardware() {
        for (const auto& [t, target] : configured_) {
            if (t.old.port != 0) {
                continue;
            }
            const auto e = t.dnat ? addrEntry(mgr_->hwStaticDnatEntries(), t, 0)
                                  : addrEntry(mgr_->hwStaticSnatEntries(), t, 0);
            ASSERT_TRUE(e) << t.old.toString();
            EXPECT_TRUE(e->first) << t.old.toString();
            EXPECT_EQ(e->second, target.ip);
        }
        // Address-and-port entries are not retried: those the manager took are in hardware with
        // their companions.
        for (const auto& [t, target] : accepted_) {
            if (t.dnat) {
                const auto& hw = mgr_->hwStaticDnatEntries().at(t.profile);
                EXPECT_EQ(hw.addrPortMS.at({t.old, t.proto}).newIpPort, target);
                EXPECT_TRUE(hw.addrOnlyMS.at({t.old.ip, 1}).programmed);
                EXPECT_TRUE(hw.addrOnlyMS.at({t.old.ip, 0}).programmed);
            } else {
                const auto& hw = mgr_->hwStaticSnatEntries().at(t.profile);
                EXPECT_EQ(hw.addrPortMS.at({t.old, t.proto}).newIpPort, target);
                EXPECT_TRUE(hw.addrOnlyMS.at({t.old.ip, 1}).programmed);
            }
        }
    }

    void removeAll() {
        while (!configured_.empty()) {
            remove(configured_.begin()->first);
        }
    }

    std::string leftOver() const { return agent_.leftOver(); }

    const VyrNatTableMgrEgressStatic& mgr() const { return *mgr_; }
    size_t acceptedCount() const { return accepted_.size(); }

private:
    size_t pick(size_t n) { return size_t(rng_() % n); }

    // By value: `t` may be a key of the maps it is erased from.
    void remove(Translation t) {
        if (t.dnat) {
            mgr_->deleteStaticDnat(t.profile, t.old, t.proto);
        } else {
            mgr_->deleteStaticSnat(t.profile, t.old, t.proto);
        }
        configured_.erase(t);
        accepted_.erase(t);
    }

    // (programmed, new address) of the address entry of `t`, or null.
    template <class Records>
    static std::optional<std::pair<bool, IpAddr>> addrEntry(const Records& records,
                                                            const Translation& t, uint8_t frag) {
        auto hw = records.find(t.profile);
        if (hw == records.end()) {
            return std::nullopt;
        }
        auto e = hw->second.addrOnlyMS.find({t.old.ip, frag});
        if (e == hw->second.addrOnlyMS.end()) {
            return std::nullopt;
        }
        return std::pair{e->second.programmed, e->second.newIp};
    }

    std::mt19937_64 rng_;
    TestSupport::BootedAgent agent_;
    VyrNatTableMgrEgressStatic* mgr_ = nullptr;
    TestSupport::Faults faults_;
    std::map<Translation, IpAndPort> configured_;
    // Address-and-port translations the manager took, with the address in hardware.
    std::map<Translation, IpAndPort> accepted_;
};

TEST(EgressStaticMgrRandom, FaultsAndRetriesBetweenOperationsKeepTheInvariants) {
    const unsigned first = TestSupport::testSeed(1);
    for (unsigned seed = first; seed < first + 6; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        RandomEgressStatic r(seed);
        r.faultsOn();
        TestSupport::randomSteps(
            300, [&] { return r.step(); },
            [&] { return TestSupport::egressStaticInvariants(r.mgr()); });
        EXPECT_GT(r.injected(), 0u);

        r.faultsOff();
        r.advance();
        ASSERT_EQ(TestSupport::egressStaticInvariants(r.mgr()), "");
        r.expectEverythingInHardware();
        EXPECT_GT(r.acceptedCount(), 0u);

        r.faultsOn();
        r.removeAll();
        r.advance();
        EXPECT_EQ(r.leftOver(), "");
        ASSERT_EQ(TestSupport::egressStaticInvariants(r.mgr()), "");
    }
}

} // namespace
