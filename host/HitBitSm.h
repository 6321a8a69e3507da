#pragma once
// The client side of the hit-bit service, as a manager derives from it. VyrHitBitSm polls: each
// period its scheduleHitBitPolling() asks for the scans it needs (hitBitScanRequestIs), and its
// VyrHitBitStatusWatcherSm calls handleHitBitPollingComplete(tableId) once the host reports the
// scan it asked for; readHitBit() then reads what the scan found, on any pipe.

#include "chip/ResourceInfo.h"
#include "host/EventLoop.h"
#include "host/HitBit.h"
#include "host/Hubdb.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace VyrSystem {

class VyrHitBitSm : public Ert::Entity {
public:
    ERT_ENTITY_TYPE("VyrSystem::VyrHitBitSm")
    static constexpr double kDefaultPollingSeconds = 1.0;

    VyrHitBitSm(std::string name, Ert::Ptr<HitBitConfig> hitBitConfig,
                std::shared_ptr<VyrP4::ResourceInfo> resourceInfo,
                Tasking::Duration pollingPeriod = Tasking::seconds(kDefaultPollingSeconds));
    ~VyrHitBitSm() override;

    // The shared-memory hit-bit tables, one per pipe, by name ("pipe0", ...).
    Ert::Collection<std::string, Ert::Ptr<HitBitTable>> hitBitTable{this, "hitBitTable"};

    const Ert::Ptr<HitBitConfig>& hitBitConfig() const { return hitBitConfig_; }
    const std::shared_ptr<VyrP4::ResourceInfo>& resourceInfo() const { return resourceInfo_; }

    // Calls initializeTables() and starts polling: scheduleHitBitPolling() once per period,
    // the first a period from now.
    void initialize();
    virtual void initializeTables() {}
    virtual void scheduleHitBitPolling() {}
    // The scan of a table this machine asked for is done.
    virtual void handleHitBitPollingComplete(std::uint32_t tableId) { (void)tableId; }
    // After the scans the host reported together.
    virtual void handleHitBitPollingComplete() {}

    Tasking::Duration pollingPeriod() const { return pollingPeriod_; }
    // The next poll comes a new period from now.
    void pollingPeriodIs(Tasking::Duration period);

    // Off: no polling and no completion calls, and what was asked is forgotten; on again:
    // polling restarts (when initialized).
    void hasNotificationActiveIs(bool active);
    bool hasNotificationActive() const { return active_; }

    // Asks the host to scan the table: the next request number in the config. Returns it.
    std::uint32_t hitBitScanRequestIs(std::uint32_t tableId);
    // The request this machine waits for on the table; 0 when none.
    std::uint32_t hitBitScanPending(std::uint32_t tableId) const;
    // The host finished the scan of `request`: when it is the one waited for, calls
    // handleHitBitPollingComplete(tableId) and returns true.
    bool hitBitScanCompleteIs(std::uint32_t tableId, std::uint32_t request);

    // Mounts the shared-memory tables of every pipe of the chip as a reader into hitBitTable.
    void hitBitTablesMount(Mirra::Service& mirra);
    // Whether the last scan of the table found the entry hit on any pipe.
    bool readHitBit(std::uint32_t tableId, VyrP4::VyrSdkEntryHandle handle) const;

private:
    void poll();

    Ert::Ptr<HitBitConfig> hitBitConfig_;
    std::shared_ptr<VyrP4::ResourceInfo> resourceInfo_;
    Tasking::Duration pollingPeriod_;
    Ert::Ptr<Tasking::TimerTask> pollingTask_;
    bool active_ = true;
    std::map<std::uint32_t, std::uint32_t> pending_; // table id -> request asked
};

// Follows the status of the state machine's client in the status directory, and tells the
// machine of each finished scan it asked for; after the scans reported together, it calls the
// machine's handleHitBitPollingComplete().
class VyrHitBitStatusWatcherSm : public Ert::Reactor<HitBitStatus> {
public:
    // `sm` outlives the watcher (its manager owns both). Without a status under `statusDir`
    // (a host without a hit-bit service) the watcher follows nothing.
    VyrHitBitStatusWatcherSm(std::string name, Ert::Ptr<Ert::Dir> statusDir, VyrHitBitSm* sm,
                             Ert::Ptr<Hubdb::EntityManager> entityManager);
    ~VyrHitBitStatusWatcherSm() override;

    const std::string& name() const { return name_; }

private:
    void handleScanComplete(std::uint32_t tableId);

    std::string name_;
    VyrHitBitSm* sm_;
    bool batchPosted_ = false;
};

} // namespace VyrSystem
