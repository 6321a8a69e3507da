#include "tools/scenario/Scenario.h"

#include <gtest/gtest.h>

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
