#include "agent/VyrNatTableMgr.h"

#include "host/Trace.h"
#include "tables/static/VyrNatTableMgrEgressStatic.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tables/static/VyrNatTableMgrVrf.h"

namespace VyrNat {

namespace {
Trace::Handle th("VyrNatTableMgr");
}

VyrNatTableMgr::VyrNatTableMgr(Ert::Ptr<VyrAgentLib::VyrProfileDataEntry> profileEntry,
                               Ert::Ptr<VyrSystem::SystemStatus> systemStatus, bool intfNat,
                               bool vrfNatHop, bool egrMcNat,
                               Ert::Ptr<VyrSharedState::MeterTableConfig> meterTable,
                               Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                               Ert::Ptr<Ert::Dir> hitBitStatusDir,
                               Ert::Ptr<Hubdb::EntityManager> entityManager,
                               Ert::Ptr<Ip::Nat::Config> natConfig, Ert::Ptr<Config> vyrNatConfig,
                               Ert::Ptr<Ert::Dir> vyrMcastConfigDir, bool natFlowSupported,
                               bool natDpdk)
    : VyrTableMgr(profileEntry, systemStatus),
      VyrNatTableMgrArgs({profileEntry, systemStatus, intfNat, vrfNatHop, egrMcNat, meterTable,
                          hitBitConfig, hitBitStatusDir, entityManager, natConfig, vyrNatConfig,
                          vyrMcastConfigDir, natFlowSupported, natDpdk}),
      intfNat_(intfNat), vrfNatHop_(vrfNatHop), egrMcNat_(egrMcNat),
      meterTable_(std::move(meterTable)), hitBitConfig_(std::move(hitBitConfig)),
      hitBitStatusDir_(std::move(hitBitStatusDir)), entityManager_(std::move(entityManager)),
      natConfig_(std::move(natConfig)), vyrNatConfig_(std::move(vyrNatConfig)),
      vyrMcastConfigDir_(std::move(vyrMcastConfigDir)), natFlowSupported_(natFlowSupported),
      natDpdk_(natDpdk) {
    handleInitialized();
}

VyrNatTableMgr::~VyrNatTableMgr() = default;

void VyrNatTableMgr::handleInitialized() {
    VTRACE(th, 0,
           "handleInitialized"
               << ", intfNat: " << intfNat_ << ", vrfNatHop: " << vrfNatHop_
               << ", egrMcNat: " << egrMcNat_ << ", natFlowSupported: " << natFlowSupported_);
    // The capabilities published for the profile's name describe its tables.
    resourceInfo_ = VyrP4::resourceInfoFactory(profileCapabilities());
    if (intfNat_) {
        VYR_ASSERT(!vrfNatHop());
        tableMgrStatic_ = vyrNatTableMgrStaticFactory(this, vyrNatConfig_, resourceInfo_);
    } else if (vrfNatHop_) {
        tableMgrVrf_ = vyrNatTableMgrVrfFactory(this, meterTable_);
    }
    if (egrMcNat_) {
        tableMgrEgressStatic_ = vyrNatTableMgrEgressStaticFactory(this, vyrNatConfig_);
    }
    updateTableList();
}

void VyrNatTableMgr::updateTableList() {
    uint32_t pending = 0;
    if (intfNat_) {
        pending += tableMgrStatic_->updateTableList();
    }
    if (vrfNatHop_) {
        pending += tableMgrVrf_->updateTableList();
    }
    if (egrMcNat_) {
        pending += tableMgrEgressStatic_->updateTableList();
    }
    VTRACE(th, 0, "Tables pending initialization: " << pending);
    pendingTableCountIs(pending);
}

void VyrNatTableMgr::initializeTable(const VyrP4::TableKey& tableKey, VyrP4::DeviceHandle handle,
                                     const VyrDriver::VyrDevProfile& profile, uint32_t count,
                                     MbbMirraKey::MirraKeyManager* keyManager,
                                     VyrTableStatusManager::StatusManager* statusManager) {
    VTRACE(th, 0, "Initializing table: " << tableKey.name);
    auto offer = [&](bool present, auto& mgr) {
        return present &&
               mgr->initializeTable(tableKey, handle, profile, count, keyManager, statusManager);
    };
    const bool taken = offer(intfNat_, tableMgrStatic_) || offer(vrfNatHop_, tableMgrVrf_) ||
                       offer(egrMcNat_, tableMgrEgressStatic_);
    if (!taken) {
        VYR_FAIL("Unknown table name " + tableKey.name);
    }
    pendingTableCountDec(1);
    VTRACE(th, 0, "Table remaining to initialize: " << pendingTableCount());
}

bool VyrNatTableMgr::allManagersPresent() const {
    return (!intfNat_ || tableMgrStatic_) && (!vrfNatHop_ || tableMgrVrf_) &&
           (!egrMcNat_ || tableMgrEgressStatic_);
}

Ert::Ptr<VyrNatTableMgr>
vyrNatTableMgrFactory(Ert::Ptr<VyrAgentLib::VyrProfileDataEntry> profileEntry,
                      Ert::Ptr<VyrSystem::SystemStatus> systemStatus, bool intfNat, bool vrfNatHop,
                      bool egrMcNat, Ert::Ptr<VyrSharedState::MeterTableConfig> meterTable,
                      Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                      Ert::Ptr<Ert::Dir> hitBitStatusDir,
                      Ert::Ptr<Hubdb::EntityManager> entityManager,
                      Ert::Ptr<Ip::Nat::Config> natConfig, Ert::Ptr<Config> vyrNatConfig,
                      Ert::Ptr<Ert::Dir> vyrMcastConfigDir, bool natFlowSupported, bool natDpdk) {
    return Ert::make<VyrNatTableMgr>(profileEntry, systemStatus, intfNat, vrfNatHop, egrMcNat,
                                     meterTable, hitBitConfig, hitBitStatusDir, entityManager,
                                     natConfig, vyrNatConfig, vyrMcastConfigDir, natFlowSupported,
                                     natDpdk);
}

} // namespace VyrNat
