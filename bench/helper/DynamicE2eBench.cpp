// Dynamic source translations driven end to end: published in the shared-memory connection
// status, followed by the host's NAT state machine, handed to the NAT helper and programmed into
// the chip with their fragment entries; beside the helper's calls alone and the raw chip writes
// of the same entries. Each iteration adds N connections, then removes them.

#include "common/TranslationActions.h"
#include "helper/VyrNatHelper.h"
#include "host/NatConnections.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/support/AgentFixture.h"

#include <benchmark/benchmark.h>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;

constexpr uint16_t kProfile = 1;
constexpr uint32_t kPeers = 16;

// Room for every connection in SNAT1 and for every fragment entry; DNAT1 lends none.
std::unique_ptr<BootedAgent> boot() {
    auto s = BootedAgent::scenarioFor("default", {{"snat1TableSize", "1048576"},
                                                  {"snat2TableSize", "0"},
                                                  {"dnat1TableSize", "1"},
                                                  {"snatAddrOnlyTableSize", "1048576"}});
    s.hwCapabilities.dynamicConnectionTableSize = 1u << 20;
    auto a = std::make_unique<BootedAgent>(s);
    a->boot();
    return a;
}

// Connection i: inside host 10.x.y.z:1024 to one of 16 peers, translated to a pool port.
ConnTuple flowAt(uint32_t i) {
    return {{IpAddr(0x0A000000u + i), 1024}, {IpAddr(0xC6336400u + i % kPeers), 443}, 6};
}
IpAndPort natAt(uint32_t i) {
    return {IpAddr(0xC0000200u + i % 256), uint16_t(1024 + i / 256)};
}

void BM_DynamicThroughStateDatabase(benchmark::State& state) {
    auto a = boot();
    auto conns = Ert::ptrCast<Ip::Nat::DynamicConnectionStatus>(
        a->runner.environment().mirra->store().entity("ip/nat/status/dynamicConnection"));
    if (!conns) {
        state.SkipWithError("no connection status mounted");
        return;
    }
    const auto n = uint32_t(state.range(0));
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            conns->connection.set({flowAt(i), 0, Ip::Nat::kSourceTranslation},
                                  {kProfile, natAt(i), false, 0});
        }
        a->loop.runPending();
        for (uint32_t i = 0; i < n; ++i) {
            conns->connection.erase({flowAt(i), 0, Ip::Nat::kSourceTranslation});
        }
        a->loop.runPending();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    if (a->owner()->tableMgrDynamic()->dynamicSnatTable().size() != 0) {
        state.SkipWithError("connections left");
    }
}
BENCHMARK(BM_DynamicThroughStateDatabase)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The system's share of the path above: the NAT helper's calls, as the state machine makes them.
void BM_DynamicThroughHelper(benchmark::State& state) {
    auto a = boot();
    auto& helper = *a->agent->natAgentSm()->natHelper();
    const auto n = uint32_t(state.range(0));
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            const ConnTuple f = flowAt(i);
            if (!helper.addDynamicSrcIpTranslation(f, f.src, f.dst, natAt(i), kProfile, false, 0)) {
                state.SkipWithError("refused");
                return;
            }
        }
        for (uint32_t i = 0; i < n; ++i) {
            const ConnTuple f = flowAt(i);
            helper.deleteDynamicSrcIpTranslation(f, f.src, f.dst, natAt(i), kProfile, false, 0);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_DynamicThroughHelper)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The same entries written and deleted directly: the connection's SNAT1 entry and its fragment
// entry (the fragment ACL entries, one per peer, are written once).
void BM_DynamicRawWrites(benchmark::State& state) {
    auto a = boot();
    auto& dyn = *a->owner()->tableMgrDynamic();
    auto& snat1 = *dyn.dynamicSnat1Table();
    auto& frag = *a->owner()->tableMgrStatic()->addrOnlySnatTable();
    const auto n = uint32_t(state.range(0));
    const auto fragmentMatch = [](uint32_t i) {
        VyrP4::AddrOnlySnatMatchSpec m;
        m.ingMdNatProfileIdIs(kProfile);
        m.ingMdSnatAclIdIs(uint16_t(1 + i % kPeers));
        m.outerIpv4HdrSipIs(flowAt(i).src.ip.value);
        return m;
    };
    const auto snat1Match = [&](uint32_t i) {
        const ConnTuple f = flowAt(i);
        return dyn.matchSpec<VyrP4::DynamicSnat1MatchSpec>(6, MatchAddrs::of(f.src, f.dst), 0);
    };
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            const ConnTuple f = flowAt(i);
            snat1.entryAdd(snat1Match(i),
                           sipTranslation<VyrP4::DynamicSnat1Table::Action>(f.src, natAt(i)));
            frag.entryAdd(fragmentMatch(i), addrTranslation<VyrP4::SetTranslatedSipActionSpec>(
                                                f.src.ip, natAt(i).ip));
        }
        for (uint32_t i = 0; i < n; ++i) {
            snat1.entryDel(snat1Match(i));
            frag.entryDel(fragmentMatch(i));
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_DynamicRawWrites)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

namespace {

// The helper's two halves apart: the dynamic manager's entries, and the static manager's
// fragment entries.
void BM_DynamicManagerPart(benchmark::State& state) {
    auto a = boot();
    auto& dyn = *a->owner()->tableMgrDynamic();
    const auto n = uint32_t(state.range(0));
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            const ConnTuple f = flowAt(i);
            dyn.createDynamicSnat(f, f.src, f.dst, natAt(i), kProfile, false, 0);
        }
        for (uint32_t i = 0; i < n; ++i) {
            const ConnTuple f = flowAt(i);
            dyn.deleteDynamicSnat(kProfile, f, f.src, false, 0);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_DynamicManagerPart)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FragmentPart(benchmark::State& state) {
    auto a = boot();
    auto& st = *a->owner()->tableMgrStatic();
    const auto n = uint32_t(state.range(0));
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            const ConnTuple f = flowAt(i);
            st.updateStaticSnat(kProfile, {{f.dst.ip, 0xFFFFFFFF}, 6, true}, {f.src.ip, 0},
                                natAt(i), true, false);
        }
        for (uint32_t i = 0; i < n; ++i) {
            const ConnTuple f = flowAt(i);
            st.deleteStaticSnatFragment(kProfile, {{f.dst.ip, 0xFFFFFFFF}, 6, true}, f.src.ip,
                                        natAt(i).ip);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_FragmentPart)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
