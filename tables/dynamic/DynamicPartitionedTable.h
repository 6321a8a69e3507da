#pragma once
// Dynamic connections on chip profiles whose dynamic capacity is split into table banks. Each
// bank is a partition with its own P4 table; the partitions of one direction share one match
// and action layout, the five-tuple without the VRF. A partitioned table owns one direction's
// partitions, places each new connection in the lowest partition with room and records where it
// went.

#include "chip/P4Tables.h"
#include "host/Ptr.h"
#include "tables/dynamic/DynamicConnRecords.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

namespace VyrNat {

class DynamicNatPartition : public Ert::RefCounted {
public:
    // `name` is the bank's table name, static: "dynamicSnatPartition2".
    DynamicNatPartition(const char* name, uint8_t partitionId, uint32_t size)
        : name_(name), partitionId_(partitionId), size_(size) {}

    const char* name() const { return name_; }
    uint8_t partitionId() const { return partitionId_; }
    // Entries the bank holds, from the profile.
    uint32_t size() const { return size_; }
    // Entries written.
    uint32_t entries() const { return entries_; }
    void entriesInc() { ++entries_; }
    void entriesDec() { --entries_; }
    bool full() const { return entries_ == size_; }

private:
    const char* name_;
    uint8_t partitionId_;
    uint32_t size_;
    uint32_t entries_ = 0;
};

template <class Table> class DynamicNatPartitionOf : public DynamicNatPartition {
public:
    using TableType = Table;
    using DynamicNatPartition::DynamicNatPartition;
    // Null until the table service brings the bank's table up.
    std::shared_ptr<Table>& table() { return table_; }
    const std::shared_ptr<Table>& table() const { return table_; }

private:
    std::shared_ptr<Table> table_;
};

using DynamicSnatPartition = DynamicNatPartitionOf<VyrP4::DynamicSnatPartitionCmnTable>;
using DynamicDnatPartition = DynamicNatPartitionOf<VyrP4::DynamicDnatPartitionCmnTable>;

Ert::Ptr<DynamicSnatPartition> dynamicSnatPartitionFactory(const char* name, uint8_t partitionId,
                                                           uint32_t size);
Ert::Ptr<DynamicDnatPartition> dynamicDnatPartitionFactory(const char* name, uint8_t partitionId,
                                                           uint32_t size);

class DynamicNatPartitionedTable : public Ert::RefCounted {
public:
    using Records = DynamicConnRecords<uint8_t>; // by partition id

    // Writes the connection's entry into a partition; false when every partition is full, the
    // chip refused the write, or another connection holds the same match (the match carries no
    // VRF, so the same five-tuple in two VRFs is one entry).
    virtual bool addEntry(const ConnTuple& flow, IpAndPort src, IpAndPort dst, IpAndPort newIp,
                          uint32_t vrfId) {
        (void)flow, (void)src, (void)dst, (void)newIp, (void)vrfId;
        return false;
    }
    // Removes a recorded connection's entry.
    virtual bool deleteEntry(const ConnTuple& flow, uint32_t vrfId) {
        (void)flow, (void)vrfId;
        return false;
    }

    // The partitions by id, ascending.
    const std::map<uint8_t, Ert::Ptr<DynamicNatPartition>>& partition() const { return partition_; }
    // Null when there is none.
    DynamicNatPartition* partition(uint8_t partitionId) const;
    void partitionDel(uint8_t partitionId) { partition_.erase(partitionId); }

    const Records& flowToMatchSpecMap() const { return flowToMatchSpecMap_; }
    std::optional<DynamicNatPartitionAndMatchSpec>
    flowToMatchSpecMap(const FlowAndVrfType& key) const;
    bool flowToMatchSpecMapHas(const FlowAndVrfType& key) const {
        return flowToMatchSpecMap_.find(key.flow, key.vrfId).has_value();
    }
    // Why the last refused add was refused.
    const std::string& refusal() const { return refusal_; }

protected:
    std::map<uint8_t, Ert::Ptr<DynamicNatPartition>> partition_;
    Records flowToMatchSpecMap_{false};
    std::string refusal_;
};

// One direction's partitioned table; `Dir` gives its partition type, names and action.
template <class Dir> class DynamicPartitionedTableOf : public DynamicNatPartitionedTable {
public:
    using Partition = typename Dir::Partition;
    using Table = typename Partition::TableType;

    void partitionIs(Ert::Ptr<Partition> p);
    // The partition's typed view; null when there is none.
    Partition* typedPartition(uint8_t partitionId) const {
        return static_cast<Partition*>(partition(partitionId));
    }
    bool addEntry(const ConnTuple& flow, IpAndPort src, IpAndPort dst, IpAndPort newIp,
                  uint32_t vrfId) override;
    bool deleteEntry(const ConnTuple& flow, uint32_t vrfId) override;
    // deleteEntry of a connection that may have no entry (one the partitions refused): false
    // for those.
    bool removeEntry(const ConnTuple& flow, uint32_t vrfId);
    // The match spec of a recorded connection.
    static typename Table::MatchSpec matchSpec(uint8_t protocol, const MatchAddrs& addrs);
};

struct SnatPartitionDir {
    using Partition = DynamicSnatPartition;
    static constexpr const char* kSide = " SNAT";
    static constexpr const char* kTableName = "dynamicSnatPartition";
};
struct DnatPartitionDir {
    using Partition = DynamicDnatPartition;
    static constexpr const char* kSide = " DNAT";
    static constexpr const char* kTableName = "dynamicDnatPartition";
};

class DynamicSnatPartitionedTable final : public DynamicPartitionedTableOf<SnatPartitionDir> {};
class DynamicDnatPartitionedTable final : public DynamicPartitionedTableOf<DnatPartitionDir> {};

Ert::Ptr<DynamicSnatPartitionedTable> dynamicSnatPartitionedTableFactory();
Ert::Ptr<DynamicDnatPartitionedTable> dynamicDnatPartitionedTableFactory();

} // namespace VyrNat
