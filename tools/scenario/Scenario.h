#pragma once
// Scenario files for the host tool: the chip profile, the state the host publishes before the
// agent starts, and timed steps that change it. A scenario is checked whole before anything
// starts; a fault is reported as "FILE:LINE: what is wrong".

#include "chip/PacketNotation.h"
#include "chip/Profile.h"
#include "host/NatConnections.h"
#include "host/NatStatus.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Scenario {

// NAT hardware capabilities the host publishes.
struct HwCapabilities {
    uint32_t dynamicConnectionTableSize = 0;
    bool natDpdk = false;
    bool natHitfullRestart = false;
};

// The agent's own hardware configuration.
struct VyrNatConfig {
    uint32_t addrOnlySnatNonFragmentReserve = 0;
    uint32_t addrOnlyDnatNonFragmentReserve = 0;
    uint32_t egressNonFragmentReserve = 0;
    uint32_t twiceNatAddrOnlyNonFragmentReserve = 0;
};

struct NatConfig {
    std::optional<bool> natTcpSynAckRequired;
    // Idle timeouts and the activity poll period, in seconds.
    std::optional<uint32_t> tcpTimeout;
    std::optional<uint32_t> udpTimeout;
    std::optional<uint32_t> otherTimeout;
    std::optional<uint32_t> connectionPollInterval;
};

// A static translation the control plane publishes on a NAT interface.
struct StaticTranslation {
    std::string intf;
    Ip::Nat::StaticKey key;
    Ip::Nat::NatStaticConnection conn;
};

// A static translation to withdraw.
struct StaticRef {
    std::string intf;
    Ip::Nat::StaticKey key;
};

// Changes to one VRF's translations and policer.
struct VrfChange {
    std::string name;
    std::optional<uint32_t> id;
    std::map<Ip::IpAddr, Ip::IpAddr> src;
    std::map<Ip::IpAddr, Ip::IpAddr> dst;
    std::vector<Ip::IpAddr> removeSrc;
    std::vector<Ip::IpAddr> removeDst;
    bool policerChanged = false;
    std::optional<Ip::Nat::VrfPolicer> policer; // none: the policer is removed
};

// A connection that connection tracking translated, one direction of it.
struct Connection {
    Ip::Nat::DynamicConnectionKey key;
    Ip::Nat::DynamicConnection conn;
};

// Connections made from ranges when the step is applied, so that a large set costs little until
// then. Connection i (from 0) has the tuple from source address (i div P) mod S of `src` and
// source port srcPorts.first + i div (P * S) to `peers`[i mod P], of P; it is translated to pool
// address i mod A and pool port poolPorts.first + (i div A) mod the pool ports. Ports {0, 0}
// stand for none.
struct ConnectionBulk {
    Ip::Nat::NatTarget target = Ip::Nat::kSourceTranslation;
    uint8_t protocol = 0;
    uint32_t count = 0;
    Ip::Prefix src;
    std::pair<uint16_t, uint16_t> srcPorts{0, 0};
    std::vector<Ip::IpAndPort> peers;
    Ip::Prefix pool;
    std::pair<uint16_t, uint16_t> poolPorts{0, 0};
    uint16_t profile = 0;
    Ip::VrfId vrf = 0;
    bool fullCone = false;
    uint32_t nextHop = 0;

    // The i-th connection, i < count.
    Connection at(uint32_t i) const;
};

// A twice-NAT translation: both sides of a packet translated by one entry.
struct TwiceTranslation {
    Ip::Nat::TwiceNatKey key;
    Ip::Nat::TwiceNatTranslation translation;
};

// Packets of connections and twice-NAT translations: the entry each hits is marked hit on
// `pipe`, again every half second for `seconds` when that is above 0.
struct Traffic {
    uint32_t pipe = 0;
    double seconds = 0;
    std::vector<Ip::Nat::DynamicConnectionKey> connections;
    std::vector<Ip::Nat::TwiceNatKey> twice;
    int line = 0;
};

// A dynamic NAT rule of a NAT profile interface, named by its ACL and group.
struct DynamicRule {
    std::string intf;
    Ip::Nat::DynamicKey key;
    Ip::Nat::DynamicNatRule rule;
};

struct DynamicRuleRef {
    std::string intf;
    Ip::Nat::DynamicKey key;
};

struct NatFlowChange {
    Ip::Nat::NatFlowKey key;
    Ip::Nat::NatFlowEntry entry;
};

struct Step {
    double at = 0;   // seconds after the agent starts
    std::string say; // what the step does, printed before it runs
    int line = 0;    // where the step starts in the file
    NatConfig natConfig;
    std::vector<StaticTranslation> staticAdd;
    std::vector<StaticRef> staticRemove;
    std::map<uint16_t, Ip::Nat::NatProfileBinding> vlanProfile;
    std::vector<uint16_t> vlanProfileRemove;
    std::vector<VrfChange> vrf;
    std::vector<std::string> vrfRemove;
    std::map<Ip::IpAddr, uint32_t> nextHop;
    std::vector<Ip::IpAddr> nextHopRemove;
    // Connections, twice-NAT translations and flows are withdrawn before the step adds any.
    std::vector<Connection> connectionAdd;
    std::vector<Ip::Nat::DynamicConnectionKey> connectionRemove;
    std::vector<ConnectionBulk> bulkAdd;
    std::vector<ConnectionBulk> bulkRemove;
    std::vector<TwiceTranslation> twiceAdd;
    std::vector<Ip::Nat::TwiceNatKey> twiceRemove;
    std::vector<NatFlowChange> flowAdd;
    std::vector<Ip::Nat::NatFlowKey> flowRemove;
    std::optional<Traffic> traffic;
    // Dynamic NAT rules with their ACLs and pools; the interfaces of NAT profiles and their
    // addresses (0.0.0.0: none), which overload rules trap traffic to.
    std::map<std::string, Ip::Nat::AclRules> acls;
    std::vector<std::string> aclRemove;
    std::map<std::string, uint32_t> pools;
    std::vector<std::string> poolRemove;
    std::vector<DynamicRule> dynamicRuleAdd;
    std::vector<DynamicRuleRef> dynamicRuleRemove;
    std::map<std::string, std::vector<std::string>> profileIntfs;
    std::map<std::string, Ip::IpAddr> intfAddress;
    // Commands for the agent's CLI, asked after everything else of the step; their replies are
    // printed in the step's report.
    std::vector<std::string> show;
    // Packets traced through the tables after the step.
    std::vector<VyrP4::PacketNotation> packets;
    int connectionsLine = 0; // of the step's first connection key, for the checks of the whole
    int flowsLine = 0;

    bool bulk() const { return !bulkAdd.empty() || !bulkRemove.empty(); }
};

struct Scenario {
    std::string file;
    VyrP4::ProfileCapabilities profile;
    HwCapabilities hwCapabilities;
    VyrNatConfig vyrNatConfig;
    NatConfig natConfig;
    std::vector<Step> steps;
    // How long the run goes on after the last step, in seconds.
    double settle = 1.0;
};

// The most connections one bulk makes.
constexpr uint32_t kMaxBulk = 1000000;

// The largest scenario file read: a hundred thousand steps fit.
constexpr std::size_t kMaxFileBytes = 16u << 20;

// Reads and checks a scenario; nullopt with `error` set when it is not a valid one.
std::optional<Scenario> loadFile(const std::string& path, std::string& error);
// The same for text already read; `file` names it in messages.
std::optional<Scenario> parse(const std::string& text, const std::string& file, std::string& error);

} // namespace Scenario
