#include "tools/scenario/HwStatusWatch.h"

#include "host/Format.h"
#include "tools/scenario/KeyedLines.h"
#include "tools/scenario/KeyedWatch.h"

#include <algorithm>
#include <vector>

namespace Scenario {

namespace {

using Lines::addrText;

template <class Coll, class Key> std::string reasonOf(const Coll& reasons, const Key& key) {
    const std::string* why = reasons.find(key);
    return why ? *why : std::string();
}

} // namespace

std::string hwStateText(bool programmed, const std::string& reason) {
    if (programmed) {
        return "programmed";
    }
    return reason.empty() ? "NOT programmed" : "NOT programmed (" + Host::printable(reason) + ")";
}

std::string StatusLines::str() {
    std::sort(shown.begin(), shown.end());
    std::sort(withdrawn.begin(), withdrawn.end());
    for (std::size_t i = most; i < shown.size(); ++i) {
        ++(shown[i].second ? moreProgrammed : moreNotProgrammed);
    }
    if (shown.size() > most) {
        shown.resize(most);
    }
    if (withdrawn.size() > most) {
        moreWithdrawn += withdrawn.size() - most;
        withdrawn.resize(most);
    }
    std::string out;
    for (const auto& [line, programmed] : shown) {
        out += line;
    }
    if (moreProgrammed + moreNotProgrammed) {
        out += "  (" + std::to_string(moreProgrammed + moreNotProgrammed) +
               " more: " + std::to_string(moreProgrammed) + " programmed, " +
               std::to_string(moreNotProgrammed) + " NOT programmed)\n";
    }
    for (const std::string& line : withdrawn) {
        out += line;
    }
    if (moreWithdrawn) {
        out += "  (" + std::to_string(moreWithdrawn) + " more withdrawn)\n";
    }
    return out;
}

class HwStatusWatch::StatusReactor : public Ert::Reactor<Ip::Nat::HwStatus> {
public:
    StatusReactor(HwStatusWatch& w, Ert::Ptr<Ip::Nat::HwStatus> hw) {
        onEntry(&Ip::Nat::HwStatus::intfStatus, [&w](const std::string& n) { w.intfChanged(n); });
        onEntry(&Ip::Nat::HwStatus::vrfStatus, [&w](const std::string& n) { w.vrfChanged(n); });
        follow(std::move(hw));
    }
};

class HwStatusWatch::IntfReactor : public Ert::Reactor<Ip::Nat::HwIntfStatus> {
public:
    IntfReactor(HwStatusWatch& w, std::string name, Ert::Ptr<Ip::Nat::HwIntfStatus> intf) {
        onEntry(&Ip::Nat::HwIntfStatus::staticConnection, [&w, name](const Ip::Nat::StaticKey& k) {
            w.mark({Kind::intf, name, k, {}});
        });
        onEntry(&Ip::Nat::HwIntfStatus::dynamicRule, [&w, name](const Ip::Nat::DynamicKey& k) {
            w.mark({Kind::trapRule, name, {}, {}, k});
        });
        follow(std::move(intf));
    }
};

class HwStatusWatch::VrfReactor : public Ert::Reactor<Ip::Nat::HwVrfStatus> {
public:
    VrfReactor(HwStatusWatch& w, std::string name, Ert::Ptr<Ip::Nat::HwVrfStatus> vrf) {
        onEntry(&Ip::Nat::HwVrfStatus::staticSrc, [&w, name](const Ip::IpAddr& a) {
            w.mark({Kind::vrfSrc, name, {}, a});
        });
        onEntry(&Ip::Nat::HwVrfStatus::staticDst, [&w, name](const Ip::IpAddr& a) {
            w.mark({Kind::vrfDst, name, {}, a});
        });
        onChange(&Ip::Nat::HwVrfStatus::policer, [&w, name] {
            w.mark({Kind::vrfPolicer, name, {}, {}});
        });
        follow(std::move(vrf));
    }
};

HwStatusWatch::HwStatusWatch(Ert::Ptr<Ip::Nat::HwStatus> hw, Ert::Ptr<Ip::Nat::Status> status,
                             Ert::Ptr<Ip::Nat::DynamicConnectionHwStatus> connectionsHw,
                             Ert::Ptr<Ip::Nat::DynamicConnectionStatus> connections)
    : hw_(std::move(hw)), status_(std::move(status)),
      reactor_(std::make_unique<StatusReactor>(*this, hw_)) {
    using namespace Ip::Nat;
    keyed_.push_back(
        std::make_unique<KeyedWatch<Status, HwStatus, TwiceNatKey, TwiceNatTranslation>>(
            status_, &Status::twiceNat, hw_, &HwStatus::twiceNat, &HwStatus::twiceNatReason,
            &Lines::twiceLine));
    keyed_.push_back(std::make_unique<KeyedWatch<Status, HwStatus, NatFlowKey, NatFlowEntry>>(
        status_, &Status::natFlow, hw_, &HwStatus::natFlow, &HwStatus::natFlowReason,
        &Lines::flowLine));
    if (connectionsHw && connections) {
        keyed_.push_back(
            std::make_unique<
                KeyedWatch<DynamicConnectionStatus, DynamicConnectionHwStatus, DynamicConnectionKey,
                           DynamicConnection, ConnectionCollection<DynamicConnection>,
                           ConnectionCollection<bool>, ConnectionCollection<std::string>>>(
                std::move(connections), &DynamicConnectionStatus::connection,
                std::move(connectionsHw), &DynamicConnectionHwStatus::dynamicConnectionHw,
                &DynamicConnectionHwStatus::reason, &Lines::connectionLine));
    }
    for (const auto& [name, intf] : hw_->intfStatus) {
        intfChanged(name);
    }
    for (const auto& [name, vrf] : hw_->vrfStatus) {
        vrfChanged(name);
    }
}

HwStatusWatch::~HwStatusWatch() = default;

void HwStatusWatch::touched(const std::string& intf, const Ip::Nat::StaticKey& key) {
    mark({Kind::intf, intf, key, {}});
}

void HwStatusWatch::ownerChanged(const std::string& owner, bool vrf) {
    for (auto it = known_.lower_bound({Kind::intf, owner, {}, {}});
         it != known_.end() && it->first.owner == owner; ++it) {
        const bool ofIntf = it->first.kind == Kind::intf || it->first.kind == Kind::trapRule;
        if (ofIntf != vrf) {
            dirty_.insert(it->first);
        }
    }
}

void HwStatusWatch::intfChanged(const std::string& name) {
    ownerChanged(name, false);
    const Ert::Ptr<Ip::Nat::HwIntfStatus>* intf = hw_->intfStatus.find(name);
    if (!intf || !*intf) {
        intfs_.erase(name);
        return;
    }
    auto& reactor = intfs_[name];
    if (!reactor || reactor->entity() != intf->get()) {
        reactor = std::make_unique<IntfReactor>(*this, name, *intf);
    }
    for (const auto& [key, programmed] : (*intf)->staticConnection) {
        mark({Kind::intf, name, key, {}});
    }
    for (const auto& [key, programmed] : (*intf)->dynamicRule) {
        mark({Kind::trapRule, name, {}, {}, key});
    }
}

void HwStatusWatch::vrfChanged(const std::string& name) {
    ownerChanged(name, true);
    const Ert::Ptr<Ip::Nat::HwVrfStatus>* vrf = hw_->vrfStatus.find(name);
    if (!vrf || !*vrf) {
        vrfs_.erase(name);
        return;
    }
    auto& reactor = vrfs_[name];
    if (!reactor || reactor->entity() != vrf->get()) {
        reactor = std::make_unique<VrfReactor>(*this, name, *vrf);
    }
    for (const auto& [addr, programmed] : (*vrf)->staticSrc) {
        mark({Kind::vrfSrc, name, {}, addr});
    }
    for (const auto& [addr, programmed] : (*vrf)->staticDst) {
        mark({Kind::vrfDst, name, {}, addr});
    }
    mark({Kind::vrfPolicer, name, {}, {}});
}

std::optional<HwStatusWatch::State> HwStatusWatch::trapRuleNow(const Ref& ref) const {
    const auto* hwIntf = hw_->intfStatus.find(ref.owner);
    const bool* programmed = hwIntf ? (*hwIntf)->dynamicRule.find(ref.rule) : nullptr;
    if (!programmed) {
        return std::nullopt;
    }
    const auto* intf = status_->intfStatus.find(ref.owner);
    const Ip::Nat::DynamicNatRule* rule = intf ? (*intf)->dynamicRule.find(ref.rule) : nullptr;
    std::string line = ref.owner + "  trap rules of acl " + ref.rule.acl;
    line += ref.rule.group ? " group " + std::to_string(ref.rule.group) : "";
    if (rule) {
        line += rule->target == Ip::Nat::kSourceTranslation ? " (snat" : " (dnat";
        line += rule->pool.empty() ? ", overload" : ", pool " + rule->pool;
        line += rule->fullCone ? ", full cone" : "";
        line += rule->addrOnly ? ", address only" : "";
        line += ", priority " + std::to_string(rule->priority) + ")";
    }
    return State{Host::printable(line), *programmed,
                 reasonOf((*hwIntf)->dynamicRuleReason, ref.rule)};
}

std::optional<HwStatusWatch::State> HwStatusWatch::now(const Ref& ref) const {
    if (ref.kind == Kind::trapRule) {
        return trapRuleNow(ref);
    }
    if (ref.kind == Kind::intf) {
        const auto* hwIntf = hw_->intfStatus.find(ref.owner);
        const bool* programmed = hwIntf ? (*hwIntf)->staticConnection.find(ref.key) : nullptr;
        if (!programmed) {
            return std::nullopt;
        }
        const auto* intf = status_->intfStatus.find(ref.owner);
        const Ip::Nat::NatStaticConnection* conn =
            intf ? (*intf)->staticConnection.find(ref.key) : nullptr;
        std::string line = ref.owner + "  ";
        if (conn) {
            line += conn->sourceTranslation() ? "source " : "destination ";
            line += addrText(ref.key.local) + " <-> " + addrText(conn->global);
            line += ref.key.aclName.empty() ? "" : " acl " + ref.key.aclName;
            line += ref.key.egressTarget() ? " (egress tables)" : "";
            line += conn->sourceTranslation() == conn->ingress ? " (reverse)" : "";
        } else {
            line += ref.key.str();
        }
        return State{Host::printable(line), *programmed, reasonOf((*hwIntf)->reason, ref.key)};
    }
    const auto* hwVrf = hw_->vrfStatus.find(ref.owner);
    if (!hwVrf) {
        return std::nullopt;
    }
    const std::string vrf = "vrf " + ref.owner + "  ";
    if (ref.kind == Kind::vrfPolicer) {
        const std::optional<bool>& policer = (*hwVrf)->policer();
        return policer ? std::optional<State>({Host::printable(vrf + "policer"), *policer,
                                               (*hwVrf)->policerReason()})
                       : std::nullopt;
    }
    const bool src = ref.kind == Kind::vrfSrc;
    const bool* programmed =
        src ? (*hwVrf)->staticSrc.find(ref.addr) : (*hwVrf)->staticDst.find(ref.addr);
    if (!programmed) {
        return std::nullopt;
    }
    return State{Host::printable(vrf + (src ? "source " : "destination ") + ref.addr.toString()),
                 *programmed,
                 reasonOf(src ? (*hwVrf)->staticSrcReason : (*hwVrf)->staticDstReason, ref.addr)};
}

bool HwStatusWatch::changed() const {
    return !dirty_.empty() ||
           std::any_of(keyed_.begin(), keyed_.end(), [](const auto& k) { return k->changed(); });
}

std::string HwStatusWatch::takeChanges(std::size_t most) {
    StatusLines lines(most);
    const std::size_t sizeBefore = known_.size();
    for (const Ref& ref : dirty_) {
        const std::optional<State> is = now(ref);
        auto was = known_.find(ref);
        if (was != known_.end() && (!is || was->second.line != is->line)) {
            lines.withdrawn.push_back("  " + was->second.line + ": withdrawn\n");
        }
        if (is && (was == known_.end() || was->second.line != is->line ||
                   was->second.programmed != is->programmed || was->second.reason != is->reason)) {
            lines.shown.emplace_back("  " + is->line + ": " +
                                         hwStateText(is->programmed, is->reason) + "\n",
                                     is->programmed);
        }
        if (was != known_.end()) {
            programmed_ -= was->second.programmed;
            if (!is) {
                known_.erase(was);
            }
        }
        if (is) {
            programmed_ += is->programmed;
            seen_.insert(is->line);
            if (is->programmed) {
                everProgrammed_.insert(is->line);
            }
            known_.insert_or_assign(ref, *is);
        }
    }
    dirty_.clear();
    std::size_t held = known_.size();
    std::size_t programmed = programmed_;
    std::size_t heldBefore = sizeBefore;
    for (const auto& k : keyed_) {
        heldBefore += k->held();
        k->take(lines);
        held += k->held();
        programmed += k->programmed();
    }
    if (lines.shown.empty() && lines.withdrawn.empty() && held == heldBefore) {
        return {};
    }
    return "hardware status (" + std::to_string(programmed) + " programmed, " +
           std::to_string(held - programmed) + " not):\n" + lines.str();
}

std::size_t HwStatusWatch::everProgrammed() const {
    std::size_t n = everProgrammed_.size();
    for (const auto& k : keyed_) {
        n += k->everProgrammed();
    }
    return n;
}

std::size_t HwStatusWatch::neverProgrammed() const {
    std::size_t n = std::count_if(seen_.begin(), seen_.end(), [this](const std::string& l) {
        return !everProgrammed_.count(l);
    });
    for (const auto& k : keyed_) {
        n += k->neverProgrammed();
    }
    return n;
}

} // namespace Scenario
