// The raw cost of table writes and lookups on the emulated chip: the baseline that the agent's
// own benchmarks are compared against. Memory per entry counts every heap byte a table holds
// (slots, hash nodes, buckets, mask groups), as malloc reports it.

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <random>

#include "chip/Chip.h"
#include "chip/P4Tables.h"

namespace {

std::atomic<std::int64_t> liveBytes{0};

} // namespace

void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) {
        throw std::bad_alloc();
    }
    liveBytes += std::int64_t(malloc_usable_size(p));
    return p;
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    if (p) {
        liveBytes -= std::int64_t(malloc_usable_size(p));
        std::free(p);
    }
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace VyrP4 {
namespace {

constexpr std::uint32_t kCapacity = 1u << 21;

std::shared_ptr<Chip> benchChip() {
    ProfileCapabilities p;
    p.snat2TableSizeIs(kCapacity);
    p.natCpuTrapAclTableSizeIs(kCapacity);
    return chipFactory(p);
}

// A dynamic connection: exact match on the 5-tuple and VRF.
DynamicSnat2MatchSpec connection(std::uint32_t i) {
    DynamicSnat2MatchSpec m;
    m.outerIpv4HdrProtocolIs(i & 1 ? 6 : 17);
    m.outerIpv4HdrSipIs(0x0a000000 + (i >> 4));
    m.l4PortHdrSrcPortIs(1024 + (i & 0xf));
    m.outerIpv4HdrDipIs(0xc6336400 + (i % 251));
    m.l4PortHdrDstPortIs(443);
    m.l3InfoVrfIdIs(1);
    return m;
}

SetTranslatedSipPortActionSpec translation(std::uint32_t i) {
    SetTranslatedSipPortActionSpec a;
    a.checksumDeltaIs(i);
    a.translatedSipIs(0xc0000200);
    a.translatedSportIs(i & 0xffff);
    return a;
}

struct ExactFixture {
    std::shared_ptr<Chip> chip = benchChip();
    std::shared_ptr<DynamicSnat2Table> table;
    double bytesPerEntry = 0;
};

ExactFixture& exactFixture(std::uint32_t n) {
    static std::map<std::uint32_t, ExactFixture> fixtures;
    auto [it, added] = fixtures.try_emplace(n);
    if (added) {
        ExactFixture& f = it->second;
        f.table = dynamicSnat2TableFactory(nullptr, nullptr, f.chip->handle(), 0, 0, 0, "bench");
        const std::int64_t before = liveBytes;
        for (std::uint32_t i = 0; i < n; ++i) {
            f.table->entryIs(connection(i), translation(i));
        }
        f.bytesPerEntry = double(liveBytes - before) / n;
    }
    return it->second;
}

// One install of a new entry and its delete, in a table holding N entries.
void BM_ExactInstallDelete(benchmark::State& state) {
    const std::uint32_t n = std::uint32_t(state.range(0));
    ExactFixture& f = exactFixture(n);
    const std::uint32_t spare = 1u << 20;
    std::uint32_t i = 0;
    for (auto _ : state) {
        const DynamicSnat2MatchSpec m = connection(spare + (i++ & 0xffff));
        f.table->entryIs(m, translation(i));
        f.table->entryDel(m);
    }
    state.counters["bytesPerEntry"] = f.bytesPerEntry;
    state.counters["entries"] = double(f.table->entryCount());
}
BENCHMARK(BM_ExactInstallDelete)->Arg(1)->Arg(10000)->Arg(1000000);

// A replace of an entry that is there: one lookup and the action written.
void BM_ExactReplace(benchmark::State& state) {
    const std::uint32_t n = std::uint32_t(state.range(0));
    ExactFixture& f = exactFixture(n);
    std::uint32_t i = 0;
    for (auto _ : state) {
        const std::uint32_t k = (i++ * 2654435761u) % n;
        f.table->entryIs(connection(k), translation(i));
    }
    state.counters["bytesPerEntry"] = f.bytesPerEntry;
}
BENCHMARK(BM_ExactReplace)->Arg(1)->Arg(10000)->Arg(1000000);

// Trap rules: prefixes of four lengths on both addresses and ports exact or any, so that the
// table holds a bounded number of distinct masks, as real ACLs do.
NatCpuTrapAclMatchSpec rule(std::mt19937& rng) {
    static constexpr std::uint32_t kPrefix[] = {0xff000000, 0xffff0000, 0xffffff00, 0xffffffff};
    NatCpuTrapAclMatchSpec m;
    m.ingMdIngNatProfileIdIs(rng() % 64, 0xfff);
    m.outerIpv4HdrSipIs(std::uint32_t(rng()), kPrefix[rng() % 4]);
    m.outerIpv4HdrDipIs(std::uint32_t(rng()), kPrefix[rng() % 4]);
    const bool port = rng() % 2;
    m.l4PortHdrDstPortIs(port ? rng() % 65536 : 0, port ? 0xffff : 0);
    m.outerIpv4HdrProtocolIs(6, 0xff);
    m.priorityIs(std::int32_t(rng() % 16384));
    return m;
}

struct TernaryFixture {
    std::shared_ptr<Chip> chip = benchChip();
    std::shared_ptr<NatCpuTrapAclTable> table;
    std::vector<NatCpuTrapAclMatchSpec> packets;
    double bytesPerEntry = 0;
};

TernaryFixture& ternaryFixture(std::uint32_t n) {
    static std::map<std::uint32_t, TernaryFixture> fixtures;
    auto [it, added] = fixtures.try_emplace(n);
    if (added) {
        TernaryFixture& f = it->second;
        f.table = natCpuTrapAclTableFactory(nullptr, nullptr, f.chip->handle(), 0, 0, 0, "bench");
        std::mt19937 rng(n);
        const std::int64_t before = liveBytes;
        std::vector<NatCpuTrapAclMatchSpec> rules;
        for (std::uint32_t i = 0; i < n; ++i) {
            rules.push_back(rule(rng));
            f.table->entryIs(rules.back(), SetNatCpuTrapActionSpec{});
        }
        f.bytesPerEntry = double(liveBytes - before) / n;
        // Half the packets fall under some rule, half are random.
        for (std::uint32_t i = 0; i < 4096; ++i) {
            NatCpuTrapAclMatchSpec p;
            const NatCpuTrapAclMatchSpec& r = rules[rng() % rules.size()];
            const bool hit = i % 2;
            p.ingMdIngNatProfileIdIs(hit ? r.ingMdIngNatProfileId() : rng() % 64, 0);
            p.outerIpv4HdrSipIs(hit ? r.outerIpv4HdrSip() : std::uint32_t(rng()), 0);
            p.outerIpv4HdrDipIs(hit ? r.outerIpv4HdrDip() : std::uint32_t(rng()), 0);
            p.l4PortHdrDstPortIs(hit ? r.l4PortHdrDstPort() : rng() % 65536, 0);
            p.outerIpv4HdrProtocolIs(6, 0);
            f.packets.push_back(p);
        }
    }
    return it->second;
}

void BM_TernaryLookup(benchmark::State& state) {
    TernaryFixture& f = ternaryFixture(std::uint32_t(state.range(0)));
    std::size_t i = 0;
    std::size_t hits = 0;
    for (auto _ : state) {
        auto e = f.table->lookup(f.packets[i++ & 4095]);
        hits += e.has_value();
        benchmark::DoNotOptimize(e);
    }
    state.counters["bytesPerEntry"] = f.bytesPerEntry;
    state.counters["hitRatio"] = double(hits) / double(state.iterations());
}
BENCHMARK(BM_TernaryLookup)->Arg(1)->Arg(10000)->Arg(1000000);

} // namespace
} // namespace VyrP4
