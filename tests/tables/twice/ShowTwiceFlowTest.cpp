// "showNatTwice", "showNatFlowMatch", their summaries and the twice-NAT part of "showNatAddress"
// as the request socket receives them, on managers holding entries of every kind, and a random
// fill of twice NAT whose every record shows exactly once, as the summary counts it.

#include "common/ShowSection.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/NatValues.h"
#include "tests/support/RandomRun.h"
#include "tests/support/ShowCapture.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <random>
#include <regex>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;
using TestSupport::ipp;
using TestSupport::showText;

const std::string kSep81 = std::string(81, '-') + "\n";

struct Twice {
    explicit Twice(Scenario::Scenario s = BootedAgent::scenarioFor("default"))
        : agent(std::move(s)) {
        agent.boot();
        mgr = agent.owner()->tableMgrTwice();
    }
    NatHwResult add(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld, IpAndPort dstNew,
                    uint8_t proto, uint32_t nextHop, VrfId vrf = 1) {
        return mgr->updateTwiceNatTranslation(srcOld, srcNew, dstOld, dstNew, proto, nextHop, false,
                                              1, vrf, false, false);
    }
    std::string entries(TwiceCliCommand cmd) const {
        return showText([&](int fd) { mgr->showEntries(fd, cmd); });
    }
    std::string address(const char* addr) const {
        return showText([&](int fd) { mgr->showAddress(fd, TestSupport::ip(addr)); });
    }
    std::string summary() const {
        return showText([&](int fd) { mgr->showSummary(fd); });
    }

    BootedAgent agent;
    VyrNatTableMgrTwice* mgr = nullptr;
};

TEST(ShowTwice, SectionsOnlyForTablesWithEntriesAndTheirProfile) {
    Twice t(BootedAgent::scenarioFor("default", {{"twiceNatAddrSrcPortTableSize", "0"}}));
    // Without address-only entries none of the first three sections is written, not even a
    // title; nor anything else.
    EXPECT_EQ(t.entries(twiceAll), "\n");
    ASSERT_EQ(t.add(ipp("10.0.0.2", 80), ipp("1.1.1.2", 8080), ipp("20.0.0.2", 443),
                    ipp("2.2.2.2", 443), 6, 5),
              NatHwResult::success);
    ASSERT_EQ(
        t.add(ipp("10.0.0.5"), ipp("1.1.1.5"), ipp("20.0.0.5", 53), ipp("2.2.2.5", 5353), 17, 6),
        NatHwResult::success);
    // No source-port table on this profile: the port sections are the other two.
    EXPECT_EQ(t.entries(twiceAddrPort),
              "\nTwice NAT AddrPort entries:\n" + kSep81 +
                  "  Key   sPort   dPort   Proto   NextHop   ECMP    RwId\n" + kSep81 +
                  "    1      80     443       2         5      N       1\n\n"
                  "Twice NAT AddrDstPort entries:\n" +
                  kSep81 + "  Key   dPort   Proto   NextHop   ECMP    RwId\n" + kSep81 +
                  "    2      53       3         6      N       3\n\n");

    // An address only a rewrite entry holds: its full and its fragment rewrite.
    const auto text = t.address("2.2.2.5");
    const std::string rewriteHead = "Twice NAT Rewrite entries (AddrPort):\n" + kSep81 +
                                    " RwId   Sip               sPort   Dip               dPort\n" +
                                    kSep81;
    EXPECT_EQ(text.substr(0, rewriteHead.size()), rewriteHead);
    const auto rows = TestSupport::showSections(text);
    ASSERT_EQ(rows.size(), 1u) << text;
    auto rewrites = rows.at("Twice NAT Rewrite entries (AddrPort):");
    std::sort(rewrites.begin(), rewrites.end());
    EXPECT_EQ(rewrites, (TestSupport::ShowRows{{"3", "1.1.1.5", "0", "2.2.2.5", "5353"},
                                               {"4", "1.1.1.5", "0", "2.2.2.5", "0"}}));
    // An untranslated address: its pair's fragment entry, nothing of the rewrites.
    const auto pair = TestSupport::showSections(t.address("20.0.0.5"));
    EXPECT_EQ(pair.size(), 1u);
    EXPECT_EQ(pair.count("Twice NAT fragment & dummy entries:"), 1u);

    // The host's unprogrammed translations, under their profile's interface.
    Ip::Nat::TwiceNatTranslation tr;
    tr.group = 7;
    t.mgr->omaNatSmStatus()->twiceUnprogrammed.set(
        {ipp("10.0.0.9", 0), ipp("20.0.0.9", 25), 6, 3, 1}, tr);
    const auto unprog = t.entries(twiceUnprogrammed);
    EXPECT_NE(unprog.find("NAT twice unprogrammed entries:\n" + std::string(74, '-') +
                          "\n             Profile Group             Sip SrcPort             Dip "
                          "DstPort\n" +
                          std::string(74, '-') +
                          "\n         NatProfile3     7        10.0.0.9       0        20.0.0.9 "
                          "     25\n\n"),
              std::string::npos)
        << unprog;
    EXPECT_NE(t.summary().find("Unprogrammed entries: "), std::string::npos);
}

