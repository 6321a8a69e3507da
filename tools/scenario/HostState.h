#pragma once
// Publishes what the host's agents would publish in the state database: the NAT status the NAT
// state machine follows (static translations per interface, VLAN bindings, VRF translations and
// policers, twice-NAT translations, NAT flows), the dynamic connections in the shared-memory
// tables, the next hops resolved for translated destinations, and the NAT configuration. The
// scenario player and the tests change the host's state through it.

#include "host/Hubdb.h"
#include "host/NatConfig.h"
#include "host/NatConnections.h"
#include "host/NatStatus.h"
#include "host/NextHopMap.h"
#include "host/PlatformState.h"
#include "tools/scenario/Scenario.h"

#include <string>

namespace Scenario {

// The entity of type T at `path`, made and published there when there is none.
template <class T> Ert::Ptr<T> published(Hubdb::EntityManager& db, const std::string& path) {
    auto e = Ert::ptrCast<T>(db.entity(path));
    if (!e) {
        e = Ert::make<T>(path);
        db.entityIs(path, e);
    }
    return e;
}

class HostState {
public:
    // Dynamic connections are in the shared-memory tables of `mirra`; without it there are none.
    explicit HostState(Hubdb::EntityManager& db, Hubdb::EntityManager* mirra = nullptr)
        : db_(db), mirra_(mirra) {}

    // The entities, made and published on first use.
    Ert::Ptr<Ip::Nat::Status> status();
    Ert::Ptr<Ip::Nat::HwStatus> hwStatus();
    Ert::Ptr<Oma::NextHopMapStatus> nextHops();
    Ert::Ptr<Ip::Nat::Config> natConfig();
    Ert::Ptr<Ip::Status> ipStatus();
    // The shared-memory connection tables; null without them.
    Ert::Ptr<Ip::Nat::DynamicConnectionStatus> connections();
    Ert::Ptr<Ip::Nat::DynamicConnectionHwStatus> connectionsHw();

    // A static translation on a NAT interface; the interface's status goes with its last one.
    void staticIs(const std::string& intf, const Ip::Nat::StaticKey& key,
                  const Ip::Nat::NatStaticConnection& conn);
    void staticDel(const std::string& intf, const Ip::Nat::StaticKey& key);
    // A dynamic NAT rule of a NAT profile interface, and its withdrawal.
    void dynamicRuleIs(const std::string& intf, const Ip::Nat::DynamicKey& key,
                       const Ip::Nat::DynamicNatRule& rule);
    void dynamicRuleDel(const std::string& intf, const Ip::Nat::DynamicKey& key);
    // A VRF's status, made on first use.
    Ert::Ptr<Ip::Nat::VrfStatus> vrf(const std::string& name);
    // What the hardware status says of a static translation: nullopt when it holds nothing.
    std::optional<bool> programmed(const std::string& intf, const Ip::Nat::StaticKey& key);
    // Why the hardware status says a static translation is not programmed; empty when it says
    // nothing.
    std::string reason(const std::string& intf, const Ip::Nat::StaticKey& key);

    // A connection that connection tracking translated, added or changed; and withdrawn.
    void connectionIs(const Ip::Nat::DynamicConnectionKey& key,
                      const Ip::Nat::DynamicConnection& conn);
    void connectionDel(const Ip::Nat::DynamicConnectionKey& key);
    // What the hardware status says of a connection: nullopt when it holds nothing.
    std::optional<bool> programmed(const Ip::Nat::DynamicConnectionKey& key);
    std::optional<bool> programmed(const Ip::Nat::TwiceNatKey& key);
    std::optional<bool> programmed(const Ip::Nat::NatFlowKey& key);

    // Every change of a scenario step.
    void apply(const Step& step);
    void apply(const NatConfig& config);

private:
    // Withdraws an interface's status once it holds nothing.
    void intfDelIfEmpty(const std::string& intf);
    void applyTrapRules(const Step& step);

    Hubdb::EntityManager& db_;
    Hubdb::EntityManager* mirra_;
};

} // namespace Scenario
