#include <gtest/gtest.h>

#include <set>

#include "chip/Chip.h"
#include "chip/P4Tables.h"
#include "chip/ResourceInfo.h"

namespace VyrP4 {
namespace {

static_assert(std::is_same_v<DynamicSnatPartition3Table, DynamicSnatPartitionCmnTable>);
static_assert(std::is_same_v<DynamicDnatPartition0MatchSpec, DynamicDnatPartitionCmnMatchSpec>);

// A chip with every feature and every table; sized tables hold 16 entries, on two pipes.
ProfileCapabilities everything() {
    ProfileCapabilities p;
    std::string error;
    for (const std::string& f : ProfileCapabilities::fieldNames()) {
        const std::string value = f == "name"                    ? "everything"
                                  : f == "dnatPartitionBankSize" ? "16,16,16,16"
                                  : f == "snatPartitionBankSize" ? "16,16,16,16,16"
                                  : f == "pipes"                 ? "2"
                                  : *p.field(f) == "false"       ? "true"
                                                                 : "16";
        EXPECT_TRUE(p.fieldIs(f, value, error)) << error;
    }
    return p;
}

TEST(ResourceInfo, EveryTableResolvesToItsEngineOnTheChip) {
    ASSERT_EQ(natTables().size(), 53u);
    ResourceInfo info(everything());
    auto chip = chipFactory(info.profile());
    std::set<std::uint32_t> indexes;
    for (const TableDesc& d : natTables()) {
        SCOPED_TRACE(d.name);
        const std::shared_ptr<TableEngine> engine = chip->tableEngineIs(d);
        const std::uint32_t index = info.tableIndex(d.name);
        EXPECT_NE(index, 0u);
        EXPECT_TRUE(indexes.insert(index).second);
        const std::optional<TableInfo> ti = info.tableInfo(index);
        ASSERT_TRUE(ti);
        EXPECT_EQ(ti->name, d.name);
        EXPECT_EQ(ti->size, engine->capacity());
        EXPECT_EQ(chip->tableByIndex(index), engine.get());
        EXPECT_EQ(chip->table(d.name), engine.get());
    }
    EXPECT_EQ(chip->tables().size(), 53u);
}

TEST(ResourceInfo, ProfilesHaveOnlyTheirTables) {
    struct Case {
        const char* profile;
        std::vector<std::string> has, lacks;
    };
    const Case cases[] = {
        {"default",
         {"egressNatProfile", "natFlow", "twiceNatAddrSrcPort"},
         {"nope", "egrUcSnat", "dynamicSnatPartition0"}},
        {"partitioned",
         {"dynamicSnatPartition1", "dynamicSnatPartition3"},
         {"dynamicSnat1", "dynamicSnatPartition2", "dynamicSnatPartition4"}}, // 2: a bank of size 0
        {"egressNat",
         {"egrUcDnat", "egrAddrPortSnat", "ingressNatProfileEgressPipe"},
         {"twiceNatRewrite"}},
        {"vrfNatHop", {"ingressNatAclVrf", "natPolicer"}, {"natCpuTrapAcl"}},
    };
    for (const Case& c : cases) {
        const auto info = resourceInfoFactory(c.profile);
        ASSERT_TRUE(info);
        for (const std::string& t : c.has) {
            EXPECT_NE(info->tableIndex(t), ResourceInfo::kInvalidTableIndex)
                << c.profile << " " << t;
        }
        for (const std::string& t : c.lacks) {
            EXPECT_EQ(info->tableIndex(t), ResourceInfo::kInvalidTableIndex)
                << c.profile << " " << t;
        }
    }
    ASSERT_FALSE(resourceInfoFactory("nope"));
    const auto none = resourceInfoFactory("noNat");
    for (const TableDesc& d : natTables()) {
        EXPECT_EQ(none->tableIndex(d.name), ResourceInfo::kInvalidTableIndex) << d.name;
        EXPECT_FALSE(none->tableInfo(d.position + 1)) << d.name;
    }

    const auto def = resourceInfoFactory("default");
    EXPECT_FALSE(def->tableInfo(0));
    EXPECT_FALSE(def->tableInfo(ResourceInfo::kInvalidTableIndex));
    EXPECT_FALSE(def->tableInfo(def->tableIndex("staticSnatAcl"))->hitBitSupported);
    EXPECT_TRUE(def->tableInfo(def->tableIndex("dynamicDnat1"))->hitBitSupported);
    EXPECT_TRUE(def->tableInfo(def->tableIndex("natCpuTrapAcl"))->ternary);
    const auto part = resourceInfoFactory("partitioned");
    EXPECT_EQ(part->tableInfo(part->tableIndex("dynamicDnatPartition1"))->size, 8192u);
}

} // namespace
} // namespace VyrP4
