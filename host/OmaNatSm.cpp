#include "host/OmaNatSm.h"

#include "host/OmaNatSmInternal.h"

#include "host/Trace.h"

#include <charconv>
#include <set>

namespace Oma {

Trace::Handle natSmTrace("OmaNatSm");

namespace {

constexpr const char* kProfileIntfPrefix = "NatProfile";
constexpr uint32_t kNoNextHop = ~uint32_t(0);

// Rules without peer prefixes apply to every peer.
std::vector<Ip::IpAddrWithFullMask> filtersOf(const Ip::Nat::NatStaticConnection& conn) {
    if (conn.filterAddrs.empty()) {
        return {Ip::IpAddrWithFullMask{}};
    }
    return conn.filterAddrs;
}

// Source translation configured on ingress, or destination translation on egress: the
// translation belongs to the egress pipeline.
bool reverseOf(const Ip::Nat::NatStaticConnection& conn) {
    return conn.sourceTranslation() ? conn.ingress : !conn.ingress;
}

Ip::Nat::NatStaticConnection withFilters(Ip::Nat::NatStaticConnection conn) {
    conn.filterAddrs = filtersOf(conn);
    return conn;
}

} // namespace

struct NatSm::Applied {
    Ip::Nat::NatStaticConnection conn;
    Ip::VrfId vrfId = 0;
    uint16_t profileId = 0;
    uint32_t nextHop = kNoNextHop;
    bool helperCalled = false;
    bool programmed = false;
    // The filters whose add the helper accepted: a refused add leaves nothing to delete, and
    // deleting it anyway would take the entries of the translation that refused it.
    std::vector<Ip::IpAddrWithFullMask> added;
};

class NatSm::StatusReactor : public Ert::Reactor<Ip::Nat::Status> {
public:
    StatusReactor(NatSm& sm, Ert::Ptr<Ip::Nat::Status> status) : sm_(sm) {
        onEntry(&Ip::Nat::Status::intfStatus, [this](const std::string& i) { sm_.syncIntf(i); });
        onEntry(&Ip::Nat::Status::vrfStatus, [this](const std::string& v) { sm_.syncVrf(v); });
        onEntry(&Ip::Nat::Status::vlanNatProfile, [this](const uint16_t& v) { sm_.syncVlan(v); });
        onEntry(&Ip::Nat::Status::twiceNat,
                [this](const Ip::Nat::TwiceNatKey& k) { sm_.syncTwice(k); });
        onEntry(&Ip::Nat::Status::natFlow,
                [this](const Ip::Nat::NatFlowKey& k) { sm_.syncFlow(k); });
        onEntry(&Ip::Nat::Status::acl,
                [this](const std::string& acl) { sm_.syncTrapRulesNaming(acl, {}); });
        onEntry(&Ip::Nat::Status::pool,
                [this](const std::string& pool) { sm_.syncTrapRulesNaming({}, pool); });
        follow(std::move(status));
    }

private:
    NatSm& sm_;
};

class NatSm::IntfReactor : public Ert::Reactor<Ip::Nat::IntfStatus> {
public:
    IntfReactor(NatSm& sm, std::string intf, Ert::Ptr<Ip::Nat::IntfStatus> status)
        : sm_(sm), intf_(std::move(intf)) {
        onEntry(&Ip::Nat::IntfStatus::staticConnection,
                [this](const Ip::Nat::StaticKey& k) { sm_.syncStatic(intf_, k); });
        onEntry(&Ip::Nat::IntfStatus::dynamicRule,
                [this](const Ip::Nat::DynamicKey& k) { sm_.syncTrapRule(intf_, k); });
        onChange(&Ip::Nat::IntfStatus::vrfId, [this] { sm_.syncIntf(intf_); });
        follow(std::move(status));
    }

private:
    NatSm& sm_;
    std::string intf_;
};

class NatSm::NextHopReactor : public Ert::Reactor<NextHopMapStatus> {
public:
    NextHopReactor(NatSm& sm, Ert::Ptr<NextHopMapStatus> status) : sm_(sm) {
        onEntry(&NextHopMapStatus::nextHop, [this](const Ip::IpAddr& a) { sm_.nextHopChanged(a); });
        follow(std::move(status));
    }

private:
    NatSm& sm_;
};

class NatSm::OwnStatusReactor : public Ert::Reactor<NatSmStatus> {
public:
    OwnStatusReactor(NatSm& sm, Ert::Ptr<NatSmStatus> status) : sm_(sm) {
        onEntry(&NatSmStatus::egressAddrRetried,
                [this](const EgressAddrId& id) { sm_.egressAddrRetried(id); });
        follow(std::move(status));
    }

private:
    NatSm& sm_;
};

NatSm::NatSm(NatSmInputs inputs)
    : in_(std::move(inputs)), status_(Ert::make<NatSmStatus>("natSmStatus")) {}

NatSm::~NatSm() = default;

std::string NatSm::profileIntf(uint32_t profile) {
    return kProfileIntfPrefix + std::to_string(profile);
}

std::optional<uint16_t> NatSm::profileOfIntf(const std::string& intf) {
    const std::string_view prefix = kProfileIntfPrefix;
    if (intf.size() <= prefix.size() || intf.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    uint32_t id = 0;
    const char* begin = intf.data() + prefix.size();
    auto [end, ec] = std::from_chars(begin, intf.data() + intf.size(), id);
    if (ec != std::errc() || end != intf.data() + intf.size() || id > 0xFFFF) {
        return std::nullopt;
    }
    return uint16_t(id);
}

void NatSm::initializedIs(bool v) {
    if (v == initialized_ || !v || !in_.natStatus || !in_.helper) {
        initialized_ = initialized_ || v;
        return;
    }
    initialized_ = true;
    statusReactor_ = std::make_unique<StatusReactor>(*this, in_.natStatus);
    if (in_.nhMapStatus) {
        nextHopReactor_ = std::make_unique<NextHopReactor>(*this, in_.nhMapStatus);
    }
    ownStatusReactor_ = std::make_unique<OwnStatusReactor>(*this, status_);
    for (const auto& [vlan, binding] : in_.natStatus->vlanNatProfile) {
        syncVlan(vlan);
    }
    for (const auto& [intf, status] : in_.natStatus->intfStatus) {
        syncIntf(intf);
    }
    for (const auto& [vrf, status] : in_.natStatus->vrfStatus) {
        syncVrf(vrf);
    }
    followDynamic();
    in_.helper->commitHwTranslations();
    scheduleActivityPoll();
}

uint32_t NatSm::nextHopOf(Ip::IpAddr addr) const {
    const uint32_t* word = in_.nhMapStatus ? in_.nhMapStatus->nextHop.find(addr) : nullptr;
    return word ? *word : kNoNextHop;
}

void NatSm::syncIntf(const std::string& intf) {
    const auto* status = in_.natStatus->intfStatus.find(intf);
    auto reactor = intfReactors_.find(intf);
    if (!status || !*status) {
        intfReactors_.erase(intf);
    } else if (reactor == intfReactors_.end() || reactor->second->entity() != status->get()) {
        intfReactors_[intf] = std::make_unique<IntfReactor>(*this, intf, *status);
    }
    std::set<Ip::Nat::StaticKey> keys;
    for (auto it = applied_.lower_bound({intf, {}}); it != applied_.end() && it->first.intf == intf;
         ++it) {
        keys.insert(it->first.key);
    }
    if (status && *status) {
        for (const auto& [key, conn] : (*status)->staticConnection) {
            keys.insert(key);
        }
    }
    for (const auto& key : keys) {
        syncStatic(intf, key);
    }
    // Rules reported not programmed hold nothing applied, only their status.
    std::set<Ip::Nat::DynamicKey> rules;
    if (const auto* hw = in_.natHwStatus->intfStatus.find(intf); hw && *hw) {
        for (const auto& [key, programmed] : (*hw)->dynamicRule) {
            rules.insert(key);
        }
    }
    for (auto it = appliedTraps_.lower_bound({intf, {}});
         it != appliedTraps_.end() && it->first.first == intf; ++it) {
        rules.insert(it->first.second);
    }
    if (status && *status) {
        for (const auto& [key, rule] : (*status)->dynamicRule) {
            rules.insert(key);
        }
    }
    for (const auto& key : rules) {
        syncTrapRule(intf, key);
    }
}

void NatSm::syncStatic(const std::string& intf, const Ip::Nat::StaticKey& key) {
    const auto* status = in_.natStatus->intfStatus.find(intf);
    const Ip::Nat::NatStaticConnection* conn =
        status && *status ? (*status)->staticConnection.find(key) : nullptr;
    const Ip::VrfId vrfId = status && *status ? (*status)->vrfId() : 0;
    const StaticTranslationId id{intf, key};
    auto applied = applied_.find(id);
    if (applied != applied_.end()) {
        Applied& a = applied->second;
        if (conn && *conn == a.conn && vrfId == a.vrfId) {
            const uint32_t nh = nextHopOf(key.local.ip);
            if (conn->sourceTranslation() || nh == a.nextHop) {
                return;
            }
            if (a.programmed && nh != kNoNextHop) {
                // Only the next hop moved: rewrite in place.
                VyrNat::NatNextHopInfo info(nh);
                bool ok = true;
                for (const auto& f : filtersOf(a.conn)) {
                    ok &= in_.helper->updateStaticDstIpTranslation(
                        a.conn.global, key.local, f, a.conn.protocol, a.profileId, key, &info,
                        nullptr, reverseOf(a.conn), vrfId);
                }
                a.nextHop = nh;
                a.programmed = ok;
                publish(id, ok, ok ? std::string() : in_.helper->refusal());
                return;
            }
        }
        unprogramStatic(id);
    }
    if (conn) {
        programStatic(intf, key, *conn, vrfId, nextHopOf(key.local.ip));
    }
}

bool NatSm::programStatic(const std::string& intf, const Ip::Nat::StaticKey& key,
                          const Ip::Nat::NatStaticConnection& conn, Ip::VrfId vrfId,
                          uint32_t nextHop) {
    const StaticTranslationId id{intf, key};
    Applied a{conn, vrfId, 0, nextHop, false, false, {}};
    const auto profile = profileOfIntf(intf);
    const bool reverse = reverseOf(conn);
    std::string reason;
    if (!profile) {
        reason = "interface is not a NAT profile";
    } else if (reverse && !key.egressTarget() &&
               !(in_.natHwCapabilities && in_.natHwCapabilities->reverseStaticNatSupported())) {
        reason = "reverse static NAT not supported on this chip";
    } else {
        a.profileId = *profile;
        a.helperCalled = true;
        a.programmed = true;
        for (const auto& f : filtersOf(conn)) {
            const VyrNat::NatNextHopInfo info(nextHop);
            const bool ok =
                conn.sourceTranslation()
                    ? in_.helper->addStaticSrcIpTranslation(
                          key.local, conn.global, f, conn.protocol, *profile, key, reverse, vrfId)
                    : in_.helper->addStaticDstIpTranslation(
                          conn.global, key.local, f, conn.protocol, *profile, key,
                          nextHop == kNoNextHop ? nullptr : &info, nullptr, reverse, vrfId);
            a.programmed &= ok;
            if (ok) {
                a.added.push_back(f);
            } else if (reason.empty()) {
                reason = in_.helper->refusal();
            }
        }
    }
    if (!a.programmed) {
        VTRACE(natSmTrace, 1, intf << " " << key.str() << " not programmed: " << reason);
    }
    if (!a.programmed && !key.egressTarget() && !a.added.empty()) {
        // A translation is in hardware whole or not at all: what some of its filters wrote
        // goes, so that nothing translates behind a status of not programmed. (The egress
        // static manager keeps a refused entry and writes it later instead.)
        Ip::Nat::NatStaticConnection written = conn;
        written.filterAddrs = a.added;
        in_.helper->deleteStaticIpTranslations(intf, written, a.profileId, key, vrfId);
        a.added.clear();
    }
    const bool ok = a.programmed;
    applied_[id] = std::move(a);
    publish(id, ok, reason);
    return ok;
}

void NatSm::unprogramStatic(const StaticTranslationId& id) {
    auto it = applied_.find(id);
    if (it == applied_.end()) {
        return;
    }
    const Applied a = it->second;
    applied_.erase(it);
    // The egress static manager keeps a refused address entry to retry it: it is deleted too.
    Ip::Nat::NatStaticConnection conn = withFilters(a.conn);
    if (!id.key.egressTarget()) {
        conn.filterAddrs = a.added;
    }
    if (a.helperCalled && !conn.filterAddrs.empty()) {
        in_.helper->deleteStaticIpTranslations(id.intf, conn, a.profileId, id.key, a.vrfId);
    }
    publish(id, std::nullopt);
}

void NatSm::nextHopChanged(Ip::IpAddr addr) {
    std::vector<StaticTranslationId> affected;
    for (const auto& [id, a] : applied_) {
        if (!a.conn.sourceTranslation() && id.key.local.ip == addr) {
            affected.push_back(id);
        }
    }
    for (const auto& id : affected) {
        syncStatic(id.intf, id.key);
    }
}

void NatSm::egressAddrRetried(const EgressAddrId& id) {
    if (!status_->egressAddrRetried.find(id)) {
        return;
    }
    status_->egressAddrRetried.erase(id);
    // The address-only translations of that entry are in hardware now.
    for (auto& [sid, a] : applied_) {
        const Ip::IpAddr old = a.conn.sourceTranslation() ? sid.key.local.ip : a.conn.global.ip;
        if (sid.key.egressTarget() && a.helperCalled && !a.programmed &&
            a.conn.sourceTranslation() == !id.dnat && a.profileId == id.profile &&
            sid.key.local.port == 0 && old == id.addr) {
            a.programmed = true;
            publish(sid, true);
        }
    }
}

void NatSm::syncVlan(uint16_t vlan) {
    const auto* desired = in_.natStatus->vlanNatProfile.find(vlan);
    auto applied = appliedVlans_.find(vlan);
    if (desired && applied != appliedVlans_.end() && applied->second == *desired) {
        return;
    }
    if (!desired) {
        if (applied != appliedVlans_.end()) {
            in_.helper->clearNatProfile(vlan);
            appliedVlans_.erase(applied);
        }
    } else if (in_.helper->setNatProfile(vlan, desired->profile, desired->vrfName)) {
        appliedVlans_[vlan] = *desired;
    } else {
        // Half a binding is none: what was written goes, and a later binding starts afresh.
        VTRACE(natSmTrace, 1, "vlan " << vlan << " profile not programmed");
        in_.helper->clearNatProfile(vlan);
        appliedVlans_.erase(vlan);
    }
}

Ert::Ptr<Ip::Nat::HwIntfStatus> NatSm::hwIntf(const std::string& intf) {
    if (const auto* e = in_.natHwStatus->intfStatus.find(intf)) {
        return *e;
    }
    auto e = Ert::make<Ip::Nat::HwIntfStatus>(intf);
    in_.natHwStatus->intfStatus.set(intf, e);
    return e;
}

void NatSm::publish(const StaticTranslationId& id, std::optional<bool> programmed,
                    const std::string& reason) {
    auto hw = hwIntf(id.intf);
    // Keep the counts by difference: recounting every translation would make each change cost
    // as much as all of them.
    int yes = int(status_->staticProgrammed());
    int no = int(status_->staticNotProgrammed());
    if (const auto* before = status_->staticTranslation.find(id)) {
        (before->programmed ? yes : no) -= 1;
    }
    if (programmed && !*programmed && !reason.empty()) {
        hw->reason.set(id.key, reason);
    } else {
        hw->reason.erase(id.key);
    }
    if (programmed) {
        hw->staticConnection.set(id.key, *programmed);
        StaticTranslationState state{*programmed};
        if (auto a = applied_.find(id); a != applied_.end()) {
            state.egressPipe = id.key.egressTarget() || reverseOf(a->second.conn);
            state.dnat = !a->second.conn.sourceTranslation();
        }
        status_->staticTranslation.set(id, state);
        (*programmed ? yes : no) += 1;
    } else {
        hw->staticConnection.erase(id.key);
        status_->staticTranslation.erase(id);
        if (hw->staticConnection.empty() && hw->dynamicRule.empty()) {
            in_.natHwStatus->intfStatus.erase(id.intf);
        }
    }
    status_->staticProgrammed.set(uint32_t(yes));
    status_->staticNotProgrammed.set(uint32_t(no));
}

} // namespace Oma
