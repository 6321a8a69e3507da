// Connection activity as the host reads it: hit bits set in the chip, scanned by the host's
// hit-bit service on the polling period, read through the NAT helper.

#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/helper/NatTestUtil.h"
#include "tests/support/TraceCapture.h"

namespace {

using namespace HelperTest;
using Ip::Nat::NatHwResult;

// One hit-bit polling period: the scans it asks for are done when it returns.
void scanOnce(NatAgent& a) {
    a.booted().loop.advance(Tasking::seconds(1));
}

template <class Table> void hit(Table& table, const typename Table::MatchSpec& ms, uint32_t pipe) {
    const auto h = table.entryHandle(ms);
    ASSERT_TRUE(h.valid());
    ASSERT_EQ(table.hitBitIs(h, true, pipe), VyrP4::ChipError::ok);
}

TEST(NatHitBits, AConnectionHitSinceTheLastScanReadsActiveOnceOnAnyPipe) {
    NatAgent a(TestSupport::BootedAgent::scenarioFor("default", {{"pipes", "2"}}));
    auto& h = a.helper();
    auto& dyn = *a.owner().tableMgrDynamic();
    const Ip::ConnTuple out{ipp("10.0.0.5", 1024), ipp("198.51.100.7", 443), 6};
    const Ip::ConnTuple in{ipp("198.51.100.9", 5000), ipp("192.0.2.80", 80), 6};
    ASSERT_TRUE(
        h.addDynamicSrcIpTranslation(out, out.src, out.dst, ipp("192.0.2.1", 3000), 1, false, 0));
    const VyrNat::NatNextHopInfo nh(7);
    ASSERT_TRUE(
        h.addDynamicDstIpTranslation(in, in.src, in.dst, ipp("10.0.0.80", 8080), &nh, 1, false, 0));
    const auto src = [&] { return h.getDynamicSrcCountersSinceLastPoll(1, out, false, 0); };
    const auto dst = [&] { return h.getDynamicDstCountersSinceLastPoll(1, in, false, in.dst, 0); };

    // Hit on the second pipe only, and not scanned yet: idle.
    hit(*dyn.dynamicSnat1Table(), *dyn.snat1({out, 0}), 1);
    EXPECT_EQ(src(), 0u);
    scanOnce(a);
    EXPECT_EQ(src(), 1u);
    EXPECT_EQ(dst(), 0u) << "the other connection saw no packet";
    // The scan cleared the chip's bit: the next scan finds the connection idle.
    scanOnce(a);
    EXPECT_EQ(src(), 0u);

    hit(*dyn.dynamicDnat1Table(), *dyn.dnat1Dnat({in, 0}), 0);
    scanOnce(a);
    EXPECT_EQ(dst(), 1u);
    EXPECT_EQ(src(), 0u);

    // A full-cone destination translation: every peer shares the full-cone entry and its bit.
    const Ip::ConnTuple cone{ipp("198.51.100.3", 6000), ipp("192.0.2.81", 5000), 17};
    ASSERT_TRUE(h.addDynamicDstIpTranslation(cone, cone.src, cone.dst, ipp("10.0.0.81", 5000), &nh,
                                             1, true, 0));
    const auto& fc = *dyn.dynamicFullConeDnatHelper();
    ASSERT_EQ(fc.dynamicFullConeDnat().size(), 1u);
    hit(*fc.dynamicFullConeDnatTable(), fc.dynamicFullConeDnat().begin()->second.matchSpec, 1);
    scanOnce(a);
    const Ip::ConnTuple otherPeer{ipp("198.51.100.4", 6001), cone.dst, 17};
    EXPECT_EQ(h.getDynamicDstCountersSinceLastPoll(1, otherPeer, true, cone.dst, 0), 1u);
    EXPECT_EQ(dst(), 0u);

    // A connection that is not programmed reads idle, and so does one deleted since its hit.
    const Ip::ConnTuple never{ipp("10.0.0.6", 1024), ipp("198.51.100.7", 443), 6};
    EXPECT_EQ(h.getDynamicSrcCountersSinceLastPoll(1, never, false, 0), 0u);
    hit(*dyn.dynamicSnat1Table(), *dyn.snat1({out, 0}), 0);
    scanOnce(a);
    h.deleteDynamicSrcIpTranslation(out, out.src, out.dst, ipp("192.0.2.1", 3000), 1, false, 0);
    EXPECT_EQ(src(), 0u);
}

TEST(NatHitBits, TwiceTranslationsSharingARewriteEntryShareItsBit) {
    NatAgent a("default");
    auto& h = a.helper();
    auto& twice = *a.owner().tableMgrTwice();
    // Two translations that rewrite alike: the same new addresses and the same delta.
    const auto add = [&](const char* srcOld, const char* dstOld) {
        return h.addTwiceNatTranslation(ipp(srcOld), ipp("192.0.2.1"), ipp(dstOld), ipp("10.9.0.1"),
                                        6, 1, nullptr, nullptr, true, 0, true, 0, true);
    };
    ASSERT_EQ(add("10.0.0.1", "198.51.100.2"), NatHwResult::success);
    ASSERT_EQ(add("10.0.0.2", "198.51.100.1"), NatHwResult::success);
    ASSERT_EQ(twice.rewriteEntry().records().size(), 1u);
    const auto active = [&](const char* srcOld, const char* dstOld) {
        return h.dynamicTwiceActive(1, 6, ipp(srcOld), ipp("192.0.2.1"), ipp(dstOld),
                                    ipp("10.9.0.1"));
    };
    auto& rewrite = *twice.rewriteTable();
    hit(rewrite, twice.rewriteEntry().records().begin()->second.matchSpec, 0);
    scanOnce(a);
    EXPECT_TRUE(active("10.0.0.1", "198.51.100.2"));
    EXPECT_TRUE(active("10.0.0.2", "198.51.100.1"));
    EXPECT_FALSE(active("10.0.0.3", "198.51.100.1")) << "no rewrite entry: not hit";
    scanOnce(a);
    EXPECT_FALSE(active("10.0.0.1", "198.51.100.2"));
}

TEST(NatHitBits, ScanRequestsRiseOncePerPeriodAndCompletionsClearOnlyTheirTable) {
    NatAgent a("partitioned");
    auto& dyn = *a.owner().tableMgrDynamic();
    auto& sm = *dyn.vyrNatHitBitSm();
    auto& config = *sm.hitBitConfig();
    ASSERT_EQ(sm.dynSnatPartition().size(), 3u) << "banks 0, 1 and 3";
    const uint32_t snat3 = sm.dynSnatPartition().at(3).tableId;
    const uint32_t dnat0 = sm.dynDnatPartition().at(0).tableId;
    EXPECT_EQ(config.scanRequestNumber(snat3), 0u);

    // Polls without the host answering: the first request is 1, the next raises it by one.
    sm.hasNotificationActiveIs(false); // no timer: the test schedules by hand
    sm.hasNotificationActiveIs(true);
    sm.scheduleHitBitPolling();
    EXPECT_EQ(config.scanRequestNumber(snat3), 1u);
    sm.scheduleHitBitPolling();
    EXPECT_EQ(config.scanRequestNumber(snat3), 2u);
    EXPECT_EQ(config.scanRequestNumber(dnat0), 2u);
    for (const auto& [id, w] : sm.dynSnatPartition()) {
        EXPECT_TRUE(w.pollingRunning) << int(id);
    }

    sm.handleHitBitPollingComplete(snat3);
    EXPECT_FALSE(sm.dynSnatPartition().at(3).pollingRunning);
    EXPECT_TRUE(sm.dynSnatPartition().at(0).pollingRunning);
    EXPECT_TRUE(sm.dynSnatPartition().at(1).pollingRunning);
    EXPECT_TRUE(sm.dynDnatPartition().at(0).pollingRunning);
    sm.handleHitBitPollingComplete(0xABCDE); // no such table: nothing changes
    EXPECT_TRUE(sm.dynSnatPartition().at(0).pollingRunning);

    // The host's service answers the latest request of every table it was asked to scan.
    a.run();
    for (const auto& [id, w] : sm.dynDnatPartition()) {
        EXPECT_FALSE(w.pollingRunning) << int(id);
    }
}

TEST(NatHitBits, TheTwiceMachineWatchesOneTableAndSaysWhenAPollIsStillRunning) {
    NatAgent a("default");
    auto& sm = *a.owner().tableMgrTwice()->hitBitSm();
    const uint32_t id = sm.twiceNatRewriteTableId();
    ASSERT_NE(id, 0u);
    TestSupport::TraceCapture trace("VyrTwiceNatHitBitSm/7");
    sm.scheduleHitBitPolling();
    sm.scheduleHitBitPolling();
    EXPECT_EQ(sm.hitBitConfig()->scanRequestNumber(id), 2u);
    EXPECT_EQ(trace.lines("Hit bit polling still in progress?").size(), 1u);
    sm.handleHitBitPollingComplete(id + 1);
    EXPECT_TRUE(sm.twiceNatRewritePollingRunning());
    sm.handleHitBitPollingComplete(id);
    EXPECT_FALSE(sm.twiceNatRewritePollingRunning());
}

} // namespace
