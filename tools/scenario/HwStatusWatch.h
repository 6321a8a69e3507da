#pragma once
// Follows the NAT hardware status with reactors and remembers which translations changed, so
// that the player reports a step's effect on the status at the cost of what the step changed.
// Static and VRF translations are followed here; dynamic connections, twice-NAT translations and
// NAT flows each by a KeyedWatch.

#include "host/NatConnections.h"
#include "host/NatStatus.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace Scenario {

class KeyedWatchBase;

class HwStatusWatch {
public:
    // Follows `hw`, and `connectionsHw` unless null; lines describe each translation from
    // `status` and `connections` (none owned alone).
    HwStatusWatch(Ert::Ptr<Ip::Nat::HwStatus> hw, Ert::Ptr<Ip::Nat::Status> status,
                  Ert::Ptr<Ip::Nat::DynamicConnectionHwStatus> connectionsHw = nullptr,
                  Ert::Ptr<Ip::Nat::DynamicConnectionStatus> connections = nullptr);
    ~HwStatusWatch();
    HwStatusWatch(const HwStatusWatch&) = delete;
    HwStatusWatch& operator=(const HwStatusWatch&) = delete;

    // A translation the control plane changed: its description may change while its state in
    // the hardware status does not.
    void touched(const std::string& intf, const Ip::Nat::StaticKey& key);
    void touched(const std::string& intf, const Ip::Nat::DynamicKey& rule) {
        mark({Kind::trapRule, intf, {}, {}, rule});
    }

    // What changed since the last call: "  LINE: programmed", "  LINE: NOT programmed (WHY)" and
    // "  LINE: withdrawn" lines, under a "hardware status (P programmed, N not):" heading; empty
    // when nothing did. Beyond `most` lines of one group the rest are counted.
    std::string takeChanges(std::size_t most = SIZE_MAX);
    bool changed() const;

    // Translations the status held programmed at some point of the run, and those it only ever
    // held not programmed. A static or VRF translation is its description; a connection, a
    // twice-NAT translation or a flow is its key.
    std::size_t everProgrammed() const;
    std::size_t neverProgrammed() const;

private:
    enum class Kind { intf, trapRule, vrfSrc, vrfDst, vrfPolicer };
    // One translation of the status: a static translation of an interface, the trap rules of a
    // dynamic NAT rule, a VRF's source or destination translation, or a VRF's policer.
    struct Ref {
        Ref(Kind k, std::string o, Ip::Nat::StaticKey sk = {}, Ip::IpAddr a = {},
            Ip::Nat::DynamicKey r = {})
            : kind(k), owner(std::move(o)), key(std::move(sk)), addr(a), rule(std::move(r)) {}
        Kind kind;
        std::string owner; // the interface or VRF
        Ip::Nat::StaticKey key;
        Ip::IpAddr addr;
        Ip::Nat::DynamicKey rule;
        auto tie() const { return std::tie(owner, kind, key, addr, rule); }
        bool operator<(const Ref& o) const { return tie() < o.tie(); }
    };
    struct State {
        std::string line;
        bool programmed;
        std::string reason; // why not programmed, when the hardware status says
    };
    class StatusReactor;
    class IntfReactor;
    class VrfReactor;
    friend class StatusReactor;
    friend class IntfReactor;
    friend class VrfReactor;

    void intfChanged(const std::string& name);
    void vrfChanged(const std::string& name);
    // Marks every translation remembered for `owner` (interface or VRF).
    void ownerChanged(const std::string& owner, bool vrf);
    void mark(Ref ref) { dirty_.insert(std::move(ref)); }
    std::optional<State> now(const Ref& ref) const;
    std::optional<State> trapRuleNow(const Ref& ref) const;

    Ert::Ptr<Ip::Nat::HwStatus> hw_;
    Ert::Ptr<Ip::Nat::Status> status_;
    std::unique_ptr<StatusReactor> reactor_;
    std::map<std::string, std::unique_ptr<IntfReactor>> intfs_;
    std::map<std::string, std::unique_ptr<VrfReactor>> vrfs_;
    std::set<Ref> dirty_;
    std::map<Ref, State> known_; // as last reported
    std::size_t programmed_ = 0; // of known_
    std::set<std::string> everProgrammed_;
    std::set<std::string> seen_;
    std::vector<std::unique_ptr<KeyedWatchBase>> keyed_;
};

} // namespace Scenario
