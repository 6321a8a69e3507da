// NAT flow add then delete through the flow manager, beside the raw chip writes of the same
// entries: the widest port ranges on both sides (1..65534, 30 blocks each, 900 entries) and a
// typical flow (any source port to a destination range of 100 ports). Items are chip entries, so
// items per second gives the time per entry.

#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tests/support/AgentFixture.h"

#include <benchmark/benchmark.h>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;

struct Ports {
    const char* name;
    uint16_t sp0, sp1, dp0, dp1;
};
constexpr Ports kPorts[] = {{"widest", 1, 65534, 1, 65534}, {"typical", 0, 0, 8000, 8099}};

const Ip::Prefix kSrc{Ip::IpAddr(10, 0, 0, 0), 8};
const Ip::Prefix kDst{Ip::IpAddr(198, 51, 100, 0), 24};
const HwNatFlowKey kKey{1, "POLICY-WEB-TRAFFIC", "MATCH-HTTP-PORTS"};

std::unique_ptr<BootedAgent> boot() {
    auto a = std::make_unique<BootedAgent>(
        BootedAgent::scenarioFor("default", {{"natFlowTableSize", "4096"}}));
    a->boot();
    return a;
}

std::size_t entriesOf(const Ports& p) {
    return portRangeToMasks(p.sp0, p.sp1).size() * portRangeToMasks(p.dp0, p.dp1).size();
}

void BM_FlowAddDelete(benchmark::State& state) {
    const Ports& p = kPorts[state.range(0)];
    auto a = boot();
    auto& m = *a->owner()->tableMgrNatFlow();
    for (auto _ : state) {
        if (!m.createNatFlowTable(kKey, 7, kSrc, kDst, p.sp0, p.sp1, p.dp0, p.dp1, 6, 100, 1, 0,
                                  1)) {
            state.SkipWithError("refused");
            break;
        }
        m.deleteNatFlowTable(kKey);
    }
    state.SetLabel(p.name);
    state.SetItemsProcessed(int64_t(state.iterations() * entriesOf(p)));
    state.counters["entriesPerFlow"] = double(entriesOf(p));
}
BENCHMARK(BM_FlowAddDelete)->Arg(0)->Arg(1);

// The same entries installed and deleted straight in the chip, their specs built beforehand.
void BM_RawFlowWrites(benchmark::State& state) {
    const Ports& p = kPorts[state.range(0)];
    auto a = boot();
    auto& table = *a->owner()->tableMgrNatFlow()->natFlowTable();
    std::vector<VyrP4::NatFlowMatchSpec> specs;
    HwNatFlowMatchSpecKey k{1, 0, 1, kKey.profile, kSrc, kDst, 0, 0, 0, 0, 6};
    for (const PortMask& s : portRangeToMasks(p.sp0, p.sp1)) {
        for (const PortMask& d : portRangeToMasks(p.dp0, p.dp1)) {
            k.srcPort = s.port;
            k.srcPortMask = s.mask;
            k.dstPort = d.port;
            k.dstPortMask = d.mask;
            specs.push_back(VyrNatTableMgrNatFlow::natFlowMatchSpec(k, 101));
        }
    }
    VyrP4::SetNatFlowResultActionSpec result;
    result.natFlowResultIs(7);
    const VyrP4::NatFlowTable::Action action = result;
    for (auto _ : state) {
        for (const auto& ms : specs) {
            table.entryIs(ms, action);
        }
        for (const auto& ms : specs) {
            table.entryDel(ms);
        }
    }
    state.SetLabel(p.name);
    state.SetItemsProcessed(int64_t(state.iterations() * specs.size()));
}
BENCHMARK(BM_RawFlowWrites)->Arg(0)->Arg(1);

} // namespace
