#pragma once
// The emulated chip: one device with a profile, holding the entries of every table made on it.
// Table objects made by the factories are views over the chip's engines, so making a table twice
// gives the same entries, as on hardware.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "chip/Engine.h"
#include "chip/Profile.h"
#include "chip/TableKey.h"

namespace VyrP4 {

class Chip {
public:
    explicit Chip(ProfileCapabilities profile);
    Chip(const Chip&) = delete;
    Chip& operator=(const Chip&) = delete;

    const ProfileCapabilities& profile() const { return profile_; }
    DeviceHandle handle() { return this; }

    // The engine of a table, made on first use with the capacity the profile gives it.
    std::shared_ptr<TableEngine> tableEngineIs(const TableDesc& desc);
    // The engine of a table made on this chip; null when it was not made.
    TableEngine* table(std::string_view name) const;
    // By the resource information's table index.
    TableEngine* tableByIndex(std::uint32_t index) const;
    // Every table made, in schema order.
    std::vector<TableEngine*> tables() const;
    std::size_t entryCount() const;

    // Every non-empty table in schema order, each with its entries in the engine's order.
    std::string dump() const;
    // Fault injection of every table off.
    void faultsClear();
    // Observes every table, those made later included (see TableEngine::entryObserverIs).
    void entryObserverIs(EntryObserver observer);

private:
    ProfileCapabilities profile_;
    std::map<std::uint32_t, std::shared_ptr<TableEngine>> tables_; // by schema position
    EntryObserver observer_;
};

std::shared_ptr<Chip> chipFactory(const ProfileCapabilities& profile);

// What every generated factory does: the table's engine on the chip of `handle`. The capacity
// comes from the chip's profile; `count`, the two key values and the profile `name` are the
// service's and only passed through. The status manager learns the table was made.
std::shared_ptr<TableEngine> openTable(const TableDesc& desc,
                                       MbbMirraKey::MirraKeyManager* keyManager,
                                       VyrTableStatusManager::StatusManager* statusManager,
                                       DeviceHandle handle, std::uint32_t count, std::uint8_t key8,
                                       std::uint16_t key16, const std::string& name);

} // namespace VyrP4
