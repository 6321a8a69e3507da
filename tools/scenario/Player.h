#pragma once
// Plays a scenario: builds the emulated chip and the host's state from it, starts the agent,
// runs each step at its time on the event loop, and reports what changed in the chip's tables.

#include "host/Agent.h"
#include "host/EventLoop.h"
#include "tools/scenario/Scenario.h"

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>

namespace Scenario {

// Every entry of every table, in readable form.
using ChipSnapshot = std::map<std::string, std::multiset<std::string>>;
ChipSnapshot snapshot(const VyrP4::Chip& chip);
// "+ table  entry" and "- table  entry" lines from `before` to `after`; empty when unchanged.
std::string changes(const ChipSnapshot& before, const ChipSnapshot& after);

// Publishes what the scenario says the host holds before the agent starts: the system status
// with the chip profile's capabilities, the NAT hardware capabilities, the agent's hardware
// configuration and the NAT configuration.
void seedHostState(Hubdb::EntityManager& db, const Scenario& scenario);

// Each translation the NAT hardware status holds, described, to "programmed" or not.
using HwSnapshot = std::map<std::string, std::string>;

struct PlayOptions {
    Tasking::EventLoop::Mode mode = Tasking::EventLoop::Mode::virtualTime;
    bool dump = false; // print every table after each step
};

class Player {
public:
    using AgentFactory = std::function<Ert::Ptr<VyrAgentLib::VyrAgent>()>;

    Player(Scenario scenario, PlayOptions options, std::ostream& out);
    ~Player();

    // Runs the whole scenario; returns the exit code the agent asked for (0 when it did not).
    int play(const AgentFactory& factory);

    VyrP4::Chip& chip() const { return *chip_; }
    Host::AgentRunner& runner() { return *runner_; }
    Tasking::EventLoop& loop() { return *loop_; }

private:
    void apply(const Step& step);
    void report(const std::string& title);
    HwSnapshot hwSnapshot();
    // Every table up on the chip with its use.
    std::string tableSummary() const;

    Scenario scenario_;
    PlayOptions options_;
    std::ostream& out_;
    std::unique_ptr<Tasking::EventLoop> loop_;
    std::unique_ptr<Host::AgentRunner> runner_;
    std::shared_ptr<VyrP4::Chip> chip_;
    ChipSnapshot last_;
    ChipSnapshot started_; // the tables right after start-up
    HwSnapshot lastHw_;
    std::ostringstream logLines_;
};

} // namespace Scenario
