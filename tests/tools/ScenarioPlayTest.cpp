// Every scenario shipped in scenarios/ plays to the end in virtual time and leaves the chip as
// the agent found it.

#include "agent/VyrNatAgent.h"
#include "tools/scenario/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Output that remembers how far it had come at each flush.
class FlushLog : public std::stringbuf {
public:
    std::vector<std::size_t> flushedAt;

protected:
    int sync() override {
        flushedAt.push_back(str().size());
        return 0;
    }
};

Ert::Ptr<VyrAgentLib::VyrAgent> newAgent() {
    return Ert::Ptr<VyrAgentLib::VyrAgent>(new VyrNat::VyrNatAgent("VyrNat"));
}

std::string play(const std::string& text, int& code, std::size_t* configFollowers = nullptr) {
    std::string error;
    auto scenario = Scenario::parse(text, "test.yaml", error);
    EXPECT_TRUE(scenario) << error;
    if (!scenario) {
        return {};
    }
    std::ostringstream out;
    Scenario::Player player(std::move(*scenario), {}, out);
    code = player.play(newAgent);
    if (configFollowers) {
        *configFollowers = player.runner().sysdb().entity("ip/nat/config")->reactorCount();
    }
    return out.str();
}

// Each of `expected` comes in `out`, in this order.
void expectInOrder(const std::string& out, const std::vector<std::string>& expected) {
    std::size_t at = 0;
    for (const std::string& e : expected) {
        at = out.find(e, at);
        ASSERT_NE(at, std::string::npos) << e << " in order in:\n" << out;
    }
}

TEST(ScenarioPlay, EveryShippedScenarioEndsWithTheChipAsItStarted) {
    int files = 0;
    for (const auto& e :
         std::filesystem::directory_iterator(std::string(VYRNAT_SOURCE_DIR) + "/scenarios")) {
        const std::string file = e.path().string();
        if (e.path().extension() != ".yaml") {
            continue;
        }
        SCOPED_TRACE(file);
        ++files;
        std::string error;
        auto scenario = Scenario::loadFile(file, error);
        ASSERT_TRUE(scenario) << error;
        const std::size_t steps = scenario->steps.size();
        FlushLog log;
        std::ostream out(&log);
        Scenario::Player player(std::move(*scenario), {}, out);
        const int code = player.play(newAgent);
        const std::string text = log.str();
        EXPECT_EQ(code, 0) << text;
        const std::string n = std::to_string(steps);
        EXPECT_TRUE(std::regex_match(
            text.substr(text.rfind("\nend: ") + 1),
            std::regex("end: the chip's tables (are empty|hold only the [0-9]+ fixed entr(y|ies) "
                       "written at start-up)\nsummary: " +
                       n + " of " + n + " steps played, [^\n]*\n")))
            << text;
        // Start, every step and the end are reported, each header flushed before what follows.
        std::size_t reports = 0;
        for (std::size_t at = text.find("== t="); at != std::string::npos;
             at = text.find("== t=", at + 1)) {
            ++reports;
            const std::size_t end = text.find('\n', at) + 1;
            EXPECT_NE(std::find(log.flushedAt.begin(), log.flushedAt.end(), end),
                      log.flushedAt.end())
                << text.substr(at, end - at);
        }
        EXPECT_EQ(reports, steps + 2) << text;
        EXPECT_EQ(log.flushedAt.back(), text.size());
    }
    EXPECT_GE(files, 3) << "demo, egress and VRF scenarios at least";
}

// As the host does, the tool starts an agent that exited again and plays on; one that exits at
// every start is given up after a few.
TEST(ScenarioPlay, AnAgentThatExitsIsStartedAgainAndTheScenarioPlaysOn) {
    const std::string head =
        "chip:\n  profile: default\nnatConfig:\n  natTcpSynAckRequired: false\n"
        "steps:\n  - at: 1\n    vlanProfile: {100: 3}\n    static:\n"
        "      - {intf: NatProfile3, local: \"10.0.0.5:80\", "
        "global: \"192.0.2.7:8080\", protocol: tcp}\n";
    const std::string tail = "  - at: 3\n    say: after the restart\n"
                             "    removeStatic: [{intf: NatProfile3, local: \"10.0.0.5:80\"}]\n"
                             "    removeVlanProfile: [100]\n";
    int code = -1;
    std::size_t followers = 0;
    const std::string out = play(
        head + "  - at: 2\n    natConfig: {natTcpSynAckRequired: true}\n" + tail, code, &followers);
    EXPECT_EQ(code, 0);
    const std::string line = "NatProfile3  source 10.0.0.5:80 <-> 192.0.2.7:8080: ";
    expectInOrder(out, {"== t=2.0s  step 2\n",
                        "== t=2.0s  agent exited with code 0: natTcpSynAckRequired changed to "
                        "true, which the agent applies by restarting\n",
                        line + "withdrawn",
                        "== t=2.0s  agent started again (1 of at most 3 restarts in a row)",
                        line + "programmed", "step 3: after the restart", line + "withdrawn",
                        "end: the chip's tables hold only the 25 fixed entries written at start-up",
                        "1 agent exit"});
    // The agent that exited is gone: only the new one follows the configuration.
    std::size_t followersOfOne = 0;
    play(head + tail, code, &followersOfOne);
    EXPECT_EQ(followers, followersOfOne);

    const std::string noNat = play("chip:\n  profile: noNat\nsteps:\n  - at: 1\n", code);
    EXPECT_EQ(code, 0);
    expectInOrder(noNat, {"agent exited with code 0: the chip profile has no NAT",
                          "the agent exited 4 times in a row with no step played in between; it "
                          "is not started again\n",
                          "summary: 0 of 1 step played, "});
}

// The format reference stays true: each example is a valid scenario that plays to its end, and
// every chip profile field is described.
TEST(ScenarioPlay, TheReferenceExamplesPlayAndEveryProfileFieldIsDescribed) {
    std::ifstream in(std::string(VYRNAT_SOURCE_DIR) + "/scenarios/REFERENCE.md");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty());
    int examples = 0;
    for (std::size_t at = text.find("```yaml\n"); at != std::string::npos;
         at = text.find("```yaml\n", at + 1)) {
        const std::size_t begin = at + 8;
        const std::string example = text.substr(begin, text.find("```", begin) - begin);
        SCOPED_TRACE(example);
        ++examples;
        int code = -1;
        const std::string out = play(example, code);
        EXPECT_EQ(code, 0) << out;
        EXPECT_NE(out.find("\nsummary: "), std::string::npos) << out;
    }
    EXPECT_GE(examples, 10);
    for (const std::string& field : VyrP4::ProfileCapabilities::fieldNames()) {
        EXPECT_NE(text.find("`" + field + "`"), std::string::npos) << field;
    }
}

} // namespace
