// Aging end to end: the NAT state machine reads which connections the hardware saw used,
// connection tracking removes those idle for their protocol's timeout, and the state machine
// takes them out of the hardware.

#include "host/NatConnTracking.h"
#include "tests/helper/NatTestUtil.h"
#include "tools/scenario/Traffic.h"

namespace {

using namespace HelperTest;
using Ip::Nat::DynamicConnection;
using Ip::Nat::DynamicConnectionKey;

DynamicConnectionKey connKey(Ip::IpAndPort src, Ip::IpAndPort dst, uint8_t proto, bool snat) {
    return {{src, dst, proto},
            0,
            snat ? Ip::Nat::kSourceTranslation : Ip::Nat::kDestinationTranslation};
}

TEST(NatAging, UsedTranslationsStayAndIdleOnesLeaveAfterTheirTimeout) {
    auto s = TestSupport::BootedAgent::scenarioFor("default");
    s.hwCapabilities.dynamicConnectionTableSize = 1024;
    NatAgent a(s);
    auto config = a.natConfig();
    config->udpTimeout.set(30);
    config->tcpTimeout.set(60);
    config->connectionPollInterval.set(5);
    Ip::Nat::ConnTracking tracking(config, a.status(), a.hwStatus(), a.connections(),
                                   a.connectionsHw());
    const auto peer = ipp("198.51.100.7", 53);
    const auto busy = connKey(ipp("10.0.0.1", 1001), peer, 17, true);
    const auto idle = connKey(peer, ipp("192.0.2.2", 2002), 17, false);
    const auto silentTcp = connKey(ipp("10.0.0.3", 1003), ipp("198.51.100.9", 443), 6, true);
    const DynamicConnection busyConn{1, ipp("192.0.2.1", 3001)};
    a.connectionIs(busy, busyConn);
    a.connectionIs(idle, {1, ipp("10.0.0.2", 2002)});
    a.connectionIs(silentTcp, {1, ipp("192.0.2.3", 3003)});
    const Ip::Nat::TwiceNatKey busyTwice{ipp("10.1.0.1", 100), ipp("10.2.0.1", 200), 17, 1, 0};
    const Ip::Nat::TwiceNatKey idleTwice{ipp("10.1.0.2", 100), ipp("10.2.0.2", 200), 17, 1, 0};
    Ip::Nat::TwiceNatTranslation twice;
    twice.srcNew = ipp("172.16.0.1", 1100);
    twice.dstNew = ipp("172.17.0.1", 1200);
    twice.dynamic = true;
    a.status()->twiceNat.set(busyTwice, twice);
    const auto busyTwiceT = twice;
    twice.srcNew = ipp("172.16.0.2", 1100);
    a.status()->twiceNat.set(idleTwice, twice);
    a.run();
    for (const auto& k : {busy, idle, silentTcp}) {
        ASSERT_EQ(a.programmed(k), true) << k.str();
    }
    ASSERT_EQ(a.programmed(busyTwice), true);
    ASSERT_EQ(a.programmed(idleTwice), true);

    auto& loop = a.booted().loop;
    // Packets of the busy ones every half second, as a flow would send them, until `until`.
    const auto runTo = [&](double until, bool traffic) {
        while (loop.nowSeconds() < until) {
            if (traffic) {
                EXPECT_TRUE(Scenario::trafficIs(a.chip(), busy, busyConn));
                EXPECT_TRUE(Scenario::trafficIs(a.chip(), busyTwice, busyTwiceT));
            }
            loop.advance(Tasking::seconds(0.5));
        }
    };
    runTo(29, true);
    EXPECT_EQ(a.programmed(idle), true);
    EXPECT_EQ(a.programmed(idleTwice), true);
    runTo(31.5, true);
    // Idle for the UDP timeout since they were programmed: gone, from the hardware too.
    EXPECT_EQ(a.programmed(idle), std::nullopt);
    EXPECT_FALSE(a.connections()->connection.has(idle));
    EXPECT_EQ(a.programmed(idleTwice), std::nullopt);
    EXPECT_FALSE(a.status()->twiceNat.has(idleTwice));
    EXPECT_EQ(a.programmed(busy), true);
    EXPECT_EQ(a.programmed(busyTwice), true);
    EXPECT_EQ(a.programmed(silentTcp), true);
    runTo(61.5, true);
    // Never used: the TCP connection ages from its creation.
    EXPECT_EQ(a.programmed(silentTcp), std::nullopt);
    EXPECT_EQ(a.programmed(busy), true);
    EXPECT_EQ(a.programmed(busyTwice), true);
    EXPECT_EQ(a.connections()->aged(), 3u);

    // Once the traffic stops, the busy ones leave a timeout after the last poll that saw it.
    const double stopped = loop.nowSeconds();
    runTo(stopped + 25, false);
    EXPECT_EQ(a.programmed(busy), true);
    runTo(stopped + 40, false);
    EXPECT_EQ(a.programmed(busy), std::nullopt);
    EXPECT_EQ(a.programmed(busyTwice), std::nullopt);
    EXPECT_EQ(a.connections()->aged(), 5u);
    EXPECT_TRUE(a.connections()->connection.empty());
    EXPECT_TRUE(a.connectionsHw()->dynamicConnectionHw.empty());
    EXPECT_TRUE(a.connectionsHw()->lastActive.empty());
    EXPECT_TRUE(a.hwStatus()->twiceNat.empty());
    EXPECT_TRUE(a.hwStatus()->twiceNatLastActive.empty());
    EXPECT_EQ(a.leftOver(), "");
}

} // namespace
