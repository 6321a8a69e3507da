#pragma once
// Table manager of dynamic NAT connections. The NAT helper hands it one connection at a time;
// it chooses one of the dynamic tables (SNAT1, SNAT2 or the part of DNAT1 kept for SNAT; DNAT1
// or DNAT2), or a partition on profiles whose dynamic capacity is in banks, writes the entry and
// records where it went. Address-only connections have tables of their own, and address-only
// DNAT connections to one public address share one entry.
//
// It owns its table objects, the two partitioned tables, the full-cone and dynamic SNAT ACL
// helpers and its records; the owner, the configuration and the entities it is given are not
// owned. Full-cone DNAT connections go to the full-cone DNAT helper. The CPU trap entries of the
// dynamic NAT rules are written here too, with the priorities the NAT helper computes, and the
// fixed trap tables once when each is built.

#include "chip/P4Tables.h"
#include "chip/ResourceInfo.h"
#include "common/NatCliCommands.h"
#include "host/HitBit.h"
#include "host/Hubdb.h"
#include "host/NatConfig.h"
#include "host/NatStatus.h"
#include "host/TableService.h"
#include "tables/HitBitTables.h"
#include "tables/NatTableManager.h"
#include "tables/dynamic/DynamicConnRecords.h"
#include "tables/dynamic/DynamicFullConeDipHelper.h"
#include "tables/dynamic/DynamicFullConeDnatHelper.h"
#include "tables/dynamic/DynamicMatchSpecs.h"
#include "tables/dynamic/DynamicPartitionedTable.h"
#include "tables/dynamic/DynamicSnatAclHelper.h"
#include "tables/dynamic/NatCpuTrapAcl.h"
#include "tables/dynamic/VyrNatHitBitSm.h"

#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

namespace VyrNat {

// The manager's trace handle, shared by its source files.
extern Trace::Handle dynamicTrace;

class VyrNatTableMgrDynamic : public NatTableManager {
public:
    using SnatRecords = DynamicConnRecords<DynamicSnatTable>;
    using DnatRecords = DynamicConnRecords<DynamicDnatTable>;

    VyrNatTableMgrDynamic(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Ip::Nat::Config> natConfig,
                          Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                          Ert::Ptr<Ert::Dir> hitBitStatusDir,
                          Ert::Ptr<Hubdb::EntityManager> entityManager,
                          std::shared_ptr<VyrP4::ResourceInfo> resourceInfo, bool natDpdk);

    void handleInitialized();
    std::vector<RecordCount> recordCounts() const override;

    // --- Show commands, written to the request socket `fd` ---
    void showSummary(int fd) const override;
    void showEntries(int fd, DynamicCliCommand cmd, DynamicSnatCliTable snatTable,
                     DynamicDnatCliTable dnatTable) const;
    void showAddress(int fd, Ip::IpAddr addr) const;

    // --- Connections, as the NAT helper asks for them; true when (still) programmed ---
    bool createDynamicSnat(const ConnTuple& flow, IpAndPort src, IpAndPort dst, IpAndPort newSrc,
                           uint16_t profile, bool fullCone, uint32_t vrfId);
    bool deleteDynamicSnat(uint16_t profile, const ConnTuple& flow, IpAndPort dst, bool fullCone,
                           uint32_t vrfId);
    bool createDynamicDnat(uint16_t profile, const ConnTuple& flow, IpAndPort src, IpAndPort dstOld,
                           IpAndPort dstNew, uint32_t nextHop, bool ecmp, bool update,
                           bool fullCone, uint32_t vrfId);
    bool deleteDynamicDnat(uint16_t profile, const ConnTuple& flow, IpAndPort dst, bool fullCone,
                           uint32_t vrfId);
    bool createDynamicAddrOnlySnat(const ConnTuple& flow, IpAndPort src, IpAndPort dst,
                                   IpAndPort newSrc, uint16_t profile);
    bool deleteDynamicAddrOnlySnat(const ConnTuple& flow, uint16_t profile);
    bool createDynamicAddrOnlyDnat(const ConnTuple& flow, IpAndPort src, IpAndPort dstOld,
                                   IpAndPort dstNew, uint32_t nextHop, bool ecmp, bool update,
                                   uint16_t profile);
    bool deleteDynamicAddrOnlyDnat(const ConnTuple& flow, IpAddr dstOld, uint16_t profile);

