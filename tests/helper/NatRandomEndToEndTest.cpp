// Random NAT status changes through the state database, with table writes failing at random:
// static translations of every kind with VLAN bindings and next hops on the egress NAT chip, and
// VRF translations with policers on the VRF chip. After every change the managers' records
// agree with the chip, the hardware status describes exactly what is configured, and what it
// calls programmed is in the records; once everything is withdrawn nothing is left anywhere.
// A failing seed is printed; VYRNAT_SEED replays it.

#include "tables/egress/VyrNatTableMgrEgressStatic.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tables/vrf/VyrNatTableMgrVrf.h"
#include "tests/helper/NatTestUtil.h"
#include "tests/support/Invariants.h"

#include "tests/support/RandomRun.h"

#include <map>
#include <random>
#include <set>

namespace {

using namespace HelperTest;
using namespace VyrNat;
using TestSupport::Faults;

// The VLANs each NAT profile table binds.
std::map<std::string, std::set<uint16_t>> boundVlans(const VyrNatTableMgr& owner) {
    std::map<std::string, std::set<uint16_t>> out;
    auto add = [&](const auto& table, auto vlanOf) {
        auto& vlans = out[table->name()];
        for (const auto& e : table->entries()) {
            vlans.insert(uint16_t((e.match().*vlanOf)()));
        }
    };
    const auto& st = *owner.tableMgrStatic();
    const auto& eg = *owner.tableMgrEgressStatic();
    add(st.egressNatProfileTable(), &VyrP4::EgressNatProfileMatchSpec::ingMdVlanId);
    add(st.dynamicEgressNatProfileTable(), &VyrP4::DynamicEgressNatProfileMatchSpec::ingMdVlanId);
    add(eg.ingNatProfileTable(), &VyrP4::IngressNatProfileEgressPipeMatchSpec::egrMdVlanId);
    add(eg.egrNatProfileTable(), &VyrP4::EgressNatProfileEgressPipeMatchSpec::egrMdVlanId);
    return out;
}

class RandomStaticNat {
public:
    explicit RandomStaticNat(unsigned seed) : rng_(seed), a_(scenario()) {
        st_ = a_.owner().tableMgrStatic();
        for (auto* t :
             {"staticSnatAcl", "staticDnatAcl", "addrOnlySnat", "addrOnlyDnat", "addrPortSnat",
              "addrPortDnat", "egrUcSnat", "egrUcDnat", "egrAddrSnat", "egrAddrPortSnat",
              "egrAddrDnat", "egrAddrPortDnat", "egressNatProfile", "dynamicEgressNatProfile",
              "ingressNatProfileEgressPipe", "egressNatProfileEgressPipe"}) {
            faults_.add(*a_.chip().table(t));
        }
    }

    std::string step() {
        const unsigned pick = rng_() % 100;
        if (pick < 45 || configured_.empty()) {
            setTranslation();
        } else if (pick < 70) {
            auto it = configured_.begin();
            std::advance(it, rng_() % configured_.size());
            last_ = "withdraw " + it->first.first + " " + it->first.second.str();
            a_.staticDel(it->first.first, it->first.second);
            configured_.erase(it);
        } else if (pick < 80) {
            const IpAddr local = any(locals());
            const uint32_t words[] = {5, 0x80000007, 0, 12};
            if (rng_() % 4 == 0) {
                last_ = "no next hop for " + local.toString();
                a_.nextHops()->nextHop.erase(local);
            } else {
                const uint32_t w = words[rng_() % 4];
                last_ = "next hop " + std::to_string(w) + " for " + local.toString();
                a_.nextHops()->nextHop.set(local, w);
            }
        } else if (pick < 90) {
            const uint16_t vlan = rng_() % 2 ? 10 : 20;
            if (rng_() % 3 == 0) {
                last_ = "unbind vlan " + std::to_string(vlan);
                a_.status()->vlanNatProfile.erase(vlan);
            } else {
                const uint16_t profile = uint16_t(1 + rng_() % 3);
                last_ = "bind vlan " + std::to_string(vlan) + " to " + std::to_string(profile);
                a_.status()->vlanNatProfile.set(vlan, {profile, ""});
            }
        } else if (pick < 95) {
            last_ = "faults changed";
            faults_.change(rng_);
        } else {
            last_ = "a second passes";
            a_.booted().loop.advance(Tasking::seconds(1.0));
        }
        a_.run();
        return last_;
    }

