// The NAT state machine's dynamic part: connections that connection tracking translated,
// twice-NAT translations and NAT flows. Each is compared with what was last asked of the
// helper, so that a change costs one helper call or two, never a pass over all of them.

#include "host/OmaNatSmInternal.h"

namespace Oma {

namespace {

// The helper's view of a next-hop word; null for none.
struct NextHopArg {
    explicit NextHopArg(uint32_t word) : info(word), ptr(word ? &info : nullptr) {}
    VyrNat::NatNextHopInfo info;
    const Oma::NatNextHopInfo* ptr;
};

// The translation as the chip matches it: a side translated without a port on either end is
// address-only, and neither the protocol nor the profile is part of the match. (The twice
// manager takes a second profile's identical translation as done, without a reference of its
// own: the first one's delete would take the entries.)
Ip::Nat::TwiceNatKey matchedAs(Ip::Nat::TwiceNatKey key, const Ip::Nat::TwiceNatTranslation& t) {
    if (key.srcOld.port == 0 || t.srcNew.port == 0) {
        key.srcOld.port = 0;
    }
    if (key.dstOld.port == 0 || t.dstNew.port == 0) {
        key.dstOld.port = 0;
    }
    key.protocol = 0;
    key.profile = 0;
    return key;
}

// Whether the chip would take `b` for `a` (whose match is the same): the same evened-out
// translation with the same kind
// of protocol (TCP, UDP, or any other). Another translation of the same match is the twice
// manager's conflicting duplicate to report.
bool sameTwiceTranslation(const Ip::Nat::TwiceNatKey& a, const Ip::Nat::TwiceNatTranslation& at,
                          const Ip::Nat::TwiceNatKey& b, const Ip::Nat::TwiceNatTranslation& bt) {
    const auto kind = [](uint8_t proto) { return proto == 6 || proto == 17 ? proto : 0; };
    const auto evened = [](Ip::IpAndPort o, Ip::IpAndPort n) {
        return o.port == 0 ? Ip::IpAndPort{n.ip, 0} : n;
    };
    return kind(a.protocol) == kind(b.protocol) &&
           evened(a.srcOld, at.srcNew) == evened(b.srcOld, bt.srcNew) &&
           evened(a.dstOld, at.dstNew) == evened(b.dstOld, bt.dstNew);
}

} // namespace

void NatSm::followDynamic() {
    for (const auto& [key, flow] : in_.natStatus->twiceNat) {
        syncTwice(key);
    }
    for (const auto& [key, flow] : in_.natStatus->natFlow) {
        syncFlow(key);
    }
    // Without the shared-memory connection tables the host has no dynamic connections to give.
    if (!in_.dynamicConnectionStatus || !in_.dynamicConnectionHwStatus) {
        return;
    }
    dynamicReactor_ = std::make_unique<DynamicReactor>(*this, in_.dynamicConnectionStatus);
    for (const auto& [key, conn] : in_.dynamicConnectionStatus->connection) {
        syncConnection(key);
    }
}

void NatSm::syncConnection(const Ip::Nat::DynamicConnectionKey& key) {
    const Ip::Nat::DynamicConnection* want = in_.dynamicConnectionStatus->connection.find(key);
    auto applied = appliedConns_.find(key);
    if (applied != appliedConns_.end()) {
        auto& a = applied->second;
        if (want && *want == a.value) {
            return;
        }
        // A destination translation that keeps its translated address changes in place; its
        // fragment entry stays what it is.
        const bool inPlace =
            want && a.programmed && !key.sourceTranslation() && want->profile == a.value.profile &&
            want->fullCone == a.value.fullCone && want->translated.ip == a.value.translated.ip;
        if (inPlace) {
            a.value = *want;
            a.programmed = addConnection(key, *want, true);
            if (!a.programmed) {
                // What a refused update left is not what the status says: none of it stays.
                deleteConnection(key, *want);
            }
            publishConnection(key, a.programmed, a.programmed ? "" : refusal());
            return;
        }
        if (a.programmed) {
            deleteConnection(key, a.value);
            ++dynamicStats_.deleted;
        }
        appliedConns_.erase(applied);
    }
    if (!want) {
        publishConnection(key, std::nullopt);
        return;
    }
    const bool ok = addConnection(key, *want, false);
    ++(ok ? dynamicStats_.added : dynamicStats_.refused);
    appliedConns_.emplace(key, AppliedAs<Ip::Nat::DynamicConnection>{*want, ok});
    publishConnection(key, ok, ok ? "" : refusal());
}

bool NatSm::addConnection(const Ip::Nat::DynamicConnectionKey& key,
                          const Ip::Nat::DynamicConnection& conn, bool update) {
    const auto& t = key.tuple;
    auto& helper = *in_.helper;
    const bool addrOnly = key.addrOnly() && !conn.fullCone;
    if (addrOnly && !update) {
        const auto holder = addrOnlyHolders_.find({t, key.target, conn.profile});
        if (holder != addrOnlyHolders_.end()) {
            refusal_ =
                "address-only translation held in VRF " + std::to_string(holder->second.vrfId);
            return false;
        }
    }
    refusal_.clear();
    bool ok;
    if (key.sourceTranslation()) {
        ok = helper.addDynamicSrcIpTranslation(t, t.src, t.dst, conn.translated, conn.profile,
                                               conn.fullCone, key.vrfId);
    } else {
        const NextHopArg nh(conn.nextHop);
        ok = update ? helper.updateDynamicDstIpTranslation(t, t.src, t.dst, conn.translated, nh.ptr,
                                                           conn.profile, conn.fullCone, key.vrfId)
                    : helper.addDynamicDstIpTranslation(t, t.src, t.dst, conn.translated, nh.ptr,
                                                        conn.profile, conn.fullCone, key.vrfId);
    }
    if (ok && addrOnly) {
        addrOnlyHolders_.emplace(std::tuple{t, key.target, conn.profile}, key);
    }
    return ok;
}

void NatSm::deleteConnection(const Ip::Nat::DynamicConnectionKey& key,
                             const Ip::Nat::DynamicConnection& conn) {
    const auto& t = key.tuple;
    if (key.addrOnly() && !conn.fullCone) {
        addrOnlyHolders_.erase({t, key.target, conn.profile});
    }
    if (key.sourceTranslation()) {
        in_.helper->deleteDynamicSrcIpTranslation(t, t.src, t.dst, conn.translated, conn.profile,
                                                  conn.fullCone, key.vrfId);
    } else {
        in_.helper->deleteDynamicDstIpTranslation(t, t.src, t.dst, conn.translated, conn.profile,
                                                  conn.fullCone, key.vrfId);
    }
}

void NatSm::publishConnection(const Ip::Nat::DynamicConnectionKey& key,
                              std::optional<bool> programmed, const std::string& reason) {
    if (programmed && !*programmed) {
        VTRACE(natSmTrace, 1, key.str() << " not programmed: " << reason);
    }
    auto& hw = *in_.dynamicConnectionHwStatus;
    publishHw(hw.dynamicConnectionHw, hw.reason, status_->dynamicProgrammed,
              status_->dynamicNotProgrammed, key, programmed, reason);
    const Ip::Nat::DynamicConnection* conn = nullptr;
    if (programmed && !*programmed) {
        conn = in_.dynamicConnectionStatus->connection.find(key);
    }
    if (conn) {
        status_->dynamicUnprogrammed.set(key, *conn);
    } else if (!status_->dynamicUnprogrammed.empty()) {
        status_->dynamicUnprogrammed.erase(key);
    }
    lastActiveIs(key, programmed);
}

void NatSm::syncTwice(const Ip::Nat::TwiceNatKey& key) {
    using Ip::Nat::NatHwResult;
    const Ip::Nat::TwiceNatTranslation* want = in_.natStatus->twiceNat.find(key);
    auto& hw = *in_.natHwStatus;
    const auto publish = [&](std::optional<bool> programmed, const std::string& reason) {
        if (programmed && !*programmed) {
            VTRACE(natSmTrace, 1, "twice NAT " << key.str() << " not programmed: " << reason);
        }
        publishHw(hw.twiceNat, hw.twiceNatReason, status_->twiceProgrammed,
                  status_->twiceNotProgrammed, key, programmed, reason);
        if (programmed && !*programmed && want) {
            status_->twiceUnprogrammed.set(key, *want);
        } else {
            status_->twiceUnprogrammed.erase(key);
        }
        lastActiveIs(key, programmed, want && want->dynamic);
    };
    const auto call = [&](const Ip::Nat::TwiceNatTranslation& t, bool update) {
        const NextHopArg nh(t.nextHop);
        auto& helper = *in_.helper;
        return update ? helper.updateTwiceNatTranslation(
                            key.srcOld, t.srcNew, key.dstOld, t.dstNew, key.protocol, key.profile,
                            nh.ptr, nullptr, t.forward, t.group, t.ingress, key.vrf, t.dynamic)
                      : helper.addTwiceNatTranslation(
                            key.srcOld, t.srcNew, key.dstOld, t.dstNew, key.protocol, key.profile,
                            nh.ptr, nullptr, t.forward, t.group, t.ingress, key.vrf, t.dynamic);
    };
    auto applied = appliedTwice_.find(key);
    if (applied != appliedTwice_.end()) {
        auto& a = applied->second;
        if (want && *want == a.value) {
            return;
        }
        auto sameButNextHop = a.value;
        if (want) {
            sameButNextHop.nextHop = want->nextHop;
        }
        if (want && a.programmed && sameButNextHop == *want) {
            a.value = *want;
            a.programmed = call(*want, true) == NatHwResult::success;
            if (!a.programmed) {
                // A refused update may leave the translation as it was: none of it stays, so
                // that the status says what the chip holds.
                deleteTwice(key, *want);
                twiceHolders_.erase(matchedAs(key, *want));
            }
            publish(a.programmed, a.programmed ? "" : in_.helper->refusal());
            return;
        }
        if (a.programmed) {
            deleteTwice(key, a.value);
            twiceHolders_.erase(matchedAs(key, a.value));
        }
        appliedTwice_.erase(applied);
    }
    if (!want) {
        publish(std::nullopt, {});
        return;
    }
    // Two published translations the chip sees as one would share its entries, and the first
    // withdrawn would take them from the other.
    const auto matched = matchedAs(key, *want);
    if (const auto holder = twiceHolders_.find(matched); holder != twiceHolders_.end()) {
        const auto& other = appliedTwice_.at(holder->second).value;
        if (sameTwiceTranslation(key, *want, holder->second, other)) {
            appliedTwice_[key] = {*want, false};
            publish(false, "the same translation as " + holder->second.str());
            return;
        }
    }
    // A duplicate or a failure wrote nothing of this translation: deleting it later would
    // take what the other translation wrote.
    const bool ok = call(*want, false) == NatHwResult::success;
    appliedTwice_[key] = {*want, ok};
    if (ok) {
        twiceHolders_.emplace(matched, key);
    }
    publish(ok, ok ? "" : in_.helper->refusal());
}

void NatSm::deleteTwice(const Ip::Nat::TwiceNatKey& key, const Ip::Nat::TwiceNatTranslation& t) {
    in_.helper->delTwiceNatTranslation(key.srcOld, t.srcNew, key.dstOld, t.dstNew, key.protocol,
                                       key.profile, t.forward, t.group, t.ingress, key.vrf,
                                       t.dynamic);
}

void NatSm::syncFlow(const Ip::Nat::NatFlowKey& key) {
    const Ip::Nat::NatFlowEntry* want = in_.natStatus->natFlow.find(key);
    auto applied = appliedFlows_.find(key);
    if (applied != appliedFlows_.end() && want && *want == applied->second.value) {
        return;
    }
    auto& hw = *in_.natHwStatus;
    std::optional<bool> programmed;
    std::string reason;
    if (want) {
        // The helper replaces the entries a flow has; a refused flow keeps none.
        programmed = in_.helper->addNatFlowEntry(key.policy, key.match, key.profile, want->flow,
                                                 want->groupUc, want->groupMc);
        if (!*programmed) {
            reason = in_.helper->refusal();
            VTRACE(natSmTrace, 1, "NAT flow " << key.str() << " not programmed: " << reason);
        }
        appliedFlows_[key] = {*want, *programmed};
    } else if (applied != appliedFlows_.end()) {
        if (applied->second.programmed) {
            const auto& e = applied->second.value;
            in_.helper->delNatFlowEntry(key.policy, key.match, key.profile, e.groupUc, e.groupMc);
        }
        appliedFlows_.erase(applied);
    }
    publishHw(hw.natFlow, hw.natFlowReason, status_->flowProgrammed, status_->flowNotProgrammed,
              key, programmed, reason);
}

} // namespace Oma
