#pragma once
// The owner of every NAT table manager of one chip profile. It creates the managers the
// profile needs and keeps them in one ordered list; listing their tables, routing each table
// the service brings up, and the questions asked of every manager walk that list.

#include "chip/ResourceInfo.h"
#include "host/HitBit.h"
#include "host/Hubdb.h"
#include "host/MeterConfig.h"
#include "host/NatConfig.h"
#include "host/TableService.h"
#include "tables/NatTableManager.h"

#include <memory>
#include <vector>

namespace VyrNat {

class VyrNatTableMgrStatic;
class VyrNatTableMgrDynamic;
class VyrNatTableMgrTwice;
class VyrNatTableMgrVrf;
class VyrNatTableMgrEgressStatic;
class VyrNatTableMgrNatFlow;

// What the owner is built from: the profile, its flags and the entities the managers use.
struct VyrNatTableMgrInputs {
    Ert::Ptr<VyrAgentLib::VyrProfileDataEntry> profileEntry;
    Ert::Ptr<VyrSystem::SystemStatus> systemStatus;
    bool intfNat = false;   // NAT on interfaces: static, twice and dynamic NAT
    bool vrfNatHop = false; // NAT between VRFs through next hops
    bool egrMcNat = false;  // the egress static tables
    Ert::Ptr<VyrSharedState::MeterTableConfig> meterTable;
    Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig;
    Ert::Ptr<Ert::Dir> hitBitStatusDir;
    Ert::Ptr<Hubdb::EntityManager> entityManager;
    Ert::Ptr<Mirra::Service> sharedMemory; // where the hit-bit tables are read
    Ert::Ptr<Ip::Nat::Config> natConfig;
    Ert::Ptr<Config> vyrNatConfig;
    Ert::Ptr<Ert::Dir> vyrMcastConfigDir;
    bool natFlowSupported = false;
    bool natDpdk = false; // NAT runs in a software data plane

    bool operator==(const VyrNatTableMgrInputs&) const = default;
};

class VyrNatTableMgr : public VyrAgentLib::VyrTableMgr {
public:
    explicit VyrNatTableMgr(VyrNatTableMgrInputs inputs);
    ~VyrNatTableMgr() override;

    void handleInitialized();
    void updateTableList();
    void initializeTable(const VyrP4::TableKey& tableKey, VyrP4::DeviceHandle handle,
                         const VyrDriver::VyrDevProfile& profile, uint32_t count,
                         MbbMirraKey::MirraKeyManager* keyManager,
                         VyrTableStatusManager::StatusManager* statusManager) override;

    const VyrNatTableMgrInputs& inputs() const { return inputs_; }
    bool intfNat() const { return inputs_.intfNat; }
    bool vrfNatHop() const { return inputs_.vrfNatHop; }
    bool egrMcNat() const { return inputs_.egrMcNat; }
    bool natFlowSupported() const { return inputs_.natFlowSupported; }
    bool natDpdk() const { return inputs_.natDpdk; }
    bool twiceNat() const { return profileCapabilities().twiceNatSupported(); }
    const std::shared_ptr<VyrP4::ResourceInfo>& resourceInfo() const { return resourceInfo_; }

    // The managers, in the order tables are offered to them.
    const std::vector<Ert::Ptr<NatTableManager>>& managers() const { return managers_; }
    VyrNatTableMgrStatic* tableMgrStatic() const { return tableMgrStatic_; }
    VyrNatTableMgrDynamic* tableMgrDynamic() const { return tableMgrDynamic_; }
    VyrNatTableMgrTwice* tableMgrTwice() const { return tableMgrTwice_; }
    VyrNatTableMgrVrf* tableMgrVrf() const { return tableMgrVrf_; }
    VyrNatTableMgrEgressStatic* tableMgrEgressStatic() const { return tableMgrEgressStatic_; }
    VyrNatTableMgrNatFlow* tableMgrNatFlow() const { return tableMgrNatFlow_; }

    // Every manager the profile calls for exists (the CLI answers only then).
    bool allManagersPresent() const;
    // Hands the NAT state machine's status object to every manager.
    void omaNatSmStatusIs(const Ert::Ptr<Oma::NatSmStatus>& status);

private:
    // Appends a manager to the list; returns it for its accessor.
    template <class M> M* adopt(Ert::Ptr<M> mgr);

    VyrNatTableMgrInputs inputs_;
    std::shared_ptr<VyrP4::ResourceInfo> resourceInfo_;
    std::vector<Ert::Ptr<NatTableManager>> managers_;
    VyrNatTableMgrStatic* tableMgrStatic_ = nullptr;
    VyrNatTableMgrDynamic* tableMgrDynamic_ = nullptr;
    VyrNatTableMgrTwice* tableMgrTwice_ = nullptr;
    VyrNatTableMgrVrf* tableMgrVrf_ = nullptr;
    VyrNatTableMgrEgressStatic* tableMgrEgressStatic_ = nullptr;
    VyrNatTableMgrNatFlow* tableMgrNatFlow_ = nullptr;
};

Ert::Ptr<VyrNatTableMgr> vyrNatTableMgrFactory(const VyrNatTableMgrInputs& inputs);

} // namespace VyrNat
