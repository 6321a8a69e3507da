// Trap rules installed through the NAT helper at random ACL priorities, with the respreads of
// priority blocks they trigger, then removed; beside the raw chip writes of the same entries.
// The counters give the chip writes per installed rule: one to add it, one to remove it, and
// two for every move of its entry to a new block.

#include "helper/VyrNatHelper.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/AgentFixture.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using TestSupport::BootedAgent;

std::unique_ptr<BootedAgent> boot() {
    auto a = std::make_unique<BootedAgent>(BootedAgent::scenarioFor(
        "default", {{"natCpuTrapAclTableSize", "65536"}, {"snatDynFullConeSupported", "false"}}));
    a->boot();
    return a;
}

// Rule i's ACL priority, at random: a quarter among 100 fixed priorities, the rest among 900
// mapped ones, so that fewer priorities are in use than there are blocks.
std::vector<uint32_t> priorities(uint32_t n) {
    std::mt19937 rng(5);
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < n; ++i) {
        out.push_back(rng() % 4 == 0 ? rng() % 100 : 1024 + rng() % 900);
    }
    return out;
}

Ip::IpAddrWithFullMask source(uint32_t i) {
    return {Ip::IpAddr(0x0A000000u + (i << 8)), 0xFFFFFF00u};
}

Ip::Nat::NatTrapInfo trapInfo(uint32_t prio) {
    Ip::Nat::NatTrapInfo t;
    t.profileId = 1;
    t.prio = prio;
    t.poolId = 1;
    return t;
}

void BM_TrapRulesThroughHelper(benchmark::State& state) {
    auto a = boot();
    auto& helper = *a->agent->natAgentSm()->natHelper();
    auto* engine = a->chip->table("natCpuTrapAcl");
    uint64_t writes = 0;
    engine->entryObserverIs(
        [&](const VyrP4::TableEngine&, VyrP4::EntryChange c, const VyrP4::EntryView*,
            const VyrP4::EntryView*) { writes += c != VyrP4::EntryChange::hit; });
    const auto n = uint32_t(state.range(0));
    const auto prios = priorities(n);
    const uint32_t before = helper.redistributeTrapRulesHwPriorityCount();
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            if (!helper.addTrapRule({"acl" + std::to_string(i), 0}, trapInfo(prios[i]), 0,
                                    source(i), {}, false, false)) {
                state.SkipWithError("a rule was refused");
                return;
            }
        }
        for (uint32_t i = 0; i < n; ++i) {
            helper.delTrapRule(1, {"acl" + std::to_string(i), 0}, 0);
        }
    }
    engine->entryObserverIs(nullptr);
    const double rules = double(state.iterations()) * n;
    state.counters["writesPerRule"] = double(writes) / rules;
    state.counters["respreadsPerRun"] =
        double(helper.redistributeTrapRulesHwPriorityCount() - before) / double(state.iterations());
    state.SetItemsProcessed(int64_t(rules));
}
BENCHMARK(BM_TrapRulesThroughHelper)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// One add and one delete per rule, straight into the table.
void BM_TrapRulesRawWrites(benchmark::State& state) {
    auto a = boot();
    auto& table = *a->owner()->tableMgrDynamic()->natCpuTrapAclTable();
    const auto n = uint32_t(state.range(0));
    const auto match = [](uint32_t i) {
        VyrP4::NatCpuTrapAclMatchSpec ms;
        ms.ingMdIngNatProfileIdIs(1, 0xfff);
        ms.outerIpv4HdrSipIs(source(i).addr.value, source(i).mask);
        ms.priorityIs(int32_t(1000 + i));
        return ms;
    };
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            table.entryAdd(match(i), VyrP4::SetNatCpuTrapActionSpec());
        }
        for (uint32_t i = 0; i < n; ++i) {
            table.entryDel(match(i));
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_TrapRulesRawWrites)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace
