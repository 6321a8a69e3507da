// The NAT state machine's CPU trap rules: every dynamic NAT rule of a NAT profile becomes the
// trap entries of its ACL's rules, so that the first packet of each new connection reaches the
// CPU. A rule's ACL is in hardware whole or not at all: a partial ACL would trap what a missing
// deny rule should have let through.

#include "host/OmaNatSm.h"

#include "host/OmaNatSmInternal.h"

#include <set>

namespace Oma {

namespace {

// The chip prefers the larger hardware priority, so the ACL's first rule gets the highest slot
// of its priority's block. The last slot belongs to a trap-all rule, which is therefore used only
// for an ACL whose one rule permits everything: in the same block it would outrank every other
// rule of the ACL.
constexpr uint32_t kTrapAllSlot = 1023;
constexpr uint32_t kMaxAclRules = kTrapAllSlot;

uint32_t slotOf(std::size_t index) {
    return kTrapAllSlot - 1 - uint32_t(index);
}

Ip::Nat::AclRule reversed(const Ip::Nat::AclRule& r) {
    Ip::Nat::AclRule b = r;
    std::swap(b.src, b.dst);
    std::swap(b.srcPortStart, b.dstPortStart);
    std::swap(b.srcPortEnd, b.dstPortEnd);
    return b;
}

} // namespace

void NatSm::syncTrapRulesNaming(const std::string& acl, const std::string& pool) {
    // The installed rules may lose their ACL or pool; the configured ones may gain it.
    std::set<DynamicRuleId> ids;
    for (const auto& [id, t] : appliedTraps_) {
        ids.insert(id);
    }
    for (const auto& [intf, status] : in_.natStatus->intfStatus) {
        if (!status) {
            continue;
        }
        for (const auto& [key, rule] : status->dynamicRule) {
            if ((!acl.empty() && key.acl == acl) || (!pool.empty() && rule.pool == pool)) {
                ids.insert({intf, key});
            }
        }
    }
    for (const auto& [intf, key] : ids) {
        syncTrapRule(intf, key);
    }
}

void NatSm::syncTrapRule(const std::string& intf, const Ip::Nat::DynamicKey& key) {
    const DynamicRuleId id{intf, key};
    const auto* status = in_.natStatus->intfStatus.find(intf);
    const Ip::Nat::DynamicNatRule* rule =
        status && *status ? (*status)->dynamicRule.find(key) : nullptr;
    const auto profile = profileOfIntf(intf);

    std::optional<AppliedTrap> want;
    std::string reason;
    if (rule) {
        const Ip::Nat::AclRules* acl = in_.natStatus->acl.find(key.acl);
        const uint32_t* poolId =
            rule->pool.empty() ? nullptr : in_.natStatus->pool.find(rule->pool);
        if (!profile) {
            reason = "interface is not a NAT profile";
        } else if (!acl || acl->empty()) {
            reason = "ACL " + key.acl + " has no rules";
        } else if (acl->size() > kMaxAclRules) {
            reason = "ACL " + key.acl + " has more rules than a priority has slots";
        } else if (!rule->pool.empty() && !poolId) {
            reason = "pool " + rule->pool + " is not configured";
        } else {
            AppliedTrap t;
            t.info.profileId = *profile;
            // Twice-NAT trap rules are never full cone nor address-only.
            t.info.fullCone = key.group == 0 && rule->fullCone;
            t.info.addrOnly = key.group == 0 && rule->addrOnly;
            t.info.prio = rule->priority;
            t.info.poolId = poolId ? *poolId : 0;
            t.info.target = rule->target;
            t.rules = *acl;
            t.vrfId = (*status)->vrfId();
            want = std::move(t);
        }
    }

    auto applied = appliedTraps_.find(id);
    if (applied != appliedTraps_.end()) {
        if (want && *want == applied->second) {
            return;
        }
        in_.helper->delTrapRule(applied->second.info.profileId, key, applied->second.vrfId);
        appliedTraps_.erase(applied);
    }
    if (want) {
        want->programmed = installTrapRule(key, *want);
        if (!want->programmed) {
            reason = in_.helper->refusal();
            in_.helper->delTrapRule(want->info.profileId, key, want->vrfId);
            VTRACE(natSmTrace, 1, intf << " " << key.str() << " trap rules not programmed");
        }
        const bool programmed = want->programmed;
        appliedTraps_.emplace(id, std::move(*want));
        publishTrapRule(id, programmed, reason);
    } else {
        publishTrapRule(id, rule ? std::optional<bool>(false) : std::nullopt, reason);
    }
    in_.helper->commitTrapRules();
}

bool NatSm::installTrapRule(const Ip::Nat::DynamicKey& key, const AppliedTrap& t) {
    if (t.rules.size() == 1 && t.rules.front().permitsAll()) {
        return in_.helper->addTrapAllRule(key, t.info);
    }
    auto add = [&](const Ip::Nat::AclRule& r, uint32_t slot, bool reverse) {
        if (!r.protocol && r.anyPort()) {
            return in_.helper->addTrapRule(key, t.info, slot, r.src, r.dst, r.deny, reverse);
        }
        return in_.helper->addProtocolTrapRule(key, t.info, slot, r.protocol, r.src, r.dst,
                                               r.srcPortStart, r.srcPortEnd, r.dstPortStart,
                                               r.dstPortEnd, r.deny, reverse);
    };
    for (std::size_t i = 0; i < t.rules.size(); ++i) {
        const Ip::Nat::AclRule& r = t.rules[i];
        if (!add(r, slotOf(i), false)) {
            return false;
        }
        // Full cone: packets from any peer to a translated address and port start connections
        // too, so the rule's reverse is trapped as well.
        if (t.info.fullCone && !r.deny && !add(reversed(r), slotOf(i), true)) {
            return false;
        }
    }
    return true;
}

void NatSm::publishTrapRule(const DynamicRuleId& id, std::optional<bool> programmed,
                            const std::string& reason) {
    const auto* existing = in_.natHwStatus->intfStatus.find(id.first);
    if (!programmed && !existing) {
        return;
    }
    // The helper lists a rule it refused until the rule's delete; the whole rule goes on a
    // refusal here, so the listing is kept from the rule's state instead.
    const TrapRuleId listed{id.first, id.second.acl, id.second.group};
    if (programmed && !*programmed) {
        status_->trapRuleUnprogrammed.set(listed, true);
    } else {
        status_->trapRuleUnprogrammed.erase(listed);
    }
    auto hw = hwIntf(id.first);
    publishHw(hw->dynamicRule, hw->dynamicRuleReason, status_->trapRuleProgrammed,
              status_->trapRuleNotProgrammed, id.second, programmed, reason);
    if (hw->staticConnection.empty() && hw->dynamicRule.empty()) {
        in_.natHwStatus->intfStatus.erase(id.first);
    }
}

} // namespace Oma
