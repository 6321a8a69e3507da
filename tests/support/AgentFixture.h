#pragma once
// Boots the whole NAT agent on the emulated chip, as the host tool does, for tests that drive
// it through its managers and read the chip's tables.

#include "agent/VyrNatAgent.h"
#include "host/EventLoop.h"
#include "tables/VyrNatTableMgr.h"
#include "tools/scenario/Player.h"

#include <initializer_list>
#include <memory>
#include <string>

namespace TestSupport {

class BootedAgent {
public:
    // The scenario gives the chip profile and the host's state; its steps are not played.
    explicit BootedAgent(Scenario::Scenario scenario);
    // A named chip profile, with some fields set from text as a scenario's "fields" would, and
    // everything else at its defaults.
    static Scenario::Scenario
    scenarioFor(const std::string& profileName,
                std::initializer_list<std::pair<const char*, const char*>> fields = {});

    // Starts the agent and runs the loop until nothing is pending; `started` then holds the
    // tables as start-up left them.
    void boot();
    // What the managers still hold beyond what start-up wrote (see TestSupport::leftOver), and
    // whether the agent's own clean-state check fails.
    std::string leftOver() const;

    Tasking::EventLoop loop;
    Host::AgentRunner runner;
    std::shared_ptr<VyrP4::Chip> chip;
    Ert::Ptr<VyrNat::VyrNatAgent> agent;
    Scenario::ChipSnapshot started;

    VyrNat::VyrNatTableMgr* owner() const { return agent->vyrNatTableMgr().get(); }
    Hubdb::EntityManager& sysdb() { return runner.sysdb(); }
};

} // namespace TestSupport
