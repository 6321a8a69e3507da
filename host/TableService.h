#pragma once
// The hardware table service of the agent library: per-profile data, the table-manager base
// that lists tables and counts those still to bring up, and the hardware manager that brings
// each listed table up on the chip through its manager's initializeTable.

#include "chip/Chip.h"
#include "chip/TableKey.h"
#include "host/Entity.h"
#include "host/SystemStatus.h"

#include <map>
#include <memory>
#include <string>

namespace Mirra {
class Service;
} // namespace Mirra

namespace VyrAgentLib {

class VyrTableMgr;

// Where a table lives: the whole chip, or one pipe.
struct HwTableScope {
    bool wholeChip = true;
    uint8_t pipe = 0;
    bool operator==(const HwTableScope&) const = default;
};

// A table listed by a table manager; the three flags are passed on unchanged.
struct HwTableReg {
    std::string name;
    HwTableScope scope;
    bool flag1 = false;
    bool flag2 = false;
    bool flag3 = false;
    VyrTableMgr* tableMgr = nullptr; // not owned
    bool operator==(const HwTableReg&) const = default;
};

// One chip profile's data: the tables its managers listed, in listing order, and whether all
// of them are up.
class VyrProfileDataEntry : public Ert::Entity {
public:
    VyrProfileDataEntry(const std::string& name, VyrDriver::VyrDevProfile profile)
        : Entity(name), profile_(std::move(profile)) {}
    ERT_ENTITY_TYPE("VyrAgentLib::VyrProfileDataEntry")

    const VyrDriver::VyrDevProfile& profile() const { return profile_; }
    Ert::Collection<uint32_t, HwTableReg> hwTables{this, "hwTables"}; // by listing order
    Ert::Attr<bool> tablesInitialized{this, "tablesInitialized"};

private:
    VyrDriver::VyrDevProfile profile_;
};

class VyrProfileData : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrAgentLib::VyrProfileData")
    Ert::Collection<VyrDriver::VyrDevProfile, Ert::Ptr<VyrProfileDataEntry>> entry{this, "entry"};
};

struct TableStats {
    uint32_t size = 0;
    uint32_t used = 0;
};

// Base of the NAT table-manager owner: the profile entry, its capabilities and the count of
// listed tables not yet up. The chip is reached through the entry's profile.
class VyrTableMgr : public Ert::RefCounted {
public:
    VyrTableMgr(Ert::Ptr<VyrProfileDataEntry> profileDataEntry,
                Ert::Ptr<VyrSystem::SystemStatus> systemStatus);

    const Ert::Ptr<VyrProfileDataEntry>& profileDataEntry() const { return profileDataEntry_; }
    const Ert::Ptr<VyrSystem::SystemStatus>& systemStatus() const { return systemStatus_; }
    // The profile's capabilities; all false and 0 when the system status has none for it.
    const VyrSystem::ProfileCapabilities& profileCapabilities() const;

    // Lists a table for the service to bring up through `tableMgr`.
    void hwTablesIs(const std::string& name, HwTableScope scope, bool flag1, bool flag2, bool flag3,
                    VyrTableMgr* tableMgr);
    virtual void initializeTable(const VyrP4::TableKey& tableKey, VyrP4::DeviceHandle handle,
                                 const VyrDriver::VyrDevProfile& profile, uint32_t count,
                                 MbbMirraKey::MirraKeyManager* keyManager,
                                 VyrTableStatusManager::StatusManager* statusManager) = 0;

    // The shared memory the host's services publish to (the hit-bit tables); null on a host
    // without one.
    Mirra::Service* sharedMemory() const { return sharedMemory_; }
    void sharedMemoryIs(Mirra::Service* m) { sharedMemory_ = m; }

    uint32_t pendingTableCount() const { return pendingTableCount_; }
    void pendingTableCountIs(uint32_t n);
    // At 0 the profile entry's tables are marked initialized.
    void pendingTableCountDec(uint32_t n);

    // Usage figures for the CLI: a table's size and used entries, whole-chip or per pipe.
    void createCliTableStats(const std::string& name);
    void createPerPipeCliTableStats(const std::string& name, uint8_t pipe);
    TableStats populateAndReturnStats(const std::string& name, uint8_t pipe) const;
    bool cliTableStatsHas(const std::string& name) const;

    // The chip the service brings this manager's tables up on.
    VyrP4::DeviceHandle device() const { return device_; }
    void deviceIs(VyrP4::DeviceHandle d) { device_ = d; }

private:
    Mirra::Service* sharedMemory_ = nullptr;
    VyrP4::DeviceHandle device_ = nullptr;
    Ert::Ptr<VyrProfileDataEntry> profileDataEntry_;
    Ert::Ptr<VyrSystem::SystemStatus> systemStatus_;
    uint32_t pendingTableCount_ = 0;
    uint32_t nextListing_ = 0;
    std::map<std::pair<std::string, int>, bool> cliStats_; // (name, pipe or -1) to created
};

// The agent library's hardware manager: publishes the chip's profile entry in the profile
// data, and brings up each table the managers list, in listing order, on the event loop.
class VyrAgentLibHwMgr : public Ert::RefCounted {
public:
    VyrAgentLibHwMgr(std::shared_ptr<VyrP4::Chip> chip, Ert::Ptr<VyrProfileData> profileData);
    ~VyrAgentLibHwMgr() override;

    VyrP4::Chip& chip() const { return *chip_; }
    const Ert::Ptr<VyrProfileData>& profileData() const { return profileData_; }
    uint32_t tablesBroughtUp() const { return broughtUp_; }
    const MbbMirraKey::MirraKeyManager& keyManager() const { return keyManager_; }
    const VyrTableStatusManager::StatusManager& statusManager() const { return statusManager_; }

private:
    class EntryReactor;
    std::shared_ptr<VyrP4::Chip> chip_;
    Ert::Ptr<VyrProfileData> profileData_;
    std::unique_ptr<EntryReactor> entryReactor_;
    MbbMirraKey::MirraKeyManager keyManager_;
    VyrTableStatusManager::StatusManager statusManager_;
    uint32_t broughtUp_ = 0;
};

} // namespace VyrAgentLib
