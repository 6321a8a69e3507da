// Static translations driven end to end: published in the state database, followed by the
// host's NAT state machine, handed to the NAT helper and programmed into the chip; beside the
// raw chip writes of the same entries. Each iteration adds N translations, then removes them.

#include "common/VyrNatUtils.h"
#include "helper/VyrNatHelper.h"
#include "host/NatStatus.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/support/LargeAgent.h"

#include <benchmark/benchmark.h>

namespace {

using namespace VyrNat;

using TestSupport::bootWithLargeSnatTables;

IpAndPort localAt(uint32_t i) {
    return {IpAddr(0x0A000000u + i), 80};
}
IpAndPort globalAt(uint32_t i) {
    return {IpAddr(0xC0000000u + i), 8080};
}

void BM_StaticThroughStateDatabase(benchmark::State& state) {
    auto a = bootWithLargeSnatTables();
    auto status = Ert::ptrCast<Ip::Nat::Status>(a->sysdb().entity("ip/nat/status"));
    auto intf = Ert::make<Ip::Nat::IntfStatus>("NatProfile1");
    status->intfStatus.set("NatProfile1", intf);
    a->loop.runPending();
    const auto n = uint32_t(state.range(0));
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            Ip::Nat::NatStaticConnection conn;
            conn.global = globalAt(i);
            conn.protocol = 6;
            // Spread over peer prefixes: one ACL entry counts at most 65535 users.
            conn.filterAddrs = {{IpAddr(i % 4 << 24), 0xff000000u}};
            intf->staticConnection.set({localAt(i), "", 0}, conn);
        }
        a->loop.runPending();
        for (uint32_t i = 0; i < n; ++i) {
            intf->staticConnection.erase({localAt(i), "", 0});
        }
        a->loop.runPending();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    if (a->chip->entryCount() != 0) {
        state.SkipWithError("entries left on the chip");
    }
}
BENCHMARK(BM_StaticThroughStateDatabase)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The system's share of the path above: the NAT helper's calls, as the state machine makes them.
void BM_StaticThroughHelper(benchmark::State& state) {
    auto a = bootWithLargeSnatTables();
    auto& helper = *a->agent->natAgentSm()->natHelper();
    const auto n = uint32_t(state.range(0));
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            const Ip::IpAddrWithFullMask filter{IpAddr(i % 4 << 24), 0xff000000u};
            helper.addStaticSrcIpTranslation(localAt(i), globalAt(i), filter, 6, 1,
                                             {localAt(i), "", 0}, false, 0);
        }
        for (uint32_t i = 0; i < n; ++i) {
            Ip::Nat::NatStaticConnection conn;
            conn.global = globalAt(i);
            conn.protocol = 6;
            conn.filterAddrs = {{IpAddr(i % 4 << 24), 0xff000000u}};
            helper.deleteStaticIpTranslations("NatProfile1", conn, 1, {localAt(i), "", 0}, 0);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_StaticThroughHelper)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The same entries written and deleted directly: an address-and-port entry and its fragment
// companion per translation (the ACL entries are written once).
void BM_RawWritesOfTheSameEntries(benchmark::State& state) {
    auto a = bootWithLargeSnatTables();
    auto* mgr = a->owner()->tableMgrStatic();
    auto& ap = *mgr->addrPortSnatTable();
    auto& ao = *mgr->addrOnlySnatTable();
    const auto n = uint32_t(state.range(0));
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            VyrP4::AddrPortSnatMatchSpec apm;
            apm.ingMdNatProfileIdIs(1);
            apm.ingMdSnatAclIdIs(1);
            apm.l4PortHdrSrcPortIs(80);
            apm.outerIpv4HdrSipIs(localAt(i).ip.value);
            VyrP4::SetTranslatedSipPortActionSpec apa;
            apa.checksumDeltaIs(calculateChecksumDeltaAddrPort(localAt(i).ip.value,
                                                               globalAt(i).ip.value, 80, 8080));
            apa.translatedSipIs(globalAt(i).ip.value);
            apa.translatedSportIs(8080);
            ap.entryIs(apm, apa);
            VyrP4::AddrOnlySnatMatchSpec aom;
            aom.ingMdNatProfileIdIs(1);
            aom.ingMdSnatAclIdIs(2);
            aom.outerIpv4HdrSipIs(localAt(i).ip.value);
            VyrP4::SetTranslatedSipActionSpec aoa;
            aoa.checksumDeltaIs(
                calculateChecksumDeltaAddrOnly(localAt(i).ip.value, globalAt(i).ip.value));
            aoa.translatedSipIs(globalAt(i).ip.value);
            ao.entryIs(aom, aoa);
        }
        for (uint32_t i = 0; i < n; ++i) {
            VyrP4::AddrPortSnatMatchSpec apm;
            apm.ingMdNatProfileIdIs(1);
            apm.ingMdSnatAclIdIs(1);
            apm.l4PortHdrSrcPortIs(80);
            apm.outerIpv4HdrSipIs(localAt(i).ip.value);
            ap.entryDel(apm);
            VyrP4::AddrOnlySnatMatchSpec aom;
            aom.ingMdNatProfileIdIs(1);
            aom.ingMdSnatAclIdIs(2);
            aom.outerIpv4HdrSipIs(localAt(i).ip.value);
            ao.entryDel(aom);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_RawWritesOfTheSameEntries)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
