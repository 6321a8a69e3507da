#include "helper/NatHelperSm.h"

#include "helper/VyrNatHelper.h"
#include "host/Assert.h"

#include <cstdio>

namespace VyrNat {

namespace {

constexpr uint32_t kNoSample = 0xFFFFFFFFu;

// The rate samples are process-wide: one ring of additions, one of deletions, one write index.
uint32_t addRing[NatHelperSm::kRateSlots];
uint32_t delRing[NatHelperSm::kRateSlots];
int ringIndex = 0;

} // namespace

NatHelperSm::NatHelperSm(NatHelper* helper, Ert::Ptr<Ip::Status> ipStatus,
                         Ert::Ptr<Ip::Nat::Status> natStatus,
                         Ert::Ptr<Tasking::TaskScheduler> scheduler)
    : helper_(helper), ipStatus_(std::move(ipStatus)), natStatus_(std::move(natStatus)),
      scheduler_(std::move(scheduler)) {
    handleInitialized();
}

void NatHelperSm::handleInitialized() {
    VYR_ASSERT(scheduler_);
    dynStatsTask_ = std::make_unique<Tasking::TimerTask>(
        scheduler_, 4, "VyrNat stats collecting task", [this] { updateDynStats(); });
    initDynStats();
    initialized_ = true;
}

void NatHelperSm::initDynStats() {
    helper_->dynAddIs(0);
    helper_->dynDelIs(0);
    for (int i = 0; i < kRateSlots; ++i) {
        addRing[i] = kNoSample;
        delRing[i] = kNoSample;
    }
    ringIndex = 0;
    dynStatsTask_->scheduleTaskDelay(kStatsInterval);
}

void NatHelperSm::updateDynStats() {
    addRing[ringIndex] = helper_->dynAdd();
    delRing[ringIndex] = helper_->dynDel();
    ringIndex = (ringIndex + 1) % kRateSlots;
    helper_->dynAddIs(0);
    helper_->dynDelIs(0);
    dynStatsTask_->scheduleTaskDelay(kStatsInterval);
}

void NatHelperSm::showLearningRates(int fd) const {
    struct Window {
        int samples;
        const char* name;
        unsigned divisor;
    };
    static constexpr Window kWindows[] = {
        {1, "5s", 5}, {6, "30s", 30}, {12, "60s", 60}, {60, "300s", 300}};
    uint64_t adds = 0;
    uint64_t dels = 0;
    int taken = 0;
    for (const Window& w : kWindows) {
        while (taken < w.samples) {
            const int slot = (ringIndex - 1 - taken + 2 * kRateSlots) % kRateSlots;
            if (addRing[slot] == kNoSample) {
                return;
            }
            adds += addRing[slot];
            dels += delRing[slot];
            ++taken;
        }
        dprintf(fd, "Dynamic hw learning rate for %s: %u\n", w.name, unsigned(adds / w.divisor));
        dprintf(fd, "Dynamic hw deletion rate for %s: %u\n", w.name, unsigned(dels / w.divisor));
    }
}

} // namespace VyrNat
