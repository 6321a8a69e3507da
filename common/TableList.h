#pragma once
// A table manager's tables, declared once: the name of each, whether the chip profile has it,
// and the slot its table object goes into when the table service brings it up. The one list
// drives listing with the service, creating the table objects, the empty check and the usage
// figures the show commands print.

#include "host/TableService.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace VyrNat {

// The arguments the service hands to initializeTable, passed on to the table's factory.
struct TableCreation {
    const VyrP4::TableKey& tableKey;
    VyrP4::DeviceHandle handle;
    const VyrDriver::VyrDevProfile& profile;
    uint32_t count;
    MbbMirraKey::MirraKeyManager* keyManager;
    VyrTableStatusManager::StatusManager* statusManager;
};

class TableList {
public:
    // Whether the profile has a table; asked when the tables are listed.
    using Condition = std::function<bool()>;

    // The whole chip, as the NAT tables are listed unless a manager says otherwise.
    static constexpr VyrAgentLib::HwTableScope kWholeChip{true, 0};

    // Declares the table `name`, built by `factory` into `slot`; listed only when `listed` holds
    // (always without one), for `scope`. Tables are listed in declaration order.
    template <class T, class Factory>
    void add(const char* name, std::shared_ptr<T>& slot, Factory factory, Condition listed = {},
             VyrAgentLib::HwTableScope scope = kWholeChip) {
        decls_.push_back(
            {name,
             scope,
             std::move(listed),
             [&slot, factory](const TableCreation& c) {
                 slot = factory(c.keyManager, c.statusManager, c.handle, c.count, c.tableKey.key8,
                                c.tableKey.key16, c.profile.name);
             },
             [&slot]() -> VyrP4::TableEngine* { return slot ? &slot->engine() : nullptr; },
             {}});
    }
    // Runs `then` right after the table named `name` is built (a fixed entry, a registration).
    using Then = std::function<void(const TableCreation&)>;
    void onCreated(const char* name, Then then);

    // Lists every table the profile has with the owner; returns how many.
    uint8_t listWith(VyrAgentLib::VyrTableMgr* owner) const;
    // Builds the table the key names; false when it is not one of these.
    bool create(const TableCreation& c) const;

    // The tables built so far, in declaration order, with their names.
    struct Built {
        const char* name;
        const VyrP4::TableEngine* engine;
    };
    std::vector<Built> built() const;
    // Entries held by the tables built so far.
    std::size_t entryCount() const;

private:
    struct Decl {
        const char* name;
        VyrAgentLib::HwTableScope scope;
        Condition listed;
        std::function<void(const TableCreation&)> create;
        std::function<VyrP4::TableEngine*()> engine;
        Then then;
    };
    std::vector<Decl> decls_;
};

} // namespace VyrNat