    // --- Activity: the hit bit (0 or 1) of the connection's entry as the last scan found it;
    // 0 for a connection that is not programmed ---
    uint64_t getSrcCounters(uint16_t profile, const ConnTuple& flow, bool fullCone,
                            uint32_t vrfId) const;
    uint64_t getDstCounters(uint16_t profile, const ConnTuple& flow, bool fullCone, IpAndPort dst,
                            uint32_t vrfId) const;
    // The hit-bit state machine and the watcher of its scans, made in handleInitialized.
    const Ert::Ptr<VyrNatHitBitSm>& vyrNatHitBitSm() const { return hitBit_.sm(); }
    const Ert::Ptr<VyrNatHitBitSm>& vyrNatHitBitSmIs(const std::string& name,
                                                     Ert::Ptr<VyrSystem::HitBitConfig> config,
                                                     std::shared_ptr<VyrP4::ResourceInfo> info,
                                                     const VyrP4::ProfileCapabilities& caps);
    void vyrNatHitBitSmDel() { hitBit_.smDel(); }
    const VyrSystem::VyrHitBitStatusWatcherSm* vyrHitBitStatusWatcherSm() const {
        return hitBit_.watcher();
    }
    const VyrSystem::VyrHitBitStatusWatcherSm*
    vyrHitBitStatusWatcherSmIs(const std::string& name, Ert::Ptr<Ert::Dir> statusDir,
                               Ert::Ptr<Hubdb::EntityManager> entityManager) {
        return hitBit_.watcherIs(name, std::move(statusDir), std::move(entityManager));
    }
    void vyrHitBitStatusWatcherSmDel() { hitBit_.watcherDel(); }

    // --- One entry in one table ---
    bool createDynamicSnat1Table(const ConnTuple& flow, IpAndPort src, IpAndPort dst,
                                 IpAndPort newIp, uint32_t vrfId);
    bool createDynamicSnat2Table(const ConnTuple& flow, IpAndPort src, IpAndPort dst,
                                 IpAndPort newIp, uint32_t vrfId);
    bool createDynamicDnat1TableForSnat(const ConnTuple& flow, IpAndPort src, IpAndPort dst,
                                        IpAndPort newIp, uint32_t vrfId);
    bool createDynamicDnat1Table(const ConnTuple& flow, DynamicTableAction action, IpAndPort src,
                                 IpAndPort dst, IpAndPort newIp, uint32_t nextHop, bool update,
                                 uint32_t vrfId);
    bool createDynamicDnat2Table(const ConnTuple& flow, DynamicTableAction action, IpAndPort src,
                                 IpAndPort dst, IpAndPort newIp, uint32_t nextHop, bool update,
                                 uint32_t vrfId);
    bool createDynamicAddrOnlyDnatTable(const ConnTuple& flow, DynamicTableAction action,
                                        IpAndPort src, IpAndPort dst, IpAndPort newDst,
                                        uint32_t nextHop, bool ecmp, bool update, uint16_t profile);

    // --- CPU trap rules; the NAT helper computes each entry's hardware priority ---
    // One entry of the rule `key` on the trap information's profile; true when written with the
    // helper entry it needs. A refused write leaves nothing behind.
    bool createNatCpuTrapAcl(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                             uint8_t protocol, IpAddrWithFullMask src, IpAddrWithFullMask dst,
                             uint16_t sport, uint16_t sportMask, uint16_t dport, uint16_t dportMask,
                             int32_t priority, bool deny, bool reverse);
    // Every entry of the rule, with their helper entries.
    void deleteNatCpuTrapAcl(const HwNatCpuTrapAclKey& key);
    // The reverse trap of interface-overload NAT to `addr`, the address of `intf`.
    bool createNatCpuTrapAclOverload(uint32_t overloadId, const IntfId& intf, IpAddr addr,
                                     int32_t priority);
    void deleteNatCpuTrapAclOverload(uint32_t overloadId, const IntfId& intf);
    // Queue a rule's (or an overload id's) move to another block of hardware priorities.
    void natCpuTrapAclToHwPriorityToUpdateIs(const HwNatCpuTrapAclKey& key, uint32_t block) {
        natCpuTrapAclToHwPriorityToUpdate_[key] = block;
    }
    void natCpuTrapAclOverloadToHwPriorityToUpdateIs(uint32_t overloadId, uint32_t block) {
        natCpuTrapAclOverloadToHwPriorityToUpdate_[overloadId] = block;
    }
    // Moves every queued entry to its new block, keeping its slot among `slotsPerBlock`, and
    // empties the queues; false when an entry stayed where it was because the chip refused it.
    bool natCpuTrapAclToHwPriorityRedistribute(uint32_t slotsPerBlock);
    // The entry of `ms` rewritten with `priority`: the new entry first, then the old one goes.
    // Nullopt, with the old entry in place, when the chip refuses the new one.
    std::optional<VyrP4::NatCpuTrapAclMatchSpec>
    natCpuTrapAclUpdatePriority(const VyrP4::NatCpuTrapAclMatchSpec& ms, int32_t priority);

