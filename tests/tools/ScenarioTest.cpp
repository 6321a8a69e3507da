#include "tools/scenario/Scenario.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

const char* const kGood = R"(chip:
  profile: default
  fields:
    snatAclTableSize: 100
natHwCapabilities:
  dynamicConnectionTableSize: 16384
  natDpdk: false
  natHitfullRestart: true
vyrNatConfig:
  addrOnlySnatNonFragmentReserve: 1
  addrOnlyDnatNonFragmentReserve: 2
  egressNonFragmentReserve: 0x10
natConfig:
  natTcpSynAckRequired: false
settle: 2.5
steps:
  - at: 1
    say: first
  - at: 1
    natConfig:
      natTcpSynAckRequired: true
  - at: 3.5
)";

TEST(ScenarioFile, AValidScenarioIsReadWhole) {
    std::string error;
    auto s = Scenario::parse(kGood, "good.yaml", error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->profile.name(), "default");
    EXPECT_EQ(s->profile.snatAclTableSize(), 100u);
    EXPECT_TRUE(s->profile.intfNat());
    EXPECT_EQ(s->hwCapabilities.dynamicConnectionTableSize, 16384u);
    EXPECT_TRUE(s->hwCapabilities.natHitfullRestart);
    EXPECT_EQ(s->vyrNatConfig.addrOnlyDnatNonFragmentReserve, 2u);
    EXPECT_EQ(s->vyrNatConfig.egressNonFragmentReserve, 16u);
    EXPECT_EQ(s->natConfig.natTcpSynAckRequired, false);
    EXPECT_EQ(s->settle, 2.5);
    ASSERT_EQ(s->steps.size(), 3u);
    EXPECT_EQ(s->steps[0].say, "first");
    EXPECT_EQ(s->steps[0].line, 17);
    EXPECT_EQ(s->steps[1].natConfig.natTcpSynAckRequired, true);
    EXPECT_FALSE(s->steps[2].natConfig.natTcpSynAckRequired);
    EXPECT_EQ(s->steps[2].at, 3.5);
}

// Connections, twice-NAT translations and flows keep what the file says, with its defaults; a
// bulk makes its connections in the documented order, each tuple and each source translation
// once.
TEST(ScenarioFile, DynamicStepsAreReadWholeAndABulkMakesDistinctConnections) {
    std::string error;
    auto s = Scenario::parse(R"(chip: {profile: default}
natHwCapabilities: {dynamicConnectionTableSize: 64}
steps:
  - at: 1
    connections:
      - {kind: dnat, proto: 47, src: "198.51.100.7:5", dst: "192.0.2.1:80", to: 10.0.0.1,
         nextHop: 0x80000002, profile: 3, vrf: 4}
    removeConnections: [{kind: snat, proto: icmp, src: 10.0.0.9, dst: 0.0.0.0}]
    connectionBulk:
      - {kind: snat, proto: udp, count: 12, src: 10.0.0.0/31, srcPorts: 1000-1001,
         peers: ["198.51.100.1:53", 198.51.100.2, "198.51.100.3:53"], pool: 192.0.2.0/30,
         poolPorts: 7-9, fullCone: true}
    twiceNat: [{srcOld: "10.0.0.1:1", dstOld: 10.0.0.2, srcNew: "10.0.0.3:2", dstNew: 10.0.0.4}]
    natFlows: [{policy: p, match: m, dst: 224.0.0.0/4, dstPorts: 80, groupMc: 9}]
)",
                             "dyn.yaml", error);
    ASSERT_TRUE(s) << error;
    const Scenario::Step& step = s->steps.at(0);
    ASSERT_EQ(step.connectionAdd.size(), 1u);
    const auto& c = step.connectionAdd[0];
    EXPECT_EQ(c.key.target, Ip::Nat::kDestinationTranslation);
    EXPECT_EQ(c.key.tuple.protocol, 47);
    EXPECT_EQ(c.key.vrfId, 4u);
    EXPECT_EQ(c.conn.translated.toString(), "10.0.0.1:0");
    EXPECT_EQ(c.conn.nextHop, 0x80000002u);
    EXPECT_EQ(c.conn.profile, 3);
    ASSERT_EQ(step.connectionRemove.size(), 1u);
    EXPECT_TRUE(step.connectionRemove[0].addrOnly());
    EXPECT_EQ(step.connectionRemove[0].tuple.protocol, 1);
    EXPECT_EQ(step.twiceAdd.at(0).key.protocol, 0);
    EXPECT_EQ(step.twiceAdd.at(0).translation.srcNew.port, 2);
    const auto& flow = step.flowAdd.at(0).entry.flow;
    EXPECT_EQ(flow.src.toString(), "0.0.0.0/0");
    EXPECT_EQ(flow.srcPortStart, 0);
    EXPECT_EQ(flow.srcPortEnd, 65535);
    EXPECT_EQ(flow.dstPortStart, 80);
    EXPECT_EQ(flow.dstPortEnd, 80);
    EXPECT_TRUE(step.bulk());

    // Peers first, then source addresses, then source ports; pool addresses, then pool ports.
    const Scenario::ConnectionBulk& b = step.bulkAdd.at(0);
    auto text = [&](uint32_t i) {
        const Scenario::Connection c = b.at(i);
        return c.key.tuple.toString() + " to " + c.conn.translated.toString();
    };
    EXPECT_EQ(text(0), "10.0.0.0:1000 -> 198.51.100.1:53 proto 17 to 192.0.2.0:7");
    EXPECT_EQ(text(1), "10.0.0.0:1000 -> 198.51.100.2:0 proto 17 to 192.0.2.1:7");
    EXPECT_EQ(text(3), "10.0.0.1:1000 -> 198.51.100.1:53 proto 17 to 192.0.2.3:7");
    EXPECT_EQ(text(6), "10.0.0.0:1001 -> 198.51.100.1:53 proto 17 to 192.0.2.2:8");
    EXPECT_EQ(text(11), "10.0.0.1:1001 -> 198.51.100.3:53 proto 17 to 192.0.2.3:9");
    std::set<Ip::Nat::DynamicConnectionKey> keys;
    std::set<Ip::IpAndPort> translated;
    for (uint32_t i = 0; i < b.count; ++i) {
        const Scenario::Connection c = b.at(i);
        EXPECT_TRUE(c.conn.fullCone);
        keys.insert(c.key);
        translated.insert(c.conn.translated);
    }
    EXPECT_EQ(keys.size(), b.count);
    EXPECT_EQ(translated.size(), b.count);
}

