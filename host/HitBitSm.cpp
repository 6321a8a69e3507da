#include "host/HitBitSm.h"

#include "host/Assert.h"
#include "host/Trace.h"

namespace VyrSystem {

namespace {
Trace::Handle hitBitSmTrace("VyrHitBitSm");
} // namespace

VyrHitBitSm::VyrHitBitSm(std::string name, Ert::Ptr<HitBitConfig> hitBitConfig,
                         std::shared_ptr<VyrP4::ResourceInfo> resourceInfo,
                         Tasking::Duration pollingPeriod)
    : Entity(std::move(name)), hitBitConfig_(std::move(hitBitConfig)),
      resourceInfo_(std::move(resourceInfo)), pollingPeriod_(pollingPeriod) {
    VYR_ASSERT(hitBitConfig_);
    VYR_ASSERT(pollingPeriod_ > Tasking::Duration::zero());
}

VyrHitBitSm::~VyrHitBitSm() = default;

void VyrHitBitSm::initialize() {
    initializeTables();
    if (!pollingTask_) {
        pollingTask_ =
            Ert::make<Tasking::TimerTask>(Tasking::EventLoop::current().scheduler("root"), 0,
                                          name() + "-hitBitPolling", [this] { poll(); });
    }
    if (active_) {
        pollingTask_->scheduleAt(pollingTask_->scheduler().loop().now() + pollingPeriod_);
    }
}

void VyrHitBitSm::poll() {
    // Rescheduled before the poll, so that a poll that switches notifications off stays off.
    pollingTask_->scheduleAt(pollingTask_->scheduler().loop().now() + pollingPeriod_);
    VTRACE(hitBitSmTrace, 7, name() << " polls");
    scheduleHitBitPolling();
}

void VyrHitBitSm::pollingPeriodIs(Tasking::Duration period) {
    VYR_ASSERT(period > Tasking::Duration::zero());
    pollingPeriod_ = period;
    if (pollingTask_ && pollingTask_->scheduled()) {
        pollingTask_->scheduleAt(pollingTask_->scheduler().loop().now() + pollingPeriod_);
    }
}

void VyrHitBitSm::hasNotificationActiveIs(bool active) {
    if (active == active_) {
        return;
    }
    active_ = active;
    if (!active) {
        pending_.clear();
        if (pollingTask_) {
            pollingTask_->cancel();
        }
    } else if (pollingTask_) {
        pollingTask_->scheduleAt(pollingTask_->scheduler().loop().now() + pollingPeriod_);
    }
}

std::uint32_t VyrHitBitSm::hitBitScanRequestIs(std::uint32_t tableId) {
    std::uint32_t request = hitBitConfig_->scanRequestNumber(tableId) + 1;
    if (request == 0) {
        request = 1; // 0 is no request
    }
    hitBitConfig_->scanRequestIs(tableId, request);
    pending_[tableId] = request;
    return request;
}

std::uint32_t VyrHitBitSm::hitBitScanPending(std::uint32_t tableId) const {
    auto it = pending_.find(tableId);
    return it == pending_.end() ? 0 : it->second;
}

bool VyrHitBitSm::hitBitScanCompleteIs(std::uint32_t tableId, std::uint32_t request) {
    auto it = pending_.find(tableId);
    if (!active_ || it == pending_.end() || it->second != request) {
        return false;
    }
    pending_.erase(it);
    handleHitBitPollingComplete(tableId);
    return true;
}

void VyrHitBitSm::hitBitTablesMount(Mirra::Service& mirra) {
    const std::uint32_t pipes = resourceInfo_ ? resourceInfo_->profile().pipes() : 1;
    for (std::uint32_t p = 0; p < pipes; ++p) {
        auto table = Ert::ptrCast<HitBitTable>(
            mirra.mount({hitBitTablePath(p), HitBitTable::kTypeName, Mirra::Role::reader, {}}));
        VYR_CHECK(table, "no hit-bit table at " + hitBitTablePath(p));
        hitBitTable.set(hitBitTableName(p), table);
    }
}

bool VyrHitBitSm::readHitBit(std::uint32_t tableId, VyrP4::VyrSdkEntryHandle handle) const {
    for (const auto& [name, table] : hitBitTable) {
        if (table && table->read(tableId, handle)) {
            return true;
        }
    }
    return false;
}

VyrHitBitStatusWatcherSm::VyrHitBitStatusWatcherSm(std::string name, Ert::Ptr<Ert::Dir> statusDir,
                                                   VyrHitBitSm* sm,
                                                   Ert::Ptr<Hubdb::EntityManager> entityManager)
    : name_(std::move(name)), sm_(sm) {
    VYR_ASSERT(statusDir && sm_ && entityManager);
    // The directory's mount covers the statuses below it.
    const std::string path = statusDir->name() + "/" + hitBitClient(sm_->hitBitConfig()->name());
    Ert::Ptr<HitBitStatus> status = Ert::ptrCast<HitBitStatus>(entityManager->entity(path));
    if (!status) {
        VTRACE(hitBitSmTrace, 1, name_ << ": no hit-bit status at " << path);
        return;
    }
    onEntry(&HitBitStatus::scanComplete,
            [this](const std::uint32_t& tableId) { handleScanComplete(tableId); });
    follow(status);
}

VyrHitBitStatusWatcherSm::~VyrHitBitStatusWatcherSm() {
    if (auto* loop = Tasking::EventLoop::currentOrNull()) {
        loop->cancel(static_cast<const void*>(this));
    }
}

void VyrHitBitStatusWatcherSm::handleScanComplete(std::uint32_t tableId) {
    const std::uint32_t request = entity()->scanCompleteNumber(tableId);
    if (!request || !sm_->hitBitScanCompleteIs(tableId, request)) {
        return;
    }
    VTRACE(hitBitSmTrace, 5, name_ << ": table " << tableId << " request " << request << " done");
    if (!batchPosted_) {
        // Reports queued with this one are handled before the batch ends.
        batchPosted_ = true;
        Tasking::EventLoop::current().post(static_cast<const void*>(this), [this] {
            batchPosted_ = false;
            sm_->handleHitBitPollingComplete();
        });
    }
}

} // namespace VyrSystem
