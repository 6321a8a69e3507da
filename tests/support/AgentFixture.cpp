#include "tests/support/AgentFixture.h"

#include "tools/scenario/Player.h"

#include <stdexcept>

namespace TestSupport {

Scenario::Scenario BootedAgent::scenarioFor(const std::string& profileName) {
    Scenario::Scenario s;
    auto profile = VyrP4::namedProfile(profileName);
    if (!profile) {
        throw std::invalid_argument("no chip profile named " + profileName);
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
}

} // namespace TestSupport
