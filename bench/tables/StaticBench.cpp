// Static translation add and delete through the static manager, beside the raw chip writes of
// the same entries, with 1, 10^4 and 10^5 translations already programmed.

#include "common/VyrNatUtils.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/support/LargeAgent.h"

#include <benchmark/benchmark.h>

namespace {

using namespace VyrNat;

using TestSupport::bootWithLargeSnatTables;

// Translations spread over four peer prefixes: one ACL entry counts at most 65535 users. The
// measured one shares the first prefix, so its ACL entries exist, as in the raw writes.
HwStaticNatAclKey keyAt(uint32_t i) {
    return {{IpAddr(i % 4 << 24), 0xff000000u}, 0, false};
}

IpAndPort oldAt(uint32_t i, uint16_t port) {
    return {IpAddr(0x0A000000u + i), port};
}
IpAndPort newAt(uint32_t i, uint16_t port) {
    return {IpAddr(0xC0000200u + i), port};
}

// Translation add then delete through the manager.
void BM_StaticSnatAddrPortAddDelete(benchmark::State& state) {
    auto a = bootWithLargeSnatTables();
    auto* mgr = a->owner()->tableMgrStatic();
    const auto n = uint32_t(state.range(0));
    for (uint32_t i = 0; i < n; ++i) {
        mgr->updateStaticSnat(1, keyAt(i), oldAt(i, 80), newAt(i, 8080), false, false);
    }
    for (auto _ : state) {
        if (!mgr->updateStaticSnat(1, keyAt(0), oldAt(n, 80), newAt(n, 8080), false, false)) {
            state.SkipWithError("the translation was refused");
            break;
        }
        mgr->deleteStaticSnatEntry(1, keyAt(0), oldAt(n, 80), newAt(n, 8080));
    }
}
BENCHMARK(BM_StaticSnatAddrPortAddDelete)->Arg(1)->Arg(10000)->Arg(100000);

void BM_StaticSnatAddrOnlyAddDelete(benchmark::State& state) {
    auto a = bootWithLargeSnatTables();
    auto* mgr = a->owner()->tableMgrStatic();
    const auto n = uint32_t(state.range(0));
    for (uint32_t i = 0; i < n; ++i) {
        mgr->updateStaticSnat(1, keyAt(i), oldAt(i, 0), newAt(i, 0), false, false);
    }
    for (auto _ : state) {
        if (!mgr->updateStaticSnat(1, keyAt(0), oldAt(n, 0), newAt(n, 0), false, false)) {
            state.SkipWithError("the translation was refused");
            break;
        }
        mgr->deleteStaticSnatEntry(1, keyAt(0), oldAt(n, 0), newAt(n, 0));
    }
}
BENCHMARK(BM_StaticSnatAddrOnlyAddDelete)->Arg(1)->Arg(10000)->Arg(100000);

// The raw writes the manager makes for one address-and-port translation: its entry and its
// fragment companion, installed and deleted (the ACL entries exist already).
void BM_RawAddrPortAndFragmentWrites(benchmark::State& state) {
    auto a = bootWithLargeSnatTables();
    auto* mgr = a->owner()->tableMgrStatic();
    const auto n = uint32_t(state.range(0));
    for (uint32_t i = 0; i < n; ++i) {
        mgr->updateStaticSnat(1, keyAt(i), oldAt(i, 80), newAt(i, 8080), false, false);
    }
    auto& ap = *mgr->addrPortSnatTable();
    auto& ao = *mgr->addrOnlySnatTable();
    VyrP4::AddrPortSnatMatchSpec apm;
    apm.ingMdNatProfileIdIs(1);
    apm.ingMdSnatAclIdIs(1);
    apm.l4PortHdrSrcPortIs(80);
    apm.outerIpv4HdrSipIs(oldAt(n, 80).ip.value);
    VyrP4::AddrOnlySnatMatchSpec aom;
    aom.ingMdNatProfileIdIs(1);
    aom.ingMdSnatAclIdIs(2);
    aom.outerIpv4HdrSipIs(oldAt(n, 0).ip.value);
    for (auto _ : state) {
        VyrP4::SetTranslatedSipPortActionSpec apa;
        apa.checksumDeltaIs(
            calculateChecksumDeltaAddrPort(oldAt(n, 0).ip.value, newAt(n, 0).ip.value, 80, 8080));
        apa.translatedSipIs(newAt(n, 0).ip.value);
        apa.translatedSportIs(8080);
        ap.entryIs(apm, apa);
        VyrP4::SetTranslatedSipActionSpec aoa;
        aoa.checksumDeltaIs(
            calculateChecksumDeltaAddrOnly(oldAt(n, 0).ip.value, newAt(n, 0).ip.value));
        aoa.translatedSipIs(newAt(n, 0).ip.value);
        ao.entryIs(aom, aoa);
        ap.entryDel(apm);
        ao.entryDel(aom);
    }
}
BENCHMARK(BM_RawAddrPortAndFragmentWrites)->Arg(1)->Arg(10000)->Arg(100000);

// The raw writes of one address-only translation.
void BM_RawAddrOnlyWrites(benchmark::State& state) {
    auto a = bootWithLargeSnatTables();
    auto* mgr = a->owner()->tableMgrStatic();
    const auto n = uint32_t(state.range(0));
    for (uint32_t i = 0; i < n; ++i) {
        mgr->updateStaticSnat(1, keyAt(i), oldAt(i, 0), newAt(i, 0), false, false);
    }
    auto& ao = *mgr->addrOnlySnatTable();
    VyrP4::AddrOnlySnatMatchSpec aom;
    aom.ingMdNatProfileIdIs(1);
    aom.ingMdSnatAclIdIs(1);
    aom.outerIpv4HdrSipIs(oldAt(n, 0).ip.value);
    for (auto _ : state) {
        VyrP4::SetTranslatedSipActionSpec aoa;
        aoa.checksumDeltaIs(
            calculateChecksumDeltaAddrOnly(oldAt(n, 0).ip.value, newAt(n, 0).ip.value));
        aoa.translatedSipIs(newAt(n, 0).ip.value);
        ao.entryIs(aom, aoa);
        ao.entryDel(aom);
    }
}
BENCHMARK(BM_RawAddrOnlyWrites)->Arg(1)->Arg(10000)->Arg(100000);

} // namespace
