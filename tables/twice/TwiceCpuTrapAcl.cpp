// Twice-NAT CPU trap rules in two stages: the ACL-id entries of each rule, shared by the
// (group, profile) pairs that use its ACL, and one trap entry per (ACL, group, profile).

#include "tables/twice/TwiceCpuTrapAcl.h"

#include "common/TableWrite.h"
#include "host/Assert.h"
#include "host/Format.h"
#include "host/Trace.h"
#include "tables/twice/VyrNatTableMgrTwice.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace VyrNat {

namespace {

// The trap tables' NAT profile fields hold 12 bits.
constexpr uint32_t kProfileMask = 0xfff;

const char* pyBool(bool b) {
    return b ? "True" : "False";
}

// One side of the rule, the destination or the source, with the protocol, in a spec of either
// stage; the other side stays unmatched.
template <class Spec> void sideIs(Spec& ms, const TwiceNatAclRule& rule, bool destination) {
    if (destination) {
        ms.l4PortHdrDstPortIs(rule.dport, rule.dportMask);
        ms.outerIpv4HdrDipIs(rule.dst.addr.value, rule.dst.mask);
    } else {
        ms.l4PortHdrSrcPortIs(rule.sport, rule.sportMask);
        ms.outerIpv4HdrSipIs(rule.src.addr.value, rule.src.mask);
    }
    ms.outerIpv4HdrProtocolIs(rule.protocol, rule.protocol ? 0xff : 0);
}

} // namespace

std::string HwTwiceNatAclIdKey::str() const {
    return Host::format("Value('VyrNat::HwTwiceNatAclIdKey', ** {'group': %u, 'profile': %u})",
                        group, profile);
}

std::string HwTwiceNatCpuTrapAclKey::str() const {
    return Host::format(
        "Value('VyrNat::HwTwiceNatCpuTrapAclKey', ** {'acl': %s, 'group': %u, 'profile': %u})", acl,
        group, profile);
}

std::string TwiceNatAclRule::str() const {
    return Host::format("Value('VyrNat::TwiceNatAclRule', ** {'ingress': %s, 'protocol': %u, "
                        "'src': %s, 'dst': %s, 'sport': %u, 'sportMask': %u, 'dport': %u, "
                        "'dportMask': %u})",
                        pyBool(ingress), protocol, src.toString(), dst.toString(), sport, sportMask,
                        dport, dportMask);
}

bool HwTwiceNatAclId::holds(const VyrP4::TwiceNatAclIdMatchSpec& ms) const {
    return std::any_of(entry.begin(), entry.end(), [&](const auto& e) { return e.second == ms; });
}

// --- The entries of a rule ---

VyrP4::TwiceNatAclIdMatchSpec VyrNatTableMgrTwice::aclIdMatchSpec(const TwiceNatAclRule& rule,
                                                                  int32_t priority) {
    VyrP4::TwiceNatAclIdMatchSpec ms;
    sideIs(ms, rule, rule.ingress);
    ms.priorityIs(priority);
    return ms;
}

VyrP4::TwiceNatAclIdTable::Action VyrNatTableMgrTwice::aclIdActionSpec(uint16_t aclId, bool deny) {
    if (deny) {
        return VyrP4::OnMissActionSpec();
    }
    VyrP4::SetTwiceNatAclIdActionSpec action;
    action.twiceNatAclIdIs(aclId);
    return action;
}

VyrP4::TwiceNatCpuTrapAclMatchSpec
VyrNatTableMgrTwice::cpuTrapAclMatchSpec(const TwiceNatAclRule& rule, uint16_t profile,
                                         uint16_t aclId) {
    VyrP4::TwiceNatCpuTrapAclMatchSpec ms;
    if (rule.ingress) {
        ms.ingMdIngNatProfileIdIs(0, 0);
        ms.ingMdEgrNatProfileIdIs(profile, kProfileMask);
    } else {
        ms.ingMdIngNatProfileIdIs(profile, kProfileMask);
        ms.ingMdEgrNatProfileIdIs(0, 0);
    }
    ms.twiceMdAclIdIs(aclId & 0xff);
    sideIs(ms, rule, !rule.ingress);
    ms.priorityIs(0);
    return ms;
}

VyrP4::SetNatCpuTrapActionSpec
VyrNatTableMgrTwice::cpuTrapActionSpec(const VyrP4::TwiceNatCpuTrapAclMatchSpec& ms) const {
    VyrP4::SetNatCpuTrapActionSpec action;
    if (natDpdk_) {
        action.trapDirEgrIs(ms.ingMdEgrNatProfileIdMask() != 0);
        action.trapDirIngIs(ms.ingMdIngNatProfileIdMask() != 0);
    }
    return action;
}

// --- ACL ids ---

