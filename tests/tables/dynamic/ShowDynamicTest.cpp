// "showNatDynamic" and the dynamic part of "showNatAddress" as the request socket receives them:
// the sections each command selects, rows read back from the chip, the trap ACL rows in order,
// the host's unprogrammed entries, and a random fill whose every connection shows exactly once.

#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/NatValues.h"
#include "tests/support/RandomRun.h"
#include "tests/support/ShowCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;
using TestSupport::ipp;
using TestSupport::prefix;
using TestSupport::showText;

const std::string kSep88 = std::string(88, '-') + "\n";
const std::string kSep103 = std::string(103, '-') + "\n";
const std::string kSnatHeader = "Protocol  Vrf              Sip   Port              Dip   Port     "
                                "     New Sip  New Port\n";
const std::string kDnatHeader = "Protocol  Vrf              Sip   Port              Dip   Port     "
                                "     New Dip  New Port  NextHop  Ecmp\n";

struct Dyn {
    explicit Dyn(Scenario::Scenario s) : agent(std::move(s)) {
        agent.boot();
        mgr = agent.owner()->tableMgrDynamic();
    }
    std::string entries(DynamicCliCommand cmd, DynamicSnatCliTable snat = snatTableAll,
                        DynamicDnatCliTable dnat = dnatTableAll) const {
        return showText([&](int fd) { mgr->showEntries(fd, cmd, snat, dnat); });
    }
    std::string address(const char* addr) const {
        return showText([&](int fd) { mgr->showAddress(fd, TestSupport::ip(addr)); });
    }
    bool snat(DynamicSnatTable table, const ConnTuple& f, IpAndPort newSrc, uint32_t vrf = 1) {
        mgr->forceSnatTableIs(table);
        return mgr->createDynamicSnat(f, f.src, f.dst, newSrc, 1, false, vrf);
    }
    bool dnat(DynamicDnatTable table, const ConnTuple& f, IpAndPort newDst, uint32_t nextHop,
              bool ecmp, uint32_t vrf = 1) {
        mgr->forceDnatTableIs(table);
        return mgr->createDynamicDnat(1, f, f.src, f.dst, newDst, nextHop, ecmp, false, false, vrf);
    }

    BootedAgent agent;
    VyrNatTableMgrDynamic* mgr = nullptr;
};

ConnTuple conn(const char* src, uint16_t sport, const char* dst, uint16_t dport,
               uint8_t proto = 6) {
    return {ipp(src, sport), ipp(dst, dport), proto};
}

Ip::Nat::NatTrapInfo trapInfo(uint32_t profile) {
    Ip::Nat::NatTrapInfo t;
    t.profileId = profile;
    return t;
}

