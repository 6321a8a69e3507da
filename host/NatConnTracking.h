#pragma once
// The host's connection tracking as far as aging goes: it owns the dynamic connections and the
// dynamic twice-NAT translations it published, and removes each that has been idle for its
// protocol's timeout. The hardware side tells it when each was last used (the hardware
// status's last-active times); what it removes, the NAT state machine then takes out of the
// hardware as any withdrawn connection.

#include "host/EventLoop.h"
#include "host/NatConfig.h"
#include "host/NatConnections.h"
#include "host/NatStatus.h"

#include <cstdint>
#include <vector>

namespace Ip::Nat {

class ConnTracking {
public:
    // How often idle connections are looked for: one leaves within this of its timeout.
    static constexpr double kAgingPeriodSeconds = 1.0;

    // The connection tables may be null (a host without them): then only twice-NAT ages.
    ConnTracking(Ert::Ptr<Config> config, Ert::Ptr<Status> status, Ert::Ptr<HwStatus> hwStatus,
                 Ert::Ptr<DynamicConnectionStatus> connections,
                 Ert::Ptr<DynamicConnectionHwStatus> connectionsHw);

    // Removes every connection and dynamic twice-NAT translation idle for its timeout.
    void age();

private:
    bool idle(uint8_t protocol, uint64_t lastActiveMs, uint64_t nowMs) const;

    Ert::Ptr<Config> config_;
    Ert::Ptr<Status> status_;
    Ert::Ptr<HwStatus> hwStatus_;
    Ert::Ptr<DynamicConnectionStatus> connections_;
    Ert::Ptr<DynamicConnectionHwStatus> connectionsHw_;
    Ert::Ptr<Tasking::TimerTask> task_;
    // Kept between runs, so that aging does not allocate once they have grown.
    std::vector<DynamicConnectionKey> idleConnections_;
    std::vector<TwiceNatKey> idleTwice_;
};

} // namespace Ip::Nat
