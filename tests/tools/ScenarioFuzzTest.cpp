// Mutated copies of the demo scenario must each be refused with a clean message or played to a
// clean end; a crash, an internal check or an exception is a fault. The seed is fixed and
// printed with a failure; VYRNAT_SEED runs another.

#include "agent/VyrNatAgent.h"
#include "host/Assert.h"
#include "tools/scenario/Player.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kMutants = 500;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        out.push_back(l);
    }
    return out;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

class Mutator {
public:
    Mutator(uint64_t seed, const std::string& demo) : rng_(seed) {
        // The demo's words, and values and keys that reach further into the loader and the agent.
        tokens_ = words(demo + R"(noNat partitioned egressNat vrfNatHop fields: at: say: settle:
            natDpdk: natHitfullRestart: natTcpSynAckRequired: true false 0 1 -1 0x10 0x 4294967295
            4294967296 1e400 nan 1e6 2.5 ~ null [ ] { } - : " ' &a *a !!map | > # intfNat:
            vrfNatHop: egrUcNatSupported: egrUcNatTableSize: snatAclTableSize:
            egressNatProfileTableSize: natSupported: snat dnat kind: proto: count: peers: pool:
            fullCone: nextHop: vrf: 0.0.0.0 10.0.0.0/8 80-443 0-0 65535)");
        extraLines_ = lines(R"(  fields: {vrfNatHop: true}
  fields: {egrUcNatTableSize: 0}
  fields: {egrUcNatSupported: true}
  fields: {natSupported: false}
  fields: {snatAclTableSize: 0}
  fields:
    intfNat: false
    egrUcNatTableSize: 64
  - at: 0.5
  - at: 2
    natConfig: {natTcpSynAckRequired: true}
  natHitfullRestart: true
settle: 1e6
chip: {profile: noNat}
a: &a [*a]
<<: *b
---
...
%YAML 1.2
    connections: [{kind: snat, proto: tcp, src: "10.0.0.5:80", dst: "198.51.100.1:443", to: "192.0.2.7:8080"}]
    removeConnections: [{kind: snat, proto: tcp, src: "10.0.0.5:80", dst: "198.51.100.1:443"}]
    connections: [{kind: dnat, proto: udp, src: 0.0.0.0, dst: 192.0.2.7, to: 10.0.0.5, nextHop: 5}]
    connectionBulk: {kind: dnat, proto: udp, count: 3, src: 198.51.100.0/30, peers: [192.0.2.7], pool: 10.0.0.5/32}
    twiceNat: [{srcOld: "10.0.0.5:80", dstOld: 198.51.100.1, srcNew: "192.0.2.7:8080", dstNew: 10.0.0.6}]
    natFlows: [{policy: p, match: m, src: 10.0.0.0/8, dstPorts: 80-443, groupUc: 5, groupMc: 6}])");
        extraLines_.push_back("\t");
    }

    std::string mutate(std::vector<std::string> ls) {
        // Mostly one change, so that many mutants still get as far as the agent. The demo is
        // long enough that a few changes never empty it.
        auto line = [&]() -> std::string& { return ls[pick(ls.size())]; };
        bool truncate = false;
        for (std::size_t i = 0, n = pick(10) < 6 ? 1 : 2 + pick(2); i < n; ++i) {
            switch (pick(8)) {
            case 0:
                ls.erase(ls.begin() + pick(ls.size()));
                break;
            case 1: {
                const std::size_t at = pick(ls.size());
                ls.insert(ls.begin() + at, ls[at]);
                break;
            }
            case 2:
                std::swap(line(), line());
                break;
            case 3:
            case 4:
                replaceWord(line(), pick(2) ? tokens_[pick(tokens_.size())] : junk());
                break;
            case 5:
                ls.insert(ls.begin() + pick(ls.size() + 1), extraLines_[pick(extraLines_.size())]);
                break;
            case 6: {
                std::string& l = line();
                l = pick(2) && l.rfind("  ", 0) == 0 ? l.substr(2) : "  " + l;
                break;
            }
            default:
                truncate = true;
            }
        }
        std::string text;
        for (const auto& l : ls) {
            text += l + "\n";
        }
        if (truncate) {
            text.resize(pick(text.size()));
        }
        return text;
    }

private:
    std::size_t pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }

    std::string junk() {
        static const std::string chars = "abcXYZ019 -:.,[]{}#&*!|>'\"%@`\\\t\x01\x7f\xc3\xa9\xff";
        std::string s;
        for (std::size_t i = 0, n = 1 + pick(8); i < n; ++i) {
            s += chars[pick(chars.size())];
        }
        return s;
    }

    void replaceWord(std::string& line, const std::string& with) {
        std::vector<std::size_t> starts;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] != ' ' && (i == 0 || line[i - 1] == ' ')) {
                starts.push_back(i);
            }
        }
        if (starts.empty()) {
            line += with;
            return;
        }
        const std::size_t at = starts[pick(starts.size())];
        line.replace(at, line.find(' ', at) - at, with);
    }

    std::mt19937_64 rng_;
    std::vector<std::string> tokens_;
    std::vector<std::string> extraLines_;
};

TEST(ScenarioFuzz, MutatedDemosAreRefusedCleanlyOrPlayedToACleanEnd) {
    Host::ThrowOnAssert throwing;
    std::ifstream in(std::string(VYRNAT_SOURCE_DIR) + "/scenarios/demo.yaml");
    const std::string demo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(demo.empty());
    const char* env = std::getenv("VYRNAT_SEED");
    const uint64_t s = env ? std::strtoull(env, nullptr, 10) : 2862342644u;
    SCOPED_TRACE("seed " + std::to_string(s) + " (VYRNAT_SEED=" + std::to_string(s) +
                 " repeats this run)");
    Mutator mutator(s, demo);
    const std::regex clean(R"(mutant\.yaml:[0-9]+: [^\n]+)");

    int refused = 0;
    int played = 0;
    for (int i = 0; i < kMutants; ++i) {
        const std::string text = mutator.mutate(lines(demo));
        std::string error;
        auto scenario = Scenario::parse(text, "mutant.yaml", error);
        if (!scenario) {
            ++refused;
            EXPECT_TRUE(std::regex_match(error, clean))
                << "mutant " << i << " refused with \"" << error << "\":\n"
                << text;
            continue;
        }
        ++played;
        std::ostream nowhere(nullptr);
        try {
            Scenario::Player player(std::move(*scenario), {}, nowhere);
            const int code = player.play(
                [] { return Ert::Ptr<VyrAgentLib::VyrAgent>(new VyrNat::VyrNatAgent("VyrNat")); });
            EXPECT_EQ(code, 0) << "mutant " << i << ":\n" << text;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "mutant " << i << " stopped with \"" << e.what() << "\":\n" << text;
        }
    }
    std::cout << refused << " refused, " << played << " played\n";
    // Both paths are exercised, or the test proves little.
    EXPECT_GT(refused, kMutants / 10);
    EXPECT_GT(played, kMutants / 10);
}

} // namespace
