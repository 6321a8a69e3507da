// CLI requests as an operator may type them, keyword selection and argument tokenizer included:
// each input is one request to an agent that holds entries of every kind.

#include "agent/VyrNatAgent.h"
#include "tools/scenario/Player.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

namespace {

Scenario::Player& player() {
    static std::ostringstream report;
    static std::unique_ptr<Scenario::Player> p = [] {
        std::string error;
        auto scenario = Scenario::loadFile(VYRNAT_CLI_SCENARIO, error);
        if (!scenario) {
            std::fprintf(stderr, "fuzz_cli: %s\n", error.c_str());
            std::abort();
        }
        auto made = std::make_unique<Scenario::Player>(std::move(*scenario),
                                                       Scenario::PlayOptions{}, report);
        if (made->play([] {
                return Ert::Ptr<VyrAgentLib::VyrAgent>(new VyrNat::VyrNatAgent("VyrNat"));
            }) != 0) {
            std::fprintf(stderr, "fuzz_cli: the agent exited:\n%s", report.str().c_str());
            std::abort();
        }
        return made;
    }();
    return *p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Scenario::Player& p = player();
    const std::string command(reinterpret_cast<const char*>(data), size);
    const auto reply = p.runner().environment().commandRequestDirSm->request(command);
    if (!reply) {
        std::abort(); // the callback went away
    }
    // What the request set off on the loop runs too.
    p.loop().runPending();
    return 0;
}
