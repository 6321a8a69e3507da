#pragma once
// What the NAT state machine's source files share: the VRF reactor and record, and how a
// helper call that the hardware refuses is counted.

#include "chip/Engine.h"
#include "host/OmaNatSm.h"
#include "host/Trace.h"

namespace Oma {

extern Trace::Handle natSmTrace;

// Runs a helper call; a table the hardware could not write counts as not programmed.
template <class Call> bool programmed(Call&& call) {
    try {
        return call();
    } catch (const VyrP4::TableError& e) {
        VTRACE(natSmTrace, 1, "hardware refused: " << e.what());
        return false;
    }
}

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
