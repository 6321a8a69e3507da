#include "host/NatConnTracking.h"

#include "host/Trace.h"

namespace Ip::Nat {

namespace {

Trace::Handle connTrackingTrace("ConnTracking");

} // namespace

ConnTracking::ConnTracking(Ert::Ptr<Config> config, Ert::Ptr<Status> status,
                           Ert::Ptr<HwStatus> hwStatus,
                           Ert::Ptr<DynamicConnectionStatus> connections,
                           Ert::Ptr<DynamicConnectionHwStatus> connectionsHw)
    : config_(std::move(config)), status_(std::move(status)), hwStatus_(std::move(hwStatus)),
      connections_(std::move(connections)), connectionsHw_(std::move(connectionsHw)),
      task_(Ert::make<Tasking::TimerTask>(Tasking::EventLoop::current().scheduler("root"), 0,
                                          "ConnTracking-aging", [this] {
                                              task_->scheduleTaskDelay(kAgingPeriodSeconds);
                                              age();
                                          })) {
    task_->scheduleTaskDelay(kAgingPeriodSeconds);
}

bool ConnTracking::idle(uint8_t protocol, uint64_t lastActiveMs, uint64_t nowMs) const {
    return nowMs >= lastActiveMs &&
           nowMs - lastActiveMs >= uint64_t(config_->timeoutOf(protocol)) * 1000;
}

void ConnTracking::age() {
    const uint64_t now = uint64_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(task_->scheduler().loop().now())
            .count());
    idleConnections_.clear();
    idleTwice_.clear();
    if (connections_ && connectionsHw_) {
        for (const auto& [key, last] : connectionsHw_->lastActive) {
            if (idle(key.tuple.protocol, last, now) && connections_->connection.has(key)) {
                idleConnections_.push_back(key);
            }
        }
    }
    for (const auto& [key, last] : hwStatus_->twiceNatLastActive) {
        const TwiceNatTranslation* t = status_->twiceNat.find(key);
        if (t && t->dynamic && idle(key.protocol, last, now)) {
            idleTwice_.push_back(key);
        }
    }
    for (const auto& key : idleConnections_) {
        VTRACE(connTrackingTrace, 2, "idle, removed: " << key.str());
        connections_->connection.erase(key);
    }
    for (const auto& key : idleTwice_) {
        VTRACE(connTrackingTrace, 2, "idle, removed: twice NAT " << key.str());
        status_->twiceNat.erase(key);
    }
    if (const std::size_t n = idleConnections_.size() + idleTwice_.size(); n && connections_) {
        connections_->aged.set(connections_->aged() + n);
    }
}

} // namespace Ip::Nat
