#include "tests/support/AgentFixture.h"

#include "tests/support/Invariants.h"
#include "tools/scenario/Player.h"

#include <stdexcept>

namespace TestSupport {

Scenario::Scenario
BootedAgent::scenarioFor(const std::string& profileName,
                         std::initializer_list<std::pair<const char*, const char*>> fields) {
    Scenario::Scenario s;
    auto profile = VyrP4::namedProfile(profileName);
    if (!profile) {
        throw std::invalid_argument("no chip profile named " + profileName);
    }
    for (const auto& [field, value] : fields) {
        if (std::string error; !profile->fieldIs(field, value, error)) {
            throw std::invalid_argument(error);
        }
    }
    s.profile = *profile;
    s.file = "test";
    return s;
}

BootedAgent::BootedAgent(Scenario::Scenario scenario)
    : chip(VyrP4::chipFactory(scenario.profile)), agent(Ert::make<VyrNat::VyrNatAgent>("VyrNat")) {
    runner.environment().chip = chip;
    Scenario::seedHostState(runner.sysdb(), scenario);
}

void BootedAgent::boot() {
    runner.start(agent);
    loop.runPending();
    started = Scenario::snapshot(*chip);
}

std::string BootedAgent::leftOver() const {
    std::string out = owner() ? TestSupport::leftOver(*owner(), *chip, started) : "";
    if (!agent->doCheckAgentCleanState()) {
        out += "doCheckAgentCleanState: false\n";
    }
    return out;
}

} // namespace TestSupport
