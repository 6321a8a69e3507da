#include "tables/VyrNatTableMgr.h"

#include "host/Assert.h"
#include "host/Trace.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tables/egress/VyrNatTableMgrEgressStatic.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tables/vrf/VyrNatTableMgrVrf.h"

namespace VyrNat {

namespace {
Trace::Handle th("VyrNatTableMgr");
}

VyrNatTableMgr::VyrNatTableMgr(VyrNatTableMgrInputs inputs)
    : VyrTableMgr(inputs.profileEntry, inputs.systemStatus), inputs_(std::move(inputs)) {
    sharedMemoryIs(inputs_.sharedMemory.get());
    handleInitialized();
}

VyrNatTableMgr::~VyrNatTableMgr() = default;

template <class M> M* VyrNatTableMgr::adopt(Ert::Ptr<M> mgr) {
    managers_.push_back(mgr);
    return mgr.get();
}

void VyrNatTableMgr::handleInitialized() {
    VTRACE(th, 0,
           "handleInitialized"
               << ", intfNat: " << intfNat() << ", vrfNatHop: " << vrfNatHop()
               << ", egrMcNat: " << egrMcNat() << ", natFlowSupported: " << natFlowSupported());
    // The capabilities published for the profile's name describe its tables.
    resourceInfo_ = VyrP4::resourceInfoFactory(profileCapabilities());
    // Creation order is the order tables are offered in.
    if (intfNat()) {
        VYR_ASSERT(!vrfNatHop());
        tableMgrStatic_ =
            adopt(vyrNatTableMgrStaticFactory(this, inputs_.vyrNatConfig, resourceInfo_));
        if (twiceNat()) {
            tableMgrTwice_ = adopt(vyrNatTableMgrTwiceFactory(
                this, inputs_.vyrNatConfig, inputs_.hitBitConfig, inputs_.hitBitStatusDir,
                inputs_.entityManager, natDpdk()));
        }
        tableMgrDynamic_ = adopt(vyrNatTableMgrDynamicFactory(
            this, inputs_.natConfig, inputs_.hitBitConfig, inputs_.hitBitStatusDir,
            inputs_.entityManager, resourceInfo_, natDpdk()));
    } else if (vrfNatHop()) {
        tableMgrVrf_ = adopt(vyrNatTableMgrVrfFactory(this, inputs_.meterTable));
    }
    if (natFlowSupported()) {
        tableMgrNatFlow_ = adopt(vyrNatTableMgrNatFlowFactory(
            this, inputs_.vyrNatConfig, inputs_.vyrMcastConfigDir, inputs_.systemStatus));
    }
    if (egrMcNat()) {
        tableMgrEgressStatic_ =
            adopt(vyrNatTableMgrEgressStaticFactory(this, inputs_.vyrNatConfig));
    }
    updateTableList();
}

void VyrNatTableMgr::updateTableList() {
    uint32_t pending = 0;
    for (const auto& mgr : managers_) {
        pending += mgr->updateTableList();
    }
    VTRACE(th, 0, "Tables pending initialization: " << pending);
    pendingTableCountIs(pending);
}

void VyrNatTableMgr::initializeTable(const VyrP4::TableKey& tableKey, VyrP4::DeviceHandle handle,
                                     const VyrDriver::VyrDevProfile& profile, uint32_t count,
                                     MbbMirraKey::MirraKeyManager* keyManager,
                                     VyrTableStatusManager::StatusManager* statusManager) {
    VTRACE(th, 0, "Initializing table: " << tableKey.name);
    bool taken = false;
    for (const auto& mgr : managers_) {
        if (mgr->initializeTable(tableKey, handle, profile, count, keyManager, statusManager)) {
            taken = true;
            break;
        }
    }
    if (!taken) {
        VYR_FAIL("Unknown table name " + tableKey.name);
    }
    pendingTableCountDec(1);
    VTRACE(th, 0, "Table remaining to initialize: " << pendingTableCount());
}

bool VyrNatTableMgr::allManagersPresent() const {
    return (!intfNat() ||
            (tableMgrStatic_ && tableMgrDynamic_ && (!twiceNat() || tableMgrTwice_))) &&
           (!vrfNatHop() || tableMgrVrf_) && (!natFlowSupported() || tableMgrNatFlow_) &&
           (!egrMcNat() || tableMgrEgressStatic_);
}

void VyrNatTableMgr::omaNatSmStatusIs(const Ert::Ptr<Oma::NatSmStatus>& status) {
    for (const auto& mgr : managers_) {
        mgr->omaNatSmStatusIs(status);
    }
}

Ert::Ptr<VyrNatTableMgr> vyrNatTableMgrFactory(const VyrNatTableMgrInputs& inputs) {
    return Ert::make<VyrNatTableMgr>(inputs);
}

} // namespace VyrNat
