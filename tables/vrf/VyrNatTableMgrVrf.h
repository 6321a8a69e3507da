#pragma once
// Table manager of the translations between the default VRF and the other VRFs: the source
// translation of traffic leaving a VRF, the destination translation of traffic entering one,
// and one policer per VRF over the translated traffic, with its meter in every pipe's meter
// configuration. Owns its four table objects and its records; the owner and the shared meter
// configuration are not owned.
//
// Faults of the table service (VyrP4::TableFull, VyrP4::NoSysResources) are not caught here:
// the update operations throw them to their caller with nothing recorded and the chip unchanged.

#include "chip/P4Tables.h"
#include "host/MeterConfig.h"
#include "host/TableService.h"
#include "tables/NatTableManager.h"
#include "tables/vrf/VrfNatRecords.h"

#include <cstdint>
#include <map>
#include <memory>

namespace VyrNat {

class VyrNatTableMgrVrf : public NatTableManager {
public:
    // The meter table of the policers, as registered with the meter configuration.
    static constexpr const char* kMeterTableName = "natMeter";

    VyrNatTableMgrVrf(VyrAgentLib::VyrTableMgr* tableMgr,
                      Ert::Ptr<VyrSharedState::MeterTableConfig> meterTableConfig);

    void handleInitialized();
    std::vector<RecordCount> recordCounts() const override;
    // Writes the one fixed entry of "ingressNatAclVrf".
    void initIngressNatAclVrfTable();

    // Add (or rewrite) or, with `del`, delete a translation. True when done; false for a delete
    // of a translation that is not there.
    bool updateVrfSnatTable(Ip::IpAddr oldSip, Ip::IpAddr newSip, uint16_t vrfId, bool del);
    bool updateVrfDnatTable(Ip::IpAddr oldDip, Ip::IpAddr newDip, uint16_t vrfId, bool del);
    // Sets or, with `del`, removes the VRF's policer and its meter in every pipe. Always true.
    bool updateSnatPolicerTable(uint16_t vrfId, uint32_t rate, uint32_t burst, bool del);

    const Ert::Ptr<VyrSharedState::MeterTableConfig>& meterTableConfig() const {
        return meterTableConfig_;
    }
    bool initialized() const { return initialized_; }
    uint32_t vrfSnatTableSize() const { return vrfSnatTableSize_; }
    uint32_t vrfDnatTableSize() const { return vrfDnatTableSize_; }
    uint8_t vrfIdHelperFlags() const { return vrfIdHelperFlags_; }

    const std::shared_ptr<VyrP4::IngressNatAclVrfTable>& ingressNatAclVrfTable() const {
        return ingressNatAclVrfTable_;
    }
    const std::shared_ptr<VyrP4::AddrAndVrfDnatTable>& addrAndVrfDnatTable() const {
        return addrAndVrfDnatTable_;
    }
    const std::shared_ptr<VyrP4::DefaultVrfSnatTable>& defaultVrfSnatTable() const {
        return defaultVrfSnatTable_;
    }
    const std::shared_ptr<VyrP4::NatPolicerTable>& natPolicerTable() const {
        return natPolicerTable_;
    }

    const std::map<uint16_t, HwSnatEntries>& hwSnatEntries() const { return hwSnatEntries_; }
    const HwDnatEntries& hwDnatEntries() const { return hwDnatEntries_; }
    const HwPolicerEntries& hwPolicerEntries() const { return hwPolicerEntries_; }

private:
    Ert::Ptr<VyrSharedState::MeterTableConfig> meterTableConfig_;

    std::shared_ptr<VyrP4::IngressNatAclVrfTable> ingressNatAclVrfTable_;
    std::shared_ptr<VyrP4::AddrAndVrfDnatTable> addrAndVrfDnatTable_;
    std::shared_ptr<VyrP4::DefaultVrfSnatTable> defaultVrfSnatTable_;
    std::shared_ptr<VyrP4::NatPolicerTable> natPolicerTable_;

    uint32_t vrfSnatTableSize_ = 0;
    uint32_t vrfDnatTableSize_ = 0;
    uint8_t vrfIdHelperFlags_ = 0;

    std::map<uint16_t, HwSnatEntries> hwSnatEntries_; // by VRF id
    HwDnatEntries hwDnatEntries_;
    HwPolicerEntries hwPolicerEntries_;
    bool initialized_ = false;
};

Ert::Ptr<VyrNatTableMgrVrf>
vyrNatTableMgrVrfFactory(VyrAgentLib::VyrTableMgr* tableMgr,
                         Ert::Ptr<VyrSharedState::MeterTableConfig> meterTableConfig);

} // namespace VyrNat
