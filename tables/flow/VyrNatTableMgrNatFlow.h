#pragma once
// Table manager of NAT flows: policy rules that classify packets of a NAT profile by source and
// destination prefix, protocol and L4 port ranges, and give them a 16-bit result. Each flow
// becomes the cross product of its source and destination port blocks in the ternary table
// "natFlow", above the table's default entry. No two flows share an entry: a flow that would
// write an entry already recorded is refused whole.
//
// Owns its table object and its records; the owner, the configuration, the multicast
// configuration and the system status are not owned.

#include "chip/P4Tables.h"
#include "common/NatCliCommands.h"
#include "host/Entity.h"
#include "host/NatConfig.h"
#include "host/SystemStatus.h"
#include "tables/NatTableManager.h"
#include "tables/flow/NatFlowRecords.h"
#include "tables/flow/PortMask.h"

#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>

namespace VyrNat {

class VyrNatTableMgrNatFlow : public NatTableManager {
public:
    // Each hardware entry with the flow that owns it; the default entry's owner is an empty key.
    using HwEntries =
        std::unordered_map<HwNatFlowMatchSpecKey, const HwNatFlowKey*, HwNatFlowMatchSpecKeyHash>;

    VyrNatTableMgrNatFlow(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                          Ert::Ptr<Ert::Dir> vyrMcastConfigDir,
                          Ert::Ptr<VyrSystem::SystemStatus> systemStatus);

    void handleInitialized();
    std::vector<RecordCount> recordCounts() const override;

    // --- Show commands, written to the request socket `fd` ---
    void showSummary(int fd) const override;
    void showEntries(int fd) const;
    // Writes the entry that packets of no flow hit.
    void initNatFlowTable();

    // Writes the flow's entries, or adds them to the entries `key` has. False, with nothing
    // written, when one of them is recorded already (the overlap is logged) or a value does not
    // fit the table's fields; false after a table error, with the entries written before it
    // recorded.
    bool createNatFlowTable(const HwNatFlowKey& key, uint32_t result, Ip::Prefix src,
                            Ip::Prefix dst, uint16_t srcPortStart, uint16_t srcPortEnd,
                            uint16_t dstPortStart, uint16_t dstPortEnd, uint8_t protocol,
                            uint32_t priority, uint8_t uc, uint8_t mc, uint8_t ucMcMask);
    // Removes every entry of the flow. False when there is no such flow.
    bool deleteNatFlowTable(const HwNatFlowKey& key);

    // The key under which the default entry is recorded.
    static HwNatFlowMatchSpecKey defaultEntryKey();
    static VyrP4::NatFlowMatchSpec defaultEntryMatchSpec();
    // The match spec of one entry of a flow, at entry priority `priority`.
    static VyrP4::NatFlowMatchSpec natFlowMatchSpec(const HwNatFlowMatchSpecKey& key,
                                                    int32_t priority);

    const std::map<HwNatFlowKey, HwNatFlowEntry>& hwNatFlowEntry() const { return hwNatFlowEntry_; }
    const HwEntries& hwEntries() const { return hwEntries_; }
    uint32_t natFlowTableSize() const { return natFlowTableSize_; }
    const std::shared_ptr<VyrP4::NatFlowTable>& natFlowTable() const { return natFlowTable_; }
    const Ert::Ptr<Config>& vyrNatConfig() const { return vyrNatConfig_; }
    const Ert::Ptr<Ert::Dir>& vyrMcastConfigDir() const { return vyrMcastConfigDir_; }
    const Ert::Ptr<VyrSystem::SystemStatus>& systemStatus() const { return systemStatus_; }

private:
    // Why the chip cannot take the flow as given; null when it can.
    static const char* unfit(uint32_t result, Ip::Prefix src, Ip::Prefix dst, uint16_t srcPortStart,
                             uint16_t srcPortEnd, uint16_t dstPortStart, uint16_t dstPortEnd,
                             uint32_t priority, uint16_t profile, uint8_t uc, uint8_t mc,
                             uint8_t ucMcMask);

    Ert::Ptr<Config> vyrNatConfig_;
    Ert::Ptr<Ert::Dir> vyrMcastConfigDir_;
    Ert::Ptr<VyrSystem::SystemStatus> systemStatus_;
    std::shared_ptr<VyrP4::NatFlowTable> natFlowTable_;
    uint32_t natFlowTableSize_ = 0;

    std::map<HwNatFlowKey, HwNatFlowEntry> hwNatFlowEntry_;
    HwEntries hwEntries_; // owners point at keys of hwNatFlowEntry_, or at kDefaultOwner
    static const HwNatFlowKey kDefaultOwner;
};

Ert::Ptr<VyrNatTableMgrNatFlow>
vyrNatTableMgrNatFlowFactory(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                             Ert::Ptr<Ert::Dir> vyrMcastConfigDir,
                             Ert::Ptr<VyrSystem::SystemStatus> systemStatus);

} // namespace VyrNat
