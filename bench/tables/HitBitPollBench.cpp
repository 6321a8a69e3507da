// One full poll of dynamic connections for aging: the hit-bit scan of every dynamic table by the
// host's service, then one activity read per connection through the dynamic manager; beside the
// raw scan of the chip's bits alone. A quarter of the connections are hit before each poll.

#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/AgentFixture.h"

#include <benchmark/benchmark.h>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;

constexpr uint16_t kProfile = 1;

ConnTuple flowAt(uint32_t i) {
    return {{IpAddr(0x0A000000u + i), 1024}, {IpAddr(0xC6336400u + i % 16), 443}, 6};
}

// N connections, all in SNAT1.
std::unique_ptr<BootedAgent> bootWith(uint32_t n) {
    auto a = std::make_unique<BootedAgent>(BootedAgent::scenarioFor(
        "default",
        {{"snat1TableSize", "1048576"}, {"snat2TableSize", "0"}, {"dnat1TableSize", "1"}}));
    a->boot();
    auto& dyn = *a->owner()->tableMgrDynamic();
    for (uint32_t i = 0; i < n; ++i) {
        const ConnTuple f = flowAt(i);
        const IpAndPort nat{IpAddr(0xC0000200u + i % 256), uint16_t(1024 + i / 256)};
        if (!dyn.createDynamicSnat(f, f.src, f.dst, nat, kProfile, false, 0)) {
            return nullptr;
        }
    }
    return a;
}

// What packets would do between polls: every fourth connection's entry is hit.
void hitAQuarter(VyrNatTableMgrDynamic& dyn, uint32_t n) {
    auto& snat1 = *dyn.dynamicSnat1Table();
    for (uint32_t i = 0; i < n; i += 4) {
        snat1.hitBitIs(snat1.entryHandle(*dyn.snat1({flowAt(i), 0})), true);
    }
}

// Runs `poll` once per iteration over N connections, a quarter of them hit just before; checks
// that it found those.
template <class Poll> void pollEach(benchmark::State& state, Poll&& poll) {
    const auto n = uint32_t(state.range(0));
    auto a = bootWith(n);
    if (!a) {
        state.SkipWithError("a connection was refused");
        return;
    }
    auto& dyn = *a->owner()->tableMgrDynamic();
    uint64_t active = 0;
    for (auto _ : state) {
        state.PauseTiming();
        hitAQuarter(dyn, n);
        state.ResumeTiming();
        active = poll(*a, dyn, n);
    }
    if (active != (n + 3) / 4) {
        state.SkipWithError("the poll found a wrong number of active connections");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

// The scans of every dynamic table by the host's service (timers do not run here: the machine
// is asked by hand), then one read per connection.
void BM_FullPoll(benchmark::State& state) {
    pollEach(state, [](BootedAgent& a, VyrNatTableMgrDynamic& dyn, uint32_t n) {
        dyn.vyrNatHitBitSm()->scheduleHitBitPolling();
        a.loop.runPending();
        uint64_t active = 0;
        for (uint32_t i = 0; i < n; ++i) {
            active += dyn.getSrcCounters(kProfile, flowAt(i), false, 0);
        }
        return active;
    });
}
BENCHMARK(BM_FullPoll)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The chip's side of the same poll: every bit of the table read and cleared.
void BM_RawScan(benchmark::State& state) {
    pollEach(state, [](BootedAgent& a, VyrNatTableMgrDynamic&, uint32_t) {
        VyrP4::TableEngine* engine = a.chip->table("dynamicSnat1");
        std::vector<std::vector<VyrP4::VyrSdkEntryHandle>> hits(engine->pipes());
        engine->hitBitsScan(hits);
        return uint64_t(hits[0].size());
    });
}
BENCHMARK(BM_RawScan)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace
