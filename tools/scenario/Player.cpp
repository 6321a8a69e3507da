#include "tools/scenario/Player.h"

#include "host/Format.h"
#include "host/LogMessage.h"
#include "host/NatConfig.h"
#include "host/NatStatus.h"
#include "tools/scenario/ChipJournal.h"
#include "tools/scenario/HostState.h"
#include "tools/scenario/HwStatusWatch.h"
#include "tools/scenario/PacketTrace.h"
#include "tools/scenario/Traffic.h"

#include <cstdio>
#include <sstream>
#include <vector>

namespace Scenario {

namespace {

constexpr const char* kSystemStatusPath = VyrAgentLib::VyrAgent::kSystemStatusPath;

std::string secondsText(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", s);
    return buf;
}

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

ChipSnapshot snapshot(const VyrP4::Chip& chip) {
    ChipSnapshot s;
    for (const VyrP4::TableEngine* t : chip.tables()) {
        auto& entries = s[t->name()];
        for (const auto& e : t->entries()) {
            entries.insert(contentStr(*t, e));
        }
    }
    return s;
}

std::string changes(const ChipSnapshot& before, const ChipSnapshot& after) {
    static const std::multiset<std::string> none;
    std::string out;
    auto diff = [&](const std::string& table, const std::multiset<std::string>& from,
                    const std::multiset<std::string>& to) {
        for (const auto& e : from) {
            if (!to.count(e)) {
                out += "  - " + table + "  " + e + "\n";
            }
        }
        for (const auto& e : to) {
            if (!from.count(e)) {
                out += "  + " + table + "  " + e + "\n";
            }
        }
    };
    for (const auto& [table, entries] : after) {
        auto it = before.find(table);
        diff(table, it == before.end() ? none : it->second, entries);
    }
    for (const auto& [table, entries] : before) {
        if (!after.count(table)) {
            diff(table, entries, none);
        }
    }
    return out;
}

std::string PlaySummary::str(std::size_t totalSteps) const {
    return "summary: " + std::to_string(steps) + " of " + count(totalSteps, "step", "steps") +
           " played, " + count(written, "entry", "entries") + " written, " +
           std::to_string(removed) + " removed, " +
           count(programmed, "translation", "translations") + " programmed, " +
           std::to_string(notProgrammed) + " not, " +
           (aged ? std::to_string(aged) + " aged as idle, " : "") +
           "faults: " + count(refused, "write", "writes") + " refused, " +
           count(logMessages, "log message", "log messages") + ", " +
           count(agentExits, "agent exit", "agent exits");
}

Player::Player(Scenario scenario, PlayOptions options, std::ostream& out)
    : scenario_(std::move(scenario)), options_(options), out_(out),
      loop_(std::make_unique<Tasking::EventLoop>(options.mode)),
      runner_(std::make_unique<Host::AgentRunner>()), chip_(VyrP4::chipFactory(scenario_.profile)),
      journal_(std::make_unique<ChipJournal>(*chip_)) {
    runner_->environment().chip = chip_;
    Hubdb::EntityManager& db = runner_->sysdb();
    seedHostState(db, scenario_);
    // All exist before the agent mounts them, so that the status is followed from the start;
    // the connection tables are in the shared memory, which the agent mounts only when the host
    // gives them a size.
    HostState state(db, &runner_->environment().mirra->store());
    hw_ = std::make_unique<HwStatusWatch>(state.hwStatus(), state.status(), state.connectionsHw(),
                                          state.connections());
    connTracking_ =
        std::make_unique<Ip::Nat::ConnTracking>(state.natConfig(), state.status(), state.hwStatus(),
                                                state.connections(), state.connectionsHw());
    // A run is one host process: no message was written before it, whatever ran before.
    Log::reset();
    Log::streamIs(&logLines_);
}

Player::~Player() {
    Log::streamIs(nullptr);
    trafficRepeats_.clear();
    connTracking_.reset();
    hw_.reset();
    runner_.reset();
    journal_.reset();
    loop_.reset();
}

void seedHostState(Hubdb::EntityManager& db, const Scenario& scenario) {
    auto system = published<VyrSystem::SystemStatus>(db, kSystemStatusPath);
    system->profileCapabilities.set(scenario.profile.name(), scenario.profile);
    system->genTime.set(1);

    auto caps = published<Ip::Nat::HwCapabilities>(db, "ip/nat/hwCapabilities");
    caps->dynamicConnectionTableSize.set(scenario.hwCapabilities.dynamicConnectionTableSize);
    caps->natDpdk.set(scenario.hwCapabilities.natDpdk);
    caps->natHitfullRestart.set(scenario.hwCapabilities.natHitfullRestart);
    caps->reverseStaticNatSupported.set(scenario.profile.egrUcNatSupported());
    caps->vrfNatSupported.set(scenario.profile.vrfNatHop());

    auto cfg = published<VyrNat::Config>(db, "hardware/vyr/nat/config");
    cfg->addrOnlySnatNonFragmentReserve.set(scenario.vyrNatConfig.addrOnlySnatNonFragmentReserve);
    cfg->addrOnlyDnatNonFragmentReserve.set(scenario.vyrNatConfig.addrOnlyDnatNonFragmentReserve);
    cfg->egressNonFragmentReserve.set(scenario.vyrNatConfig.egressNonFragmentReserve);
    cfg->twiceNatAddrOnlyNonFragmentReserve.set(
        scenario.vyrNatConfig.twiceNatAddrOnlyNonFragmentReserve);

    HostState(db).apply(scenario.natConfig);
}

void Player::apply(const Step& step) {
    HostState(runner_->sysdb(), &runner_->environment().mirra->store()).apply(step);
    // A changed description shows even when the translation's state stays the same.
    for (const auto& t : step.staticAdd) {
        hw_->touched(t.intf, t.key);
    }
    for (const auto& r : step.staticRemove) {
        hw_->touched(r.intf, r.key);
    }
    for (const auto& r : step.dynamicRuleAdd) {
        hw_->touched(r.intf, r.key);
    }
}

std::string Player::tableSummary() const {
    std::string out;
    for (const VyrP4::TableEngine* t : chip_->tables()) {
        char line[128];
        std::snprintf(line, sizeof line, "  %-28s %8zu of %u entries\n", t->name(), t->entryCount(),
                      t->capacity());
        out += line;
    }
    return out.empty() ? "  (no table is up)\n" : out;
}

void Player::header(const std::string& title) {
    // Flushed, so that trace lines on stderr and piped or real-time output keep their order.
    out_ << "== t=" << secondsText(loop_->nowSeconds()) << "s  " << title << "\n" << std::flush;
}

Player::Changes Player::takeChanges(std::size_t most) {
    lastReport_ = loop_->nowSeconds();
    Changes c{logLines_.str(), journal_->takeChanges(most), hw_->takeChanges(most), {}, {}};
    logLines_.str("");
    return c;
}

void Player::print(const Changes& c) {
    std::istringstream lines(c.logs);
    for (std::string line; std::getline(lines, line);) {
        ++summary_.logMessages;
        out_ << "  log  " << Host::printable(line) << "\n";
    }
    out_ << c.traffic << "chip:\n"
         << (c.chip.empty() ? "  (no change in the chip's tables)\n" : c.chip) << c.hw << c.shows;
    if (options_.dump) {
        const std::string dump = chip_->dump();
        out_ << (dump.empty() ? "  (every table is empty)\n" : dump);
    }
    out_ << std::flush;
}

void Player::step(std::size_t index) {
    const Step& s = scenario_.steps[index];
    // What the agent did on its own since the last report is not this step's doing.
    const double since = lastReport_;
    if (const Changes c = takeChanges(); !c.empty()) {
        header("the agent's own timers, since t=" + secondsText(since) + "s");
        print(c);
    }
    header("step " + std::to_string(index + 1) +
           (s.say.empty() ? "" : ": " + Host::printable(s.say)));
    exitsInARow_ = 0;
    ++summary_.steps;
    apply(s);
    loop_->runPending();
    // An exit the step caused is reported with it once the loop has stopped.
    if (!runner_->process().code()) {
        Changes c = takeChanges(s.bulk() ? kBulkLines : SIZE_MAX);
        if (s.traffic) {
            c.traffic = send(*s.traffic);
        }
        c.shows = ask(s.show);
        for (const auto& packet : s.packets) {
            c.traffic += tracePacket(*chip_, packet);
        }
        print(c);
    }
}

std::string Player::send(const Traffic& traffic) {
    HostState state(runner_->sysdb(), &runner_->environment().mirra->store());
    const auto connections = state.connections();
    const auto status = state.status();
    // Whether a packet of each hits an entry; false for what the host no longer publishes.
    const auto sendAll = [this, traffic, connections, status](std::string* out) {
        const auto line = [out](const std::string& what, bool hit) {
            if (out) {
                *out += "  traffic  " + what + (hit ? ": entry hit\n" : ": no entry hit\n");
            }
        };
        for (const auto& k : traffic.connections) {
            const auto* conn = connections ? connections->connection.find(k) : nullptr;
            line(k.str(), conn && trafficIs(*chip_, k, *conn, traffic.pipe));
        }
        for (const auto& k : traffic.twice) {
            const auto* t = status->twiceNat.find(k);
            line("twice NAT " + k.str(), t && trafficIs(*chip_, k, *t, traffic.pipe));
        }
    };
    std::string out;
    sendAll(&out);
    if (traffic.seconds > 0) {
        // Half a second apart, so that every hit-bit scan while it lasts finds the entries hit.
        const auto every = Tasking::seconds(0.5);
        const auto until = loop_->now() + Tasking::seconds(traffic.seconds);
        auto self = std::make_shared<Tasking::TimerTask*>(nullptr);
        auto task = Ert::make<Tasking::TimerTask>(loop_->scheduler("scenario"), 0, "traffic",
                                                  [this, sendAll, every, until, self] {
                                                      sendAll(nullptr);
                                                      if (loop_->now() + every <= until) {
                                                          (*self)->scheduleAt(loop_->now() + every);
                                                      }
                                                  });
        *self = task.get();
        task->scheduleAt(loop_->now() + every);
        trafficRepeats_.push_back(std::move(task));
    }
    return out;
}

std::string Player::ask(const std::vector<std::string>& commands) {
    std::string out;
    for (const std::string& command : commands) {
        out += "show \"" + Host::printable(command) + "\":\n";
        const auto reply = runner_->environment().commandRequestDirSm->request(command);
        if (!reply) {
            out += "  (not asked: the agent has no command callback)\n";
            continue;
        }
        // Each line of the reply behind a bar, so that it stands apart from the report; the
        // count tells an empty reply, and a last line without its line end, from the rest.
        std::size_t lines = 0;
        for (std::size_t at = 0; at < reply->size(); ++lines) {
            std::size_t end = reply->find('\n', at);
            end = end == std::string::npos ? reply->size() : end;
            out += "  | " + Host::printable(std::string_view(*reply).substr(at, end - at)) + "\n";
            at = end + 1;
        }
        out += lines == 0 ? "  (no reply)\n"
                          : "  (reply: " + count(lines, "line", "lines") +
                                (reply->back() == '\n' ? ")\n" : ", no line end after the last)\n");
    }
    return out;
}

bool Player::synAckRequired() const {
    return HostState(runner_->sysdb()).natConfig()->natTcpSynAckRequired();
}

std::string Player::exitReason() const {
    if (!scenario_.profile.natSupported()) {
        return "the chip profile has no NAT (natSupported: false)";
    }
    if (synAckRequired() != synAckAtStart_) {
        return std::string("natTcpSynAckRequired changed to ") +
               (synAckRequired() ? "true" : "false") + ", which the agent applies by restarting";
    }
    return "the agent asked to exit";
}

void Player::runLoop(double end) {
    loop_->resume();
    if (options_.mode == Tasking::EventLoop::Mode::virtualTime) {
        loop_->runUntilStopped(Tasking::seconds(end + 1) - loop_->now());
    } else {
        loop_->run();
    }
}

int Player::play(const AgentFactory& factory) {
    out_ << "chip profile \"" << Host::printable(scenario_.profile.name()) << "\", scenario "
         << Host::printable(scenario_.file) << ", "
         << count(scenario_.steps.size(), "step", "steps") << "\n";
    auto scheduler = loop_->scheduler("scenario");
    std::vector<std::unique_ptr<Tasking::TimerTask>> tasks;
    // Steps of one moment run in file order; the end comes after everything of its moment.
    auto at = [&](double when, int priority, std::function<void()> fn) {
        tasks.push_back(
            std::make_unique<Tasking::TimerTask>(scheduler, priority, "scenario", std::move(fn)));
        tasks.back()->scheduleAt(Tasking::seconds(when));
    };
    for (std::size_t i = 0; i < scenario_.steps.size(); ++i) {
        at(scenario_.steps[i].at, 0, [this, i] { step(i); });
    }
    const double end = (scenario_.steps.empty() ? 0 : scenario_.steps.back().at) + scenario_.settle;
    at(end, -1000, [this] {
        ended_ = true;
        loop_->stop();
    });

    header("agent started");
    synAckAtStart_ = synAckRequired();
    runner_->start(factory());
    loop_->runPending();
    if (!runner_->process().code()) {
        // The fixed entries a table gets at start-up are many and alike: a few show what they are.
        print(takeChanges(kStartLinesPerTable));
        out_ << "tables up:\n" << tableSummary() << std::flush;
        started_ = snapshot(*chip_);
    }
    int failure = 0;
    while (true) {
        // The host starts an agent that exited again, until it keeps failing at once.
        bool up = !runner_->process().code();
        while (!up) {
            const int code = *runner_->process().code();
            ++summary_.agentExits;
            failure = failure ? failure : code;
            header("agent exited with code " + std::to_string(code) + ": " + exitReason());
            print(takeChanges());
            if (ended_) {
                break;
            }
            if (++exitsInARow_ > kMaxRestartsInARow) {
                out_ << "the agent exited " << exitsInARow_
                     << " times in a row with no step played in between; it is not started again\n";
                break;
            }
            header("agent started again (" + std::to_string(exitsInARow_) + " of at most " +
                   std::to_string(kMaxRestartsInARow) + " restarts in a row)");
            synAckAtStart_ = synAckRequired();
            runner_->restart(factory());
            loop_->runPending();
            up = !runner_->process().code();
            if (up) {
                print(takeChanges());
            }
        }
        if (!up || ended_) {
            break;
        }
        runLoop(end);
        if (!runner_->process().code()) {
            break;
        }
    }

    header(ended_ ? "end of the scenario" : "end of the run");
    print(takeChanges());
    const std::size_t left = chip_->entryCount();
    if (left == 0) {
        out_ << "end: the chip's tables are empty\n";
    } else if (snapshot(*chip_) == started_) {
        out_ << "end: the chip's tables hold only the "
             << count(left, "fixed entry", "fixed entries") << " written at start-up\n";
    } else {
        out_ << "end: " << left << " entries left in the chip's tables\n";
    }
    summary_.written = journal_->written();
    summary_.removed = journal_->removed();
    summary_.refused = journal_->refused();
    summary_.programmed = hw_->everProgrammed();
    summary_.notProgrammed = hw_->neverProgrammed();
    if (const auto connections =
            HostState(runner_->sysdb(), &runner_->environment().mirra->store()).connections()) {
        summary_.aged = connections->aged();
    }
    out_ << summary_.str(scenario_.steps.size()) << "\n";
    const auto& agent = runner_->agent();
    out_ << "clean state: " << (agent && agent->doCheckAgentCleanState() ? "yes" : "no") << "\n"
         << std::flush;
    return failure;
}

} // namespace Scenario
