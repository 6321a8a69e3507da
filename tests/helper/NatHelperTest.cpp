// The NAT helper called directly, as the host's NAT state machine calls it, on a booted agent:
// which manager and which entries each call reaches, read back from the chip.

#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/helper/NatTestUtil.h"
#include "tests/support/Invariants.h"
#include "tests/support/TraceCapture.h"

#include <cstdio>
#include <unistd.h>

namespace {

using namespace HelperTest;
using VyrNat::NatNextHopInfo;

TEST(NatHelper, NextHopWordGivesIdAndEcmpAndFallsBackToThree) {
    NatAgent a("default");
    auto& h = a.helper();
    bool ecmp = false;
    const NatNextHopInfo group5(0x80000005);
    EXPECT_EQ(h.getNextHopId(&group5, ecmp), 5u);
    EXPECT_TRUE(ecmp);
    const NatNextHopInfo groupless(0x80000000);
    EXPECT_EQ(h.getNextHopId(&groupless, ecmp), 3u);
    EXPECT_FALSE(ecmp) << "a null id is no ECMP group";
    const NatNextHopInfo plain(9);
    EXPECT_EQ(h.getNextHopId(&plain, ecmp), 9u);
    EXPECT_FALSE(ecmp);
    ecmp = true;
    EXPECT_EQ(h.getNextHopId(nullptr, ecmp), 3u);
    EXPECT_FALSE(ecmp);
}

TEST(NatHelper, DeleteWalksTheFilterAddressesInAscendingOrder) {
    NatAgent a("default");
    auto& h = a.helper();
    auto& st = *a.owner().tableMgrStatic();
    const auto key = staticKey(ipp("10.0.0.1", 80));
    const std::vector<Ip::IpAddrWithFullMask> filters = {
        prefix("198.51.100.0/24"), prefix("10.9.0.0/16"), prefix("172.16.0.0/12")};
    for (const auto& f : filters) {
        ASSERT_TRUE(h.addStaticSrcIpTranslation(ipp("10.0.0.1", 80), ipp("192.0.2.1", 8080), f, 6,
                                                2, key, false, 0));
    }
    EXPECT_EQ(st.addrPortSnatTable()->entryCount(), 3u);
    EXPECT_EQ(st.addrOnlySnatTable()->entryCount(), 3u) << "one fragment entry per ACL key";

    TestSupport::TraceCapture trace("VyrNatHelper/0-9");
    // Handed over in another order, the filters are still walked ascending.
    h.deleteStaticIpTranslations("NatProfile2", conn(ipp("192.0.2.1", 8080), true, 6, filters), 2,
                                 key, 0);
    const auto calls = trace.lines("deleteStaticIpTranslations, old src: ");
    ASSERT_EQ(calls.size(), 3u);
    const char* ascending[] = {"10.9.0.0", "172.16.0.0", "198.51.100.0"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NE(calls[i].find(std::string(", dst: ") + ascending[i] + "/"), std::string::npos)
            << calls[i];
    }
    EXPECT_EQ(a.leftOver(), "");
}

TEST(NatHelper, StartingTheStateMachinesTwiceKeepsThemAndWhatTheyProgrammed) {
    NatAgent a("default");
    a.staticIs("NatProfile3", staticKey(ipp("10.0.0.6")), conn(ipp("192.0.2.8"), true));
    a.run();
    ASSERT_EQ(a.programmed("NatProfile3", staticKey(ipp("10.0.0.6"))), true);
    const auto helper = a.sm().natHelper();
    const auto natSm = a.sm().omaNatSm();
    const auto before = Scenario::snapshot(a.chip());

    a.sm().maybeStartStateMachines();
    a.run();
    EXPECT_EQ(a.sm().natHelper(), helper);
    EXPECT_EQ(a.sm().omaNatSm(), natSm);
    EXPECT_EQ(a.owner().tableMgrStatic()->omaNatSmStatus(), natSm->status());
    EXPECT_EQ(Scenario::snapshot(a.chip()), before);
    EXPECT_EQ(a.programmed("NatProfile3", staticKey(ipp("10.0.0.6"))), true);
    EXPECT_TRUE(Log::written().empty()) << "nothing was programmed twice";
}

TEST(NatHelper, SettingsFollowTheSoftwareDataPlaneAndFullConeFlags) {
    for (bool dpdk : {false, true}) {
        for (bool fullCone : {false, true}) {
            SCOPED_TRACE(std::string(dpdk ? "natDpdk" : "hardware data plane") +
                         (fullCone ? ", full cone" : ""));
            auto s = TestSupport::BootedAgent::scenarioFor("default");
            s.hwCapabilities.natDpdk = dpdk;
            s.profile.snatDynFullConeSupportedIs(fullCone);
            NatAgent a(s);
            const auto& h = a.helper();
            EXPECT_TRUE(h.hwNatProfileSupported());
            EXPECT_EQ(h.staticCounterPollingInterval(), 23.0);
            EXPECT_EQ(h.dynamicCounterPollingInterval(), 23.0);
            EXPECT_EQ(h.globalHwDynamicEntries(), !dpdk);
            EXPECT_EQ(h.fullConeHwDnatUdpEntries(), dpdk ? !fullCone : true);
            EXPECT_EQ(h.fullConeHwSnatUdpEntries(), dpdk ? false : fullCone);
            EXPECT_TRUE(h.initialized());
            EXPECT_NE(h.natHelperSm(), nullptr);
        }
    }
}

// What showLearningRates writes, read back from a file.
std::string learningRates(const VyrNat::NatHelperSm& sm) {
    std::FILE* f = std::tmpfile();
    sm.showLearningRates(fileno(f));
    std::string text(std::size_t(::lseek(fileno(f), 0, SEEK_END)), '\0');
    ::pread(fileno(f), text.data(), text.size(), 0);
    std::fclose(f);
    return text;
}

TEST(NatHelper, LearningRatesCoverOnlyWindowsFullOfSamples) {
    NatAgent a("default");
    auto& h = a.helper();
    const auto& sm = *h.natHelperSm();
    EXPECT_EQ(learningRates(sm), "") << "no sample yet";

    h.dynAddIs(10);
    h.dynDelIs(5);
    a.booted().loop.advance(Tasking::seconds(5.0));
    EXPECT_EQ(h.dynAdd(), 0u) << "a sample resets the counters";
    EXPECT_EQ(learningRates(sm),
              "Dynamic hw learning rate for 5s: 2\nDynamic hw deletion rate for 5s: 1\n");

    // Five more samples fill the 30-second window: 10 + 5 * 20 additions in 30 seconds.
    for (int i = 0; i < 5; ++i) {
        h.dynAddIs(20);
        a.booted().loop.advance(Tasking::seconds(5.0));
    }
    EXPECT_EQ(learningRates(sm), "Dynamic hw learning rate for 5s: 4\n"
                                 "Dynamic hw deletion rate for 5s: 0\n"
                                 "Dynamic hw learning rate for 30s: 3\n"
                                 "Dynamic hw deletion rate for 30s: 0\n");
}

} // namespace
