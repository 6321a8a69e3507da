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

class NatHelperSm::NatStatusReactor : public Ert::Reactor<Ip::Nat::Status> {
public:
    NatStatusReactor(NatHelperSm& sm, Ert::Ptr<Ip::Nat::Status> status) {
        onEntry(&Ip::Nat::Status::intfStatus,
                [&sm](const std::string& intf) { sm.natIntfStatusIs(intf); });
        follow(std::move(status));
    }
};

class NatHelperSm::IpStatusReactor : public Ert::Reactor<Ip::Status> {
public:
    IpStatusReactor(NatHelperSm& sm, Ert::Ptr<Ip::Status> status) {
        onEntry(&Ip::Status::intfStatus,
                [&sm](const std::string& intf) { sm.ipIntfStatusIs(intf); });
        follow(std::move(status));
    }
};

class NatHelperSm::NatIntfReactor : public Ert::Reactor<Ip::Nat::IntfStatus> {
public:
    NatIntfReactor(NatHelperSm& sm, const std::string& natIntf) {
        onEntry(&Ip::Nat::IntfStatus::validIntf,
                [&sm, natIntf](const std::string& intf) { sm.handleValidIntf(natIntf, intf); });
    }
};

class NatHelperSm::IpIntfReactor : public Ert::Reactor<Ip::IpIntfStatus> {
public:
    IpIntfReactor(NatHelperSm& sm, const std::string& intf) {
        onChange(&Ip::IpIntfStatus::addr, [&sm, intf] { sm.handleIpIntfStatusAddr(intf); });
    }
};

NatHelperSm::NatHelperSm(NatHelper* helper, Ert::Ptr<Ip::Status> ipStatus,
                         Ert::Ptr<Ip::Nat::Status> natStatus,
                         Ert::Ptr<Tasking::TaskScheduler> scheduler)
    : helper_(helper), ipStatus_(std::move(ipStatus)), natStatus_(std::move(natStatus)),
      scheduler_(std::move(scheduler)) {
    if (natStatus_) {
        natStatusReactor_ = std::make_unique<NatStatusReactor>(*this, natStatus_);
        for (const auto& [intf, status] : natStatus_->intfStatus) {
            natIntfStatusIs(intf);
        }
    }
    if (ipStatus_) {
        ipStatusReactor_ = std::make_unique<IpStatusReactor>(*this, ipStatus_);
        for (const auto& [intf, status] : ipStatus_->intfStatus) {
            ipIntfStatusIs(intf);
        }
    }
    handleInitialized();
}

NatHelperSm::~NatHelperSm() = default;

void NatHelperSm::natIntfStatusIs(const std::string& intf) {
    const auto* status = natStatus_->intfStatus.find(intf);
    if (!status || !*status) {
        auto gone = natIntfStatus_.find(intf);
        if (gone == natIntfStatus_.end()) {
            return;
        }
        // Its members leave with it.
        const auto profile = profileOf(intf);
        if (const auto* old = gone->second->entity(); old && profile) {
            for (const auto& [member, valid] : old->validIntf) {
                helper_->updateOverloadRvsTrapIntf(*profile, member, false);
            }
        }
        natIntfStatus_.erase(gone);
        return;
    }
    auto& reactor = natIntfStatus_[intf];
    if (!reactor) {
        reactor = std::make_unique<NatIntfReactor>(*this, intf);
    }
    if (reactor->entity() != status->get()) {
        reactor->follow(*status);
        // What the interface already holds counts as arriving now.
        for (const auto& [member, valid] : (*status)->validIntf) {
            handleValidIntf(intf, member);
        }
    }
}

void NatHelperSm::ipIntfStatusIs(const std::string& intf) {
    const auto* status = ipStatus_->intfStatus.find(intf);
    if (!status || !*status) {
        ipIntfStatus_.erase(intf);
        handleIpIntfStatusAddr(intf);
        return;
    }
    auto& reactor = ipIntfStatus_[intf];
    if (!reactor) {
        reactor = std::make_unique<IpIntfReactor>(*this, intf);
    }
    if (reactor->entity() != status->get()) {
        reactor->follow(*status);
        handleIpIntfStatusAddr(intf);
    }
}

std::optional<uint32_t> NatHelperSm::profileOf(const std::string& natIntf) {
    if (auto profile = Oma::NatSm::profileOfIntf(natIntf)) {
        return *profile;
    }
    return std::nullopt;
}

void NatHelperSm::handleValidIntf(const std::string& natIntf, const std::string& intf) {
    const auto profile = profileOf(natIntf);
    if (!profile) {
        return; // overload NAT is configured on NAT profile interfaces only
    }
    const auto* status = natStatus_->intfStatus.find(natIntf);
    const bool add = status && *status && (*status)->validIntf.find(intf);
    helper_->updateOverloadRvsTrapIntf(*profile, intf, add);
}

void NatHelperSm::handleIpIntfStatusAddr(const std::string& intf) {
    const auto* ip = ipStatus_->intfStatus.find(intf);
    const bool add = ip && *ip && (*ip)->addr().value != 0;
    for (const auto& [natIntf, status] : natStatus_->intfStatus) {
        const auto profile = profileOf(natIntf);
        if (profile && status && status->validIntf.find(intf)) {
            helper_->updateOverloadRvsTrapIntf(*profile, intf, add);
        }
    }
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
