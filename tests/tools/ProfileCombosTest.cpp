// Every chip profile a scenario can describe is either refused by the scenario loader or plays
// to the end: the agent never stops on a profile the loader lets through.

#include "agent/VyrNatAgent.h"
#include "host/Assert.h"
#include "tools/scenario/Player.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

// The flags and the sizes (zero or not) that decide which managers and tables exist.
const char* const kFlags[] = {"natSupported", "intfNat", "vrfNatHop", "egrMcNat",
                              "egrUcNatSupported"};
const char* const kSizes[] = {"natProfileTableSize",
                              "egressNatProfileTableSize",
                              "dynamicEgressNatProfileTableSize",
                              "egrUcNatTableSize",
                              "ingressNatProfileEgressPipeTableSize",
                              "egressNatProfileEgressPipeTableSize"};

// Binds a VLAN, programs a translation of each kind and a VRF translation, then removes them.
constexpr const char* kSteps = R"(
steps:
  - at: 1
    vlanProfile: {10: 1}
    static:
      - {intf: NatProfile1, local: "10.0.0.1:80", global: "192.0.2.1:8080", target: source}
      - {intf: NatProfile1, local: 10.0.0.2, global: 192.0.2.2, target: destination,
         ingress: false}
      - {intf: NatProfile1, local: 10.0.0.3, global: 192.0.2.3, egressTarget: true}
    vrf:
      - {name: red, id: 10, src: {10.10.0.1: 192.0.2.101}, policer: {rate: 100, burst: 10}}
  - at: 2
    removeVlanProfile: [10]
    removeStatic:
      - {intf: NatProfile1, local: "10.0.0.1:80"}
      - {intf: NatProfile1, local: 10.0.0.2}
      - {intf: NatProfile1, local: 10.0.0.3, egressTarget: true}
    removeVrf: [red]
)";

std::string scenarioText(const char* profile, unsigned flags, unsigned sizes) {
    std::ostringstream text;
    text << "chip:\n  profile: " << profile << "\n  fields:\n";
    for (unsigned i = 0; i < std::size(kFlags); ++i) {
        text << "    " << kFlags[i] << ": " << ((flags >> i) & 1 ? "true" : "false") << "\n";
    }
    for (unsigned i = 0; i < std::size(kSizes); ++i) {
        text << "    " << kSizes[i] << ": " << ((sizes >> i) & 1 ? 64 : 0) << "\n";
    }
    return text.str() + kSteps;
}

TEST(ProfileCombos, EveryProfileIsRefusedByTheLoaderOrPlaysToTheEnd) {
    Host::ThrowOnAssert throwing;
    unsigned played = 0;
    for (const char* profile : {"default", "noNat", "partitioned", "egressNat", "vrfNatHop"}) {
        for (unsigned flags = 0; flags < 1u << std::size(kFlags); ++flags) {
            for (unsigned sizes = 0; sizes < 1u << std::size(kSizes); ++sizes) {
                const std::string text = scenarioText(profile, flags, sizes);
                std::string error;
                auto scenario = Scenario::parse(text, "combo.yaml", error);
                if (!scenario) {
                    continue;
                }
                std::ostringstream out;
                Scenario::Player player(std::move(*scenario), {}, out);
                try {
                    player.play([] {
                        return Ert::Ptr<VyrAgentLib::VyrAgent>(new VyrNat::VyrNatAgent("VyrNat"));
                    });
                } catch (const Host::AssertionFailure& e) {
                    ADD_FAILURE() << "the agent stopped (" << e.what() << ") on:\n" << text;
                    return;
                }
                ++played;
            }
        }
    }
    EXPECT_GT(played, 0u);
}

TEST(ProfileCombos, TranslationsNoTableCanHoldAreRefusedWithTheirLine) {
    const std::string head = "chip:\n  profile: default\nsteps:\n  - at: 1\n    static:\n";
    for (const auto& [rule, message] : {
             std::pair{"      - {intf: NatProfile256, local: 10.0.0.1, global: 192.0.2.1}\n",
                       "combo.yaml:4: NatProfile256: the chip has 256 NAT profiles"},
             {"      - {intf: NatProfile1, local: 10.0.0.1, global: \"192.0.2.1:80\"}\n",
              "combo.yaml:4: local 10.0.0.1 on NatProfile1 has no port, but its translation "
              "192.0.2.1:80 has one"},
             {"      - {intf: NatProfile1, local: \"10.0.0.1:80\", global: 192.0.2.1,"
              " target: destination}\n",
              "combo.yaml:4: global 192.0.2.1 on NatProfile1 has no port, but its translation "
              "10.0.0.1:80 has one"},
         }) {
        std::string error;
        EXPECT_FALSE(Scenario::parse(head + rule, "combo.yaml", error));
        EXPECT_EQ(error, message);
    }
}

} // namespace
