// The CLI as an operator meets it: requests through the host's command-request directory, the
// reply text, the counters and the trace of what was dispatched; and the clean-state check.

#include "cli/VyrNatAgentCli.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/helper/NatTestUtil.h"
#include "tests/support/RandomRun.h"
#include "tests/support/TraceCapture.h"

#include <gtest/gtest.h>

#include <random>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace HelperTest;
using VyrNat::VyrNatCliCallback;

std::string ask(TestSupport::BootedAgent& a, const std::string& command) {
    return a.runner.environment().commandRequestDirSm->request(command).value_or("<none>");
}

// An agent whose profile's managers are not built yet.
struct EarlyAgent : VyrNat::VyrNatCliAgent {
    VyrNat::VyrNatTableMgr* cliTableMgr() const override { return nullptr; }
    VyrNat::NatHelper* cliNatHelper() const override { return nullptr; }
    Oma::NatSm* cliOmaNatSm() const override { return nullptr; }
};

// Counts the changes of the callback's counters that reach a follower.
class CounterFollower : public Ert::Reactor<VyrNatCliCallback> {
public:
    explicit CounterFollower(Ert::Ptr<VyrNatCliCallback> cli) {
        onChange(&VyrNatCliCallback::cliCmds, [this] { ++cmds; });
        onChange(&VyrNatCliCallback::cliErrors, [this] { ++errors; });
        follow(std::move(cli));
    }
    int cmds = 0;
    int errors = 0;
};

TEST(CliDispatch, EarlyRequestsAndProfilesWithoutNatGetTheFixedMessagesOnly) {
    Tasking::EventLoop loop;
    EarlyAgent early;
    auto dir = Ert::make<Agent::AgentCommandRequestDirSm>();
    auto cli = VyrNat::vyrNatCliCallbackFactory("VyrNat", "VyrNatCli", &early);
    dir->agentCommandCallbackIs(cli);
    EXPECT_EQ(dir->request("showNatSummary"), "Agent not initialized yet");
    EXPECT_EQ(dir->request("nonsense"), "Agent not initialized yet");
    EXPECT_EQ(cli->cliCmds() + cli->cliErrors(), 0u);

    // Translations between VRFs only: no interface or egress NAT to show.
    TestSupport::BootedAgent vrf(TestSupport::BootedAgent::scenarioFor("vrfNatHop"));
    vrf.boot();
    ASSERT_NE(vrf.owner(), nullptr);
    EXPECT_EQ(ask(vrf, "showNatStatic ingress snat all"), "Command not supported in this profile");
    EXPECT_EQ(ask(vrf, "showNatSummary"), "Command not supported in this profile");
}

TEST(CliDispatch, KeywordsAndArgumentsAreReadAsWrittenAndEveryRequestIsCounted) {
    NatAgent a("default");
    TestSupport::TraceCapture trace("VyrNatAgent/8");
    auto cli = a.booted().agent->cliCallback();
    CounterFollower follower(cli);
    struct Case {
        const char* command;
        const char* traced; // a trace line holding this
        bool ran;           // counted as answered, else as rejected
    };
    const Case cases[] = {
        // Substring match, in the fixed order: the summary wins over the twice listing.
        {"showNatTwice all showNatSummary", "Show nat summary", true},
        {"xshowNatTwiceX addr-port", "Show nat twice", true},
        // A missing argument is an empty word.
        {"showNatTwice", "Unknown twice command: ", false},
        {"showNatTwice   bogus", "Unknown twice command: bogus", false},
        {"showNatDynamic snat dynamicDnat1", "tableType: snat", true},
        {"showNatDynamic dnat dynamicSnat1", "Unknown dnat table dynamicSnat1", false},
        {"showNatDynamic    dnat    dynamicDnatPartition", "tableType: dnat", true},
        {"showNatDynamic", "Unknow dynamic command ", false},
        {"showNatDynamicFoo cpu", "cmdName: owNatDynamicFoo", true},
        {"showNatStatic ingress snat bogus", "Unknow static command: bogus", false},
        {"showNatStatic ingress", "Unknow static command: ", false},
        // Without the egress static tables on this profile.
        {"showNatEgress snat all", "Show nat egress mc", false},
        {"showNatFlowMatch", "Show nat flow", true},
        {"clearNatCounters", "Clear nat counters", true},
        {"showNatAddress not-an-address", "Show nat address", true},
        {"showNatfoo", "Unknown command showNatfoo", false},
    };
    uint32_t cmds = 0, errors = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const auto before = trace.text().size();
        const std::string reply = ask(a.booted(), c.command);
        (c.ran ? cmds : errors) += 1;
        EXPECT_EQ(cli->cliCmds(), cmds);
        EXPECT_EQ(cli->cliErrors(), errors);
        EXPECT_NE(trace.text().find(c.traced, before), std::string::npos) << trace.text();
        if (!c.ran) {
            EXPECT_EQ(reply, "");
        }
    }
    a.run();
    EXPECT_EQ(follower.cmds, int(cmds));
    EXPECT_EQ(follower.errors, int(errors));

    // The summary walks every manager, then the host's state machine and the helper.
    const std::string summary = ask(a.booted(), "showNatSummary");
    EXPECT_EQ(summary.find("NAT profiles programmed: 0\nStatic NAT\n"), 0u) << summary;
    const auto sm = summary.find("NAT state machine\n");
    const auto helper = summary.find("NAT helper\n");
    EXPECT_NE(sm, std::string::npos);
    EXPECT_LT(sm, helper);
    EXPECT_NE(helper, std::string::npos);

    // Clearing the counters starts the helper's learning over.
    a.helper().dynAddIs(7);
    ask(a.booted(), "clearNatCounters");
    EXPECT_EQ(a.helper().dynAdd(), 0u);
    EXPECT_EQ(ask(a.booted(), "showNatProfiles"), "NAT Profile\n------------------\n");
}