TEST(ShowTwice, TrapAclSectionsWithTheirIdsAndGroups) {
    Twice t;
    Ip::Nat::NatTrapInfo info;
    info.profileId = 3;
    const auto net = TestSupport::prefix("10.1.0.0/24");
    for (uint16_t group : {1, 2}) {
        ASSERT_TRUE(t.mgr->createNatCpuTrapAcl({"tacl", group}, info, 6, net, {}, 0, 0, 80, 0xffff,
                                               100, false, false));
    }
    // One ACL-id entry on the source side that both groups use, one trap entry each on the
    // destination side; only "all" shows them.
    const auto sections = TestSupport::showSections(t.entries(twiceAll));
    ASSERT_EQ(sections.size(), 2u);
    const auto& ids = sections.at("Twice NAT AclId entries:");
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(ids[0],
              (TestSupport::ShowRows::value_type{"tacl", "1", "6", "10.1.0.0/24", "0.0.0.0/0",
                                                 "0/0", "0/0", "64", "cpu", "2"}));
    const auto& traps = sections.at("Twice NAT CPU trap acl entries:");
    ASSERT_EQ(traps.size(), 2u);
    EXPECT_EQ(traps[0],
              (TestSupport::ShowRows::value_type{"tacl", "1", "6", "0.0.0.0/0", "0.0.0.0/0", "0/0",
                                                 "50/ffff", "3/fff", "0/0", "0", "cpu"}));
    EXPECT_EQ(t.entries(twiceAddrOnly), "\n");
}

// Random translations, with and without ports, some on one address pair: every address-only
// entry shows once, in the section its action puts it, every port and rewrite entry once, and
// each section has as many rows as the summary counts.
TEST(ShowTwice, EveryRecordShowsOnceAsTheSummaryCountsIt) {
    const unsigned seed = TestSupport::testSeed(1808);
    SCOPED_TRACE(TestSupport::seedNote(seed));
    std::mt19937 rng(seed);
    Twice t;
    const auto addr = [&](uint8_t net) { return Ip::IpAddr(10, net, 0, uint8_t(1 + rng() % 4)); };
    const auto port = [&] { return uint16_t(rng() % 3 == 0 ? 0 : 80 + rng() % 3); };
    for (int i = 0; i < 300; ++i) {
        const IpAndPort srcOld{addr(0), port()}, dstOld{addr(1), port()};
        const IpAndPort srcNew{addr(2), uint16_t(srcOld.port ? srcOld.port + rng() % 2 : 0)};
        const IpAndPort dstNew{addr(3), dstOld.port};
        if (rng() % 4 == 0) {
            t.mgr->deleteTwiceNatTranslation(srcOld, srcNew, dstOld, dstNew, 1, 1);
        } else {
            t.add(srcOld, srcNew, dstOld, dstNew, rng() % 2 ? 6 : 17, 1 + rng() % 9);
        }
    }
    const auto sections = TestSupport::showSections(t.entries(twiceAll));
    const auto rowsOf = [&](const char* title) {
        const auto it = sections.find(title);
        return it == sections.end() ? TestSupport::ShowRows{} : it->second;
    };
    const auto count = [](const TestSupport::ShowRows& rows, std::vector<std::string> head) {
        return std::count_if(rows.begin(), rows.end(), [&](const auto& r) {
            return r.size() >= head.size() && std::equal(head.begin(), head.end(), r.begin());
        });
    };
    const auto native = rowsOf("Twice NAT AddrOnly entries:");
    const auto frag = rowsOf("Twice NAT fragment & dummy entries:");
    std::size_t elementsOut = 0;
    for (const auto& [key, e] : t.mgr->addrOnlyEntry()) {
        const std::vector<std::string> head{std::to_string(key.vrf), key.sip.toString(),
                                            key.dip.toString(), std::to_string(e.keyId)};
        const bool isNative = e.action.proto != ProtocolType::protocolInvalid;
        EXPECT_EQ(count(native, head), isNative ? 1 : 0) << key.str();
        EXPECT_EQ(count(frag, head), isNative ? 0 : 1) << key.str();
        if (isNative || e.fragEntry.size() > 1) {
            elementsOut += e.fragEntry.size();
        }
    }
    EXPECT_EQ(native.size() + frag.size(), t.mgr->addrOnlyEntry().size());
    EXPECT_EQ(rowsOf("Twice NAT unprogrammed fragment entries:").size(), elementsOut);
    const auto ports = rowsOf("Twice NAT AddrPort entries:");
    const auto src = rowsOf("Twice NAT AddrSrcPort entries:");
    const auto dst = rowsOf("Twice NAT AddrDstPort entries:");
    for (const auto& [key, e] : t.mgr->addrPortEntry()) {
        const auto k = std::to_string(key.keyId);
        const auto s = std::to_string(key.sport), d = std::to_string(key.dport);
        // The table its ports choose: both, the source port only, the destination port only.
        const auto shown = key.sport != 0 && key.dport != 0 ? count(ports, {k, s, d})
                           : key.dport == 0                 ? count(src, {k, s})
                                                            : count(dst, {k, d});
        EXPECT_EQ(shown, 1) << key.str();
    }
    EXPECT_EQ(ports.size() + src.size() + dst.size(), t.mgr->addrPortEntry().size());
    const auto rewrites = rowsOf("Twice NAT Rewrite entries:");
    for (const auto& [info, e] : t.mgr->rewriteEntry().records()) {
        EXPECT_EQ(count(rewrites, {std::to_string(e.rewriteId), info.src.ip.toString(),
                                   std::to_string(info.src.port), info.dst.ip.toString(),
                                   std::to_string(info.dst.port)}),
                  1);
    }
    EXPECT_EQ(rewrites.size(), t.mgr->rewriteEntry().records().size());
    ASSERT_GT(elementsOut, 0u) << "the run made unprogrammed fragments";
    ASSERT_GT(src.size() * dst.size() * frag.size() * native.size(), 0u)
        << "the run made entries of every kind";

    // The summary counts what the listing shows.
    const auto summary = t.summary();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        summary, m,
        std::regex("tNAT AddrOnly: (\\d+) \\((\\d+) regular, (\\d+) fragments, (\\d+) "
                   "dummy\\)\n   tNAT Unprogrammed fragments: (\\d+)\n")))
        << summary;
    EXPECT_EQ(std::stoul(m[1]), native.size() + frag.size());
    EXPECT_EQ(std::stoul(m[2]), native.size());
    EXPECT_EQ(std::stoul(m[3]) + std::stoul(m[4]), frag.size());
    EXPECT_EQ(std::stoul(m[5]), elementsOut);
    EXPECT_NE(summary.find("   tNAT AddrPort: " + std::to_string(ports.size()) +
                           "\n   tNAT AddrSrcPort: " + std::to_string(src.size()) +
                           "\n   tNAT AddrDstPort: " + std::to_string(dst.size()) +
                           "\n   tNAT Rewrite: " + std::to_string(rewrites.size()) + "\n"),
              std::string::npos)
        << summary;
}

