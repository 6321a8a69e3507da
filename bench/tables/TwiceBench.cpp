// Twice-NAT translation add then delete through the twice manager, beside the raw chip writes it
// makes, with 10^4 and 10^5 translations already programmed. Translations share their address
// pairs (a hundred of them) and, per pair, their rewrite: their untranslated ports add up alike,
// so the checksum delta is one. The measured one shares its pair's address-only entry and
// fragment rewrite and brings its own rewrite and port entry.

#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/support/AgentFixture.h"

#include <benchmark/benchmark.h>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;

constexpr uint32_t kPairs = 100;
const IpAndPort kSrcNew{IpAddr(1, 1, 1, 1), 5000};
const IpAndPort kDstNew{IpAddr(2, 2, 2, 2), 443};

std::unique_ptr<BootedAgent> bootLarge() {
    auto a = std::make_unique<BootedAgent>(
        BootedAgent::scenarioFor("default", {{"twiceNatAddrOnlyTableSize", "65536"},
                                             {"twiceNatAddrPortTableSize", "262144"},
                                             {"twiceNatRewriteTableSize", "65536"}}));
    a->boot();
    return a;
}

IpAndPort srcOld(uint32_t pair, uint16_t port) {
    return {IpAddr(10, 0, uint8_t(pair), 1), port};
}
IpAndPort dstOld(uint32_t pair, uint16_t port) {
    return {IpAddr(20, 0, uint8_t(pair), 1), port};
}

// Translation i: pair i % 100, ports summing to 61000 so that a pair's rewrites are one.
bool preload(VyrNatTableMgrTwice& m, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t pair = i % kPairs;
        const auto j = uint16_t(i / kPairs);
        if (m.updateTwiceNatTranslation(srcOld(pair, uint16_t(1000 + j)), kSrcNew,
                                        dstOld(pair, uint16_t(60000 - j)), kDstNew, 6, 7, false, 1,
                                        1, false, false) != NatHwResult::success) {
            return false;
        }
    }
    return true;
}

// The measured translation: ports no preloaded one has, and a sum of its own.
const IpAndPort kMeasuredSrc = srcOld(0, 4000);
const IpAndPort kMeasuredDst = dstOld(0, 4000);

void BM_TwiceAddDelete(benchmark::State& state) {
    auto a = bootLarge();
    auto& m = *a->owner()->tableMgrTwice();
    if (!preload(m, uint32_t(state.range(0)))) {
        state.SkipWithError("preload refused");
        return;
    }
    for (auto _ : state) {
        if (m.updateTwiceNatTranslation(kMeasuredSrc, kSrcNew, kMeasuredDst, kDstNew, 6, 7, false,
                                        1, 1, false, false) != NatHwResult::success) {
            state.SkipWithError("refused");
            break;
        }
        m.deleteTwiceNatTranslation(kMeasuredSrc, kSrcNew, kMeasuredDst, kDstNew, 1, 1);
    }
}
BENCHMARK(BM_TwiceAddDelete)->Arg(10000)->Arg(100000);

// What the manager writes for the measured translation: its rewrite and its port entry, each
// installed and removed, beside the same preloaded translations.
void BM_RawTwiceWrites(benchmark::State& state) {
    auto a = bootLarge();
    auto& m = *a->owner()->tableMgrTwice();
    if (!preload(m, uint32_t(state.range(0)))) {
        state.SkipWithError("preload refused");
        return;
    }
    const uint16_t keyId = m.addrOnlyEntry().at({1, kMeasuredSrc.ip, kMeasuredDst.ip}).keyId;
    const AddrPortKey portKey{keyId, kMeasuredSrc.port, kMeasuredDst.port};
    const auto portMs =
        VyrNatTableMgrTwice::portMatchSpec<VyrP4::TwiceNatAddrPortMatchSpec>(portKey);
    VyrP4::TwiceNatRewriteMatchSpec rewriteMs;
    rewriteMs.twiceMdRewriteIdIs(60000);
    const RewriteInfo info = rewriteInfo(kMeasuredSrc, kMeasuredDst, kSrcNew, kDstNew);
    for (auto _ : state) {
        m.rewriteTable()->entryIs(
            rewriteMs, VyrNatTableMgrTwice::rewriteActionSpec(info, kRewriteSport | kRewriteDport));
        m.addrPortTable()->entryIs(
            portMs, VyrNatTableMgrTwice::portActionSpec<VyrP4::TwiceNatAddrPortTable::Action>(
                        {ProtocolType::protocolTcp, 7, false, 60000}, false));
        m.rewriteTable()->entryDel(rewriteMs);
        m.addrPortTable()->entryDel(portMs);
    }
}
BENCHMARK(BM_RawTwiceWrites)->Arg(10000)->Arg(100000);

} // namespace
