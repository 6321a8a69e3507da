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

// The booted agent, made before the host state that publishes into its state database.
struct BootedHolder {
    Host::ThrowOnAssert asserts;
    std::unique_ptr<TestSupport::BootedAgent> agent;
};

// A booted agent on a named chip profile, with the host's state the NAT state machine follows
// and writes; internal checks throw instead of aborting.
class NatAgent : private BootedHolder, public Scenario::HostState {
public:
    explicit NatAgent(Scenario::Scenario s)
        : BootedHolder{{}, std::make_unique<TestSupport::BootedAgent>(s)},
          HostState(agent->sysdb(), &agent->runner.environment().mirra->store()) {
        Log::reset();
        agent->boot();
    }
    explicit NatAgent(const std::string& profile)
        : NatAgent(TestSupport::BootedAgent::scenarioFor(profile)) {}

    TestSupport::BootedAgent& booted() { return *agent; }
    VyrNat::VyrNatTableMgr& owner() { return *agent->owner(); }
    VyrNat::VyrNatAgentSm& sm() { return *agent->agent->natAgentSm(); }
    VyrNat::NatHelper& helper() { return *sm().natHelper(); }
    Oma::NatSm& natSm() { return *sm().omaNatSm(); }
    VyrP4::Chip& chip() { return *agent->chip; }
    void run() { agent->loop.runPending(); }
    std::string leftOver() const { return agent->leftOver(); }
    std::size_t entries(const char* table) {
        const auto* t = chip().table(table);
        return t ? t->entryCount() : 0;
    }
};

} // namespace HelperTest