    const HwNatCpuTrapAclMap& hwNatCpuTrapAcl() const { return hwNatCpuTrapAcl_; }
    const HwNatCpuTrapAcl* hwNatCpuTrapAcl(const HwNatCpuTrapAclKey& key) const;
    const HwNatCpuTrapAclOverloadMap& hwNatCpuTrapAclOverload() const {
        return hwNatCpuTrapAclOverload_;
    }
    const std::map<HwNatCpuTrapAclKey, uint32_t>& natCpuTrapAclToHwPriorityToUpdate() const {
        return natCpuTrapAclToHwPriorityToUpdate_;
    }
    const std::map<uint32_t, uint32_t>& natCpuTrapAclOverloadToHwPriorityToUpdate() const {
        return natCpuTrapAclOverloadToHwPriorityToUpdate_;
    }
    // Whether "natTcpFlags" got the SYN+ACK entry when it was built.
    bool natTcpSynAckTrapped() const { return natTcpSynAckTrapped_; }

    // --- Configuration read from the profile ---
    uint32_t dnat1TableSize() const { return dnat1TableSize_; }
    uint32_t dnat2TableSize() const { return dnat2TableSize_; }
    uint32_t snat1TableSize() const { return snat1TableSize_; }
    uint32_t snat2TableSize() const { return snat2TableSize_; }
    uint32_t dynamicAddrOnlySnatTableSize() const { return dynamicAddrOnlySnatTableSize_; }
    uint32_t dynamicAddrOnlyDnatTableSize() const { return dynamicAddrOnlyDnatTableSize_; }
    bool snatDynFullConeSupported() const { return snatDynFullConeSupported_; }
    bool dynFullConeSupported() const { return dynFullConeSupported_; }
    bool natInVrfSupported() const { return natInVrfSupported_; }
    bool natDpdk() const { return natDpdk_; }

    // DNAT1's split between the directions.
    uint32_t dnat1SnatEntries() const { return dnat1SnatEntries_; }
    uint32_t dnat1SnatEntriesMax() const { return dnat1SnatEntriesMax_; }
    uint32_t dnat1DnatEntries() const { return dnat1DnatEntries_; }
    uint32_t dnat1DnatEntriesMax() const { return dnat1DnatEntriesMax_; }

    // Placement overrides and failure injection, for tests and the debug CLI.
    DynamicSnatTable forceSnatTable() const { return forceSnatTable_; }
    void forceSnatTableIs(DynamicSnatTable t) { forceSnatTable_ = t; }
    DynamicDnatTable forceDnatTable() const { return forceDnatTable_; }
    void forceDnatTableIs(DynamicDnatTable t) { forceDnatTable_ = t; }
    bool forceHwError() const { return forceHwError_; }
    void forceHwErrorIs(bool on) { forceHwError_ = on; }

