#include "host/TableService.h"

#include "host/Assert.h"

namespace VyrAgentLib {

VyrTableMgr::VyrTableMgr(Ert::Ptr<VyrProfileDataEntry> profileDataEntry,
                         Ert::Ptr<VyrSystem::SystemStatus> systemStatus)
    : profileDataEntry_(std::move(profileDataEntry)), systemStatus_(std::move(systemStatus)) {}

const VyrSystem::ProfileCapabilities& VyrTableMgr::profileCapabilities() const {
    static const VyrSystem::ProfileCapabilities none;
    if (!profileDataEntry_ || !systemStatus_) {
        return none;
    }
    const auto* caps = systemStatus_->profileCapabilities.find(profileDataEntry_->profile().name);
    return caps ? *caps : none;
}

void VyrTableMgr::hwTablesIs(const std::string& name, HwTableScope scope, bool flag1, bool flag2,
                             bool flag3, VyrTableMgr* tableMgr) {
    VYR_ASSERT(profileDataEntry_);
    profileDataEntry_->hwTables.set(nextListing_++,
                                    HwTableReg{name, scope, flag1, flag2, flag3, tableMgr});
}

void VyrTableMgr::pendingTableCountIs(uint32_t n) {
    pendingTableCount_ = n;
    if (n == 0 && profileDataEntry_) {
        profileDataEntry_->tablesInitialized.set(true);
    }
}

void VyrTableMgr::pendingTableCountDec(uint32_t n) {
    VYR_ASSERT(n <= pendingTableCount_);
    pendingTableCountIs(pendingTableCount_ - n);
}

void VyrTableMgr::createCliTableStats(const std::string& name) {
    cliStats_[{name, -1}] = true;
}

void VyrTableMgr::createPerPipeCliTableStats(const std::string& name, uint8_t pipe) {
    cliStats_[{name, pipe}] = true;
}

bool VyrTableMgr::cliTableStatsHas(const std::string& name) const {
    for (const auto& [key, created] : cliStats_) {
        if (key.first == name) {
            return true;
        }
    }
    return false;
}

TableStats VyrTableMgr::populateAndReturnStats(const std::string& name, uint8_t pipe) const {
    if (!cliStats_.count({name, -1}) && !cliStats_.count({name, pipe})) {
        return {};
    }
    // The emulated chip has one pipe: every pipe reports the chip's table.
    const VyrP4::TableEngine* table = device_ ? device_->table(name) : nullptr;
    if (!table) {
        return {};
    }
    return {table->capacity(), static_cast<uint32_t>(table->entryCount())};
}

// Brings up each table as it is listed.
class VyrAgentLibHwMgr::EntryReactor : public Ert::Reactor<VyrProfileDataEntry> {
public:
    EntryReactor(VyrAgentLibHwMgr& mgr, Ert::Ptr<VyrProfileDataEntry> entry) : mgr_(mgr) {
        onEntry(&VyrProfileDataEntry::hwTables, [this](const uint32_t& n) { bringUp(n); });
        follow(std::move(entry));
    }

private:
    void bringUp(uint32_t listing) {
        const HwTableReg* reg = entity()->hwTables.find(listing);
        if (!reg || !reg->tableMgr) {
            return;
        }
        VyrP4::TableKey key{reg->name, reg->scope.pipe, static_cast<uint16_t>(listing)};
        reg->tableMgr->deviceIs(mgr_.chip_->handle());
        ++mgr_.broughtUp_;
        reg->tableMgr->initializeTable(key, mgr_.chip_->handle(), entity()->profile(), 1,
                                       &mgr_.keyManager_, &mgr_.statusManager_);
    }
    VyrAgentLibHwMgr& mgr_;
};

VyrAgentLibHwMgr::VyrAgentLibHwMgr(std::shared_ptr<VyrP4::Chip> chip,
                                   Ert::Ptr<VyrProfileData> profileData)
    : chip_(std::move(chip)), profileData_(std::move(profileData)) {
    VYR_ASSERT(chip_ && profileData_);
    VyrDriver::VyrDevProfile profile{chip_->profile().name()};
    const auto* existing = profileData_->entry.find(profile);
    Ert::Ptr<VyrProfileDataEntry> entry =
        existing ? *existing : Ert::make<VyrProfileDataEntry>(profile.name, profile);
    entryReactor_ = std::make_unique<EntryReactor>(*this, entry);
    profileData_->entry.set(profile, entry);
}

VyrAgentLibHwMgr::~VyrAgentLibHwMgr() = default;

} // namespace VyrAgentLib