uint16_t VyrNatTableMgrTwice::getTwiceNatAclId(
    const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo, uint8_t protocol,
    Ip::IpAddrWithFullMask src, Ip::IpAddrWithFullMask dst, uint16_t sport, uint16_t sportMask,
    uint16_t dport, uint16_t dportMask, int32_t priority, bool deny, bool reverse) {
    VYR_ASSERT(aclIdTable());
    const bool ingress = trapInfo.ingress() != reverse;
    VTRACE(twiceTrace, 5,
           "getTwiceNatAclId acl " << key.acl << " group " << key.group << " profile "
                                   << trapInfo.profileId << " priority " << priority << " deny "
                                   << deny << " NatIngress: " << ingress);
    const TwiceNatAclRule rule{ingress, protocol, src, dst, sport, sportMask, dport, dportMask};
    const HwTwiceNatAclIdKey user{key.group, uint16_t(trapInfo.profileId)};
    auto it = natAclId_.find(key.acl);
    const bool newAcl = it == natAclId_.end();
    if (!newAcl && it->second.entry.count(rule)) {
        it->second.groupIs(user);
        VTRACE(twiceTrace, 5, "Entry already programmed, aclId " << it->second.aclId);
        return it->second.aclId;
    }
    const uint16_t aclId = newAcl ? uint16_t(aclIds_.allocate()) : it->second.aclId;
    if (aclId == 0) {
        VTRACE(twiceTrace, 1, "Twice NAT AclId table full");
        refusalIs("Twice NAT AclId table full");
        return 0;
    }
    const auto ms = aclIdMatchSpec(rule, priority);
    const auto action = aclIdActionSpec(aclId, deny);
    WriteRefusal refused;
    if (const auto present = aclId_->entry(ms)) {
        // Another rule of this ACL with the same match on this side shares the entry. Any other
        // entry under the same match is another ACL's: replacing its action would classify that
        // ACL's packets into this id, and deleting it later would leave that ACL without it.
        if (newAcl || present->action() != action || !it->second.holds(ms)) {
            refused = WriteRefusal(VyrP4::ChipError::entryExists, "twiceNatAclId");
        }
    } else {
        refused = tableWriteRefused([&] { aclId_->entryAdd(ms, action); });
    }
    if (refused) {
        VTRACE(twiceTrace, 1, refused.text());
        refusalIs(refused);
        if (newAcl) {
            aclIds_.clear(aclId);
        }
        return 0;
    }
    HwTwiceNatAclId& rec = newAcl ? natAclId_[key.acl] : it->second;
    rec.name = key.acl;
    rec.aclId = aclId;
    rec.entryIs(rule, ms);
    rec.groupIs(user);
    VTRACE(twiceTrace, 5, "AclId used: " << aclId);
    return aclId;
}

void VyrNatTableMgrTwice::delTwiceNatAclId(const HwTwiceNatCpuTrapAclKey& key) {
    auto it = natAclId_.find(key.acl);
    if (it == natAclId_.end()) {
        VTRACE(twiceTrace, 1, "No twice nat aclId entries");
        return;
    }
    HwTwiceNatAclId& rec = it->second;
    rec.groupDel({key.group, key.profile});
    if (!rec.group.empty()) {
        VTRACE(twiceTrace, 5, "There are still " << rec.group.size() << " groups using the acl");
        return;
    }
    // Rules sharing an entry delete it twice; the second finds nothing.
    for (const auto& [rule, ms] : rec.entry) {
        aclId_->entryDel(ms);
    }
    aclIds_.clear(rec.aclId);
    VTRACE(twiceTrace, 5, "Released aclId " << rec.aclId << " of acl " << key.acl);
    natAclId_.erase(it);
}

// --- Trap entries ---

