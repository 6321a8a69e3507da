#include "tables/egress/RetrySm.h"

#include "host/Assert.h"
#include "tables/egress/VyrNatTableMgrEgressStatic.h"

namespace VyrNat {

RetrySm::RetrySm(VyrNatTableMgrEgressStatic* mgr, Ert::Ptr<Tasking::TaskScheduler> scheduler)
    : mgr_(mgr), scheduler_(std::move(scheduler)) {
    VYR_ASSERT(mgr_ && scheduler_);
    handleInitialized();
}

void RetrySm::handleInitialized() {
    snatRetryTask_ = Ert::make<Tasking::TimerTask>(scheduler_, kTaskPriority, "snatRetryTask",
                                                   [this] { handleSnatRetry(); });
    dnatRetryTask_ = Ert::make<Tasking::TimerTask>(scheduler_, kTaskPriority, "dnatRetryTask",
                                                   [this] { handleDnatRetry(); });
    // Not initialized yet: each handler only schedules its first run.
    handleDnatRetry();
    handleSnatRetry();
    initialized_ = true;
}

void RetrySm::handleSnatRetry() {
    runPass(*snatRetryTask_, snatRetryBookmark_, &VyrNatTableMgrEgressStatic::retrySnatPass);
}

void RetrySm::handleDnatRetry() {
    runPass(*dnatRetryTask_, dnatRetryBookmark_, &VyrNatTableMgrEgressStatic::retryDnatPass);
}

void RetrySm::runPass(Tasking::TimerTask& task, uint16_t& bookmark, Pass pass) {
    if (initialized_ && mgr_->initialized()) {
        bookmark = (mgr_->*pass)(bookmark, *scheduler_);
    }
    task.scheduleTaskDelay(mgr_->retryDelay());
}

} // namespace VyrNat
