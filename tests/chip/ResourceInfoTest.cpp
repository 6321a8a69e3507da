#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "chip/Chip.h"
#include "chip/P4Tables.h"
#include "chip/ResourceInfo.h"

namespace VyrP4 {
namespace {

static_assert(std::is_same_v<DynamicSnatPartition3Table, DynamicSnatPartitionCmnTable>);
static_assert(std::is_same_v<DynamicDnatPartition0MatchSpec, DynamicDnatPartitionCmnMatchSpec>);

// A chip with every feature and every table; sized tables hold 16 entries.
ProfileCapabilities everything() {
    ProfileCapabilities p;
    std::string error;
    for (const std::string& f : ProfileCapabilities::fieldNames()) {
        const std::string value = f == "name"                    ? "everything"
                                  : f == "dnatPartitionBankSize" ? "16,16,16,16"
                                  : f == "snatPartitionBankSize" ? "16,16,16,16,16"
                                  : *p.field(f) == "false"       ? "true"
                                                                 : "16";
        EXPECT_TRUE(p.fieldIs(f, value, error)) << error;
    }
    return p;
}

using Factory = std::function<std::string(Chip&, MbbMirraKey::MirraKeyManager*,
                                          VyrTableStatusManager::StatusManager*)>;
#define VYR_FACTORY(table)                                                                         \
    {                                                                                              \
#table, [](Chip& c, MbbMirraKey::MirraKeyManager* k,                                       \
                   VyrTableStatusManager::StatusManager* s) {                                      \
            return table##TableFactory(k, s, c.handle(), 0, 1, 2, "everything")->name();           \
        }       \
    }

const std::vector<std::pair<std::string, Factory>> kFactories = {
    VYR_FACTORY(staticSnatAcl),
    VYR_FACTORY(staticDnatAcl),
    VYR_FACTORY(addrOnlySnat),
    VYR_FACTORY(addrPortSnat),
    VYR_FACTORY(addrOnlyDnat),
    VYR_FACTORY(addrPortDnat),
    VYR_FACTORY(egressNatProfile),
    VYR_FACTORY(dynamicEgressNatProfile),
    VYR_FACTORY(egrUcSnat),
    VYR_FACTORY(egrUcDnat),
    VYR_FACTORY(egrAddrSnat),
    VYR_FACTORY(egrAddrPortSnat),
    VYR_FACTORY(egrAddrDnat),
    VYR_FACTORY(egrAddrPortDnat),
    VYR_FACTORY(ingressNatProfileEgressPipe),
    VYR_FACTORY(egressNatProfileEgressPipe),
    VYR_FACTORY(ingressNatAclVrf),
    VYR_FACTORY(addrAndVrfDnat),
    VYR_FACTORY(defaultVrfSnat),
    VYR_FACTORY(natPolicer),
    VYR_FACTORY(dynamicFullCone),
    VYR_FACTORY(dynamicFullConeDip),
    VYR_FACTORY(dynamicFullConeDnat),
    VYR_FACTORY(dynamicFullConeCompressDip),
    VYR_FACTORY(dynamicSnatAcl),
    VYR_FACTORY(dynamicDnat1),
    VYR_FACTORY(dynamicDnat2),
    VYR_FACTORY(dynamicSnat1),
    VYR_FACTORY(dynamicSnat2),
    VYR_FACTORY(dynamicAddrOnlySnat),
    VYR_FACTORY(dynamicAddrOnlyDnat),
    VYR_FACTORY(natTcpFlags),
    VYR_FACTORY(natCpuTrapAcl),
    VYR_FACTORY(natCpuReasonCode),
    VYR_FACTORY(egressNatCpuTrapHeader),
    VYR_FACTORY(dynamicDnatPartition0),
    VYR_FACTORY(dynamicDnatPartition1),
    VYR_FACTORY(dynamicDnatPartition2),
    VYR_FACTORY(dynamicDnatPartition3),
    VYR_FACTORY(dynamicSnatPartition0),
    VYR_FACTORY(dynamicSnatPartition1),
    VYR_FACTORY(dynamicSnatPartition2),
    VYR_FACTORY(dynamicSnatPartition3),
    VYR_FACTORY(dynamicSnatPartition4),
    VYR_FACTORY(twiceNatAddrOnly),
    VYR_FACTORY(twiceNatAddrPort),
    VYR_FACTORY(twiceNatAddrSrcPort),
    VYR_FACTORY(twiceNatAddrDstPort),
    VYR_FACTORY(twiceNatResultCheck),
    VYR_FACTORY(twiceNatRewrite),
    VYR_FACTORY(twiceNatAclId),
    VYR_FACTORY(twiceNatCpuTrapAcl),
    VYR_FACTORY(natFlow),
};

TEST(ResourceInfo, EveryTableResolvesAndIsMadeByItsFactory) {
    ASSERT_EQ(kFactories.size(), 53u);
    ASSERT_EQ(natTables().size(), 53u);
    ResourceInfo info(everything());
    auto chip = chipFactory(info.profile());
    MbbMirraKey::MirraKeyManager keys;
    VyrTableStatusManager::StatusManager status;
    std::set<std::uint32_t> indexes;
    std::set<std::string> hitBitTables;
    for (const auto& [name, factory] : kFactories) {
        SCOPED_TRACE(name);
        EXPECT_EQ(factory(*chip, &keys, &status), name);
        EXPECT_TRUE(status.tableCreated(name));
        const std::uint32_t index = info.tableIndex(name);
        ASSERT_NE(index, ResourceInfo::kInvalidTableIndex);
        EXPECT_NE(index, 0u);
        EXPECT_TRUE(indexes.insert(index).second);
        const std::optional<TableInfo> ti = info.tableInfo(index);
        ASSERT_TRUE(ti);
        EXPECT_EQ(ti->name, name);
        EXPECT_GT(ti->size, 0u);
        EXPECT_EQ(chip->tableByIndex(index), chip->table(name));
        EXPECT_EQ(chip->table(name)->capacity(), ti->size);
        if (ti->hitBitSupported) {
            hitBitTables.insert(name);
        }
    }
    EXPECT_EQ(keys.tableCount(), 53u);
    EXPECT_EQ(status.tableCreatedCount(), 53u);
    EXPECT_EQ(chip->tables().size(), 53u);
    const std::set<std::string> expectedHitBits = {
        "dynamicDnat1",          "dynamicDnat2",          "dynamicSnat1",
        "dynamicSnat2",          "dynamicAddrOnlySnat",   "dynamicAddrOnlyDnat",
        "dynamicFullConeDnat",   "dynamicDnatPartition0", "dynamicDnatPartition1",
        "dynamicDnatPartition2", "dynamicDnatPartition3", "dynamicSnatPartition0",
        "dynamicSnatPartition1", "dynamicSnatPartition2", "dynamicSnatPartition3",
        "dynamicSnatPartition4", "twiceNatRewrite"};
    EXPECT_EQ(hitBitTables, expectedHitBits);
}

TEST(ResourceInfo, ProfilesHaveOnlyTheirTables) {
    ASSERT_FALSE(resourceInfoFactory("nope"));
    auto def = resourceInfoFactory("default");
    ASSERT_TRUE(def);
    EXPECT_EQ(def->tableIndex("nope"), 0x0fffffffu);
    EXPECT_EQ(def->tableIndex("egrUcSnat"), 0x0fffffffu);
    EXPECT_NE(def->tableIndex("egressNatProfile"), 0x0fffffffu);
    EXPECT_NE(def->tableIndex("natFlow"), 0x0fffffffu);
    EXPECT_NE(def->tableIndex("twiceNatAddrSrcPort"), 0x0fffffffu);
    EXPECT_EQ(def->tableIndex("dynamicSnatPartition0"), 0x0fffffffu);
    EXPECT_FALSE(def->tableInfo(0));
    EXPECT_FALSE(def->tableInfo(0x0fffffff));
    EXPECT_FALSE(def->tableInfo(def->tableIndex("staticSnatAcl"))->hitBitSupported);
    EXPECT_TRUE(def->tableInfo(def->tableIndex("dynamicDnat1"))->hitBitSupported);
    EXPECT_TRUE(def->tableInfo(def->tableIndex("natCpuTrapAcl"))->ternary);

    auto part = resourceInfoFactory("partitioned");
    EXPECT_EQ(part->tableIndex("dynamicSnat1"), 0x0fffffffu);
    EXPECT_NE(part->tableIndex("dynamicSnatPartition1"), 0x0fffffffu);
    EXPECT_EQ(part->tableIndex("dynamicSnatPartition2"), 0x0fffffffu); // bank of size 0
    EXPECT_NE(part->tableIndex("dynamicSnatPartition3"), 0x0fffffffu);
    EXPECT_EQ(part->tableIndex("dynamicSnatPartition4"), 0x0fffffffu);
    EXPECT_EQ(part->tableInfo(part->tableIndex("dynamicDnatPartition1"))->size, 8192u);

    auto egress = resourceInfoFactory("egressNat");
    EXPECT_NE(egress->tableIndex("egrUcDnat"), 0x0fffffffu);
    EXPECT_NE(egress->tableIndex("egrAddrPortSnat"), 0x0fffffffu);
    EXPECT_NE(egress->tableIndex("ingressNatProfileEgressPipe"), 0x0fffffffu);
    EXPECT_EQ(egress->tableIndex("twiceNatRewrite"), 0x0fffffffu);

    auto vrf = resourceInfoFactory("vrfNatHop");
    EXPECT_NE(vrf->tableIndex("ingressNatAclVrf"), 0x0fffffffu);
    EXPECT_NE(vrf->tableIndex("natPolicer"), 0x0fffffffu);
    EXPECT_EQ(vrf->tableIndex("natCpuTrapAcl"), 0x0fffffffu);

    auto none = resourceInfoFactory("noNat");
    for (const TableDesc& d : natTables()) {
        EXPECT_EQ(none->tableIndex(d.name), 0x0fffffffu) << d.name;
    }
}

} // namespace
} // namespace VyrP4
