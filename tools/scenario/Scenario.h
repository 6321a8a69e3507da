#pragma once
// Scenario files for the host tool: the chip profile, the state the host publishes before the
// agent starts, and timed steps that change it. A scenario is checked whole before anything
// starts; a fault is reported as "FILE:LINE: what is wrong".

#include "chip/Profile.h"

#include <cstdint>
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
};

struct NatConfig {
    std::optional<bool> natTcpSynAckRequired;
};

struct Step {
    double at = 0;    // seconds after the agent starts
    std::string say;  // what the step does, printed before it runs
    int line = 0;     // where the step starts in the file
    NatConfig natConfig;
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

// Reads and checks a scenario; nullopt with `error` set when it is not a valid one.
std::optional<Scenario> loadFile(const std::string& path, std::string& error);
// The same for text already read; `file` names it in messages.
std::optional<Scenario> parse(const std::string& text, const std::string& file,
                              std::string& error);

} // namespace Scenario
