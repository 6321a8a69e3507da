#pragma once
// The owner of every NAT table manager of one chip profile. It creates the managers the
// profile needs, lists their tables with the hardware table service, and routes each table the
// service brings up to the manager that owns it.

#include "agent/Rebuild.h"
#include "chip/ResourceInfo.h"
#include "host/Hubdb.h"
#include "host/NatEntities.h"
#include "host/TableService.h"

#include <memory>

namespace VyrNat {

class VyrNatTableMgrStatic;
class VyrNatTableMgrVrf;
class VyrNatTableMgrEgressStatic;

using VyrNatTableMgrArgs =
    BuiltFrom<Ert::Ptr<VyrAgentLib::VyrProfileDataEntry>, Ert::Ptr<VyrSystem::SystemStatus>, bool,
              bool, bool, Ert::Ptr<VyrSharedState::MeterTableConfig>,
              Ert::Ptr<VyrSystem::HitBitConfig>, Ert::Ptr<Ert::Dir>, Ert::Ptr<Hubdb::EntityManager>,
              Ert::Ptr<Ip::Nat::Config>, Ert::Ptr<Config>, Ert::Ptr<Ert::Dir>, bool, bool>;

class VyrNatTableMgr : public VyrAgentLib::VyrTableMgr, public VyrNatTableMgrArgs {
public:
    VyrNatTableMgr(Ert::Ptr<VyrAgentLib::VyrProfileDataEntry> profileEntry,
                   Ert::Ptr<VyrSystem::SystemStatus> systemStatus, bool intfNat, bool vrfNatHop,
                   bool egrMcNat, Ert::Ptr<VyrSharedState::MeterTableConfig> meterTable,
                   Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                   Ert::Ptr<Ert::Dir> hitBitStatusDir, Ert::Ptr<Hubdb::EntityManager> entityManager,
                   Ert::Ptr<Ip::Nat::Config> natConfig, Ert::Ptr<Config> vyrNatConfig,
                   Ert::Ptr<Ert::Dir> vyrMcastConfigDir, bool natFlowSupported, bool natDpdk);
    ~VyrNatTableMgr() override;

    void handleInitialized();
    void updateTableList();
    void initializeTable(const VyrP4::TableKey& tableKey, VyrP4::DeviceHandle handle,
                         const VyrDriver::VyrDevProfile& profile, uint32_t count,
                         MbbMirraKey::MirraKeyManager* keyManager,
                         VyrTableStatusManager::StatusManager* statusManager) override;

    bool intfNat() const { return intfNat_; }
    bool vrfNatHop() const { return vrfNatHop_; }
    bool egrMcNat() const { return egrMcNat_; }
    bool natFlowSupported() const { return natFlowSupported_; }
    bool natDpdk() const { return natDpdk_; }
    bool twiceNat() const { return profileCapabilities().twiceNatSupported(); }

    const Ert::Ptr<VyrSharedState::MeterTableConfig>& meterTable() const { return meterTable_; }
    const Ert::Ptr<VyrSystem::HitBitConfig>& hitBitConfig() const { return hitBitConfig_; }
    const Ert::Ptr<Ert::Dir>& hitBitStatusDir() const { return hitBitStatusDir_; }
    const Ert::Ptr<Hubdb::EntityManager>& entityManager() const { return entityManager_; }
    const Ert::Ptr<Ip::Nat::Config>& natConfig() const { return natConfig_; }
    const Ert::Ptr<Config>& vyrNatConfig() const { return vyrNatConfig_; }
    const Ert::Ptr<Ert::Dir>& vyrMcastConfigDir() const { return vyrMcastConfigDir_; }
    const std::shared_ptr<VyrP4::ResourceInfo>& resourceInfo() const { return resourceInfo_; }

    VyrNatTableMgrStatic* tableMgrStatic() const { return tableMgrStatic_.get(); }
    VyrNatTableMgrVrf* tableMgrVrf() const { return tableMgrVrf_.get(); }
    VyrNatTableMgrEgressStatic* tableMgrEgressStatic() const { return tableMgrEgressStatic_.get(); }

    // Every manager the profile calls for exists (the CLI answers only then).
    bool allManagersPresent() const;

private:
    bool intfNat_;
    bool vrfNatHop_;
    bool egrMcNat_;
    Ert::Ptr<VyrSharedState::MeterTableConfig> meterTable_;
    Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig_;
    Ert::Ptr<Ert::Dir> hitBitStatusDir_;
    Ert::Ptr<Hubdb::EntityManager> entityManager_;
    Ert::Ptr<Ip::Nat::Config> natConfig_;
    Ert::Ptr<Config> vyrNatConfig_;
    Ert::Ptr<Ert::Dir> vyrMcastConfigDir_;
    bool natFlowSupported_;
    bool natDpdk_;
    std::shared_ptr<VyrP4::ResourceInfo> resourceInfo_;
    Ert::Ptr<VyrNatTableMgrVrf> tableMgrVrf_;
    Ert::Ptr<VyrNatTableMgrStatic> tableMgrStatic_;
    Ert::Ptr<VyrNatTableMgrEgressStatic> tableMgrEgressStatic_;
};

Ert::Ptr<VyrNatTableMgr>
vyrNatTableMgrFactory(Ert::Ptr<VyrAgentLib::VyrProfileDataEntry> profileEntry,
                      Ert::Ptr<VyrSystem::SystemStatus> systemStatus, bool intfNat, bool vrfNatHop,
                      bool egrMcNat, Ert::Ptr<VyrSharedState::MeterTableConfig> meterTable,
                      Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                      Ert::Ptr<Ert::Dir> hitBitStatusDir,
                      Ert::Ptr<Hubdb::EntityManager> entityManager,
                      Ert::Ptr<Ip::Nat::Config> natConfig, Ert::Ptr<Config> vyrNatConfig,
                      Ert::Ptr<Ert::Dir> vyrMcastConfigDir, bool natFlowSupported, bool natDpdk);

} // namespace VyrNat
