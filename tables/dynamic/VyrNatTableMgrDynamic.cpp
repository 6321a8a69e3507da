#include "tables/dynamic/VyrNatTableMgrDynamic.h"

#include "host/Assert.h"
#include "host/SystemStatus.h"

namespace VyrNat {

Trace::Handle dynamicTrace("VyrNatTableMgrDynamic");

namespace {

// The bank tables of each direction, by bank number.
constexpr const char* kDnatPartitionNames[] = {"dynamicDnatPartition0", "dynamicDnatPartition1",
                                               "dynamicDnatPartition2", "dynamicDnatPartition3"};
constexpr const char* kSnatPartitionNames[] = {"dynamicSnatPartition0", "dynamicSnatPartition1",
                                               "dynamicSnatPartition2", "dynamicSnatPartition3",
                                               "dynamicSnatPartition4"};
constexpr decltype(&VyrP4::dynamicDnatPartition0TableFactory) kDnatPartitionFactories[] = {
    VyrP4::dynamicDnatPartition0TableFactory, VyrP4::dynamicDnatPartition1TableFactory,
    VyrP4::dynamicDnatPartition2TableFactory, VyrP4::dynamicDnatPartition3TableFactory};
constexpr decltype(&VyrP4::dynamicSnatPartition0TableFactory) kSnatPartitionFactories[] = {
    VyrP4::dynamicSnatPartition0TableFactory, VyrP4::dynamicSnatPartition1TableFactory,
    VyrP4::dynamicSnatPartition2TableFactory, VyrP4::dynamicSnatPartition3TableFactory,
    VyrP4::dynamicSnatPartition4TableFactory};

// Lists one direction's banks as partitions of `partitioned`; returns their total size.
template <std::size_t N, class Partitioned, class PartitionFactory, class TableFactory>
uint64_t addPartitions(TableList& tables, Partitioned& partitioned,
                       const std::vector<uint32_t>& bankSizes, const char* const (&names)[N],
                       PartitionFactory partitionFactory, const TableFactory (&tableFactories)[N]) {
    uint64_t total = 0;
    for (uint32_t bank = 0; bank < bankSizes.size(); ++bank) {
        const VyrSystem::TableBankId id(bank);
        if (bankSizes[bank] == 0) {
            continue;
        }
        VYR_CHECK(bank < N, "partition id beyond the program's partition tables");
        total += bankSizes[bank];
        auto partition = partitionFactory(names[bank], uint8_t(id.value()), bankSizes[bank]);
        tables.add(names[bank], partition->table(), tableFactories[bank]);
        partitioned.partitionIs(std::move(partition));
    }
    return total;
}

} // namespace

VyrNatTableMgrDynamic::VyrNatTableMgrDynamic(VyrAgentLib::VyrTableMgr* tableMgr,
                                             Ert::Ptr<Ip::Nat::Config> natConfig,
                                             Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                                             Ert::Ptr<Ert::Dir> hitBitStatusDir,
                                             Ert::Ptr<Hubdb::EntityManager> entityManager,
                                             std::shared_ptr<VyrP4::ResourceInfo> resourceInfo,
                                             bool natDpdk)
    : NatTableManager(tableMgr, dynamicTrace), natConfig_(std::move(natConfig)),
      hitBitConfig_(std::move(hitBitConfig)), hitBitStatusDir_(std::move(hitBitStatusDir)),
      entityManager_(std::move(entityManager)), resourceInfo_(std::move(resourceInfo)),
      natDpdk_(natDpdk) {
    handleInitialized();
    declareTables();
}

void VyrNatTableMgrDynamic::handleInitialized() {
    VTRACE(dynamicTrace, 0,
           "handleInitialized"
               << ", natDpdk: " << natDpdk_);
    const auto& caps = tableMgr()->profileCapabilities();
    dnat1TableSize_ = caps.dnat1TableSize();
    dnat2TableSize_ = caps.dnat2TableSize();
    snat1TableSize_ = caps.snat1TableSize();
    snat2TableSize_ = caps.snat2TableSize();
    dynamicAddrOnlySnatTableSize_ = caps.dynamicAddrOnlySnatTableSize();
    dynamicAddrOnlyDnatTableSize_ = caps.dynamicAddrOnlyDnatTableSize();
    VTRACE(dynamicTrace, 0, "Dynamic dnat 1 table size: " << dnat1TableSize_);
    VTRACE(dynamicTrace, 0, "Dynamic dnat 2 table size: " << dnat2TableSize_);
    VTRACE(dynamicTrace, 0, "Dynamic snat 1 table size: " << snat1TableSize_);
    VTRACE(dynamicTrace, 0, "Dynamic snat 2 table size: " << snat2TableSize_);
    VTRACE(dynamicTrace, 0,
           "Dynamic Address Only table size: " << dynamicAddrOnlySnatTableSize_ << ", "
                                               << dynamicAddrOnlyDnatTableSize_);
    dnat1SnatEntries_ = 0;
    dnat1DnatEntries_ = 0;
    snatDynFullConeSupported_ = caps.snatDynFullConeSupported();
    natInVrfSupported_ = caps.natInVrfSupported();
    fullConeCapable_ = caps.dynFullConeSupported();
    dynFullConeDnatSupported_ = caps.dynFullConeDnatSupported();
    dynFullConeSupported_ = fullConeCapable_ || dynFullConeDnatSupported_;
    if (fullConeCapable_) {
        dynamicFullConeHelper_ = vyrDynamicFullConeDipHelperFactory();
        dynamicFullConeHelper_->initRangeMap(uint16_t(caps.dynFullConeRangeCount()));
        dynamicFullConeHelper_->l4PortSupportedIs(false);
    }
    if (dynFullConeDnatSupported_) {
        dynamicFullConeDnatHelper_ = vyrDynamicFullConeDnatHelperFactory();
        dynamicFullConeDnatHelper_->initRangeMap(uint16_t(caps.dynFullConeDnatRangeCount()));
        dynamicFullConeDnatHelper_->l4PortSupportedIs(true);
    }
    if (snatDynFullConeSupported_) {
        dynamicSnatAclHelper_ = vyrDynamicSnatAclHelperFactory();
    }
    dynamicSnatTable_ = SnatRecords(natInVrfSupported_);
    dynamicDnatTable_ = DnatRecords(natInVrfSupported_);

    // DNAT1 serves both directions. Without full-cone DNAT, SNAT gets the part of it that gives
    // both directions the same capacity in all.
    dnat1SnatEntriesMax_ = 0;
    if (!dynFullConeDnatSupported_) {
        const uint64_t dnat = uint64_t(dnat1TableSize_) + dnat2TableSize_;
        const uint64_t snat = uint64_t(snat1TableSize_) + snat2TableSize_;
        VYR_CHECK(dnat >= snat, "dnat1TableSize() + dnat2TableSize() >= snat1TableSize() + "
                                "snat2TableSize()");
        dnat1SnatEntriesMax_ = uint32_t((dnat - snat) / 2);
        VYR_ASSERT(dnat1SnatEntriesMax() <= dnat1TableSize());
    }
    dnat1DnatEntriesMax_ = dnat1TableSize_ - dnat1SnatEntriesMax_;
    VTRACE(dynamicTrace, 0,
           "Dynamic dnat1 entries reserved for snat: " << dnat1SnatEntriesMax_
                                                       << ", dnat: " << dnat1DnatEntriesMax_);

    dynamicDnatPartitionedTable_ = dynamicDnatPartitionedTableFactory();
    dynamicSnatPartitionedTable_ = dynamicSnatPartitionedTableFactory();
    // Without the host's hit-bit service connections read as idle.
    if (hitBitConfig_ && resourceInfo_) {
        vyrNatHitBitSmIs("VyrNatHitBitSm", hitBitConfig_, resourceInfo_,
                         tableMgr()->profileCapabilities());
        vyrHitBitStatusWatcherSmIs("VyrHitBitStatusWatcherSm", hitBitStatusDir_, entityManager_);
    }
}

const Ert::Ptr<VyrNatHitBitSm>& VyrNatTableMgrDynamic::vyrNatHitBitSmIs(
    const std::string& name, Ert::Ptr<VyrSystem::HitBitConfig> config,
    std::shared_ptr<VyrP4::ResourceInfo> info, const VyrP4::ProfileCapabilities& caps) {
    return hitBit_.smIs(name, std::move(config), std::move(info), caps, tableMgr()->sharedMemory());
}

void VyrNatTableMgrDynamic::declareTables() {
    using namespace VyrP4;
    const auto& caps = tableMgr()->profileCapabilities();
    auto when = [](bool listed) { return [listed] { return listed; }; };
    tables_.add("dynamicFullCone", fullCone_, dynamicFullConeTableFactory,
                when(caps.dynFullConeTableSize() != 0));
    tables_.add("dynamicFullConeDip", fullConeDip_, dynamicFullConeDipTableFactory,
                when(caps.dynFullConeTableSize() != 0));
    tables_.add("dynamicFullConeDnat", fullConeDnat_, dynamicFullConeDnatTableFactory,
                when(dynFullConeDnatSupported_));
    tables_.add("dynamicFullConeCompressDip", fullConeCompressDip_,
                dynamicFullConeCompressDipTableFactory, when(dynFullConeDnatSupported_));
    tables_.add("dynamicSnatAcl", snatAcl_, dynamicSnatAclTableFactory,
                when(snatDynFullConeSupported_));
    tables_.add("dynamicDnat1", dnat1_, dynamicDnat1TableFactory, when(dnat1TableSize_ != 0));
    tables_.add("dynamicDnat2", dnat2_, dynamicDnat2TableFactory, when(dnat2TableSize_ != 0));
    tables_.add("dynamicSnat1", snat1_, dynamicSnat1TableFactory, when(snat1TableSize_ != 0));
    tables_.add("dynamicSnat2", snat2_, dynamicSnat2TableFactory, when(snat2TableSize_ != 0));
    tables_.add("dynamicAddrOnlySnat", addrOnlySnat_, dynamicAddrOnlySnatTableFactory,
                when(dynamicAddrOnlySnatTableSize_ != 0));
    tables_.add("dynamicAddrOnlyDnat", addrOnlyDnat_, dynamicAddrOnlyDnatTableFactory,
                when(dynamicAddrOnlyDnatTableSize_ != 0));
    tables_.add("natTcpFlags", natTcpFlags_, natTcpFlagsTableFactory);
    tables_.add("natCpuTrapAcl", natCpuTrapAcl_, natCpuTrapAclTableFactory);
    tables_.add("natCpuReasonCode", natCpuReasonCode_, natCpuReasonCodeTableFactory);
    setUpPartitions();
    tables_.add("egressNatCpuTrapHeader", egressNatCpuTrapHeader_,
                egressNatCpuTrapHeaderTableFactory);
    attachHelperTables();
    initTrapTablesOnCreation();
}

// The helpers write into the manager's table objects once the table service has built them.
void VyrNatTableMgrDynamic::attachHelperTables() {
    auto attach = [this](const char* name, auto* helper, auto setter, auto& slot) {
        if (helper) {
            tables_.onCreated(
                name, [helper, setter, &slot](const TableCreation&) { (helper->*setter)(slot); });
        }
    };
    using Dip = VyrDynamicFullConeDipHelper;
    using Dnat = VyrDynamicFullConeDnatHelper;
    attach("dynamicFullCone", dynamicFullConeHelper_.get(), &Dip::dynamicFullConeTableIs,
           fullCone_);
    attach("dynamicFullConeDip", dynamicFullConeHelper_.get(), &Dip::dynamicFullConeDipTableIs,
           fullConeDip_);
    attach("dynamicFullConeDnat", dynamicFullConeDnatHelper_.get(),
           &Dnat::dynamicFullConeDnatTableIs, fullConeDnat_);
    attach("dynamicFullConeCompressDip", dynamicFullConeDnatHelper_.get(),
           &Dnat::dynamicFullConeCompressDipTableIs, fullConeCompressDip_);
    attach("dynamicSnatAcl", dynamicSnatAclHelper_.get(),
           &VyrDynamicSnatAclHelper::dynamicSnatAclTableIs, snatAcl_);
}

void VyrNatTableMgrDynamic::setUpPartitions() {
    const auto& caps = tableMgr()->profileCapabilities();
    const uint64_t dnatPartitionTotalSize =
        addPartitions(tables_, *dynamicDnatPartitionedTable_, caps.dnatPartitionBankSize(),
                      kDnatPartitionNames, dynamicDnatPartitionFactory, kDnatPartitionFactories);
    const uint64_t snatPartitionTotalSize =
        addPartitions(tables_, *dynamicSnatPartitionedTable_, caps.snatPartitionBankSize(),
                      kSnatPartitionNames, dynamicSnatPartitionFactory, kSnatPartitionFactories);
    VYR_ASSERT(dnatPartitionTotalSize == snatPartitionTotalSize);
}

std::vector<RecordCount> VyrNatTableMgrDynamic::recordCounts() const {
    using S = DynamicSnatTable;
    using D = DynamicDnatTable;
    std::vector<RecordCount> counts{
        {" tmd->dynamicSnatTables() ", dynamicSnatTable_.size()},
        {" tmd->dynamicDnatTables() ", dynamicDnatTable_.size()},
        {" tmd->snat1s() ", dynamicSnatTable_.count(S::dynSnat1)},
        {" tmd->snat2s() ", dynamicSnatTable_.count(S::dynSnat2)},
        {" tmd->dnat1Snats() ", dynamicSnatTable_.count(S::dynDnat1Snat)},
        {" tmd->dnat1Dnats() ", dynamicDnatTable_.count(D::dynDnat1Dnat)},
        {" tmd->dnat2s() ", dynamicDnatTable_.count(D::dynDnat2)},
        {" tmd->dynamicAddrOnlySnatKeyToMatchSpecs() ", dynamicAddrOnlySnatKeyToMatchSpec_.size()},
        {" tmd->dynamicAddrOnlyDnatKeyToMatchSpecAndRefCounts() ",
         dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.size()},
        {" tmd->dynamicAddrOnlyDnatFlowProfileToNewDips() ",
         dynamicAddrOnlyDnatFlowProfileToNewDip_.size()},
        {" tmd->natCpuTrapAclToHwPriorityToUpdates() ", natCpuTrapAclToHwPriorityToUpdate_.size()},
        // Left out of the agent's clean-state check, whose set is fixed: a partition's
        // connections are in dynamicSnatTables and dynamicDnatTables too, and trap rules in the
        // helper's records.
        {" tmd->dynamicSnatPartitionedTable()->flowToMatchSpecMaps() ",
         dynamicSnatPartitionedTable_->flowToMatchSpecMap().size(), false},
        {" tmd->dynamicDnatPartitionedTable()->flowToMatchSpecMaps() ",
         dynamicDnatPartitionedTable_->flowToMatchSpecMap().size(), false},
        {" tmd->hwNatCpuTrapAcls() ", hwNatCpuTrapAcl_.size(), false},
        {" tmd->hwNatCpuTrapAclOverloads() ", hwNatCpuTrapAclOverload_.size(), false},
        {" tmd->natCpuTrapAclOverloadToHwPriorityToUpdates() ",
         natCpuTrapAclOverloadToHwPriorityToUpdate_.size(), false},
    };
    if (const auto& h = dynamicFullConeHelper_) {
        counts.push_back(
            {" tmd->dynamicFullConeHelper()->dynamicFullCones():", h->dynamicFullCone().size()});
        counts.push_back({" tmd->dynamicFullConeHelper()->dynamicFullConeCompresss():",
                          h->dynamicFullConeCompress().size()});
    }
    if (const auto& h = dynamicFullConeDnatHelper_) {
        counts.push_back({" tmd->dynamicFullConeDnatHelper()->dynamicFullConeDnats():",
                          h->dynamicFullConeDnat().size()});
        counts.push_back({" tmd->dynamicFullConeDnatHelper()->dynamicFullConeCompresss():",
                          h->dynamicFullConeCompress().size()});
    }
    if (const auto& h = dynamicSnatAclHelper_) {
        counts.push_back(
            {" tmd->dynamicSnatAclHelper()->dynamicSnatAcls():", h->dynamicSnatAcl().size()});
    }
    return counts;
}

namespace {

template <class Spec, class Records, class Place>
std::optional<Spec> recordedSpec(const VyrNatTableMgrDynamic& mgr, const Records& records,
                                 const FlowAndVrfType& key, Place place) {
    const auto found = records.find(key.flow, key.vrfId);
    if (!found || found->place != place) {
        return std::nullopt;
    }
    return mgr.matchSpec<Spec>(key.flow.protocol, found->addrs, key.vrfId);
}

} // namespace

std::optional<VyrP4::DynamicSnat1MatchSpec>
VyrNatTableMgrDynamic::snat1(const FlowAndVrfType& key) const {
    return recordedSpec<VyrP4::DynamicSnat1MatchSpec>(*this, dynamicSnatTable_, key,
                                                      DynamicSnatTable::dynSnat1);
}

std::optional<VyrP4::DynamicSnat2MatchSpec>
VyrNatTableMgrDynamic::snat2(const FlowAndVrfType& key) const {
    return recordedSpec<VyrP4::DynamicSnat2MatchSpec>(*this, dynamicSnatTable_, key,
                                                      DynamicSnatTable::dynSnat2);
}

std::optional<VyrP4::DynamicDnat1MatchSpec>
VyrNatTableMgrDynamic::dnat1Snat(const FlowAndVrfType& key) const {
    return recordedSpec<VyrP4::DynamicDnat1MatchSpec>(*this, dynamicSnatTable_, key,
                                                      DynamicSnatTable::dynDnat1Snat);
}

std::optional<VyrP4::DynamicDnat1MatchSpec>
VyrNatTableMgrDynamic::dnat1Dnat(const FlowAndVrfType& key) const {
    return recordedSpec<VyrP4::DynamicDnat1MatchSpec>(*this, dynamicDnatTable_, key,
                                                      DynamicDnatTable::dynDnat1Dnat);
}

std::optional<VyrP4::DynamicDnat2MatchSpec>
VyrNatTableMgrDynamic::dnat2(const FlowAndVrfType& key) const {
    return recordedSpec<VyrP4::DynamicDnat2MatchSpec>(*this, dynamicDnatTable_, key,
                                                      DynamicDnatTable::dynDnat2);
}

std::string FlowAndVrfType::str() const {
    return "Value('VyrNat::FlowAndVrfType', ** {'flow': " + flow.toString() +
           ", 'vrfId': " + std::to_string(vrfId) + "})";
}

uint32_t getDynamicNatType(uint32_t value, bool fullCone, bool addrOnly) {
    if (value == 0) {
        VYR_ASSERT(!fullCone);
        VYR_ASSERT(!addrOnly);
        return 0;
    }
    return fullCone ? 2 : addrOnly ? 3 : 1;
}

Ert::Ptr<VyrNatTableMgrDynamic> vyrNatTableMgrDynamicFactory(
    VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Ip::Nat::Config> natConfig,
    Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig, Ert::Ptr<Ert::Dir> hitBitStatusDir,
    Ert::Ptr<Hubdb::EntityManager> entityManager, std::shared_ptr<VyrP4::ResourceInfo> resourceInfo,
    bool natDpdk) {
    return Ert::make<VyrNatTableMgrDynamic>(tableMgr, std::move(natConfig), std::move(hitBitConfig),
                                            std::move(hitBitStatusDir), std::move(entityManager),
                                            std::move(resourceInfo), natDpdk);
}

} // namespace VyrNat
