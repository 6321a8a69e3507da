#pragma once
// The NAT helper's per-interface state machine. It follows the NAT and IP status of every
// interface, so that the reverse traps of interface-overload NAT always point at the current
// addresses of a profile's interfaces, and it runs the statistics task that turns the helper's
// dynamic add and delete counts into learning and deletion rates for the CLI.

#include "host/EventLoop.h"
#include "host/NatStatus.h"
#include "host/PlatformState.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace VyrNat {

class NatHelper;

class NatHelperSm {
public:
    static constexpr int kRateSlots = 60;
    static constexpr double kStatsInterval = 5.0;

    NatHelperSm(NatHelper* helper, Ert::Ptr<Ip::Status> ipStatus,
                Ert::Ptr<Ip::Nat::Status> natStatus, Ert::Ptr<Tasking::TaskScheduler> scheduler);
    ~NatHelperSm();

    void handleInitialized();
    void initDynStats();
    void updateDynStats();
    // Writes the rates of the windows fully covered by samples, newest first.
    void showLearningRates(int fd) const;

    bool initialized() const { return initialized_; }
    const Tasking::TimerTask* dynStatsTask() const { return dynStatsTask_.get(); }

    // A member interface of a NAT interface status came or went.
    void handleValidIntf(const std::string& natIntf, const std::string& intf);
    // An interface's address changed.
    void handleIpIntfStatusAddr(const std::string& intf);
    std::size_t natIntfStatusCount() const { return natIntfStatus_.size(); }
    std::size_t ipIntfStatusCount() const { return ipIntfStatus_.size(); }

private:
    class NatStatusReactor;
    class IpStatusReactor;
    class NatIntfReactor;
    class IpIntfReactor;

    void natIntfStatusIs(const std::string& intf);
    void ipIntfStatusIs(const std::string& intf);
    // The NAT profile a NAT interface status applies; nullopt for other interfaces.
    static std::optional<uint32_t> profileOf(const std::string& natIntf);

    NatHelper* helper_; // not owned: the helper owns this state machine
    Ert::Ptr<Ip::Status> ipStatus_;
    Ert::Ptr<Ip::Nat::Status> natStatus_;
    Ert::Ptr<Tasking::TaskScheduler> scheduler_;
    std::unique_ptr<Tasking::TimerTask> dynStatsTask_;
    bool initialized_ = false;
    std::unique_ptr<NatStatusReactor> natStatusReactor_;
    std::unique_ptr<IpStatusReactor> ipStatusReactor_;
    std::map<std::string, std::unique_ptr<NatIntfReactor>> natIntfStatus_;
    std::map<std::string, std::unique_ptr<IpIntfReactor>> ipIntfStatus_;
};

} // namespace VyrNat