TEST(ShowFlow, EntriesAboveTheDefaultEntryAndTheSummary) {
    BootedAgent agent(BootedAgent::scenarioFor("default"));
    agent.boot();
    auto* mgr = agent.owner()->tableMgrNatFlow();
    const std::string head = "NAT flow match entries:\n" + std::string(137, '-') +
                             "\nProfile Policy             Match              UC  MC  Source      "
                             "       Destination        Proto Src port      Dst port      Prio  "
                             "Group\n";
    const std::string defaultRow = "*       default            -                  0/1 0/1 *       "
                                   "           *                  *     *             *          "
                                   "       0 Miss \n";
    const auto entries = [&] { return showText([&](int fd) { mgr->showEntries(fd); }); };
    EXPECT_EQ(entries(), head + defaultRow);
    ASSERT_TRUE(mgr->createNatFlowTable({1, "pol", "m1"}, 5, *Ip::Prefix::parse("10.0.0.0/8"),
                                        *Ip::Prefix::parse("8.8.8.0/24"), 1000, 1003, 80, 80, 6, 10,
                                        1, 0, 1));
    EXPECT_EQ(entries(), head +
                             "1       pol                m1                 1/1 0/1 10.0.0.0/8   "
                             "      8.8.8.0/24         6     0x03e8/0xfffc 0x0050/0xffff    11 "
                             "5    \n" +
                             defaultRow);
    EXPECT_EQ(showText([&](int fd) { mgr->showSummary(fd); }),
              "NAT flow\n--------\nHw table size:\n   NAT flow table: 2048\n"
              "   NAT multicast groups table: 1024\n   NAT multicast replication table: 8192\n"
              "Current tables occupation:\n   NAT flow table: 2\n"
              "   NAT multicast groups table: 0\n   NAT multicast replication table: 0\n\n");
}

// A client that closed its end before the reply: the reply is lost, the agent goes on.
TEST(ShowWriter, AClientGoneBeforeTheReplyCostsNothingElse) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    close(fds[1]);
    {
        ShowSection s(fds[0], "title\n", 5, "%s\n", "header");
        for (int i = 0; i < 20000; ++i) {
            s.row("%30d\n", i);
        }
    }
    close(fds[0]);
}

} // namespace