    // Every violation, one line each; empty when all holds.
    std::string check() {
        std::string out = TestSupport::invariants(a_.owner());
        // A VLAN is bound in every NAT profile table or in none: half a binding is refused.
        const auto bound = boundVlans(a_.owner());
        for (const auto& [table, vlans] : bound) {
            if (vlans != bound.begin()->second) {
                out += table + " binds other VLANs than " + bound.begin()->first + "\n";
            }
        }
        std::size_t statuses = 0;
        for (const auto& [intf, hw] : a_.hwStatus()->intfStatus) {
            statuses += hw->staticConnection.size();
        }
        if (statuses != configured_.size()) {
            out += "hardware status holds " + std::to_string(statuses) + " translations, " +
                   std::to_string(configured_.size()) + " configured\n";
        }
        for (const auto& [id, c] : configured_) {
            const auto p = a_.programmed(id.first, id.second);
            if (!p) {
                out += "no hardware status for " + id.second.str() + "\n";
            } else if (*p && !id.second.egressTarget() && !recorded(id.first, id.second, c)) {
                out += "programmed but not recorded: " + id.first + " " + id.second.str() + "\n";
            }
        }
        return out;
    }

    void withdrawAll() {
        faults_.clear();
        for (const auto& [id, c] : configured_) {
            a_.staticDel(id.first, id.second);
        }
        configured_.clear();
        a_.status()->vlanNatProfile.clear();
        a_.nextHops()->nextHop.clear();
        a_.run();
        a_.booted().loop.advance(Tasking::seconds(2.0));
    }

    std::string leftOver() {
        std::string out = a_.leftOver();
        if (!a_.hwStatus()->intfStatus.empty() || !a_.natSm().status()->staticTranslation.empty()) {
            out += "hardware status left\n";
        }
        return out;
    }

private:
    static Scenario::Scenario scenario() {
        auto s = TestSupport::BootedAgent::scenarioFor("egressNat");
        std::string error;
        // Small tables, so that ids, fragment room and capacity run out too.
        for (auto [field, value] : {std::pair{"snatAclTableSize", "10"},
                                    {"dnatAclTableSize", "10"},
                                    {"snatAddrOnlyTableSize", "16"},
                                    {"dnatAddrOnlyTableSize", "16"},
                                    {"snatAddrPortTableSize", "12"},
                                    {"dnatAddrPortTableSize", "12"},
                                    {"egrUcNatTableSize", "16"},
                                    {"egrAddrSnatTableSize", "8"},
                                    {"egrAddrDnatTableSize", "8"},
                                    {"egrAddrPortSnatTableSize", "6"},
                                    {"egrAddrPortDnatTableSize", "6"}}) {
            EXPECT_TRUE(s.profile.fieldIs(field, value, error)) << error;
        }
        s.vyrNatConfig = {8, 8, 8};
        return s;
    }

    static const std::vector<IpAddr>& locals() {
        static const std::vector<IpAddr> v = {ip("10.0.0.1"), ip("10.0.0.2"), ip("10.0.0.3")};
        return v;
    }
    template <class T> const T& any(const std::vector<T>& v) { return v[rng_() % v.size()]; }