bool VyrNatTableMgrTwice::createNatCpuTrapAcl(
    const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo, uint8_t protocol,
    Ip::IpAddrWithFullMask src, Ip::IpAddrWithFullMask dst, uint16_t sport, uint16_t sportMask,
    uint16_t dport, uint16_t dportMask, int32_t priority, bool deny, bool reverse) {
    VYR_ASSERT(cpuTrapAclTable());
    // A wider profile id would trap another profile's packets.
    if (trapInfo.profileId > kProfileMask) {
        VTRACE(twiceTrace, 1, "Profile " << trapInfo.profileId << " beyond 12 bits");
        refusalIs("NAT profile beyond the trap table's 12-bit profile fields");
        return false;
    }
    const TwiceNatAclRule rule{
        trapInfo.ingress() != reverse, protocol, src, dst, sport, sportMask, dport, dportMask};
    auto acl = natAclId_.find(key.acl);
    const bool ruleKnown = acl != natAclId_.end() && acl->second.entry.count(rule);
    const uint16_t aclId = getTwiceNatAclId(key, trapInfo, protocol, src, dst, sport, sportMask,
                                            dport, dportMask, priority, deny, reverse);
    if (aclId == 0) {
        VTRACE(twiceTrace, 1, "Invalid aclId, error");
        return false;
    }
    const HwTwiceNatCpuTrapAclKey trapKey{key.acl, key.group, uint16_t(trapInfo.profileId)};
    if (auto entry = cpuTrapAcls_.find(trapKey); entry != cpuTrapAcls_.end()) {
        VYR_ASSERT(entry->second.aclId == aclId);
        VTRACE(twiceTrace, 5, "Entry already programmed in hw, skip it");
        return true;
    }
    const auto ms = cpuTrapAclMatchSpec(rule, trapKey.profile, aclId);
    // Another group of the ACL on this profile may have written the same entry already.
    if (!cpuTrapAcl_->entry(ms)) {
        if (WriteRefusal refused =
                tableWriteRefused([&] { cpuTrapAcl_->entryAdd(ms, cpuTrapActionSpec(ms)); })) {
            VTRACE(twiceTrace, 1, refused.text());
            refusalIs(refused);
            delTwiceNatAclId(trapKey);
            // The ACL lives on for its other groups: the rule's entry this call wrote goes too,
            // so that a refused rule leaves nothing behind.
            if (acl = natAclId_.find(key.acl); !ruleKnown && acl != natAclId_.end()) {
                HwTwiceNatAclId& rec = acl->second;
                const auto aclIdMs = rec.entry.at(rule);
                rec.entryDel(rule);
                if (!rec.holds(aclIdMs)) {
                    aclId_->entryDel(aclIdMs);
                }
            }
            return false;
        }
    }
    cpuTrapAcls_[trapKey] = {trapKey, aclId, ms};
    VTRACE(twiceTrace, 5, "Twice nat cpu trap acl entry created, aclId " << aclId);
    return true;
}

void VyrNatTableMgrTwice::deleteNatCpuTrapAcl(const HwTwiceNatCpuTrapAclKey& key) {
    auto it = cpuTrapAcls_.find(key);
    if (it == cpuTrapAcls_.end()) {
        VTRACE(twiceTrace, 1, "No twice nat acl entries");
        return;
    }
    const HwTwiceNatCpuTrapAcl& entry = it->second;
    VYR_ASSERT(entry.aclId);
    const auto ms = entry.matchSpec;
    cpuTrapAcls_.erase(it);
    // The entry stays while another group of the ACL on this profile holds it.
    if (std::none_of(cpuTrapAcls_.begin(), cpuTrapAcls_.end(),
                     [&](const auto& other) { return other.second.matchSpec == ms; })) {
        cpuTrapAcl_->entryDel(ms);
    }
    delTwiceNatAclId(key);
}

// --- Priority changes ---

bool VyrNatTableMgrTwice::moveAclIdEntry(const std::string& acl,
                                         const VyrP4::TwiceNatAclIdMatchSpec& old,
                                         const VyrP4::TwiceNatAclIdMatchSpec& moved) {
    if (moved == old) {
        return true;
    }
    const auto entryOld = aclId_->entry(old);
    VYR_ASSERT(entryOld);
    // An entry already under the new match is another rule's: replacing it would lose it.
    WriteRefusal refused =
        aclId_->entry(moved)
            ? WriteRefusal(VyrP4::ChipError::entryExists, "twiceNatAclId")
            : tableWriteRefused([&] { aclId_->entryAdd(moved, entryOld->action()); });
    if (refused) {
        VTRACE(twiceTrace, 1,
               "Acl: " << acl << " kept prio " << old.priority() << ": " << refused.text());
        return false;
    }
    aclId_->entryDel(old);
    return true;
}

void VyrNatTableMgrTwice::natCpuTrapAclRedistribute(uint32_t slotsPerBlock) {
    for (const auto& [acl, block] : cpuTrapAclToUpdate_) {
        auto it = natAclId_.find(acl);
        if (it == natAclId_.end()) {
            VTRACE(twiceTrace, 5, "No twice nat aclId entries for acl " << acl);
            continue;
        }
        // Rules of the ACL that share an entry move it once.
        std::map<VyrP4::TwiceNatAclIdMatchSpec, std::optional<VyrP4::TwiceNatAclIdMatchSpec>> moved;
        for (auto& [rule, ms] : it->second.entry) {
            auto done = moved.find(ms);
            if (done == moved.end()) {
                // The rule keeps its slot in the block.
                const uint32_t seq = uint32_t(ms.priority()) % slotsPerBlock;
                const uint64_t prio = uint64_t(block) * slotsPerBlock + seq;
                auto next = ms;
                next.priorityIs(int32_t(prio));
                VTRACE(twiceTrace, 5,
                       "Acl: " << acl << " old prio: " << ms.priority() << " new prio: " << prio
                               << ", seq: " << seq);
                const bool fits = prio <= uint64_t(std::numeric_limits<int32_t>::max());
                done = moved
                           .emplace(ms, fits && moveAclIdEntry(acl, ms, next) ? std::optional(next)
                                                                              : std::nullopt)
                           .first;
            }
            if (done->second) {
                ms = *done->second;
            }
        }
    }
    cpuTrapAclToUpdate_.clear();
}

} // namespace VyrNat
