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
                       n + " of " + n + " steps played, [^\n]*\nclean state: yes\n")))
            << text;
        // Start, every step and the end are reported, each header flushed before what follows.
        std::size_t reports = 0;
        for (std::size_t at = text.find("== t="); at != std::string::npos;
             at = text.find("== t=", at + 1)) {
            // What the agent's timers did between steps has a report of its own.
            const std::string line = text.substr(at, text.find('\n', at) - at);
            reports += line.find("the agent's own timers") == std::string::npos;
            const std::size_t end = text.find('\n', at) + 1;
            EXPECT_NE(std::find(log.flushedAt.begin(), log.flushedAt.end(), end),
                      log.flushedAt.end())
                << text.substr(at, end - at);
        }
        EXPECT_EQ(reports, steps + 2) << text;
        EXPECT_EQ(log.flushedAt.back(), text.size());
    }
    EXPECT_GE(files, 8)
        << "demo, egress, VRF, dynamic, partitioned, twice-flow, aging and trap scenarios";
}

// What the dynamic, partitioned and twice-NAT-and-flow scenarios are there to show, line by line:
// where each connection goes as the tables fill, what fits nowhere and why, bulk steps counted
// beyond a few lines, duplicates, in-place next-hop changes, flow entries, and the chip back to
// its start-up contents.
TEST(ScenarioPlay, TheDynamicTwiceAndFlowScenariosShowWhatTheyDescribe) {
    const std::string beyond = " (9996 more entries; --dump lists them)\n";
    const std::vector<std::pair<std::string, std::vector<std::string>>> scenarios = {
        {"dynamic.yaml",
         {"step 1: ",
          "  + dynamicDnat1  outerIpv4HdrProtocol=6, ingMdDynNatSip=10.1.0.5,",
          "step 2: ",
          "  + dynamicDnat1  outerIpv4HdrProtocol=6, ingMdDynNatSip=10.1.0.6,",
          "step 3: ",
          "  + dynamicSnat1  outerIpv4HdrProtocol=6, outerIpv4HdrSip=10.1.0.7,",
          "step 4: ",
          "  + dynamicSnat1  outerIpv4HdrProtocol=6, outerIpv4HdrSip=10.1.0.8,",
          "  + dynamicSnat2  outerIpv4HdrProtocol=6, outerIpv4HdrSip=10.1.0.5, "
          "l4PortHdrSrcPort=40007, outerIpv4HdrDip=198.51.100.2, l4PortHdrDstPort=80, "
          "l3InfoVrfId=2 ",
          "step 5: ",
          "(no change in the chip's tables)",
          "  snat tcp 10.1.0.13:40008 > 198.51.100.1:443 to 192.0.2.1:1028: NOT programmed (Table "
          "full in dynamicSnat2)\n",
          "step 6: ",
          "  + dynamicDnat1  outerIpv4HdrProtocol=17, ingMdDynNatSip=198.51.100.8, "
          "ingMdDynNatSport=5000, outerIpv4HdrSip=0.0.0.0, l4PortHdrSrcPort=0, "
          "outerIpv4HdrDip=192.0.2.9, l4PortHdrDstPort=53, l3InfoVrfId=0 => "
          "SetTranslatedDipNextHopEcmp(",
          "  + dynamicDnat2  outerIpv4HdrProtocol=6, outerIpv4HdrSip=198.51.100.7,",
          "step 7: ",
          "  dnat udp any > 192.0.2.21 to 10.1.0.21 via next hop 5: programmed\n",
          "step 8: ",
          "  + dynamicDnat2  outerIpv4HdrProtocol=17, outerIpv4HdrSip=0.0.0.0, l4PortHdrSrcPort=0, "
          "outerIpv4HdrDip=192.0.2.30,",
          "  dnat udp 198.51.100.31:7000 > 192.0.2.30:5060 to 10.1.0.30:5060 full cone via next "
          "hop "
          "6: NOT programmed (another connection holds the entry)\n",
          "step 9: ",
          "  + dynamicDnat2  outerIpv4HdrProtocol=6, outerIpv4HdrSip=198.51.100.7,",
          "SetTranslatedDipPortNextHopEcmp(checksumDelta=0x6788, translatedDip=10.1.0.80, "
          "ecmpId=9,",
          "step 10: ",
          "  dnat tcp 198.51.100.46:6000 > 192.0.2.8:80 to 10.1.0.80:8080 via next hop 5: NOT "
          "programmed (Table full in dynamicDnat2)\n",
          "step 11: ",
          "hardware status (0 programmed, 0 not):\n",
          "step 12: ",
          "  + dynamicAddrOnlySnat " + beyond,
          "hardware status (10000 programmed, 0 not):\n  snat any 10.1.0.0 > any to 100.64.0.0: "
          "programmed\n",
          "  (9996 more: 9996 programmed, 0 NOT programmed)\n",
          "step 13: ",
          "  - dynamicAddrOnlySnat " + beyond,
          "  (9996 more withdrawn)\n",
          "end: the chip's tables hold only the 36 fixed entries written at start-up\n",
          "10021 translations programmed, 3 not, faults: 3 writes refused"}},
        {"partitioned.yaml",
         {"step 1: ",
          "  + dynamicSnatPartition0  outerIpv4HdrProtocol=6, outerIpv4HdrSip=10.3.0.2,",
          "step 2: ",
          "  + dynamicSnatPartition1  outerIpv4HdrProtocol=6, outerIpv4HdrSip=10.3.0.4,",
          "  + dynamicSnatPartition3  outerIpv4HdrProtocol=17, outerIpv4HdrSip=10.3.0.5,",
          "step 4: ",
          "  snat tcp 10.3.0.9:40009 > 198.51.100.1:443 to 192.0.2.1:1032: NOT programmed "
          "(every dynamicSnatPartition is full)\n",
          "step 5: ",
          "  + dynamicSnatPartition0  outerIpv4HdrProtocol=6, outerIpv4HdrSip=10.3.0.10,",
          "step 6: ",
          "  + dynamicDnatPartition1  outerIpv4HdrProtocol=6, outerIpv4HdrSip=203.0.113.7,",
          "  (4 more: 4 programmed, 0 NOT programmed)\n",
          "step 7: ", "(no change in the chip's tables)",
          "  dnat tcp 203.0.113.1:7000 > 192.0.2.50:443 to 10.3.1.50:8443 vrf 2: NOT programmed "
          "(another connection holds the entry)\n",
          "  dnat tcp 203.0.113.9:7000 > 192.0.2.50:443 to 10.3.1.50:8443: NOT programmed "
          "(every dynamicDnatPartition is full)\n",
          "end: the chip's tables hold only the 11 fixed entries written at start-up\n",
          "17 translations programmed, 3 not"}},
        {"aging.yaml",
         {"step 2: ",
          "  traffic  snat 10.1.0.1:5000 -> 198.51.100.1:53 proto 17 vrf 0: entry hit\n",
          "  traffic  twice NAT 10.4.0.1:1000 > 198.51.100.7:53 proto 17 profile 0 vrf 0: entry "
          "hit\n",
          "== t=35.0s  the agent's own timers, since t=2.0s\n",
          "  - dynamicSnat1  outerIpv4HdrProtocol=17, outerIpv4HdrSip=10.1.0.2,",
          "  - twiceNatRewrite  twiceMdRewriteId=3 ",
          "  snat udp 10.1.0.2:5000 > 198.51.100.1:53 to 192.0.2.1:1025: withdrawn\n",
          "  twice udp 10.4.0.2:1000 > 198.51.100.8:53 to 192.0.2.8:2000 > 10.9.0.8:53 dynamic: "
          "withdrawn\n",
          "step 3: ", "  dnat tcp 198.51.100.3:50000 > 192.0.2.9:22 to 10.1.0.9:22: withdrawn\n",
          "step 4: ", "  snat udp 10.1.0.1:5000 > 198.51.100.1:53 to 192.0.2.1:1024: withdrawn\n",
          "  twice udp 10.4.0.1:1000 > 198.51.100.7:53 to 192.0.2.7:2000 > 10.9.0.7:53 dynamic: "
          "withdrawn\n",
          "step 5: ", "  snat tcp 10.1.0.3:40000 > 198.51.100.2:443 to 192.0.2.1:1026: withdrawn\n",
          "step 6: ", "end: the chip's tables hold only the 36 fixed entries written at start-up\n",
          "6 translations programmed, 0 not, 6 aged as idle, faults: "}},
        {"traps.yaml",
         {"step 1: ", "outerIpv4HdrSip=10.1.0.99/0xffffffff, priority=16765950 => OnMiss()",
          "l4PortHdrDstPort=80/0xfffc, l4PortHdrSrcPort=0/0x0, outerIpv4HdrDip=0.0.0.0/0x0, "
          "outerIpv4HdrProtocol=6/0xff, outerIpv4HdrSip=10.1.0.0/0xffff0000, priority=16765949 "
          "=> SetNatCpuTrap(",
          "step 2: ",
          "outerIpv4HdrDip=192.0.2.1/0xffffffff, outerIpv4HdrProtocol=6/0xff, "
          "outerIpv4HdrSip=0.0.0.0/0x0, priority=7864318 => SetNatCpuTrap(",
          "step 3: ",
          "  - natCpuTrapAcl  ingMdIngNatProfileId=0/0x0, ingMdEgrNatProfileId=1/0xfff, "
          "ingMdNatRvsTrap=1/0x1, l4PortHdrDstPort=0/0x0, l4PortHdrSrcPort=0/0x0, "
          "outerIpv4HdrDip=192.0.2.1/",
          "  + natCpuTrapAcl  ingMdIngNatProfileId=0/0x0, ingMdEgrNatProfileId=1/0xfff, "
          "ingMdNatRvsTrap=1/0x1, l4PortHdrDstPort=0/0x0, l4PortHdrSrcPort=0/0x0, "
          "outerIpv4HdrDip=192.0.2.2/",
          "step 4: ", "outerIpv4HdrSip=0.0.0.0/0x0, priority=3932159 => SetNatCpuTrap(", "step 5: ",
          // The SNAT ACL entries move with their rules.
          "outerIpv4HdrSip=10.3.1.0/0xffffff00, l4PortHdrSrcPort=0/0x0, l4PortHdrDstPort=0/0x0, "
          "priority=12358654 => SetDip()",
          "outerIpv4HdrSip=10.3.1.0/0xffffff00, priority=12358654 => SetNatCpuTrap(",
          "outerIpv4HdrSip=10.3.12.0/0xffffff00, priority=562174 => SetNatCpuTrap(",
          "step 6: ", "(no change in the chip's tables)",
          "NOT programmed (pool nowhere is not configured)\n", "step 7: ",
          "  NatProfile1  trap rules of acl r12 (snat, pool public, priority 2112): withdrawn\n",
          "end: the chip's tables hold only the 36 fixed entries written at start-up\n",
          "15 translations programmed, 1 not, faults: 0 writes refused"}},
        {"twice-flows.yaml",
         {"step 1: ",
          "  + twiceNatAddrOnly  l3InfoVrfId=0, outerIpv4HdrSip=10.4.0.1, "
          "outerIpv4HdrDip=198.51.100.1 => TwiceNatAddrOnlyHit(keyId=1, fragment=1, "
          "protocolType=2, rewriteId=2,",
          "step 2: ",
          "  + twiceNatAddrOnly  l3InfoVrfId=0, outerIpv4HdrSip=10.4.0.1, "
          "outerIpv4HdrDip=198.51.100.1 => TwiceNatAddrOnlyHit(keyId=1, fragment=0, "
          "protocolType=2, rewriteId=2,",
          "step 3: ",
          "log  %VYR_NAT_TWICE_DUPLICATE_ENTRY-6: ",
          "(no change in the chip's tables)",
          "  twice tcp 10.4.0.1:1000 > 198.51.100.1:80 to 192.0.2.9:2000 > 10.9.0.9:8080 profile "
          "1: NOT programmed (duplicate of another translation)\n",
          "step 4: ",
          "=> TwiceNatAddrPortHitEcmp(rewriteId=1, protocolType=2, ecmpId=12)",
          "step 5: ",
          "hardware status (4 programmed, 1 not):\n",
          "step 6: ",
          "l3InfoUnicast=0/0x1, l3InfoMulticast=1/0x1, outerIpv4HdrSip=10.5.0.0/0xffff0000, "
          "outerIpv4HdrDip=0.0.0.0/0x0, l4PortHdrSrcPort=0/0x0, l4PortHdrDstPort=0/0x0, "
          "outerIpv4HdrProtocol=17/0xff, priority=6 => SetNatFlowResult(natFlowResult=8)",
          "l3InfoUnicast=1/0x1, l3InfoMulticast=0/0x1, outerIpv4HdrSip=10.5.0.0/0xffff0000, "
          "outerIpv4HdrDip=0.0.0.0/0x0, l4PortHdrSrcPort=0/0x0, l4PortHdrDstPort=0/0x0, "
          "outerIpv4HdrProtocol=17/0xff, priority=6 => SetNatFlowResult(natFlowResult=7)",
          "step 7: ",
          "log  %VYR_NAT_FLOW_RANGE_OVERLAP-6: ",
          "(no change in the chip's tables)",
          ": NOT programmed (overlaps flow edge/web)\n",
          "step 8: ",
          "  flow edge/web  tcp 10.0.0.0/8 ports 1024-65535 > 198.51.100.0/24 port 443 priority 10 "
          "group 9: programmed\n",
          "end: the chip's tables hold only the 36 fixed entries written at start-up\n",
          "5 translations programmed, 2 not"}},
    };
    for (const auto& [file, expected] : scenarios) {
        SCOPED_TRACE(file);
        std::ifstream in(std::string(VYRNAT_SOURCE_DIR) + "/scenarios/" + file);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        int code = -1;
        const std::string out = play(text, code);
        EXPECT_EQ(code, 0) << out;
        expectInOrder(out, expected);
        // The busy ones leave only once their traffic has stopped.
        if (file == "aging.yaml") {
            EXPECT_GT(out.find("10.1.0.1:5000 > 198.51.100.1:53 to 192.0.2.1:1024: withdrawn"),
                      out.find("step 4: "));
            EXPECT_GT(out.find("10.1.0.3:40000 > 198.51.100.2:443 to 192.0.2.1:1026: withdrawn"),
                      out.find("step 5: "));
        }
        // The web flow's source ports 1024-65535 are six blocks, and it has one destination
        // block, before and after it is replaced.
        if (file == "twice-flows.yaml") {
            for (const char* step : {"step 5: ", "step 8: "}) {
                const std::size_t from = out.find(step);
                const std::string report = out.substr(from, out.find("== t=", from) - from);
                std::size_t entries = 0;
                for (std::size_t at = report.find("  + natFlow  "); at != std::string::npos;
                     at = report.find("  + natFlow  ", at + 1)) {
                    ++entries;
                }
                EXPECT_EQ(entries, 6u) << report;
            }
        }
    }
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
                        // The new agent traps SYN+ACK as well: one fixed entry more.
                        "  + natTcpFlags  tcpHdrFlags=0x12 => SetNatTcpFlags()",
                        line + "programmed", "step 3: after the restart", line + "withdrawn",
                        "end: 37 entries left in the chip's tables", "1 agent exit"});
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