    // --- Records ---
    // Where each connection's SNAT and DNAT entry lives, with its match addresses; the
    // per-table collections (snat1, dnat2, ...) are the records of one table.
    const SnatRecords& dynamicSnatTable() const { return dynamicSnatTable_; }
    const DnatRecords& dynamicDnatTable() const { return dynamicDnatTable_; }
    std::optional<VyrP4::DynamicSnat1MatchSpec> snat1(const FlowAndVrfType& key) const;
    std::optional<VyrP4::DynamicSnat2MatchSpec> snat2(const FlowAndVrfType& key) const;
    std::optional<VyrP4::DynamicDnat1MatchSpec> dnat1Snat(const FlowAndVrfType& key) const;
    std::optional<VyrP4::DynamicDnat1MatchSpec> dnat1Dnat(const FlowAndVrfType& key) const;
    std::optional<VyrP4::DynamicDnat2MatchSpec> dnat2(const FlowAndVrfType& key) const;
    // The match spec of `Spec`'s table for a connection written with `addrs`.
    template <class Spec>
    Spec matchSpec(uint8_t protocol, const MatchAddrs& addrs, uint32_t vrfId) const {
        const bool metadata = std::is_same_v<Spec, VyrP4::DynamicDnat1MatchSpec>
                                  ? fullConeCapable_
                                  : snatDynFullConeSupported_;
        return dynamicMatchSpec<Spec>(protocol, addrs, matchVrf(vrfId), metadata);
    }

    const std::unordered_map<FlowAndProfileType, VyrP4::DynamicAddrOnlySnatMatchSpec>&
    dynamicAddrOnlySnatKeyToMatchSpec() const {
        return dynamicAddrOnlySnatKeyToMatchSpec_;
    }
    struct AddrOnlyDnatShare { // DynamicAddrOnlyDnatKeyToMatchSpecAndRefCountType
        VyrP4::DynamicAddrOnlyDnatMatchSpec matchSpec;
        uint32_t refCount = 0;
    };
    const std::unordered_map<IpAndProfileType, AddrOnlyDnatShare>&
    dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount() const {
        return dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_;
    }
    const std::unordered_map<FlowAndProfileType, IpAddr>&
    dynamicAddrOnlyDnatFlowProfileToNewDip() const {
        return dynamicAddrOnlyDnatFlowProfileToNewDip_;
    }

    const Ert::Ptr<DynamicSnatPartitionedTable>& dynamicSnatPartitionedTable() const {
        return dynamicSnatPartitionedTable_;
    }
    const Ert::Ptr<DynamicDnatPartitionedTable>& dynamicDnatPartitionedTable() const {
        return dynamicDnatPartitionedTable_;
    }

    // The full-cone and dynamic SNAT ACL helpers; null without the profile's capability.
    const Ert::Ptr<VyrDynamicFullConeDipHelper>& dynamicFullConeHelper() const {
        return dynamicFullConeHelper_;
    }
    const Ert::Ptr<VyrDynamicFullConeDnatHelper>& dynamicFullConeDnatHelper() const {
        return dynamicFullConeDnatHelper_;
    }
    const Ert::Ptr<VyrDynamicSnatAclHelper>& dynamicSnatAclHelper() const {
        return dynamicSnatAclHelper_;
    }