TEST(CliDispatch, ARequestSocketGetsARoomySendBufferAndTheReply) {
    NatAgent a("default");
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    int before = 0, after = 0;
    socklen_t len = sizeof before;
    ::getsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &before, &len);
    a.booted().agent->cliCallback()->handleCommand(uint32_t(fds[0]), "showNatProfiles");
    len = sizeof after;
    ::getsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &after, &len);
    EXPECT_GT(after, before);
    ::close(fds[0]);
    std::string reply;
    char buf[256];
    for (ssize_t n; (n = ::read(fds[1], buf, sizeof buf)) > 0;) {
        reply.append(buf, std::size_t(n));
    }
    ::close(fds[1]);
    EXPECT_EQ(reply, "NAT Profile\n------------------\n");
}

// Requests made of keywords, arguments and junk, with any blanks: each is answered or rejected,
// exactly one of the two, and a rejected one writes nothing.
TEST(CliDispatch, RandomRequestsAreEachCountedOnceAndRejectionsWriteNothing) {
    const unsigned seed = TestSupport::testSeed(18);
    SCOPED_TRACE(TestSupport::seedNote(seed));
    std::mt19937 rng(seed);
    NatAgent a("egressNat");
    auto cli = a.booted().agent->cliCallback();
    const char* words[] = {"showNatStatic",
                           "showNatEgress",
                           "showNatTwice",
                           "showNatDynamic",
                           "showNatAddress",
                           "showNatFlowMatch",
                           "showNatProfiles",
                           "ingress",
                           "egress",
                           "snat",
                           "dnat",
                           "all",
                           "acl",
                           "addr-only",
                           "addr-port",
                           "fragment",
                           "unprogrammed",
                           "cpu",
                           "dynamicDnat1",
                           "dynamicSnat1",
                           "dynamicAddrOnlyDnat",
                           "10.0.0.1",
                           "",
                           "x"};
    uint32_t total = 0;
    std::string broken;
    TestSupport::randomSteps(
        2000,
        [&] {
            std::string command;
            for (int n = 1 + int(rng() % 4); n > 0; --n) {
                command += std::string(rng() % 3, ' ') + words[rng() % std::size(words)];
            }
            const uint32_t errors = cli->cliErrors();
            const std::string reply =
                a.booted().runner.environment().commandRequestDirSm->request(command).value_or("");
            broken = cli->cliErrors() != errors && !reply.empty() ? "a reply to a rejection\n" : "";
            ++total;
            return "'" + command + "'";
        },
        [&] {
            return broken + (cli->cliCmds() + cli->cliErrors() == total ? "" : "counted wrong\n");
        });
}

TEST(CliDispatch, TheTokenizerSkipsBlanksAndEndsAtTheText) {
    const std::string text = "showNatStatic  ingress   snat";
    uint32_t pos = 1;
    EXPECT_EQ(VyrNatCliCallback::nextFieldS(text, &pos), "owNatStatic");
    EXPECT_EQ(VyrNatCliCallback::nextFieldS(text, &pos), "ingress");
    EXPECT_EQ(pos, 22u);
    EXPECT_EQ(VyrNatCliCallback::nextFieldS(text, &pos), "snat");
    EXPECT_EQ(pos, text.size());
    EXPECT_EQ(VyrNatCliCallback::nextFieldS(text, &pos), "");
    EXPECT_EQ(pos, text.size());
}

TEST(CleanState, FreshAgentIsCleanAndSilentAndOneLeftoverIsNamedOnce) {
    NatAgent a("egressNat");
    TestSupport::TraceCapture trace("VyrNatAgent/0");
    const auto& agent = *a.booted().agent;
    EXPECT_TRUE(agent.doCheckAgentCleanState());
    EXPECT_EQ(trace.text(), "");

    auto& st = *a.owner().tableMgrStatic();
    ASSERT_TRUE(st.updateEgressNatProfileTable(10, 3));
    EXPECT_FALSE(agent.doCheckAgentCleanState());
    const auto lines = trace.lines("doCheckAgentCleanState");
    ASSERT_EQ(lines.size(), 1u) << trace.text();
    EXPECT_NE(lines[0].find(": doCheckAgentCleanState tms->hwEgressNatProfileEntriess() 1"),
              std::string::npos)
        << lines[0];
    // The check changes nothing: the binding is still listed.
    EXPECT_EQ(ask(a.booted(), "showNatProfiles").find("   Vlan:   10    Profile:   3\n"),
              std::string("NAT Profile\n------------------\n").size());

    st.deleteEgressNatProfileTable(10);
    EXPECT_TRUE(agent.doCheckAgentCleanState());
}

} // namespace
