#pragma once
// Shared by the helper tests: a booted agent with its NAT helper and NAT state machine at hand,
// value shorthands, and the state-database entities the NAT state machine follows.

#include "agent/VyrNatAgent.h"
#include "agent/VyrNatAgentSm.h"
#include "helper/VyrNatHelper.h"
#include "host/Assert.h"
#include "host/LogMessage.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/NatValues.h"
#include "tools/scenario/HostState.h"
#include "tools/scenario/Player.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace HelperTest {

using TestSupport::aclKey;
using TestSupport::addrOnlyDnat;
using TestSupport::addrOnlySnat;
using TestSupport::ip;
using TestSupport::ipp;
using TestSupport::prefix;

inline Ip::Nat::StaticKey staticKey(Ip::IpAndPort local, std::string acl = "",
                                    bool egressTarget = false) {
    return {local, std::move(acl), uint8_t(egressTarget ? Ip::Nat::StaticKey::kEgressTarget : 0)};
}
inline Ip::Nat::NatStaticConnection conn(Ip::IpAndPort global, bool source, uint8_t proto = 0,
                                         std::vector<Ip::IpAddrWithFullMask> filters = {},
                                         std::optional<bool> ingress = std::nullopt) {
    Ip::Nat::NatStaticConnection c;
    c.global = global;
    c.natTarget = source ? Ip::Nat::kSourceTranslation : Ip::Nat::kDestinationTranslation;
    c.protocol = proto;
    // The usual direction: source translation on egress, destination translation on ingress.
    c.ingress = ingress.value_or(!source);
    c.filterAddrs = std::move(filters);
    return c;
}

// A booted agent on a named chip profile; internal checks throw instead of aborting.
class NatAgent {
public:
    explicit NatAgent(Scenario::Scenario s)
        : agent_(std::make_unique<TestSupport::BootedAgent>(s)) {
        Log::reset();
        agent_->boot();
    }
    explicit NatAgent(const std::string& profile)
        : NatAgent(TestSupport::BootedAgent::scenarioFor(profile)) {}

    TestSupport::BootedAgent& booted() { return *agent_; }
    VyrNat::VyrNatTableMgr& owner() { return *agent_->owner(); }
    VyrNat::VyrNatAgentSm& sm() { return *agent_->agent->natAgentSm(); }
    VyrNat::NatHelper& helper() { return *sm().natHelper(); }
    Oma::NatSm& natSm() { return *sm().omaNatSm(); }
    VyrP4::Chip& chip() { return *agent_->chip; }
    void run() { agent_->loop.runPending(); }

    // The host's state the NAT state machine follows and writes.
    Scenario::HostState& host() { return host_; }
    Ert::Ptr<Ip::Nat::Status> status() { return host_.status(); }
    Ert::Ptr<Ip::Nat::HwStatus> hwStatus() { return host_.hwStatus(); }
    Ert::Ptr<Oma::NextHopMapStatus> nextHops() { return host_.nextHops(); }
    void staticIs(const std::string& intf, const Ip::Nat::StaticKey& key,
                  const Ip::Nat::NatStaticConnection& c) {
        host_.staticIs(intf, key, c);
    }
    void staticDel(const std::string& intf, const Ip::Nat::StaticKey& key) {
        host_.staticDel(intf, key);
    }
    Ert::Ptr<Ip::Nat::VrfStatus> vrf(const std::string& name) { return host_.vrf(name); }
    std::optional<bool> programmed(const std::string& intf, const Ip::Nat::StaticKey& key) {
        return host_.programmed(intf, key);
    }
    std::string reason(const std::string& intf, const Ip::Nat::StaticKey& key) {
        return host_.reason(intf, key);
    }
    std::string leftOver() const { return agent_->leftOver(); }
    std::size_t entries(const char* table) {
        const auto* t = chip().table(table);
        return t ? t->entryCount() : 0;
    }

private:
    Host::ThrowOnAssert asserts_;
    std::unique_ptr<TestSupport::BootedAgent> agent_;
    Scenario::HostState host_{agent_->sysdb()};
};

} // namespace HelperTest