    // --- Tables ---
    const std::shared_ptr<VyrP4::DynamicDnat1Table>& dynamicDnat1Table() const { return dnat1_; }
    const std::shared_ptr<VyrP4::DynamicDnat2Table>& dynamicDnat2Table() const { return dnat2_; }
    const std::shared_ptr<VyrP4::DynamicSnat1Table>& dynamicSnat1Table() const { return snat1_; }
    const std::shared_ptr<VyrP4::DynamicSnat2Table>& dynamicSnat2Table() const { return snat2_; }
    const std::shared_ptr<VyrP4::DynamicAddrOnlySnatTable>& dynamicAddrOnlySnatTable() const {
        return addrOnlySnat_;
    }
    const std::shared_ptr<VyrP4::DynamicAddrOnlyDnatTable>& dynamicAddrOnlyDnatTable() const {
        return addrOnlyDnat_;
    }
    const std::shared_ptr<VyrP4::NatCpuTrapAclTable>& natCpuTrapAclTable() const {
        return natCpuTrapAcl_;
    }
    const std::shared_ptr<VyrP4::NatTcpFlagsTable>& natTcpFlagsTable() const {
        return natTcpFlags_;
    }
    const std::shared_ptr<VyrP4::NatCpuReasonCodeTable>& natCpuReasonCodeTable() const {
        return natCpuReasonCode_;
    }
    const std::shared_ptr<VyrP4::EgressNatCpuTrapHeaderTable>& egressNatCpuTrapHeaderTable() const {
        return egressNatCpuTrapHeader_;
    }

private:
    // The VRF the four five-tuple tables match; nullopt when the profile's specs carry none.
    MatchVrf matchVrf(uint32_t vrfId) const {
        return natInVrfSupported_ ? MatchVrf(uint16_t(vrfId)) : std::nullopt;
    }
    // False, traced, when the five-tuple tables' 16-bit VRF field cannot hold `vrfId`.
    bool vrfFits(uint32_t vrfId);
    // A connection into the partitions; a refusal passes the partitions' reason on.
    bool partitionAdd(DynamicNatPartitionedTable& parts, const ConnTuple& flow, IpAndPort src,
                      IpAndPort dst, IpAndPort newIp, uint32_t vrfId);
    void declareTables();
    void attachHelperTables();
    // The chip's handle of a recorded connection's entry.
    template <class Table>
    VyrP4::VyrSdkEntryHandle handleOf(const Table* table, const ConnTuple& flow,
                                      const MatchAddrs& addrs, uint32_t vrfId) const;
    // The bit of the entry at `handle` of the table that `place` (a DynamicSnatTable or
    // DynamicDnatTable) names.
    uint64_t hitBitOf(const ConnTuple& flow, bool snat, uint8_t place, uint8_t partitionId,
                      VyrP4::VyrSdkEntryHandle handle) const;
    void setUpPartitions();

    // The sections of the show commands that list more than one table's connections.
    void showCpuTrapAcl(int fd) const;
    void showUnprogrammed(int fd) const;

    // The fixed trap tables, written once as each is built.
    void initTrapTablesOnCreation();
    void initNatTcpFlagsTable();
    void addNatTcpFlagsEntry(uint8_t flags);
    void initNatCpuReasonCodeTable();
    void initEgressNatCpuTrapHeaderTable();
    void initEgressNatCpuTrapHeaderEntry(uint8_t aclHi, uint8_t aclLo,
                                         const VyrP4::EgressNatCpuTrapHeaderTable::Action& action);
    // The helper entry a trap entry's flags call for: its dynamic SNAT ACL entry or its
    // full-cone entry. False when the helper refuses it.
    bool trapHelperEntryIs(const HwNatCpuTrapAclEntry& e, uint16_t profile, int32_t priority);
    void trapHelperEntryDel(const HwNatCpuTrapAclEntry& e, uint16_t profile);
    bool snatAclTrapped(const HwNatCpuTrapAclEntry& e) const;
    bool fullConeTrapped(const HwNatCpuTrapAclEntry& e) const;

    template <class Table, class Action>
    bool writeConnEntry(Table& table, const typename Table::MatchSpec& ms, const Action& action,
                        bool update, const char* op);
    // Removes the entry a recorded connection was written with.
    template <class Table>
    void eraseEntry(Table* table, const ConnTuple& flow, const MatchAddrs& addrs, uint32_t vrfId);
    bool createSnatInto(DynamicSnatTable table, const ConnTuple& flow, IpAndPort src, IpAndPort dst,
                        IpAndPort newSrc, uint32_t vrfId);
    bool createDnatInto(DynamicDnatTable table, const ConnTuple& flow, DynamicTableAction action,
                        IpAndPort src, IpAndPort dst, IpAndPort newIp, uint32_t nextHop,
                        bool update, uint32_t vrfId);

    Ert::Ptr<Ip::Nat::Config> natConfig_;
    Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig_;
    Ert::Ptr<Ert::Dir> hitBitStatusDir_;
    Ert::Ptr<Hubdb::EntityManager> entityManager_;
    std::shared_ptr<VyrP4::ResourceInfo> resourceInfo_;
    bool natDpdk_;

