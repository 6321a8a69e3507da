#include "host/Assert.h"
#include "tables/VyrNatTableMgr.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/agent/AgentTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using AgentTest::scenarioWith;
using TestSupport::BootedAgent;

const std::vector<std::string> kIngress = {"staticDnatAcl", "addrOnlyDnat", "addrPortDnat",
                                           "staticSnatAcl", "addrOnlySnat", "addrPortSnat"};
const std::vector<std::string> kEgressPipe = {"egrAddrDnat",
                                              "egrAddrPortDnat",
                                              "egrAddrSnat",
                                              "egrAddrPortSnat",
                                              "ingressNatProfileEgressPipe",
                                              "egressNatProfileEgressPipe"};

const std::vector<std::string> kFullCone = {"dynamicFullCone", "dynamicFullConeDip",
                                            "dynamicFullConeDnat", "dynamicFullConeCompressDip",
                                            "dynamicSnatAcl"};
const std::vector<std::string> kFiveTuple = {"dynamicDnat1", "dynamicDnat2", "dynamicSnat1",
                                             "dynamicSnat2"};
const std::vector<std::string> kAddrOnly = {"dynamicAddrOnlySnat", "dynamicAddrOnlyDnat"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The dynamic manager's tables: those the profile sizes, the trap tables, the partition banks
// and the trap header.
std::vector<std::string> dynamicTables(const std::vector<std::string>& sized,
                                       const std::vector<std::string>& banks = {}) {
    return sized + std::vector<std::string>{"natTcpFlags", "natCpuTrapAcl", "natCpuReasonCode"} +
           banks + std::vector<std::string>{"egressNatCpuTrapHeader"};
}
const std::vector<std::string> kDynamicDefault = dynamicTables(kFullCone + kFiveTuple + kAddrOnly);
// The twice manager's tables, on a profile with both single-port tables.
const std::vector<std::string> kTwice = {
    "twiceNatAddrOnly",    "twiceNatAddrPort", "twiceNatAddrSrcPort", "twiceNatAddrDstPort",
    "twiceNatResultCheck", "twiceNatRewrite",  "twiceNatAclId",       "twiceNatCpuTrapAcl"};
// The default profile's tables after the dynamic manager's.
const std::vector<std::string> kFlow = {"natFlow"};

// The tables listed on the owner's profile entry, in listing order.
std::vector<std::string> listed(const VyrNat::VyrNatTableMgr& owner) {
    std::vector<std::string> names;
    for (const auto& [n, reg] : owner.profileDataEntry()->hwTables) {
        names.push_back(reg.name);
    }
    return names;
}

std::vector<std::string> onChip(const VyrP4::Chip& chip) {
    std::vector<std::string> names;
    for (const auto* t : chip.tables()) {
        names.push_back(t->name());
    }
    return names;
}

TEST(TableList, EachManagerRegistersTheTablesItsProfileHasInTheOwnersOrder) {
    struct Case {
        Scenario::Scenario scenario;
        std::vector<std::string> tables;
    };
    const std::vector<Case> cases = {
        {scenarioWith("default", {{"egressNatProfileTableSize", "0"},
                                  {"dynamicEgressNatProfileTableSize", "0"}}),
         kIngress + kTwice + kDynamicDefault + kFlow},
        {scenarioWith("default", {{"dynamicEgressNatProfileTableSize", "0"}}),
         kIngress + std::vector<std::string>{"egressNatProfile"} + kTwice + kDynamicDefault +
             kFlow},
        {scenarioWith("default", {{"egressNatProfileTableSize", "0"}}),
         kIngress + std::vector<std::string>{"dynamicEgressNatProfile"} + kTwice + kDynamicDefault +
             kFlow},
        // Banks: two DNAT, and SNAT 0, 1 and 3 (bank 2 is empty and gets no table).
        {scenarioWith("partitioned", {{"egressNatProfileTableSize", "0"},
                                      {"dynamicEgressNatProfileTableSize", "0"},
                                      {"egrUcNatSupported", "true"},
                                      {"egrUcNatTableSize", "64"}}),
         kIngress + std::vector<std::string>{"egrUcSnat", "egrUcDnat"} +
             dynamicTables(kAddrOnly, {"dynamicDnatPartition0", "dynamicDnatPartition1",
                                       "dynamicSnatPartition0", "dynamicSnatPartition1",
                                       "dynamicSnatPartition3"})},
        // With the egress-pipeline static tables, whose ingress profile table comes with egress
        // unicast NAT.
        {scenarioWith("egressNat"),
         kIngress +
             std::vector<std::string>{"egressNatProfile", "dynamicEgressNatProfile", "egrUcSnat",
                                      "egrUcDnat"} +
             dynamicTables(kFiveTuple + kAddrOnly) + kEgressPipe},
        {scenarioWith("egressNat", {{"egrUcNatSupported", "false"}, {"egrUcNatTableSize", "0"}}),
         kIngress + std::vector<std::string>{"egressNatProfile", "dynamicEgressNatProfile"} +
             dynamicTables(kFiveTuple + kAddrOnly) +
             std::vector<std::string>{"egrAddrDnat", "egrAddrPortDnat", "egrAddrSnat",
                                      "egrAddrPortSnat", "egressNatProfileEgressPipe"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario.profile.name() + ", " + std::to_string(c.tables.size()) +
                     " tables");
        BootedAgent a(c.scenario);
        a.boot();
        ASSERT_NE(a.owner(), nullptr);
        const VyrNat::VyrNatTableMgr& owner = *a.owner();
        EXPECT_EQ(listed(owner), c.tables);
        for (const auto& [n, reg] : owner.profileDataEntry()->hwTables) {
            EXPECT_EQ(reg.scope, (VyrAgentLib::HwTableScope{true, 0})) << reg.name;
            EXPECT_TRUE(reg.flag1 && reg.flag2 && !reg.flag3) << reg.name;
            EXPECT_EQ(reg.tableMgr, &owner) << reg.name;
        }
        // Each listed table was brought up once, made on the chip, and the agent started.
        EXPECT_EQ(a.agent->vyrAgentLibHwMgr()->tablesBroughtUp(), c.tables.size());
        EXPECT_EQ(onChip(*a.chip).size(), c.tables.size());
        EXPECT_EQ(owner.pendingTableCount(), 0u);
        EXPECT_TRUE(owner.profileDataEntry()->tablesInitialized());
        EXPECT_TRUE(a.agent->natAgentSm()->started());

        const auto& st = *owner.tableMgrStatic();
        auto has = [&](const char* name) {
            return std::find(c.tables.begin(), c.tables.end(), name) != c.tables.end();
        };
        EXPECT_NE(st.staticDnatAclTable(), nullptr);
        EXPECT_NE(st.addrOnlyDnatTable(), nullptr);
        EXPECT_NE(st.addrPortDnatTable(), nullptr);
        EXPECT_NE(st.staticSnatAclTable(), nullptr);
        EXPECT_NE(st.addrOnlySnatTable(), nullptr);
        EXPECT_NE(st.addrPortSnatTable(), nullptr);
        EXPECT_EQ(st.egressNatProfileTable() != nullptr, has("egressNatProfile"));
        EXPECT_EQ(st.dynamicEgressNatProfileTable() != nullptr, has("dynamicEgressNatProfile"));
        EXPECT_EQ(st.egressSnatTable() != nullptr, has("egrUcSnat"));
        EXPECT_EQ(st.egressDnatTable() != nullptr, has("egrUcDnat"));
        EXPECT_EQ(st.egressTableSize(), c.scenario.profile.egrUcNatTableSize());
        EXPECT_EQ(owner.tableMgrNatFlow() != nullptr, has("natFlow"));
    }
}

TEST(StaticTableMgr, TakesItsSizesFromTheProfileAndHandsOutAclIdOneFirst) {
    BootedAgent a(
        scenarioWith("default", {{"snatAclTableSize", "100"}, {"snatAddrOnlyTableSize", "300"}}));
    a.boot();
    auto& st = *a.owner()->tableMgrStatic();
    EXPECT_EQ(st.snatAclIds().size(), 100u);
    EXPECT_EQ(st.snatAddrOnlyTableSize(), 300u);
    EXPECT_EQ(st.createStaticSnatAclTable({}, true, false), 1);
    st.deleteStaticSnatAclTable({}, true);
}

TEST(HwStaticNatAclKey, ComparesFieldByFieldInOrderHashesEveryFieldAndPrintsAsGiven) {
    using VyrNat::HwStaticNatAclKey;
    auto key = [](const char* prefix, uint16_t protocol, bool fragment) {
        return HwStaticNatAclKey{*Ip::IpAddrWithFullMask::parse(prefix), protocol, fragment};
    };
    // Ascending: address, then mask, then protocol, then fragment.
    const std::vector<HwStaticNatAclKey> ordered = {
        key("0.0.0.0/0", 0, false),    key("0.0.0.0/0", 0, true),     key("0.0.0.0/0", 6, false),
        key("0.0.0.0/0", 17, false),   key("10.0.0.0/8", 0, false),   key("10.0.0.0/16", 0, false),
        key("10.0.0.0/16", 255, true), key("192.0.2.0/24", 0, false),
    };
    const std::hash<HwStaticNatAclKey> hash;
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        for (std::size_t j = i + 1; j < ordered.size(); ++j) {
            EXPECT_LT(ordered[i], ordered[j]) << ordered[i].str() << " " << ordered[j].str();
        }
        // Neighbours differ in one field: each field takes part in the hash.
        EXPECT_TRUE(i == 0 || hash(ordered[i - 1]) != hash(ordered[i])) << ordered[i].str();
    }
    EXPECT_EQ(key("10.0.0.0/8", 6, true).str(),
              "Value('VyrNat::HwStaticNatAclKey', ** {'ipAndMask': 10.0.0.0/255.0.0.0, "
              "'protocol': 6, 'fragment': True})");
}

TEST(TableMgrChecks, InconsistentProfilesAndUnknownTablesStopWithTheConditionsText) {
    Host::ThrowOnAssert throwing;
    auto failure = [](const Scenario::Scenario& s) -> std::string {
        BootedAgent a(s);
        try {
            a.boot();
        } catch (const Host::AssertionFailure& e) {
            return e.what();
        }
        return "(no assertion)";
    };
    EXPECT_EQ(failure(scenarioWith("default", {{"vrfNatHop", "true"}})), "!vrfNatHop()");
    EXPECT_EQ(failure(scenarioWith("egressNat", {{"egrUcNatTableSize", "0"}})),
              "tableMgr()->profileCapabilities().egrUcNatTableSize() > 0");
    EXPECT_EQ(failure(scenarioWith("default", {{"egrUcNatTableSize", "2048"}})),
              "tableMgr()->profileCapabilities().egrUcNatTableSize() == 0");
    EXPECT_EQ(failure(scenarioWith("partitioned", {{"snatPartitionBankSize", "4096"}})),
              "dnatPartitionTotalSize == snatPartitionTotalSize");
    EXPECT_EQ(failure(scenarioWith("egressNat", {{"snat2TableSize", "16384"}})),
              "dnat1TableSize() + dnat2TableSize() >= snat1TableSize() + snat2TableSize()");

    // The service offers a table no manager listed.
    BootedAgent a(scenarioWith("default"));
    a.boot();
    ASSERT_NE(a.owner(), nullptr);
    try {
        a.owner()->initializeTable(VyrP4::TableKey{"noSuchTable", 0, 99}, a.chip->handle(),
                                   VyrDriver::VyrDevProfile{"default"}, 1, nullptr, nullptr);
        ADD_FAILURE() << "no assertion for an unknown table";
    } catch (const Host::AssertionFailure& e) {
        EXPECT_STREQ(e.what(), "Unknown table name noSuchTable");
    }
    EXPECT_EQ(a.owner()->pendingTableCount(), 0u);
    EXPECT_EQ(a.chip->table("noSuchTable"), nullptr);
}

} // namespace