TEST(ShowDynamic, SectionsByCommandAndTableWithRowsFromTheChip) {
    using S = DynamicSnatTable;
    using D = DynamicDnatTable;
    // DNAT1 keeps (20 - 9) / 2 = 5 entries for SNAT.
    Dyn d(BootedAgent::scenarioFor("egressNat", {{"dnat1TableSize", "10"},
                                                 {"dnat2TableSize", "10"},
                                                 {"snat1TableSize", "5"},
                                                 {"snat2TableSize", "4"}}));
    // Nothing recorded: no section at all, not even for the CPU trap ACL whose fixed tables are
    // written.
    EXPECT_EQ(d.entries(dynamicAll), "");
    EXPECT_EQ(d.entries(dynamicCpu), "");

    ASSERT_TRUE(d.snat(S::dynSnat1, conn("10.0.0.1", 1000, "8.8.8.8", 53), ipp("1.1.1.1", 2001)));
    ASSERT_TRUE(d.snat(S::dynSnat2, conn("10.0.0.2", 1000, "8.8.8.8", 53), ipp("1.1.1.2")));
    ASSERT_TRUE(
        d.snat(S::dynDnat1Snat, conn("10.0.0.3", 1000, "8.8.8.8", 53), ipp("1.1.1.3", 2003)));
    ASSERT_TRUE(d.dnat(D::dynDnat1Dnat, conn("9.9.9.9", 5353, "100.0.0.4", 80),
                       ipp("192.168.0.1", 8080), 7, false));
    ASSERT_TRUE(d.dnat(D::dynDnat2, conn("9.9.9.9", 5353, "100.0.0.5", 53, 17), ipp("192.168.0.2"),
                       9, true, 2));

    // "snat dynamicDnat1" is the SNAT side of the first DNAT table, and nothing else.
    EXPECT_EQ(d.entries(dynamicSnat, snatTableDynamicDnat1),
              "NAT dynamicDnat1 (SNAT) entries:\n" + kSep88 + kSnatHeader + kSep88 +
                  "       6    1         10.0.0.3   1000          8.8.8.8     53          1.1.1.3 "
                  "     2003\n\n");
    // The address view finds a connection by its translated address too, in the view's own
    // section; the other tables write nothing. An address-only action has no new port; an ECMP
    // group is marked.
    EXPECT_EQ(d.address("192.168.0.2"),
              "NAT dynamicDnat2:\n" + kSep103 + kDnatHeader + kSep103 +
                  "      17    2          9.9.9.9   5353        100.0.0.5     53      192.168.0.2 "
                  "        -        9     Y\n\n");
    EXPECT_EQ(d.address("7.7.7.7"), "");

    // "all" lists the tables in their order; a table without connections writes nothing.
    const auto all = d.entries(dynamicAll);
    EXPECT_LT(all.find("NAT dynamicSnat2 entries:"), all.find("NAT dynamicDnat1 (SNAT) entries:"));
    EXPECT_LT(all.find("NAT dynamicDnat1 (SNAT) entries:"), all.find("NAT dynamicDnat2 entries:"));
    EXPECT_EQ(all.find("AddrOnly"), std::string::npos);

    // Trap rows in ACL order whatever the order they came in, deny entries marked.
    const auto any = prefix("0.0.0.0/0"), dst = prefix("10.1.0.0/24");
    ASSERT_TRUE(d.mgr->createNatCpuTrapAcl({"acl1", 0}, trapInfo(3), 17, any, dst, 0, 0, 53, 0xffff,
                                           200, true, false));
    ASSERT_TRUE(d.mgr->createNatCpuTrapAcl({"acl0", 0}, trapInfo(3), 17, any, dst, 0, 0, 53, 0xffff,
                                           100, false, false));
    EXPECT_EQ(d.entries(dynamicCpu),
              "NAT cpu trap acl entries:\n" + std::string(138, '-') +
                  "\n                           Acl Prot                Sip                Dip    "
                  "SrcPort    DstPort  IngProf  EgrProf  TcpFlag  Priority  Actn\n" +
                  std::string(138, '-') +
                  "\n                          acl0   17         0.0.0.0/0         10.1.0.0/24     "
                  "0/0       35/ffff    3/fff    0/0          0        64  cpu\n"
                  "                          acl1   17         0.0.0.0/0         10.1.0.0/24     "
                  "0/0       35/ffff    3/fff    0/0          0        c8  deny\n\n");

    // What the host holds as not programmed comes from the NAT state machine's status.
    EXPECT_EQ(d.entries(dynamicUnprogrammed), "");
    auto& status = *d.mgr->omaNatSmStatus();
    Ip::Nat::DynamicConnection c;
    c.profile = 4;
    status.dynamicUnprogrammed.set({conn("10.9.9.9", 1234, "0.0.0.0", 0), 1}, c);
    status.trapRuleUnprogrammed.set({"NatProfile3", "acl9", 0}, true);
    EXPECT_EQ(d.entries(dynamicUnprogrammed),
              "NAT dynamic unprogrammed entries:\n" + std::string(85, '-') +
                  "\n                       Profile Proto             Sip             Dip SrcPort "
                  "DstPort\n" +
                  std::string(85, '-') +
                  "\n                   NatProfile4     6        10.9.9.9         0.0.0.0    1234 "
                  "      0\n\n"
                  "NAT cpu trap acl unprogrammed entries:\n" +
                  std::string(42, '-') +
                  "\n                       Profile                            Acl Group\n" +
                  std::string(42, '-') +
                  "\n                   NatProfile3                           acl9     0\n\n");
    EXPECT_EQ(d.entries(dynamicAll).find(d.entries(dynamicUnprogrammed)),
              d.entries(dynamicAll).size() - d.entries(dynamicUnprogrammed).size());
}