    uint32_t dnat1TableSize_ = 0;
    uint32_t dnat2TableSize_ = 0;
    uint32_t snat1TableSize_ = 0;
    uint32_t snat2TableSize_ = 0;
    uint32_t dynamicAddrOnlySnatTableSize_ = 0;
    uint32_t dynamicAddrOnlyDnatTableSize_ = 0;
    uint32_t dnat1SnatEntries_ = 0;
    uint32_t dnat1SnatEntriesMax_ = 0;
    uint32_t dnat1DnatEntries_ = 0;
    uint32_t dnat1DnatEntriesMax_ = 0;
    bool snatDynFullConeSupported_ = false;
    bool fullConeCapable_ = false; // the profile's full-cone capability
    bool dynFullConeSupported_ = false;
    bool dynFullConeDnatSupported_ = false;
    bool natInVrfSupported_ = false;
    DynamicSnatTable forceSnatTable_ = DynamicSnatTable::dynSnatUnknown;
    DynamicDnatTable forceDnatTable_ = DynamicDnatTable::dynDnatUnknown;
    bool forceHwError_ = false;

    SnatRecords dynamicSnatTable_;
    DnatRecords dynamicDnatTable_;
    std::unordered_map<FlowAndProfileType, VyrP4::DynamicAddrOnlySnatMatchSpec>
        dynamicAddrOnlySnatKeyToMatchSpec_;
    std::unordered_map<IpAndProfileType, AddrOnlyDnatShare>
        dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_;
    std::unordered_map<FlowAndProfileType, IpAddr> dynamicAddrOnlyDnatFlowProfileToNewDip_;

    Ert::Ptr<DynamicSnatPartitionedTable> dynamicSnatPartitionedTable_;
    Ert::Ptr<DynamicDnatPartitionedTable> dynamicDnatPartitionedTable_;
    Ert::Ptr<VyrDynamicFullConeDipHelper> dynamicFullConeHelper_;
    Ert::Ptr<VyrDynamicFullConeDnatHelper> dynamicFullConeDnatHelper_;
    Ert::Ptr<VyrDynamicSnatAclHelper> dynamicSnatAclHelper_;

    HitBitMachines<VyrNatHitBitSm> hitBit_;

    HwNatCpuTrapAclMap hwNatCpuTrapAcl_;
    HwNatCpuTrapAclOverloadMap hwNatCpuTrapAclOverload_;
    std::map<HwNatCpuTrapAclKey, uint32_t> natCpuTrapAclToHwPriorityToUpdate_;
    std::map<uint32_t, uint32_t> natCpuTrapAclOverloadToHwPriorityToUpdate_;
    bool natTcpSynAckTrapped_ = false;

    std::shared_ptr<VyrP4::DynamicFullConeTable> fullCone_;
    std::shared_ptr<VyrP4::DynamicFullConeDipTable> fullConeDip_;
    std::shared_ptr<VyrP4::DynamicFullConeDnatTable> fullConeDnat_;
    std::shared_ptr<VyrP4::DynamicFullConeCompressDipTable> fullConeCompressDip_;
    std::shared_ptr<VyrP4::DynamicSnatAclTable> snatAcl_;
    std::shared_ptr<VyrP4::DynamicDnat1Table> dnat1_;
    std::shared_ptr<VyrP4::DynamicDnat2Table> dnat2_;
    std::shared_ptr<VyrP4::DynamicSnat1Table> snat1_;
    std::shared_ptr<VyrP4::DynamicSnat2Table> snat2_;
    std::shared_ptr<VyrP4::DynamicAddrOnlySnatTable> addrOnlySnat_;
    std::shared_ptr<VyrP4::DynamicAddrOnlyDnatTable> addrOnlyDnat_;
    std::shared_ptr<VyrP4::NatTcpFlagsTable> natTcpFlags_;
    std::shared_ptr<VyrP4::NatCpuTrapAclTable> natCpuTrapAcl_;
    std::shared_ptr<VyrP4::NatCpuReasonCodeTable> natCpuReasonCode_;
    std::shared_ptr<VyrP4::EgressNatCpuTrapHeaderTable> egressNatCpuTrapHeader_;
};

Ert::Ptr<VyrNatTableMgrDynamic> vyrNatTableMgrDynamicFactory(
    VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Ip::Nat::Config> natConfig,
    Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig, Ert::Ptr<Ert::Dir> hitBitStatusDir,
    Ert::Ptr<Hubdb::EntityManager> entityManager, std::shared_ptr<VyrP4::ResourceInfo> resourceInfo,
    bool natDpdk);

} // namespace VyrNat
