#include "tools/scenario/Player.h"

#include "host/NatEntities.h"

#include <cstdio>
#include <vector>

namespace Scenario {

namespace {

constexpr const char* kSystemStatusPath = VyrAgentLib::VyrAgent::kSystemStatusPath;

template <class T> Ert::Ptr<T> published(Hubdb::EntityManager& db, const std::string& path) {
    auto e = Ert::ptrCast<T>(db.entity(path));
    if (!e) {
        e = Ert::make<T>(path);
        db.entityIs(path, e);
    }
    return e;
}

void applyNatConfig(const NatConfig& c, Ip::Nat::Config& config) {
    if (c.natTcpSynAckRequired) {
        config.natTcpSynAckRequired.set(*c.natTcpSynAckRequired);
    }
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
}

Player::~Player() {
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

    auto cfg = published<VyrNat::Config>(db, "hardware/vyr/nat/config");
    cfg->addrOnlySnatNonFragmentReserve.set(scenario.vyrNatConfig.addrOnlySnatNonFragmentReserve);
    cfg->addrOnlyDnatNonFragmentReserve.set(scenario.vyrNatConfig.addrOnlyDnatNonFragmentReserve);
    cfg->egressNonFragmentReserve.set(scenario.vyrNatConfig.egressNonFragmentReserve);

    applyNatConfig(scenario.natConfig, *published<Ip::Nat::Config>(db, "ip/nat/config"));
}

void Player::apply(const Step& step) {
    Hubdb::EntityManager& db = runner_->sysdb();
    applyNatConfig(step.natConfig, *published<Ip::Nat::Config>(db, "ip/nat/config"));
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
    out_ << (diff.empty() ? "  (no change in the chip's tables)\n" : diff);
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
    std::size_t left = chip_->entryCount();
    out_ << "end: "
         << (left == 0 ? "the chip's tables are empty"
                       : std::to_string(left) + " entries left in the chip's tables")
         << "\n";
    return code.value_or(0);
}

} // namespace Scenario
