#pragma once
// What every table manager does to list its tables and to build a table object once the
// service brings the table up.

#include "host/TableService.h"

#include <memory>
#include <string>

namespace VyrNat {

// Lists `name` on the owner's table list, for the whole chip.
inline void hwTableListed(VyrAgentLib::VyrTableMgr* owner, const char* name) {
    const VyrAgentLib::HwTableScope wholeChip{true, 0};
    owner->hwTablesIs(name, wholeChip, true, true, false, owner);
}

// The arguments the service hands to initializeTable, passed on to the table's factory.
struct TableCreation {
    const VyrP4::TableKey& tableKey;
    VyrP4::DeviceHandle handle;
    const VyrDriver::VyrDevProfile& profile;
    uint32_t count;
    MbbMirraKey::MirraKeyManager* keyManager;
    VyrTableStatusManager::StatusManager* statusManager;

    // Builds the table into `slot` when the key names `tableName`.
    template <class T, class Factory>
    bool createIfNamed(const char* tableName, std::shared_ptr<T>& slot, Factory factory) const {
        if (tableKey.name != tableName) {
            return false;
        }
        slot = factory(keyManager, statusManager, handle, count, tableKey.key8, tableKey.key16,
                       profile.name);
        return true;
    }
};

} // namespace VyrNat