TEST(ShowDynamic, PartitionsShareOneSectionWithTheirIds) {
    Dyn d(BootedAgent::scenarioFor(
        "partitioned", {{"dnatPartitionBankSize", "2,2"}, {"snatPartitionBankSize", "2,0,2"}}));
    for (uint8_t n = 1; n <= 3; ++n) {
        const ConnTuple f{{Ip::IpAddr(10, 0, 0, n), 1000}, ipp("8.8.8.8", 53), 6};
        ASSERT_TRUE(d.mgr->createDynamicSnat(f, f.src, f.dst, ipp("1.1.1.1", uint16_t(2000 + n)), 1,
                                             false, 1));
    }
    const auto text = d.entries(dynamicSnat, snatTableDynamicSnatPartition);
    const auto sections = TestSupport::showSections(text);
    ASSERT_EQ(sections.size(), 1u) << text;
    const auto& rows = sections.at("NAT dynamicSnatPartition entries:");
    // The first two fill partition 0; bank 1 has no table, so the third goes to partition 2.
    std::multiset<std::string> ids;
    for (const auto& r : rows) {
        ASSERT_EQ(r.size(), 8u);
        ids.insert(r.back());
    }
    EXPECT_EQ(ids, (std::multiset<std::string>{"0", "0", "2"}));
    EXPECT_NE(text.find("       6         10.0.0.3   1000          8.8.8.8     53          1.1.1.1 "
                        "     2003         2\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(d.entries(dynamicDnat), "");
    EXPECT_EQ(d.address("10.0.0.3"), "") << "partitions are not part of the address view";
}

// Random connections of every kind: each one the manager kept shows exactly once, in the section
// of the table that holds it, with the values it was created with.
TEST(ShowDynamic, EveryProgrammedConnectionShowsOnceInItsTable) {
    const unsigned seed = TestSupport::testSeed(1807);
    SCOPED_TRACE(TestSupport::seedNote(seed));
    std::mt19937 rng(seed);
    Dyn d(BootedAgent::scenarioFor("egressNat", {{"dnat1TableSize", "40"},
                                                 {"dnat2TableSize", "20"},
                                                 {"snat1TableSize", "20"},
                                                 {"snat2TableSize", "20"},
                                                 {"dynamicAddrOnlySnatTableSize", "20"},
                                                 {"dynamicAddrOnlyDnatTableSize", "20"}}));
    using Row = std::vector<std::string>;
    struct Shown {
        std::string section;
        Row row;
    };
    std::map<std::pair<FlowAndVrfType, bool>, Shown> model; // by connection and direction
    const auto ip = [&](const char* net) {
        return Ip::IpAddr(Ip::IpAddr::parse(net)->value | (rng() % 4));
    };
    const auto str = [](auto v) { return std::to_string(v); };
    for (int i = 0; i < 400; ++i) {
        const ConnTuple f{{ip("10.0.0.0"), uint16_t(1000 + rng() % 3)},
                          {ip("8.8.8.0"), uint16_t(rng() % 2 ? 53 : 0)},
                          uint8_t(rng() % 2 ? 6 : 17)};
        const uint32_t vrf = 1 + rng() % 2, nextHop = 1 + rng() % 50;
        const bool dnat = rng() % 2, ecmp = rng() % 2;
        const IpAndPort newIp{ip("1.1.1.0"), uint16_t(rng() % 2 ? 2000 + rng() % 100 : 0)};
        const FlowAndVrfType key{f, vrf};
        if (const auto it = model.find({key, dnat}); it != model.end()) {
            if (dnat ? d.mgr->deleteDynamicDnat(1, f, f.dst, false, vrf)
                     : d.mgr->deleteDynamicSnat(1, f, f.dst, false, vrf)) {
                model.erase(it);
            }
        } else if (rng() % 5 == 0) {
            // Address-only SNAT towards every peer: one entry per (source address, profile).
            const ConnTuple any{{f.src.ip, 0}, {}, 0};
            if (model.count({{any, 0}, false}) == 0 &&
                d.mgr->createDynamicAddrOnlySnat(any, any.src, any.dst, {newIp.ip, 0}, 1)) {
                model[{{any, 0}, false}] = {"NAT dynamicAddrOnlySnat entries:",
                                            {"1", f.src.ip.toString(), newIp.ip.toString()}};
            }
        } else if (dnat ? d.mgr->createDynamicDnat(1, f, f.src, f.dst, newIp, nextHop, ecmp, false,
                                                   false, vrf)
                        : d.mgr->createDynamicSnat(f, f.src, f.dst, newIp, 1, false, vrf)) {
            Row row{str(int(f.protocol)), str(vrf),
                    f.src.ip.toString(),  str(f.src.port),
                    f.dst.ip.toString(),  str(f.dst.port),
                    newIp.ip.toString(),  newIp.port ? str(newIp.port) : "-"};
            const char* title;
            if (dnat) {
                row.insert(row.end(), {str(nextHop), ecmp ? "Y" : "N"});
                title = d.mgr->dynamicDnatTable().place(f, vrf) == DynamicDnatTable::dynDnat2
                            ? "NAT dynamicDnat2 entries:"
                            : "NAT dynamicDnat1 (DNAT) entries:";
            } else {
                const auto place = d.mgr->dynamicSnatTable().place(f, vrf);
                title = place == DynamicSnatTable::dynSnat1   ? "NAT dynamicSnat1 entries:"
                        : place == DynamicSnatTable::dynSnat2 ? "NAT dynamicSnat2 entries:"
                                                              : "NAT dynamicDnat1 (SNAT) entries:";
            }
            model[{key, dnat}] = {title, row};
        }
    }
    const auto sections = TestSupport::showSections(d.entries(dynamicAll));
    std::map<std::string, std::size_t> perSection;
    for (const auto& [key, shown] : model) {
        ++perSection[shown.section];
        ASSERT_EQ(sections.count(shown.section), 1u) << shown.section;
        std::size_t found = 0;
        for (const Row& r : sections.at(shown.section)) {
            // The address-only rows end with the checksum delta, which is the chip's.
            const Row cut(r.begin(), r.begin() + std::min(r.size(), shown.row.size()));
            found += cut == shown.row;
        }
        EXPECT_EQ(found, 1u) << shown.section << ": " << key.first.str();
    }
    ASSERT_GE(perSection.size(), 5u) << "every kind of table got connections";
    for (const auto& [title, rows] : sections) {
        EXPECT_EQ(rows.size(), perSection[title]) << title;
    }
    // The summary's occupation counts what the listing shows.
    const auto summary = showText([&](int fd) { d.mgr->showSummary(fd); });
    const auto occupation = summary.substr(summary.find("Current tables occupation:"));
    for (const auto& [line, title] : std::map<std::string, std::string>{
             {"   dNAT2: ", "NAT dynamicDnat2 entries:"},
             {"   sNAT1: ", "NAT dynamicSnat1 entries:"},
             {"   sNAT2: ", "NAT dynamicSnat2 entries:"},
             {"   sNAT AddrOnly: ", "NAT dynamicAddrOnlySnat entries:"}}) {
        EXPECT_NE(occupation.find(line + std::to_string(perSection[title]) + "\n"),
                  std::string::npos)
            << line << " in\n"
            << summary;
    }
}

} // namespace
