// The NAT state machine's translations between VRFs and their policers.

#include "host/OmaNatSm.h"
#include "host/OmaNatSmInternal.h"

namespace Oma {

void NatSm::syncVrf(const std::string& vrf) {
    const auto* status = in_.natStatus->vrfStatus.find(vrf);
    Ip::Nat::VrfStatus* desired = status ? status->get() : nullptr;
    auto reactor = vrfReactors_.find(vrf);
    if (!desired) {
        vrfReactors_.erase(vrf);
    } else if (reactor == vrfReactors_.end() || reactor->second->entity() != desired) {
        vrfReactors_[vrf] = std::make_unique<VrfReactor>(*this, vrf, *status);
    }
    AppliedVrf& a = appliedVrfs_[vrf];
    // A policer of rate and burst 0 is no policer.
    std::optional<Ip::Nat::VrfPolicer> wantPolicer = desired ? desired->policer() : std::nullopt;
    if (wantPolicer && wantPolicer->rate == 0 && wantPolicer->burst == 0) {
        wantPolicer.reset();
    }
    const bool supported = in_.natHwCapabilities && in_.natHwCapabilities->vrfNatSupported();
    const uint32_t vrfId = desired ? desired->vrfId() : a.vrfId;
    // VRF ids at 0xFFFF and above are not valid; the default VRF has no translations of its own.
    const bool valid = supported && vrfId != 0 && vrfId < Ip::kInvalidVrfId;
    const char* invalid = !supported ? "no VRF NAT on this chip" : "VRF without a valid id";
    auto hw = hwVrf(vrf);

    // Removed or changed translations go first, at the VRF they were made in.
    auto release = [&](std::map<Ip::IpAddr, Ip::IpAddr>& applied,
                       const Ert::Collection<Ip::IpAddr, Ip::IpAddr>* want, bool source) {
        for (auto it = applied.begin(); it != applied.end();) {
            const Ip::IpAddr* w = want ? want->find(it->first) : nullptr;
            if (w && *w == it->second && desired && desired->vrfId() == a.vrfId) {
                ++it;
                continue;
            }
            if (source) {
                in_.helper->deleteStaticVrfSrcIpTranslation(it->first, it->second, a.vrfId, 0);
            } else {
                in_.helper->deleteStaticVrfDstIpTranslation(it->first, it->second, a.vrfId, 0);
            }
            (source ? hw->staticSrc : hw->staticDst).erase(it->first);
            (source ? hw->staticSrcReason : hw->staticDstReason).erase(it->first);
            it = applied.erase(it);
        }
    };
    release(a.src, desired ? &desired->staticSrc : nullptr, true);
    release(a.dst, desired ? &desired->staticDst : nullptr, false);
    if (a.policer && (wantPolicer != a.policer || !desired || desired->vrfId() != a.vrfId)) {
        in_.helper->updateVrfSourcePolicer(a.vrfId, 0, 0);
        a.policer.reset();
        hw->policer.set(std::nullopt);
    }
    a.vrfId = vrfId;

    if (desired) {
        auto add = [&](std::map<Ip::IpAddr, Ip::IpAddr>& applied,
                       const Ert::Collection<Ip::IpAddr, Ip::IpAddr>& want, bool source) {
            for (const auto& [oldIp, newIp] : want) {
                if (applied.count(oldIp)) {
                    continue;
                }
                const bool ok =
                    valid &&
                    (source ? in_.helper->addStaticVrfSrcIpTranslation(oldIp, newIp, vrfId, 0)
                            : in_.helper->addStaticVrfDstIpTranslation(oldIp, newIp, vrfId, 0));
                if (ok) {
                    applied[oldIp] = newIp;
                }
                (source ? hw->staticSrc : hw->staticDst).set(oldIp, ok);
                auto& reasons = source ? hw->staticSrcReason : hw->staticDstReason;
                if (ok) {
                    reasons.erase(oldIp);
                } else {
                    reasons.set(oldIp, valid ? in_.helper->refusal() : invalid);
                }
            }
        };
        add(a.src, desired->staticSrc, true);
        add(a.dst, desired->staticDst, false);
        if (wantPolicer && !a.policer) {
            const auto p = *wantPolicer;
            const bool ok = valid && in_.helper->updateVrfSourcePolicer(vrfId, p.rate, p.burst);
            if (ok) {
                a.policer = p;
            }
            hw->policer.set(ok);
            hw->policerReason.set(ok ? std::string() : valid ? in_.helper->refusal() : invalid);
        }
        // What was refused leaves the hardware status once it is no longer configured.
        auto prune = [](Ert::Collection<Ip::IpAddr, bool>& hwColl,
                        Ert::Collection<Ip::IpAddr, std::string>& reasons,
                        const Ert::Collection<Ip::IpAddr, Ip::IpAddr>& want) {
            std::vector<Ip::IpAddr> gone;
            for (const auto& [addr, programmed] : hwColl) {
                if (!want.find(addr)) {
                    gone.push_back(addr);
                }
            }
            for (const auto& addr : gone) {
                hwColl.erase(addr);
                reasons.erase(addr);
            }
        };
        prune(hw->staticSrc, hw->staticSrcReason, desired->staticSrc);
        prune(hw->staticDst, hw->staticDstReason, desired->staticDst);
        if (!wantPolicer) {
            hw->policer.set(std::nullopt);
            hw->policerReason.set(std::string());
        }
    }
    if (!desired && a.src.empty() && a.dst.empty() && !a.policer) {
        appliedVrfs_.erase(vrf);
        in_.natHwStatus->vrfStatus.erase(vrf);
    }
}

Ert::Ptr<Ip::Nat::HwVrfStatus> NatSm::hwVrf(const std::string& vrf) {
    if (const auto* e = in_.natHwStatus->vrfStatus.find(vrf)) {
        return *e;
    }
    auto e = Ert::make<Ip::Nat::HwVrfStatus>(vrf);
    in_.natHwStatus->vrfStatus.set(vrf, e);
    return e;
}

} // namespace Oma
