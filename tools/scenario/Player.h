#pragma once
// Plays a scenario: builds the emulated chip and the host's state from it, starts the agent,
// runs each step at its time on the event loop, and reports what changed in the chip's tables
// and in the NAT hardware status. Both are followed change by change (the chip's entry observer,
// reactors on the status), so a step costs what it changes, not what the chip holds. When the
// agent exits, it is started again on the same state and chip, as the host does.

#include "host/Agent.h"
#include "host/EventLoop.h"
#include "host/NatConnTracking.h"
#include "tools/scenario/Scenario.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>

namespace Scenario {

class ChipJournal;
class HwStatusWatch;
struct Traffic;

// Every entry of every table, in readable form.
using ChipSnapshot = std::map<std::string, std::multiset<std::string>>;
ChipSnapshot snapshot(const VyrP4::Chip& chip);
// "+ table  entry" and "- table  entry" lines from `before` to `after`; empty when unchanged.
std::string changes(const ChipSnapshot& before, const ChipSnapshot& after);

// Publishes what the scenario says the host holds before the agent starts: the system status
// with the chip profile's capabilities, the NAT hardware capabilities, the agent's hardware
// configuration and the NAT configuration.
void seedHostState(Hubdb::EntityManager& db, const Scenario& scenario);

struct PlayOptions {
    Tasking::EventLoop::Mode mode = Tasking::EventLoop::Mode::virtualTime;
    bool dump = false; // print every table after each step
};

// The totals of a run, its last line.
struct PlaySummary {
    std::size_t steps = 0;         // steps played
    std::size_t written = 0;       // chip entries added or replaced
    std::size_t removed = 0;       // chip entries removed
    std::size_t refused = 0;       // writes the chip refused
    std::size_t programmed = 0;    // translations held programmed at some point
    std::size_t notProgrammed = 0; // translations never held programmed
    std::size_t aged = 0;          // connections and translations removed as idle
    std::size_t logMessages = 0;
    std::size_t agentExits = 0;
    std::string str(std::size_t totalSteps) const;
};

class Player {
public:
    using AgentFactory = std::function<Ert::Ptr<VyrAgentLib::VyrAgent>()>;

    // Exits in a row, with no step played in between, after which the agent is not started
    // again: a chip profile without NAT would stop it at every start.
    static constexpr int kMaxRestartsInARow = 3;
    // The chip entries of one table the start-up report lists before it counts the rest.
    static constexpr std::size_t kStartLinesPerTable = 2;
    // The lines of one table, or of one kind of status change, a bulk step lists before it
    // counts the rest.
    static constexpr std::size_t kBulkLines = 4;

    Player(Scenario scenario, PlayOptions options, std::ostream& out);
    ~Player();

    // Runs the whole scenario; returns the first non-zero exit code the agent gave, else 0.
    int play(const AgentFactory& factory);
    const PlaySummary& summary() const { return summary_; }

    VyrP4::Chip& chip() const { return *chip_; }
    Host::AgentRunner& runner() { return *runner_; }
    Tasking::EventLoop& loop() { return *loop_; }

private:
    // What changed since the last report: log messages, chip entries, hardware status.
    struct Changes {
        std::string logs;
        std::string chip;
        std::string hw;
        std::string traffic;
        std::string shows;
        bool empty() const { return logs.empty() && chip.empty() && hw.empty(); }
    };

    void runLoop(double end);
    void step(std::size_t index);
    void apply(const Step& step);
    // Sends the step's packets; "  traffic ..." lines for the report, one per connection.
    std::string send(const Traffic& traffic);
    // Asks the agent's CLI each command; the replies, delimited, for the report.
    std::string ask(const std::vector<std::string>& commands);
    // A report starts with its header, printed before what it reports happens.
    void header(const std::string& title);
    // Beyond `most` lines of one table and sign, the chip's changes are counted.
    Changes takeChanges(std::size_t most = SIZE_MAX);
    void print(const Changes& changes);
    std::string exitReason() const;
    bool synAckRequired() const;
    // Every table up on the chip with its use.
    std::string tableSummary() const;

    Scenario scenario_;
    PlayOptions options_;
    std::ostream& out_;
    std::unique_ptr<Tasking::EventLoop> loop_;
    std::unique_ptr<Host::AgentRunner> runner_;
    std::shared_ptr<VyrP4::Chip> chip_;
    std::unique_ptr<ChipJournal> journal_;
    std::unique_ptr<HwStatusWatch> hw_;
    std::unique_ptr<Ip::Nat::ConnTracking> connTracking_;
    // The repeats of traffic that lasts.
    std::vector<Ert::Ptr<Tasking::TimerTask>> trafficRepeats_;
    ChipSnapshot started_; // the tables right after start-up
    std::ostringstream logLines_;
    double lastReport_ = 0;
    bool ended_ = false;
    int exitsInARow_ = 0;
    bool synAckAtStart_ = false; // natTcpSynAckRequired when the agent last started
    PlaySummary summary_;
};

} // namespace Scenario
