#pragma once
// The NAT helper's per-interface state machine. It runs the statistics task that turns the
// helper's dynamic add and delete counts into learning and deletion rates for the CLI.

#include "host/EventLoop.h"
#include "host/NatStatus.h"
#include "host/PlatformState.h"

#include <cstdint>
#include <memory>

namespace VyrNat {

class NatHelper;

class NatHelperSm {
public:
    static constexpr int kRateSlots = 60;
    static constexpr double kStatsInterval = 5.0;

    NatHelperSm(NatHelper* helper, Ert::Ptr<Ip::Status> ipStatus,
                Ert::Ptr<Ip::Nat::Status> natStatus, Ert::Ptr<Tasking::TaskScheduler> scheduler);

    void handleInitialized();
    void initDynStats();
    void updateDynStats();
    // Writes the rates of the windows fully covered by samples, newest first.
    void showLearningRates(int fd) const;

    bool initialized() const { return initialized_; }
    const Tasking::TimerTask* dynStatsTask() const { return dynStatsTask_.get(); }

private:
    NatHelper* helper_; // not owned: the helper owns this state machine
    Ert::Ptr<Ip::Status> ipStatus_;
    Ert::Ptr<Ip::Nat::Status> natStatus_;
    Ert::Ptr<Tasking::TaskScheduler> scheduler_;
    std::unique_ptr<Tasking::TimerTask> dynStatsTask_;
    bool initialized_ = false;
};

} // namespace VyrNat