    void setTranslation() {
        static const std::vector<std::string> intfs = {"NatProfile1", "NatProfile2"};
        static const std::vector<IpAddr> globals = {ip("192.0.2.1"), ip("192.0.2.2")};
        static const std::vector<Ip::IpAddrWithFullMask> peers = {
            prefix("0.0.0.0/0"), prefix("10.0.0.0/8"), prefix("198.51.100.0/24")};
        const std::string intf = any(intfs);
        const uint16_t port = rng_() % 2 ? 0 : uint16_t(80 + rng_() % 2);
        const auto key = staticKey({any(locals()), port}, rng_() % 3 ? "" : "B", rng_() % 5 == 0);
        std::vector<Ip::IpAddrWithFullMask> filters;
        for (const auto& p : peers) {
            if (rng_() % 3 == 0) {
                filters.push_back(p);
            }
        }
        const bool source = rng_() % 2;
        const uint16_t globalPort = port ? std::vector<uint16_t>{0, 8080, 8081}[rng_() % 3] : 0;
        const uint8_t proto = port ? (rng_() % 2 ? 6 : 17) : (rng_() % 3 ? 0 : 6);
        const bool reverse = rng_() % 5 == 0;
        const auto c =
            conn({any(globals), globalPort}, source, proto, filters, reverse ? source : !source);
        last_ = std::string(configured_.count({intf, key}) ? "change " : "add ") + intf + " " +
                key.str() + (source ? " source to " : " destination from ") + c.global.toString() +
                (reverse ? " reverse" : "") + " filters " + std::to_string(filters.size());
        a_.staticIs(intf, key, c);
        configured_[{intf, key}] = c;
    }

    // The manager's records hold a translation for each of its filters.
    bool recorded(const std::string& intf, const Ip::Nat::StaticKey& key,
                  const Ip::Nat::NatStaticConnection& c) const {
        const uint16_t profile = *Oma::NatSm::profileOfIntf(intf);
        const bool source = c.sourceTranslation();
        auto filters = c.filterAddrs;
        if (filters.empty()) {
            filters.push_back(prefix("0.0.0.0/0"));
        }
        for (const auto& f : filters) {
            if (!TestSupport::staticRecorded(
                    *st_, !source, profile, {f, c.protocol, false}, source ? c.ingress : !c.ingress,
                    source ? key.local : c.global, source ? c.global : key.local)) {
                return false;
            }
        }
        return true;
    }

    std::mt19937 rng_;
    NatAgent a_;
    VyrNatTableMgrStatic* st_ = nullptr;
    Faults faults_;
    std::map<std::pair<std::string, Ip::Nat::StaticKey>, Ip::Nat::NatStaticConnection> configured_;
    std::string last_;
};

TEST(NatRandomEndToEnd, StaticTranslationsThroughFaultsLeaveNothingBehind) {
    const unsigned first = TestSupport::testSeed(1);
    for (unsigned seed = first; seed < first + 8; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        RandomStaticNat r(seed);
        TestSupport::randomSteps(
            1500, [&] { return r.step(); }, [&] { return r.check(); });
        r.withdrawAll();
        ASSERT_EQ(r.check(), "");
        ASSERT_EQ(r.leftOver(), "");
    }
}

class RandomVrfNat {
public:
    explicit RandomVrfNat(unsigned seed) : rng_(seed), a_("vrfNatHop") {
        vrf_ = a_.owner().tableMgrVrf();
        for (auto* t : {"defaultVrfSnat", "addrAndVrfDnat", "natPolicer"}) {
            faults_.add(*a_.chip().table(t));
        }
    }

    std::string step() {
        static const std::vector<std::string> names = {"red", "blue"};
        const std::string name = names[rng_() % names.size()];
        // Two VRFs never share an id; 0 and 0x10000 are no VRF to translate.
        const std::vector<uint32_t> ids = name == "red" ? std::vector<uint32_t>{10, 12, 0, 0x10000}
                                                        : std::vector<uint32_t>{11, 13, 0, 0x10000};
        const unsigned pick = rng_() % 100;
        // The VRFs share some outside addresses: the chip translates each into one VRF only.
        const uint32_t base = name == "red" ? 0xC0000200 : 0xC0000202;
        const IpAddr inside(0x0A0A0000 + (rng_() % 4));
        const IpAddr outside(base + (rng_() % 4));
        if (pick < 5) {
            last_ = "remove vrf " + name;
            a_.status()->vrfStatus.erase(name);
        } else if (pick < 15) {
            const uint32_t id = ids[rng_() % ids.size()];
            last_ = "vrf " + name + " id " + std::to_string(id);
            a_.vrf(name)->vrfId.set(id);
        } else if (pick < 45) {
            last_ = "vrf " + name + " source " + inside.toString();
            rng_() % 3 ? a_.vrf(name)->staticSrc.set(inside, outside)
                       : a_.vrf(name)->staticSrc.erase(inside);
        } else if (pick < 75) {
            last_ = "vrf " + name + " destination " + outside.toString();
            rng_() % 3 ? a_.vrf(name)->staticDst.set(outside, inside)
                       : a_.vrf(name)->staticDst.erase(outside);
        } else if (pick < 92) {
            static const std::vector<std::optional<Ip::Nat::VrfPolicer>> policers = {
                std::nullopt, Ip::Nat::VrfPolicer{0, 0}, Ip::Nat::VrfPolicer{1000, 100},
                Ip::Nat::VrfPolicer{0, 1}};
            last_ = "vrf " + name + " policer";
            a_.vrf(name)->policer.set(policers[rng_() % policers.size()]);
        } else {
            last_ = "faults changed";
            faults_.change(rng_);
        }
        a_.run();
        return last_;
    }

