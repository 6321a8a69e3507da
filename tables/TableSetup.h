#pragma once
// What every table manager does to list its tables and to build a table object once the
// service brings the table up.

#include "host/TableService.h"

#include <memory>
#include <string>
#include <utility>

namespace VyrNat {

// Lists `name` on the owner's table list, for the whole chip.
inline void hwTableListed(VyrAgentLib::VyrTableMgr* owner, const char* name) {
    const VyrAgentLib::HwTableScope wholeChip{true, 0};
    owner->hwTablesIs(name, wholeChip, true, true, false, owner);
}

// Builds the table into `slot` when `name` is its table's name.
template <class T, class Factory, class... Args>
bool createIfNamed(const std::string& name, const char* tableName, std::shared_ptr<T>& slot,
                   Factory factory, Args&&... args) {
    if (name != tableName) {
        return false;
    }
    slot = factory(std::forward<Args>(args)...);
    return true;
}

} // namespace VyrNat
