#include "tables/NatTableManager.h"

#include "host/Assert.h"

namespace VyrNat {

void NatTableManager::showSummary(int) const {}

NatTableManager::NatTableManager(VyrAgentLib::VyrTableMgr* tableMgr, Trace::Handle& trace)
    : tableMgr_(tableMgr), trace_(trace) {
    VYR_ASSERT(tableMgr_);
}

bool NatTableManager::initializeTable(const VyrP4::TableKey& tableKey, VyrP4::DeviceHandle handle,
                                      const VyrDriver::VyrDevProfile& profile, uint32_t count,
                                      MbbMirraKey::MirraKeyManager* keyManager,
                                      VyrTableStatusManager::StatusManager* statusManager) {
    VTRACE(trace_, 0, "Initializing table: " << tableKey.name);
    return tables_.create({tableKey, handle, profile, count, keyManager, statusManager});
}

} // namespace VyrNat