    std::string check() {
        std::string out = TestSupport::vrfInvariants(*vrf_);
        const auto& hwVrfs = a_.hwStatus()->vrfStatus;
        for (const auto& [name, hw] : hwVrfs) {
            const auto* want = a_.status()->vrfStatus.find(name);
            if (!want) {
                out += "hardware status of removed vrf " + name + "\n";
                continue;
            }
            const uint32_t id = (*want)->vrfId();
            for (const auto& [addr, programmed] : hw->staticSrc) {
                if (!(*want)->staticSrc.find(addr)) {
                    out += name + " source " + addr.toString() + " not configured\n";
                } else if (programmed && !sourceRecorded(id, addr)) {
                    out += name + " source " + addr.toString() + " programmed, not recorded\n";
                }
            }
            for (const auto& [addr, programmed] : hw->staticDst) {
                if (!(*want)->staticDst.find(addr)) {
                    out += name + " destination " + addr.toString() + " not configured\n";
                } else if (programmed && (!vrf_->hwDnatEntries().vrfId.count(addr) ||
                                          vrf_->hwDnatEntries().vrfId.at(addr) != id)) {
                    out += name + " destination " + addr.toString() + " programmed, not recorded\n";
                }
            }
            const auto policer = (*want)->policer();
            const bool wanted = policer && (policer->rate != 0 || policer->burst != 0);
            if (hw->policer().has_value() != wanted) {
                out += name + " policer status does not follow its configuration\n";
            } else if (hw->policer().value_or(false) &&
                       !vrf_->hwPolicerEntries().matchSpec.count(uint16_t(id))) {
                out += name + " policer programmed, not recorded\n";
            }
        }
        for (const auto& [name, want] : a_.status()->vrfStatus) {
            const auto* hw = hwVrfs.find(name);
            if (want->staticSrc.size() + want->staticDst.size() != 0 &&
                (!hw || (*hw)->staticSrc.size() != want->staticSrc.size() ||
                 (*hw)->staticDst.size() != want->staticDst.size())) {
                out += "vrf " + name + " lacks hardware status\n";
            }
        }
        return out;
    }

    std::string withdrawAll() {
        faults_.clear();
        a_.status()->vrfStatus.clear();
        a_.run();
        std::string out = a_.leftOver();
        if (!a_.hwStatus()->vrfStatus.empty()) {
            out += "hardware status left\n";
        }
        return out;
    }

private:
    bool sourceRecorded(uint32_t vrfId, IpAddr addr) const {
        auto it = vrf_->hwSnatEntries().find(uint16_t(vrfId));
        return it != vrf_->hwSnatEntries().end() && it->second.matchSpec.count(addr);
    }

    std::mt19937 rng_;
    NatAgent a_;
    VyrNatTableMgrVrf* vrf_ = nullptr;
    Faults faults_;
    std::string last_;
};

TEST(NatRandomEndToEnd, VrfTranslationsAndPolicersThroughFaultsLeaveNothingBehind) {
    const unsigned first = TestSupport::testSeed(1);
    for (unsigned seed = first; seed < first + 6; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        RandomVrfNat r(seed);
        TestSupport::randomSteps(
            800, [&] { return r.step(); }, [&] { return r.check(); });
        ASSERT_EQ(r.withdrawAll(), "");
    }
}

} // namespace
