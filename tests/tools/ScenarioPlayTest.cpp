// Every scenario shipped in scenarios/ plays to the end in virtual time and leaves the chip as
// the agent found it.

#include "agent/VyrNatAgent.h"
#include "tools/scenario/Player.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> shippedScenarios() {
    std::vector<std::string> files;
    for (const auto& e :
         std::filesystem::directory_iterator(std::string(VYRNAT_SOURCE_DIR) + "/scenarios")) {
        if (e.path().extension() == ".yaml") {
            files.push_back(e.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string lastLine(const std::string& text) {
    std::istringstream in(text);
    std::string last;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last;
}

TEST(ScenarioPlay, EveryShippedScenarioEndsWithTheChipAsItStarted) {
    const auto files = shippedScenarios();
    ASSERT_GE(files.size(), 3u) << "demo, egress and VRF scenarios at least";
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        std::string error;
        auto scenario = Scenario::loadFile(file, error);
        ASSERT_TRUE(scenario) << error;
        const std::size_t steps = scenario->steps.size();
        std::ostringstream out;
        Scenario::Player player(std::move(*scenario), {}, out);
        const int code = player.play(
            [] { return Ert::Ptr<VyrAgentLib::VyrAgent>(new VyrNat::VyrNatAgent("VyrNat")); });
        EXPECT_EQ(code, 0) << out.str();
        const std::string last = lastLine(out.str());
        EXPECT_TRUE(last == "end: the chip's tables are empty" ||
                    last.find("end: the chip's tables hold only the ") == 0)
            << out.str();
        // Start, every step and the end are reported.
        std::size_t reports = 0;
        for (std::size_t at = out.str().find("== t="); at != std::string::npos;
             at = out.str().find("== t=", at + 1)) {
            ++reports;
        }
        EXPECT_EQ(reports, steps + 2) << out.str();
    }
}

} // namespace
