// The cost of an egress address-and-port SNAT through the egress static manager (add, then
// delete), against the raw chip writes it makes: the address-and-port entry and its fragment
// companion, each written and deleted. Both run over a table already holding kBackground
// translations.

#include <benchmark/benchmark.h>

#include "common/VyrNatUtils.h"
#include "tables/egress/VyrNatTableMgrEgressStatic.h"
#include "tests/support/AgentFixture.h"

namespace {

using Ip::IpAddr;
using Ip::IpAndPort;

constexpr uint32_t kBackground = 1000;
constexpr uint16_t kProfile = 1;
constexpr uint8_t kProto = 6;

IpAndPort oldSrc(uint32_t i) {
    return {IpAddr(0x0a000000u + (i & 0xffff)), uint16_t(1000 + (i >> 16))};
}
IpAndPort newSrc(uint32_t i) {
    return {IpAddr(0xc6336400u + (i & 0xff)), uint16_t(2000 + (i & 0x7ff))};
}

struct Booted {
    Booted() : agent(TestSupport::BootedAgent::scenarioFor("egressNat")) {
        agent.boot();
        mgr = agent.owner()->tableMgrEgressStatic();
        for (uint32_t i = 0; i < kBackground; ++i) {
            mgr->updateStaticSnat(kProfile, oldSrc(i), newSrc(i), kProto, false);
        }
    }
    TestSupport::BootedAgent agent;
    VyrNat::VyrNatTableMgrEgressStatic* mgr;
};

void BM_ManagerAddrPortSnatAddDelete(benchmark::State& state) {
    Booted b;
    uint32_t i = kBackground;
    for (auto _ : state) {
        const IpAndPort o = oldSrc(i);
        benchmark::DoNotOptimize(b.mgr->updateStaticSnat(kProfile, o, newSrc(i), kProto, false));
        b.mgr->deleteStaticSnat(kProfile, o, kProto);
        i = i + 1 < 60000 ? i + 1 : kBackground;
    }
}
BENCHMARK(BM_ManagerAddrPortSnatAddDelete);

void BM_RawChipAddrPortSnatAddDelete(benchmark::State& state) {
    Booted b;
    auto& portTable = *b.mgr->egrAddrPortSnatTable();
    auto& addrTable = *b.mgr->egrAddrSnatTable();
    uint32_t i = kBackground;
    for (auto _ : state) {
        const IpAndPort o = oldSrc(i);
        const IpAndPort n = newSrc(i);
        VyrP4::EgrAddrPortSnatMatchSpec pm;
        pm.egrMdNatProfileIdIs(kProfile);
        pm.l4PortHdrSrcPortIs(o.port);
        pm.outerIpv4HdrProtocolIs(kProto);
        pm.outerIpv4HdrSipIs(o.ip.value);
        VyrP4::EgrNatSipPortActionSpec pa;
        pa.checksumDeltaIs(
            VyrNat::calculateChecksumDeltaAddrPort(o.ip.value, n.ip.value, o.port, n.port));
        pa.translatedSipIs(n.ip.value);
        pa.translatedSportIs(n.port);
        VyrP4::EgrAddrSnatMatchSpec am;
        am.egrMdNatProfileIdIs(kProfile);
        am.egrMdIpv4FragmentIs(1);
        am.outerIpv4HdrSipIs(o.ip.value);
        VyrP4::EgrNatSipActionSpec aa;
        aa.checksumDeltaIs(VyrNat::calculateChecksumDeltaAddrOnly(o.ip.value, n.ip.value));
        aa.translatedSipIs(n.ip.value);
        portTable.entryIs(pm, pa);
        addrTable.entryIs(am, aa);
        portTable.entryDel(pm);
        addrTable.entryDel(am);
        i = i + 1 < 60000 ? i + 1 : kBackground;
    }
}
BENCHMARK(BM_RawChipAddrPortSnatAddDelete);

} // namespace
