// Dynamic connection add then delete through the dynamic manager, beside the raw chip writes of
// the same entries, with 1 to 10^6 connections already programmed: SNAT address-and-port and
// DNAT through a next hop on a profile with the five-tuple tables, SNAT on a partitioned one.
// The memory benchmark counts what the manager keeps per connection beyond the chip's entry.

#include "common/TranslationActions.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/AgentFixture.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Every allocation of the program counted: bytes asked for and not yet given back.
namespace {
std::atomic<int64_t> liveBytes{0};
constexpr std::size_t kHeader = 16; // keeps the caller's block 16-byte aligned
} // namespace

// The counting new and delete pair malloc with free, which the compiler cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n) {
    auto* p = static_cast<char*>(std::malloc(n + kHeader));
    if (!p) {
        throw std::bad_alloc();
    }
    *reinterpret_cast<std::size_t*>(p) = n;
    liveBytes += int64_t(n);
    return p + kHeader;
}
void operator delete(void* p) noexcept {
    if (p) {
        char* block = static_cast<char*>(p) - kHeader;
        liveBytes -= int64_t(*reinterpret_cast<std::size_t*>(block));
        std::free(block);
    }
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;

constexpr uint16_t kProfile = 1;
constexpr uint32_t kVrf = 1;
constexpr uint32_t kNextHop = 7;

// Sizes that send every SNAT to SNAT1 and every DNAT to DNAT2 (the most free), with room for
// a million connections besides.
std::unique_ptr<BootedAgent> bootFiveTuple() {
    auto a = std::make_unique<BootedAgent>(
        BootedAgent::scenarioFor("egressNat", {{"dnat1TableSize", "1048576"},
                                               {"dnat2TableSize", "2097152"},
                                               {"snat1TableSize", "2097152"},
                                               {"snat2TableSize", "1048576"}}));
    a->boot();
    return a;
}

std::unique_ptr<BootedAgent> bootPartitioned() {
    auto a = std::make_unique<BootedAgent>(
        BootedAgent::scenarioFor("partitioned", {{"dnatPartitionBankSize", "1048576, 1048576"},
                                                 {"snatPartitionBankSize", "1048576, 1048576"}}));
    a->boot();
    return a;
}

// Connection i: 10.x.y.z:(1024 + i % 50000) to 203.0.113.1:443.
ConnTuple flowAt(uint32_t i) {
    return {{IpAddr(0x0A000000u + i / 50000), uint16_t(1024 + i % 50000)},
            {IpAddr(203, 0, 113, 1), 443},
            6};
}
IpAndPort natAt(uint32_t i) {
    return {IpAddr(0xC6336400u + i / 50000), uint16_t(1024 + i % 50000)};
}

bool addSnat(VyrNatTableMgrDynamic& m, uint32_t i) {
    const ConnTuple f = flowAt(i);
    return m.createDynamicSnat(f, f.src, f.dst, natAt(i), kProfile, false, kVrf);
}
bool addDnat(VyrNatTableMgrDynamic& m, uint32_t i) {
    const ConnTuple f = flowAt(i);
    return m.createDynamicDnat(kProfile, f, f.src, f.dst, natAt(i), kNextHop, false, false, false,
                               kVrf);
}

template <class Add> bool preload(VyrNatTableMgrDynamic& m, uint32_t n, Add add) {
    for (uint32_t i = 0; i < n; ++i) {
        if (!add(m, i)) {
            return false;
        }
    }
    return true;
}

bool deleteSnat(VyrNatTableMgrDynamic& m, uint32_t i) {
    const ConnTuple f = flowAt(i);
    return m.deleteDynamicSnat(kProfile, f, f.dst, false, kVrf);
}
bool deleteDnat(VyrNatTableMgrDynamic& m, uint32_t i) {
    const ConnTuple f = flowAt(i);
    return m.deleteDynamicDnat(kProfile, f, f.dst, false, kVrf);
}

// One connection added then deleted through the manager, beside n already there.
template <class Boot, class Add, class Delete>
void addDelete(benchmark::State& state, Boot boot, Add add, Delete remove) {
    auto a = boot();
    auto& m = *a->owner()->tableMgrDynamic();
    const auto n = uint32_t(state.range(0));
    if (!preload(m, n, add)) {
        state.SkipWithError("preload refused");
        return;
    }
    for (auto _ : state) {
        if (!add(m, n)) {
            state.SkipWithError("refused");
            break;
        }
        remove(m, n);
    }
}

void BM_DynamicSnatAddDelete(benchmark::State& state) {
    addDelete(state, bootFiveTuple, addSnat, deleteSnat);
}
BENCHMARK(BM_DynamicSnatAddDelete)->Arg(1)->Arg(10000)->Arg(100000)->Arg(1000000);

void BM_DynamicDnatAddDelete(benchmark::State& state) {
    addDelete(state, bootFiveTuple, addDnat, deleteDnat);
}
BENCHMARK(BM_DynamicDnatAddDelete)->Arg(1)->Arg(10000)->Arg(100000)->Arg(1000000);

void BM_PartitionedSnatAddDelete(benchmark::State& state) {
    addDelete(state, bootPartitioned, addSnat, deleteSnat);
}
BENCHMARK(BM_PartitionedSnatAddDelete)->Arg(1)->Arg(10000)->Arg(100000)->Arg(1000000);

// The raw writes of one connection: its entry installed and deleted, the action built as the
// manager builds it, beside n entries written the same way.
template <class Table, class Action, class Match>
void rawWrites(benchmark::State& state, Table& table, Match match, Action action) {
    const auto n = uint32_t(state.range(0));
    for (uint32_t i = 0; i < n; ++i) {
        table.entryIs(match(i), action(i));
    }
    const auto ms = match(n);
    for (auto _ : state) {
        table.entryIs(ms, action(n));
        table.entryDel(ms);
    }
}

MatchAddrs addrsAt(uint32_t i) {
    const ConnTuple f = flowAt(i);
    return MatchAddrs::of(f.src, f.dst);
}

void BM_RawSnat1Writes(benchmark::State& state) {
    auto a = bootFiveTuple();
    auto& m = *a->owner()->tableMgrDynamic();
    rawWrites(
        state, *m.dynamicSnat1Table(),
        [&](uint32_t i) { return m.matchSpec<VyrP4::DynamicSnat1MatchSpec>(6, addrsAt(i), kVrf); },
        [](uint32_t i) {
            return sipTranslation<VyrP4::DynamicSnat1Table::Action>(flowAt(i).src, natAt(i));
        });
}
BENCHMARK(BM_RawSnat1Writes)->Arg(1)->Arg(10000)->Arg(100000)->Arg(1000000);

void BM_RawDnat2Writes(benchmark::State& state) {
    auto a = bootFiveTuple();
    auto& m = *a->owner()->tableMgrDynamic();
    rawWrites(
        state, *m.dynamicDnat2Table(),
        [&](uint32_t i) { return m.matchSpec<VyrP4::DynamicDnat2MatchSpec>(6, addrsAt(i), kVrf); },
        [](uint32_t i) {
            return dipPortTranslation<VyrP4::DynamicDnat2Table::Action>(flowAt(i).dst, natAt(i),
                                                                        NextHop{kNextHop, false});
        });
}
BENCHMARK(BM_RawDnat2Writes)->Arg(1)->Arg(10000)->Arg(100000)->Arg(1000000);

void BM_RawPartitionWrites(benchmark::State& state) {
    auto a = bootPartitioned();
    auto& parts = *a->owner()->tableMgrDynamic()->dynamicSnatPartitionedTable();
    rawWrites(
        state, *parts.typedPartition(0)->table(),
        [](uint32_t i) { return DynamicSnatPartitionedTable::matchSpec(6, addrsAt(i)); },
        [](uint32_t i) {
            return sipTranslation<VyrP4::DynamicSnatPartitionCmnTable::Action>(flowAt(i).src,
                                                                               natAt(i));
        });
}
BENCHMARK(BM_RawPartitionWrites)->Arg(1)->Arg(10000)->Arg(100000)->Arg(1000000);

// Bytes held per connection beyond the chip's own entry: a million SNAT connections through the
// manager, less the same million entries written straight into the chip.
void BM_BookkeepingBytesPerConnection(benchmark::State& state) {
    constexpr uint32_t kConnections = 1000000;
    int64_t managed = 0;
    int64_t raw = 0;
    for (auto _ : state) {
        {
            auto a = bootFiveTuple();
            auto& m = *a->owner()->tableMgrDynamic();
            const int64_t before = liveBytes;
            if (!preload(m, kConnections, addSnat)) {
                state.SkipWithError("preload refused");
                return;
            }
            managed = liveBytes - before;
        }
        {
            auto a = bootFiveTuple();
            auto& m = *a->owner()->tableMgrDynamic();
            auto& t = *m.dynamicSnat1Table();
            const int64_t before = liveBytes;
            for (uint32_t i = 0; i < kConnections; ++i) {
                t.entryIs(
                    m.matchSpec<VyrP4::DynamicSnat1MatchSpec>(6, addrsAt(i), kVrf),
                    sipTranslation<VyrP4::DynamicSnat1Table::Action>(flowAt(i).src, natAt(i)));
            }
            raw = liveBytes - before;
        }
    }
    state.counters["chipBytesPerEntry"] = double(raw) / kConnections;
    state.counters["bookkeepingBytesPerConnection"] = double(managed - raw) / kConnections;
}
BENCHMARK(BM_BookkeepingBytesPerConnection)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
