// Scenario `show` steps: the reply of the agent's command callback in the step's report, line by
// line and delimited, and the clean-state line that ends every run.

#include "agent/VyrNatAgent.h"
#include "tools/scenario/Player.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// Answers each command with its own text, ';' read as a line end: replies of any shape.
class Echo : public Agent::AgentCommandCallback {
public:
    Echo() : AgentCommandCallback("Echo", "Echo") {}
    void handleCommand(uint32_t fd, const std::string& command) override {
        std::string reply = command;
        for (char& c : reply) {
            c = c == ';' ? '\n' : c;
        }
        ASSERT_EQ(::write(static_cast<int>(fd), reply.data(), reply.size()),
                  static_cast<ssize_t>(reply.size()));
    }
};

class EchoAgent : public VyrAgentLib::VyrAgent {
public:
    EchoAgent() : VyrAgent("Echo") {}
    void doInit() override { commandRequestDirSm()->agentCommandCallbackIs(Ert::make<Echo>()); }
};

std::string play(const std::string& steps, bool echo, const std::string& profile = "default") {
    std::string error;
    auto scenario =
        Scenario::parse("chip:\n  profile: " + profile + "\nsteps:\n" + steps, "show.yaml", error);
    EXPECT_TRUE(scenario) << error;
    if (!scenario) {
        return {};
    }
    std::ostringstream out;
    Scenario::Player player(std::move(*scenario), {}, out);
    player.play([echo]() -> Ert::Ptr<VyrAgentLib::VyrAgent> {
        if (echo) {
            return Ert::make<EchoAgent>();
        }
        return Ert::Ptr<VyrAgentLib::VyrAgent>(new VyrNat::VyrNatAgent("VyrNat"));
    });
    return out.str();
}

bool has(const std::string& out, const std::string& s) {
    return out.find(s) != std::string::npos;
}

TEST(ShowStep, TheReplyIsPrintedLineByLineWithItsShape) {
    const std::string out =
        play("  - at: 1\n    show: [\"a;b;\", \"x;\\tend\", \";\", \"\\e[2J;\"]\n"
             "  - at: 2\n    say: next\n",
             true);
    EXPECT_TRUE(has(out, "chip:\n  (no change in the chip's tables)\nshow \"a;b;\":\n  | a\n  | b\n"
                         "  (reply: 2 lines)\nshow \"x;\\tend\":\n  | x\n  | \\tend\n"
                         "  (reply: 2 lines, no line end after the last)\nshow \";\":\n  | \n"
                         "  (reply: 1 line)\nshow \"\\x1b[2J;\":\n  | \\x1b[2J\n"
                         "  (reply: 1 line)\n== t=2.0s  step 2: next\n"))
        << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_TRUE(has(out, "\nclean state: yes\n")) << out;
}

// The NAT agent itself: its admission message on a chip without interface NAT comes whatever
// the command, and an unknown keyword on a NAT chip is answered with nothing.
TEST(ShowStep, TheAgentsOwnRepliesAndSilence) {
    const std::string vrf =
        play("  - at: 1\n    show: [showNatSummary, noSuchCommand]\n", false, "vrfNatHop");
    for (const char* command : {"showNatSummary", "noSuchCommand"}) {
        EXPECT_TRUE(has(vrf, std::string("show \"") + command +
                                 "\":\n  | Command not supported in this profile\n  (reply: 1 "
                                 "line, no line end after the last)\n"))
            << vrf;
    }
    const std::string nat = play("  - at: 1\n    show: \"showNatBogus all\"\n", false);
    EXPECT_TRUE(has(nat, "show \"showNatBogus all\":\n  (no reply)\n")) << nat;
    EXPECT_TRUE(has(nat, "\nclean state: yes\n")) << nat;
}

} // namespace
