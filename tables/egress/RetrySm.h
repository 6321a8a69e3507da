#pragma once
// Drives the egress static manager's retries: two timer tasks, one per direction, that write
// the address entries still waiting for hardware every retry delay, for the life of the manager.
// A pass yields to the scheduler between NAT profiles and resumes at its bookmark.

#include "host/EventLoop.h"
#include "host/Ptr.h"

#include <cstdint>

namespace VyrNat {

class VyrNatTableMgrEgressStatic;

class RetrySm : public Ert::RefCounted {
public:
    static constexpr int kTaskPriority = 5;

    // `mgr` is not owned: the manager owns this machine.
    RetrySm(VyrNatTableMgrEgressStatic* mgr, Ert::Ptr<Tasking::TaskScheduler> scheduler);

    void handleInitialized();
    void handleSnatRetry();
    void handleDnatRetry();

    bool initialized() const { return initialized_; }
    // The profile id at which the next pass resumes; 0: from the first profile.
    uint16_t snatRetryBookmark() const { return snatRetryBookmark_; }
    uint16_t dnatRetryBookmark() const { return dnatRetryBookmark_; }
    const Tasking::TimerTask& snatRetryTask() const { return *snatRetryTask_; }
    const Tasking::TimerTask& dnatRetryTask() const { return *dnatRetryTask_; }
    Tasking::TaskScheduler& scheduler() const { return *scheduler_; }

private:
    using Pass = uint16_t (VyrNatTableMgrEgressStatic::*)(uint16_t, Tasking::TaskScheduler&);
    void runPass(Tasking::TimerTask& task, uint16_t& bookmark, Pass pass);

    VyrNatTableMgrEgressStatic* mgr_;
    Ert::Ptr<Tasking::TaskScheduler> scheduler_;
    Ert::Ptr<Tasking::TimerTask> snatRetryTask_;
    Ert::Ptr<Tasking::TimerTask> dnatRetryTask_;
    uint16_t snatRetryBookmark_ = 0;
    uint16_t dnatRetryBookmark_ = 0;
    bool initialized_ = false;
};

} // namespace VyrNat
