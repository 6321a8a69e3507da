// Playing a scenario with the host tool's player: each step adds one static translation, so the
// chip and the hardware status grow with the step count. A step must cost what it changes, not
// what the chip already holds: the time per step stays flat (the fitted complexity is O(N) for
// the whole run), where reading every entry at every step made the run quadratic.

#include "agent/VyrNatAgent.h"
#include "tools/scenario/Player.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ostream>
#include <string>

namespace {

std::string stepsScenario(int n) {
    std::string text = "chip:\n  profile: default\n  fields:\n    snatAddrPortTableSize: 65536\n"
                       "steps:\n  - at: 0\n    vlanProfile: {100: 3}\n";
    for (int i = 0; i < n; ++i) {
        const std::string local = "10." + std::to_string(i >> 16 & 255) + "." +
                                  std::to_string(i >> 8 & 255) + "." + std::to_string(i & 255);
        text += "  - at: " + std::to_string(i + 1) +
                "\n    static: [{intf: NatProfile3, local: \"" + local +
                ":80\", global: \"192.0.2.1:" + std::to_string(1024 + i) + "\", protocol: tcp}]\n";
    }
    return text;
}

void BM_PlayStepsAddingATranslationEach(benchmark::State& state) {
    ::setenv("RINGLOG_DISABLE", "1", 1);
    const int n = int(state.range(0));
    std::string error;
    const auto scenario = Scenario::parse(stepsScenario(n), "bench.yaml", error);
    if (!scenario) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::ostream nowhere(nullptr);
    for (auto _ : state) {
        Scenario::Player player(*scenario, {}, nowhere);
        benchmark::DoNotOptimize(player.play(
            [] { return Ert::Ptr<VyrAgentLib::VyrAgent>(new VyrNat::VyrNatAgent("VyrNat")); }));
    }
    state.SetComplexityN(n);
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_PlayStepsAddingATranslationEach)
    ->RangeMultiplier(4)
    ->Range(500, 8000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

} // namespace
