#pragma once
// Shared by the helper tests: a booted agent with its NAT helper and NAT state machine at hand,
// value shorthands, and the state-database entities the NAT state machine follows.

#include "agent/VyrNatAgent.h"
#include "agent/VyrNatAgentSm.h"
#include "helper/VyrNatHelper.h"
#include "host/Assert.h"
#include "host/LogMessage.h"
#include "host/NatStatus.h"
#include "host/NextHopMap.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/NatValues.h"
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

    // The entities the NAT state machine follows and writes, as the agent mounted them.
    Ert::Ptr<Ip::Nat::Status> status() { return entity<Ip::Nat::Status>("ip/nat/status"); }
    Ert::Ptr<Ip::Nat::HwStatus> hwStatus() { return entity<Ip::Nat::HwStatus>("ip/nat/hwStatus"); }
    Ert::Ptr<Oma::NextHopMapStatus> nextHops() {
        return entity<Oma::NextHopMapStatus>("hardware/vyr/nat/nhMapStatus");
    }

    // Publishes a static translation on a NAT interface, making the interface status if needed.
    void staticIs(const std::string& intf, const Ip::Nat::StaticKey& key,
                  const Ip::Nat::NatStaticConnection& c) {
        auto s = status();
        Ert::Ptr<Ip::Nat::IntfStatus> is;
        if (const auto* e = s->intfStatus.find(intf)) {
            is = *e;
        } else {
            is = Ert::make<Ip::Nat::IntfStatus>(intf);
            s->intfStatus.set(intf, is);
        }
        is->staticConnection.set(key, c);
    }
    void staticDel(const std::string& intf, const Ip::Nat::StaticKey& key) {
        auto s = status();
        if (const auto* e = s->intfStatus.find(intf)) {
            auto is = *e;
            is->staticConnection.erase(key);
            if (is->staticConnection.empty()) {
                s->intfStatus.erase(intf);
            }
        }
    }
    Ert::Ptr<Ip::Nat::VrfStatus> vrf(const std::string& name) {
        auto s = status();
        if (const auto* e = s->vrfStatus.find(name)) {
            return *e;
        }
        auto v = Ert::make<Ip::Nat::VrfStatus>(name);
        s->vrfStatus.set(name, v);
        return v;
    }

    // What the hardware status says of a static translation: nullopt when it holds nothing.
    std::optional<bool> programmed(const std::string& intf, const Ip::Nat::StaticKey& key) {
        const auto* hw = hwStatus()->intfStatus.find(intf);
        if (!hw) {
            return std::nullopt;
        }
        const bool* p = (*hw)->staticConnection.find(key);
        return p ? std::optional<bool>(*p) : std::nullopt;
    }
    std::size_t entries(const char* table) {
        const auto* t = chip().table(table);
        return t ? t->entryCount() : 0;
    }

private:
    template <class T> Ert::Ptr<T> entity(const std::string& path) {
        auto e = agent_->sysdb().getEntity<T>(path);
        EXPECT_NE(e, nullptr) << path;
        return e;
    }

    Host::ThrowOnAssert asserts_;
    std::unique_ptr<TestSupport::BootedAgent> agent_;
};

} // namespace HelperTest
