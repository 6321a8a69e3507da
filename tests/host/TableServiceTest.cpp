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
    EXPECT_EQ(mgr->profileCapabilities(), chip->profile());

    list({"addrPortSnat", "staticDnatAcl", "addrOnlySnat"});
    EXPECT_FALSE(entry->tablesInitialized());
    loop.runPending();

    // Each call: the key (name, pipe, listing), the profile, and whether the entry was marked.
    std::vector<std::string> calls;
    for (const RecordingMgr::Call& c : mgr->calls) {
        calls.push_back(c.key.str() + " " + c.profile + (c.tablesInitializedBefore ? " late" : ""));
        EXPECT_EQ(c.handle, chip->handle());
        EXPECT_EQ(c.keyManager, &hwMgr->keyManager());
        EXPECT_EQ(c.statusManager, &hwMgr->statusManager());
    }
    EXPECT_EQ(calls,
              (std::vector<std::string>{"addrPortSnat/0/0 default", "staticDnatAcl/0/1 default",
                                        "addrOnlySnat/0/2 default"}));
    EXPECT_TRUE(entry->tablesInitialized());
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
    list({"addrOnlySnat", "staticSnatAcl", "addrPortSnat"});
    loop.runPending();
    mgr->createCliTableStats("addrOnlySnat");
    mgr->createPerPipeCliTableStats("staticSnatAcl", 1);
    EXPECT_TRUE(mgr->cliTableStatsHas("staticSnatAcl"));
    EXPECT_FALSE(mgr->cliTableStatsHas("addrPortSnat"));

    VyrP4::AddrOnlySnatMatchSpec match;
    match.outerIpv4HdrSipIs(0x0a000001u);
    VyrP4::addrOnlySnatTableFactory(nullptr, nullptr, chip->handle(), 1, 0, 0, "default")
        ->entryIs(match, VyrP4::SetTranslatedSipActionSpec{});
    auto stats = [&](const std::string& name, uint8_t pipe) {
        const VyrAgentLib::TableStats s = mgr->populateAndReturnStats(name, pipe);
        return std::to_string(s.size) + " " + std::to_string(s.used);
    };
    EXPECT_EQ(stats("addrOnlySnat", 0), "8192 1");
    EXPECT_EQ(stats("staticSnatAcl", 1), "1024 0");
    EXPECT_EQ(stats("staticSnatAcl", 0), "0 0"); // made for pipe 1 only
    EXPECT_EQ(stats("addrPortSnat", 0), "0 0");  // no statistics asked for
}

} // namespace
