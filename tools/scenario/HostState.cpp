#include "tools/scenario/HostState.h"

#include <algorithm>

namespace Scenario {

namespace {

template <class T, class Coll> Ert::Ptr<T> child(Coll& coll, const std::string& name) {
    if (const auto* e = coll.find(name)) {
        return *e;
    }
    auto e = Ert::make<T>(name);
    coll.set(name, e);
    return e;
}

} // namespace

Ert::Ptr<Ip::Nat::Status> HostState::status() {
    return published<Ip::Nat::Status>(db_, "ip/nat/status");
}

Ert::Ptr<Ip::Nat::HwStatus> HostState::hwStatus() {
    return published<Ip::Nat::HwStatus>(db_, "ip/nat/hwStatus");
}

Ert::Ptr<Ip::Status> HostState::ipStatus() {
    return published<Ip::Status>(db_, "ip/status");
}

Ert::Ptr<Oma::NextHopMapStatus> HostState::nextHops() {
    return published<Oma::NextHopMapStatus>(db_, "hardware/vyr/nat/nhMapStatus");
}

Ert::Ptr<Ip::Nat::Config> HostState::natConfig() {
    return published<Ip::Nat::Config>(db_, "ip/nat/config");
}

Ert::Ptr<Ip::Nat::DynamicConnectionStatus> HostState::connections() {
    return mirra_ ? published<Ip::Nat::DynamicConnectionStatus>(*mirra_,
                                                                "ip/nat/status/dynamicConnection")
                  : nullptr;
}

Ert::Ptr<Ip::Nat::DynamicConnectionHwStatus> HostState::connectionsHw() {
    return mirra_ ? published<Ip::Nat::DynamicConnectionHwStatus>(
                        *mirra_, "ip/nat/hwStatus/dynamicConnection")
                  : nullptr;
}

void HostState::connectionIs(const Ip::Nat::DynamicConnectionKey& key,
                             const Ip::Nat::DynamicConnection& conn) {
    if (auto c = connections()) {
        c->connection.set(key, conn);
    }
}

void HostState::connectionDel(const Ip::Nat::DynamicConnectionKey& key) {
    if (auto c = connections()) {
        c->connection.erase(key);
    }
}

namespace {

template <class Coll, class K> std::optional<bool> held(const Coll& hw, const K& key) {
    const bool* p = hw.find(key);
    return p ? std::optional<bool>(*p) : std::nullopt;
}

} // namespace

std::optional<bool> HostState::programmed(const Ip::Nat::DynamicConnectionKey& key) {
    auto hw = connectionsHw();
    return hw ? held(hw->dynamicConnectionHw, key) : std::nullopt;
}

std::optional<bool> HostState::programmed(const Ip::Nat::TwiceNatKey& key) {
    return held(hwStatus()->twiceNat, key);
}

std::optional<bool> HostState::programmed(const Ip::Nat::NatFlowKey& key) {
    return held(hwStatus()->natFlow, key);
}

void HostState::staticIs(const std::string& intf, const Ip::Nat::StaticKey& key,
                         const Ip::Nat::NatStaticConnection& conn) {
    child<Ip::Nat::IntfStatus>(status()->intfStatus, intf)->staticConnection.set(key, conn);
}

void HostState::staticDel(const std::string& intf, const Ip::Nat::StaticKey& key) {
    auto s = status();
    if (const auto* is = s->intfStatus.find(intf)) {
        (*is)->staticConnection.erase(key);
    }
    intfDelIfEmpty(intf);
}

void HostState::intfDelIfEmpty(const std::string& intf) {
    auto s = status();
    const auto* is = s->intfStatus.find(intf);
    if (is && (*is)->staticConnection.empty() && (*is)->dynamicRule.empty() &&
        (*is)->validIntf.empty()) {
        s->intfStatus.erase(intf);
    }
}

void HostState::dynamicRuleIs(const std::string& intf, const Ip::Nat::DynamicKey& key,
                              const Ip::Nat::DynamicNatRule& rule) {
    child<Ip::Nat::IntfStatus>(status()->intfStatus, intf)->dynamicRule.set(key, rule);
}

void HostState::dynamicRuleDel(const std::string& intf, const Ip::Nat::DynamicKey& key) {
    if (const auto* is = status()->intfStatus.find(intf)) {
        (*is)->dynamicRule.erase(key);
    }
    intfDelIfEmpty(intf);
}

// Withdrawals first, so that a rule moved to another ACL or pool in one step frees its entries
// before the new ones are written.
void HostState::applyTrapRules(const Step& step) {
    auto s = status();
    for (const auto& r : step.dynamicRuleRemove) {
        dynamicRuleDel(r.intf, r.key);
    }
    for (const auto& name : step.aclRemove) {
        s->acl.erase(name);
    }
    for (const auto& name : step.poolRemove) {
        s->pool.erase(name);
    }
    for (const auto& [name, rules] : step.acls) {
        s->acl.set(name, rules);
    }
    for (const auto& [name, id] : step.pools) {
        s->pool.set(name, id);
    }
    for (const auto& [profile, intfs] : step.profileIntfs) {
        auto is = child<Ip::Nat::IntfStatus>(s->intfStatus, profile);
        std::vector<std::string> gone;
        for (const auto& [intf, valid] : is->validIntf) {
            if (std::find(intfs.begin(), intfs.end(), intf) == intfs.end()) {
                gone.push_back(intf);
            }
        }
        for (const auto& intf : gone) {
            is->validIntf.erase(intf);
        }
        for (const auto& intf : intfs) {
            is->validIntf.set(intf, true);
        }
        intfDelIfEmpty(profile);
    }
    auto ip = ipStatus();
    for (const auto& [intf, addr] : step.intfAddress) {
        if (addr.isZero()) {
            ip->intfStatus.erase(intf);
        } else {
            child<Ip::IpIntfStatus>(ip->intfStatus, intf)->addr.set(addr);
        }
    }
    for (const auto& r : step.dynamicRuleAdd) {
        dynamicRuleIs(r.intf, r.key, r.rule);
    }
}

Ert::Ptr<Ip::Nat::VrfStatus> HostState::vrf(const std::string& name) {
    return child<Ip::Nat::VrfStatus>(status()->vrfStatus, name);
}

std::optional<bool> HostState::programmed(const std::string& intf, const Ip::Nat::StaticKey& key) {
    const auto* hw = hwStatus()->intfStatus.find(intf);
    const bool* p = hw ? (*hw)->staticConnection.find(key) : nullptr;
    return p ? std::optional<bool>(*p) : std::nullopt;
}

std::string HostState::reason(const std::string& intf, const Ip::Nat::StaticKey& key) {
    const auto* hw = hwStatus()->intfStatus.find(intf);
    const std::string* why = hw ? (*hw)->reason.find(key) : nullptr;
    return why ? *why : std::string();
}

void HostState::apply(const NatConfig& config) {
    auto c = natConfig();
    if (config.natTcpSynAckRequired) {
        c->natTcpSynAckRequired.set(*config.natTcpSynAckRequired);
    }
    if (config.tcpTimeout) {
        c->tcpTimeout.set(*config.tcpTimeout);
    }
    if (config.udpTimeout) {
        c->udpTimeout.set(*config.udpTimeout);
    }
    if (config.otherTimeout) {
        c->otherTimeout.set(*config.otherTimeout);
    }
    if (config.connectionPollInterval) {
        c->connectionPollInterval.set(*config.connectionPollInterval);
    }
}

void HostState::apply(const Step& step) {
    apply(step.natConfig);
    for (const auto& t : step.staticAdd) {
        staticIs(t.intf, t.key, t.conn);
    }
    for (const auto& r : step.staticRemove) {
        staticDel(r.intf, r.key);
    }
    auto s = status();
    for (const auto& [vlan, binding] : step.vlanProfile) {
        s->vlanNatProfile.set(vlan, binding);
    }
    for (uint16_t vlan : step.vlanProfileRemove) {
        s->vlanNatProfile.erase(vlan);
    }
    for (const auto& c : step.vrf) {
        auto v = vrf(c.name);
        if (c.id) {
            v->vrfId.set(*c.id);
        }
        for (const auto& [o, n] : c.src) {
            v->staticSrc.set(o, n);
        }
        for (const auto& [o, n] : c.dst) {
            v->staticDst.set(o, n);
        }
        for (const auto& a : c.removeSrc) {
            v->staticSrc.erase(a);
        }
        for (const auto& a : c.removeDst) {
            v->staticDst.erase(a);
        }
        if (c.policerChanged) {
            v->policer.set(c.policer);
        }
    }
    for (const auto& name : step.vrfRemove) {
        s->vrfStatus.erase(name);
    }
    auto hops = nextHops();
    for (const auto& [addr, word] : step.nextHop) {
        hops->nextHop.set(addr, word);
    }
    for (const auto& addr : step.nextHopRemove) {
        hops->nextHop.erase(addr);
    }
    // Withdrawals first, so that the room they free is there for the step's additions.
    for (const auto& k : step.twiceRemove) {
        s->twiceNat.erase(k);
    }
    for (const auto& t : step.twiceAdd) {
        s->twiceNat.set(t.key, t.translation);
    }
    applyTrapRules(step);
    for (const auto& k : step.flowRemove) {
        s->natFlow.erase(k);
    }
    for (const auto& f : step.flowAdd) {
        s->natFlow.set(f.key, f.entry);
    }
    auto conns = connections();
    if (!conns) {
        return;
    }
    for (const auto& k : step.connectionRemove) {
        conns->connection.erase(k);
    }
    // A bulk's connections are made here, one at a time.
    for (const auto& b : step.bulkRemove) {
        for (uint32_t i = 0; i < b.count; ++i) {
            conns->connection.erase(b.at(i).key);
        }
    }
    for (const auto& c : step.connectionAdd) {
        conns->connection.set(c.key, c.conn);
    }
    for (const auto& b : step.bulkAdd) {
        for (uint32_t i = 0; i < b.count; ++i) {
            const Connection c = b.at(i);
            conns->connection.set(c.key, c.conn);
        }
    }
}

} // namespace Scenario
