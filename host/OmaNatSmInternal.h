#pragma once
// What the NAT state machine's source files share: the VRF and dynamic reactors, the VRF
// record, and how hardware status is published.

#include "host/OmaNatSm.h"
#include "host/Trace.h"

namespace Oma {

extern Trace::Handle natSmTrace;

// Sets or withdraws (nullopt) the hardware status of `key` with why it is not programmed, and
// keeps the programmed and not-programmed counts by difference: recounting every entry would
// make each change cost as much as all of them.
template <class Held, class Why, class K>
void publishHw(Held& hw, Why& reasons, Ert::Attr<uint32_t>& yes, Ert::Attr<uint32_t>& no,
               const K& key, std::optional<bool> programmed, const std::string& reason) {
    int y = int(yes());
    int n = int(no());
    if (const bool* before = hw.find(key)) {
        (*before ? y : n) -= 1;
    }
    if (programmed && !*programmed && !reason.empty()) {
        reasons.set(key, reason);
    } else if (!reasons.empty()) {
        reasons.erase(key);
    }
    if (programmed) {
        hw.set(key, *programmed);
        (*programmed ? y : n) += 1;
    } else {
        hw.erase(key);
    }
    yes.set(uint32_t(y));
    no.set(uint32_t(n));
}

// What the state machine installed for one dynamic NAT rule.
struct NatSm::AppliedTrap {
    Ip::Nat::NatTrapInfo info;
    Ip::Nat::AclRules rules;
    Ip::VrfId vrfId = 0;
    bool programmed = false;
    bool operator==(const AppliedTrap& o) const {
        return info == o.info && rules == o.rules && vrfId == o.vrfId;
    }
};

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

class NatSm::DynamicReactor : public Ert::Reactor<Ip::Nat::DynamicConnectionStatus> {
public:
    DynamicReactor(NatSm& sm, Ert::Ptr<Ip::Nat::DynamicConnectionStatus> status) : sm_(sm) {
        onEntry(&Ip::Nat::DynamicConnectionStatus::connection,
                [this](const Ip::Nat::DynamicConnectionKey& k) { sm_.syncConnection(k); });
        follow(std::move(status));
    }

private:
    NatSm& sm_;
};

} // namespace Oma
