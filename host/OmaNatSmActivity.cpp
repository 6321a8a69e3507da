// The NAT state machine's activity polls: which programmed connections and dynamic twice-NAT
// translations the hardware saw used. It only publishes when; connection tracking, which owns
// the connections, ages them from it.

#include "host/OmaNatSmInternal.h"

namespace Oma {

namespace {

constexpr uint32_t kDefaultPollSeconds = 10;

uint64_t nowMs() {
    return uint64_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(Tasking::EventLoop::current().now())
            .count());
}

} // namespace

void NatSm::scheduleActivityPoll() {
    if (!activityPoll_) {
        activityPoll_ =
            Ert::make<Tasking::TimerTask>(Tasking::EventLoop::current().scheduler("root"), 0,
                                          "OmaNatSm-activityPoll", [this] { pollActivity(); });
    }
    // A changed period takes effect from the poll after next.
    const uint32_t period = in_.natConfig && in_.natConfig->connectionPollInterval()
                                ? in_.natConfig->connectionPollInterval()
                                : kDefaultPollSeconds;
    activityPoll_->scheduleTaskDelay(period);
}

void NatSm::pollActivity() {
    scheduleActivityPoll();
    const uint64_t now = nowMs();
    auto& helper = *in_.helper;
    std::size_t active = 0;
    if (in_.dynamicConnectionHwStatus) {
        auto& lastActive = in_.dynamicConnectionHwStatus->lastActive;
        for (const auto& [key, a] : appliedConns_) {
            if (!a.programmed) {
                continue;
            }
            const auto& t = key.tuple;
            const auto& c = a.value;
            const uint64_t hits =
                key.sourceTranslation()
                    ? helper.getDynamicSrcCountersSinceLastPoll(c.profile, t, c.fullCone, key.vrfId)
                    : helper.getDynamicDstCountersSinceLastPoll(c.profile, t, c.fullCone, t.dst,
                                                                key.vrfId);
            if (hits) {
                lastActive.set(key, now);
                ++active;
            }
        }
    }
    auto& twiceLastActive = in_.natHwStatus->twiceNatLastActive;
    for (const auto& [key, a] : appliedTwice_) {
        const auto& t = a.value;
        if (a.programmed && t.dynamic &&
            helper.dynamicTwiceActive(key.profile, key.protocol, key.srcOld, t.srcNew, key.dstOld,
                                      t.dstNew)) {
            twiceLastActive.set(key, now);
            ++active;
        }
    }
    VTRACE(natSmTrace, 7, "activity poll: " << active << " active");
}

void NatSm::lastActiveIs(const Ip::Nat::DynamicConnectionKey& key, std::optional<bool> programmed) {
    auto& lastActive = in_.dynamicConnectionHwStatus->lastActive;
    if (programmed.value_or(false)) {
        // A connection ages from when it is programmed until the hardware sees it used.
        if (!lastActive.has(key)) {
            lastActive.set(key, nowMs());
        }
    } else {
        lastActive.erase(key);
    }
}

void NatSm::lastActiveIs(const Ip::Nat::TwiceNatKey& key, std::optional<bool> programmed,
                         bool dynamic) {
    auto& lastActive = in_.natHwStatus->twiceNatLastActive;
    if (programmed.value_or(false) && dynamic) {
        if (!lastActive.has(key)) {
            lastActive.set(key, nowMs());
        }
    } else {
        lastActive.erase(key);
    }
}

} // namespace Oma
