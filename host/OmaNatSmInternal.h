#pragma once
// What the NAT state machine's source files share: the VRF reactor and record.

#include "host/OmaNatSm.h"
#include "host/Trace.h"

namespace Oma {

extern Trace::Handle natSmTrace;

struct NatSm::AppliedVrf {
    uint32_t vrfId = 0;
    std::map<Ip::IpAddr, Ip::IpAddr> src;
    std::map<Ip::IpAddr, Ip::IpAddr> dst;
    std::optional<Ip::Nat::VrfPolicer> policer;
};

class NatSm::VrfReactor : public Ert::Reactor<Ip::Nat::VrfStatus> {
public:
    VrfReactor(NatSm& sm, std::string vrf, Ert::Ptr<Ip::Nat::VrfStatus> status)
        : sm_(sm), vrf_(std::move(vrf)) {
        onEntry(&Ip::Nat::VrfStatus::staticSrc, [this](const Ip::IpAddr&) { sm_.syncVrf(vrf_); });
        onEntry(&Ip::Nat::VrfStatus::staticDst, [this](const Ip::IpAddr&) { sm_.syncVrf(vrf_); });
        onChange(&Ip::Nat::VrfStatus::policer, [this] { sm_.syncVrf(vrf_); });
        onChange(&Ip::Nat::VrfStatus::vrfId, [this] { sm_.syncVrf(vrf_); });
        follow(std::move(status));
    }

private:
    NatSm& sm_;
    std::string vrf_;
};

} // namespace Oma
