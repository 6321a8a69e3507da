#include "tables/NatTableManager.h"

#include "host/Assert.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace VyrNat {

// A manager without a summary of its own shows its tables' sizes and use, under its name.
void NatTableManager::showSummary(int fd) const {
    const auto built = tables_.built();
    if (built.empty()) {
        return;
    }
    dprintf(fd, "%s\n%s\n", trace_.name(), std::string(std::strlen(trace_.name()), '-').c_str());
    dprintf(fd, "Hw tables size:\n");
    for (const auto& t : built) {
        dprintf(fd, "   %s: %u\n", t.name, t.engine->capacity());
    }
    dprintf(fd, "Current tables occupation:\n");
    for (const auto& t : built) {
        dprintf(fd, "   %s: %zu\n", t.name, t.engine->entryCount());
    }
    dprintf(fd, "\n");
}

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
