#pragma once
// The in-agent CLI: the callback the host's command-request directory delivers requests to.

#include "common/Rebuild.h"
#include "host/Agent.h"

#include <cstdint>
#include <string>

namespace VyrNat {

class VyrNatTableMgr;

// What the CLI reads of the agent that owns it.
class VyrNatCliAgent {
public:
    // The table-manager owner; null until the profile's managers are built.
    virtual VyrNatTableMgr* cliTableMgr() const = 0;

protected:
    ~VyrNatCliAgent() = default;
};

class VyrNatCliCallback : public Agent::AgentCommandCallback,
                          public BuiltFrom<std::string, std::string, VyrNatCliAgent*> {
public:
    VyrNatCliCallback(const std::string& name, const std::string& path, VyrNatCliAgent* agent);

    void handleCommand(uint32_t fd, const std::string& command) override;

    uint32_t cliCmds() const { return cliCmds_; }
    uint32_t cliErrors() const { return cliErrors_; }

private:
    // Whether the agent can answer; writes the reason to `fd` when it cannot.
    bool admitted(int fd) const;

    VyrNatCliAgent* agent_; // not owned: the agent owns this callback
    uint32_t cliCmds_ = 0;
    uint32_t cliErrors_ = 0;
};

Ert::Ptr<VyrNatCliCallback>
vyrNatCliCallbackFactory(const std::string& name, const std::string& path, VyrNatCliAgent* agent);

} // namespace VyrNat
