#pragma once
// Scenario files for the host tool: the chip profile, the state the host publishes before the
// agent starts, and timed steps that change it. A scenario is checked whole before anything
// starts; a fault is reported as "FILE:LINE: what is wrong".

#include "chip/Profile.h"
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

// The largest scenario file read: a hundred thousand steps fit.
constexpr std::size_t kMaxFileBytes = 16u << 20;

// Reads and checks a scenario; nullopt with `error` set when it is not a valid one.
std::optional<Scenario> loadFile(const std::string& path, std::string& error);
// The same for text already read; `file` names it in messages.
std::optional<Scenario> parse(const std::string& text, const std::string& file, std::string& error);

} // namespace Scenario
