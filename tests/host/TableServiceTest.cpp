#include "host/TableService.h"

#include "chip/P4Tables.h"
#include "host/EventLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using VyrAgentLib::VyrAgentLibHwMgr;
using VyrAgentLib::VyrProfileData;
using VyrAgentLib::VyrProfileDataEntry;

// A table manager that records what the service hands it, makes each table on the chip and
// counts its tables down.
class RecordingMgr : public VyrAgentLib::VyrTableMgr {
public:
    using VyrTableMgr::VyrTableMgr;

    struct Call {
        VyrP4::TableKey key;
        VyrP4::DeviceHandle handle;
        std::string profile;
        const MbbMirraKey::MirraKeyManager* keyManager;
        const VyrTableStatusManager::StatusManager* statusManager;
        bool tablesInitializedBefore;
    };

    void initializeTable(const VyrP4::TableKey& key, VyrP4::DeviceHandle handle,
                         const VyrDriver::VyrDevProfile& profile, uint32_t count,
                         MbbMirraKey::MirraKeyManager* keyManager,
                         VyrTableStatusManager::StatusManager* statusManager) override {
        calls.push_back({key, handle, profile.name, keyManager, statusManager,
                         profileDataEntry()->tablesInitialized()});
        for (const VyrP4::TableDesc& d : VyrP4::natTables()) {
            if (key.name == d.name) {
                VyrP4::openTable(d, keyManager, statusManager, handle, count, key.key8, key.key16,
                                 profile.name);
            }
        }
        pendingTableCountDec(1);
    }

    std::vector<Call> calls;
};

struct TableServiceTest : ::testing::Test {
    TableServiceTest() {
        system->profileCapabilities.set("default", chip->profile());
        entry = *profileData->entry.find(VyrDriver::VyrDevProfile{"default"});
        mgr = Ert::make<RecordingMgr>(entry, system);
    }
    void list(const std::vector<std::string>& names) {
        for (const auto& n : names) {
            mgr->hwTablesIs(n, {true, 0}, true, true, false, mgr.get());
        }
        mgr->pendingTableCountIs(static_cast<uint32_t>(names.size()));
    }

    Tasking::EventLoop loop;
    std::shared_ptr<VyrP4::Chip> chip = VyrP4::chipFactory(*VyrP4::namedProfile("default"));
    Ert::Ptr<VyrSystem::SystemStatus> system = Ert::make<VyrSystem::SystemStatus>("system");
    Ert::Ptr<VyrProfileData> profileData = Ert::make<VyrProfileData>("profileData");
    Ert::Ptr<VyrAgentLibHwMgr> hwMgr = Ert::make<VyrAgentLibHwMgr>(chip, profileData);
    Ert::Ptr<VyrProfileDataEntry> entry;
    Ert::Ptr<RecordingMgr> mgr;
};

TEST_F(TableServiceTest, BringsTablesUpInListingOrderAndMarksTheEntryWhenTheLastIsUp) {
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->profile().name, "default");
    EXPECT_EQ(mgr->profileCapabilities(), chip->profile());

    list({"addrPortSnat", "staticDnatAcl", "addrOnlySnat"});
    EXPECT_FALSE(entry->tablesInitialized());
    loop.runPending();

    ASSERT_EQ(mgr->calls.size(), 3u);
    const std::vector<std::string> order = {"addrPortSnat", "staticDnatAcl", "addrOnlySnat"};
    for (std::size_t i = 0; i < order.size(); ++i) {
        const RecordingMgr::Call& c = mgr->calls[i];
        EXPECT_EQ(c.key.name, order[i]);
        EXPECT_EQ(c.key.key16, i);
        EXPECT_EQ(c.handle, chip->handle());
        EXPECT_EQ(c.profile, "default");
        EXPECT_EQ(c.keyManager, &hwMgr->keyManager());
        EXPECT_EQ(c.statusManager, &hwMgr->statusManager());
        EXPECT_FALSE(c.tablesInitializedBefore) << c.key.name;
    }
    EXPECT_EQ(mgr->pendingTableCount(), 0u);
    EXPECT_TRUE(entry->tablesInitialized());
    EXPECT_EQ(hwMgr->tablesBroughtUp(), 3u);
    EXPECT_EQ(mgr->device(), chip->handle());
    EXPECT_EQ(hwMgr->keyManager().tableCount(), 3u);
    EXPECT_TRUE(hwMgr->statusManager().tableCreated("staticDnatAcl"));

    // Nothing is brought up twice.
    loop.runPending();
    EXPECT_EQ(mgr->calls.size(), 3u);
}

TEST_F(TableServiceTest, AManagerWithNoTablesIsInitializedAtOnce) {
    list({});
    EXPECT_TRUE(entry->tablesInitialized());
    loop.runPending();
    EXPECT_TRUE(mgr->calls.empty());

    // A profile the system status does not describe has no capabilities at all.
    auto other = Ert::make<RecordingMgr>(
        Ert::make<VyrProfileDataEntry>("other", VyrDriver::VyrDevProfile{"other"}), system);
    EXPECT_EQ(other->profileCapabilities(), VyrSystem::ProfileCapabilities());
}

TEST_F(TableServiceTest, CliStatisticsGiveTheChipTablesSizeAndUse) {
    list({"addrOnlySnat", "staticSnatAcl"});
    loop.runPending();
    mgr->createCliTableStats("addrOnlySnat");
    mgr->createPerPipeCliTableStats("staticSnatAcl", 1);
    EXPECT_TRUE(mgr->cliTableStatsHas("addrOnlySnat"));
    EXPECT_TRUE(mgr->cliTableStatsHas("staticSnatAcl"));
    EXPECT_FALSE(mgr->cliTableStatsHas("addrPortSnat"));

    auto stats = mgr->populateAndReturnStats("addrOnlySnat", 0);
    EXPECT_EQ(stats.size, 8192u);
    EXPECT_EQ(stats.used, 0u);

    auto table =
        VyrP4::addrOnlySnatTableFactory(nullptr, nullptr, chip->handle(), 1, 0, 0, "default");
    for (uint32_t sip : {0x0a000001u, 0x0a000002u}) {
        VyrP4::AddrOnlySnatMatchSpec match;
        match.outerIpv4HdrSipIs(sip);
        VyrP4::SetTranslatedSipActionSpec action;
        action.translatedSipIs(0xc0000207u);
        table->entryIs(match, action);
    }
    stats = mgr->populateAndReturnStats("addrOnlySnat", 0);
    EXPECT_EQ(stats.size, 8192u);
    EXPECT_EQ(stats.used, 2u);

    stats = mgr->populateAndReturnStats("staticSnatAcl", 1);
    EXPECT_EQ(stats.size, 1024u);
    EXPECT_EQ(stats.used, 0u);
}

} // namespace
