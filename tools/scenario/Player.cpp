#include "tools/scenario/Player.h"

#include "tools/scenario/HostState.h"

#include "host/LogMessage.h"
#include "host/NatConfig.h"
#include "host/NatStatus.h"
#include "host/NextHopMap.h"

#include <sstream>

#include <cstdio>
#include <vector>

namespace Scenario {

namespace {

constexpr const char* kSystemStatusPath = VyrAgentLib::VyrAgent::kSystemStatusPath;

// Addresses without a port print without one.
std::string addrText(const Ip::IpAndPort& a) {
    return a.port ? a.toString() : a.ip.toString();
}

std::string secondsText(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", s);
    return buf;
}

} // namespace

ChipSnapshot snapshot(const VyrP4::Chip& chip) {
    ChipSnapshot s;
    for (const VyrP4::TableEngine* t : chip.tables()) {
        auto& entries = s[t->name()];
        for (const auto& e : t->entries()) {
            entries.insert(t->entryStr(e));
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

Player::Player(Scenario scenario, PlayOptions options, std::ostream& out)
    : scenario_(std::move(scenario)), options_(options), out_(out),
      loop_(std::make_unique<Tasking::EventLoop>(options.mode)),
      runner_(std::make_unique<Host::AgentRunner>()), chip_(VyrP4::chipFactory(scenario_.profile)) {
    runner_->environment().chip = chip_;
    seedHostState(runner_->sysdb(), scenario_);
    Log::streamIs(&logLines_);
}

Player::~Player() {
    Log::streamIs(nullptr);
    runner_.reset();
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

    HostState(db).apply(scenario.natConfig);
}

void Player::apply(const Step& step) {
    HostState(runner_->sysdb()).apply(step);
}

HwSnapshot Player::hwSnapshot() {
    HwSnapshot s;
    Hubdb::EntityManager& db = runner_->sysdb();
    auto status = Ert::ptrCast<Ip::Nat::Status>(db.entity("ip/nat/status"));
    auto hw = Ert::ptrCast<Ip::Nat::HwStatus>(db.entity("ip/nat/hwStatus"));
    if (!hw) {
        return s;
    }
    auto state = [](bool programmed) { return programmed ? "programmed" : "NOT programmed"; };
    for (const auto& [intf, hwIntf] : hw->intfStatus) {
        const Ert::Ptr<Ip::Nat::IntfStatus>* st = status ? status->intfStatus.find(intf) : nullptr;
        for (const auto& [key, programmed] : hwIntf->staticConnection) {
            const Ip::Nat::NatStaticConnection* conn =
                st ? (*st)->staticConnection.find(key) : nullptr;
            std::string line = intf + "  ";
            if (conn) {
                line += conn->sourceTranslation() ? "source " : "destination ";
                line += addrText(key.local) + " <-> " + addrText(conn->global);
                line += key.aclName.empty() ? "" : " acl " + key.aclName;
                line += key.egressTarget() ? " (egress tables)" : "";
                line += conn->sourceTranslation() == conn->ingress ? " (reverse)" : "";
            } else {
                line += key.str();
            }
            s[line] = state(programmed);
        }
    }
    for (const auto& [vrf, hwVrf] : hw->vrfStatus) {
        for (const auto& [addr, programmed] : hwVrf->staticSrc) {
            s["vrf " + vrf + "  source " + addr.toString()] = state(programmed);
        }
        for (const auto& [addr, programmed] : hwVrf->staticDst) {
            s["vrf " + vrf + "  destination " + addr.toString()] = state(programmed);
        }
        if (hwVrf->policer()) {
            s["vrf " + vrf + "  policer"] = state(*hwVrf->policer());
        }
    }
    return s;
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

void Player::report(const std::string& title) {
    ChipSnapshot now = snapshot(*chip_);
    std::string diff = changes(last_, now);
    out_ << "== t=" << secondsText(loop_->nowSeconds()) << "s  " << title << "\n";
    if (!logLines_.str().empty()) {
        std::istringstream lines(logLines_.str());
        for (std::string line; std::getline(lines, line);) {
            out_ << "  log  " << line << "\n";
        }
        logLines_.str("");
    }
    out_ << "chip:\n" << (diff.empty() ? "  (no change in the chip's tables)\n" : diff);
    HwSnapshot hw = hwSnapshot();
    std::string hwDiff;
    std::size_t programmed = 0;
    for (const auto& [line, state] : hw) {
        programmed += state == "programmed";
        auto before = lastHw_.find(line);
        if (before == lastHw_.end() || before->second != state) {
            hwDiff += "  " + line + ": " + state + "\n";
        }
    }
    for (const auto& [line, state] : lastHw_) {
        if (!hw.count(line)) {
            hwDiff += "  " + line + ": withdrawn\n";
        }
    }
    if (!hwDiff.empty() || hw.size() != lastHw_.size()) {
        out_ << "hardware status (" << programmed << " programmed, " << hw.size() - programmed
             << " not):\n"
             << hwDiff;
    }
    lastHw_ = std::move(hw);
    if (options_.dump) {
        std::string dump = chip_->dump();
        out_ << (dump.empty() ? "  (every table is empty)\n" : dump);
    }
    last_ = std::move(now);
}

int Player::play(const AgentFactory& factory) {
    out_ << "chip profile \"" << scenario_.profile.name() << "\", scenario " << scenario_.file
         << ", " << scenario_.steps.size() << " steps\n";
    auto scheduler = loop_->scheduler("scenario");
    std::vector<std::unique_ptr<Tasking::TimerTask>> tasks;
    // Reports run after everything a step set off, at the lowest priority of its moment.
    constexpr int kStepPriority = 0;
    constexpr int kReportPriority = -1000;
    auto at = [&](double when, int priority, std::function<void()> fn) {
        tasks.push_back(
            std::make_unique<Tasking::TimerTask>(scheduler, priority, "scenario", std::move(fn)));
        tasks.back()->scheduleAt(Tasking::seconds(when));
    };

    runner_->start(factory());
    at(0, kReportPriority, [this] {
        report("agent started");
        out_ << "tables up:\n" << tableSummary();
        started_ = last_;
    });
    int n = 0;
    for (const Step& step : scenario_.steps) {
        const std::string title =
            "step " + std::to_string(++n) + (step.say.empty() ? "" : ": " + step.say);
        at(step.at, kStepPriority, [this, &step] { apply(step); });
        at(step.at, kReportPriority, [this, title] { report(title); });
    }
    const double end = (scenario_.steps.empty() ? 0 : scenario_.steps.back().at) + scenario_.settle;
    at(end, kReportPriority - 1, [this] { loop_->stop(); });

    if (options_.mode == Tasking::EventLoop::Mode::virtualTime) {
        loop_->runUntilStopped(Tasking::seconds(end + 1));
    } else {
        loop_->run();
    }
    const auto code = runner_->process().code();
    // What changed after the last step (or up to the exit) is reported too.
    report(code ? "agent exited with code " + std::to_string(*code) : "end of the scenario");
    const std::size_t left = chip_->entryCount();
    if (left == 0) {
        out_ << "end: the chip's tables are empty\n";
    } else if (snapshot(*chip_) == started_) {
        out_ << "end: the chip's tables hold only the " << left
             << " fixed entries written at start-up\n";
    } else {
        out_ << "end: " << left << " entries left in the chip's tables\n";
    }
    return code.value_or(0);
}

} // namespace Scenario