// Every kind of fault, each reported once with the file, the line and what is wrong.
TEST(ScenarioFile, EachFaultIsRefusedWithOneMessageNamingFileAndLine) {
    const std::string chip = "chip:\n  profile: default\n";
    // The text, the line of the fault and what the message says.
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"chip:\n  profile: [default\nsteps: []\n", 3, ""},
        {"", 1, "the scenario is empty"},
        {"settle: 1\n", 1, "needs a 'chip'"},
        {"chip:\n  fields: {}\n", 2, "chip needs a 'profile'"},
        {"chip:\n  profile: fancy\n", 2, "unknown chip profile 'fancy'"},
        {chip + "chips: 1\n", 3, "unknown key 'chips' in the scenario"},
        {chip + "  colour: red\n", 3, "unknown key 'colour' in chip"},
        {chip + "steps:\n  - at: 1\n    vlanProfile: {100: 300}\n", 4,
         "VLAN 100 is bound to NAT profile 300, but the chip has 256 NAT profiles"},
        {chip + "natHwCapabilities:\n  natDpdkk: true\n", 4,
         "unknown key 'natDpdkk' in natHwCapabilities"},
        {chip + "vyrNatConfig:\n  reserve: 1\n", 4, "unknown key 'reserve' in vyrNatConfig"},
        {chip + "natConfig:\n  synAck: true\n", 4, "unknown key 'synAck' in natConfig"},
        {chip + "steps:\n  - at: 1\n    sai: x\n", 5, "unknown key 'sai' in step"},
        {chip + "natHwCapabilities:\n  natDpdk: maybe\n", 4,
         "'natDpdk' must be true or false, not 'maybe'"},
        {chip + "natHwCapabilities:\n  dynamicConnectionTableSize: ten\n", 4,
         "'dynamicConnectionTableSize' must be a whole number, not 'ten'"},
        {chip + "vyrNatConfig:\n  egressNonFragmentReserve: -1\n", 4,
         "'egressNonFragmentReserve' must be a whole number"},
        {chip + "natHwCapabilities:\n  natDpdk: \"a\\nb\\tc\"\n", 4, "not 'a\\nb\\tc'"},
        {chip + "\"chip\\ns\": 1\n", 3, "unknown key 'chip\\ns'"},
        {chip + "natHwCapabilities:\n  natDpdk: [true]\n", 4, "'natDpdk' must be a single value"},
        {"chip: default\n", 1, "chip must be a mapping"},
        {chip + "steps: 5\n", 3, "'steps' must be a list"},
        {chip + "steps:\n  - 5\n", 4, "step must be a mapping"},
        {chip + "steps:\n  - say: x\n", 4, "a step needs 'at'"},
        {chip + "steps:\n  - at: soon\n", 4, "'at' must be a number of seconds, not 'soon'"},
        {chip + "natHwCapabilities:\n  dynamicConnectionTableSize: 4294967296\n", 4,
         "'dynamicConnectionTableSize' is out of range"},
        {chip + "vyrNatConfig:\n  addrOnlySnatNonFragmentReserve: 99999999999999999999\n", 4,
         "'addrOnlySnatNonFragmentReserve' is out of range"},
        {chip + "steps:\n  - at: -1\n", 4, "'at' is out of range"},
        {chip + "steps:\n  - at: 1e400\n", 4, "'at' is out of range"},
        {chip + "settle: 2000000\n", 3, "'settle' is out of range"},
        {chip + "steps:\n  - at: 2\n  - at: 1.5\n    say: late\n", 5,
         "comes before the step above it"},
        {chip + "  fields:\n    colour: 1\n", 4,
         "unknown profile field 'colour' (known: name, natSupported, intfNat, "},
        {chip + "  fields:\n    snatAclTableSize: 70000\n", 4,
         "profile field 'snatAclTableSize': 70000 is out of range (at most 65536)"},
        {chip + "  fields:\n    intfNat: yes\n", 4,
         "profile field 'intfNat': 'yes' is not true, false, 1 or 0"},
        {chip + "  fields:\n    intfNat: [1]\n", 4, "chip field 'intfNat' needs a single value"},
        {chip + "  fields:\n    vrfNatHop: true\n", 4, "intfNat or vrfNatHop, not both"},
        {"chip:\n  profile: egressNat\n  fields:\n    egrUcNatTableSize: 0\n", 4,
         "egrUcNatSupported needs an egrUcNatTableSize above 0"},
        {chip + "  fields: {egrUcNatTableSize: 64}\n", 3,
         "egrUcNatTableSize must be 0 without egrUcNatSupported"},
        {"chip:\n  profile: partitioned\n  fields: {snatPartitionBankSize: \"8\"}\n", 3,
         "must hold as many entries in all"},
        {"chip:\n  profile: egressNat\n  fields: {snat1TableSize: 65536}\n", 3,
         "dnat2TableSize must hold as many entries as snat1TableSize"},
        {chip + "steps:\n  - at: 1\n    removeConnections: []\n", 5,
         "connections need natHwCapabilities.dynamicConnectionTableSize"},
        {"chip:\n  profile: partitioned\nsteps:\n  - at: 1\n    natFlows: []\n", 5,
         "NAT flows need a chip profile with natFlowSupported"},
        {chip + "steps:\n  - at: 1\n    connections:\n      - {kind: xnat}\n", 6,
         "'kind' must be snat or dnat, not 'xnat'"},
        {chip + "steps:\n  - at: 1\n    connections:\n      - {kind: snat, proto: tcp, src: "
                "10.0.0.1, dst: \"198.51.100.1:80\"}\n",
         6, "a connection needs 'kind', 'proto', 'src', 'dst' and 'to'"},
        {chip + "steps:\n  - at: 1\n    connections:\n      - {kind: dnat, proto: udp, src: "
                "0.0.0.0, dst: 192.0.2.1, to: \"10.0.0.1:53\"}\n",
         6, "an address-only connection (peer 0.0.0.0) has no ports"},
        {chip + "steps:\n  - at: 1\n    connectionBulk: {kind: snat, proto: tcp, count: 9, src: "
                "10.0.0.0/30, srcPorts: 1-2, peers: [198.51.100.1], pool: 192.0.2.0/24}\n",
         5, "count 9 is more than the 8 distinct connections"},
        {chip + "steps:\n  - at: 1\n    connectionBulk: {kind: snat, proto: tcp, count: 9, src: "
                "10.0.0.0/24, peers: [198.51.100.1], pool: 192.0.2.0/29, poolPorts: 7-7}\n",
         5, "more than the 8 translated addresses and ports"},
        {chip + "steps:\n  - at: 1\n    removeConnectionBulk: [{kind: dnat, proto: tcp, count: 2, "
                "src: 10.0.0.0/24, peers: [192.0.2.1, 192.0.2.1], pool: 10.0.0.1/32}]\n",
         5, "'peers' names a peer twice"},
        {chip + "steps:\n  - at: 1\n    connectionBulk: {kind: dnat, proto: tcp, count: "
                "1000001, src: 0.0.0.0/0, peers: [192.0.2.1], pool: 10.0.0.1/32}\n",
         5, "'count' must be 1 to 1000000"},
        {chip + "steps:\n  - at: 1\n    natFlows: [{policy: p, match: m, srcPorts: 90-80}]\n", 5,
         "'srcPorts' ends below its start: 90-80"},
        {chip + "steps:\n  - at: 1\n    twiceNat: [{srcOld: 10.0.0.1, dstOld: 10.0.0.2, "
                "srcNew: 10.0.0.3}]\n",
         5, "needs 'srcOld' and 'dstOld', 'srcNew' and 'dstNew'"},
        {chip + "natConfig:\n  udpTimeout: 0\n", 4, "'udpTimeout' must be at least 1 second"},
        {chip + "natConfig:\n  connectionPollInterval: soon\n", 4,
         "'connectionPollInterval' must be a whole number"},
        {chip + "steps:\n  - at: 1\n    traffic: {pipe: 0}\n", 5,
         "traffic needs 'connections' or 'twiceNat'"},
        {chip + "steps:\n  - at: 1\n    traffic: {connections: [{kind: snat, proto: udp, src: "
                "\"10.0.0.1:5\", dst: \"198.51.100.1:53\"}]}\n",
         5, "which no 'connections' of this or an earlier step adds"},
        {chip + "steps:\n  - at: 1\n    twiceNat: [{srcOld: 10.0.0.1, dstOld: 10.0.0.2, srcNew: "
                "10.0.0.3, dstNew: 10.0.0.4}]\n  - at: 2\n    removeTwiceNat: [{srcOld: "
                "10.0.0.1, dstOld: 10.0.0.2}]\n    traffic: {twiceNat: [{srcOld: 10.0.0.1, "
                "dstOld: 10.0.0.2}]}\n",
         8, "which no 'twiceNat' of this or an earlier step adds"},
        {chip + "natHwCapabilities: {dynamicConnectionTableSize: 8}\nsteps:\n  - at: 1\n    "
                "connections: [{kind: snat, proto: udp, src: \"10.0.0.1:5\", dst: "
                "\"198.51.100.1:53\", to: \"192.0.2.1:5\", fullCone: true}]\n    traffic: "
                "{connections: [{kind: snat, proto: udp, src: \"10.0.0.1:5\", dst: "
                "\"198.51.100.1:53\"}]}\n",
         7, "traffic for full-cone connection"},
        {chip + "steps:\n  - at: 1\n    twiceNat: [{srcOld: 10.0.0.1, dstOld: 10.0.0.2, srcNew: "
                "10.0.0.3, dstNew: 10.0.0.4}]\n    traffic: {pipe: 1, twiceNat: [{srcOld: "
                "10.0.0.1, dstOld: 10.0.0.2}]}\n",
         6, "traffic on pipe 1, but the chip has 1 pipes"},
        {chip + "steps:\n  - at: 1\n    acls:\n      a: [{seq: 1}, {seq: 1, deny: true}]\n", 6,
         "ACL a has two rules with seq 1"},
        {chip + "steps:\n  - at: 1\n    acls:\n      a: [{seq: 1, dstPorts: 80}]\n", 6,
         "an ACL rule with ports needs 'proto'"},
        {chip + "steps:\n  - at: 1\n    acls: {a: [{src: 10.0.0.0/8}]}\n", 5,
         "an ACL rule needs 'seq'"},
        {chip + "steps:\n  - at: 1\n    dynamicRules: [{intf: NatProfile1, acl: a}]\n", 5,
         "a dynamic NAT rule needs 'priority'"},
        {chip + "steps:\n  - at: 1\n    removeDynamicRules: [{intf: NatProfile1, acl: a, "
                "priority: 3}]\n",
         5, "unknown key 'priority' in dynamic NAT rule to remove"},
        {chip + "steps:\n  - at: 1\n    intfAddress: {Ethernet1: 10.0.0.300}\n", 5,
         "'address' must be"},
        {chip + "steps:\n  - at: 1\n    show: {showNatSummary: 1}\n", 5,
         "'show' must be a command, such as"},
        {chip + "steps:\n  - at: 1\n    show:\n      - showNatSummary\n      - [a]\n", 7,
         "'show' must be a command"},
        {chip + "steps:\n  - at: 1\n    show: \"  \"\n", 5, "'show' needs a command"},
        {chip + "steps:\n  - at: 1\n    show: \"showNatSummary\\nshowNatTwice all\"\n", 5,
         "a 'show' command is one line of text"},
        {chip + "steps:\n  - at: 1\n    show: " + std::string(4097, 'x') + "\n", 5,
         "a 'show' command is at most 4096 bytes"},
    };
    for (const auto& [text, line, says] : cases) {
        SCOPED_TRACE(text);
        std::string error;
        EXPECT_FALSE(Scenario::parse(text, "bad.yaml", error));
        const std::string where = "bad.yaml:" + std::to_string(line) + ": ";
        EXPECT_EQ(error.rfind(where, 0), 0u) << error;
        EXPECT_GT(error.size(), where.size()) << error;
        EXPECT_NE(error.find(says), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

} // namespace
